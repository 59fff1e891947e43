#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "platform/messages.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

class MessagesTest : public PlatformTest {
 protected:
  void TearDown() override {
    for (WindowHandle w : windows_) DestroyMessageWindow(w);
    PlatformTest::TearDown();
  }
  WindowHandle Window(const String& cls, TMessageHandler handler) {
    const WindowHandle w = CreateMessageWindow(cls, std::move(handler));
    if (w) windows_.push_back(w);
    return w;
  }
  std::vector<WindowHandle> windows_;
};

TEST_F(MessagesTest, SendFromWorkerRunsOnOwnerThreadInOrder) {
  ASSERT_TRUE(IsMainThread());
  const auto mainId = std::this_thread::get_id();
  std::vector<uintptr_t> received;  // touched only on the main thread
  bool allOnMain = true;
  const WindowHandle w = Window(
      u"MivoTestNotify", [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg != kWmUser) return DefaultHandler(h, msg, wp, lp);
        allOnMain = allOnMain && std::this_thread::get_id() == mainId;
        received.push_back(wp);
        return static_cast<intptr_t>(wp * 2 + lp);
      });
  ASSERT_NE(w, 0u);
  std::atomic<bool> resultsOk{true};
  TWaitHandle worker = StartThread([&] {
    for (uintptr_t i = 0; i < 50; ++i)
      if (Send(w, kWmUser, i, 1) != static_cast<intptr_t>(i * 2 + 1)) resultsOk = false;
  });
  ASSERT_TRUE(worker);
  // The main thread's wait keeps delivering the worker's messages.
  EXPECT_EQ(WaitWithMessages(worker, kInfinite), WaitResult::Signalled);
  EXPECT_TRUE(resultsOk);
  EXPECT_TRUE(allOnMain);
  ASSERT_EQ(received.size(), 50u);
  for (uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(received[i], i);
  // On the owner thread the handler runs directly.
  EXPECT_EQ(Send(w, kWmUser, 100, 0), 200);
  EXPECT_EQ(received.back(), 100u);
}

// A handler that must wait for its sender answers it first; the sender goes
// on and its next message is delivered while the handler waits.
TEST_F(MessagesTest, ReplyReleasesTheSenderWhileTheHandlerWaits) {
  TWaitHandle worker;
  std::vector<uintptr_t> received;
  bool replied = false, repliedTwice = false;
  const WindowHandle w = Window(
      u"MivoTestReply", [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg != kWmUser) return DefaultHandler(h, msg, wp, lp);
        received.push_back(wp);
        if (wp == 1) {
          replied = ReplyToSentMessage(7);
          repliedTwice = ReplyToSentMessage(8);
          EXPECT_EQ(WaitWithMessages(worker, kInfinite), WaitResult::Signalled);
        }
        return 9;
      });
  ASSERT_NE(w, 0u);
  std::atomic<intptr_t> first{0}, second{0};
  worker = StartThread([&] {
    first = Send(w, kWmUser, 1, 0);
    second = Send(w, kWmUser, 2, 0);
  });
  ASSERT_TRUE(worker);
  EXPECT_EQ(WaitWithMessages(worker, kInfinite), WaitResult::Signalled);
  EXPECT_TRUE(replied);
  EXPECT_TRUE(repliedTwice);  // but the first answer stands
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 9);
  EXPECT_EQ(received, (std::vector<uintptr_t>{1, 2}));
  // Nothing to answer for a message of the thread itself.
  bool own = true;
  const WindowHandle self =
      Window(u"MivoTestReplySelf", [&](WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t {
        own = ReplyToSentMessage(1);
        return 0;
      });
  Send(self, kWmUser, 0, 0);
  EXPECT_FALSE(own);
}

