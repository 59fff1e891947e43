// What the wizard probes share: their output lines and the windows they read.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

// UTF-8 for one field of a "|"-separated line: line breaks and "|" become
// spaces.
inline std::string Field(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
  if (!utf8.empty()) utf8.pop_back();
  for (char& c : utf8)
    if (c == '\r' || c == '\n' || c == '|') c = ' ';
  return utf8;
}

// Every child window of the parent, at any depth, in the system's order.
inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

}  // namespace probe
