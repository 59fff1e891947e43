// The worker thread: actions run in order, progress and status reach the
// listeners on the main thread synchronously and in order, errors end the
// run, and cancelling never deadlocks the main thread.
#include <atomic>
#include <thread>

#include "core_test_util.h"
#include "resources/installer_errors.h"

namespace core_test {
namespace {

using TEntry = TRecorder::TEntry;

class WorkerTest : public CoreTest {
 protected:
  // Runs the scenario's actions automatically, recording every notification.
  void Run() {
    TSetup& setup = CreateAuto();
    setup.AddListener(&recorder_);
    setup.StartInstall(true);
  }
  TRecorder recorder_;
};

TEST(ActionList, AverageProgressIsTheIntegerMean) {
  struct TCase {
    std::vector<int32_t> progress;
    int32_t average;
  } cases[] = {{{}, 0}, {{100, 100, 50}, 83}, {{100, 50, 0, 0}, 37}, {{1, 0, 0}, 0}, {{100}, 100}};
  for (const auto& c : cases) {
    TSetupActionList list;
    for (int32_t p : c.progress) {
      auto action =
          std::make_unique<TStepAction>(std::vector<int32_t>{}, nullptr, nullptr, nullptr);
      action->SetProgress(p);
      list.Add(std::move(action));
    }
    EXPECT_EQ(list.AverageProgress(), c.average) << c.progress.size();
  }
}

TEST_F(WorkerTest, NotificationsArriveOnTheMainThreadInOrder) {
  // Four actions; the second reports 50 % (then 50 % again, which sends
  // nothing) and a status text.
  Scenario().actions = {Steps({}), Steps({50, 50}, [](TStepAction& a) { a.SetStatus(u"second"); }),
                        Steps({}), Steps({})};
  Run();
  const std::vector<TEntry> expected = {
      {NotifyProgress, Packed(0, 0)},    {NotifyProgressTick, 0},
      {NotifyProgress, Packed(25, 100)}, {NotifyProgressTick, 0},
      {NotifyProgress, Packed(25, 0)},   {NotifyProgressTick, 0},
      {NotifyProgress, Packed(37, 50)},  {NotifyProgressTick, 0},
      {NotifyStatus, 0, u"second"},      {NotifyProgress, Packed(50, 100)},
      {NotifyProgressTick, 0},           {NotifyProgress, Packed(50, 0)},
      {NotifyProgressTick, 0},           {NotifyProgress, Packed(75, 100)},
      {NotifyProgressTick, 0},           {NotifyProgress, Packed(75, 0)},
      {NotifyProgressTick, 0},           {NotifyProgress, Packed(100, 100)},
      {NotifyProgressTick, 0},           {NotifyFinished, 0}};
  // The status text's address is only valid during the call: compare texts.
  for (auto& e : recorder_.entries)
    if (e.code == NotifyStatus) e.param = 0;
  EXPECT_EQ(recorder_.entries, expected);
  EXPECT_EQ(Packed(37, 50), 37u * 65536 + 50);
  for (const auto& e : recorder_.entries) EXPECT_TRUE(e.onMain);
  EXPECT_EQ(setup_->State(), TSetupState::Done);
  EXPECT_FALSE(setup_->HasErrors());
  EXPECT_FALSE(setup_->Cancelled());
}

TEST_F(WorkerTest, ActionsRunOnTheWorkerThread) {
  std::atomic<bool> onMain{true};
  Scenario().actions = {Steps({}, [&](TStepAction&) { onMain = platform::IsMainThread(); })};
  Run();
  EXPECT_FALSE(onMain);
}

TEST_F(WorkerTest, EmptyRunSendsOnlyFinished) {
  Run();
  EXPECT_EQ(recorder_.entries, (std::vector<TEntry>{{NotifyFinished, 0}}));
}

TEST_F(WorkerTest, AnErrorEndsTheRunWhereItWas) {
  int thirdRan = 0;
  Scenario().actions = {
      Steps({}),
      Steps({30}, [](TStepAction&) { throw EInstallerInstallError(u"Cannot write\r\nfile"); }),
      Steps({}, {}, &thirdRan)};
  Run();
  EXPECT_EQ(thirdRan, 0);
  const auto progress = recorder_.Params(NotifyProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), Packed(43, 30));  // (100 + 30 + 0) div 3
  EXPECT_EQ(recorder_.entries.back(), (TEntry{NotifyFinished, 0}));
  ASSERT_EQ(setup_->Errors.Count(), 1);
  EXPECT_EQ(U8(setup_->Errors.Strings(0)), "Cannot write\r\nfile");
  EXPECT_FALSE(setup_->Cancelled());
}

TEST_F(WorkerTest, ForeignErrorsAreCollectedToo) {
  Scenario().actions = {Steps({}, [](TStepAction&) { throw std::runtime_error("bad thing"); })};
  Run();
  ASSERT_EQ(setup_->Errors.Count(), 1);
  EXPECT_EQ(U8(setup_->Errors.Strings(0)), "bad thing");
}

// A question of an action is shown on the main thread while the worker
// waits for the answer; an error of the call reaches the action.
TEST_F(WorkerTest, MessageBoxesOfActionsRunOnTheMainThread) {
  std::vector<std::string> asked;
  std::atomic<int> answer{0};
  Scenario().actions = {Steps({}, [&](TStepAction&) {
    answer = ::Setup->ShowMessageBox(u"Retry?", u"", kMbAbortRetryIgnore);
    ::Setup->Synchronize([] { throw EInstallerInstallError(u"from the main thread"); });
  })};
  TSetup& setup = CreateAuto();
  setup.SetMessageBoxPresenter([&](const String& text, const String& caption, uint32_t flags) {
    asked.push_back(U8(text) + "|" + U8(caption) + "|" + std::to_string(flags) + "|" +
                    (platform::IsMainThread() ? "main" : "worker"));
    return kIdRetry;
  });
  setup.StartInstall(true);
  EXPECT_EQ(asked, (std::vector<std::string>{"Retry?||2|main"}));
  EXPECT_EQ(answer, kIdRetry);
  ASSERT_EQ(setup.Errors.Count(), 1);
  EXPECT_EQ(U8(setup.Errors.Strings(0)), "from the main thread");
  // Without a presenter nobody answers.
  setup.SetMessageBoxPresenter(nullptr);
  EXPECT_EQ(setup.ShowMessageBox(u"Retry?", u"", kMbAbortRetryIgnore), 0);
}

// A cancel while the third of five actions runs: that action finishes and
// hears of it, no later action runs, and the run ends as cancelled. The
// cancel comes from the main thread inside a notification, either as a
// plain Terminate or by destroying the thread (which waits for it there).
TEST_F(WorkerTest, CancelDuringTheThirdOfFiveActions) {
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "FreeThread" : "Terminate");
    int ran[5] = {}, terminated[5] = {};
    bool thirdFinished = false;
    Scenario().actions.clear();
    for (int i = 0; i < 5; ++i) {
      TStepAction::TBody body;
      if (i == 2)
        body = [&](TStepAction& a) {
          a.SetStatus(u"third");
          a.SetProgress(60);
          thirdFinished = true;
        };
      Scenario().actions.push_back(Steps({}, body, &ran[i], &terminated[i]));
    }
    recorder_ = TRecorder();
    bool freed = false;
    recorder_.onNotify = [&](uint32_t code, uintptr_t param) {
      if (code != NotifyStatus) return;
      if (destroy) {
        setup_->FreeThread();
        freed = true;
        // The thread has ended: its last word was the cancelled end.
        EXPECT_EQ(setup_->Thread(), nullptr);
        EXPECT_EQ(recorder_.entries.back(), (TEntry{NotifyFinished, 1}));
      } else {
        setup_->Thread()->Terminate();
      }
    };
    Run();
    EXPECT_EQ(freed, destroy);
    EXPECT_TRUE(thirdFinished);
    EXPECT_EQ(std::vector<int>(ran, ran + 5), (std::vector<int>{1, 1, 1, 0, 0}));
    EXPECT_EQ(std::vector<int>(terminated, terminated + 5), (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(recorder_.Params(NotifyFinished), std::vector<uintptr_t>{1});
    EXPECT_EQ(setup_->State(), TSetupState::Done);
    EXPECT_TRUE(setup_->Cancelled());
    ASSERT_EQ(setup_->Errors.Count(), 1);
    EXPECT_EQ(U8(setup_->Errors.Strings(0)), "Installation was cancelled by the user");
    setup_.reset();
  }
}

// The user confirms a cancel inside a progress notification: the main thread
// destroys the worker while the worker waits for that very notification.
TEST_F(WorkerTest, FreeThreadInsideAProgressNotificationDoesNotDeadlock) {
  int laterRan = 0;
  Scenario().actions = {Steps({10, 20, 30, 40}), Steps({}, {}, &laterRan)};
  recorder_.onNotify = [&](uint32_t code, uintptr_t param) {
    if (code == NotifyProgress && (param & 0xFFFF) == 20) setup_->FreeThread();
  };
  Run();
  EXPECT_EQ(laterRan, 0);
  EXPECT_EQ(recorder_.Params(NotifyFinished), std::vector<uintptr_t>{1});
  // The running action went on to its end (30, 40, 100) before the thread
  // stopped; nothing is delivered after the end.
  EXPECT_EQ(recorder_.entries.back(), (TEntry{NotifyFinished, 1}));
  EXPECT_EQ(recorder_.Params(NotifyProgress).back(), Packed(50, 100));
  EXPECT_TRUE(setup_->HasErrors());
}

TEST_F(WorkerTest, FreeThreadWithoutARunAndTwice) {
  TSetup& setup = CreateAuto();
  setup.FreeThread();
  EXPECT_EQ(setup.State(), TSetupState::Idle);
  Scenario().actions = {Steps({})};
  setup.StartInstall(false);
  setup.FreeThread();  // whether the thread had begun or not, it has ended now
  setup.FreeThread();
  EXPECT_EQ(setup.State(), TSetupState::Done);
  EXPECT_EQ(setup.Thread(), nullptr);
}

TEST_F(WorkerTest, StartInstallRunsOnce) {
  int ran = 0;
  Scenario().actions = {Steps({}, {}, &ran)};
  Run();
  setup_->StartInstall(true);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(recorder_.Params(NotifyFinished).size(), 1u);
}

// Many notifications from the worker while the main thread waits: each one is
// delivered before the worker goes on, so the main thread sees every value.
TEST_F(WorkerTest, EveryProgressValueIsSeenInOrder) {
  std::vector<int32_t> steps;
  for (int32_t p = 1; p < 100; ++p) steps.push_back(p);
  Scenario().actions = {Steps(steps)};
  int32_t lastShown = -1;
  bool monotonic = true;
  recorder_.onNotify = [&](uint32_t code, uintptr_t param) {
    if (code != NotifyProgress) return;
    const auto current = static_cast<int32_t>(param & 0xFFFF);
    if (current != 0 && current <= lastShown) monotonic = false;
    lastShown = current;
  };
  Run();
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(recorder_.Params(NotifyProgress).size(), 101u);  // 0, 1..99, 100
}

}  // namespace
}  // namespace core_test
