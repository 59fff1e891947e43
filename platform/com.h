// COM on the calling thread, and new GUIDs.
#pragma once

#include "lib/strings.h"

namespace platform {

// Initialises COM for the calling thread (CoInitializeEx, apartment
// threaded) while the object lives, and uninitialises it at the end when
// this object's call succeeded. Nested scopes and threads that have COM
// already are fine.
class TComScope {
 public:
  TComScope();
  ~TComScope();
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;

  // The call succeeded (also when COM was initialised already).
  bool Initialized() const { return initialized_; }

 private:
  bool initialized_ = false;
};

// A newly generated GUID (CoCreateGuid) in registry form: braces around
// 8-4-4-4-12 upper-case hexadecimal digits, 38 characters. False (text
// empty) when none can be made.
bool CreateGuidText(String& text);

}  // namespace platform
