// Helpers of the wizard tests: a product whose pages and actions each test
// chooses, a page standing in for the product pages, a window that records
// what the form asks of it, and a fixture with the wizard tests' packages.
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
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/files.h"
#include "platform/spawn_service.h"
#include "resources/installer_errors.h"
#include "tests/test_util.h"
#include "ui/wizard_form.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace wizard_test {

// A page like the product's own pages: Next and applicability chosen by the test.
class TSetupPageTest : public TSetupPage {
 public:
  TSetupPageTest() : TSetupPage(u"TSetupPageTest") {}
  void CreateControls() override {
    AddCheckBox({28, 22, 300, 17}, u"CB1", [this] { NotifyStateChanged(); });
  }
  bool CanGoNext() override { return canGoNext; }
  bool IsApplicable() override { return applicable; }
  void Prepare() override {
    ++prepared;
    if (failPrepare) throw EInstallerInstallError(u"Cannot prepare");
  }
  bool failPrepare = false;
  bool canGoNext = true;
  bool applicable = true;
  int prepared = 0;
};

extern const TSetupPageClassInfo SetupPageTest;

struct TScenario {
  std::vector<TSetupPageClass> pages;
  std::vector<TSetupActionClass> actions;
  bool canUpdate = false;  // the destination holds an installation to update
  // An installed copy (version 5.00) in this folder, portable or not; it is
  // also the copy found anywhere on the computer.
  String installedAt;
  bool installedPortable = false;
};

inline TScenario& Scenario() {
  static TScenario scenario;
  return scenario;
}

class TTestProduct : public TSetupProductInfo {
 public:
  bool CanUpdate() override { return Scenario().canUpdate || AtInstalledCopy(); }
  bool IsPortable() override { return AtInstalledCopy() && Scenario().installedPortable; }
  int32_t GetInstalledVersion() override { return AtInstalledCopy() ? 5000 : 0; }
  bool FindInstalledCopy(String& path) override {
    path = Scenario().installedAt;
    return !path.empty();
  }
  static bool AtInstalledCopy() {
    return !Scenario().installedAt.empty() &&
           SameTextLocale(Setup->GetDestPath(), Scenario().installedAt);
  }
  void LoadConfig() override {}
  void EnumActions(const std::function<void(const TSetupActionClass&)>& callback) override {
    for (const auto& actionClass : Scenario().actions) callback(actionClass);
  }
  void EnumPages(const std::function<void(TSetupPageClass)>& callback) override {
    for (TSetupPageClass pageClass : Scenario().pages) callback(pageClass);
  }
};

// An action with a body and summary lines.
class TTestAction : public TSetupAction {
 public:
  using TBody = std::function<void(TTestAction&)>;
  TTestAction(TBody body, std::vector<std::u16string> summary)
      : body_(std::move(body)), summary_(std::move(summary)) {}
  void Execute() override {
    if (body_) body_(*this);
  }
  void AddSummary(TSetupSummaryBuilder& builder) override {
    for (const auto& line : summary_) {
      if (!line.empty() && line[0] == u'#')
        builder.BeginGroup(line.substr(1));
      else
        builder.AddItem(line);
    }
  }

 private:
  TBody body_;
  std::vector<std::u16string> summary_;
};

inline TSetupActionClass Action(TTestAction::TBody body = {},
                                std::vector<std::u16string> summary = {}) {
  return [=] { return std::unique_ptr<TSetupAction>(new TTestAction(body, summary)); };
}

