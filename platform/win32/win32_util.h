// Small bridges between the system's UTF-16 strings and the Win32 API.
#pragma once

#include <windows.h>

#include "lib/strings.h"

namespace win32 {

inline const wchar_t* W(StringView s) {
  return reinterpret_cast<const wchar_t*>(s.data());
}
inline wchar_t* W(String& s) {
  return reinterpret_cast<wchar_t*>(s.data());
}
inline String S(const wchar_t* s) {
  return s ? String(reinterpret_cast<const char16_t*>(s)) : String();
}

// Paths of 260 characters or more get "\\?\" (or "\\?\UNC\" for network paths).
String LongPath(const String& path);
// The system's text for an error code, without the trailing line break.
String SystemErrorText(DWORD code);

}  // namespace win32

namespace win32 {
// Records the calling thread as the main thread (platform::Initialize).
void MarkMainThread();
}  // namespace win32
