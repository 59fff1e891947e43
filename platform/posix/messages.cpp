// The stand-in's kernel objects, threads and window messages: every thread
// has a queue of sent and posted messages; a window belongs to the thread
// that created it and its handler runs only there.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <vector>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/posix/handle_object.h"
#include "platform/posix/internal.h"

namespace platform {

namespace posix_internal {

struct TSentItem {
  WindowHandle window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  bool done = false;  // guarded by the sender's queue mutex
  intptr_t result = 0;
  bool replied = false;  // answered early (ReplyToSentMessage); receiver thread only
  std::shared_ptr<TThreadQueue> sender;
};

struct TPosted {
  WindowHandle window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};

struct TThreadQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::shared_ptr<TSentItem>> sent;
  std::deque<TPosted> posted;
  bool alive = true;
  bool quit = false;
  int quit_code = 0;
};

// The process id that windows and processes created on this thread belong to
// (a fake program's id on its thread).
thread_local uint32_t t_process_id = 0;

}  // namespace posix_internal

namespace {

using namespace posix_internal;

struct TWindow {
  String class_name;
  std::shared_ptr<TMessageHandler> handler;
  std::weak_ptr<TThreadQueue> owner;
  uint32_t pid;
};

struct TWindows {
  std::mutex mutex;
  std::map<WindowHandle, TWindow> windows;
  WindowHandle next = 0x10010;
  std::map<String, uint32_t> registered;  // folded name -> id
  uint32_t next_message = 0xC100;
};

TWindows& Windows() {
  static TWindows* w = new TWindows();
  return *w;
}

std::thread::id g_main_thread;

// The sent messages this thread is handling, innermost last; null for a
// message it sent to its own window.
thread_local std::vector<std::shared_ptr<TSentItem>> t_handling;

void CompleteSent(const std::shared_ptr<TSentItem>& item, intptr_t result);
void DestroyThreadWindows(const TThreadQueue* queue);

// The calling thread's queue; at thread exit pending sends are answered with
// 0 and the thread's windows are destroyed, as Windows does.
struct TQueueHolder {
  std::shared_ptr<TThreadQueue> queue = std::make_shared<TThreadQueue>();
  ~TQueueHolder() {
    std::deque<std::shared_ptr<TSentItem>> pending;
    {
      std::lock_guard lock(queue->mutex);
      queue->alive = false;
      pending.swap(queue->sent);
    }
    for (auto& item : pending) CompleteSent(item, 0);
    DestroyThreadWindows(queue.get());
  }
};

const std::shared_ptr<TThreadQueue>& MyQueue() {
  thread_local TQueueHolder holder;
  return holder.queue;
}

uint32_t MyProcessId() {
  return t_process_id ? t_process_id : static_cast<uint32_t>(getpid());
}

void CompleteSent(const std::shared_ptr<TSentItem>& item, intptr_t result) {
  std::lock_guard lock(item->sender->mutex);
  item->result = result;
  item->done = true;
  item->sender->cv.notify_all();
}

void DestroyThreadWindows(const TThreadQueue* queue) {
  std::lock_guard lock(Windows().mutex);
  auto& windows = Windows().windows;
  for (auto it = windows.begin(); it != windows.end();) {
    auto owner = it->second.owner.lock();
    if (!owner || owner.get() == queue)
      it = windows.erase(it);
    else
      ++it;
  }
}

std::shared_ptr<TMessageHandler> HandlerOf(WindowHandle window,
                                           std::shared_ptr<TThreadQueue>* owner) {
  std::lock_guard lock(Windows().mutex);
  auto it = Windows().windows.find(window);
  if (it == Windows().windows.end()) return nullptr;
  if (owner) *owner = it->second.owner.lock();
  return it->second.handler;
}

intptr_t Deliver(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto handler = HandlerOf(window, nullptr);
  if (!handler) return 0;
  return (*handler)(window, msg, wParam, lParam);
}

// Delivers the sent messages waiting in the queue; called with the lock held.
void DeliverSentLocked(TThreadQueue& q, std::unique_lock<std::mutex>& lock) {
  while (!q.sent.empty()) {
    auto item = q.sent.front();
    q.sent.pop_front();
    lock.unlock();
    t_handling.push_back(item);
    const intptr_t result = Deliver(item->window, item->msg, item->wparam, item->lparam);
    t_handling.pop_back();
    if (!item->replied) CompleteSent(item, result);
    lock.lock();
  }
}

std::chrono::steady_clock::time_point Deadline(uint32_t timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

// ---- kernel objects ----

THandleObject::~THandleObject() {
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else
      thread.join();
  }
}

void THandleObject::Signal() {
  std::vector<std::shared_ptr<TThreadQueue>> watchers;
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    watchers = watchers_;
    cv_.notify_all();
  }
  for (auto& q : watchers) {
    std::lock_guard lock(q->mutex);
    q->cv.notify_all();
  }
}

