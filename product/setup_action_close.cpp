#include "product/setup_action_close.h"

#include <algorithm>
#include <vector>

#include "core/setup.h"
#include "lib/format.h"
#include "lib/run_log.h"
#include "platform/errors.h"
#include "resources/installer_errors.h"
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

// The program that owns the window, by its file; the window's class when the
// program cannot be known.
String ProgramOf(platform::WindowHandle window, StringView className) {
  String path;
  const uint32_t processId = platform::WindowProcessId(window);
  if (processId != 0 && platform::ProcessImagePath(processId, path) && !path.empty()) return path;
  return u"a window of class " + String(className);
}

}  // namespace

void TSetupActionCloseApplications::Execute() {
  SetStatus(GetCommonText(u"A8"));
  // A silent run has nobody who could cancel it: it gives up after a time.
  const bool bounded = Setup->IsOptionSet(TSetupOption::Silent);
  const uint32_t limitMs = Setup->WaitLimitSeconds() * 1000;
  const uint32_t begin = platform::TickCount();
  const auto remaining = [&]() -> uint32_t {
    const uint32_t elapsed = platform::TickCount() - begin;
    return elapsed >= limitMs ? 0 : limitMs - elapsed;
  };
  for (int pass = 0; !terminated_; ++pass) {
    bool found = false;
    std::vector<TClosedWindow> closed;
    std::vector<String> open;
    for (const char16_t* className : kWindowClasses) {
      const platform::WindowHandle window = platform::FindWindowByClass(className);
      if (!window) continue;
      found = true;
      // Every window is asked at least once.
      if (bounded && pass > 0 && remaining() == 0) {
        open.push_back(ProgramOf(window, className));
        continue;
      }
      // Taken before the message: a window that closes is gone afterwards.
      const uint32_t processId = platform::WindowProcessId(window);
      // A window that does not answer in time counts as still open: the
      // next pass tries it again.
      const uint32_t answerMs =
          bounded ? std::clamp(remaining(), kPollMs, kAnswerTimeoutMs) : kAnswerTimeoutMs;
      if (!platform::SendWithTimeout(window, platform::kWmClose, 0, 0, answerMs)) continue;
      closed.push_back({window, processId ? platform::OpenProcessById(processId)
                                          : platform::TWaitHandle()});
    }
    if (!found) return;
    if (!open.empty()) GiveUp(open);
    // Wait until the closed windows' processes have ended (their files are
    // free then), at most kSettleMs (and no longer than a silent run's time
    // allows); a stop ends the wait.
    const uint32_t start = platform::TickCount();
    const uint32_t settle = bounded ? std::min(kSettleMs, remaining()) : kSettleMs;
    while (!terminated_ && platform::TickCount() - start < settle) {
      bool allGone = !closed.empty();
      for (const TClosedWindow& c : closed) allGone = allGone && Gone(c);
      if (allGone) break;
      platform::Wait(stop_, kPollMs);
    }
  }
}

void TSetupActionCloseApplications::GiveUp(const std::vector<String>& programs) {
  String list;
  for (const String& program : programs) list += u"\r\n" + program;
  Setup->SetPlayerInUse();
  RunLog(u"Still running after " + IntToStr(static_cast<int>(Setup->WaitLimitSeconds())) +
         u" s: " + list.substr(2));
  throw EInstallerInstallError(
      Format(u"The player is in use: it did not close within %s seconds, and nothing was "
             u"changed. Close it and run Setup again.\r\n\r\nStill running:%s",
             {IntToStr(static_cast<int>(Setup->WaitLimitSeconds())), list}));
}

void TSetupActionCloseApplications::Terminate() {
  terminated_ = true;
  platform::SignalEvent(stop_);
}
