#include "platform/win32/win32_util.h"

namespace win32 {

String LongPath(const String& path) {
  if (path.size() < MAX_PATH || StartsWith(path, u"\\\\?\\")) return path;
  if (StartsWith(path, u"\\\\")) return u"\\\\?\\UNC\\" + path.substr(2);
  return u"\\\\?\\" + path;
}

String SystemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  String text = n ? S(buffer) : String();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
    text.pop_back();
  return text;
}

}  // namespace win32
