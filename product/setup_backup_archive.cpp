#include "product/setup_backup_archive.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "lib/format.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "resources/installer_errors.h"

namespace {

constexpr size_t kReadBuffer = 1 << 20;
constexpr size_t kWriteBuffer = 1 << 20;
// How much of the archive is held in memory at most while it may not be
// written yet (see TSetupBackupArchive::Write); the writing waits beyond.
constexpr int64_t kHeldBytes = int64_t{4} << 20;
constexpr uint16_t kUtf8Flag = 1 << 11;
constexpr zip_uint32_t kDeflateLevel = 3;

// Files up to this size are compressed ahead, on threads of their own, while
// the archive is written; larger ones are compressed as they are written.
// At most kAheadBytes of what was compressed ahead wait to be written.
constexpr uint64_t kAheadFileLimit = uint64_t{2} << 20;
constexpr uint64_t kAheadBytes = uint64_t{8} << 20;
constexpr int kAheadThreads = 2;

// The folder an item is read from without following a link: its base, or
// its own folder.
String BaseOf(const TSetupFileListItem& item) {
  return item.BaseFolder.empty() ? ExtractFilePath(item.FileName) : item.BaseFolder;
}

// Little-endian fields of the ZIP headers.
uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// What went wrong, for the message of the error raised.
struct TFailure {
  bool failed = false;
  std::exception_ptr raised;  // by the hook before writing: raised as it is
  int index = -1;  // the item, or -1 for the archive itself
  uint32_t systemError = 0;
  String message;
};

// The archive file: buffered writes through the platform layer, under the
// temporary name until it is committed.
class TArchiveOutput {
 public:
  TArchiveOutput(String path, TFailure& failure, const std::function<void()>& beforeWriting)
      : path_(std::move(path)),
        temp_(TSetupBackupArchive::TempName(path_)),
        failure_(failure),
        beforeWriting_(beforeWriting) {
    zip_error_init(&error_);
  }
  ~TArchiveOutput() { zip_error_fini(&error_); }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<TArchiveOutput*>(self)->Handle(data, len, cmd);
  }

