// Starting programs and waiting for them.
#pragma once

#include <cstdint>

#include "lib/strings.h"
#include "platform/handles.h"

namespace platform {

constexpr int kSwHide = 0;
constexpr int kSwShowNormal = 1;
constexpr int kSwShow = 5;

constexpr uint32_t kStillActive = 259;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

struct TProcessInfo {
  TWaitHandle process;  // signalled when the process ends
  uint32_t processId = 0;
};

// CreateProcessW with no application name and the command line unchanged,
// handles inherited, STARTF_USESHOWWINDOW with the show value, the caller's
// environment and current folder. False with LastError() on failure.
bool StartProcess(const String& commandLine, int show, TProcessInfo& info);
// WaitForInputIdle: 0 when idle, kWaitTimeout, or kWaitFailed (also for a
// program without a message queue, such as a console program).
uint32_t WaitForProcessIdle(const TWaitHandle& process, uint32_t timeoutMs);
// OpenProcess with SYNCHRONIZE: a handle that is signalled when the process
// ends; empty (LastError() set) when it cannot be opened.
TWaitHandle OpenProcessById(uint32_t processId);
// GetExitCodeProcess: kStillActive while running.
bool ProcessExitCode(const TWaitHandle& process, uint32_t& exitCode);

}  // namespace platform
