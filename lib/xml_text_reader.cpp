#include "lib/xml_text_reader.h"

#include <expat.h>

#include <cstring>
#include <deque>
#include <optional>
#include <string>

namespace {

// ---------------------------------------------------------------------------
// Input decoding. Everything is handed to expat as UTF-8 so that the encoding
// rules (byte-order marks, the declaration's encoding, rejected encodings)
// are ours. Bytes that cannot be decoded become 0xFF, which is never valid
// UTF-8: expat stops there and the error is reported as an encoding error.
//
// With character checking off, characters outside the XML range are handed
// to expat as stand-ins from the end of plane 16 and turned back when text is
// delivered: a control character c becomes U+10FF00 + c, U+FFFE and U+FFFF
// become U+10FFFE and U+10FFFF. A real character from U+10FF00..U+10FFFF is
// escaped as the pair U+10FF00, U+10FE00 + low byte.

constexpr uint32_t kStandInBase = 0x10FF00;
constexpr uint32_t kEscapeLow = 0x10FE00;
constexpr char kBadByte = '\xFF';

enum class Encoding { Utf8, Utf16LE, Utf16BE, Latin1, Ascii, Cp1252 };

// Decodes one UTF-8 sequence at p (n bytes available). Returns its length,
// 0 when the sequence is incomplete, or -1 when it is malformed.
int DecodeUtf8(const uint8_t* p, size_t n, uint32_t& cp) {
  const uint8_t b0 = p[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  int len;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i < len; ++i) {
    if (static_cast<size_t>(i) >= n) return 0;
    const uint8_t b = p[i];
    if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) return -1;
    cp = (cp << 6) | (b & 0x3F);
  }
  return len;
}

bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

class Decoder {
 public:
  Encoding encoding = Encoding::Utf8;
  bool checkCharacters = true;
  int64_t maxCharacters = 0;
  bool overLimit = false;

  void Decode(const uint8_t* data, size_t n, bool final, std::string& out) {
    if (!carry_.empty()) {
      std::string joined = carry_;
      if (n) joined.append(reinterpret_cast<const char*>(data), n);
      carry_.clear();
      Run(reinterpret_cast<const uint8_t*>(joined.data()), joined.size(), final, out);
    } else {
      Run(data, n, final, out);
    }
  }

 private:
  void Emit(std::string& out, uint32_t cp) {
    if (!Count()) return;
    if (!checkCharacters) {
      if (cp != 0 && cp < 0x20 && cp != 0x9 && cp != 0xA && cp != 0xD) {
        AppendUtf8(out, kStandInBase + cp);
        return;
      }
      if (cp == 0xFFFE || cp == 0xFFFF) {
        AppendUtf8(out, kStandInBase + (cp & 0xFF));
        return;
      }
      if (cp >= kStandInBase && cp <= 0x10FFFF) {
        AppendUtf8(out, kStandInBase);
        AppendUtf8(out, kEscapeLow + (cp & 0xFF));
        return;
      }
    }
    AppendUtf8(out, cp);
  }
  void EmitBad(std::string& out) {
    if (Count()) out.push_back(kBadByte);
  }
  bool Count() {
    if (overLimit) return false;
    if (maxCharacters > 0 && ++characters_ > maxCharacters) {
      overLimit = true;
      return false;
    }
    return true;
  }

