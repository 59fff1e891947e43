// Raw LZMA1 stream routines of the package container: the five properties
// bytes (lc/lp/pb byte, dictionary size) are stored in front of the
// compressed data, there is no size field and no end marker; the decoder is
// told how many bytes to produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "lib/stream.h"

// A transform applied in place to every buffer on its way to or from a stream.
using TPreprocessor = std::function<void(uint8_t* buffer, size_t length)>;

struct TLZMAStreams {
  TPreprocessor DestPreprocessor;    // applied before each buffer is written, or none
  TStream* DestStream = nullptr;     // where output goes
  TPreprocessor SourcePreprocessor;  // applied after each buffer is read, or none
  TStream* SourceStream = nullptr;   // where input comes from
};

// Numbers in "LZMA Error (%d)" are liblzma's lzma_ret codes (5 out of memory,
// 8 unsupported options or properties, 11 internal misuse), except
// kLzmaWriteError: the destination refused bytes.
constexpr int kLzmaWriteError = 9;

// Writes the properties and the compressed data of SourceStream (from its
// current position to its end) to DestStream. Level 0-9 picks the preset:
// lc 3, lp 0, pb 2, dictionary 2^(2 * level + 14) bytes up to level 5,
// 32 MiB at 6 and 64 MiB at 7 and above. Raises EInvalidOperation
// "LZMA Error (%d)" when the codec fails or the destination refuses bytes.
void LzmaEncodeStream(const TLZMAStreams& streams, int level);

// Reads the properties and compressed data from SourceStream and writes
// decoded bytes to DestStream until outputLength bytes were produced or the
// input stops yielding progress (it ran out, or the data is damaged); the
// caller checks how much arrived. Raises EInvalidOperation "LZMA Error (%d)"
// for unsupported properties, lack of memory or a refusing destination.
void LzmaDecodeStream(const TLZMAStreams& streams, int64_t outputLength);

// The properties of a level as stored in front of the data.
void LzmaLevelProperties(int level, uint8_t properties[5]);
