// Helpers of the core tests: a test product whose actions each test chooses,
// configurable actions, a recording listener and a fixture that gives the
// controller its packages (natively through the stand-in, on Windows from
// the test program's own resources) and a fresh work folder.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/setup.h"
#include "core/setup_action.h"
#include "core/setup_product_info.h"
#include "lib/exceptions.h"
#include "lib/ini_file.h"
#include "lib/strings.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/spawn_service.h"
#include "platform/system_info.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace core_test {

// What the test product answers; each test sets it up.
struct TScenario {
  std::vector<TSetupActionClass> actions;
  int loadConfigCalls = 0;
};

inline TScenario& Scenario() {
  static TScenario scenario;
  return scenario;
}

// A product whose installed version and portability come from "Product.ini"
// in the destination ([System] Version, UserMode), like the real product's
// configuration file.
class TTestProduct : public TSetupProductInfo {
 public:
  bool CanUpdate() override { return version_ >= 3500 && version_ <= 5499; }
  bool IsPortable() override { return !userMode_; }
  int32_t GetInstalledVersion() override { return version_; }
  void LoadConfig() override {
    ++Scenario().loadConfigCalls;
    TVelIniFile config;
    config.LoadFromFile(::Setup->GetDestPath() + u"Product.ini");
    version_ = config.ReadInteger(u"System", u"Version", 0);
    userMode_ = config.ReadBool(u"System", u"UserMode", true);
  }
  void EnumActions(const std::function<void(const TSetupActionClass&)>& callback) override {
    for (const auto& actionClass : Scenario().actions) callback(actionClass);
  }
  void EnumPages(const std::function<void(TSetupPageClass)>&) override {}

 private:
  int32_t version_ = 0;
  bool userMode_ = true;
};

// An action that sets the given progress values one after the other and then
// runs its body (which may raise).
class TStepAction : public TSetupAction {
 public:
  using TBody = std::function<void(TStepAction&)>;
  TStepAction(std::vector<int32_t> steps, TBody body, int* ran, int* terminated)
      : steps_(std::move(steps)), body_(std::move(body)), ran_(ran), terminated_(terminated) {}
  void Execute() override {
    if (ran_) ++*ran_;
    for (int32_t p : steps_) SetProgress(p);
    if (body_) body_(*this);
  }
  void Terminate() override {
    if (terminated_) ++*terminated_;
  }

 private:
  std::vector<int32_t> steps_;
  TBody body_;
  int* ran_;
  int* terminated_;
};

inline TSetupActionClass Steps(std::vector<int32_t> steps, TStepAction::TBody body = {},
                               int* ran = nullptr, int* terminated = nullptr) {
  return
      [=] { return std::unique_ptr<TSetupAction>(new TStepAction(steps, body, ran, terminated)); };
}

// Records every notification with the thread it arrived on.
class TRecorder : public IInstallerNotify {
 public:
  struct TEntry {
    uint32_t code;
    uintptr_t param;
    String text = {};  // NotifyStatus only
    bool onMain = true;
    bool operator==(const TEntry& other) const {
      return code == other.code && param == other.param && text == other.text;
    }
  };
  void Notify(uint32_t code, uintptr_t param) override {
    entries.push_back({code, param,
                       code == NotifyStatus ? *reinterpret_cast<const String*>(param) : String(),
                       platform::IsMainThread()});
    if (onNotify) onNotify(code, param);
  }
  // The parameters of the notifications with this code, in order.
  std::vector<uintptr_t> Params(uint32_t code) const {
    std::vector<uintptr_t> result;
    for (const auto& e : entries)
      if (e.code == code) result.push_back(e.param);
    return result;
  }
  std::vector<TEntry> entries;
  std::function<void(uint32_t, uintptr_t)> onNotify;
};

inline uintptr_t Packed(uint32_t total, uint32_t current) {
  return (static_cast<uintptr_t>(total) << 16) | current;
}

inline std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh machine (natively) or a fresh folder (on Windows) for each test;
// the test product is registered and its scenario emptied.
class CoreTest : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
#ifndef _WIN32
    platform::standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
    UsePackages();
    work_ = u"C:\\Work" + IntToStr(++counter) + u"\\";
#else
    work_ = platform::TempFolder() + u"mivo-core-" + IntToStr(platform::CurrentProcessId()) + u"-" +
            IntToStr(++counter) + u"\\";
#endif
    ASSERT_TRUE(platform::CreateFolder(work_));
    Scenario() = TScenario();
    SetProductInfoClass(&CreateProductInfo<TTestProduct>);
  }
  void TearDown() override {
    setup_.reset();
    TSetupSpawnService::ResetForTests();
    RemoveTree(work_);
#ifndef _WIN32
    platform::standin::ResetWorld();
#endif
  }

#ifndef _WIN32
  // The packages of tests/data/core as the program's resources.
  static void UsePackages() {
    const std::string dir = std::string(MIVO_TEST_DATA) + "/core/";
    platform::standin::SetDataResource(u"SETUP", ReadHostFile(dir + "setup.ipk"));
    platform::standin::SetDataResource(u"PRODUCT", ReadHostFile(dir + "product.ipk"));
  }
#endif

  static void RemoveTree(const String& folder) {
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

  // Writes the test product's configuration into a folder.
  static void WriteConfig(const String& folder, int32_t version, bool userMode) {
    platform::CreateFolder(folder);
    TVelIniFile config;
    config.WriteInteger(u"System", u"Version", version);
    config.WriteBool(u"System", u"UserMode", userMode);
    ASSERT_TRUE(config.SaveToFile(folder + u"Product.ini"));
  }

  // A controller with its language texts, as start-up makes it.
  TSetup& Create(const String& arguments) {
    setup_ = std::make_unique<TSetup>(arguments);
    setup_->Resources().InitializeLanguages();
    return *setup_;
  }
  // An automatic run into the work folder.
  TSetup& CreateAuto() {
    return Create(u"/AUTO=\"" + work_ + u"\" /SILENT");
  }

  String work_;
  std::unique_ptr<TSetup> setup_;
};

}  // namespace core_test
