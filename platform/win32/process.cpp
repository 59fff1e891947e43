// Processes, the shell and libraries on the Win32 API.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/com.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/win32/handle_object.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

const wchar_t* OrNull(const String& s) {
  return s.empty() ? nullptr : win32::W(s);
}

// A shell link object: in-process, or from a local server.
bool NewShellLink(IShellLinkW** link) {
  return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr,
                                    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link)));
}

// A drive-absolute path with the "\\?\" prefix, so that loading is not
// limited to MAX_PATH; other paths as given.
String PrefixedPath(const String& path) {
  if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') return u"\\\\?\\" + path;
  return path;
}

template <typename T>
class TComPtr {
 public:
  ~TComPtr() {
    if (p) p->Release();
  }
  T* p = nullptr;
};

}  // namespace

bool StartProcess(const String& commandLine, int show, TProcessInfo& info) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION pi{};
  String mutableLine = commandLine;  // CreateProcessW may write into it
  if (!CreateProcessW(nullptr, win32::W(mutableLine), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  info.process = TWaitHandle(std::make_shared<THandleObject>(pi.hProcess));
  info.processId = pi.dwProcessId;
  return true;
}

TWaitHandle OpenProcessById(uint32_t processId) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!h) return {};
  return TWaitHandle(std::make_shared<THandleObject>(h));
}

uint32_t WaitForProcessIdle(const TWaitHandle& process, uint32_t timeoutMs) {
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WaitForInputIdle(NativeHandle(process), timeoutMs);
}

bool ProcessExitCode(const TWaitHandle& process, uint32_t& exitCode) {
  DWORD code = 0;
  if (!process || !GetExitCodeProcess(NativeHandle(process), &code)) return false;
  exitCode = code;
  return true;
}

bool ShellExecuteWith(const TShellExecuteParams& params, TWaitHandle* process) {
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = params.mask;
  sei.lpVerb = OrNull(params.verb);
  sei.lpFile = win32::W(params.file);
  sei.lpParameters = OrNull(params.parameters);
  sei.lpDirectory = OrNull(params.directory);
  sei.nShow = params.show;
  if (!ShellExecuteExW(&sei)) {
    if (GetLastError() == 0) SetLastError(ERROR_CANCELLED);
    return false;
  }
  if (process) {
    process->Reset();
    if (sei.hProcess) *process = TWaitHandle(std::make_shared<THandleObject>(sei.hProcess));
  } else if (sei.hProcess) {
    CloseHandle(sei.hProcess);
  }
  return true;
}

intptr_t ShellExecuteSimple(const String& verb, const String& file, const String& parameters,
                            const String& directory, int show) {
  return reinterpret_cast<intptr_t>(ShellExecuteW(nullptr, OrNull(verb), win32::W(file),
                                                  OrNull(parameters), OrNull(directory), show));
}

void NotifyAssociationsChanged() {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSH, nullptr, nullptr);
}

bool CreateShellLink(const String& linkPath, const TShellLink& link) {
  TComScope com;
  TComPtr<IShellLinkW> shellLink;
  if (!NewShellLink(&shellLink.p)) return false;
  // Only what is given is set: a link to a program alone carries nothing else.
  shellLink.p->SetPath(win32::W(link.target));
  if (!link.arguments.empty()) shellLink.p->SetArguments(win32::W(link.arguments));
  if (!link.workingDirectory.empty())
    shellLink.p->SetWorkingDirectory(win32::W(link.workingDirectory));
  if (!link.description.empty()) shellLink.p->SetDescription(win32::W(link.description));
  if (!link.iconPath.empty()) shellLink.p->SetIconLocation(win32::W(link.iconPath), link.iconIndex);
  TComPtr<IPersistFile> file;
  if (FAILED(shellLink.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))))
    return false;
  const HRESULT hr = file.p->Save(win32::W(win32::LongPath(linkPath)), TRUE);
  if (FAILED(hr)) {
    SetLastError(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

bool ReadShellLink(const String& linkPath, TShellLink& link) {
  TComScope com;
  TComPtr<IShellLinkW> shellLink;
  if (!NewShellLink(&shellLink.p)) return false;
  TComPtr<IPersistFile> file;
  if (FAILED(shellLink.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))))
    return false;
  if (FAILED(file.p->Load(win32::W(PrefixedPath(linkPath)), STGM_READ))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  wchar_t buffer[MAX_PATH * 2];
  link = TShellLink();
  if (SUCCEEDED(shellLink.p->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH)))
    link.target = win32::S(buffer);
  if (SUCCEEDED(shellLink.p->GetArguments(buffer, MAX_PATH * 2))) link.arguments = win32::S(buffer);
  if (SUCCEEDED(shellLink.p->GetWorkingDirectory(buffer, MAX_PATH * 2)))
    link.workingDirectory = win32::S(buffer);
  if (SUCCEEDED(shellLink.p->GetDescription(buffer, MAX_PATH * 2)))
    link.description = win32::S(buffer);
  int icon = 0;
  if (SUCCEEDED(shellLink.p->GetIconLocation(buffer, MAX_PATH * 2, &icon))) {
    link.iconPath = win32::S(buffer);
    link.iconIndex = icon;
  }
  return true;
}

bool RestrictLibrarySearchToSystem() {
  using Fn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                         GetProcAddress(kernel, "SetDefaultDllDirectories")))
                   : nullptr;
  if (!fn) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return fn(0x00000800) != 0;  // LOAD_LIBRARY_SEARCH_SYSTEM32
}

struct TLibrary::Impl {
  HMODULE module = nullptr;
};

TLibrary::TLibrary() = default;
TLibrary::~TLibrary() {
  Free();
}

bool TLibrary::Load(const String& path) {
  Free();
  // The process restricts the DLL search to the system folder; a DLL loaded
  // by full path must still find its own dependencies beside it.
  HMODULE module = nullptr;
  if (path.find(u'\\') != String::npos)
    module = LoadLibraryExW(win32::W(path), nullptr,
                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (!module) module = LoadLibraryW(win32::W(path));
  if (!module) return false;
  impl_ = std::make_unique<Impl>();
  impl_->module = module;
  return true;
}

bool TLibrary::Loaded() const {
  return impl_ != nullptr;
}

void TLibrary::Free() {
  if (impl_) FreeLibrary(impl_->module);
  impl_.reset();
}

bool TLibrary::CallExport(const char* name) {
  if (!impl_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  using Fn = HRESULT(WINAPI*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(impl_->module, name)));
  if (!fn) return false;
  fn();
  return true;
}

}  // namespace platform
