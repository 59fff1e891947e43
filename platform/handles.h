// Waitable handles: threads, processes and events share one handle type, like
// kernel objects do.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFF;

// The backend's kernel object; opaque to callers.
class THandleObject;

// A shared reference to a waitable object; the object is closed when the last
// copy goes. An empty handle is invalid for every operation.
class TWaitHandle {
 public:
  TWaitHandle() = default;
  explicit TWaitHandle(std::shared_ptr<THandleObject> object) : object_(std::move(object)) {}
  bool Valid() const { return object_ != nullptr; }
  explicit operator bool() const { return Valid(); }
  THandleObject* Get() const { return object_.get(); }
  void Reset() { object_.reset(); }

 private:
  std::shared_ptr<THandleObject> object_;
};

// Results of a wait, numbered as the installer reports them.
enum class WaitResult : uint32_t { Signalled = 0, TimedOut = 1, Abandoned = 2, Failed = 3 };

// WaitForSingleObject: does not dispatch messages.
WaitResult Wait(const TWaitHandle& handle, uint32_t timeoutMs);

// Events (CreateEventW, SetEvent, ResetEvent). An auto-reset event releases
// one wait and turns unsignalled again.
TWaitHandle NewEvent(bool manualReset, bool initiallySignalled);
bool SignalEvent(const TWaitHandle& event);
bool ResetEvent(const TWaitHandle& event);

// Runs the function on a new thread; the handle is signalled when it returns.
// An empty handle (with LastError() set) when no thread can be started.
TWaitHandle StartThread(std::function<void()> body);

// Milliseconds since an arbitrary start; wraps around like GetTickCount.
uint32_t TickCount();

}  // namespace platform