 private:
  zip_int64_t Handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
            ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE,
            -1);
      case ZIP_SOURCE_STAT:
        // Always a new archive: it does not exist yet.
        zip_error_set(&error_, ZIP_ER_READ, ENOENT);
        return -1;
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_BEGIN_WRITE:
        if (beforeWriting_) {
          // Held in memory until it may be written.
          auto held = std::make_unique<TMemoryStream>();
          held->Reserve(kHeldBytes + static_cast<int64_t>(kWriteBuffer));
          stream_ = std::move(held);
          held_ = true;
        } else if (!OpenFile()) {
          return -1;
        }
        buffer_.clear();
        buffer_.reserve(kWriteBuffer);
        return 0;
      case ZIP_SOURCE_WRITE: {
        const auto* bytes = static_cast<const uint8_t*>(data);
        if (buffer_.size() + len > kWriteBuffer && !Flush()) return -1;
        if (len >= kWriteBuffer) {
          if (stream_->Write(bytes, static_cast<int64_t>(len)) != static_cast<int64_t>(len))
            return Fail(ZIP_ER_WRITE);
        } else {
          buffer_.insert(buffer_.end(), bytes, bytes + len);
        }
        return static_cast<zip_int64_t>(len);
      }
      case ZIP_SOURCE_SEEK_WRITE: {
        auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error_);
        if (!args || !Flush()) return -1;
        const SeekOrigin origin[] = {SeekOrigin::Begin, SeekOrigin::Current, SeekOrigin::End};
        if (args->whence < 0 || args->whence > 2 ||
            stream_->Seek(args->offset, origin[args->whence]) < 0)
          return Fail(ZIP_ER_SEEK);
        return 0;
      }
      case ZIP_SOURCE_TELL_WRITE: {
        if (!Flush()) return -1;
        const int64_t position = stream_->Position();
        if (position < 0) return Fail(ZIP_ER_TELL);
        return position;
      }
      case ZIP_SOURCE_COMMIT_WRITE:
        if (!Flush()) return -1;
        if (!MarkNamesUtf8()) return Fail(ZIP_ER_WRITE);
        if (held_ && !Release()) return -1;
        // On the disk before it replaces an archive of the same name.
        if (!stream_->FlushToDisk()) return Fail(ZIP_ER_WRITE);
        stream_.reset();
        platform::SetAttributes(path_, 0);
        if (!platform::MoveFileWithOptions(temp_, path_, platform::kMoveFileReplaceExisting))
          return Fail(ZIP_ER_RENAME);
        return 0;
      case ZIP_SOURCE_ROLLBACK_WRITE:
        stream_.reset();
        if (!held_) platform::RemoveFile(temp_);
        return 0;
      case ZIP_SOURCE_REMOVE:
        platform::RemoveFile(path_);
        return 0;
      case ZIP_SOURCE_OPEN:
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_READ:
        return 0;
      case ZIP_SOURCE_SEEK:
      case ZIP_SOURCE_TELL:
        return 0;
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Fail(int zipError) {
    if (!failure_.failed) {
      failure_.failed = true;
      failure_.index = -1;
      failure_.systemError = platform::LastError();
    }
    zip_error_set(&error_, zipError, 0);
    return -1;
  }

  bool Flush() {
    if (buffer_.empty()) return true;
    const int64_t n = static_cast<int64_t>(buffer_.size());
    const bool ok = stream_->Write(buffer_.data(), n) == n;
    buffer_.clear();
    if (!ok) Fail(ZIP_ER_WRITE);
    if (ok && held_ && stream_->Size() >= kHeldBytes) return Release();
    return ok;
  }

  bool OpenFile() {
    // Made anew at its name: what is there (the rest of a cut-short run, or
    // a link) goes first, and nothing is written through a link.
    platform::SetAttributes(temp_, 0);
    if (!platform::RemoveFile(temp_) && platform::IsLink(temp_)) platform::RemoveFolder(temp_);
    stream_ = platform::OpenFileShared(temp_, platform::kGenericRead | platform::kGenericWrite, 0,
                                       platform::kCreateNew);
    if (!stream_) {
      Fail(ZIP_ER_OPEN);
      return false;
    }
    return true;
  }

  // The archive may be written now: the hook says so (or raises, which ends
  // the writing), then what was held goes into the file, and the rest
  // follows it there.
  bool Release() {
    std::unique_ptr<TStream> held = std::move(stream_);
    held_ = false;
    try {
      beforeWriting_();
    } catch (...) {
      // Nothing may leave through the library: kept and raised later.
      failure_.raised = std::current_exception();
      Fail(ZIP_ER_CANCELLED);
      return false;
    }
    if (!OpenFile()) return false;
    auto& memory = static_cast<TMemoryStream&>(*held);
    const int64_t size = memory.Size();
    if (stream_->Write(memory.Memory(), size) != size ||
        stream_->Seek(memory.Position(), SeekOrigin::Begin) != memory.Position()) {
      Fail(ZIP_ER_WRITE);
      return false;
    }
    return true;
  }

  // Sets the UTF-8 flag in every central and local header: the library sets
  // it only for names that are not plain ASCII.
  bool MarkNamesUtf8() {
    const int64_t size = stream_->Size();
    uint8_t end[22];
    if (size < 22 || stream_->Seek(size - 22, SeekOrigin::Begin) < 0 ||
        stream_->Read(end, 22) != 22 || Get32(end) != 0x06054b50)
      return false;
    const uint32_t count = Get16(end + 10), directorySize = Get32(end + 12),
                   directoryOffset = Get32(end + 16);
    std::vector<uint8_t> directory(directorySize);
    if (stream_->Seek(directoryOffset, SeekOrigin::Begin) < 0 ||
        stream_->Read(directory.data(), directorySize) != static_cast<int64_t>(directorySize))
      return false;
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (at + 46 > directory.size() || Get32(&directory[at]) != 0x02014b50) return false;
      uint8_t* flags = &directory[at + 8];
      const uint16_t value = static_cast<uint16_t>(Get16(flags) | kUtf8Flag);
      flags[0] = static_cast<uint8_t>(value);
      flags[1] = static_cast<uint8_t>(value >> 8);
      const uint32_t local = Get32(&directory[at + 42]);
      uint8_t header[8];
      if (stream_->Seek(local, SeekOrigin::Begin) < 0 || stream_->Read(header, 8) != 8 ||
          Get32(header) != 0x04034b50 || stream_->Seek(local + 6, SeekOrigin::Begin) < 0 ||
          stream_->Write(flags, 2) != 2)
        return false;
      at += 46 + Get16(&directory[at + 28]) + Get16(&directory[at + 30]) +
            Get16(&directory[at + 32]);
    }
    return stream_->Seek(directoryOffset, SeekOrigin::Begin) >= 0 &&
           stream_->Write(directory.data(), directorySize) ==
               static_cast<int64_t>(directorySize);
  }

  String path_, temp_;
  TFailure& failure_;
  const std::function<void()>& beforeWriting_;
  bool held_ = false;  // stream_ is the archive held in memory
  zip_error_t error_;
  std::unique_ptr<TStream> stream_;
  std::vector<uint8_t> buffer_;
};

