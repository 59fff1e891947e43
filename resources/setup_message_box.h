// Message boxes of the installer: the buttons, icons and answers of the
// system's message box (the values of MessageBoxW) and the hook that shows
// one. The entry point supplies the hook; the controller runs it on the main
// thread for questions asked by the worker.
#pragma once

#include <cstdint>
#include <functional>

#include "lib/strings.h"

constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbAbortRetryIgnore = 0x2;
constexpr uint32_t kMbRetryCancel = 0x5;
constexpr uint32_t kMbIconError = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconWarning = 0x30;
constexpr uint32_t kMbDefButton2 = 0x100;

// Answers; 0 when no box could be shown.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;

// Shows a message box with the text, the caption (empty: none) and the flags
// and returns the button chosen.
using TSetupMessageBox =
    std::function<int(const String& text, const String& caption, uint32_t flags)>;
