// The library's operating-system services on the Win32 API.
#include <windows.h>

#include "lib/system.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/win32/win32_util.h"

namespace {

class TWin32SystemServices : public TVelSystemServices {
 public:
  int CompareText(StringView a, StringView b) override {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, win32::W(a),
                          static_cast<int>(a.size()), win32::W(b), static_cast<int>(b.size())) -
           CSTR_EQUAL;
  }
  int CompareStr(StringView a, StringView b) override {
    return CompareStringW(LOCALE_USER_DEFAULT, 0, win32::W(a), static_cast<int>(a.size()),
                          win32::W(b), static_cast<int>(b.size())) -
           CSTR_EQUAL;
  }
  String UpperCase(StringView text) override {
    String s(text);
    if (!s.empty())
      LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, win32::W(text),
                   static_cast<int>(text.size()), win32::W(s), static_cast<int>(s.size()));
    return s;
  }
  String AnsiToUnicode(std::string_view bytes) override {
    if (bytes.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    String out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), win32::W(out), n);
    return out;
  }
  std::string UnicodeToAnsi(StringView text) override {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, win32::W(text), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, win32::W(text), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
  }
  std::unique_ptr<TStream> OpenFileRead(const String& path, String& error) override {
    auto stream = platform::OpenFileShared(path, platform::kGenericRead,
                                           platform::kFileShareRead | platform::kFileShareWrite,
                                           platform::kOpenExisting);
    if (!stream) error = win32::SystemErrorText(GetLastError());
    return stream;
  }
  std::unique_ptr<TStream> CreateFileWrite(const String& path, String& error) override {
    auto stream = platform::OpenFileShared(path, platform::kGenericRead | platform::kGenericWrite,
                                           platform::kFileShareRead, platform::kCreateAlways);
    if (!stream) error = win32::SystemErrorText(GetLastError());
    return stream;
  }
  bool ClearFileAttributes(const String& path) override {
    return SetFileAttributesW(win32::W(win32::LongPath(path)), FILE_ATTRIBUTE_NORMAL) != 0;
  }
  String CommandLine() override { return win32::S(GetCommandLineW()); }
};

TWin32SystemServices g_services;

}  // namespace

namespace platform {
void Initialize() {
  win32::MarkMainThread();
  SetVelSystem(&g_services);
}
}  // namespace platform
