#include "package/setup_package.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "lib/casefold.h"
#include "lib/system.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"

namespace {

constexpr char kMagic[4] = {'I', 'P', 'K', '5'};
constexpr int64_t kHeaderSize = 12;
// The smallest possible table entry: name length, offset and size.
constexpr int64_t kMinEntrySize = 2 + 8 + 8;
// LZMA1 cannot expand data by more than about 7100:1 (a run of maximal
// matches with saturated probabilities); a header claiming more output than
// this many times the remaining input is damaged.
constexpr int64_t kMaxExpansion = 16384;
// How much payload memory is reserved ahead, relative to the input: enough
// for any real package, while a damaged size field claims only what
// decoding actually delivers.
constexpr int64_t kReserveRatio = 16;
constexpr int64_t kChunk = 1 << 20;

uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Feeds the compressor from a memory stream and reports how far it got.
class TProgressStream : public TStream {
 public:
  TProgressStream(TStream& inner, std::function<void(int64_t, int64_t)> report)
      : inner_(inner), report_(std::move(report)), total_(inner.Size()) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = inner_.Read(buffer, count);
    report_(inner_.Position(), total_);
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override { return inner_.Write(buffer, count); }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return total_; }
  void SetSize(int64_t size) override { inner_.SetSize(size); }

 private:
  TStream& inner_;
  std::function<void(int64_t, int64_t)> report_;
  int64_t total_;
};

}  // namespace

ESetupPackageReadError::ESetupPackageReadError() : Exception(u"Package was corrupted") {}

// --- TSetupKey ---------------------------------------------------------------

void TSetupKey::Initialize(StringView keyText) {
  const std::string bytes = UnicodeToAnsi(keyText);
  if (bytes.empty()) throw EInvalidOperation(u"The package key is empty");
  Key.assign(bytes.begin(), bytes.end());
  Position = 0;
}

void TSetupKey::Apply(void* buffer, size_t length) {
  const size_t n = Key.size();
  if (n == 0) throw EInvalidOperation(u"The package key is empty");
  auto* p = static_cast<uint8_t*>(buffer);
  size_t pos = static_cast<size_t>(Position) % n;
  // Whole key periods from an 8-byte aligned pattern: the key repeated from
  // the current position, long enough for word-sized XORs.
  if (length >= 64 && n <= 128) {
    uint8_t pattern[256 + 8];
    const size_t period = (sizeof pattern - 8) / n * n;  // whole repeats of the key
    for (size_t i = 0; i < period + 8; ++i) pattern[i] = Key[(pos + i) % n];
    while (length >= period) {
      for (size_t i = 0; i + 8 <= period; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, pattern + i, 8);
        a ^= b;
        std::memcpy(p + i, &a, 8);
      }
      for (size_t i = period / 8 * 8; i < period; ++i) p[i] ^= pattern[i];
      p += period;
      length -= period;
    }
  }
  for (size_t i = 0; i < length; ++i) {
    p[i] ^= Key[pos];
    if (++pos == n) pos = 0;
  }
  Position = static_cast<int32_t>(pos);
}

// --- TSetupPackageFileTable ---------------------------------------------------

namespace {

// A name made of printable ASCII only, folded; false for any other name.
// Two such names of equal length that fold differently are never equal
// without regard to case, in any locale: only names that are not all
// printable ASCII need the locale to tell.
bool FoldPlainName(StringView name, String& folded) {
  folded.resize(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 0x20 || c > 0x7E) return false;
    folded[i] = FoldCaseSimple(c);
  }
  return true;
}

}  // namespace

TSetupPackageFileTableItem& TSetupPackageFileTable::Add() {
  Changed();
  items_.push_back(std::make_unique<TSetupPackageFileTableItem>());
  return *items_.back();
}

void TSetupPackageFileTable::Clear() {
  Changed();
  items_.clear();
}

void TSetupPackageFileTable::Delete(int index) {
  Changed();
  items_.erase(items_.begin() + index);
}

void TSetupPackageFileTable::Changed() {
  std::lock_guard<std::mutex> guard(indexLock_);
  indexed_ = false;
  plainIndex_.clear();
  otherNames_.clear();
}

void TSetupPackageFileTable::BuildIndex() const {
  String folded;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (FoldPlainName(items_[i]->Name, folded))
      plainIndex_[folded].push_back(static_cast<int>(i));
    else
      otherNames_.push_back(static_cast<int>(i));
  }
  indexed_ = true;
}

