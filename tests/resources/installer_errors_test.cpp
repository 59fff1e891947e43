// The installer's error classes and the operating-system error.
#include <gtest/gtest.h>

#include "lib/exceptions.h"
#include "platform/errors.h"
#include "resources/installer_errors.h"
#include "resources_test_util.h"

namespace {

TEST(InstallerErrors, MessagesAndFamily) {
  EXPECT_EQ(U8(EInstallerNoAdminRightsError().Message()),
            "Administrator rights are required to process this operation.");
  try {
    throw EInstallerUpdateError(u"Cannot install update on v3.40");
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(U8(e.Message()), "Cannot install update on v3.40");
  }
  EXPECT_THROW(throw EInstallerBackupError(u"x"), EInstallerGeneralError);
  EXPECT_THROW(throw EInstallerMysteryError(u"x"), EInstallerGeneralError);
  EXPECT_THROW(throw EInstallerNoAdminRightsError(), Exception);
}

TEST(InstallerErrors, OperatingSystemError) {
  EXPECT_EQ(U8(EOSError(5, u"Access denied.", u" (copy)").Message()),
            "System Error.  Code: 5.\r\nAccess denied. (copy)");
  EXPECT_EQ(U8(EOSError(0, u"ignored").Message()), "A call to an OS function failed");

  platform::SetLastErrorCode(platform::kErrorFileNotFound);
  try {
    platform::RaiseLastOSError(u"!");
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), platform::kErrorFileNotFound);
    EXPECT_EQ(U8(e.Message()), "System Error.  Code: 2.\r\n" +
                                   U8(platform::SystemErrorText(platform::kErrorFileNotFound)) +
                                   "\r\n!");
  }
}

}  // namespace
