// Closing the running player and its tools.
#include <atomic>

#include "platform/process.h"
#include "product/setup_action_close.h"
#include "resources/installer_errors.h"
#include "product_test_util.h"

namespace product_test {
namespace {

#ifndef _WIN32

using platform::WaitResult;

class CloseTest : public ProductTest {
 protected:
  // Starts a fake program whose window of that class refuses WM_CLOSE
  // `refusals` times and then ends the program; with hang it never looks at
  // its messages until `release` is signalled.
  platform::TProcessInfo Start(const String& path, const String& className, int refusals,
                               bool hang = false) {
    platform::TWaitHandle started = platform::NewEvent(true, false);
    platform::standin::RegisterProgram(path, [=, this](const String&) -> uint32_t {
      auto left = std::make_shared<int>(refusals);
      const platform::WindowHandle window = platform::CreateMessageWindow(
          className,
          [left, this](platform::WindowHandle w, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
            if (msg != platform::kWmClose) return platform::DefaultHandler(w, msg, wp, lp);
            ++closeMessages_;
            if ((*left)-- <= 0) platform::QuitMessageLoop(0);
            return 0;
          });
      platform::SignalEvent(started);
      if (hang) platform::Wait(release_, platform::kInfinite);
      const int result = platform::RunMessageLoop();
      platform::DestroyMessageWindow(window);
      return static_cast<uint32_t>(result);
    });
    platform::TProcessInfo process;
    EXPECT_TRUE(platform::StartProcess(u"\"" + path + u"\"", platform::kSwShow, process));
    EXPECT_EQ(platform::Wait(started, 5000), WaitResult::Signalled);
    return process;
  }

  // Asks the window of that class to close until it has gone.
  void EndProgram(const String& className, const platform::TProcessInfo& process) {
    for (int i = 0; i < 20 && platform::Wait(process.process, 0) != WaitResult::Signalled; ++i) {
      const platform::WindowHandle window = platform::FindWindowByClass(className);
      if (window) platform::Send(window, platform::kWmClose, 0, 0);
      platform::Wait(process.process, 100);
    }
    EXPECT_EQ(platform::Wait(process.process, 5000), WaitResult::Signalled);
  }

