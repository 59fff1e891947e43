#include "package/package_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "lib/exceptions.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"

namespace {

// Pieces of decoded payload handed from the decoder to the caller: at most
// kQueued of kPiece bytes wait at any time.
constexpr size_t kPiece = size_t{1} << 20;
constexpr size_t kQueued = 4;

std::atomic<int64_t> decodeFault{-1};

// Raised inside the decoding thread when the caller has stopped taking.
class EDecodingStopped : public Exception {
 public:
  EDecodingStopped() : Exception(u"The decoding was stopped") {}
};

class TPieceQueue {
 public:
  // False when the taker has gone.
  bool Push(std::vector<uint8_t> piece) {
    std::unique_lock<std::mutex> guard(lock_);
    room_.wait(guard, [this] { return cancelled_ || pieces_.size() < kQueued; });
    if (cancelled_) return false;
    pieces_.push_back(std::move(piece));
    ready_.notify_one();
    return true;
  }
  void Finish(std::exception_ptr failure) {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    failure_ = std::move(failure);
    ready_.notify_one();
  }
  // The next piece; false once the decoder has finished and all were taken.
  bool Pop(std::vector<uint8_t>& piece) {
    std::unique_lock<std::mutex> guard(lock_);
    ready_.wait(guard, [this] { return finished_ || !pieces_.empty(); });
    if (pieces_.empty()) return false;
    piece = std::move(pieces_.front());
    pieces_.pop_front();
    room_.notify_one();
    return true;
  }
  void Cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = true;
    room_.notify_all();
  }
  std::exception_ptr Failure() {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
  }

 private:
  std::mutex lock_;
  std::condition_variable ready_, room_;
  std::deque<std::vector<uint8_t>> pieces_;
  bool finished_ = false;
  bool cancelled_ = false;
  std::exception_ptr failure_;
};

// The decoder's destination: cuts its output into pieces for the queue.
class TQueueStream : public TStream {
 public:
  explicit TQueueStream(TPieceQueue& queue) : queue_(queue) { piece_.reserve(kPiece); }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const auto* p = static_cast<const uint8_t*>(buffer);
    size_t left = static_cast<size_t>(count);
    while (left > 0) {
      const size_t take = std::min(left, kPiece - piece_.size());
      piece_.insert(piece_.end(), p, p + take);
      p += take;
      left -= take;
      if (piece_.size() == kPiece) Send();
    }
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  int64_t Size() override { return 0; }
  void SetSize(int64_t) override { throw EWriteError(); }
  void Send() {
    if (piece_.empty()) return;
    if (!queue_.Push(std::move(piece_))) throw EDecodingStopped();
    piece_ = {};
    piece_.reserve(kPiece);
  }

 private:
  TPieceQueue& queue_;
  std::vector<uint8_t> piece_;
};

// Hands payload bytes to the sink file by file, and keeps what follows the
// files (the package's own table) for the final check.
class TRouter {
 public:
  // Hands out the files that end within the first `through` bytes.
  TRouter(const TSetupPackageFileTable& table, ISetupPackageFileSink& sink, int64_t through,
          size_t tailLimit)
      : table_(table), sink_(sink), through_(through), tailLimit_(tailLimit) {}

  void Take(const uint8_t* p, size_t n) {
    for (;;) {
      StartFiles();
      if (n == 0) return;
      if (open_) {
        const size_t take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), left_));
        if (wanted_) sink_.FileData(p, take);
        p += take;
        n -= take;
        position_ += static_cast<int64_t>(take);
        left_ -= static_cast<int64_t>(take);
        if (left_ == 0) EndFile();
      } else {
        // Past the last file handed out: the table.
        const size_t keep = std::min(n, tailLimit_ - std::min(tailLimit_, tail_.size()));
        tail_.insert(tail_.end(), p, p + keep);
        position_ += static_cast<int64_t>(n);
        n = 0;
      }
    }
  }
  const std::vector<uint8_t>& Tail() const { return tail_; }

 private:
  // Begins the files that start here; empty ones end at once.
  void StartFiles() {
    while (!open_ && next_ < table_.Count() && table_.Items(next_).Offset == position_ &&
           table_.Items(next_).Size <= through_ - position_) {
      open_ = true;
      left_ = table_.Items(next_).Size;
      wanted_ = sink_.BeginFile(next_);
      if (left_ == 0) EndFile();
    }
  }
  void EndFile() {
    if (wanted_) sink_.EndFile();
    open_ = false;
    ++next_;
  }

  const TSetupPackageFileTable& table_;
  ISetupPackageFileSink& sink_;
  int64_t through_;
  size_t tailLimit_;
  int next_ = 0;
  bool open_ = false;
  bool wanted_ = false;
  int64_t left_ = 0;
  int64_t position_ = 0;
  std::vector<uint8_t> tail_;
};

}  // namespace