// The files of the archive compressed ahead: raw Deflate data, CRC-32 and
// size of each small file, made in list order by a few threads while the
// library writes earlier entries, so that reading and compressing use every
// core. A file is read with read sharing only, from its base without
// following a link, as the library's own reading does.
class TCompressAhead {
 public:
  struct TEntry {
    bool ready = false;
    bool ahead = false;  // compressed here (else the library compresses it)
    std::vector<uint8_t> data;
    uint32_t crc = 0;
    uint64_t size = 0;
  };

  TCompressAhead(const TSetupFileList& files, const std::vector<uint64_t>& sizes,
                 const std::atomic<bool>* cancel)
      : files_(files), sizes_(sizes), cancel_(cancel), entries_(sizes.size()) {
    for (int i = 0; i < kAheadThreads; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~TCompressAhead() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  // Waits for the entry; false when the run is cancelled meanwhile.
  bool Wait(int index, TEntry*& entry) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      if (cancel_ && *cancel_) return false;
      if (entries_[static_cast<size_t>(index)].ready) break;
      changed_.wait_for(guard, std::chrono::milliseconds(20));
    }
    entry = &entries_[static_cast<size_t>(index)];
    return true;
  }
  // The entry was written: its memory goes.
  void Done(int index) {
    std::lock_guard<std::mutex> guard(lock_);
    TEntry& entry = entries_[static_cast<size_t>(index)];
    held_ -= entry.data.size();
    std::vector<uint8_t>().swap(entry.data);
    written_ = index + 1;
    changed_.notify_all();
  }

 private:
  // The folder a worker read its last file from, held: the next file of the
  // same folder is opened in it without walking there again.
  struct TFolderCache {
    String base, path;
    std::unique_ptr<platform::TFolderHandle> folder;
  };

