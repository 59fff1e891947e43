// What the fixtures of the tests that run a controller share: natively a
// fresh machine of the stand-in for each test, on Windows a fresh folder; a
// work folder removed again afterwards, and the controller under test.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/setup.h"
#include "lib/strings.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "platform/setup_helpers.h"
#include "platform/spawn_service.h"
#include "platform/system_info.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace controller_test {

#ifndef _WIN32
// Makes a restart needed, as a run does when it deletes a file that only a
// restart removes: the image of a running (stand-in) program at path,
// deleted while it runs. The program ends, and the need is forgotten, when
// the object goes.
class TRestartNeeded {
 public:
  explicit TRestartNeeded(const String& path) {
    std::unique_ptr<TStream> out =
        platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
    out->WriteBuffer("MZ", 2);
    out.reset();
    platform::standin::RegisterProgram(path, [release = release_](const String&) {
      platform::Wait(release, platform::kInfinite);
      return 0u;
    });
    EXPECT_TRUE(platform::StartProcess(u"\"" + path + u"\"", platform::kSwHide, info_));
    ResetRestartNeeded();
    DeleteFileOrDefer(path);
    EXPECT_TRUE(RestartNeeded());
  }
  ~TRestartNeeded() {
    platform::SignalEvent(release_);
    platform::Wait(info_.process, platform::kInfinite);
    ResetRestartNeeded();
  }
  TRestartNeeded(const TRestartNeeded&) = delete;
  TRestartNeeded& operator=(const TRestartNeeded&) = delete;

 private:
  platform::TWaitHandle release_ = platform::NewEvent(true, false);
  platform::TProcessInfo info_;
};
#endif

inline std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Removes a folder with everything below it.
inline void RemoveTree(const String& folder) {
  std::vector<platform::TFolderEntry> entries;
  platform::ListFolder(folder, entries);
  for (const auto& e : entries) {
    if (e.attributes & platform::kFileAttributeDirectory)
      RemoveTree(folder + e.name + u"\\");
    else
      platform::RemoveFile(folder + e.name);
  }
  platform::RemoveFolder(folder);
}

// Natively: a fresh machine with "C:\Setup" and the work folder "C:\WorkN\";
// on Windows the work folder is a fresh one in the temporary folder, named
// after `tempName` ("mivo-core-" gives "mivo-core-<process>-<N>\").
// Derived fixtures give the program its packages natively.
class ControllerTest : public testing::Test {
 protected:
  explicit ControllerTest(const char16_t* tempName) : tempName_(tempName) {}

  void SetUp() override {
    static int counter = 0;
#ifndef _WIN32
    platform::standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
    work_ = u"C:\\Work" + IntToStr(++counter) + u"\\";
#else
    work_ = platform::TempFolder() + tempName_ + IntToStr(platform::CurrentProcessId()) + u"-" +
            IntToStr(++counter) + u"\\";
#endif
    ASSERT_TRUE(platform::CreateFolder(work_));
  }
  void TearDown() override {
    setup_.reset();
    TSetupSpawnService::ResetForTests();
    RemoveTree(work_);
#ifndef _WIN32
    platform::standin::ResetWorld();
#endif
  }

  // A controller with its language texts, as start-up makes it.
  TSetup& Create(const String& arguments) {
    setup_ = std::make_unique<TSetup>(arguments);
    setup_->Resources().InitializeLanguages();
    return *setup_;
  }

  String work_;
  std::unique_ptr<TSetup> setup_;
  const char16_t* tempName_;  // the work folders' name on Windows
};

}  // namespace controller_test
