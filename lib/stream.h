// Byte streams: the abstract stream, an in-memory stream and file streams.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/strings.h"

enum class SeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size) = 0;
  // Writes out what a buffering stream still holds; raises EWriteError when
  // that fails. Streams without a buffer have nothing to do.
  virtual void Flush() {}
  // Flush, then makes the system write the file's data to the disk, so that
  // a power loss cannot lose what was written; false when that fails.
  // Streams that are no files have nothing to do.
  virtual bool FlushToDisk() {
    Flush();
    return true;
  }
  // Why the last Write took fewer bytes than asked, in the system's words
  // ("There is not enough space on the disk."); empty when the stream cannot
  // tell. WriteBuffer raises it as the message of its EWriteError.
  virtual String WriteFailureReason() { return {}; }

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }
  // Exactly count bytes or EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes (0 = from the start to the end of source) in 1 MiB chunks.
  int64_t CopyFrom(TStream& source, int64_t count);

  template <typename T>
  T ReadValue() {  // little-endian integers
    T v{};
    ReadBuffer(&v, sizeof v);
    return v;
  }
  template <typename T>
  void WriteValue(T v) {
    WriteBuffer(&v, sizeof v);
  }
};

// A growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  uint8_t* Memory() { return data_.data(); }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t>& Bytes() { return data_; }
  // Reserves capacity without changing the size.
  void Reserve(int64_t capacity) { data_.reserve(static_cast<size_t>(capacity)); }

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

// Raises EStreamError "Stream is read-only".
[[noreturn]] void RaiseReadOnly();

// A read-only view of memory the stream does not own (module resources).
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, int64_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t) override;
  const uint8_t* Memory() const { return data_; }

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t pos_ = 0;
};

// A read-only window of another stream, which it owns: bytes offset to
// offset + size of it, read as a stream of its own positioned at 0.
class TStreamWindow : public TStream {
 public:
  TStreamWindow(std::unique_ptr<TStream> inner, int64_t offset, int64_t size)
      : inner_(std::move(inner)), offset_(offset), size_(size) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t) override { RaiseReadOnly(); }

 private:
  std::unique_ptr<TStream> inner_;
  int64_t offset_;
  int64_t size_;
  int64_t pos_ = 0;
};

std::vector<uint8_t> ReadAll(TStream& stream);  // from the current position to the end
