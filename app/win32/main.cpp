// The installer's entry point on Windows.
#include <windows.h>

#include <commctrl.h>

#include "app/startup.h"
#include "lib/command_line.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "ui/win32/language_dialog_win32.h"
#include "ui/win32/wizard_win32.h"

namespace {

std::wstring W(const String& text) {
  return std::wstring(text.begin(), text.end());
}

// The main window: the first visible top-level window of the calling (main)
// thread that no other window owns; null when there is none.
HWND MainWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Installers run from download folders: no library may come from there.
  platform::RestrictLibrarySearchToSystem();
  platform::Initialize();
  InstallWin32LanguageDialog();

  TSetupStartupHooks hooks;
  hooks.ShowError = [](const String& message) {
    MessageBoxW(nullptr, W(message).c_str(), L"Setup", MB_ICONERROR);
  };
  hooks.ShowMessageBox = [](const String& text, const String& caption, uint32_t flags) {
    return MessageBoxW(MainWindow(), W(text).c_str(), W(caption).c_str(), flags);
  };
  hooks.ShowHelp = [](const String& text, bool box) {
    // Output redirected to a file or a pipe: UTF-8 there. Started from a
    // console (cmd, PowerShell): the text goes to that console.
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_CHAR &&
        GetFileType(out) != FILE_TYPE_UNKNOWN) {
      const std::string bytes = Utf16ToUtf8(text);
      WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
      HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
      if (console != INVALID_HANDLE_VALUE) {
        const std::wstring wide = L"\r\n" + W(text);
        WriteConsoleW(console, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
        CloseHandle(console);
      }
      FreeConsole();
    }
    if (box) MessageBoxW(nullptr, W(text).c_str(), L"Setup", MB_ICONINFORMATION);
  };
  hooks.InitializeToolkit = [] {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
  };
  hooks.RunWizard = [](TSetup& setup) { RunWin32Wizard(setup); };
  return RunSetupStartup(TVelCommandLineProcessor::GetCommandLineArguments(), hooks);
}
