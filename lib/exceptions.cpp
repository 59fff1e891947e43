#include "lib/exceptions.h"

#include "lib/strings.h"

Exception::Exception(std::u16string message)
    : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}

EReadError::EReadError() : EStreamError(u"Stream read error") {}
EWriteError::EWriteError() : EStreamError(u"Stream write error") {}

EFOpenError::EFOpenError(const std::u16string& fileName, const std::u16string& systemMessage)
    : EStreamError(u"Cannot open file \"" + fileName + u"\". " + systemMessage) {}

EFCreateError::EFCreateError(const std::u16string& fileName, const std::u16string& systemMessage)
    : EStreamError(u"Cannot create file \"" + fileName + u"\". " + systemMessage) {}

EOSError::EOSError(uint32_t errorCode, const std::u16string& systemText,
                   const std::u16string& additionalText)
    : Exception(errorCode == 0 ? std::u16string(u"A call to an OS function failed")
                               : u"System Error.  Code: " + IntToStr(errorCode) + u".\r\n" +
                                     systemText + additionalText),
      errorCode_(errorCode) {}

EResNotFound::EResNotFound(const std::u16string& resourceName)
    : Exception(u"Resource " + resourceName + u" not found") {}
