// Closing the running player and its tools.
#include <atomic>

#include "platform/process.h"
#include "product/setup_action_close.h"
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

#endif

}  // namespace
}  // namespace product_test
