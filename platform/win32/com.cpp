// COM and GUIDs on the Win32 API.
#include <windows.h>

#include <objbase.h>

#include "platform/com.h"
#include "platform/win32/win32_util.h"

namespace platform {

TComScope::TComScope() {
  initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

TComScope::~TComScope() {
  if (initialized_) CoUninitialize();
}

bool CreateGuidText(String& text) {
  text.clear();
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return false;
  wchar_t buffer[40] = {};
  if (StringFromGUID2(guid, buffer, 40) != 39) return false;
  text = win32::S(buffer);
  return true;
}

}  // namespace platform
