// Native stand-in: the library's portable services (Unicode simple case
// folding, Windows-1252 as the ANSI code page, files through the C library).
#include "lib/system.h"
#include "platform/platform.h"

namespace platform {
void Initialize() { SetVelSystem(nullptr); }
}  // namespace platform
