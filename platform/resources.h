// Resources of the running program.
#pragma once

#include <cstddef>
#include <cstdint>

#include <memory>

#include "lib/stream.h"
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

// The same resource as a stream, for reading it once from start to end.
// Where its bytes lie unchanged in the program's file, the stream reads them
// from there, so that they need not be brought into the process's memory:
// through a handle that denies writing and renaming the file while it is
// open, and only once that handle is shown to be the very file the program
// was loaded from. Otherwise it reads the loaded resource. Null, with
// LastError() set, when there is no such resource.
std::unique_ptr<TStream> OpenDataResource(const String& name);

}  // namespace platform
