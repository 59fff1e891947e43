// Operating-system error codes. Every operation of the platform layer that can
// fail reports the Win32 error code of the failure through LastError(), on both
// backends, so that callers and their tests speak one language.
#pragma once

#include <cstdint>

#include "lib/strings.h"

namespace platform {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorBadNetPath = 53;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorStoppedOnSymlink = 681;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorKeyDeleted = 1018;
constexpr uint32_t kErrorNoAssociation = 1155;
constexpr uint32_t kErrorCancelled = 1223;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorTimeout = 1460;
constexpr uint32_t kErrorNotAReparsePoint = 4390;
constexpr uint32_t kErrorResourceNameNotFound = 1814;

// The calling thread's last error code (GetLastError).
uint32_t LastError();
void SetLastErrorCode(uint32_t code);
// The system's text for an error code, without a trailing line break.
String SystemErrorText(uint32_t code);

}  // namespace platform

#include "lib/exceptions.h"

namespace platform {

// Raises EOSError for the calling thread's last error code, with the system's
// text for it and the given additional text.
[[noreturn]] inline void RaiseLastOSError(const String& additionalText = {}) {
  const uint32_t code = LastError();
  throw EOSError(code, code != 0 ? SystemErrorText(code) : String(), additionalText);
}

}  // namespace platform