// Records the form's requests; Close runs the close question like a window.
class TTestWindow : public IWizardWindow {
 public:
  void SetCaption(const String& text) override { caption = text; }
  String Caption() const override { return caption; }
  void SetBackCaption(const String& text) override { backCaption = text; }
  void SetNextCaption(const String& text) override { nextCaption = text; }
  void SetVersionText(const String& text) override { versionText = text; }
  void SetBackVisible(bool visible) override { backVisible = visible; }
  void SetNextEnabled(bool enabled) override { nextEnabled = enabled; }
  void ShowPage(TSetupCustomPage& page, const TWizardRect& bounds) override {
    shown.push_back(page.Name());
    pageBounds = bounds;
  }
  void HidePage(TSetupCustomPage&) override {}
  void FocusNextWhenNoFocus() override {}
  void AnnouncePage(TSetupCustomPage& page) override {
    const TPageControl* result = page.Result();
    announced.push_back({page.Name(), page.Caption(), result ? result->Text() : String()});
  }
  void DisableCloseCommand() override { closeDisabled = true; }
  void Close() override {
    ++closeRequests;
    if (form && form->FormCloseQuery()) closed = true;
  }
  int Ask(const String& text, const String& caption, uint32_t flags) override {
    questions.push_back(text);
    questionFlags = flags;
    return answer;
  }
  void SetTaskbarProgress(int value, int maximum, TTaskbarState state) override {
    taskbar.push_back({value, maximum, state});
  }
  void Repaint() override { ++repaints; }
  void Defer(std::function<void()> call) override { deferred.push_back(std::move(call)); }
  void RunDeferred() {
    while (!deferred.empty()) {
      auto call = std::move(deferred.front());
      deferred.erase(deferred.begin());
      call();
    }
  }

  struct TTaskbar {
    int value, maximum;
    TTaskbarState state;
  };
  // A page's announcement: its name, caption and result (empty without one).
  struct TAnnouncement {
    String page, caption, result;
  };
  std::vector<TAnnouncement> announced;
  TWizardForm* form = nullptr;
  String caption, backCaption, nextCaption, versionText;
  bool backVisible = true, nextEnabled = false, closeDisabled = false, closed = false;
  int closeRequests = 0, repaints = 0;
  std::vector<String> shown;
  TWizardRect pageBounds;
  std::vector<String> questions;
  uint32_t questionFlags = 0;
  int answer = kIdCancel;
  std::vector<TTaskbar> taskbar;
  std::vector<std::function<void()>> deferred;
};

inline std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WizardTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
    UsePackages(false);
    work_ = u"C:\\Work\\";
    ASSERT_TRUE(platform::CreateFolder(work_));
    Scenario() = TScenario();
    SetProductInfoClass(&CreateProductInfo<TTestProduct>);
    SetPageMessagePump([this] { ++pumps_; if (onPump_) onPump_(); });
  }
  void TearDown() override {
    form_.reset();
    setup_.reset();
    SetPageMessagePump(nullptr);
    TSetupSpawnService::ResetForTests();
    platform::standin::ResetWorld();
  }

  static void UsePackages(bool uninstall) {
    const std::string dir = std::string(MIVO_TEST_DATA) + "/ui/";
    platform::standin::SetDataResource(u"SETUP", ReadHostFile(dir + "setup.ipk"));
    platform::standin::SetDataResource(
        u"PRODUCT", ReadHostFile(dir + (uninstall ? "uninstall.ipk" : "product.ipk")));
  }

  TSetup& CreateSetup(const String& arguments) {
    setup_ = std::make_unique<TSetup>(arguments);
    setup_->Resources().InitializeLanguages();
    return *setup_;
  }
  // The controller (unless a test made it) and the form on the test
  // window: an interactive installation into the work folder, or with
  // autoRun the switch /AUTO with that folder.
  TWizardForm& CreateForm(bool autoRun = false) {
    if (!setup_) {
      if (autoRun) {
        CreateSetup(u"/AUTO=\"" + work_ + u"\"");
      } else {
        CreateSetup(u"");
        setup_->SetDestPath(work_);
      }
    }
    form_ = std::make_unique<TWizardForm>(window_);
    window_.form = form_.get();
    return *form_;
  }
  // Waits for the worker to end, delivering its notifications.
  void WaitForRun() {
    if (setup_->Thread()) setup_->Thread()->WaitFor();
    platform::ProcessMessages();
  }
  TSetupCustomPage& Active() { return *form_->ActivePage(); }
  TPageControl& Control(StringView name) {
    TPageControl* control = form_->ActivePage()->FindControl(name);
    if (!control) throw Exception(u"no control " + String(name));
    return *control;
  }

  String work_;
  std::unique_ptr<TSetup> setup_;
  TTestWindow window_;
  std::unique_ptr<TWizardForm> form_;
  int pumps_ = 0;
  std::function<void()> onPump_;
};

}  // namespace wizard_test
