#include "lib/strings.h"

namespace {

// Decodes one UTF-8 sequence at text[i]; returns false on malformed input.
bool DecodeUtf8(std::string_view text, size_t& i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  int extra;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

String Utf8Decode(std::string_view text, bool strict, bool& ok) {
  String out;
  out.reserve(text.size());
  ok = true;
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (DecodeUtf8(text, i, cp)) {
      AppendUtf16(out, cp);
    } else {
      ok = false;
      if (strict) return {};
      out.push_back(0xFFFD);
      ++i;
    }
  }
  return out;
}

bool IsBlank(char16_t c) {
  return c <= 32;
}

}  // namespace

String Utf8ToUtf16(std::string_view text) {
  bool ok;
  return Utf8Decode(text, false, ok);
}

bool TryUtf8ToUtf16(std::string_view text, String& out) {
  bool ok;
  out = Utf8Decode(text, true, ok);
  return ok;
}

std::string Utf16ToUtf8(StringView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void AppendUtf16(String& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {
// Windows-1252 bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

char16_t Windows1252ToUnicode(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

bool UnicodeToWindows1252(char16_t c, char& byte) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    byte = static_cast<char>(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) {
      byte = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

String StripAccessKey(StringView caption) {
  String result;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
    result += caption[i];
  }
  return result;
}

char16_t CaptionAccessKey(StringView caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] != u'&') return caption[i + 1];
    ++i;
  }
  return 0;
}

char16_t AsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? c - 32 : c;
}
char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + 32 : c;
}

bool SameTextAscii(StringView a, StringView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

String UpperAscii(StringView text) {
  String s(text);
  for (auto& c : s) c = AsciiUpper(c);
  return s;
}

String LowerAscii(StringView text) {
  String s(text);
  for (auto& c : s) c = AsciiLower(c);
  return s;
}

String Trim(StringView text) {
  return TrimRight(TrimLeft(text));
}

String TrimLeft(StringView text) {
  size_t b = 0;
  while (b < text.size() && IsBlank(text[b])) ++b;
  return String(text.substr(b));
}

String TrimRight(StringView text) {
  size_t e = text.size();
  while (e > 0 && IsBlank(text[e - 1])) --e;
  return String(text.substr(0, e));
}

String IntToStr(int64_t value) {
  const std::string s = std::to_string(value);
  return String(s.begin(), s.end());
}

bool TryStrToInt(StringView text, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int base = 10;
  if (i < text.size() && text[i] == u'$') {
    base = 16, ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16, i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t acc = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return false;
    }
    acc = acc * base + digit;
    if (acc > 0xFFFFFFFFull) return false;
  }
  if (base == 10) {
    if (!negative && acc > 0x7FFFFFFFull) return false;
    if (negative && acc > 0x80000000ull) return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(acc)) : static_cast<int32_t>(acc);
  } else {
    // Hexadecimal covers the full 32 bits, as two's complement.
    const auto bits = static_cast<uint32_t>(acc);
    value = static_cast<int32_t>(negative ? 0u - bits : bits);
  }
  return true;
}

int32_t StrToIntDef(StringView text, int32_t def) {
  int32_t v;
  return TryStrToInt(text, v) ? v : def;
}

bool StartsWith(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(StringView text, StringView suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

String IncludeTrailingBackslash(StringView path) {
  String s(path);
  if (s.empty() || s.back() != u'\\') s.push_back(u'\\');
  return s;
}

String ExcludeTrailingBackslash(StringView path) {
  String s(path);
  if (!s.empty() && s.back() == u'\\') s.pop_back();
  return s;
}

namespace {
size_t LastDelimiter(StringView path) {
  for (size_t i = path.size(); i > 0; --i)
    if (path[i - 1] == u'\\' || path[i - 1] == u':') return i;
  return 0;
}
}  // namespace

String ExtractFilePath(StringView path) {
  return String(path.substr(0, LastDelimiter(path)));
}
String ExtractFileName(StringView path) {
  return String(path.substr(LastDelimiter(path)));
}

String ExtractFileExt(StringView path) {
  for (size_t i = path.size(); i > 0; --i) {
    const char16_t c = path[i - 1];
    if (c == u'.') return String(path.substr(i - 1));
    if (c == u'\\' || c == u':') break;
  }
  return {};
}

String ExtractFileDrive(StringView path) {
  if (path.size() >= 2 && path[1] == u':') return String(path.substr(0, 2));
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    // "\\server\share" up to (not including) the separator after the share.
    size_t i = 2;
    int parts = 0;
    while (i < path.size()) {
      if (path[i] == u'\\' && ++parts == 2) break;
      ++i;
    }
    if (parts >= 1) return String(path.substr(0, i));
  }
  return {};
}
