// The log of one run, for administrators who deploy unattended: every part
// of the program adds lines; the entry point decides whether they go
// anywhere (a file named on the command line) or nowhere (the default).
#pragma once

#include <functional>

#include "lib/strings.h"

// Receives each line (without a line end). Called under a lock, from any
// thread, one line at a time.
using TRunLogSink = std::function<void(StringView line)>;

// Sets the sink; an empty one ends the log. Lines added while there is no
// sink are lost.
void SetRunLogSink(TRunLogSink sink);
bool RunLogEnabled();
// Adds a line; a text of several lines (CR LF) becomes several lines.
void RunLog(StringView text);
