// Kernel objects of the Win32 backend: a handle closed with the object.
#pragma once

#include <windows.h>

#include "platform/handles.h"

namespace platform {

class THandleObject {
 public:
  explicit THandleObject(HANDLE h) : handle(h) {}
  ~THandleObject() {
    if (handle) CloseHandle(handle);
  }
  THandleObject(const THandleObject&) = delete;
  THandleObject& operator=(const THandleObject&) = delete;
  HANDLE handle;
};

inline HANDLE NativeHandle(const TWaitHandle& h) {
  return h ? h.Get()->handle : nullptr;
}

}  // namespace platform
