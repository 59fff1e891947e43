// System facts, resources and error codes on the Win32 API.
#include <windows.h>

#include <psapi.h>
#include <shlobj.h>

#include <vector>

#include "platform/errors.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "platform/win32/win32_util.h"

namespace platform {

uint32_t LastError() {
  return ::GetLastError();
}
void SetLastErrorCode(uint32_t code) {
  ::SetLastError(code);
}
String SystemErrorText(uint32_t code) {
  return win32::SystemErrorText(code);
}

String ModuleFileName() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return String(reinterpret_cast<const char16_t*>(buffer.data()), n);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

String TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return {};
  return IncludeTrailingBackslash(win32::S(buffer));
}

bool SpecialFolder(int csidl, String& path) {
  if (csidl == kFolderDownloads) {
    // FOLDERID_Downloads, {374DE290-123F-4565-9164-39C4925E467B}
    static const GUID kDownloads = {
        0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
    PWSTR known = nullptr;
    const HRESULT result = SHGetKnownFolderPath(kDownloads, KF_FLAG_DONT_VERIFY, nullptr, &known);
    if (SUCCEEDED(result) && known) path = win32::S(known);
    CoTaskMemFree(known);
    if (FAILED(result)) ::SetLastError(ERROR_FILE_NOT_FOUND);
    return SUCCEEDED(result) && !path.empty();
  }
  wchar_t buffer[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) {
    if (::GetLastError() == 0) ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  path = win32::S(buffer);
  return !path.empty();
}

uint16_t UserDefaultUILanguage() {
  return GetUserDefaultUILanguage();
}

bool IsAdmin() {
  return IsUserAnAdmin() != FALSE;
}

bool HasInteractiveDesktop() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
    return true;  // nothing known: as on an ordinary desktop
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

TWindowsVersion WindowsVersion() {
  // GetVersionEx answers what the manifest allows; RtlGetVersion tells the truth.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    auto fn = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (fn && fn(&info) == 0) return {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
  }
  return {};
}

bool PeakMemory(uint64_t& workingSet, uint64_t& committed) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return false;
  workingSet = counters.PeakWorkingSetSize;
  committed = counters.PeakPagefileUsage;
  return true;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool EnvironmentVariable(const String& name, String& value) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    SetLastError(0);
    const DWORD n =
        GetEnvironmentVariableW(win32::W(name), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (::GetLastError() != 0) return false;
      value.clear();
      return true;
    }
    if (n < buffer.size()) {
      value = String(reinterpret_cast<const char16_t*>(buffer.data()), n);
      return true;
    }
    buffer.resize(n + 1);
  }
}

String ExpandEnvironment(const String& text) {
  std::vector<wchar_t> buffer(text.size() + 256);
  for (;;) {
    const DWORD n =
        ExpandEnvironmentStringsW(win32::W(text), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return text;
    if (n <= buffer.size()) return win32::S(buffer.data());
    if (n > 65536) return text;
    buffer.resize(n);
  }
}

uint32_t SetThreadErrorModeTo(uint32_t mode) {
  DWORD old = 0;
  if (!SetThreadErrorMode(mode, &old)) return SetErrorMode(mode);
  return old;
}

bool FindDataResource(const String& name, TResourceBytes& bytes) {
  HRSRC info = FindResourceW(nullptr, win32::W(name), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!info) return false;
  HGLOBAL handle = LoadResource(nullptr, info);
  if (!handle) return false;
  bytes.data = static_cast<const uint8_t*>(LockResource(handle));
  bytes.size = SizeofResource(nullptr, info);
  return bytes.data != nullptr || bytes.size == 0;
}

}  // namespace platform
