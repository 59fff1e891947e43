// The checksum, the cipher and the raw LZMA1 stream routines.
#include <gtest/gtest.h>
#include <lzma.h>

#include <cstring>
#include <random>

#include "lib/exceptions.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"
#include "package/setup_package.h"
#include "package_test_util.h"

using namespace package_test;

namespace {

uint32_t BitwiseCrc(const Bytes& data) {
  uint32_t crc = 0;
  for (uint8_t b : data) {
    crc ^= uint32_t{b} << 24;
    for (int i = 0; i < 8; ++i) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

Bytes Encode(const Bytes& data, int level) {
  TMemoryStream source(data), out;
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &out;
  LzmaEncodeStream(streams, level);
  return out.Bytes();
}

Bytes Decode(const Bytes& encoded, int64_t length) {
  TMemoryStream source(encoded), out;
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &out;
  LzmaDecodeStream(streams, length);
  return out.Bytes();
}

std::string LzmaErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EInvalidOperation& e) {
    return e.what();
  }
  return "no error";
}

// A stream that accepts nothing.
class TFullStream : public TMemoryStream {
 public:
  int64_t Write(const void*, int64_t) override { return 0; }
};

// A plain stream that is not a memory stream; optionally refuses to write.
class TSinkStream : public TStream {
 public:
  explicit TSinkStream(bool refuse = false) : refuse_(refuse) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    if (refuse_) return 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    bytes.insert(bytes.end(), p, p + count);
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(bytes.size()); }
  void SetSize(int64_t) override {}
  Bytes bytes;

 private:
  bool refuse_;
};

}  // namespace

TEST(PackageCrc, CheckValuesAndSlicing) {
  EXPECT_EQ(PackageCrc32("123456789", 9), 0x89A1897Fu);
  EXPECT_EQ(PackageCrc32("abc", 3), 0x2C17398Cu);
  EXPECT_EQ(PackageCrc32("", 0), 0u);
  // Every length and alignment around the 8-byte steps agrees with the
  // bit-by-bit definition, also when continued piece by piece.
  const Bytes data = Pattern(300, 7);
  for (size_t start = 0; start < 9; ++start)
    for (size_t len = 0; start + len <= 80; ++len) {
      const Bytes part(data.begin() + start, data.begin() + start + len);
      const uint32_t whole = PackageCrc32(part.data(), part.size());
      ASSERT_EQ(whole, BitwiseCrc(part)) << start << " " << len;
      const size_t cut = len / 3;
      ASSERT_EQ(UpdatePackageCrc(PackageCrc32(part.data(), cut), part.data() + cut, len - cut),
                whole);
    }
}

TEST(PackageCrc, LargeBuffersAndContinuation) {
  // Large buffers take a different path: sizes around its threshold, odd
  // remainders, and continuing from a non-zero register.
  const Bytes data = Pattern(200000, 11);
  for (size_t size : {4095, 4096, 4097, 4103, 12289, 100000, 199999}) {
    const Bytes part(data.begin(), data.begin() + static_cast<ptrdiff_t>(size));
    const uint32_t expected = BitwiseCrc(part);
    EXPECT_EQ(PackageCrc32(part.data(), size), expected) << size;
    for (size_t cut : {size_t{1}, size_t{13}, size / 2}) {
      const uint32_t head = PackageCrc32(part.data(), cut);
      EXPECT_EQ(UpdatePackageCrc(head, part.data() + cut, size - cut), expected)
          << size << " " << cut;
    }
  }
}

TEST(PackageKey, KeyStreamRunsAcrossCalls) {
  Bytes data = Pattern(5000, 3);
  const Bytes original = data;
  TSetupKey whole;
  whole.Initialize(kSetupPackageKey);
  ASSERT_EQ(whole.Key, ToBytes("9071236480"));
  Bytes expected = data;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] ^= "9071236480"[i % 10];
  whole.Apply(data.data(), data.size());
  EXPECT_EQ(data, expected);
  EXPECT_EQ(whole.Position, static_cast<int32_t>(5000 % 10));

  // Split at uneven points (short and long pieces) the key stream continues.
  std::mt19937 rng(5);
  TSetupKey pieces;
  pieces.Initialize(kSetupPackageKey);
  for (size_t pos = 0; pos < data.size();) {
    const size_t n = std::min<size_t>(rng() % 700, data.size() - pos);
    pieces.Apply(data.data() + pos, n);
    pos += n;
  }
  EXPECT_EQ(data, original);

  TSetupKey empty;
  EXPECT_THROW(empty.Initialize(u""), EInvalidOperation);
  EXPECT_THROW(TSetupPackageBuilder(u""), EInvalidOperation);
}

