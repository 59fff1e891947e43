#include "lib/exceptions.h"

#include "lib/strings.h"

namespace {

// The system's text and the text that follows it as separate lines: a text
// without a line end would run into the next words ("Disk full.Z:\...").
std::u16string JoinLines(const std::u16string& first, const std::u16string& second) {
  if (first.empty() || second.empty()) return first + second;
  const char16_t last = first.back(), next = second.front();
  if (last == u'\n' || last == u'\r' || next == u' ' || next == u'\r' || next == u'\n')
    return first + second;
  return first + u"\r\n" + second;
}

}  // namespace

Exception::Exception(std::u16string message)
    : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

EReadError::EReadError() : EStreamError(u"Stream read error") {}
EWriteError::EWriteError() : EStreamError(u"Stream write error") {}
EWriteError::EWriteError(const std::u16string& reason)
    : EStreamError(reason.empty() ? std::u16string(u"Stream write error") : reason) {}

EFOpenError::EFOpenError(const std::u16string& fileName, const std::u16string& systemMessage)
    : EStreamError(u"Cannot open file \"" + fileName + u"\". " + systemMessage) {}

EFCreateError::EFCreateError(const std::u16string& fileName, const std::u16string& systemMessage)
    : EStreamError(u"Cannot create file \"" + fileName + u"\". " + systemMessage) {}

EOSError::EOSError(uint32_t errorCode, const std::u16string& systemText,
                   const std::u16string& additionalText)
    : Exception(errorCode == 0 ? std::u16string(u"A call to an OS function failed")
                               : u"System Error.  Code: " + IntToStr(errorCode) + u".\r\n" +
                                     JoinLines(systemText, additionalText)),
      errorCode_(errorCode) {}

EResNotFound::EResNotFound(const std::u16string& resourceName)
    : Exception(u"Resource " + resourceName + u" not found") {}