void THandleObject::Unsignal() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool THandleObject::TryAcquire() {
  std::lock_guard lock(mutex_);
  if (!signalled_) return false;
  if (!manual_reset_) signalled_ = false;
  return true;
}

bool THandleObject::WaitAcquire(uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  if (timeoutMs == kInfinite)
    cv_.wait(lock, [&] { return signalled_; });
  else if (!cv_.wait_until(lock, Deadline(timeoutMs), [&] { return signalled_; }))
    return false;
  if (!manual_reset_) signalled_ = false;
  return true;
}

void THandleObject::AddWatcher(const std::shared_ptr<TThreadQueue>& queue) {
  std::lock_guard lock(mutex_);
  watchers_.push_back(queue);
}

void THandleObject::RemoveWatcher(const TThreadQueue* queue) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < watchers_.size(); ++i)
    if (watchers_[i].get() == queue) {
      watchers_.erase(watchers_.begin() + static_cast<ptrdiff_t>(i));
      return;
    }
}

WaitResult Wait(const TWaitHandle& handle, uint32_t timeoutMs) {
  if (!handle) {
    SetLastErrorCode(kErrorInvalidHandle);
    return WaitResult::Failed;
  }
  return handle.Get()->WaitAcquire(timeoutMs) ? WaitResult::Signalled : WaitResult::TimedOut;
}

TWaitHandle NewEvent(bool manualReset, bool initiallySignalled) {
  return TWaitHandle(std::make_shared<THandleObject>(manualReset, initiallySignalled));
}

bool SignalEvent(const TWaitHandle& event) {
  if (!event) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  event.Get()->Signal();
  return true;
}

bool ResetEvent(const TWaitHandle& event) {
  if (!event) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  event.Get()->Unsignal();
  return true;
}

TWaitHandle StartThread(std::function<void()> body) {
  auto object = std::make_shared<THandleObject>(true, false);
  const uint32_t pid = t_process_id;
  try {
    object->thread = std::thread([object, pid, body = std::move(body)]() mutable {
      t_process_id = pid;
      body();
      body = nullptr;
      object->Signal();
    });
  } catch (const std::system_error&) {
    SetLastErrorCode(kErrorNotEnoughMemory);
    return {};
  }
  return TWaitHandle(object);
}

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---- windows and messages ----

intptr_t DefaultHandler(WindowHandle, uint32_t, uintptr_t, intptr_t) {
  return 0;
}

