// The stand-in's kernel objects: a signalled state that threads wait for,
// optionally watched by message queues (MsgWait).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/handles.h"

namespace platform {

namespace posix_internal {
struct TThreadQueue;
}

class THandleObject {
 public:
  THandleObject(bool manualReset, bool signalled)
      : manual_reset_(manualReset), signalled_(signalled) {}
  virtual ~THandleObject();

  void Signal();
  void Unsignal();
  // Takes the signal if present (auto-reset objects turn unsignalled).
  bool TryAcquire();
  // Waits up to timeoutMs (kInfinite: no limit); true when acquired.
  bool WaitAcquire(uint32_t timeoutMs);

  void AddWatcher(const std::shared_ptr<posix_internal::TThreadQueue>& queue);
  void RemoveWatcher(const posix_internal::TThreadQueue* queue);

  // Set for threads and processes: joined (or detached) when the object goes.
  std::thread thread;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_reset_;
  bool signalled_;
  std::vector<std::shared_ptr<posix_internal::TThreadQueue>> watchers_;
};

// A process of the stand-in: a fake program running on a thread.
class TProcessObject : public THandleObject {
 public:
  TProcessObject() : THandleObject(true, false) {}
  std::mutex state_mutex;
  uint32_t exit_code = 259;  // STILL_ACTIVE
  uint32_t pid = 0;
  String image_path;
};

}  // namespace platform
