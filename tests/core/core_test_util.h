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
#include "tests/controller_test_util.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace core_test {

using controller_test::ControllerTest;
using controller_test::ReadHostFile;
using controller_test::RemoveTree;

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

// A fresh machine (natively) or a fresh folder (on Windows) for each test;
// the test product is registered and its scenario emptied.
class CoreTest : public ControllerTest {
 protected:
  CoreTest() : ControllerTest(u"mivo-core-") {}
  void SetUp() override {
    ControllerTest::SetUp();
#ifndef _WIN32
    UsePackages();
#endif
    Scenario() = TScenario();
    SetProductInfoClass(&CreateProductInfo<TTestProduct>);
  }

#ifndef _WIN32
  // The packages of tests/data/core as the program's resources.
  static void UsePackages() {
    const std::string dir = std::string(MIVO_TEST_DATA) + "/core/";
    platform::standin::SetDataResource(u"SETUP", ReadHostFile(dir + "setup.ipk"));
    platform::standin::SetDataResource(u"PRODUCT", ReadHostFile(dir + "product.ipk"));
  }
#endif

  // Writes the test product's configuration into a folder.
  static void WriteConfig(const String& folder, int32_t version, bool userMode) {
    platform::CreateFolder(folder);
    TVelIniFile config;
    config.WriteInteger(u"System", u"Version", version);
    config.WriteBool(u"System", u"UserMode", userMode);
    ASSERT_TRUE(config.SaveToFile(folder + u"Product.ini"));
  }

  // An automatic run into the work folder.
  TSetup& CreateAuto() {
    return Create(u"/AUTO=\"" + work_ + u"\" /SILENT");
  }
};

}  // namespace core_test
