#include "product/setup_action_close.h"

#include <vector>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "product/setup_classes.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionCloseApplications",
                                     ActionClass<TSetupActionCloseApplications>());

constexpr uint32_t kPollMs = 50;

struct TClosedWindow {
  platform::WindowHandle window;
  platform::TWaitHandle process;  // empty when the process cannot be opened
};

bool Gone(const TClosedWindow& closed) {
  if (closed.process) return platform::Wait(closed.process, 0) == platform::WaitResult::Signalled;
  return platform::WindowProcessId(closed.window) == 0;
}

}  // namespace

void TSetupActionCloseApplications::Execute() {
  SetStatus(GetCommonText(u"A8"));
  while (!terminated_) {
    bool found = false;
    std::vector<TClosedWindow> closed;
    for (const char16_t* className : kWindowClasses) {
      const platform::WindowHandle window = platform::FindWindowByClass(className);
      if (!window) continue;
      found = true;
      // Taken before the message: a window that closes is gone afterwards.
      const uint32_t processId = platform::WindowProcessId(window);
      // A window that does not answer in time counts as still open: the
      // next pass tries it again.
      if (!platform::SendWithTimeout(window, platform::kWmClose, 0, 0, kAnswerTimeoutMs)) continue;
      closed.push_back({window, processId ? platform::OpenProcessById(processId)
                                          : platform::TWaitHandle()});
    }
    if (!found) return;
    // Wait until the closed windows' processes have ended (their files are
    // free then), at most kSettleMs; a stop ends the wait.
    const uint32_t start = platform::TickCount();
    while (!terminated_ && platform::TickCount() - start < kSettleMs) {
      bool allGone = !closed.empty();
      for (const TClosedWindow& c : closed) allGone = allGone && Gone(c);
      if (allGone) break;
      platform::Wait(stop_, kPollMs);
    }
  }
}

void TSetupActionCloseApplications::Terminate() {
  terminated_ = true;
  platform::SignalEvent(stop_);
}
