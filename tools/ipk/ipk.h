// ipk, the package tool: creates, lists, extracts, prints and verifies
// package files. The command functions are separate from main so that the
// tests can run them.
#pragma once

#include <ostream>
#include <vector>

#include "lib/strings.h"

namespace ipk {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

// Runs one command line (without the program name). Normal output goes to
// out (file bytes for "cat"), messages to err; progress is shown on err only
// when showProgress is set.
int Run(const std::vector<String>& args, std::ostream& out, std::ostream& err,
        bool showProgress = false);

// Turns a stored name into the components of a path below the target
// folder. False, with the reason, for names that could point elsewhere or
// that Windows would alter: absolute paths, drive letters and UNC paths,
// empty, "." and ".." components, characters not allowed in Windows file
// names, names ending in a dot or space, and device names such as "NUL".
bool SplitStoredName(StringView name, std::vector<String>& parts, String& reason);

}  // namespace ipk
