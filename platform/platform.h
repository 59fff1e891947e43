// Start-up of the platform layer: installs the operating-system services that
// the layers above reach through plain C++ interfaces.
#pragma once

namespace platform {

// Installs the backend's services (the Win32 API in the product, the POSIX
// stand-in in native builds). Call once, first thing in main.
void Initialize();

}  // namespace platform