const TSetupPackageFileTableItem* TSetupPackageFileTable::Find(StringView name) const {
  String folded;
  if (!FoldPlainName(name, folded)) {
    for (const auto& item : items_)
      if (SameTextLocale(item->Name, name)) return item.get();
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(indexLock_);
  if (!indexed_) BuildIndex();
  // The candidates: the names that fold alike and every name the locale
  // must judge, merged in stored order.
  static const std::vector<int> kNone;
  const auto found = plainIndex_.find(folded);
  const std::vector<int>& alike = found == plainIndex_.end() ? kNone : found->second;
  size_t a = 0, o = 0;
  while (a < alike.size() || o < otherNames_.size()) {
    const bool takeAlike =
        o == otherNames_.size() || (a < alike.size() && alike[a] < otherNames_[o]);
    const int index = takeAlike ? alike[a++] : otherNames_[o++];
    const TSetupPackageFileTableItem& item = *items_[static_cast<size_t>(index)];
    if (SameTextLocale(item.Name, name)) return &item;
  }
  return nullptr;
}

bool TSetupPackageFileTable::Find(StringView name, const TSetupPackageFileTableItem*& item) const {
  item = Find(name);
  return item != nullptr;
}

void TSetupPackageFileTable::LoadFromStream(TStream& stream) {
  Clear();
  const int32_t count = stream.ReadValue<int32_t>();
  if (count <= 0) return;
  // Every entry takes at least kMinEntrySize bytes: a count the rest of the
  // stream cannot hold is refused before anything is allocated for it.
  const int64_t left = stream.Size() - stream.Position();
  if (count > left / kMinEntrySize) throw EReadError();
  items_.reserve(static_cast<size_t>(count));
  std::vector<uint8_t> raw;
  for (int32_t i = 0; i < count; ++i) {
    auto& item = Add();
    const uint16_t length = stream.ReadValue<uint16_t>();
    raw.resize(size_t{length} * 2);
    stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    item.Name.resize(length);
    for (size_t c = 0; c < length; ++c)
      item.Name[c] = static_cast<char16_t>(raw[2 * c] | (raw[2 * c + 1] << 8));
    item.Offset = stream.ReadValue<int64_t>();
    item.Size = stream.ReadValue<int64_t>();
    if (item.Offset < 0 || item.Size < 0) throw EReadError();
  }
}

void TSetupPackageFileTable::SaveToStream(TStream& stream) const {
  std::vector<uint8_t> bytes;
  auto put = [&bytes](uint64_t v, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(static_cast<uint32_t>(items_.size()), 4);
  for (const auto& item : items_) {
    put(item->Name.size(), 2);
    for (const char16_t c : item->Name) put(c, 2);
    put(static_cast<uint64_t>(item->Offset), 8);
    put(static_cast<uint64_t>(item->Size), 8);
  }
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// --- TSetupPackageReader ------------------------------------------------------

TSetupPackageHeader ReadSetupPackageHeader(TStream& stream) {
  uint8_t header[kHeaderSize];
  stream.ReadBuffer(header, kHeaderSize);
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) throw ESetupPackageReadError();
  TSetupPackageHeader result;
  result.Crc = LoadLE32(header + 4);
  result.Length = LoadLE32(header + 8);
  const int64_t input = std::max<int64_t>(stream.Size() - stream.Position(), 0);
  if (result.Length > input * kMaxExpansion) throw ESetupPackageReadError();
  return result;
}

TSetupPackageReader::TSetupPackageReader(TStream& stream, StringView keyText) {
  const TSetupPackageHeader header = ReadSetupPackageHeader(stream);
  const uint32_t crc = header.Crc;
  const int64_t length = header.Length;
  const int64_t input = std::max<int64_t>(stream.Size() - stream.Position(), 0);

  TSetupKey key;
  key.Initialize(keyText);
  payload_.Reserve(std::min(length, input * kReserveRatio + kChunk));
  TLZMAStreams streams;
  streams.SourceStream = &stream;
  streams.SourcePreprocessor = [&key](uint8_t* buffer, size_t size) { key.Apply(buffer, size); };
  streams.DestStream = &payload_;
  LzmaDecodeStream(streams, length);

  if (payload_.Size() != length) throw ESetupPackageReadError();
  if (PackageCrc32(payload_.Memory(), static_cast<size_t>(length)) != crc)
    throw ESetupPackageReadError();

  // The table: its byte length in the last 4 bytes, the table just before.
  if (length < 4) throw EReadError();
  payload_.SetPosition(length - 4);
  const int32_t table_size = payload_.ReadValue<int32_t>();
  if (table_size < 0 || table_size > length - 4) throw EReadError();
  payload_.SetPosition(length - 4 - table_size);
  table_.LoadFromStream(payload_);
  for (int i = 0; i < table_.Count(); ++i) {
    const auto& item = table_.Items(i);
    if (item.Offset > length || item.Size > length - item.Offset) throw EReadError();
  }
  payload_.SetPosition(0);
}

bool TSetupPackageReader::Exists(StringView name) const {
  std::lock_guard<std::mutex> guard(lock_);
  return table_.Find(name) != nullptr;
}

bool TSetupPackageReader::Extract(StringView name, std::unique_ptr<TMemoryStream>& stream) const {
  std::lock_guard<std::mutex> guard(lock_);
  const TSetupPackageFileTableItem* item = table_.Find(name);
  if (!item) return false;
  // Entries were checked against the payload when the package was read.
  const auto first = payload_.Bytes().begin() + static_cast<ptrdiff_t>(item->Offset);
  stream = std::make_unique<TMemoryStream>(
      std::vector<uint8_t>(first, first + static_cast<ptrdiff_t>(item->Size)));
  return true;
}

bool TSetupPackageReader::View(StringView name,
                               std::unique_ptr<TReadOnlyMemoryStream>& stream) const {
  std::lock_guard<std::mutex> guard(lock_);
  const TSetupPackageFileTableItem* item = table_.Find(name);
  if (!item) return false;
  stream = std::make_unique<TReadOnlyMemoryStream>(payload_.Bytes().data() + item->Offset, item->Size);
  return true;
}

// --- TSetupPackageBuilder -----------------------------------------------------

TSetupPackageBuilder::TSetupPackageBuilder(StringView keyText) : key_(keyText) {
  TSetupKey check;
  check.Initialize(key_);
}

void TSetupPackageBuilder::Add(TStream& source, StringView name) {
  if (table_appended_) throw EInvalidOperation(u"The package was already committed");
  if (name.size() > std::numeric_limits<uint16_t>::max())
    throw EInvalidOperation(u"Package file name is too long: " + String(name.substr(0, 64)));
  const int64_t size = std::max<int64_t>(source.Size() - source.Position(), 0);
  auto& item = table_.Add();
  item.Name = String(name);
  item.Offset = payload_.Position();
  item.Size = size;
  try {
    if (size > 0) payload_.CopyFrom(source, size);
  } catch (...) {
    // Leave no entry without its data behind.
    payload_.SetSize(item.Offset);
    table_.Delete(table_.Count() - 1);
    throw;
  }
}

void TSetupPackageBuilder::SaveToFile(const String& fileName, int level) {
  String error;
  auto file = VelSystem().CreateFileWrite(fileName, error);
  if (!file) throw EFOpenError(fileName, error);
  Commit(*file, level);
}

void TSetupPackageBuilder::Commit(TStream& destination, int level) {
  if (!table_appended_) {
    TMemoryStream table;
    table_.SaveToStream(table);
    const int64_t total = payload_.Size() + table.Size() + 4;
    if (total > std::numeric_limits<uint32_t>::max())
      throw EInvalidOperation(u"The package payload must be smaller than 4 GiB");
    payload_.Seek(0, SeekOrigin::End);
    payload_.WriteBuffer(table.Memory(), table.Size());
    payload_.WriteValue<int32_t>(static_cast<int32_t>(table.Size()));
    table_appended_ = true;
  }
  const uint32_t length = static_cast<uint32_t>(payload_.Size());
  const uint32_t crc = PackageCrc32(payload_.Memory(), length);
  uint8_t header[kHeaderSize];
  std::memcpy(header, kMagic, sizeof kMagic);
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    header[8 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  destination.WriteBuffer(header, kHeaderSize);

  TSetupKey key;
  key.Initialize(key_);
  payload_.SetPosition(0);
  std::unique_ptr<TProgressStream> progress;
  TLZMAStreams streams;
  streams.SourceStream = &payload_;
  if (OnProgress) {
    progress = std::make_unique<TProgressStream>(payload_, OnProgress);
    streams.SourceStream = progress.get();
  }
  streams.DestStream = &destination;
  streams.DestPreprocessor = [&key](uint8_t* buffer, size_t size) { key.Apply(buffer, size); };
  LzmaEncodeStream(streams, level);
}
