#include "lib/text_encoding.h"

#include "lib/system.h"

std::vector<uint8_t> EncodingBom(TVelEncoding encoding) {
  switch (encoding) {
    case TVelEncoding::Utf8:
      return {0xEF, 0xBB, 0xBF};
    case TVelEncoding::Utf16LE:
      return {0xFF, 0xFE};
    case TVelEncoding::Utf16BE:
      return {0xFE, 0xFF};
    case TVelEncoding::Ansi:
      break;
  }
  return {};
}

TVelEncoding DetectEncoding(const uint8_t* data, size_t size, size_t& bomLength) {
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    bomLength = 3;
    return TVelEncoding::Utf8;
  }
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    bomLength = 2;
    return TVelEncoding::Utf16LE;
  }
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
    bomLength = 2;
    return TVelEncoding::Utf16BE;
  }
  bomLength = 0;
  return TVelEncoding::Ansi;
}

String DecodeText(const uint8_t* data, size_t size, TVelEncoding encoding) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  switch (encoding) {
    case TVelEncoding::Utf8: {
      String out;
      if (TryUtf8ToUtf16(bytes, out)) return out;
      return AnsiToUnicode(bytes);
    }
    case TVelEncoding::Utf16LE:
    case TVelEncoding::Utf16BE: {
      const bool le = encoding == TVelEncoding::Utf16LE;
      String out(size / 2, u'\0');
      for (size_t i = 0; i < out.size(); ++i) {
        const unsigned lo = data[2 * i + (le ? 0 : 1)], hi = data[2 * i + (le ? 1 : 0)];
        out[i] = static_cast<char16_t>(lo | (hi << 8));
      }
      return out;
    }
    case TVelEncoding::Ansi:
      break;
  }
  return AnsiToUnicode(bytes);
}

String DecodeTextAuto(const std::vector<uint8_t>& bytes, TVelEncoding& detected) {
  size_t bom = 0;
  detected = DetectEncoding(bytes.data(), bytes.size(), bom);
  return DecodeText(bytes.data() + bom, bytes.size() - bom, detected);
}

String DecodeTextAs(const std::vector<uint8_t>& bytes, TVelEncoding encoding) {
  size_t bom = 0;
  if (DetectEncoding(bytes.data(), bytes.size(), bom) != encoding) bom = 0;
  return DecodeText(bytes.data() + bom, bytes.size() - bom, encoding);
}

namespace {

bool HasUnpairedSurrogate(StringView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return true;
  }
  return false;
}

}  // namespace

std::string EncodeText(StringView text, TVelEncoding encoding) {
  switch (encoding) {
    case TVelEncoding::Utf8:
      return Utf16ToUtf8(text);
    case TVelEncoding::Utf16LE:
    case TVelEncoding::Utf16BE: {
      const bool le = encoding == TVelEncoding::Utf16LE;
      std::string out(text.size() * 2, '\0');
      for (size_t i = 0; i < text.size(); ++i) {
        const char lo = static_cast<char>(text[i] & 0xFF), hi = static_cast<char>(text[i] >> 8);
        out[2 * i] = le ? lo : hi;
        out[2 * i + 1] = le ? hi : lo;
      }
      return out;
    }
    case TVelEncoding::Ansi:
      break;
  }
  return UnicodeToAnsi(text);
}

bool TryEncodeText(StringView text, TVelEncoding encoding, std::string& out) {
  switch (encoding) {
    case TVelEncoding::Utf8:
      if (HasUnpairedSurrogate(text)) return false;
      out = Utf16ToUtf8(text);
      return true;
    case TVelEncoding::Utf16LE:
    case TVelEncoding::Utf16BE:
      out = EncodeText(text, encoding);
      return true;
    case TVelEncoding::Ansi:
      break;
  }
  // The code page may replace characters by '?' or by similar ones; only a
  // conversion that gives the same text back is exact.
  out = UnicodeToAnsi(text);
  return AnsiToUnicode(out) == text;
}

TVelEncoding WriteEncodedText(TStream& stream, StringView text, TVelEncoding encoding) {
  std::string bytes;
  if (!TryEncodeText(text, encoding, bytes)) {
    encoding = TVelEncoding::Utf16LE;
    bytes = EncodeText(text, encoding);
  }
  const std::vector<uint8_t> bom = EncodingBom(encoding);
  if (!bom.empty()) stream.WriteBuffer(bom.data(), static_cast<int64_t>(bom.size()));
  if (!bytes.empty()) stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return encoding;
}
