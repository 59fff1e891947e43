// The wizard's page contract and the standard pages: Welcome, License,
// ReadyToInstall, Install, Uninstall, Finish and UninstallFinish. Pages are
// plain objects holding TPageControl models; a toolkit binding shows them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/setup.h"
#include "core/setup_product_info.h"
#include "lib/strings.h"
#include "ui/page_control.h"

class TSetupCustomPage;

// A page class: its name and its virtual constructor, which creates the page
// with its controls and texts.
struct TSetupPageClassInfo {
  const char16_t* Name;
  std::unique_ptr<TSetupCustomPage> (*Create)();
};

// Page sizes at 96 DPI (the page rectangles of the wizard form).
constexpr int kPageWidth = 640;
constexpr int kFullScreenPageHeight = 436;
constexpr int kNormalPageHeight = 369;

class TSetupCustomPage {
 public:
  explicit TSetupCustomPage(StringView className);
  TSetupCustomPage(const TSetupCustomPage&) = delete;
  TSetupCustomPage& operator=(const TSetupCustomPage&) = delete;
  virtual ~TSetupCustomPage();

  // The class name without "TSetup": also the page's language section.
  const String& Name() const { return name_; }

  // The page's own progress, 0..100.
  virtual int GetProgress() { return 0; }
  virtual bool CanGoBack() { return true; }
  virtual bool CanGoNext() { return true; }
  // False: navigation skips the page now.
  virtual bool IsApplicable() { return true; }
  // Called each time the page becomes the active page, before it is shown.
  virtual void Prepare() {}
  // Called after the page has been shown.
  virtual void Shown() {}
  virtual bool IsFullScreen() const { return false; }

  // Header texts of normal pages.
  String Title;
  String Description;
  // What the page is about, as screen readers announce it when the page is
  // shown: the title of a normal page.
  virtual String Caption() const { return Title; }
  // The control that states the run's result (a finish page's heading),
  // announced as an alert once the page is shown; null on other pages.
  virtual const TPageControl* Result() const { return nullptr; }

  // The page's controls in creation order (the tab order).
  const std::vector<std::unique_ptr<TPageControl>>& Controls() const { return controls_; }
  // The control with that name; null when there is none.
  TPageControl* FindControl(StringView name) const;

  // Sends NotifyPageState: the form recomputes Back and Next.
  void NotifyStateChanged();

  // The binding's data for this page (its window); owned by the page.
  struct TPeer {
    virtual ~TPeer() = default;
  };
  std::unique_ptr<TPeer> Peer;

 protected:
  TPageControl& AddControl(TPageControlKind kind, TWizardRect bounds, StringView name);

 private:
  String name_;
  std::vector<std::unique_ptr<TPageControl>> controls_;
};

class TSetupPage : public TSetupCustomPage {
 public:
  using TSetupCustomPage::TSetupCustomPage;

  // Builds the child controls (once, by the virtual constructor).
  virtual void CreateControls() {}
  // Title and Description, and the caption of every named control, from the
  // page's section.
  virtual void Localize();
  // The language text of the page's section.
  String PageText(StringView key) const;

 protected:
  TPageControl& AddLabel(TWizardRect bounds, StringView name, bool wrap);
  TPageControl& AddHeading(TWizardRect bounds, StringView name);
  TPageControl& AddCheckBox(TWizardRect bounds, StringView name, std::function<void()> onClick);
  TPageControl& AddRadioButton(TWizardRect bounds, StringView name, std::function<void()> onClick);
};

// Creates a page of class T as a page class does: constructor, controls, texts.
template <typename T>
std::unique_ptr<TSetupCustomPage> CreateSetupPage() {
  auto page = std::make_unique<T>();
  page->CreateControls();
  page->Localize();
  return page;
}

// Welcome and the finish pages: they cover header and strip and show the
// side image at the left.
class TSetupPageFullScreen : public TSetupPage {
 public:
  using TSetupPage::TSetupPage;
  void CreateControls() override;
  bool IsFullScreen() const override { return true; }
  // The heading, which says what the page is about (on a finish page: the
  // run's result); the header with Title is covered.
  String Caption() const override { return heading_->Text(); }
  // The side image, chosen by the theme when the page is created.
  const TSetupImage& SideImage() const { return *sideImage_; }