TEST(LzmaStreams, PropertiesByLevel) {
  const uint32_t dictionaries[10] = {1u << 14, 1u << 16, 1u << 18, 1u << 20, 1u << 22,
                                     1u << 24, 1u << 25, 1u << 26, 1u << 26, 1u << 26};
  const Bytes data = Pattern(3000);
  for (int level = 0; level <= 9; ++level) {
    const Bytes encoded = Encode(data, level);
    ASSERT_GE(encoded.size(), 5u);
    EXPECT_EQ(encoded[0], 0x5D) << level;
    uint32_t dict;
    std::memcpy(&dict, encoded.data() + 1, 4);
    EXPECT_EQ(dict, dictionaries[level]) << level;
    EXPECT_EQ(Decode(encoded, static_cast<int64_t>(data.size())), data) << level;
  }
  const Bytes level4 = Encode(data, 4);
  EXPECT_EQ(Bytes(level4.begin(), level4.begin() + 5), (Bytes{0x5D, 0x00, 0x00, 0x40, 0x00}));
}

TEST(LzmaStreams, NoEndMarkerAndTrailingBytesIgnored) {
  const Bytes data = Pattern(100000, 2);
  Bytes encoded = Encode(data, 4);
  // With an end marker, decoding one byte more would stop at the marker;
  // without one, a raw decoder told the size produces exactly the data.
  encoded.insert(encoded.end(), {0xFF, 0x00, 0x13, 0x37});
  EXPECT_EQ(Decode(encoded, static_cast<int64_t>(data.size())), data);
  // Asking for less stops there.
  EXPECT_EQ(Decode(encoded, 1000), Bytes(data.begin(), data.begin() + 1000));
}

TEST(LzmaStreams, AcceptsOtherValidProperties) {
  // A stream from another encoder setting: lc 0, lp 2, pb 0, 64 KiB.
  const Bytes data = Pattern(50000, 9);
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 1);
  options.lc = 0;
  options.lp = 2;
  options.pb = 0;
  options.dict_size = 1 << 16;
  options.ext_flags = 0;
  options.ext_size_low = options.ext_size_high = UINT32_MAX;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(data.size() + 1000);
  size_t out_pos = 0;
  ASSERT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &out_pos,
                                   out.size()),
            LZMA_OK);
  Bytes encoded = {static_cast<uint8_t>((0 * 5 + 2) * 9 + 0), 0x00, 0x00, 0x01, 0x00};
  encoded.insert(encoded.end(), out.begin(), out.begin() + static_cast<ptrdiff_t>(out_pos));
  EXPECT_EQ(Decode(encoded, static_cast<int64_t>(data.size())), data);
  // A larger dictionary field decodes the same data.
  for (uint32_t dict : {1u << 20, 0xFFFFFFFFu}) {
    std::memcpy(encoded.data() + 1, &dict, 4);
    EXPECT_EQ(Decode(encoded, static_cast<int64_t>(data.size())), data) << dict;
  }
}

TEST(LzmaStreams, Failures) {
  const Bytes data = Pattern(20000);
  Bytes encoded = Encode(data, 4);
  // Properties byte 225 and above: unsupported.
  // lc + lp above 4 is beyond liblzma's LZMA1 decoder.
  for (uint8_t props : {225, 255, (0 * 5 + 1) * 9 + 4, 8}) {
    Bytes bad = encoded;
    bad[0] = props;
    EXPECT_EQ(LzmaErrorOf([&] { Decode(bad, 20000); }), "LZMA Error (8)");
  }
  EXPECT_EQ(LzmaErrorOf([&] { Encode(data, 10); }), "LZMA Error (8)");
  EXPECT_EQ(LzmaErrorOf([&] { Encode(data, -1); }), "LZMA Error (8)");
  // A destination that takes nothing.
  EXPECT_EQ(LzmaErrorOf([&] {
              TMemoryStream source(data);
              TFullStream full;
              TLZMAStreams streams;
              streams.SourceStream = &source;
              streams.DestStream = &full;
              LzmaEncodeStream(streams, 4);
            }),
            "LZMA Error (9)");
  // Running out of input is not an error here: the output falls short.
  for (size_t cut :
       {size_t{0}, size_t{3}, size_t{5}, size_t{6}, encoded.size() / 2, encoded.size() - 6}) {
    const Bytes shorter(encoded.begin(), encoded.begin() + static_cast<ptrdiff_t>(cut));
    Bytes out;
    EXPECT_NO_THROW(out = Decode(shorter, 20000)) << cut;
    EXPECT_LT(out.size(), data.size()) << cut;
  }
}

TEST(LzmaStreams, SourceTransformSeesEveryByteOnce) {
  const Bytes data = Pattern(400000, 4);
  Bytes encoded = Encode(data, 4);
  for (uint8_t& b : encoded) b ^= 0x5A;
  TMemoryStream source(encoded);
  TSinkStream out;
  size_t seen = 0;
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &out;
  streams.SourcePreprocessor = [&seen](uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) b[i] ^= 0x5A;
    seen += n;
  };
  LzmaDecodeStream(streams, static_cast<int64_t>(data.size()));
  EXPECT_EQ(out.bytes, data);
  EXPECT_LE(seen, encoded.size());

  TMemoryStream again(Encode(data, 4));
  TSinkStream refusing(true);
  streams.SourceStream = &again;
  streams.DestStream = &refusing;
  streams.SourcePreprocessor = nullptr;
  EXPECT_EQ(LzmaErrorOf([&] { LzmaDecodeStream(streams, 1000); }), "LZMA Error (9)");
}
