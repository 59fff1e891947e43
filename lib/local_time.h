// The current local time, on every platform.
#pragma once

#include <ctime>

// The broken-down local time of the present moment.
std::tm LocalTimeNow();
