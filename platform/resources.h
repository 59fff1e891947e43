// Resources of the running program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/strings.h"

namespace platform {

// A read-only view of resource bytes; valid for the life of the process.
struct TResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The running program's RT_RCDATA resource of that name (names compare
// without regard to case). False, with LastError() set, when there is none.
bool FindDataResource(const String& name, TResourceBytes& bytes);

}  // namespace platform
