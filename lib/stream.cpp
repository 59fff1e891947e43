#include "lib/stream.h"

#include <algorithm>
#include <cstring>

#include "lib/exceptions.h"

namespace {

// The position a seek of the in-memory and window streams moves to.
int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, SeekOrigin origin) {
  const int64_t base =
      origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? position : size;
  const int64_t target = base + offset;
  if (target < 0) throw EStreamError(u"Invalid stream position");
  return target;
}

}  // namespace

void RaiseReadOnly() {
  throw EStreamError(u"Stream is read-only");
}

int64_t TStream::Size() {
  const int64_t pos = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Read(p, count);
    if (n <= 0) throw EReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError(WriteFailureReason());
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  constexpr int64_t kChunk = 1 << 20;
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kChunk)));
  const int64_t total = count;
  while (count > 0) {
    const int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= Size()) return 0;
  const int64_t n = std::min(count, Size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = pos_ + count;
  if (end > Size()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, Size(), offset, origin);
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError(u"Invalid stream size");
  data_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - pos_);
  std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, size_, offset, origin);
  return pos_;
}

void TReadOnlyMemoryStream::SetSize(int64_t) {
  RaiseReadOnly();
}

int64_t TStreamWindow::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= size_) return 0;
  const int64_t wanted = std::min(count, size_ - pos_);
  inner_->SetPosition(offset_ + pos_);
  int64_t n = 0;
  while (n < wanted) {
    const int64_t got = inner_->Read(static_cast<uint8_t*>(buffer) + n, wanted - n);
    if (got <= 0) break;
    n += got;
  }
  pos_ += n;
  return n;
}

int64_t TStreamWindow::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = SeekTarget(pos_, size_, offset, origin);
  return pos_;
}

std::vector<uint8_t> ReadAll(TStream& stream) {
  const int64_t remaining = stream.Size() - stream.Position();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}
