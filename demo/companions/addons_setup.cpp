// The demo add-on installer: records its parameters and installs nothing.
#include <windows.h>

#include "demo/companions/companion_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  AppendToLog(GetCommandLineW());
  return 0;
}