WindowHandle CreateMessageWindow(const String& className, TMessageHandler handler) {
  if (className.empty() || !handler) {
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  auto queue = MyQueue();
  std::lock_guard lock(Windows().mutex);
  const WindowHandle handle = Windows().next;
  Windows().next += 0x12;
  Windows().windows[handle] = {className, std::make_shared<TMessageHandler>(std::move(handler)),
                               queue, MyProcessId()};
  return handle;
}

bool DestroyMessageWindow(WindowHandle window) {
  std::shared_ptr<TThreadQueue> owner;
  auto handler = HandlerOf(window, &owner);
  if (!handler) {
    SetLastErrorCode(kErrorInvalidWindowHandle);
    return false;
  }
  if (owner != MyQueue()) {  // only the owner thread may destroy a window
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  (*handler)(window, kWmDestroy, 0, 0);
  std::lock_guard lock(Windows().mutex);
  Windows().windows.erase(window);
  return true;
}

namespace {

// Send with an optional time-out in ms (negative: none). False when the
// window does not exist or did not answer in time.
bool SendAndWait(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                 int64_t timeoutMs, intptr_t& result) {
  result = 0;
  std::shared_ptr<TThreadQueue> owner;
  auto handler = HandlerOf(window, &owner);
  if (!handler || !owner) {
    SetLastErrorCode(kErrorInvalidWindowHandle);
    return false;
  }
  const auto& me = MyQueue();
  if (owner == me) {
    t_handling.push_back(nullptr);
    result = (*handler)(window, msg, wParam, lParam);
    t_handling.pop_back();
    return true;
  }
  auto item = std::make_shared<TSentItem>();
  item->window = window;
  item->msg = msg;
  item->wparam = wParam;
  item->lparam = lParam;
  item->sender = me;
  {
    std::lock_guard lock(owner->mutex);
    if (!owner->alive) {
      SetLastErrorCode(kErrorInvalidWindowHandle);
      return false;
    }
    owner->sent.push_back(item);
    owner->cv.notify_all();
  }
  // Wait for the answer, delivering what other threads send to us meanwhile.
  // A message that is not answered in time stays queued for its window.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::unique_lock lock(me->mutex);
  while (!item->done) {
    if (!me->sent.empty()) {
      DeliverSentLocked(*me, lock);
      continue;
    }
    if (timeoutMs < 0) {
      me->cv.wait(lock);
    } else if (me->cv.wait_until(lock, deadline) == std::cv_status::timeout && !item->done) {
      SetLastErrorCode(kErrorTimeout);
      return false;
    }
  }
  result = item->result;
  return true;
}

}  // namespace

intptr_t Send(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  SendAndWait(window, msg, wParam, lParam, -1, result);
  return result;
}

bool SendWithTimeout(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                     uint32_t timeoutMs, intptr_t* result) {
  intptr_t answer = 0;
  if (!SendAndWait(window, msg, wParam, lParam, timeoutMs, answer)) return false;
  if (result) *result = answer;
  return true;
}

bool ReplyToSentMessage(intptr_t result) {
  if (t_handling.empty() || !t_handling.back()) return false;
  const auto& item = t_handling.back();
  if (!item->replied) {  // a second reply changes nothing, as on Windows
    item->replied = true;
    CompleteSent(item, result);
  }
  return true;
}

bool Post(WindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<TThreadQueue> owner;
  if (!HandlerOf(window, &owner) || !owner) {
    SetLastErrorCode(kErrorInvalidWindowHandle);
    return false;
  }
  std::lock_guard lock(owner->mutex);
  owner->posted.push_back({window, msg, wParam, lParam});
  owner->cv.notify_all();
  return true;
}

uint32_t RegisterMessage(const String& name) {
  if (name.empty()) {
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  std::lock_guard lock(Windows().mutex);
  auto& registered = Windows().registered;
  const String key = Fold(name);
  auto it = registered.find(key);
  if (it != registered.end()) return it->second;
  return registered[key] = Windows().next_message++;
}

intptr_t SendCopyData(WindowHandle window, WindowHandle from, uintptr_t dwData, const void* data,
                      uint32_t size) {
  // The receiver gets its own copy, as when the message crosses processes.
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(data),
                            static_cast<const uint8_t*>(data) + (data ? size : 0));
  TCopyData cds{dwData, static_cast<uint32_t>(copy.size()), copy.empty() ? nullptr : copy.data()};
  return Send(window, kWmCopyData, from, reinterpret_cast<intptr_t>(&cds));
}

WindowHandle FindWindowByClass(const String& className) {
  std::lock_guard lock(Windows().mutex);
  for (const auto& [handle, w] : Windows().windows)
    if (SameName(w.class_name, className)) return handle;
  return 0;
}

uint32_t WindowProcessId(WindowHandle window) {
  std::lock_guard lock(Windows().mutex);
  auto it = Windows().windows.find(window);
  if (it == Windows().windows.end()) {
    SetLastErrorCode(kErrorInvalidWindowHandle);
    return 0;
  }
  return it->second.pid;
}

uint32_t CurrentProcessId() {
  return MyProcessId();
}

bool IsMainThread() {
  return std::this_thread::get_id() == g_main_thread;
}

int RunMessageLoop() {
  auto& q = *MyQueue();
  std::unique_lock lock(q.mutex);
  for (;;) {
    DeliverSentLocked(q, lock);
    if (!q.posted.empty()) {
      const TPosted p = q.posted.front();
      q.posted.pop_front();
      lock.unlock();
      Deliver(p.window, p.msg, p.wparam, p.lparam);
      lock.lock();
      continue;
    }
    if (q.quit) {
      q.quit = false;
      return q.quit_code;
    }
    q.cv.wait(lock);
  }
}

void QuitMessageLoop(int exitCode) {
  auto& q = *MyQueue();
  std::lock_guard lock(q.mutex);
  q.quit = true;
  q.quit_code = exitCode;
}

bool ProcessMessages() {
  auto& q = *MyQueue();
  std::unique_lock lock(q.mutex);
  for (;;) {
    DeliverSentLocked(q, lock);
    if (q.posted.empty()) return !q.quit;
    const TPosted p = q.posted.front();
    q.posted.pop_front();
    lock.unlock();
    Deliver(p.window, p.msg, p.wparam, p.lparam);
    lock.lock();
  }
}

void ProcessSentMessages() {
  auto& q = *MyQueue();
  std::unique_lock lock(q.mutex);
  DeliverSentLocked(q, lock);
}

MsgWaitEvent MsgWait(const TWaitHandle& handle, const TWaitHandle* second, uint32_t timeoutMs) {
  if (!handle || (second && !*second)) {
    SetLastErrorCode(kErrorInvalidHandle);
    return MsgWaitEvent::Failed;
  }
  const auto& me = MyQueue();
  THandleObject* first = handle.Get();
  THandleObject* other = second ? second->Get() : nullptr;
  first->AddWatcher(me);
  if (other) other->AddWatcher(me);
  const auto deadline = Deadline(timeoutMs);
  MsgWaitEvent result = MsgWaitEvent::TimedOut;
  {
    std::unique_lock lock(me->mutex);
    for (;;) {
      if (first->TryAcquire()) {
        result = MsgWaitEvent::Handle;
        break;
      }
      if (other && other->TryAcquire()) {
        result = MsgWaitEvent::Second;
        break;
      }
      if (!me->sent.empty()) {
        result = MsgWaitEvent::SentMessage;
        break;
      }
      if (timeoutMs == kInfinite)
        me->cv.wait(lock);
      else if (me->cv.wait_until(lock, deadline) == std::cv_status::timeout &&
               std::chrono::steady_clock::now() >= deadline) {
        // One last look, then give up.
        if (first->TryAcquire())
          result = MsgWaitEvent::Handle;
        else if (other && other->TryAcquire())
          result = MsgWaitEvent::Second;
        else if (!me->sent.empty())
          result = MsgWaitEvent::SentMessage;
        break;
      }
    }
  }
  first->RemoveWatcher(me.get());
  if (other) other->RemoveWatcher(me.get());
  return result;
}

bool ProcessImagePath(uint32_t processId, String& path);  // process.cpp

namespace posix_internal {
void MarkMainThread() {
  g_main_thread = std::this_thread::get_id();
}
}  // namespace posix_internal

}  // namespace platform
