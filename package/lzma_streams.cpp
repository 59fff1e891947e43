#include "package/lzma_streams.h"

#include <lzma.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "lib/exceptions.h"

namespace {

constexpr size_t kInputChunk = 1 << 16;
constexpr size_t kOutputChunk = 1 << 18;
constexpr uint32_t kMinDictionary = 4096;

[[noreturn]] void RaiseLzmaError(int code) {
  const std::string text = "LZMA Error (" + std::to_string(code) + ")";
  throw EInvalidOperation(String(text.begin(), text.end()));
}

uint32_t LevelDictionary(int level) {
  if (level <= 5) return uint32_t{1} << (2 * level + 14);
  return level == 6 ? uint32_t{1} << 25 : uint32_t{1} << 26;
}

// Owns a liblzma stream.
class TLzmaStream {
 public:
  TLzmaStream() = default;
  TLzmaStream(const TLzmaStream&) = delete;
  TLzmaStream& operator=(const TLzmaStream&) = delete;
  ~TLzmaStream() { lzma_end(&strm_); }
  lzma_stream* operator->() { return &strm_; }
  lzma_stream* get() { return &strm_; }

 private:
  lzma_stream strm_ = LZMA_STREAM_INIT;
};

// Passes bytes to the destination, raising the codec error when it refuses.
void WriteOut(const TLZMAStreams& streams, uint8_t* data, size_t size) {
  if (size == 0) return;
  if (streams.DestPreprocessor) streams.DestPreprocessor(data, size);
  while (size > 0) {
    const int64_t n = streams.DestStream->Write(data, static_cast<int64_t>(size));
    if (n <= 0) RaiseLzmaError(kLzmaWriteError);
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Reads up to size bytes (fewer only at the end of the source) and passes
// them through the transform.
size_t ReadIn(TStream& source, const TPreprocessor& transform, uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const int64_t n = source.Read(data + got, static_cast<int64_t>(size - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got > 0 && transform) transform(data, got);
  return got;
}

}  // namespace

void LzmaLevelProperties(int level, uint8_t properties[5]) {
  const uint32_t dictionary = LevelDictionary(level);
  properties[0] = (2 * 5 + 0) * 9 + 3;  // pb 2, lp 0, lc 3
  for (int i = 0; i < 4; ++i) properties[1 + i] = static_cast<uint8_t>(dictionary >> (8 * i));
}

namespace {

void EncodeStream(const TLZMAStreams& streams, int level) {
  if (level < 0 || level > 9) RaiseLzmaError(LZMA_OPTIONS_ERROR);
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, static_cast<uint32_t>(level))) RaiseLzmaError(LZMA_OPTIONS_ERROR);
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  // The stored dictionary size is the level's; the encoder itself needs no
  // window larger than the data, which keeps small packages cheap to build.
  const uint32_t declared = LevelDictionary(level);
  const int64_t remaining =
      std::max<int64_t>(streams.SourceStream->Size() - streams.SourceStream->Position(), 0);
  options.dict_size = static_cast<uint32_t>(
      std::min<int64_t>(declared, std::max<int64_t>(kMinDictionary, remaining)));
  options.ext_flags = 0;  // no end marker
  options.ext_size_low = UINT32_MAX;
  options.ext_size_high = UINT32_MAX;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  TLzmaStream strm;
  lzma_ret ret = lzma_raw_encoder(strm.get(), filters);
  if (ret != LZMA_OK) RaiseLzmaError(ret);

  uint8_t properties[5];
  LzmaLevelProperties(level, properties);
  WriteOut(streams, properties, sizeof properties);

  std::vector<uint8_t> in(1 << 20), out(kOutputChunk);
  bool finished_input = false;
  strm->next_out = out.data();
  strm->avail_out = out.size();
  for (;;) {
    if (strm->avail_in == 0 && !finished_input) {
      const size_t n = ReadIn(*streams.SourceStream, nullptr, in.data(), in.size());
      if (n == 0) finished_input = true;
      strm->next_in = in.data();
      strm->avail_in = n;
    }
    ret = lzma_code(strm.get(), finished_input ? LZMA_FINISH : LZMA_RUN);
    if (strm->avail_out == 0 || ret == LZMA_STREAM_END) {
      WriteOut(streams, out.data(), out.size() - strm->avail_out);
      strm->next_out = out.data();
      strm->avail_out = out.size();
    }
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) RaiseLzmaError(ret);
  }
}

void DecodeStream(const TLZMAStreams& streams, int64_t outputLength) {
  uint8_t properties[5];
  if (ReadIn(*streams.SourceStream, streams.SourcePreprocessor, properties, sizeof properties) <
      sizeof properties)
    return;
  if (properties[0] >= 9 * 5 * 5) RaiseLzmaError(LZMA_OPTIONS_ERROR);
  if (outputLength <= 0) return;

  lzma_options_lzma options{};
  options.lc = properties[0] % 9;
  options.lp = properties[0] / 9 % 5;
  options.pb = properties[0] / 45;
  // liblzma's LZMA1 decoder supports lc + lp up to 4, as every encoder
  // preset uses; wider literal contexts count as unsupported properties.
  if (options.lc + options.lp > LZMA_LCLP_MAX) RaiseLzmaError(LZMA_OPTIONS_ERROR);
  uint32_t dictionary = 0;
  for (int i = 0; i < 4; ++i) dictionary |= uint32_t{properties[1 + i]} << (8 * i);
  // A window larger than the whole output is never used; bounding it keeps a
  // damaged size field from claiming gigabytes.
  options.dict_size = static_cast<uint32_t>(
      std::max<int64_t>(kMinDictionary, std::min<int64_t>(dictionary, outputLength)));

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  TLzmaStream strm;
  lzma_ret ret = lzma_raw_decoder(strm.get(), filters);
  if (ret != LZMA_OK) RaiseLzmaError(ret);

  // Appending to a memory stream: decode straight into its storage.
  auto* memory = dynamic_cast<TMemoryStream*>(streams.DestStream);
  if (memory && (streams.DestPreprocessor || memory->Position() != memory->Size()))
    memory = nullptr;
  std::vector<uint8_t> out;
  if (!memory) out.resize(static_cast<size_t>(std::min<int64_t>(outputLength, kOutputChunk)));

  std::vector<uint8_t> in(kInputChunk);
  bool end_of_input = false;
  int64_t remaining = outputLength;
  while (remaining > 0) {
    if (strm->avail_in == 0 && !end_of_input) {
      const size_t n =
          ReadIn(*streams.SourceStream, streams.SourcePreprocessor, in.data(), in.size());
      if (n == 0) end_of_input = true;
      strm->next_in = in.data();
      strm->avail_in = n;
    }
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(remaining, kOutputChunk));
    uint8_t* target;
    size_t base = 0;
    if (memory) {
      auto& bytes = memory->Bytes();
      base = bytes.size();
      bytes.resize(base + chunk);
      target = bytes.data() + base;
    } else {
      target = out.data();
    }
    const size_t in_before = strm->avail_in;
    strm->next_out = target;
    strm->avail_out = chunk;
    ret = lzma_code(strm.get(), LZMA_RUN);
    const size_t produced = chunk - strm->avail_out;
    if (memory) {
      memory->Bytes().resize(base + produced);
      memory->Seek(0, SeekOrigin::End);
    } else {
      WriteOut(streams, target, produced);
    }
    remaining -= static_cast<int64_t>(produced);
    // Running out of input and damaged data both end decoding silently:
    // the caller sees the output fall short of the expected length.
    if (ret == LZMA_STREAM_END || ret == LZMA_DATA_ERROR || ret == LZMA_BUF_ERROR) break;
    if (ret != LZMA_OK) RaiseLzmaError(ret);
    if (produced == 0 && in_before == strm->avail_in && end_of_input) break;
  }
}

}  // namespace

// The payload buffers are part of the codec's memory: running out of it is
// the codec's out-of-memory error.
void LzmaEncodeStream(const TLZMAStreams& streams, int level) {
  try {
    EncodeStream(streams, level);
  } catch (const std::bad_alloc&) {
    RaiseLzmaError(LZMA_MEM_ERROR);
  }
}

void LzmaDecodeStream(const TLZMAStreams& streams, int64_t outputLength) {
  try {
    DecodeStream(streams, outputLength);
  } catch (const std::bad_alloc&) {
    RaiseLzmaError(LZMA_MEM_ERROR);
  }
}
