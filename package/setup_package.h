// The package container "IPK5": a flat, named collection of files whose
// payload (all file contents, then a file table) is checksummed, compressed
// with raw LZMA1 and enciphered with a repeating-key XOR.
//
// File layout (little-endian):
//   0  4  "IPK5"
//   4  4  CRC-32 of the uncompressed payload (see package_crc.h)
//   8  4  length of the uncompressed payload
//   12 5  LZMA1 properties        \  enciphered, the key stream starting
//   17 .. raw LZMA1 data          /  at offset 12; trailing bytes ignored
// Payload: file data back to back, then the table (signed 32-bit count;
// per entry a 16-bit name length, UTF-16LE name, signed 64-bit offset and
// size), then the table's byte length as a signed 32-bit integer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "lib/strings.h"

// The key string of every package of this system.
inline constexpr char16_t kSetupPackageKey[] = u"9071236480";

// Raised for every integrity failure of a package: "Package was corrupted".
class ESetupPackageReadError : public Exception {
 public:
  ESetupPackageReadError();
};

// The cipher state. Apply XORs each byte with the next key byte; the position
// carries over between calls, so one key stream runs over the whole
// enciphered region however it is split. Applying it twice restores the data.
struct TSetupKey {
  std::vector<uint8_t> Key;  // the key text in the ANSI code page
  int32_t Position = 0;

  // Raises EInvalidOperation for an empty key.
  void Initialize(StringView keyText);
  void Apply(void* buffer, size_t length);
};

// The plain header in front of the enciphered data.
struct TSetupPackageHeader {
  uint32_t Crc = 0;     // of the uncompressed payload
  int64_t Length = 0;   // of the uncompressed payload
};

// Reads the header at the stream's position. Raises EReadError when it is
// short, ESetupPackageReadError for a wrong magic or a length that the rest
// of the stream could not decode to.
TSetupPackageHeader ReadSetupPackageHeader(TStream& stream);

struct TSetupPackageFileTableItem {
  int64_t Offset = 0;
  int64_t Size = 0;
  String Name;
};

// The ordered, owning list of entries (insertion order is stored order).
class TSetupPackageFileTable {
 public:
  // Names are set through the returned item before the next lookup.
  TSetupPackageFileTableItem& Add();
  // The first item whose name has the same length and is equal without
  // regard to case in the user's locale; null when there is none. Looked
  // up through an index (built at the first lookup after a change), so that
  // finding every entry of a large package is not quadratic in locale
  // comparisons.
  const TSetupPackageFileTableItem* Find(StringView name) const;
  bool Find(StringView name, const TSetupPackageFileTableItem*& item) const;
  int Count() const { return static_cast<int>(items_.size()); }
  const TSetupPackageFileTableItem& Items(int index) const { return *items_.at(index); }
  void Clear();
  void Delete(int index);

  // Reads the count and the entries from the stream's position. Raises
  // EReadError ("Stream read error") when an entry runs past the end of the
  // stream or holds a negative offset or size; a count of zero or less
  // gives an empty table.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;

 private:
  void Changed();
  void BuildIndex() const;

  std::vector<std::unique_ptr<TSetupPackageFileTableItem>> items_;
  // Names of printable ASCII only, folded, to their items' indexes in
  // stored order; the indexes of all other names. Guarded by indexLock_.
  mutable std::mutex indexLock_;
  mutable bool indexed_ = false;
  mutable std::unordered_map<String, std::vector<int>> plainIndex_;
  mutable std::vector<int> otherNames_;
};

// The base of reader and builder: the table and the uncompressed payload.
class TCustomSetupPackage {
 public:
  TCustomSetupPackage() = default;
  TCustomSetupPackage(const TCustomSetupPackage&) = delete;
  TCustomSetupPackage& operator=(const TCustomSetupPackage&) = delete;
  virtual ~TCustomSetupPackage() = default;

  const TSetupPackageFileTable& FileTable() const { return table_; }

 protected:
  TSetupPackageFileTable table_;
  TMemoryStream payload_;
};

// A decoded and verified package, held in memory. Exists and Extract may be
// called from several threads at once.
class TSetupPackageReader : public TCustomSetupPackage {
 public:
  // Reads a package from the stream's current position; the stream is not
  // kept. Raises ESetupPackageReadError for a wrong magic, a payload of the
  // wrong length or checksum; EReadError for a short header or a table that
  // runs outside the payload; EInvalidOperation "LZMA Error (%d)" for a
  // codec failure. keyText is for packages made with another key.
  explicit TSetupPackageReader(TStream& stream, StringView keyText = kSetupPackageKey);

  bool Exists(StringView name) const;
  // A new memory stream with a copy of the file, positioned at 0; false
  // (and stream untouched) when there is no such file.
  bool Extract(StringView name, std::unique_ptr<TMemoryStream>& stream) const;
  // A read-only stream over the file's bytes inside the payload, positioned
  // at 0, without copying them; valid as long as the reader. False (and
  // stream untouched) when there is no such file.
  bool View(StringView name, std::unique_ptr<TReadOnlyMemoryStream>& stream) const;
  // The whole decoded payload (file data, table, table size).
  const std::vector<uint8_t>& Payload() const { return payload_.Bytes(); }

 private:
  mutable std::mutex lock_;
};

// Collects files in memory and writes a package in one step.
class TSetupPackageBuilder : public TCustomSetupPackage {
 public:
  // keyText must not be empty (EInvalidOperation).
  explicit TSetupPackageBuilder(StringView keyText = kSetupPackageKey);

  // Appends the bytes of source from its current position to its end under
  // name (at most 65535 code units, else EInvalidOperation).
  void Add(TStream& source, StringView name);
  // Creates or truncates the file and commits into it; an unopenable file
  // raises EFOpenError "Cannot open file \"%s\". %s".
  void SaveToFile(const String& fileName, int level);
  // Writes the package at the destination's position. Level 0-9 is the
  // compression level (4 for the uninstall data). Raises EInvalidOperation
  // when the payload would reach 4 GiB or for "LZMA Error (%d)".
  void Commit(TStream& destination, int level);

  // Optional: told the uncompressed bytes handed to the compressor so far
  // and the payload's total, while Commit runs.
  std::function<void(int64_t done, int64_t total)> OnProgress;

 private:
  String key_;
  bool table_appended_ = false;
};