  std::atomic<int> closeMessages_{0};
  platform::TWaitHandle release_ = platform::NewEvent(true, false);
};

TEST_F(CloseTest, ClosesEveryToolAndReturnsAtOnceWhenNoneIsLeft) {
  CreateAuto(work_);
  const uint32_t start = platform::TickCount();
  TSetupActionCloseApplications().Execute();
  // Nothing runs: no waiting at all.
  EXPECT_LT(platform::TickCount() - start, 1000u);

  const auto player = Start(u"C:\\Mivo\\Mivo.exe", u"TMivoMainForm", 0);
  const auto converter = Start(u"C:\\Mivo\\Converter.exe", u"TMivoConverterMainForm", 0);
  TSetupActionCloseApplications().Execute();
  EXPECT_EQ(platform::Wait(player.process, 0), WaitResult::Signalled);
  EXPECT_EQ(platform::Wait(converter.process, 0), WaitResult::Signalled);
  EXPECT_EQ(closeMessages_, 2);
}

// A window that ignores WM_CLOSE is asked again on every pass until it goes.
TEST_F(CloseTest, RefusingWindowIsAskedAgain) {
  CreateAuto(work_);
  const auto player = Start(u"C:\\Mivo\\Mivo.exe", u"TMivoMainForm", 2);
  TSetupActionCloseApplications().Execute();
  EXPECT_EQ(platform::Wait(player.process, 0), WaitResult::Signalled);
  EXPECT_EQ(closeMessages_, 3);
}

// A window that does not answer cannot hold the step: a stop ends it between
// passes, and the window is not counted as closed.
TEST_F(CloseTest, HungWindowDoesNotHangTheStep) {
  CreateAuto(work_);
  const auto player = Start(u"C:\\Mivo\\Mivo.exe", u"TMivoMainForm", 0, true);
  TSetupActionCloseApplications action;
  platform::TWaitHandle done = platform::StartThread([&] { action.Execute(); });
  // The step reports its status to the main thread, which keeps delivering.
  EXPECT_EQ(platform::WaitWithMessages(done, 500), WaitResult::TimedOut);
  action.Terminate();
  EXPECT_EQ(platform::WaitWithMessages(done, TSetupActionCloseApplications::kAnswerTimeoutMs + 2000),
            WaitResult::Signalled);
  EXPECT_EQ(closeMessages_, 0);
  platform::SignalEvent(release_);  // the late WM_CLOSE ends it now
  EXPECT_EQ(platform::Wait(player.process, 5000), WaitResult::Signalled);
}

// A silent run gives up on a window that keeps refusing: the error names the
// program, the controller learns that the player is in use, and the window
// was asked on every pass until then.
TEST_F(CloseTest, SilentRunGivesUpOnARefusingPlayer) {
  Create(u"/AUTO=\"" + work_ + u"\" /SILENT /CLOSETIMEOUT=1");
  const auto player = Start(u"C:\\Mivo\\Mivo.exe", u"TMivoMainForm", 10);
  try {
    TSetupActionCloseApplications().Execute();
    ADD_FAILURE() << "the step did not give up";
  } catch (const EInstallerInstallError& e) {
    const std::string message = U8(e.Message());
    EXPECT_NE(message.find("The player is in use"), std::string::npos) << message;
    EXPECT_NE(message.find("\r\nC:\\Mivo\\Mivo.exe"), std::string::npos) << message;
  }
  EXPECT_TRUE(setup_->PlayerInUse());
  EXPECT_GE(closeMessages_, 1);
  EXPECT_EQ(platform::Wait(player.process, 0), WaitResult::TimedOut);
  EndProgram(u"TMivoMainForm", player);
}

// The wizard (not silent) keeps waiting: the person can cancel.
TEST_F(CloseTest, WizardRunKeepsWaitingForARefusingPlayer) {
  Create(u"/AUTO=\"" + work_ + u"\" /CLOSETIMEOUT=0");
  const auto player = Start(u"C:\\Mivo\\Mivo.exe", u"TMivoMainForm", 10);
  TSetupActionCloseApplications action;
  platform::TWaitHandle done = platform::StartThread([&] {
    try {
      action.Execute();
    } catch (const Exception&) {
      ADD_FAILURE() << "the step gave up";
    }
  });
  EXPECT_EQ(platform::WaitWithMessages(done, 3000), WaitResult::TimedOut);
  action.Terminate();
  EXPECT_EQ(platform::WaitWithMessages(done, 10000), WaitResult::Signalled);
  EXPECT_FALSE(setup_->PlayerInUse());
  EXPECT_GE(closeMessages_, 2);
  EndProgram(u"TMivoMainForm", player);
}

#endif

TEST(WaitLimitTest, SwitchValue) {
  const struct {
    const char16_t* arguments;
    int seconds;  // -1: refused
  } cases[] = {
      {u"/AUTO /SILENT", 60},          {u"/AUTO /SILENT /CLOSETIMEOUT=5", 5},
      {u"/closetimeout=0", 0},         {u"/CLOSETIMEOUT=\" 30 \"", 30},
      {u"/CLOSETIMEOUT=86400", 86400}, {u"/CLOSETIMEOUT=86401", -1},
      {u"/CLOSETIMEOUT=", -1},         {u"/CLOSETIMEOUT", -1},
      {u"/CLOSETIMEOUT=-1", -1},       {u"/CLOSETIMEOUT=5s", -1},
      {u"/CLOSETIMEOUT=99999999999", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.arguments));
    if (c.seconds < 0) {
      EXPECT_THROW(ParseWaitLimit(c.arguments), EInstallerGeneralError);
    } else {
      EXPECT_EQ(ParseWaitLimit(c.arguments), static_cast<uint32_t>(c.seconds));
    }
  }
}

}  // namespace
}  // namespace product_test
