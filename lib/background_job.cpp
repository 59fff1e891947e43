#include "lib/background_job.h"

#include <chrono>
#include <utility>

namespace {

// How often a wait asks whether to give up.
constexpr int kStopPollMs = 20;

}  // namespace

TBackgroundJob::TBackgroundJob(std::function<void(const std::atomic<bool>& stop)> work) {
  thread_ = std::thread([this, work = std::move(work)] {
    std::exception_ptr failure;
    try {
      work(stop_);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> guard(lock_);
    failure_ = failure;
    done_ = true;
    finished_.notify_all();
  });
}

TBackgroundJob::~TBackgroundJob() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool TBackgroundJob::Wait(const std::function<bool()>& stopped) {
  std::unique_lock<std::mutex> guard(lock_);
  while (!done_) {
    if (!stopped) {
      finished_.wait(guard);
      continue;
    }
    if (stopped()) return false;
    finished_.wait_for(guard, std::chrono::milliseconds(kStopPollMs));
  }
  if (failure_) std::rethrow_exception(failure_);
  return true;
}

bool TBackgroundJob::Failed() {
  std::lock_guard<std::mutex> guard(lock_);
  return done_ && failure_ != nullptr;
}
