// The demo player: one main window of class "TMivoMainForm", which the
// installer finds (to locate the installation) and closes with WM_CLOSE;
// closing, it adds "WM_CLOSE, Mivo.ini present" (or "missing") to its log.
//
//   Mivo.exe [/REFUSECLOSE] [/HIDDEN] [files...]
//   /REFUSECLOSE  ignore WM_CLOSE: the window stays until the process is ended
//   /HIDDEN       create the window without showing it
#include <windows.h>

#include "demo/companions/companion_log.h"

namespace {

bool refuseClose = false;

LRESULT CALLBACK MainFormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE: {
      if (refuseClose) return 0;
      // Whether the player's configuration was still there when it closed:
      // an installer closes the player before touching its files.
      const bool configured =
          GetFileAttributesW((ProgramFolder() + L"Mivo.ini").c_str()) != INVALID_FILE_ATTRIBUTES;
      AppendToLog(std::wstring(L"WM_CLOSE, Mivo.ini ") + (configured ? L"present" : L"missing"));
      DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      HBRUSH accent = CreateSolidBrush(RGB(0xAC, 0x67, 0x1C));
      FillRect(dc, &client, accent);
      DeleteObject(accent);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
      DrawTextW(dc, L"Mivo 5.50", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::wstring commandLine = GetCommandLineW();
  AppendToLog(commandLine);
  refuseClose = HasSwitch(commandLine, L"/REFUSECLOSE");

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MainFormProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = L"TMivoMainForm";
  if (!RegisterClassExW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, L"TMivoMainForm", L"Mivo", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 200, nullptr, nullptr, instance, nullptr);
  if (!window) return 2;
  if (!HasSwitch(commandLine, L"/HIDDEN")) ShowWindow(window, show);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
