#include "package/package_loader.h"

#include <chrono>
#include <utility>

#include "lib/exceptions.h"

namespace {

// How often a wait asks whether to give up.
constexpr int kStopPollMs = 20;

// Raised inside the decoding thread when the loader is destroyed early.
class EDecodingStopped : public Exception {
 public:
  EDecodingStopped() : Exception(u"The decoding was stopped") {}
};

// The source as the reader sees it: every read first checks whether the
// decoding is to stop.
class TStoppableStream : public TStream {
 public:
  TStoppableStream(TStream& inner, const std::atomic<bool>& stop) : inner_(inner), stop_(stop) {}
  int64_t Read(void* buffer, int64_t count) override {
    if (stop_) throw EDecodingStopped();
    return inner_.Read(buffer, count);
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }
  void SetSize(int64_t) override { throw EWriteError(); }

 private:
  TStream& inner_;
  const std::atomic<bool>& stop_;
};

// True when both tables list the same entries in the same order: the same
// names (code unit for code unit), offsets and sizes.
bool SameFileTables(const TSetupPackageFileTable& a, const TSetupPackageFileTable& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i) {
    const TSetupPackageFileTableItem& x = a.Items(i);
    const TSetupPackageFileTableItem& y = b.Items(i);
    if (x.Name != y.Name || x.Offset != y.Offset || x.Size != y.Size) return false;
  }
  return true;
}

}  // namespace

TSetupPackageLoader::TSetupPackageLoader(std::unique_ptr<TStream> source,
                                         std::unique_ptr<TSetupPackageFileTable> knownTable,
                                         StringView keyText)
    : known_(std::move(knownTable)) {
  thread_ = std::thread(&TSetupPackageLoader::Run, this, std::move(source), String(keyText));
}

TSetupPackageLoader::~TSetupPackageLoader() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void TSetupPackageLoader::Run(std::unique_ptr<TStream> source, String keyText) {
  std::unique_ptr<TSetupPackageReader> reader;
  std::exception_ptr failure;
  try {
    TStoppableStream stoppable(*source, stop_);
    reader = std::make_unique<TSetupPackageReader>(stoppable, keyText);
    // Lookups were answered from the known table: a package whose own table
    // differs is not the one this program was built with.
    if (!SameFileTables(reader->FileTable(), *known_)) throw ESetupPackageReadError();
  } catch (...) {
    reader.reset();
    failure = std::current_exception();
  }
  source.reset();  // the program's file is not held longer than needed
  std::lock_guard<std::mutex> guard(lock_);
  reader_ = std::move(reader);
  failure_ = failure;
  done_ = true;
  finished_.notify_all();
}

bool TSetupPackageLoader::Wait(const std::function<bool()>& stopped) {
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

bool TSetupPackageLoader::Failed() {
  std::lock_guard<std::mutex> guard(lock_);
  return done_ && failure_ != nullptr;
}

TSetupPackageReader& TSetupPackageLoader::Get() {
  Wait(nullptr);
  // Set once, before done_, under the lock that Wait took.
  return *reader_;
}
