// Helpers shared by the package tests: building packages in memory and
// hand-made packages around arbitrary payloads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lib/stream.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"
#include "package/setup_package.h"

namespace package_test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Deterministic filler that compresses a little.
inline Bytes Pattern(size_t size, uint32_t seed = 1) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>((x >> 16) % 17 + 'a');
  }
  return b;
}

struct TFile {
  String name;
  Bytes data;
};

inline Bytes Build(const std::vector<TFile>& files, int level = 4,
                   StringView key = kSetupPackageKey) {
  TSetupPackageBuilder builder(key);
  for (const auto& f : files) {
    TMemoryStream source(f.data);
    builder.Add(source, f.name);
  }
  TMemoryStream out;
  builder.Commit(out, level);
  return out.Bytes();
}

inline std::unique_ptr<TSetupPackageReader> Read(const Bytes& package,
                                                 StringView key = kSetupPackageKey) {
  TReadOnlyMemoryStream stream(package.data(), static_cast<int64_t>(package.size()));
  return std::make_unique<TSetupPackageReader>(stream, key);
}

inline Bytes ExtractBytes(const TSetupPackageReader& reader, StringView name) {
  std::unique_ptr<TMemoryStream> s;
  if (!reader.Extract(name, s)) return {};
  return s->Bytes();
}

// A package file around any payload, with a correct header and cipher.
inline Bytes WrapPayload(const Bytes& payload, int level = 4, StringView key = kSetupPackageKey) {
  TMemoryStream out;
  const uint32_t crc = PackageCrc32(payload.data(), payload.size());
  const uint32_t length = static_cast<uint32_t>(payload.size());
  out.WriteBuffer("IPK5", 4);
  out.WriteValue(crc);
  out.WriteValue(length);
  TSetupKey cipher;
  cipher.Initialize(key);
  TMemoryStream source(payload);
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &out;
  streams.DestPreprocessor = [&cipher](uint8_t* b, size_t n) { cipher.Apply(b, n); };
  LzmaEncodeStream(streams, level);
  return out.Bytes();
}

// Deciphers (or enciphers) the region from offset 12 of a package file.
inline void ApplyCipher(Bytes& package, StringView key = kSetupPackageKey) {
  TSetupKey cipher;
  cipher.Initialize(key);
  cipher.Apply(package.data() + 12, package.size() - 12);
}

// A payload from raw pieces: file data, then a table written by hand.
class TPayloadWriter {
 public:
  TPayloadWriter& Data(const Bytes& b) {
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
  }
  TPayloadWriter& I16(uint16_t v) { return Put(v, 2, table_); }
  TPayloadWriter& I32(int32_t v) { return Put(static_cast<uint32_t>(v), 4, table_); }
  TPayloadWriter& I64(int64_t v) { return Put(static_cast<uint64_t>(v), 8, table_); }
  TPayloadWriter& Name(const std::u16string& n) {
    I16(static_cast<uint16_t>(n.size()));
    for (char16_t c : n) I16(c);
    return *this;
  }
  // Finishes with the real table size, or the one given.
  Bytes Finish() const { return Finish(static_cast<int32_t>(table_.size())); }
  Bytes Finish(int32_t table_size) const {
    Bytes out = data_;
    out.insert(out.end(), table_.begin(), table_.end());
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(table_size) >> (8 * i)));
    return out;
  }

 private:
  TPayloadWriter& Put(uint64_t v, int size, Bytes& to) {
    for (int i = 0; i < size; ++i) to.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes data_, table_;
};

}  // namespace package_test
