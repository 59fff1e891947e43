#include "package/package_loader.h"

#include <utility>

#include "lib/exceptions.h"

namespace {

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
  std::shared_ptr<TStream> shared(std::move(source));
  job_ = std::make_unique<TBackgroundJob>(
      [this, shared, key = String(keyText)](const std::atomic<bool>& stop) mutable {
        // The program's file is not held longer than needed.
        const std::shared_ptr<TStream> held = std::move(shared);
        Run(*held, key, stop);
      });
}

TSetupPackageLoader::~TSetupPackageLoader() = default;

void TSetupPackageLoader::Run(TStream& source, const String& keyText,
                              const std::atomic<bool>& stop) {
  TStoppableStream stoppable(source, stop);
  auto reader = std::make_unique<TSetupPackageReader>(stoppable, keyText);
  // Lookups were answered from the known table: a package whose own table
  // differs is not the one this program was built with.
  if (!SameFileTables(reader->FileTable(), *known_)) throw ESetupPackageReadError();
  reader_ = std::move(reader);  // before the job counts as done
}

bool TSetupPackageLoader::Wait(const std::function<bool()>& stopped) { return job_->Wait(stopped); }

bool TSetupPackageLoader::Failed() { return job_->Failed(); }

TSetupPackageReader& TSetupPackageLoader::Get() {
  job_->Wait();
  return *reader_;
}