  void Run(const uint8_t* p, size_t n, bool final, std::string& out) {
    out.reserve(out.size() + n + n / 2);
    size_t i = 0;
    switch (encoding) {
      case Encoding::Utf8:
        while (i < n) {
          const uint8_t b = p[i];
          if (b >= 0x20 && b < 0x80 && maxCharacters == 0) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
          }
          uint32_t cp;
          const int len = DecodeUtf8(p + i, n - i, cp);
          if (len == 0) {
            if (!final) {
              carry_.assign(reinterpret_cast<const char*>(p + i), n - i);
              return;
            }
            EmitBad(out);
            ++i;
          } else if (len < 0) {
            EmitBad(out);
            ++i;
          } else {
            Emit(out, cp);
            i += static_cast<size_t>(len);
          }
        }
        break;
      case Encoding::Utf16LE:
      case Encoding::Utf16BE: {
        const bool le = encoding == Encoding::Utf16LE;
        auto unit = [&](size_t k) -> uint32_t {
          return le ? (p[k] | (p[k + 1] << 8)) : ((p[k] << 8) | p[k + 1]);
        };
        while (i < n) {
          if (n - i < 2) {
            if (!final) {
              carry_.assign(reinterpret_cast<const char*>(p + i), n - i);
              return;
            }
            EmitBad(out);
            break;
          }
          const uint32_t u = unit(i);
          if (u >= 0xD800 && u <= 0xDBFF) {
            if (n - i < 4) {
              if (!final) {
                carry_.assign(reinterpret_cast<const char*>(p + i), n - i);
                return;
              }
              EmitBad(out);
              i += 2;
              continue;
            }
            const uint32_t u2 = unit(i + 2);
            if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
              Emit(out, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
              i += 4;
            } else {
              EmitBad(out);
              i += 2;
            }
          } else if (u >= 0xDC00 && u <= 0xDFFF) {
            EmitBad(out);
            i += 2;
          } else {
            Emit(out, u);
            i += 2;
          }
        }
        break;
      }
      case Encoding::Latin1:
        for (; i < n; ++i) Emit(out, p[i]);
        break;
      case Encoding::Ascii:
        for (; i < n; ++i) {
          if (p[i] < 0x80)
            Emit(out, p[i]);
          else
            EmitBad(out);
        }
        break;
      case Encoding::Cp1252:
        for (; i < n; ++i) Emit(out, Windows1252ToUnicode(p[i]));
        break;
    }
  }

  std::string carry_;
  int64_t characters_ = 0;
};

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The end of an XML declaration at the start of s ("<?xml" + white space ...
// "?>"), or 0 when there is none.
size_t DeclarationEnd(const std::string& s) {
  if (s.size() < 6 || s.compare(0, 5, "<?xml") != 0 || !IsSpace(s[5])) return 0;
  const size_t e = s.find("?>", 5);
  return e == std::string::npos ? 0 : e + 2;
}

// The value of the encoding pseudo-attribute of the declaration s[0, end).
bool DeclarationEncoding(const std::string& s, size_t end, std::string& name, size_t& at) {
  size_t i = 5;
  while (i < end) {
    const size_t k = s.find("encoding", i);
    if (k == std::string::npos || k + 8 > end) return false;
    i = k + 8;
    if (!IsSpace(s[k - 1])) continue;
    size_t j = i;
    while (j < end && IsSpace(s[j])) ++j;
    if (j >= end || s[j] != '=') continue;
    ++j;
    while (j < end && IsSpace(s[j])) ++j;
    if (j >= end || (s[j] != '"' && s[j] != '\'')) return false;
    const char q = s[j];
    const size_t v = j + 1;
    const size_t ve = s.find(q, v);
    if (ve == std::string::npos || ve > end) return false;
    name = s.substr(v, ve - v);
    at = v;
    return true;
  }
  return false;
}

std::optional<Encoding> EncodingByName(std::string name) {
  for (auto& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  if (name == "utf-8" || name == "utf8" || name == "utf-16" || name == "utf-16le" ||
      name == "utf-16be" || name == "unicode" || name == "ucs-2")
    return Encoding::Utf8;  // the bytes already showed an 8-bit encoding
  if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" ||
      name == "latin-1" || name == "l1" || name == "cp819" || name == "ibm819" ||
      name == "iso-ir-100" || name == "csisolatin1")
    return Encoding::Latin1;
  if (name == "us-ascii" || name == "ascii" || name == "iso646-us" || name == "us")
    return Encoding::Ascii;
  if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") return Encoding::Cp1252;
  return std::nullopt;
}

String CharText(uint32_t c) {
  if (c == 0) return u".";
  String s;
  AppendUtf16(s, c);
  return s;
}

String HexText(uint32_t c) {
  auto hex = [](uint32_t v) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    String s;
    do {
      s.insert(s.begin(), digits[v & 0xF]);
      v >>= 4;
    } while (v);
    if (s.size() < 2) s.insert(s.begin(), u'0');
    return u"0x" + s;
  };
  if (c < 0x10000) return hex(c);
  return hex(0xD800 + ((c - 0x10000) >> 10)) + u", " + hex(0xDC00 + ((c - 0x10000) & 0x3FF));
}

String InvalidCharMessage(uint32_t c) {
  return u"'" + CharText(c) + u"', hexadecimal value " + HexText(c) + u", is an invalid character.";
}
String NameStartMessage(uint32_t c) {
  return u"Name cannot begin with the '" + CharText(c) + u"' character, hexadecimal value " +
         HexText(c) + u".";
}
String NameCharMessage(uint32_t c) {
  return u"The '" + CharText(c) + u"' character, hexadecimal value " + HexText(c) +
         u", cannot be included in a name.";
}

const char kWrapper[] = "_vel_fragment_";
const std::string kWrapperStart = std::string("<") + kWrapper + ">";
const std::string kWrapperEnd = std::string("</") + kWrapper + ">";

const char16_t kEofMessage[] = u"Unexpected end of file has occurred.";
const char16_t kEncodingMessage[] = u"Invalid character in the given encoding.";

String EofWhileParsing(const char16_t* what) {
  return String(u"Unexpected end of file while parsing ") + what + u" has occurred.";
}

}  // namespace

EVelXMLException::EVelXMLException(const String& text, int lineNumber, int linePosition)
    : Exception((text.empty() ? String(u"An XML error has occurred.") : text) +
                (lineNumber > 0
                     ? u" Line " + IntToStr(lineNumber) + u", position " + IntToStr(linePosition)
                     : String())),
      text_(text),
      line_(lineNumber),
      position_(linePosition) {}

