// Work done on a thread of its own while the program goes on, and waited
// for later.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class TBackgroundJob {
 public:
  // Starts the work at once. It is told to stop (the flag turns true) when
  // the job is destroyed early; what it raises is kept as its failure.
  explicit TBackgroundJob(std::function<void(const std::atomic<bool>& stop)> work);
  TBackgroundJob(const TBackgroundJob&) = delete;
  TBackgroundJob& operator=(const TBackgroundJob&) = delete;
  // Tells the work to stop and waits for its thread.
  ~TBackgroundJob();

  // Waits until the work has ended or stopped() says to give up (asked
  // every few milliseconds; without it, waits to the end): false when given
  // up; raises the work's failure (the same one on every call).
  bool Wait(const std::function<bool()>& stopped = nullptr);
  // Whether the work has ended with a failure, without waiting.
  bool Failed();

 private:
  std::exception_ptr failure_;
  bool done_ = false;
  std::mutex lock_;
  std::condition_variable finished_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
