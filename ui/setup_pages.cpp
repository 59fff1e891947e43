#include "ui/setup_pages.h"

#include <exception>

#include "core/setup_action.h"
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/messages.h"
#include "platform/setup_helpers.h"
#include "product/setup_classes.h"
#include "ui/product_pages.h"

namespace {

std::function<void()>& MessagePump() {
  static std::function<void()> pump;
  return pump;
}

bool& DarkTheme() {
  static bool dark = false;
  return dark;
}

// Heights at 96 DPI of the finish page's home-page link (one line of 8-point
// text) and of the license's accept box.
constexpr int kLinkHeight = 15;
constexpr int kAcceptHeight = 16;

}  // namespace

void SetPageMessagePump(std::function<void()> pump) {
  MessagePump() = std::move(pump);
}

void PumpPageMessages() {
  if (MessagePump())
    MessagePump()();
  else
    platform::ProcessMessages();
}

bool WizardDarkTheme() {
  return DarkTheme();
}

void SetWizardDarkTheme(bool dark) {
  DarkTheme() = dark;
}

void GuardWizardReaction(const std::function<void()>& reaction) {
  if (CallGuarded(reaction)) return;
  // The worker stops before its next step and reports the end as usual.
  if (Setup && Setup->Thread()) Setup->Thread()->Terminate();
}

// ---- TSetupCustomPage ----

TSetupCustomPage::TSetupCustomPage(StringView className)
    : name_(className.size() > 6 ? String(className.substr(6)) : String()) {}

TSetupCustomPage::~TSetupCustomPage() {
  // The binding's windows go before the controls they mirror.
  Peer.reset();
}

TPageControl* TSetupCustomPage::FindControl(StringView name) const {
  for (const auto& control : controls_)
    if (!control->Name().empty() && SameTextLocale(control->Name(), name)) return control.get();
  return nullptr;
}

void TSetupCustomPage::NotifyStateChanged() {
  Setup->SendCode(NotifyPageState, 0);
}

TPageControl& TSetupCustomPage::AddControl(TPageControlKind kind, TWizardRect bounds,
                                           StringView name) {
  controls_.push_back(std::make_unique<TPageControl>(kind, bounds, String(name)));
  return *controls_.back();
}

// ---- TSetupPage ----

String TSetupPage::PageText(StringView key) const {
  return Setup->Resources().GetText(Name(), key);
}

void TSetupPage::Localize() {
  Title = PageText(u"Title");
  Description = PageText(u"Description");
  for (const auto& control : Controls())
    if (control->HasCaption() && !control->Name().empty())
      control->SetText(PageText(control->Name()));
}

TPageControl& TSetupPage::AddLabel(TWizardRect bounds, StringView name, bool wrap) {
  TPageControl& label = AddControl(TPageControlKind::Label, bounds, name);
  label.Wrap = wrap;
  return label;
}

TPageControl& TSetupPage::AddHeading(TWizardRect bounds, StringView name) {
  TPageControl& label = AddLabel(bounds, name, false);
  label.FontSize = 11;
  return label;
}

TPageControl& TSetupPage::AddCheckBox(TWizardRect bounds, StringView name,
                                      std::function<void()> onClick) {
  TPageControl& box = AddControl(TPageControlKind::CheckBox, bounds, name);
  box.OnClick = std::move(onClick);
  return box;
}

TPageControl& TSetupPage::AddRadioButton(TWizardRect bounds, StringView name,
                                         std::function<void()> onClick) {
  TPageControl& button = AddControl(TPageControlKind::RadioButton, bounds, name);
  button.OnClick = std::move(onClick);
  return button;
}

// ---- TSetupPageFullScreen ----

void TSetupPageFullScreen::CreateControls() {
  sideImage_ = Setup->Resources().LoadImage(String(u"wizard_") +
                                            (WizardDarkTheme() ? u"dark" : u"light") + u".png");
  body_ = &AddLabel({210, 61, 400, 240}, u"L2", true);
  heading_ = &AddLabel({210, 22, 400, 50}, u"L1", true);
  heading_->FontSize = 11;
}

// ---- TSetupPageLicense ----

