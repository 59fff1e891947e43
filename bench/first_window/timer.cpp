// Times programs from their start to their first painted window, inside one
// running Wine (or Windows), so that only the program's own start is timed.
//
//   first_window_timer ROUNDS COMMAND [COMMAND...]
//
// Each round starts every command once, in the order given. A program's
// first window counts as painted when a visible top-level window of the
// program answers a sent message: a window is painted (UpdateWindow) before
// its message loop runs. A language dialog ("MivoLanguageDialog") is
// answered with OK at once, and the timing goes on to the wizard's first page
// (a "TWizardForm" window with a visible page); the peer's window is of class
// "MivoFirstWindowPeer". The program is then ended; a message box (a failed
// start) ends the timing with an error.
// One line per start: "<round> <command index> <ms to the first window>
// <ms to the wizard page or to the first window>"; exit code 1 when a
// program ended or timed out before it showed a window.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct TSearch {
  DWORD process;
  HWND dialog = nullptr;  // the language dialog
  HWND wizard = nullptr;  // the wizard with its first page shown
  HWND peer = nullptr;    // the peer's window
  HWND box = nullptr;     // a message box
};

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

BOOL CALLBACK Look(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<TSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != s->process || !IsWindowVisible(window)) return TRUE;
  const std::wstring cls = ClassOf(window);
  if (cls == L"MivoLanguageDialog") {
    s->dialog = window;
  } else if (cls == L"TWizardForm") {
    HWND page = nullptr;
    while ((page = FindWindowExW(window, page, L"TSetupPage", nullptr)))
      if (IsWindowVisible(page)) s->wizard = window;
  } else if (cls == L"MivoFirstWindowPeer") {
    s->peer = window;
  } else if (cls == L"#32770") {
    s->box = window;
  }
  return TRUE;
}

bool Answers(HWND window) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
}

double Ms(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// Starts the command and times it; false when it showed no window in time.
bool TimeOne(std::wstring command, double& first, double& page) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return false;
  first = page = -1;
  bool answered = false;
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (page < 0 && GetTickCount64() < deadline) {
    if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) break;
    TSearch search{info.dwProcessId};
    EnumWindows(Look, reinterpret_cast<LPARAM>(&search));
    if (search.box) break;
    HWND shown = search.wizard ? search.wizard : search.peer ? search.peer : search.dialog;
    if (!shown || !Answers(shown)) continue;
    QueryPerformanceCounter(&now);
    if (first < 0) first = Ms(start, now, frequency);
    if (shown != search.dialog) {
      page = Ms(start, now, frequency);
    } else if (search.dialog && !answered) {
      PostMessageW(search.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      answered = true;
    }
  }
  TerminateProcess(info.hProcess, 0);
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return page >= 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: first_window_timer ROUNDS COMMAND [COMMAND...]\n");
    return 2;
  }
  const int rounds = _wtoi(argv[1]);
  for (int round = 0; round < rounds; ++round) {
    for (int i = 2; i < argc; ++i) {
      double first = 0, page = 0;
      if (!TimeOne(argv[i], first, page)) {
        std::fprintf(stderr, "no window from: %ls\n", argv[i]);
        return 1;
      }
      std::printf("%d %d %.1f %.1f\n", round, i - 2, first, page);
      std::fflush(stdout);
    }
  }
  return 0;
}