  void Work() {
    std::vector<uint8_t> input, output;
    TFolderCache cache;
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> guard(lock_);
        // The next entry, when what waits to be written leaves room (the
        // next one to be written is always taken).
        changed_.wait(guard, [this] {
          return stop_ || next_ >= entries_.size() || held_ < kAheadBytes ||
                 next_ <= static_cast<size_t>(written_);
        });
        if (stop_ || next_ >= entries_.size()) return;
        index = next_++;
      }
      TEntry result;
      const uint64_t size = sizes_[index];
      if (size <= kAheadFileLimit && !(cancel_ && *cancel_)) {
        result.ahead =
            Compress(files_.Items(static_cast<int>(index)), size, cache, input, output, result);
        if (!result.ahead) result.data.clear();
      }
      std::lock_guard<std::mutex> guard(lock_);
      held_ += result.data.size();
      result.ready = true;
      entries_[index] = std::move(result);
      changed_.notify_all();
    }
  }

  // False when the file cannot be read here: the library then reads it
  // itself, and reports why it cannot.
  // input and output are the worker's buffers, kept from file to file; the
  // entry gets exactly the compressed bytes.
  static bool Compress(const TSetupFileListItem& item, uint64_t size, TFolderCache& cache,
                       std::vector<uint8_t>& input, std::vector<uint8_t>& output, TEntry& entry) {
    try {
      const String path = ExtractFilePath(item.FileName);
      const String base = BaseOf(item);
      if (!cache.folder || cache.path != path || cache.base != base) {
        cache.folder.reset();
        cache.folder = platform::OpenFolderBelow(base, path);
        if (!cache.folder) return false;
        cache.base = base;
        cache.path = path;
      }
      std::unique_ptr<TStream> stream =
          platform::OpenFileIn(*cache.folder, ExtractFileName(item.FileName),
                               platform::kGenericRead, platform::kFileShareRead,
                               platform::kOpenExisting);
      if (!stream) return false;
      // No more than the size the file had when it was listed.
      input.resize(static_cast<size_t>(size));
      size_t filled = 0;
      while (filled < input.size()) {
        const int64_t n =
            stream->Read(input.data() + filled, static_cast<int64_t>(input.size() - filled));
        if (n < 0) return false;
        if (n == 0) break;
        filled += static_cast<size_t>(n);
      }
      entry.size = filled;
      entry.crc = static_cast<uint32_t>(crc32(0L, input.data(), static_cast<uInt>(filled)));
      z_stream z{};
      if (deflateInit2(&z, static_cast<int>(kDeflateLevel), Z_DEFLATED, -MAX_WBITS, 8,
                       Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
      output.resize(deflateBound(&z, static_cast<uLong>(filled)));
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(filled);
      z.next_out = output.data();
      z.avail_out = static_cast<uInt>(output.size());
      const int result = deflate(&z, Z_FINISH);
      deflateEnd(&z);
      if (result != Z_STREAM_END) return false;
      entry.data.assign(output.begin(), output.begin() + static_cast<ptrdiff_t>(z.total_out));
      return true;
    } catch (...) {
      return false;
    }
  }

  const TSetupFileList& files_;
  const std::vector<uint64_t>& sizes_;
  const std::atomic<bool>* cancel_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<TEntry> entries_;
  size_t next_ = 0;
  int written_ = 0;
  uint64_t held_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// One file read into the archive.
class TArchiveInput {
 public:
  // The library reads one file after the other, so all inputs share one
  // read buffer (allocated once: a fresh one per file would cost more than
  // compressing a small file).
  TArchiveInput(const TSetupFileListItem& item, uint64_t size, int index, TFailure& failure,
                const TSetupBackupArchive::TOnItem& onItem, const std::atomic<bool>* cancel,
                std::vector<uint8_t>& buffer, TCompressAhead& ahead)
      : item_(item), size_(size), index_(index), failure_(failure), onItem_(onItem),
        cancel_(cancel), buffer_(buffer), ahead_(ahead) {
    zip_error_init(&error_);
    uint64_t ignored = 0;
    if (!platform::FileSizeAndTime(item.FileName, ignored, time_)) time_ = 0;
  }
  ~TArchiveInput() { zip_error_fini(&error_); }

  static zip_int64_t Callback(void* self, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* input = static_cast<TArchiveInput*>(self);
    if (cmd == ZIP_SOURCE_FREE) {
      delete input;
      return 0;
    }
    return input->Handle(data, len, cmd);
  }

 private:
  zip_int64_t Handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SUPPORTS, -1);
      case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (!st) return -1;
        if (!compressed_ && !ahead_.Wait(index_, compressed_)) {
          zip_error_set(&error_, ZIP_ER_CANCELLED, 0);
          return -1;
        }
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = size_;
        st->mtime = static_cast<time_t>(time_);
        if (compressed_->ahead) {
          // Raw Deflate data: the library writes it as it is.
          st->valid |= ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
          st->size = compressed_->size;
          st->comp_size = compressed_->data.size();
          st->comp_method = ZIP_CM_DEFLATE;
          st->crc = compressed_->crc;
        }
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
      case ZIP_SOURCE_OPEN:
        if (compressed_ && compressed_->ahead) {
          taken_ = 0;
          return 0;
        }
        // Read sharing only: a file that another program is writing fails
        // here instead of being archived half-written.
        // Reached from the item's base without following a link: a folder
        // swapped for one since the listing fails here.
        stream_ = OpenFileBelow(BaseOf(item_), item_.FileName, platform::kFileShareRead);
        if (!stream_) return Fail(ZIP_ER_OPEN, platform::LastError());
        if (buffer_.size() < kReadBuffer) buffer_.resize(kReadBuffer);
        filled_ = taken_ = 0;
        remaining_ = size_;
        return 0;
      case ZIP_SOURCE_READ: {
        if (cancel_ && *cancel_) {
          zip_error_set(&error_, ZIP_ER_CANCELLED, 0);
          return -1;
        }
        if (compressed_ && compressed_->ahead) {
          const std::vector<uint8_t>& bytes = compressed_->data;
          const size_t n = std::min<size_t>(static_cast<size_t>(len), bytes.size() - taken_);
          std::memcpy(data, bytes.data() + taken_, n);
          taken_ += n;
          return static_cast<zip_int64_t>(n);
        }
        if (taken_ == filled_) {
          // No more than the size the file had when it was listed (which the
          // size limit counted): nobody can write it while it is read, but a
          // device behind a name would never end.
          const int64_t n = stream_->Read(
              buffer_.data(), static_cast<int64_t>(std::min<uint64_t>(buffer_.size(), remaining_)));
          if (n < 0) return Fail(ZIP_ER_READ, platform::LastError());
          filled_ = static_cast<size_t>(n);
          taken_ = 0;
          remaining_ -= static_cast<uint64_t>(n);
          if (n == 0) return 0;
        }
        const size_t n = std::min<size_t>(static_cast<size_t>(len), filled_ - taken_);
        std::memcpy(data, buffer_.data() + taken_, n);
        taken_ += n;
        return static_cast<zip_int64_t>(n);
      }
      case ZIP_SOURCE_CLOSE:
        stream_.reset();
        ahead_.Done(index_);
        compressed_ = nullptr;
        if (onItem_) onItem_(index_);
        return 0;
      default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

  zip_int64_t Fail(int zipError, uint32_t systemError) {
    if (!failure_.failed) {
      failure_.failed = true;
      failure_.index = index_;
      failure_.systemError = systemError;
    }
    zip_error_set(&error_, zipError, 0);
    return -1;
  }

  const TSetupFileListItem& item_;
  uint64_t size_;
  int64_t time_ = 0;
  int index_;
  TFailure& failure_;
  const TSetupBackupArchive::TOnItem& onItem_;
  const std::atomic<bool>* cancel_;
  zip_error_t error_;
  std::unique_ptr<TStream> stream_;
  std::vector<uint8_t>& buffer_;
  TCompressAhead& ahead_;
  TCompressAhead::TEntry* compressed_ = nullptr;
  size_t filled_ = 0, taken_ = 0;
  uint64_t remaining_ = 0;
};

// The message of a failed backup, in the language of the texts.
String FailureMessage(const TSetupBackupArchive::TTexts& texts, bool itemFailed,
                      const String& file, uint32_t systemError, const String& libraryMessage) {
  const bool inUse = itemFailed && (systemError == platform::kErrorSharingViolation ||
                                    systemError == platform::kErrorLockViolation);
  const char16_t* key = inUse ? u"E5" : itemFailed ? u"E6" : u"E7";
  const char16_t* english =
      inUse        ? u"The file \"%s\" cannot be backed up because another program is using "
                     u"it.\r\nClose that program, then run Setup again."
      : itemFailed ? u"The file \"%s\" cannot be backed up: %s\r\nMake sure that it can be read, "
                     u"then run Setup again."
                   : u"The backup \"%s\" cannot be written: %s\r\nMake sure that the drive has "
                     u"room and can be written to, then run Setup again.";
  String reason = systemError != 0 ? Trim(platform::SystemErrorText(systemError)) : String();
  // The library's own text speaks of itself ("Can't open file: Success"):
  // for a file, say plainly what failed.
  if (reason.empty()) reason = itemFailed ? String(u"it cannot be opened or read.") : libraryMessage;
  const String text = texts ? texts(key) : String();
  try {
    if (!text.empty()) return Format(text, {FormatArg(file), FormatArg(reason)});
  } catch (const EFormatError&) {
    // A broken language text: the English one says the same.
  }
  return Format(english, {FormatArg(file), FormatArg(reason)});
}

String ZipErrorText(zip_error_t* error) {
  const char* text = zip_error_strerror(error);
  return text ? Utf8ToUtf16(text) : String();
}

}  // namespace

