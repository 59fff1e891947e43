// The demo add-on installer: records its parameters and installs nothing.
// When MIVO_COMPANION_LOG_DIR names a folder it also records which file it
// was started from: its path in "MivoToolsSetup.program.log" and a copy of
// its bytes as "MivoToolsSetup.program.exe" there (so that a test can tell
// the installer's own copy from a program put in its place).
#include <windows.h>

#include "demo/companions/companion_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  AppendToLog(GetCommandLineW());
  wchar_t folder[8];
  if (GetEnvironmentVariableW(L"MIVO_COMPANION_LOG_DIR", folder, 8) == 0) return 0;
  const std::wstring log = LogPath();
  const std::wstring stem = log.substr(0, log.size() - 4);  // without ".log"
  wchar_t self[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  AppendToLog(std::wstring(self, length), stem + L".program.log");
  CopyFileW(self, (stem + L".program.exe").c_str(), FALSE);
  return 0;
}
