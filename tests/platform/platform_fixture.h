// The conformance suite's fixture: the same tests run natively against the
// stand-in and under Wine against the Win32 backend. Each test gets a fresh
// folder: natively on a freshly mapped C:, under Wine in the temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/strings.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system_info.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace platform_test {

// Deletes a folder tree through the platform layer (read-only entries too).
inline void RemoveTree(const String& folder) {
  std::vector<platform::TFolderEntry> entries;
  if (platform::ListFolder(folder, entries)) {
    for (const auto& e : entries) {
      const String path = IncludeTrailingBackslash(folder) + e.name;
      platform::SetAttributes(path, platform::kFileAttributeNormal);
      if (e.link && (e.attributes & platform::kFileAttributeDirectory))
        platform::RemoveFolder(path);  // the link, not what it points to
      else if (e.attributes & platform::kFileAttributeDirectory)
        RemoveTree(path);
      else
        platform::RemoveFile(path);
    }
  }
  platform::SetAttributes(folder, platform::kFileAttributeNormal);
  platform::RemoveFolder(folder);
}

inline bool WriteText(const String& path, const std::string& text) {
  auto s = platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
  if (!s) return false;
  return s->Write(text.data(), static_cast<int64_t>(text.size())) ==
         static_cast<int64_t>(text.size());
}

inline std::string ReadText(const String& path) {
  auto s = platform::OpenFileShared(path, platform::kGenericRead, platform::kFileShareRead,
                                    platform::kOpenExisting);
  if (!s) return "<error " + std::to_string(platform::LastError()) + ">";
  const auto bytes = ReadAll(*s);
  return std::string(bytes.begin(), bytes.end());
}

// Wine maps the read-only attribute to the owner's write permission, which
// root does not obey; Windows (and the stand-in) refuse to write such files.
inline bool ReadOnlyEnforced(const String& readOnlyFile) {
  if (!platform::RunningUnderWine()) return true;
  auto s = platform::OpenFileShared(readOnlyFile, platform::kGenericWrite,
                                    platform::kFileShareRead | platform::kFileShareWrite,
                                    platform::kOpenExisting);
  return s == nullptr;
}

class PlatformTest : public testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    host_root_ = platform::standin::ResetWorld();
    dir_ = u"C:\\Work\\";
#else
    static int counter = 0;
    dir_ = platform::TempFolder() + u"mivo-platform-" + IntToStr(platform::CurrentProcessId()) +
           u"-" + IntToStr(++counter) + u"\\";
    RemoveTree(dir_);
#endif
    ASSERT_TRUE(platform::CreateFolder(dir_)) << platform::LastError();
  }
  void TearDown() override {
    RemoveTree(dir_);
#ifndef _WIN32
    platform::standin::RemoveHostTree(host_root_);
#endif
  }

  String dir_;  // a fresh, empty folder with trailing backslash
  std::string host_root_;
};

}  // namespace platform_test
