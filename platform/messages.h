// Window messages between threads (and, on Windows, processes): message-only
// windows, synchronous sending, posting, registered messages, WM_COPYDATA, the
// main thread's message loop and waits that keep delivering sent messages.
//
// A window belongs to the thread that created it; its handler runs on that
// thread only. Send() from another thread blocks until the owner thread
// delivers the message, which it does while it pumps (RunMessageLoop,
// ProcessMessages), while it waits in MsgWait/WaitWithMessages, and while it
// itself is blocked in Send().
#pragma once

#include <cstdint>
#include <functional>

#include "lib/strings.h"
#include "platform/handles.h"

namespace platform {

// A window handle's value (HWND); 0 = none.
using WindowHandle = uintptr_t;

constexpr uint32_t kWmNull = 0x0000;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmCopyData = 0x004A;
constexpr uint32_t kWmUser = 0x0400;
constexpr uint32_t kWmApp = 0x8000;

// The layout of COPYDATASTRUCT: lParam of a WM_COPYDATA points to one.
struct TCopyData {
  uintptr_t dwData;
  uint32_t cbData;
  void* lpData;
};

using TMessageHandler =
    std::function<intptr_t(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

// The default processing of a message (DefWindowProcW); handlers call it for
// what they do not handle.
intptr_t DefaultHandler(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Creates a message-only window (invisible, never enumerated) of that class
// on the calling thread. 0 with LastError() set on failure.
WindowHandle CreateMessageWindow(const String& className, TMessageHandler handler);
bool DestroyMessageWindow(WindowHandle window);

// SendMessageW. 0 when the window does not exist (LastError() 1400).
intptr_t Send(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// SendMessageTimeoutW with SMTO_ABORTIFHUNG: like Send, but gives up when the
// window's thread has not answered within timeoutMs (or hangs): false with
// LastError() kErrorTimeout then (the message may still be handled later),
// false with 1400 when the window does not exist.
bool SendWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                     uint32_t timeoutMs, intptr_t* result = nullptr);
// ReplyMessage: answers the message that another thread sent and that the
// calling thread is handling now, so that the sender goes on while the
// handler still runs. False when the message came from this thread or there
// is none; a second reply is true again but changes nothing.
bool ReplyToSentMessage(intptr_t result);
// PostMessageW: queued for the owner thread's message loop.
bool Post(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// RegisterWindowMessageW: the same name (without regard to case) gives the
// same id in 0xC000..0xFFFF; 0 on failure.
uint32_t RegisterMessage(const String& name);
// WM_COPYDATA with the bytes: the receiver sees a TCopyData whose lpData
// points to a copy valid during the call. wParam is `from`.
intptr_t SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwData, const void* data,
                      uint32_t size);

// A top-level or message-only window of that class (FindWindowW); 0 if none.
WindowHandle FindWindowByClass(const String& className);
// The id of the process that owns the window (GetWindowThreadProcessId); 0 if none.
uint32_t WindowProcessId(WindowHandle window);
// The executable of a running process (QueryFullProcessImageNameW).
bool ProcessImagePath(uint32_t processId, String& path);
uint32_t CurrentProcessId();

// The thread that called platform::Initialize().
bool IsMainThread();

// GetMessageW/DispatchMessageW until QuitMessageLoop; returns its exit code.
int RunMessageLoop();
// PostQuitMessage for the calling thread's loop.
void QuitMessageLoop(int exitCode);
// Delivers every pending message of the calling thread, sent and posted.
// False when a quit request was found (it stays queued).
bool ProcessMessages();
// Delivers the messages that other threads have sent to the calling thread's
// windows, leaving posted messages queued (PeekMessageW without removing).
void ProcessSentMessages();

// One round of MsgWaitForMultipleObjects with QS_SENDMESSAGE: waits up to
// timeoutMs for the handle, the optional second handle, or a message sent to
// this thread (which is not delivered here: call ProcessSentMessages).
enum class MsgWaitEvent { Handle, Second, SentMessage, TimedOut, Abandoned, Failed };
MsgWaitEvent MsgWait(const TWaitHandle& handle, const TWaitHandle* second, uint32_t timeoutMs);

// Waits for the handle, delivering messages sent to this thread meanwhile
// when called on the main thread (elsewhere a plain Wait). Rounds of at most
// 100 ms; a finite time-out is measured from the start; kInfinite never
// expires. When `second` is given, onSecond runs each time it is signalled
// (the main-thread call queue of the layers above).
WaitResult WaitWithMessages(const TWaitHandle& handle, uint32_t timeoutMs,
                            const TWaitHandle* second = nullptr,
                            const std::function<void()>& onSecond = {});

}  // namespace platform