 protected:
  TPageControl* body_ = nullptr;     // "L2"
  TPageControl* heading_ = nullptr;  // "L1"

 private:
  std::unique_ptr<TSetupImage> sideImage_;
};

class TSetupPageWelcome : public TSetupPageFullScreen {
 public:
  TSetupPageWelcome() : TSetupPageFullScreen(u"TSetupPageWelcome") {}
};

class TSetupPageLicense : public TSetupPage {
 public:
  TSetupPageLicense() : TSetupPage(u"TSetupPageLicense") {}
  void CreateControls() override;
  bool CanGoBack() override { return false; }
  bool CanGoNext() override { return accept_->Checked(); }
  void Prepare() override;
  void Shown() override;

 private:
  TPageControl* viewer_ = nullptr;
  TPageControl* accept_ = nullptr;  // "L1"
};

class TSetupPageReadyToInstall : public TSetupPage {
 public:
  TSetupPageReadyToInstall() : TSetupPage(u"TSetupPageReadyToInstall") {}
  void CreateControls() override;
  void Prepare() override;

 private:
  TPageControl* viewer_ = nullptr;
};

class TSetupPageInstall : public TSetupPage, public IInstallerNotify {
 public:
  TSetupPageInstall() : TSetupPageInstall(u"TSetupPageInstall") {}
  ~TSetupPageInstall() override;
  void CreateControls() override;
  int GetProgress() override { return overall_->Position(); }
  bool CanGoBack() override { return false; }
  bool CanGoNext() override { return finished_; }
  void Prepare() override;
  void Notify(uint32_t code, uintptr_t param) override;

  bool Finished() const { return finished_; }

 protected:
  explicit TSetupPageInstall(StringView className);

 private:
  void React(uint32_t code, uintptr_t param);

  TPageControl* status_ = nullptr;
  bool finished_ = false;
  TPageControl* action_ = nullptr;
  TPageControl* overall_ = nullptr;
};

class TSetupPageUninstall : public TSetupPageInstall {
 public:
  TSetupPageUninstall() : TSetupPageInstall(u"TSetupPageUninstall") {}
};

class TSetupPageCustomFinish : public TSetupPageFullScreen {
 public:
  using TSetupPageFullScreen::TSetupPageFullScreen;
  void CreateControls() override;
  bool CanGoBack() override { return false; }
  void Prepare() override;
  const TPageControl* Result() const override { return heading_; }

 protected:
  TPageControl* errors_ = nullptr;
};

class TSetupPageFinish : public TSetupPageCustomFinish {
 public:
  TSetupPageFinish() : TSetupPageCustomFinish(u"TSetupPageFinish") {}
  void CreateControls() override;
  void Prepare() override;
  // Writes every box's state to the settings section "Actions".
  void SaveChoices();

 private:
  std::vector<TPageControl*> actions_;
  TPageControl* link_ = nullptr;  // "L3"
};

class TSetupPageUninstallFinish : public TSetupPageCustomFinish {
 public:
  TSetupPageUninstallFinish() : TSetupPageCustomFinish(u"TSetupPageUninstallFinish") {}
};

// The classes of the standard pages.
extern const TSetupPageClassInfo SetupPageWelcome;
extern const TSetupPageClassInfo SetupPageLicense;
extern const TSetupPageClassInfo SetupPageReadyToInstall;
extern const TSetupPageClassInfo SetupPageInstall;
extern const TSetupPageClassInfo SetupPageUninstall;
extern const TSetupPageClassInfo SetupPageFinish;
extern const TSetupPageClassInfo SetupPageUninstallFinish;

// Registers the standard pages and the product's own pages, which the
// product lists by name (once).
void RegisterStandardPageClasses();

// How pages let pending window messages through while a notification of the
// worker is handled (the binding's message pump; by default the platform's).
void SetPageMessagePump(std::function<void()> pump);
void PumpPageMessages();

// Runs the reaction; an error in it is added to the controller's errors and
// the worker is told to stop, so that nothing escapes into the system's
// callback and the run ends cleanly.
void GuardWizardReaction(const std::function<void()>& reaction);

// The dark flag of the wizard's theme (light unless the binding says so).
bool WizardDarkTheme();
void SetWizardDarkTheme(bool dark);