// ---------------------------------------------------------------------------

class TVelXMLTextReader::Impl {
 public:
  struct Node {
    TVelXMLNodeType type = TVelXMLNodeType::None;
    String name;
    String value;
    std::vector<TVelXMLReaderAttribute> attributes;
    bool empty = false;
    int depth = 0;
    int line = 0;
    int position = 0;
  };

  Impl(TStream& stream, const TVelXMLReaderSettings& settings)
      : stream_(stream), settings_(settings) {
    fragment_ = settings.Conformance == TVelXMLConformance::Fragment;
    decoder_.checkCharacters = settings.CheckCharacters;
    decoder_.maxCharacters = settings.MaxCharactersInDocument;
    // The encoding is decided by us; expat sees UTF-8 only.
    parser_ = XML_ParserCreate("UTF-8");
    if (!parser_)
      throw EVelXMLException(u"Insufficient memory to continue the execution of the program.");
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 6)
    XML_SetReparseDeferralEnabled(parser_, XML_FALSE);
#endif
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &Impl::OnStart, &Impl::OnEnd);
    XML_SetCharacterDataHandler(parser_, &Impl::OnChars);
    XML_SetCdataSectionHandler(parser_, &Impl::OnStartCdata, &Impl::OnEndCdata);
    XML_SetCommentHandler(parser_, &Impl::OnComment);
    XML_SetProcessingInstructionHandler(parser_, &Impl::OnPI);
    XML_SetXmlDeclHandler(parser_, &Impl::OnXmlDecl);
    XML_SetStartDoctypeDeclHandler(parser_, &Impl::OnDoctype);
  }
  ~Impl() {
    XML_ParserFree(parser_);
  }

  bool Read() {
    for (;;) {
      if (!queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        return true;
      }
      if (error_) throw *error_;
      if (finished_) {
        current_ = Node();
        return false;
      }
      Pump();
    }
  }

  Node current_;

 private:
  struct Open {
    String name;
    int line;
    int position;
    bool preserve;
  };

  // --- feeding -------------------------------------------------------------

  void Pump() {
    buffer_.resize(65536);
    const int64_t n = stream_.Read(buffer_.data(), static_cast<int64_t>(buffer_.size()));
    if (!headDone_) {
      head_.append(reinterpret_cast<const char*>(buffer_.data()), static_cast<size_t>(n));
      if (n > 0 && head_.size() < 4096) return;
      ProcessHead(n <= 0);
      return;
    }
    if (n <= 0) {
      AtEnd();
      return;
    }
    std::string out;
    decoder_.Decode(buffer_.data(), static_cast<size_t>(n), false, out);
    if (Feed(out, false)) CheckLimit();
  }

  void ProcessHead(bool eof) {
    headDone_ = true;
    const auto* h = reinterpret_cast<const uint8_t*>(head_.data());
    const size_t n = head_.size();
    auto is = [&](std::initializer_list<int> bytes) {
      if (n < bytes.size()) return false;
      size_t i = 0;
      for (int b : bytes)
        if (h[i++] != b) return false;
      return true;
    };
    size_t skip = 0;
    bool declared = false;  // the declaration may choose the encoding
    if (is({0x00, 0x00, 0xFE, 0xFF}) || is({0xFF, 0xFE, 0x00, 0x00}) ||
        is({0x00, 0x00, 0x00, 0x3C}) || is({0x3C, 0x00, 0x00, 0x00}) ||
        is({0x00, 0x00, 0x3C, 0x00}) || is({0x00, 0x3C, 0x00, 0x00})) {
      SetError(EVelXMLException(u"System does not support 'UCS-4' encoding.", 1, 1));
      return;
    }
    if (is({0x4C, 0x6F, 0xA7, 0x94})) {
      SetError(EVelXMLException(u"System does not support 'EBCDIC' encoding.", 1, 1));
      return;
    }
    if (is({0xEF, 0xBB, 0xBF})) {
      decoder_.encoding = Encoding::Utf8;
      skip = 3;
    } else if (is({0xFE, 0xFF})) {
      decoder_.encoding = Encoding::Utf16BE;
      skip = 2;
    } else if (is({0xFF, 0xFE})) {
      decoder_.encoding = Encoding::Utf16LE;
      skip = 2;
    } else if (is({0x3C, 0x00})) {
      decoder_.encoding = Encoding::Utf16LE;
    } else if (is({0x00, 0x3C})) {
      decoder_.encoding = Encoding::Utf16BE;
    } else {
      decoder_.encoding = Encoding::Utf8;
      declared = true;
    }
    if (declared) {
      const std::string raw = head_.substr(skip);
      const size_t end = DeclarationEnd(raw);
      std::string name;
      size_t at = 0;
      if (end && DeclarationEncoding(raw, end, name, at)) {
        const auto enc = EncodingByName(name);
        if (!enc) {
          SetError(
              EVelXMLException(u"System does not support '" + Utf8ToUtf16(name) + u"' encoding.", 1,
                               static_cast<int>(at) + 1));
          return;
        }
        decoder_.encoding = *enc;
      }
    }
    std::string out;
    decoder_.Decode(h + skip, n - skip, eof, out);
    if (fragment_) {
      // The fragment becomes the content of a wrapper element placed right
      // after the XML declaration, so that expat accepts several top-level
      // elements and text.
      const size_t end = DeclarationEnd(out);
      wrapLine_ = 1;
      wrapColumn_ = 0;
      for (size_t i = 0; i < end; ++i) {
        const char c = out[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= end || out[i + 1] != '\n'))) {
          ++wrapLine_;
          wrapColumn_ = 0;
        } else if (c != '\r' && (static_cast<uint8_t>(c) & 0xC0) != 0x80) {
          ++wrapColumn_;
        }
      }
      out.insert(end, kWrapperStart);
    }
    if (!Feed(out, false)) return;
    CheckLimit();
    if (!error_ && eof) AtEnd();
  }

  void CheckLimit() {
    if (decoder_.overLimit && !error_) {
      FlushText();
      SetError(EVelXMLException(
          u"The input document has exceeded a limit set by MaxCharactersInDocument."));
    }
  }

  bool Feed(const std::string& data, bool final) {
    if (error_) return false;
    if (XML_Parse(parser_, data.data(), static_cast<int>(data.size()), final) == XML_STATUS_ERROR) {
      const XML_Error code = XML_GetErrorCode(parser_);
      if (code == XML_ERROR_ABORTED && ownError_) {
        SetError(*ownError_);
      } else {
        FlushTextBeforeError();
        SetError(MapError(code));
      }
      return false;
    }
    fed_ += static_cast<int64_t>(data.size());
    return true;
  }

  // The end of the input: report what is left open, then finish.
  void AtEnd() {
    std::string out;
    decoder_.Decode(nullptr, 0, true, out);
    if (!out.empty() && !Feed(out, false)) return;
    CheckLimit();
    if (error_) return;
    int offset = 0, size = 0;
    const char* ctx = XML_GetInputContext(parser_, &offset, &size);
    const int64_t pending = XML_GetCurrentByteIndex(parser_);
    if (ctx && pending >= 0 && pending < fed_ && offset < size &&
        (ctx[offset] == '<' || ctx[offset] == '&')) {
      FlushText();
      SetError(Positioned(EofInMarkup(ctx + offset, static_cast<size_t>(size - offset))));
      return;
    }
    if (inCdata_) {
      SetError(Positioned(EofWhileParsing(u"CDATA")));
      return;
    }
    if (!open_.empty()) {
      FlushText();
      SetError(Positioned(NotClosedMessage()));
      return;
    }
    feedingSuffix_ = true;
    if (!Feed(fragment_ ? kWrapperEnd : std::string(), true)) return;
    FlushText();
    finished_ = true;
  }

  void SetError(const EVelXMLException& e) {
    if (!error_) error_.emplace(e);
    finished_ = true;
  }

  // --- positions -----------------------------------------------------------

  // The parser's current position as line and 1-based position, without the
  // wrapper of a fragment. delta moves the position along the line.
  void Position(int& line, int& position, int delta = 0) const {
    line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
    int column = static_cast<int>(XML_GetCurrentColumnNumber(parser_));
    const int wrapLength = static_cast<int>(kWrapperStart.size());
    if (fragment_ && line == wrapLine_ && column >= wrapColumn_ + wrapLength) column -= wrapLength;
    position = column + 1 + delta;
  }
  EVelXMLException Positioned(const String& text, int delta = 0) const {
    int line, position;
    Position(line, position, delta);
    return EVelXMLException(text, line, position);
  }

  // --- callbacks -----------------------------------------------------------

  static void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** atts) {
    static_cast<Impl*>(user)->Start(name, atts);
  }
  static void XMLCALL OnEnd(void* user, const XML_Char* name) {
    static_cast<Impl*>(user)->End(name);
  }
  static void XMLCALL OnChars(void* user, const XML_Char* s, int len) {
    auto* self = static_cast<Impl*>(user);
    if (self->text_.empty()) self->Position(self->textLine_, self->textPosition_);
    self->text_.append(s, static_cast<size_t>(len));
    self->textEnd_ =
        XML_GetCurrentByteIndex(self->parser_) + XML_GetCurrentByteCount(self->parser_);
  }
  static void XMLCALL OnStartCdata(void* user) {
    auto* self = static_cast<Impl*>(user);
    self->FlushText();
    self->inCdata_ = true;
    self->Position(self->textLine_, self->textPosition_);
  }
  static void XMLCALL OnEndCdata(void* user) {
    auto* self = static_cast<Impl*>(user);
    self->inCdata_ = false;
    Node n;
    n.type = TVelXMLNodeType::CDATA;
    n.value = self->Text(self->text_);
    n.depth = static_cast<int>(self->open_.size());
    n.line = self->textLine_;
    n.position = self->textPosition_;
    self->text_.clear();
    self->queue_.push_back(std::move(n));
  }
  static void XMLCALL OnComment(void* user, const XML_Char* data) {
    auto* self = static_cast<Impl*>(user);
    self->FlushText();
    if (self->settings_.IgnoreComments) return;
    self->PushSimple(TVelXMLNodeType::Comment, String(), self->Text(data));
  }
  static void XMLCALL OnPI(void* user, const XML_Char* target, const XML_Char* data) {
    auto* self = static_cast<Impl*>(user);
    self->FlushText();
    if (self->settings_.IgnoreProcessingInstructions) return;
    self->PushSimple(TVelXMLNodeType::ProcessingInstruction, Utf8ToUtf16(target), self->Text(data));
  }
  static void XMLCALL OnXmlDecl(void* user, const XML_Char* version, const XML_Char* encoding,
                                int standalone) {
    auto* self = static_cast<Impl*>(user);
    String v;
    if (version) v += u"version=\"" + Utf8ToUtf16(version) + u"\"";
    if (encoding) v += u" encoding=\"" + Utf8ToUtf16(encoding) + u"\"";
    if (standalone >= 0) v += standalone ? u" standalone=\"yes\"" : u" standalone=\"no\"";
    self->PushSimple(TVelXMLNodeType::XmlDeclaration, u"xml", v);
  }
  static void XMLCALL OnDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*,
                                int) {
    // Document type declarations are refused: no entity declarations, no
    // external subsets.
    static_cast<Impl*>(user)->Fail(u"For security reasons DTD is prohibited in this XML document.");
  }

  void Fail(const String& text, int delta = 0) {
    if (!ownError_) ownError_.emplace(Positioned(text, delta));
    XML_StopParser(parser_, XML_FALSE);
  }

  void PushSimple(TVelXMLNodeType type, const String& name, const String& value) {
    Node n;
    n.type = type;
    n.name = name;
    n.value = value;
    n.depth = static_cast<int>(open_.size());
    Position(n.line, n.position);
    queue_.push_back(std::move(n));
  }

  void Start(const XML_Char* name, const XML_Char** atts) {
    if (fragment_ && !wrapperOpen_) {
      wrapperOpen_ = true;
      return;
    }
    FlushText();
    Node n;
    n.type = TVelXMLNodeType::Element;
    n.name = Utf8ToUtf16(name);
    n.depth = static_cast<int>(open_.size());
    Position(n.line, n.position, 1);
    bool preserve = !open_.empty() && open_.back().preserve;
    for (int i = 0; atts[i]; i += 2) {
      TVelXMLReaderAttribute a{Utf8ToUtf16(atts[i]), Text(atts[i + 1])};
      if (a.Name == u"xml:space") {
        if (a.Value == u"preserve") {
          preserve = true;
        } else if (a.Value == u"default") {
          preserve = false;
        } else {
          Fail(u"'" + a.Value + u"' is an invalid xml:space value.", 1);
          return;
        }
      }
      n.attributes.push_back(std::move(a));
    }
    open_.push_back({n.name, n.line, n.position, preserve});
    queue_.push_back(std::move(n));
  }

  void End(const XML_Char* name) {
    if (ownError_) return;  // stopping: expat still ends an empty element
    if (fragment_ && open_.empty()) {
      if (!feedingSuffix_) Fail(u"Unexpected end tag.", 2);
      return;
    }
    FlushText();
    const bool empty = XML_GetCurrentByteCount(parser_) == 0;
    if (!open_.empty()) open_.pop_back();
    if (empty && !queue_.empty() && queue_.back().type == TVelXMLNodeType::Element) {
      queue_.back().empty = true;
      return;
    }
    Node n;
    n.type = TVelXMLNodeType::EndElement;
    n.name = Utf8ToUtf16(name);
    n.depth = static_cast<int>(open_.size());
    Position(n.line, n.position, 2);
    queue_.push_back(std::move(n));
  }

  void FlushText() {
    if (inCdata_ || text_.empty()) return;
    Node n;
    n.value = Text(text_);
    text_.clear();
    bool white = true;
    for (const char16_t c : n.value)
      if (!IsSpace(c)) {
        white = false;
        break;
      }
    if (!white) {
      n.type = TVelXMLNodeType::Text;
    } else if (!open_.empty() && open_.back().preserve) {
      n.type = TVelXMLNodeType::SignificantWhitespace;
    } else {
      if (settings_.IgnoreWhitespace) return;
      n.type = TVelXMLNodeType::Whitespace;
    }
    n.depth = static_cast<int>(open_.size());
    n.line = textLine_;
    n.position = textPosition_;
    queue_.push_back(std::move(n));
  }

  // Text that markup had already ended is delivered before the error.
  void FlushTextBeforeError() {
    if (inCdata_ || text_.empty()) return;
    int offset = 0, size = 0;
    const char* ctx = XML_GetInputContext(parser_, &offset, &size);
    const int64_t errorIndex = XML_GetCurrentByteIndex(parser_);
    if (!ctx || errorIndex < textEnd_) return;
    const int64_t k = offset - (errorIndex - textEnd_);
    if (k >= 0 && k < size && ctx[k] == '<') FlushText();
  }

  // Delivered text: UTF-8 from expat, stand-ins turned back.
  String Text(const std::string& s) const {
    return Text(s.data(), s.size());
  }
  String Text(const char* s) const {
    return Text(s, std::strlen(s));
  }
  String Text(const char* s, size_t n) const {
    if (settings_.CheckCharacters || !std::memchr(s, '\xF4', n)) return Utf8ToUtf16({s, n});
    String out;
    out.reserve(n);
    const auto* p = reinterpret_cast<const uint8_t*>(s);
    size_t i = 0;
    while (i < n) {
      uint32_t cp;
      int len = DecodeUtf8(p + i, n - i, cp);
      if (len <= 0) {
        out.push_back(0xFFFD);
        ++i;
        continue;
      }
      i += static_cast<size_t>(len);
      if (cp == kStandInBase && i < n) {
        uint32_t low;
        len = DecodeUtf8(p + i, n - i, low);
        if (len > 0) {
          i += static_cast<size_t>(len);
          cp = kStandInBase + (low & 0xFF);
        }
      } else if (cp > kStandInBase) {
        cp &= 0xFF;
        if (cp >= 0xFE) cp |= 0xFF00;
      }
      AppendUtf16(out, cp);
    }
    return out;
  }

  // --- error messages ------------------------------------------------------

  String NotClosedMessage() const {
    String names;
    for (size_t i = 0; i < open_.size(); ++i) {
      if (i) names += u", ";
      names += open_[i].name;
    }
    return String(kEofMessage) + u" The following elements are not closed: " + names;
  }

  // The end of the input inside the markup that starts at p.
  static String EofInMarkup(const char* p, size_t n) {
    const std::string_view s(p, n);
    if (s.rfind("<!--", 0) == 0) return EofWhileParsing(u"Comment");
    if (s.rfind("<![CDATA[", 0) == 0) return EofWhileParsing(u"CDATA");
    if (s.rfind("<?", 0) == 0) return EofWhileParsing(u"PI");
    if (s.rfind("<!", 0) == 0) return kEofMessage;
    if (s[0] == '<') {
      char quote = 0;
      for (size_t i = 1; i < n; ++i) {
        if (quote) {
          if (s[i] == quote) quote = 0;
        } else if (s[i] == '"' || s[i] == '\'') {
          quote = s[i];
        }
      }
      if (quote) return u"There is an unclosed literal string.";
    }
    return EofWhileParsing(u"Name");
  }

  EVelXMLException MapError(XML_Error code) const {
    int offset = 0, size = 0;
    const char* ctx = XML_GetInputContext(parser_, &offset, &size);
    std::string_view rest, before;
    if (ctx && offset >= 0 && offset <= size) {
      rest = std::string_view(ctx + offset, static_cast<size_t>(size - offset));
      before = std::string_view(ctx, static_cast<size_t>(offset));
    }
    auto nameAt = [&](size_t from) {
      size_t e = from;
      while (e < rest.size() && !IsSpace(rest[e]) && std::strchr("=/>;<\"'", rest[e]) == nullptr)
        ++e;
      return from < rest.size() ? Utf8ToUtf16(rest.substr(from, e - from)) : String();
    };
    switch (code) {
      case XML_ERROR_NO_MEMORY:
        return EVelXMLException(u"Insufficient memory to continue the execution of the program.");
      case XML_ERROR_SYNTAX:
        return Positioned(u"Data at the root level is invalid.");
      case XML_ERROR_NO_ELEMENTS:
        return Positioned(open_.empty() ? String(u"Root element is missing.") : NotClosedMessage());
      case XML_ERROR_INVALID_TOKEN:
        return InvalidToken(before, rest);
      case XML_ERROR_UNCLOSED_TOKEN:
        if (!rest.empty() && (rest[0] == '<' || rest[0] == '&'))
          return Positioned(EofInMarkup(rest.data(), rest.size()));
        return Positioned(kEofMessage);
      case XML_ERROR_PARTIAL_CHAR:
      case XML_ERROR_INCORRECT_ENCODING:
      case XML_ERROR_UNKNOWN_ENCODING:
        return Positioned(kEncodingMessage);
      case XML_ERROR_TAG_MISMATCH: {
        // The position is that of the end tag's name.
        if (fragment_ && open_.empty()) return Positioned(u"Unexpected end tag.");
        if (open_.empty() || feedingSuffix_) return Positioned(NotClosedMessage());
        const Open& o = open_.back();
        return Positioned(u"The '" + o.name + u"' start tag on line '" + IntToStr(o.line) +
                          u"' position '" + IntToStr(o.position) +
                          u"' does not match the end tag of '" + nameAt(0) + u"'.");
      }
      case XML_ERROR_DUPLICATE_ATTRIBUTE:
        return Positioned(nameAt(0) + u" is a duplicate attribute name");
      case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
        if (rest.rfind("<?xml", 0) == 0 && rest.size() > 5 && IsSpace(rest[5]))
          return Positioned(kMisplacedDeclaration);
        if (rest.rfind("<!DOCTYPE", 0) == 0) return Positioned(u"Unexpected DTD declaration.");
        if (rest.rfind("</", 0) == 0) return Positioned(u"Unexpected end tag.", 2);
        if (rest.rfind("<", 0) == 0 && rest.rfind("<!", 0) != 0 && rest.rfind("<?", 0) != 0)
          return Positioned(u"There are multiple root elements.", 1);
        return Positioned(u"Data at the root level is invalid.");
      case XML_ERROR_UNDEFINED_ENTITY:
        return Positioned(u"Reference to undeclared entity '" + nameAt(1) + u"'.", 1);
      case XML_ERROR_BAD_CHAR_REF:
        return Positioned(u"Invalid value of a character entity reference.");
      case XML_ERROR_MISPLACED_XML_PI:
        return Positioned(kMisplacedDeclaration);
      case XML_ERROR_XML_DECL:
      case XML_ERROR_TEXT_DECL:
        return Positioned(u"Syntax for an XML declaration is invalid.");
      case XML_ERROR_UNCLOSED_CDATA_SECTION:
        return Positioned(EofWhileParsing(u"CDATA"));
      default: {
        const XML_LChar* s = XML_ErrorString(code);
        String text = s ? Utf8ToUtf16(s) : String();
        if (!text.empty()) {
          text[0] = AsciiUpper(text[0]);
          text += u".";
        }
        return Positioned(text);
      }
    }
  }

  static constexpr const char16_t* kMisplacedDeclaration =
      u"Unexpected XML declaration. The XML declaration must be the first node in the "
      u"document, and no white space characters are allowed to appear before it.";

  // expat points at the offending character; what is before it tells in
  // which construct it stands.
  EVelXMLException InvalidToken(std::string_view before, std::string_view rest) const {
    if (rest.empty()) return Positioned(kEofMessage);
    uint32_t cp;
    const int len = DecodeUtf8(reinterpret_cast<const uint8_t*>(rest.data()), rest.size(), cp);
    if (len <= 0) return Positioned(kEncodingMessage);
    if (!settings_.CheckCharacters && cp > kStandInBase) {
      cp &= 0xFF;
      if (cp >= 0xFE) cp |= 0xFF00;
    }
    if (rest.rfind("]]>", 0) == 0) return Positioned(u"']]&gt;' is not allowed in character data.");
    if (cp == '>' && before.size() >= 2 && before.substr(before.size() - 2) == "]]")
      return Positioned(u"']]&gt;' is not allowed in character data.", -2);

    auto inside = [&](std::string_view open, std::string_view close) {
      const size_t o = before.rfind(open);
      return o != std::string_view::npos &&
             before.find(close, o + open.size()) == std::string_view::npos;
    };
    if (inside("<!--", "-->")) {
      if (before.size() >= 2 && before.substr(before.size() - 2) == "--")
        return Positioned(
            u"An XML comment cannot contain '--', and '-' cannot be the last character.");
      return Positioned(InvalidCharMessage(cp));
    }
    if (inside("<![CDATA[", "]]>")) return Positioned(InvalidCharMessage(cp));
    if (inside("<?", "?>")) {
      const size_t o = before.rfind("<?") + 2;
      if (o == before.size()) return Positioned(NameStartMessage(cp));
      if (before.find_first_of(" \t\r\n", o) == std::string_view::npos)
        return Positioned(NameCharMessage(cp));
      return Positioned(InvalidCharMessage(cp));
    }

    const size_t mark = before.find_last_of("<&>;");
    if (mark == std::string_view::npos || before[mark] == '>' || before[mark] == ';') {
      if (!IsXmlChar(cp)) return Positioned(InvalidCharMessage(cp));
      if (!fragment_ && open_.empty()) return Positioned(u"Data at the root level is invalid.");
      return Positioned(InvalidCharMessage(cp));
    }
    const std::string_view construct = before.substr(mark);
    if (construct[0] == '&') {
      if (construct.rfind("&#x", 0) == 0)
        return Positioned(u"Invalid syntax for a hexadecimal numeric entity reference.");
      if (construct.rfind("&#", 0) == 0)
        return Positioned(u"Invalid syntax for a decimal numeric entity reference.");
      return Positioned(construct.size() == 1 ? NameStartMessage(cp) : NameCharMessage(cp));
    }
    // Markup starting with '<'.
    if (construct == "<!") {
      if (rest.rfind("DOCTYPE", 0) == 0) return Positioned(u"Unexpected DTD declaration.", -2);
      return Positioned(NameStartMessage(cp));
    }
    if (construct.rfind("</", 0) == 0) {
      if (construct.size() == 2) return Positioned(NameStartMessage(cp));
      return Positioned(NameCharMessage(cp));
    }
    if (construct == "<" && cp == '/' && !fragment_ && open_.empty())
      return Positioned(u"Unexpected end tag.", 1);
    // A start tag: follow it up to the offending character.
    enum { kTagName, kAfterName, kAttrName, kAfterAttrName, kAfterEquals, kValue } state = kTagName;
    size_t nameStart = 1;
    char quote = 0;
    for (size_t i = 1; i < construct.size(); ++i) {
      const char c = construct[i];
      switch (state) {
        case kTagName:
        case kAttrName:
          if (IsSpace(c))
            state = state == kTagName ? kAfterName : kAfterAttrName;
          else if (c == '=' && state == kAttrName)
            state = kAfterEquals;
          break;
        case kAfterName:
          if (!IsSpace(c)) {
            state = kAttrName;
            nameStart = i;
          }
          break;
        case kAfterAttrName:
          if (c == '=') state = kAfterEquals;
          break;
        case kAfterEquals:
          if (c == '"' || c == '\'') {
            quote = c;
            state = kValue;
          }
          break;
        case kValue:
          if (c == quote) state = kAfterName;
          break;
      }
    }
    switch (state) {
      case kTagName:
        return Positioned(construct.size() == nameStart ? NameStartMessage(cp)
                                                        : NameCharMessage(cp));
      case kAttrName:
        if (IsXmlChar(cp) && cp < 0x80 && std::strchr("/><\"'", static_cast<int>(cp)))
          return Positioned(u"'" + CharText(cp) +
                            u"' is an unexpected token. The expected token is '='.");
        return Positioned(construct.size() == nameStart ? NameStartMessage(cp)
                                                        : NameCharMessage(cp));
      case kAfterName:
        return Positioned(NameStartMessage(cp));
      case kAfterAttrName:
        return Positioned(u"'" + CharText(cp) +
                          u"' is an unexpected token. The expected token is '='.");
      case kAfterEquals:
        return Positioned(u"'" + CharText(cp) +
                          u"' is an unexpected token. The expected token is '\"' or '''.");
      case kValue:
        if (cp == '<')
          return Positioned(u"'<', hexadecimal value 0x3C, is an invalid attribute character.");
        return Positioned(InvalidCharMessage(cp));
    }
    return Positioned(InvalidCharMessage(cp));
  }

  TStream& stream_;
  TVelXMLReaderSettings settings_;
  XML_Parser parser_ = nullptr;
  Decoder decoder_;
  std::vector<uint8_t> buffer_;
  bool headDone_ = false;
  std::string head_;
  bool fragment_ = false;
  bool wrapperOpen_ = false;
  bool feedingSuffix_ = false;
  int wrapLine_ = 0;
  int wrapColumn_ = 0;
  int64_t fed_ = 0;

  std::deque<Node> queue_;
  std::vector<Open> open_;
  std::string text_;
  bool inCdata_ = false;
  int64_t textEnd_ = 0;
  int textLine_ = 0;
  int textPosition_ = 0;

  std::optional<EVelXMLException> error_;
  std::optional<EVelXMLException> ownError_;
  bool finished_ = false;
};

TVelXMLTextReader::TVelXMLTextReader(TStream& stream, const TVelXMLReaderSettings& settings)
    : impl_(std::make_unique<Impl>(stream, settings)) {}
TVelXMLTextReader::~TVelXMLTextReader() = default;
bool TVelXMLTextReader::Read() {
  return impl_->Read();
}
TVelXMLNodeType TVelXMLTextReader::NodeType() const {
  return impl_->current_.type;
}
const String& TVelXMLTextReader::Name() const {
  return impl_->current_.name;
}
const String& TVelXMLTextReader::Value() const {
  return impl_->current_.value;
}
bool TVelXMLTextReader::IsEmptyElement() const {
  return impl_->current_.empty;
}
int TVelXMLTextReader::Depth() const {
  return impl_->current_.depth;
}
const std::vector<TVelXMLReaderAttribute>& TVelXMLTextReader::Attributes() const {
  return impl_->current_.attributes;
}
int TVelXMLTextReader::LineNumber() const {
  return impl_->current_.line;
}
int TVelXMLTextReader::LinePosition() const {
  return impl_->current_.position;
}