TEST_F(MessagesTest, SenderBlockedInSendStillAnswersMessagesSentToIt) {
  std::atomic<WindowHandle> workerWindow{0};
  std::thread::id workerThread;
  std::thread::id answeredOn;
  const WindowHandle mainWindow = Window(
      u"MivoTestMain", [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg != kWmUser) return DefaultHandler(h, msg, wp, lp);
        // Call back into the worker while it waits for this very message.
        return Send(workerWindow, kWmUser + 1, wp, 0) + 1;
      });
  ASSERT_NE(mainWindow, 0u);
  intptr_t result = 0;
  TWaitHandle worker = StartThread([&] {
    workerThread = std::this_thread::get_id();
    workerWindow = CreateMessageWindow(
        u"MivoTestWorker",
        [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
          if (msg != kWmUser + 1) return DefaultHandler(h, msg, wp, lp);
          answeredOn = std::this_thread::get_id();
          return static_cast<intptr_t>(wp) * 10;
        });
    result = Send(mainWindow, kWmUser, 4, 0);
    DestroyMessageWindow(workerWindow);
  });
  ASSERT_EQ(WaitWithMessages(worker, kInfinite), WaitResult::Signalled);
  EXPECT_EQ(result, 41);
  EXPECT_EQ(answeredOn, workerThread);
}

TEST_F(MessagesTest, WaitResults) {
  TWaitHandle manual = NewEvent(true, false);
  EXPECT_EQ(WaitWithMessages(manual, 0), WaitResult::TimedOut);
  EXPECT_EQ(WaitWithMessages(manual, 30), WaitResult::TimedOut);
  SignalEvent(manual);
  EXPECT_EQ(WaitWithMessages(manual, kInfinite), WaitResult::Signalled);
  EXPECT_EQ(Wait(manual, 0), WaitResult::Signalled);  // stays signalled
  ResetEvent(manual);
  EXPECT_EQ(Wait(manual, 0), WaitResult::TimedOut);

  TWaitHandle automatic = NewEvent(false, true);
  EXPECT_EQ(Wait(automatic, 0), WaitResult::Signalled);
  EXPECT_EQ(Wait(automatic, 0), WaitResult::TimedOut);  // the wait took the signal

  EXPECT_EQ(WaitWithMessages(TWaitHandle(), 0), WaitResult::Failed);
  EXPECT_EQ(Wait(TWaitHandle(), 0), WaitResult::Failed);

  // The second handle runs the caller's queue each time it is signalled.
  TWaitHandle queue = NewEvent(false, false);
  TWaitHandle finished = NewEvent(true, false);
  int calls = 0;
  TWaitHandle worker = StartThread([&] { SignalEvent(queue); });
  const WaitResult r = WaitWithMessages(finished, kInfinite, &queue, [&] {
    ++calls;
    SignalEvent(finished);
  });
  EXPECT_EQ(r, WaitResult::Signalled);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Wait(worker, kInfinite), WaitResult::Signalled);
}

TEST_F(MessagesTest, PostedMessagesAndTheLoop) {
  std::vector<uintptr_t> seen;
  const WindowHandle w = Window(
      u"MivoTestLoop", [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg != kWmApp) return DefaultHandler(h, msg, wp, lp);
        seen.push_back(wp);
        if (wp == 3) QuitMessageLoop(7);
        return 0;
      });
  ASSERT_NE(w, 0u);
  for (uintptr_t i = 1; i <= 3; ++i) ASSERT_TRUE(Post(w, kWmApp, i, 0));
  EXPECT_EQ(RunMessageLoop(), 7);
  EXPECT_EQ(seen, (std::vector<uintptr_t>{1, 2, 3}));

  ASSERT_TRUE(Post(w, kWmApp, 4, 0));
  EXPECT_TRUE(ProcessMessages());
  EXPECT_EQ(seen.back(), 4u);
}

