// The main thread's wait that keeps delivering messages sent to it.
#include "platform/errors.h"
#include "platform/messages.h"

namespace platform {

WaitResult WaitWithMessages(const TWaitHandle& handle, uint32_t timeoutMs,
                            const TWaitHandle* second, const std::function<void()>& onSecond) {
  if (!IsMainThread()) return Wait(handle, timeoutMs);
  if (!handle) {
    SetLastErrorCode(kErrorInvalidHandle);
    return WaitResult::Failed;
  }
  const WaitResult now = Wait(handle, 0);
  if (now != WaitResult::TimedOut) return now;
  const uint32_t start = TickCount();
  for (;;) {
    switch (MsgWait(handle, second, 100)) {
      case MsgWaitEvent::Handle:
        return WaitResult::Signalled;
      case MsgWaitEvent::Second:
        if (onSecond) onSecond();
        break;
      case MsgWaitEvent::SentMessage:
        ProcessSentMessages();
        break;
      case MsgWaitEvent::Abandoned:
        return WaitResult::Abandoned;
      case MsgWaitEvent::Failed:
        return WaitResult::Failed;
      case MsgWaitEvent::TimedOut:
        break;
    }
    if (timeoutMs != kInfinite && static_cast<uint32_t>(TickCount() - start) >= timeoutMs)
      return WaitResult::TimedOut;
  }
}

}  // namespace platform
