#include "resources/streamed_package.h"

#include <algorithm>
#include <utility>

#include "lib/exceptions.h"
#include "platform/crypto.h"

namespace {

// Files a pass keeps beside the one asked for: small ones (the texts and
// pictures that the script, the pages and the steps read), up to a total.
constexpr int64_t kKeptFileLimit = int64_t{4} << 20;
constexpr int64_t kKeptTotalLimit = int64_t{16} << 20;

// Raised inside the check when the package is destroyed early.
class ECheckStopped : public Exception {
 public:
  ECheckStopped() : Exception(u"The check was stopped") {}
};

}  // namespace

// Hands the files the caller takes to its sink and keeps the others.
class TStreamedPackage::TKeepingSink : public ISetupPackageFileSink {
 public:
  TKeepingSink(TStreamedPackage& package, ISetupPackageFileSink* inner, int wanted)
      : package_(package), inner_(inner), wanted_(wanted) {}

  bool BeginFile(int index) override {
    forwarding_ = inner_ && inner_->BeginFile(index);
    if (forwarding_) return true;
    const int64_t size = package_.table_->Items(index).Size;
    std::lock_guard<std::mutex> guard(package_.keptLock_);
    if (package_.kept_.count(index)) return false;
    if (index != wanted_ &&
        (size > kKeptFileLimit || package_.keptBytes_ + size > kKeptTotalLimit))
      return false;
    index_ = index;
    bytes_ = std::make_unique<std::vector<uint8_t>>();
    bytes_->reserve(static_cast<size_t>(size));
    return true;
  }
  void FileData(const uint8_t* data, size_t size) override {
    if (forwarding_)
      inner_->FileData(data, size);
    else
      bytes_->insert(bytes_->end(), data, data + size);
  }
  void EndFile() override {
    if (forwarding_) {
      inner_->EndFile();
      return;
    }
    std::lock_guard<std::mutex> guard(package_.keptLock_);
    package_.keptBytes_ += static_cast<int64_t>(bytes_->size());
    package_.kept_[index_] = std::move(bytes_);
  }

 private:
  TStreamedPackage& package_;
  ISetupPackageFileSink* inner_;
  int wanted_;
  bool forwarding_ = false;
  int index_ = -1;
  std::unique_ptr<std::vector<uint8_t>> bytes_;
};

TStreamedPackage::TStreamedPackage(std::unique_ptr<TStream> source,
                                   std::unique_ptr<TSetupPackageFileTable> table,
                                   std::vector<uint8_t> digest, StringView keyText)
    : source_(std::move(source)), table_(std::move(table)), key_(keyText) {
  check_ = std::make_unique<TBackgroundJob>(
      [this, digest = std::move(digest)](const std::atomic<bool>& stop) {
        platform::THash sha(platform::THashAlgorithm::Sha256);
        source_->SetPosition(0);
        if (!platform::HashStream(sha, *source_, &stop)) throw ECheckStopped();
        if (sha.Final() != digest) throw ESetupPackageReadError();
      });
}

TStreamedPackage::~TStreamedPackage() { check_.reset(); }

bool TStreamedPackage::WaitVerified(const std::function<bool()>& stopped) {
  return check_->Wait(stopped);
}

bool TStreamedPackage::Failed() { return check_->Failed(); }

int TStreamedPackage::IndexOf(const TSetupPackageFileTableItem& item) const {
  for (int i = 0; i < table_->Count(); ++i)
    if (&table_->Items(i) == &item) return i;
  throw EInvalidOperation(u"Not a file of this package");
}

const std::vector<uint8_t>& TStreamedPackage::FileBytes(const TSetupPackageFileTableItem& item) {
  const int index = IndexOf(item);
  check_->Wait();
  {
    std::lock_guard<std::mutex> guard(keptLock_);
    const auto found = kept_.find(index);
    if (found != kept_.end()) return *found->second;
  }
  std::lock_guard<std::mutex> pass(passLock_);
  {
    // Another pass may have kept it meanwhile.
    std::lock_guard<std::mutex> guard(keptLock_);
    const auto found = kept_.find(index);
    if (found != kept_.end()) return *found->second;
  }
  TKeepingSink sink(*this, nullptr, index);
  TSetupPackageStreamOptions options;
  options.Through = item.Offset + item.Size;
  source_->SetPosition(0);
  StreamSetupPackage(*source_, *table_, key_, sink, options);
  std::lock_guard<std::mutex> guard(keptLock_);
  const auto found = kept_.find(index);
  // Checked against the digest: a payload shorter than its table says is
  // not the package the program was built with.
  if (found == kept_.end()) throw ESetupPackageReadError();
  return *found->second;
}

bool TStreamedPackage::Stream(ISetupPackageFileSink& sink,
                              const TSetupPackageStreamOptions& options) {
  check_->Wait();
  std::lock_guard<std::mutex> pass(passLock_);
  TKeepingSink keeping(*this, &sink, -1);
  TSetupPackageStreamOptions whole = options;
  whole.Through = -1;
  source_->SetPosition(0);
  return StreamSetupPackage(*source_, *table_, key_, keeping, whole);
}