TEST_F(MessagesTest, RegisteredMessagesAndCopyData) {
  const uint32_t a = RegisterMessage(u"MivoTestToken");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterMessage(u"mivotesttoken"), a);
  EXPECT_NE(RegisterMessage(u"MivoTestOther"), a);

  std::vector<uint8_t> payload;
  uintptr_t tag = 0, sender = 0;
  const WindowHandle w = Window(
      u"MivoTestCopy", [&](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg != kWmCopyData || !lp) return DefaultHandler(h, msg, wp, lp);
        const auto* cds = reinterpret_cast<const TCopyData*>(lp);
        tag = cds->dwData;
        sender = wp;
        const auto* p = static_cast<const uint8_t*>(cds->lpData);
        payload.assign(p, p + cds->cbData);
        return 1;
      });
  ASSERT_NE(w, 0u);
  const String text = u"C:\\Program Files\\Mivo\\Mivo.exe";
  intptr_t result = 0;
  TWaitHandle worker = StartThread([&] {
    result = SendCopyData(w, 0x1234, a, text.data(), static_cast<uint32_t>(text.size() * 2));
  });
  ASSERT_EQ(WaitWithMessages(worker, kInfinite), WaitResult::Signalled);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(tag, a);
  EXPECT_EQ(sender, 0x1234u);
  ASSERT_EQ(payload.size(), text.size() * 2);
  EXPECT_EQ(String(reinterpret_cast<const char16_t*>(payload.data()), text.size()), text);

  EXPECT_EQ(SendCopyData(w, 0, a, nullptr, 0), 1);  // an empty payload
  EXPECT_TRUE(payload.empty());
}

TEST_F(MessagesTest, FindWindowAndItsProcess) {
  const WindowHandle w =
      Window(u"MivoTestFindMe", [](WindowHandle h, uint32_t m, uintptr_t wp, intptr_t lp) {
        return DefaultHandler(h, m, wp, lp);
      });
  ASSERT_NE(w, 0u);
  EXPECT_EQ(FindWindowByClass(u"MivoTestFindMe"), w);
  EXPECT_EQ(FindWindowByClass(u"MivoTestNoSuchClass"), 0u);
  EXPECT_EQ(WindowProcessId(w), CurrentProcessId());
  String image;
  ASSERT_TRUE(ProcessImagePath(CurrentProcessId(), image));
  EXPECT_TRUE(SameTextAscii(image, ModuleFileName())) << U8(image);

  ASSERT_TRUE(DestroyMessageWindow(w));
  windows_.clear();
  EXPECT_EQ(FindWindowByClass(u"MivoTestFindMe"), 0u);
  EXPECT_EQ(Send(w, kWmUser, 0, 0), 0);
  EXPECT_EQ(LastError(), kErrorInvalidWindowHandle);
  EXPECT_FALSE(Post(w, kWmUser, 0, 0));
}

// A window whose thread does not look at its messages cannot hold a sender
// that gives it a time-out; one that answers gives its result.
TEST_F(MessagesTest, SendWithTimeoutGivesUpOnAWindowThatDoesNotAnswer) {
  const WindowHandle w = Window(
      u"MivoTestTimeout", [](WindowHandle h, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        return msg == kWmUser ? 42 : DefaultHandler(h, msg, wp, lp);
      });
  ASSERT_NE(w, 0u);
  std::atomic<int> answered{0};
  std::atomic<uint32_t> error{0};
  intptr_t result = 0;
  // The main thread does not deliver while it waits without messages.
  TWaitHandle worker = StartThread([&] {
    if (SendWithTimeout(w, kWmUser, 0, 0, 200, &result)) answered = 1;
    error = LastError();
  });
  EXPECT_EQ(Wait(worker, 5000), WaitResult::Signalled);
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(error, kErrorTimeout);
  ProcessMessages();  // the late message is still delivered; nobody waits for it

  worker = StartThread([&] {
    if (SendWithTimeout(w, kWmUser, 0, 0, 5000, &result)) answered = 1;
  });
  EXPECT_EQ(WaitWithMessages(worker, 10000), WaitResult::Signalled);
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(SendWithTimeout(0x7FF0, kWmUser, 0, 0, 100));
  EXPECT_EQ(LastError(), kErrorInvalidWindowHandle);
}

}  // namespace
}  // namespace platform_test
