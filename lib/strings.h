// UTF-16 text helpers. Every text of the system is a std::u16string holding
// UTF-16 code units; conversions happen only at the edges.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using String = std::u16string;
using StringView = std::u16string_view;

// UTF-8 <-> UTF-16. Invalid input is replaced by U+FFFD, never rejected.
String Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(StringView text);
// Strict variant: false when the bytes are not well-formed UTF-8.
bool TryUtf8ToUtf16(std::string_view text, String& out);

// Appends one code point (at most U+10FFFF) in UTF-16 or UTF-8.
void AppendUtf16(String& out, char32_t codePoint);
void AppendUtf8(std::string& out, char32_t codePoint);

// Windows-1252. Bytes 0x80..0x9F that the code page leaves undefined map to
// the C1 control of the same value, as Windows does.
char16_t Windows1252ToUnicode(unsigned char byte);
// False when the character has no byte in the code page.
bool UnicodeToWindows1252(char16_t c, char& byte);

// ASCII-only helpers (XML names, script keywords).
char16_t AsciiUpper(char16_t c);
char16_t AsciiLower(char16_t c);
bool SameTextAscii(StringView a, StringView b);
String UpperAscii(StringView text);
String LowerAscii(StringView text);

// Captions of buttons, check boxes and radio buttons mark their access key
// with "&" before the letter; "&&" stands for an ampersand. The caption as
// it reads, and its access key as written (0 when it has none).
String StripAccessKey(StringView caption);
char16_t CaptionAccessKey(StringView caption);

// Removes characters with code 32 or less at both ends (or one end).
String Trim(StringView text);
String TrimLeft(StringView text);
String TrimRight(StringView text);

String IntToStr(int64_t value);
// 32-bit integer with optional sign; "$" or "0x" prefix means hexadecimal.
bool TryStrToInt(StringView text, int32_t& value);
int32_t StrToIntDef(StringView text, int32_t def);

bool StartsWith(StringView text, StringView prefix);
bool EndsWith(StringView text, StringView suffix);

// Path helpers on Windows-style paths (backslash separators).
String IncludeTrailingBackslash(StringView path);
String ExcludeTrailingBackslash(StringView path);
String ExtractFilePath(StringView path);  // up to and including the last '\' or ':'
String ExtractFileName(StringView path);
String ExtractFileExt(StringView path);  // including the dot, or empty
// The drive part: "C:" or "\\server\share"; empty when there is none.
String ExtractFileDrive(StringView path);
