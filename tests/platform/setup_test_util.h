// Shared pieces of the tests of the file and shell routines, the spawn
// service and the relaunches. Under Windows the test program doubles as the
// child program of these tests (see setup_child_modes.cpp).
#pragma once

#include <vector>

#include "lib/strings.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/registry.h"

namespace platform_test {

// The file exists and its writer has closed it (a writer that shares
// nothing makes the open fail until then).
inline bool FileWritten(const String& path) {
  return platform::FileExists(path) &&
         platform::OpenFileShared(path, platform::kGenericRead,
                                  platform::kFileShareRead | platform::kFileShareWrite,
                                  platform::kOpenExisting) != nullptr;
}

// Waits (a bounded number of rounds) until the file exists and is written.
inline bool WaitForFile(const String& path) {
  const platform::TWaitHandle never = platform::NewEvent(true, false);
  for (int round = 0; round < 1200; ++round) {
    if (FileWritten(path)) return true;
    platform::Wait(never, 50);
  }
  return FileWritten(path);
}

// Deletes a file that may still be held by a program that is about to end.
inline bool RemoveWhenFree(const String& path) {
  const platform::TWaitHandle never = platform::NewEvent(true, false);
  for (int round = 0; round < 1200; ++round) {
    platform::SetAttributes(path, platform::kFileAttributeNormal);
    if (platform::RemoveFile(path) || !platform::FileExists(path)) return true;
    platform::Wait(never, 50);
  }
  return false;
}

// The machine's list of deletions at restart; the destructor puts back the
// list as it was, so that the tests leave no entries behind.
class TPendingRenames {
 public:
  TPendingRenames() { before_ = Read(); }
  ~TPendingRenames() {
    platform::TRegKey key;
    if (key.Open(platform::RegRoot::LocalMachine, kKey, platform::kKeyAllAccess) !=
        platform::kErrorSuccess)
      return;
    if (before_.empty())
      key.DeleteValue(kValue);
    else
      key.WriteMultiString(kValue, before_);
  }
  // The entries added since construction.
  std::vector<String> Added() const {
    std::vector<String> now = Read();
    if (now.size() < before_.size()) return now;
    return std::vector<String>(now.begin() + static_cast<std::ptrdiff_t>(before_.size()),
                               now.end());
  }

 private:
  static std::vector<String> Read() {
    std::vector<String> values;
    platform::TRegKey key;
    if (key.Open(platform::RegRoot::LocalMachine, kKey, platform::kKeyRead) ==
        platform::kErrorSuccess)
      key.ReadMultiString(kValue, values);
    return values;
  }
  static constexpr const char16_t* kKey = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  static constexpr const char16_t* kValue = u"PendingFileRenameOperations";
  std::vector<String> before_;
};

// Command-line switches of the child modes.
constexpr const char16_t* kMarkerSwitch = u"--setup-marker";      // "<file>": writes it, ends
constexpr const char16_t* kBusySwitch = u"--setup-busy";          // "<file>": runs until it exists
constexpr const char16_t* kElevatedSwitch = u"--setup-elevated";  // "<probe>" ["<path to spawn>"]
constexpr const char16_t* kRelaunchSwitch = u"--setup-relaunch";  // "<probe>"
// The exit code of the relaunched copy.
constexpr uint32_t kRelaunchExitCode = 6;
// A copy of the test program under this name writes "SpawnProbe.txt" beside
// itself and ends: a program that needs no parameters.
constexpr const char16_t* kSpawnProbeName = u"SpawnProbe.exe";
// The exit code of the elevated child.
constexpr uint32_t kElevatedExitCode = 23;

}  // namespace platform_test