void TSetupPageLicense::CreateControls() {
  const int acceptTop = kNormalPageHeight - 22 - kAcceptHeight;
  viewer_ = &AddControl(TPageControlKind::Viewer,
                        {28, 22, kPageWidth - 56, acceptTop - 4 - 4 - 22}, u"");
  accept_ = &AddCheckBox({28, acceptTop, kPageWidth - 56, kAcceptHeight}, u"L1",
                         [this] { NotifyStateChanged(); });
}

void TSetupPageLicense::Prepare() {
  std::unique_ptr<TMemoryStream> license = Setup->Resources().GetLicense();
  if (!license) return;
  const std::vector<uint8_t>& bytes = license->Bytes();
  // RTF is 7-bit text; other bytes travel as they are.
  String rtf(bytes.begin(), bytes.end());
  viewer_->LoadRichText(rtf);
}

void TSetupPageLicense::Shown() {
  if (!accept_->Checked()) viewer_->Focus();
}

// ---- TSetupPageReadyToInstall ----

void TSetupPageReadyToInstall::CreateControls() {
  // Read-only, and enabled: the summary is reached and scrolled with the
  // keyboard like the license.
  viewer_ = &AddControl(TPageControlKind::Viewer, {28, 22, kPageWidth - 56, kNormalPageHeight - 44},
                        u"");
}

void TSetupPageReadyToInstall::Prepare() {
  TSetupSummaryBuilder builder;
  Setup->ProductInfo().EnumActions([&](const TSetupActionClass& actionClass) {
    std::unique_ptr<TSetupAction> action = actionClass();
    action->AddSummary(builder);
  });
  viewer_->SetPlainText(builder.ToString());
}

// ---- TSetupPageInstall ----

TSetupPageInstall::TSetupPageInstall(StringView className) : TSetupPage(className) {
  Setup->AddListener(this);
}

TSetupPageInstall::~TSetupPageInstall() {
  if (Setup) Setup->RemoveListener(this);
}

void TSetupPageInstall::CreateControls() {
  // Without a name: its text is "L1" until the first status arrives.
  status_ = &AddLabel({30, 16, 580, 18}, u"", false);
  status_->FontSize = 8;
  status_->SetText(PageText(u"L1"));
  action_ = &AddControl(TPageControlKind::ProgressBar, {30, 40, 580, 18}, u"");
  overall_ = &AddControl(TPageControlKind::ProgressBar, {30, 65, 580, 18}, u"");
}

void TSetupPageInstall::Prepare() {
  Setup->StartInstall(false);
}

void TSetupPageInstall::Notify(uint32_t code, uintptr_t param) {
  GuardWizardReaction([&] { React(code, param); });
}

void TSetupPageInstall::React(uint32_t code, uintptr_t param) {
  switch (code) {
    case NotifyFinished:
      finished_ = true;
      break;
    case NotifyProgress: {
      const int current = static_cast<int>(param & 0xFFFF);
      const int overall = static_cast<int>((param >> 16) & 0xFFFF);
      if (action_->Position() == current && overall_->Position() == overall) return;
      action_->SetPosition(current);
      overall_->SetPosition(overall);
      PumpPageMessages();
      break;
    }
    case NotifyStatus:
      status_->SetText(*reinterpret_cast<const String*>(param));
      PumpPageMessages();
      break;
    default:
      break;
  }
}

// ---- TSetupPageCustomFinish ----

void TSetupPageCustomFinish::CreateControls() {
  TSetupPageFullScreen::CreateControls();
  errors_ = &AddControl(TPageControlKind::ErrorList,
                        {210, 120, kPageWidth - 210 - 20, kFullScreenPageHeight - 120 - 4}, u"");
  // On failure the body above it says that the errors are listed below.
  errors_->Label = body_;
  errors_->SetVisible(false);
}

void TSetupPageCustomFinish::Prepare() {
  const bool failed = Setup->HasErrors();
  errors_->SetVisible(failed);
  if (!failed) {
    // Files left for the next restart: the person learns that one completes
    // the run.
    const String restart = PageText(u"R1");
    if (RestartNeeded() && !restart.empty())
      body_->SetText(PageText(u"L2") + u"\r\n\r\n" + restart);
    return;
  }
  heading_->SetColor(0x0000FF);
  heading_->SetText(PageText(u"E1"));
  errors_->SetPlainText(Setup->Errors.Text());
  body_->SetText(PageText(u"E2"));
}