void TSetupBackupArchive::Write(const String& path, const TSetupFileList& files,
                                const std::vector<uint64_t>& sizes, const TOnItem& onItem,
                                const std::atomic<bool>* cancel,
                                const std::function<void()>& beforeWriting,
                                const TTexts& texts) {
  TFailure failure;
  auto raise = [&](const String& libraryMessage) {
    platform::RemoveFile(TempName(path));
    if (failure.raised) std::rethrow_exception(failure.raised);
    if (cancel && *cancel) throw EInstallerBackupError(u"Backup cancelled");
    const bool itemFailed = failure.index >= 0;
    const String file = itemFailed ? files.Items(failure.index).FileName : path;
    throw EInstallerBackupError(
        FailureMessage(texts, itemFailed, file, failure.systemError, libraryMessage));
  };

  zip_error_t error;
  zip_error_init(&error);
  TArchiveOutput output(path, failure, beforeWriting);
  zip_source_t* target = zip_source_function_create(&TArchiveOutput::Callback, &output, &error);
  if (!target) {
    const String text = ZipErrorText(&error);
    zip_error_fini(&error);
    raise(text);
  }
  zip_t* archive = zip_open_from_source(target, ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive) {
    zip_source_free(target);
    const String text = ZipErrorText(&error);
    zip_error_fini(&error);
    raise(text);
  }
  zip_error_fini(&error);
  auto discard = [&](const String& text) {
    zip_discard(archive);
    raise(text);
  };

  std::vector<uint8_t> readBuffer;
  TCompressAhead ahead(files, sizes, cancel);
  for (int i = 0; i < files.Count(); ++i) {
    const TSetupFileListItem& item = files.Items(i);
    auto* input = new TArchiveInput(item, sizes[static_cast<size_t>(i)], i, failure, onItem, cancel,
                                    readBuffer, ahead);
    zip_source_t* source = zip_source_function(archive, &TArchiveInput::Callback, input);
    if (!source) {
      delete input;
      discard(ZipErrorText(zip_get_error(archive)));
    }
    const std::string name = Utf16ToUtf8(item.ArchiveName);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      discard(ZipErrorText(zip_get_error(archive)));
    }
    // Level 3: the update waits for the backup, and on an installation's
    // mix of files level 3 takes less than half the time of level 6 (zip's
    // and zlib's default) for an archive about 4% larger; the library's own
    // default, 9, costs more time still for little space.
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                             kDeflateLevel);
  }
  if (zip_close(archive) != 0) discard(ZipErrorText(zip_get_error(archive)));
}
