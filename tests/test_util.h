// Helpers shared by the test programs of every layer.
#pragma once

#include <string>

#include "lib/exceptions.h"
#include "lib/strings.h"

// UTF-8 for readable assertion messages.
inline std::string U8(StringView s) {
  return Utf16ToUtf8(s);
}

// The message of what f raises; "<no error>" when it raises nothing.
template <typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return U8(e.Message());
  }
  return "<no error>";
}
