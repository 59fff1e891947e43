// Stand-ins for the product's own programs record every command line they
// receive: one UTF-8 line appended to "<program name>.log" beside the program,
// or, when the environment variable MIVO_COMPANION_LOG_DIR names a folder, in
// that folder instead (so that a test can read it after the program's own
// folder is gone, and the installation holds only what was installed).
#pragma once

#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <string>

inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// The log of this program: "<program name>.log" in the folder above.
inline std::wstring LogPath() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring log(path, length);
  const size_t dot = log.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > log.find_last_of(L'\\')) log.resize(dot);
  log += L".log";
  wchar_t folder[MAX_PATH * 4];
  const DWORD n = GetEnvironmentVariableW(L"MIVO_COMPANION_LOG_DIR", folder, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return log;
  std::wstring dir(folder, n);
  if (dir.back() != L'\\') dir += L'\\';
  return dir + log.substr(log.find_last_of(L'\\') + 1);
}

// One line appended to the log (default: this program's, LogPath()).
inline void AppendToLog(const std::wstring& line, const std::wstring& logPath = {}) {
  const std::wstring log = logPath.empty() ? LogPath() : logPath;
  const std::wstring text = line + L"\r\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  // Several copies may run at once: each line goes in with one appending write.
  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

// True when the command line holds the switch as a whole word (any case).
inline bool HasSwitch(const std::wstring& commandLine, const wchar_t* name) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(commandLine.c_str(), &count);
  bool found = false;
  for (int i = 1; args && i < count && !found; ++i)
    found = CompareStringOrdinal(args[i], -1, name, -1, TRUE) == CSTR_EQUAL;
  LocalFree(args);
  return found;
}
