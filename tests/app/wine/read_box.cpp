// Prints the text of the message box captioned "Setup" (UTF-8); exit code 1
// when there is none. Used by the installer scenarios under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  HWND box = FindWindowW(L"#32770", L"Setup");
  if (!box) return 1;
  wchar_t text[4096] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 4096);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size() > 0 ? utf8.size() - 1 : 0, stdout);
  return 0;
}
