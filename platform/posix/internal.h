// Shared state of the native stand-in (never part of the product).
#pragma once

#include <dirent.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "lib/strings.h"

namespace platform::posix_internal {

// Folds case the way the stand-in compares names (Unicode simple folding).
String Fold(StringView text);
bool SameName(StringView a, StringView b);
// Finds the name among the entries of the open folder without regard to
// case (found: as spelled on disk), and closes the folder.
bool FindEntryName(DIR* dir, const String& name, std::string& found);

// The absolute Windows form of a path: "\\?\" removed, "/" -> "\", relative
// paths resolved against the current folder, "." and ".." collapsed,
// trailing dots and spaces of components removed. Empty with error set when
// the path is unusable (kErrorInvalidName, kErrorBadNetPath, ...).
String Normalize(const String& path, uint32_t& error);

struct TResolved {
  std::string host;  // host path; existing components spelled as on disk
  String windows;    // normalised Windows path
  bool parentExists = false;
};
// Resolves a Windows path to the host. False with LastError() set when the
// path is invalid or its drive is not mapped.
bool Resolve(const String& path, TResolved& out);

// Records a delayed rename/deletion the way Windows does (registry value
// PendingFileRenameOperations).
void RecordPendingRename(const String& source, const String& target, bool replace);

// True when a running fake program was started from this (normalised) path:
// like a mapped executable on Windows it cannot be deleted, only moved.
bool IsRunningImage(const String& windowsPath);

// Forgets the per-world state of each unit (called by ResetWorld).
void ResetFiles();
void ResetRegistry();
void ResetProcesses();

// The current host error (errno) as a Win32 code; ENOENT becomes 3 when the
// parent folder does not exist.
uint32_t ErrnoToWin32(int err, bool parentExists);

}  // namespace platform::posix_internal

namespace platform::posix_internal {
// Records the calling thread as the main thread (platform::Initialize).
void MarkMainThread();
}  // namespace platform::posix_internal
