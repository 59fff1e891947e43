// Text encodings of the library's text files: detection by byte-order mark,
// decoding with a fall-back to the ANSI code page, and encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"

enum class TVelEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

// The byte-order mark of an encoding (empty for Ansi).
std::vector<uint8_t> EncodingBom(TVelEncoding encoding);

// Recognises the byte-order mark at the start of data: EF BB BF (UTF-8),
// FF FE (UTF-16LE), FE FF (UTF-16BE); anything else is Ansi. bomLength gets
// the size of the mark found (0 for Ansi).
TVelEncoding DetectEncoding(const uint8_t* data, size_t size, size_t& bomLength);

// Decodes bytes (without a mark) in the given encoding. Bytes that are not
// valid in it (malformed UTF-8) are decoded in the ANSI code page instead.
// UTF-16 content is taken code unit by code unit; a stray final byte is
// ignored.
String DecodeText(const uint8_t* data, size_t size, TVelEncoding encoding);

// Detects the encoding by mark (or uses the given one, skipping its mark
// when present) and decodes the rest. Stores the encoding used in detected.
String DecodeTextAuto(const std::vector<uint8_t>& bytes, TVelEncoding& detected);
String DecodeTextAs(const std::vector<uint8_t>& bytes, TVelEncoding encoding);

// Encodes text without a mark. Characters the encoding cannot hold are
// replaced ('?' in the ANSI code page, U+FFFD for unpaired surrogates in
// UTF-8); TryEncodeText returns false in that case instead.
std::string EncodeText(StringView text, TVelEncoding encoding);
bool TryEncodeText(StringView text, TVelEncoding encoding, std::string& out);

// Writes the mark and the text. When the text cannot be written exactly in
// the requested encoding it is written as UTF-16LE with its mark instead, so
// that nothing is lost. Returns the encoding written.
TVelEncoding WriteEncodedText(TStream& stream, StringView text, TVelEncoding encoding);
