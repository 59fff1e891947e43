// Base exception types shared by every layer.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The base of every error the system raises. Messages are UTF-16 like every
// other text; what() gives the UTF-8 form for diagnostics.
class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message);
  const std::u16string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
};

// Stream layer errors.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {  // "Stream read error"
 public:
  EReadError();
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {  // "Stream write error"
 public:
  EWriteError();
  // The system's reason when there is one, else "Stream write error".
  explicit EWriteError(const std::u16string& reason);
};
// "Cannot open file \"%s\". %s"
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::u16string& fileName, const std::u16string& systemMessage);
};
// "Cannot create file \"%s\". %s"
class EFCreateError : public EStreamError {
 public:
  EFCreateError(const std::u16string& fileName, const std::u16string& systemMessage);
};

class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// A text template that Format cannot process.
class EFormatError : public Exception {
 public:
  using Exception::Exception;
};

// A failed call of an operating-system function: "System Error.  Code: %d.\r\n%s%s"
// (code, the system's text, an additional text), or "A call to an OS function
// failed" when the code is 0. platform::RaiseLastOSError raises it with the
// system's text.
class EOSError : public Exception {
 public:
  EOSError(uint32_t errorCode, const std::u16string& systemText,
           const std::u16string& additionalText = {});
  uint32_t ErrorCode() const noexcept { return errorCode_; }

 private:
  uint32_t errorCode_;
};

// A module resource that is not there: "Resource %s not found".
class EResNotFound : public Exception {
 public:
  explicit EResNotFound(const std::u16string& resourceName);
};
