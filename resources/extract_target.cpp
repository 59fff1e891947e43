// What the extraction does with a target file that cannot be written: skip
// it when it already holds the right bytes, move it aside, or ask the user.
#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/exceptions.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/crypto.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "resources/setup_resources.h"

namespace {

constexpr int64_t kTargetBufferSize = 256 * 1024;

// A file stream written through a buffer. Flush reports what the file did
// not take; the destructor writes out the rest but can report nothing, so
// writers call Flush before they let it go.
class TBufferedWriteStream : public TStream {
 public:
  TBufferedWriteStream(std::unique_ptr<TStream> file, int64_t bufferSize)
      : file_(std::move(file)), capacity_(static_cast<size_t>(bufferSize)) {}
  ~TBufferedWriteStream() override {
    try {
      Flush();
    } catch (...) {
    }
  }

  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* data, int64_t count) override {
    if (count <= 0) return 0;
    const auto size = static_cast<size_t>(count);
    if (used_ + size > capacity_) Flush();
    if (size >= capacity_) {
      file_->WriteBuffer(data, count);
    } else {
      // The buffer is taken when the first small write comes.
      if (!buffer_) buffer_ = std::make_unique<uint8_t[]>(capacity_);
      std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
    }
    position_ += count;
    return count;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    if (origin == SeekOrigin::Current && offset == 0) return position_;
    Flush();
    position_ = file_->Seek(offset, origin);
    return position_;
  }
  int64_t Size() override {
    Flush();
    return file_->Size();
  }
  void SetSize(int64_t size) override {
    Flush();
    file_->SetSize(size);
  }
  void Flush() override {
    if (used_ == 0) return;
    // The buffer is emptied first: a failed write is reported once.
    const size_t size = used_;
    used_ = 0;
    file_->WriteBuffer(buffer_.get(), static_cast<int64_t>(size));
  }

 private:
  std::unique_ptr<TStream> file_;
  size_t capacity_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  int64_t position_ = 0;
};

// The target created anew (or truncated) for writing, shared with everyone;
// null when that is not possible.
std::unique_ptr<TStream> TryCreateTarget(const String& path) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericWrite, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kCreateAlways);
  if (!file) return nullptr;
  return std::make_unique<TBufferedWriteStream>(std::move(file), kTargetBufferSize);
}

// The MD5 digest of the existing file as hexadecimal text. Raises the open
// error when it cannot be read.
String FileDigest(const String& path) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting);
  if (!file) throw EFOpenError(path, platform::SystemErrorText(platform::LastError()));
  return platform::DigestToHex(platform::Md5(*file));
}

}  // namespace

bool TSetupExtractHelper::CreateTargetStream(const String& targetPath, TStream& source,
                                             std::unique_ptr<TStream>& target) {
  target = TryCreateTarget(targetPath);
  if (target) return true;

  // Held open by someone else (a running program, say): nothing to do when
  // it already is what would be written.
  const int64_t start = source.Position();
  const String existing = FileDigest(targetPath);
  const String wanted = platform::DigestToHex(platform::Md5(source));
  source.SetPosition(start);
  if (SameTextLocale(existing, wanted)) {
    RunLog(u"Kept (in use, same content): " + targetPath);
    return false;
  }

  // A file in use can often still be renamed; the new one takes its place.
  // A ".bak" left by an earlier run would stop the rename: it goes first
  // (deferred to the restart when it is still in use itself).
  const String backup = targetPath + u".bak";
  if (platform::FileExists(backup)) {
    DeleteFileOrDefer(backup);
    RunLog(platform::FileExists(backup) ? u"Cannot remove earlier copy: " + backup
                                        : u"Removed earlier copy: " + backup);
  }
  if (platform::MoveFileTo(targetPath, backup)) {
    // The renamed file is still in use: the system deletes it at restart.
    DeleteOnReboot(backup);
    RunLog(u"Renamed (in use): " + targetPath + u" -> " + backup +
           u", to be deleted at the next restart");
  }

  for (;;) {
    target = TryCreateTarget(targetPath);
    if (target) return true;
    const int answer = AskUser(FormatText(u"QM2", {targetPath}),
                               kMbAbortRetryIgnore | kMbIconWarning | kMbDefButton2);
    if (answer == kIdRetry) continue;
    if (answer == kIdIgnore) {
      RunLog(u"Skipped (in use, ignored by the user): " + targetPath);
      return false;
    }
    // Abort, and every answer that nobody gave (no box could be shown, a
    // desktop nobody sees, suppressed boxes): skipping the file unasked
    // would report an incomplete installation as a success.
    throw EInstallerInstallError(FormatText(u"E1", {targetPath}));
  }
}

int TSetupExtractHelper::AskUser(const String& text, uint32_t flags) {
  if (!messageBox_) return kIdAbort;
  return messageBox_(text, String(), flags);
}
