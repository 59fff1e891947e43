// Kernel objects, threads and window messages on the Win32 API.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <set>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/win32/handle_object.h"
#include "platform/win32/win32_util.h"

static_assert(sizeof(platform::TCopyData) == sizeof(COPYDATASTRUCT),
              "TCopyData mirrors COPYDATASTRUCT");
static_assert(offsetof(platform::TCopyData, cbData) == offsetof(COPYDATASTRUCT, cbData), "layout");
static_assert(offsetof(platform::TCopyData, lpData) == offsetof(COPYDATASTRUCT, lpData), "layout");

namespace platform {
namespace {

DWORD g_main_thread = 0;
// The handler of the window being created on this thread, until WM_NCCREATE takes it.
thread_local TMessageHandler* t_pending_handler = nullptr;

WaitResult FromWait(DWORD rc) {
  switch (rc) {
    case WAIT_OBJECT_0:
      return WaitResult::Signalled;
    case WAIT_TIMEOUT:
      return WaitResult::TimedOut;
    case WAIT_ABANDONED:
      return WaitResult::Abandoned;
    default:
      return WaitResult::Failed;
  }
}

DWORD WINAPI ThreadStart(void* param) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(param));
  (*body)();
  return 0;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    if (cs->lpCreateParams == t_pending_handler) t_pending_handler = nullptr;
  }
  auto* handler = reinterpret_cast<TMessageHandler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    delete handler;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  if (!handler) return DefWindowProcW(hwnd, msg, wParam, lParam);
  // No exception crosses into the system: a handler that raises has not
  // handled the message.
  try {
    return (*handler)(reinterpret_cast<WindowHandle>(hwnd), msg, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

bool RegisterClassOnce(const String& className) {
  static std::mutex mutex;
  static std::set<String> registered;
  std::lock_guard lock(mutex);
  if (registered.count(className)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = win32::W(className);
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  registered.insert(className);
  return true;
}

HWND H(WindowHandle w) {
  return reinterpret_cast<HWND>(w);
}

}  // namespace

// ---- kernel objects ----

WaitResult Wait(const TWaitHandle& handle, uint32_t timeoutMs) {
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::Failed;
  }
  return FromWait(WaitForSingleObject(NativeHandle(handle), timeoutMs));
}

TWaitHandle NewEvent(bool manualReset, bool initiallySignalled) {
  HANDLE h = CreateEventW(nullptr, manualReset, initiallySignalled, nullptr);
  if (!h) return {};
  return TWaitHandle(std::make_shared<THandleObject>(h));
}

bool SignalEvent(const TWaitHandle& event) {
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::SetEvent(NativeHandle(event)) != 0;
}

bool ResetEvent(const TWaitHandle& event) {
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ::ResetEvent(NativeHandle(event)) != 0;
}

TWaitHandle StartThread(std::function<void()> body) {
  auto* param = new std::function<void()>(std::move(body));
  HANDLE h = CreateThread(nullptr, 0, ThreadStart, param, 0, nullptr);
  if (!h) {
    delete param;
    return {};
  }
  return TWaitHandle(std::make_shared<THandleObject>(h));
}

uint32_t TickCount() {
  return GetTickCount();
}

// ---- windows and messages ----

intptr_t DefaultHandler(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return DefWindowProcW(H(window), msg, wParam, lParam);
}

WindowHandle CreateMessageWindow(const String& className, TMessageHandler handler) {
  if (className.empty() || !handler) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!RegisterClassOnce(className)) return 0;
  auto* param = new TMessageHandler(std::move(handler));
  t_pending_handler = param;
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, win32::W(className), L"", WS_POPUP, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), param);
  if (!hwnd) {
    // Once WM_NCCREATE has taken the handler, WM_NCDESTROY frees it.
    if (t_pending_handler == param) delete param;
    t_pending_handler = nullptr;
    return 0;
  }
  t_pending_handler = nullptr;
  return reinterpret_cast<WindowHandle>(hwnd);
}

bool DestroyMessageWindow(WindowHandle window) {
  return DestroyWindow(H(window)) != 0;
}

intptr_t Send(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return SendMessageW(H(window), msg, wParam, lParam);
}

bool SendWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                     uint32_t timeoutMs, intptr_t* result) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(H(window), msg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                           timeoutMs, &answer)) {
    // A hung window fails at once; report it as not answering in time.
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_TIMEOUT);
    return false;
  }
  if (result) *result = static_cast<intptr_t>(answer);
  return true;
}

bool ReplyToSentMessage(intptr_t result) {
  return ReplyMessage(result) != 0;
}

bool Post(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return PostMessageW(H(window), msg, wParam, lParam) != 0;
}

uint32_t RegisterMessage(const String& name) {
  return RegisterWindowMessageW(win32::W(name));
}

intptr_t SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwData, const void* data,
                      uint32_t size) {
  COPYDATASTRUCT cds{};
  cds.dwData = dwData;
  cds.cbData = data ? size : 0;
  cds.lpData = const_cast<void*>(data);
  return SendMessageW(H(window), WM_COPYDATA, from, reinterpret_cast<LPARAM>(&cds));
}

WindowHandle FindWindowByClass(const String& className) {
  HWND hwnd = FindWindowW(win32::W(className), nullptr);
  if (!hwnd) hwnd = FindWindowExW(HWND_MESSAGE, nullptr, win32::W(className), nullptr);
  return reinterpret_cast<WindowHandle>(hwnd);
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD pid = 0;
  if (!GetWindowThreadProcessId(H(window), &pid)) return 0;
  return pid;
}

bool ProcessImagePath(uint32_t processId, String& path) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return false;
  wchar_t buffer[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  const BOOL ok = QueryFullProcessImageNameW(process, 0, buffer, &size);
  const DWORD error = GetLastError();
  CloseHandle(process);
  if (!ok) {
    SetLastError(error);
    return false;
  }
  path = String(reinterpret_cast<const char16_t*>(buffer), size);
  return true;
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

bool IsMainThread() {
  return GetCurrentThreadId() == g_main_thread;
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    const BOOL rc = GetMessageW(&msg, nullptr, 0, 0);
    if (rc == 0) return static_cast<int>(msg.wParam);
    if (rc == -1) return -1;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void QuitMessageLoop(int exitCode) {
  PostQuitMessage(exitCode);
}

bool ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void ProcessSentMessages() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

MsgWaitEvent MsgWait(const TWaitHandle& handle, const TWaitHandle* second, uint32_t timeoutMs) {
  if (!handle || (second && !*second)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return MsgWaitEvent::Failed;
  }
  HANDLE handles[2] = {NativeHandle(handle), second ? NativeHandle(*second) : nullptr};
  const DWORD count = second ? 2 : 1;
  const DWORD rc = MsgWaitForMultipleObjects(count, handles, FALSE, timeoutMs, QS_SENDMESSAGE);
  if (rc == WAIT_OBJECT_0) return MsgWaitEvent::Handle;
  if (second && rc == WAIT_OBJECT_0 + 1) return MsgWaitEvent::Second;
  if (rc == WAIT_OBJECT_0 + count) return MsgWaitEvent::SentMessage;
  if (rc >= WAIT_ABANDONED_0 && rc < WAIT_ABANDONED_0 + count) return MsgWaitEvent::Abandoned;
  if (rc == WAIT_TIMEOUT) return MsgWaitEvent::TimedOut;
  return MsgWaitEvent::Failed;
}

}  // namespace platform

namespace win32 {
void MarkMainThread() {
  platform::g_main_thread = GetCurrentThreadId();
}
}  // namespace win32
