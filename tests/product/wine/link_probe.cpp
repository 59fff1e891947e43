// Reads shell links through the shell's own link object, the way Explorer
// resolves a shortcut, and prints what each points to.
//
// usage: link_probe.exe LINK...
// LINK is a path, or "desktop:" or "programs:" followed by a path below the
// all-users desktop or start-menu programs folder. Prints one line per link:
// "<full path>|<target>", the target being "<none>" when there is no file
// and "<unreadable>" when it is no shell link. Exit code 0.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

namespace {

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return L"?";
  return std::wstring(path) + L"\\";
}

std::wstring Resolve(const std::wstring& arg) {
  if (arg.rfind(L"desktop:", 0) == 0) return Folder(CSIDL_COMMON_DESKTOPDIRECTORY) + arg.substr(8);
  if (arg.rfind(L"programs:", 0) == 0) return Folder(CSIDL_COMMON_PROGRAMS) + arg.substr(9);
  return arg;
}

std::wstring Target(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return L"<none>";
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return L"<no shell link object>";
  std::wstring result = L"<unreadable>";
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t target[MAX_PATH * 2] = {};
    if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
        SUCCEEDED(link->GetPath(target, MAX_PATH * 2, nullptr, SLGP_RAWPATH)))
      result = target;
    file->Release();
  }
  link->Release();
  return result;
}

void Print(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  std::printf("%s\n", utf8.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (int i = 1; i < argc; ++i) {
    const std::wstring path = Resolve(argv[i]);
    Print(path + L"|" + Target(path));
  }
  CoUninitialize();
  return 0;
}