void SetSetupPackageDecodeFaultForTesting(int64_t offset) { decodeFault = offset; }

bool CanStreamSetupPackage(const TSetupPackageFileTable& table) {
  if (table.Count() == 0) return false;
  int64_t end = 0;
  for (int i = 0; i < table.Count(); ++i) {
    const TSetupPackageFileTableItem& item = table.Items(i);
    if (item.Offset != end || item.Size < 0 || item.Size > INT64_MAX - end) return false;
    end += item.Size;
  }
  return true;
}

bool StreamSetupPackage(TStream& source, const TSetupPackageFileTable& table, StringView keyText,
                        ISetupPackageFileSink& sink, const TSetupPackageStreamOptions& options) {
  if (!CanStreamSetupPackage(table)) throw EInvalidOperation(u"The package cannot be streamed");
  const TSetupPackageFileTableItem& last = table.Items(table.Count() - 1);
  const int64_t filesEnd = last.Offset + last.Size;
  // What the payload ends with: this table, then its byte length.
  TMemoryStream expected;
  table.SaveToStream(expected);
  expected.WriteValue<int32_t>(static_cast<int32_t>(expected.Size()));

  const TSetupPackageHeader header = ReadSetupPackageHeader(source);
  const bool whole = options.Through < 0;
  if (whole && header.Length != filesEnd + expected.Size()) throw ESetupPackageReadError();
  const int64_t through = whole ? header.Length : std::min(options.Through, header.Length);

  TSetupKey key;
  key.Initialize(keyText);
  TPieceQueue queue;
  std::thread decoder([&] {
    try {
      TQueueStream destination(queue);
      TLZMAStreams streams;
      streams.SourceStream = &source;
      streams.SourcePreprocessor = [&key](uint8_t* buffer, size_t size) { key.Apply(buffer, size); };
      streams.DestStream = &destination;
      LzmaDecodeStream(streams, through);
      destination.Send();
      queue.Finish(nullptr);
    } catch (...) {
      queue.Finish(std::current_exception());
    }
  });
  // The decoder is always stopped and waited for, whatever the sink does.
  struct TJoin {
    TPieceQueue& queue;
    std::thread& thread;
    ~TJoin() {
      queue.Cancel();
      thread.join();
    }
  } join{queue, decoder};

  TRouter router(table, sink, through, static_cast<size_t>(expected.Size()));
  const int64_t fault = decodeFault;
  uint32_t crc = 0;
  int64_t done = 0;
  std::vector<uint8_t> piece;
  while (queue.Pop(piece)) {
    if (fault >= done && fault < done + static_cast<int64_t>(piece.size()))
      piece[static_cast<size_t>(fault - done)] ^= 0x01;
    crc = UpdatePackageCrc(crc, piece.data(), piece.size());
    router.Take(piece.data(), piece.size());
    done += static_cast<int64_t>(piece.size());
    if (options.OnProgress) options.OnProgress(done, header.Length);
    if (options.Stopped && options.Stopped()) return false;
  }
  if (std::exception_ptr failure = queue.Failure()) std::rethrow_exception(failure);
  router.Take(nullptr, 0);  // empty files at the very end
  if (!whole) return done == through;
  const std::vector<uint8_t>& tail = router.Tail();
  if (done != header.Length || crc != header.Crc ||
      tail.size() != static_cast<size_t>(expected.Size()) ||
      std::memcmp(tail.data(), expected.Memory(), tail.size()) != 0)
    throw ESetupPackageReadError();
  return true;
}
