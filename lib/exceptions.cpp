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
