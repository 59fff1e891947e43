#include "lib/system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/casefold.h"
#include "lib/exceptions.h"

namespace {

class TStdFileStream : public TStream {
 public:
  explicit TStdFileStream(std::FILE* f) : f_(f) {}
  ~TStdFileStream() override { std::fclose(f_); }
  int64_t Read(void* buffer, int64_t count) override {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), f_));
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), f_));
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
#ifdef _WIN32
    if (_fseeki64(f_, offset, whence) != 0) throw EStreamError(u"Seek error");
    return _ftelli64(f_);
#else
    if (fseeko(f_, offset, whence) != 0) throw EStreamError(u"Seek error");
    return ftello(f_);
#endif
  }
  void SetSize(int64_t) override {
    throw EStreamError(u"SetSize is not supported");
  }

 private:
  std::FILE* f_;
};

std::FILE* OpenStd(const String& path, bool write) {
#ifdef _WIN32
  std::wstring w(path.begin(), path.end());
  return _wfopen(w.c_str(), write ? L"wb" : L"rb");
#else
  return std::fopen(Utf16ToUtf8(path).c_str(), write ? "wb" : "rb");
#endif
}

String ErrnoText() {
  return Utf8ToUtf16(std::strerror(errno));
}

TVelSystemServices g_default;
TVelSystemServices* g_current = &g_default;

}  // namespace

int TVelSystemServices::CompareText(StringView a, StringView b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldCaseSimple(a[i]), y = FoldCaseSimple(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int TVelSystemServices::CompareStr(StringView a, StringView b) {
  // Case-insensitive order first, then code units, so that "a" < "B" < "b".
  const int r = CompareText(a, b);
  if (r != 0) return r;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

String TVelSystemServices::UpperCase(StringView text) {
  String s(text);
  for (auto& c : s) c = UpperCaseSimple(c);
  return s;
}

String TVelSystemServices::AnsiToUnicode(std::string_view bytes) {
  String out;
  out.reserve(bytes.size());
  for (const char ch : bytes) out.push_back(Windows1252ToUnicode(static_cast<unsigned char>(ch)));
  return out;
}

std::string TVelSystemServices::UnicodeToAnsi(StringView text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    char byte;
    out.push_back(UnicodeToWindows1252(c, byte) ? byte : '?');
  }
  return out;
}

std::unique_ptr<TStream> TVelSystemServices::OpenFileRead(const String& path, String& error) {
  std::FILE* f = OpenStd(path, false);
  if (!f) {
    error = ErrnoText();
    return nullptr;
  }
  return std::make_unique<TStdFileStream>(f);
}

std::unique_ptr<TStream> TVelSystemServices::CreateFileWrite(const String& path, String& error) {
  std::FILE* f = OpenStd(path, true);
  if (!f) {
    error = ErrnoText();
    return nullptr;
  }
  // Unbuffered, so that a failing write is reported by Write itself and not
  // lost in a close that has no way to report it.
  std::setvbuf(f, nullptr, _IONBF, 0);
  return std::make_unique<TStdFileStream>(f);
}

bool TVelSystemServices::ClearFileAttributes(const String& path) {
  String error;
  return OpenFileRead(path, error) != nullptr;
}

String TVelSystemServices::CommandLine() {
  return {};
}

TVelSystemServices& VelSystem() {
  return *g_current;
}
void SetVelSystem(TVelSystemServices* services) {
  g_current = services ? services : &g_default;
}

bool SameTextLocale(StringView a, StringView b) {
  return a.size() == b.size() && VelSystem().CompareText(a, b) == 0;
}

bool StartsTextLocale(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && SameTextLocale(text.substr(0, prefix.size()), prefix);
}

std::unique_ptr<TStream> OpenFileStream(const String& path) {
  String error;
  auto s = VelSystem().OpenFileRead(path, error);
  if (!s) throw EFOpenError(path, error);
  return s;
}

std::unique_ptr<TStream> CreateFileStream(const String& path) {
  String error;
  auto s = VelSystem().CreateFileWrite(path, error);
  if (!s) throw EFCreateError(path, error);
  return s;
}