// ---- TSetupPageFinish ----

void TSetupPageFinish::CreateControls() {
  TSetupPageCustomFinish::CreateControls();
  const int linkTop = kFullScreenPageHeight - 4 - kLinkHeight;
  // The error list ends above the link.
  TWizardRect list = errors_->Bounds();
  list.Height = linkTop - 4 - list.Top;
  errors_->SetBounds(list);
  link_ = &AddControl(TPageControlKind::Link, {210, linkTop, kPageWidth - 210 - 20, kLinkHeight},
                      u"L3");
  link_->Centered = true;
  link_->FontSize = 8;
  link_->SetColor(0xCC6600);
  link_->LinkTarget = Setup->ProductInfo().GetHomePage();
  const TSetupScriptGroup& entries = Setup->Resources().Script().Actions;
  for (int i = 0; i < entries.Count(); ++i) {
    TPageControl& box =
        AddCheckBox({210, 120 + 24 * i, 320, 17}, u"CB" + IntToStr(i + 1), [this] { SaveChoices(); });
    box.SetChecked(true);
    actions_.push_back(&box);
  }
}

void TSetupPageFinish::Prepare() {
  TSetupPageCustomFinish::Prepare();
  // Below the restart line, when there is one (two more lines of text).
  const bool restart = !errors_->Visible() && RestartNeeded() && !PageText(u"R1").empty();
  const int top = restart ? 120 + 32 : 120;
  const TSetupScriptGroup& entries = Setup->Resources().Script().Actions;
  for (size_t i = 0; i < actions_.size() && static_cast<int>(i) < entries.Count(); ++i) {
    actions_[i]->SetText(PageText(entries.Items(static_cast<int>(i)).PackageName()));
    actions_[i]->SetVisible(!errors_->Visible());
    TWizardRect bounds = actions_[i]->Bounds();
    bounds.Top = top + 24 * static_cast<int>(i);
    actions_[i]->SetBounds(bounds);
  }
  SaveChoices();
}

void TSetupPageFinish::SaveChoices() {
  const TSetupScriptGroup& entries = Setup->Resources().Script().Actions;
  for (size_t i = 0; i < actions_.size() && static_cast<int>(i) < entries.Count(); ++i)
    Setup->Settings.WriteBool(kSettingsActions, entries.Items(static_cast<int>(i)).Name,
                              actions_[i]->Checked());
}

// ---- page classes ----

const TSetupPageClassInfo SetupPageWelcome{u"TSetupPageWelcome",
                                           &CreateSetupPage<TSetupPageWelcome>};
const TSetupPageClassInfo SetupPageLicense{u"TSetupPageLicense",
                                           &CreateSetupPage<TSetupPageLicense>};
const TSetupPageClassInfo SetupPageReadyToInstall{u"TSetupPageReadyToInstall",
                                                  &CreateSetupPage<TSetupPageReadyToInstall>};
const TSetupPageClassInfo SetupPageInstall{u"TSetupPageInstall",
                                           &CreateSetupPage<TSetupPageInstall>};
const TSetupPageClassInfo SetupPageUninstall{u"TSetupPageUninstall",
                                             &CreateSetupPage<TSetupPageUninstall>};
const TSetupPageClassInfo SetupPageFinish{u"TSetupPageFinish", &CreateSetupPage<TSetupPageFinish>};
const TSetupPageClassInfo SetupPageUninstallFinish{u"TSetupPageUninstallFinish",
                                                   &CreateSetupPage<TSetupPageUninstallFinish>};

void RegisterStandardPageClasses() {
  for (const TSetupPageClassInfo* pageClass :
       {&SetupPageWelcome, &SetupPageLicense, &SetupPageReadyToInstall, &SetupPageInstall,
        &SetupPageUninstall, &SetupPageFinish, &SetupPageUninstallFinish,
        &SetupPageSetup, &SetupPageAddons, &SetupPageIntegration, &SetupPageUninstallParams})
    RegisterSetupPageClass(pageClass->Name, pageClass);
}
