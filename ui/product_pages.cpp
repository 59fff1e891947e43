#include "ui/product_pages.h"

#include "core/dest_folder.h"
#include "lib/exceptions.h"
#include "lib/format.h"
#include "lib/system.h"

namespace {

TFolderBrowser& FolderBrowser() {
  static TFolderBrowser browser;
  return browser;
}

bool Option(TSetupOption option) {
  return Setup->IsOptionSet(option);
}

// Bounds of the Setup page's warning line (96 DPI): at the bottom of the
// page's docking area (the page inset by 40 left and right, 20 at the
// bottom), room for three lines of bold text.
constexpr int kDockInsetX = 40;
constexpr int kDockInsetBottom = 20;
constexpr int kWarningHeight = 48;

}  // namespace

void SetFolderBrowser(TFolderBrowser browser) {
  FolderBrowser() = std::move(browser);
}

bool OtherCopyWarning() {
  return Setup->ProductInfo().OtherCopyWarning();
}

// ---- TSetupPageSetup ----

void TSetupPageSetup::CreateControls() {
  const TPageControl& destination = AddHeading({40, 30, 540, 20}, u"LB1");
  pathEdit_ = &AddControl(TPageControlKind::PathEdit, {60, 70, 540, 21}, u"PathEdit");
  pathEdit_->Label = &destination;
  pathEdit_->ButtonWidth = 100;
  pathEdit_->OnChange = [this] { PathEdited(); };
  pathEdit_->OnButtonClick = [this] { Browse(); };
  update_ = &AddCheckBox({60, 100, 540, 17}, u"CB1", [this] { UpdateOrBackupClicked(); });
  backup_ = &AddCheckBox({60, 120, 540, 17}, u"CB4", [this] { UpdateOrBackupClicked(); });
  AddHeading({40, 150, 540, 20}, u"LB2");
  portable_ = &AddRadioButton({60, 190, 540, 16}, u"CB3", [this] { ModeClicked(true); });
  AddLabel({79, 212, 500, 48}, u"CB3Hint", true).SetEnabled(false);
  standard_ = &AddRadioButton({60, 248, 540, 16}, u"CB2", [this] { ModeClicked(false); });
  const TWizardRect warning{kDockInsetX, kNormalPageHeight - kDockInsetBottom - kWarningHeight,
                            kPageWidth - 2 * kDockInsetX, kWarningHeight};
  warningUpdate_ = &AddControl(TPageControlKind::Warning, warning, u"");
  warningOther_ = &AddControl(TPageControlKind::Warning, warning, u"");
  warningRefused_ = &AddControl(TPageControlKind::Warning, warning, u"");
  warningUpdate_->SetVisible(false);
  warningOther_->SetVisible(false);
  warningRefused_->SetVisible(false);
}

void TSetupPageSetup::Localize() {
  TSetupPage::Localize();
  pathEdit_->ButtonText = PageText(u"Browse");
  warningUpdate_->SetText(PageText(u"W1"));
  warningOther_->SetText(PageText(u"W3"));
}

bool TSetupPageSetup::CanGoNext() {
  return !Setup->GetDestPath().empty() && !warningRefused_->Visible();
}

String RefusedDestinationText(const String& folder,
                              const std::function<String(StringView key)>& pageText) {
  auto text = [&](StringView key, const String& english) {
    const String localized = pageText(key);
    return localized.empty() ? english : localized;
  };
  String key = u"R0", english = DestPathProblem(folder), argument;
  if (english.empty()) {
    const TDestPlaceProblem place = DestPlaceProblem(folder);
    if (!place) return {};
    key = u"R" + IntToStr(static_cast<int>(place.Place));
    english = DestPlaceText(place);
    argument = ExcludeTrailingBackslash(place.Folder);
  }
  const String english4 = u"The folder \"%s\" cannot be used: %s.";
  try {
    return Format(text(u"W4", english4),
                  {FormatArg(folder), FormatArg(Format(text(key, english), {argument}))});
  } catch (const EFormatError&) {
    // A broken language text: the English one says the same.
    return Format(english4, {FormatArg(folder), FormatArg(english)});
  }
}

void TSetupPageSetup::UpdateControls() {
  if (!editing_) pathEdit_->SetText(Setup->GetDestPath());
  TSetupProductInfo& product = Setup->ProductInfo();
  const bool update = Option(TSetupOption::Update);
  update_->SetChecked(update);
  update_->SetVisible(product.CanUpdate());
  backup_->SetChecked(!Option(TSetupOption::NoBackup));
  backup_->SetVisible(update);
  // An update keeps the mode of the installed copy.
  const bool portable = update ? product.IsPortable() : Option(TSetupOption::Portable);
  const bool portableShown = portable && !Setup->IsDestInProgramFiles();
  portable_->SetChecked(portableShown);
  standard_->SetChecked(!portableShown);
  portable_->SetEnabled(!update);
  standard_->SetEnabled(!update);
  const String refused = RefusedDestinationText(
      Setup->GetDestPath(), [this](StringView key) { return PageText(key); });
  warningRefused_->SetText(refused);
  warningRefused_->SetVisible(!refused.empty());
  warningUpdate_->SetVisible(refused.empty() && update);
  warningOther_->SetVisible(refused.empty() && OtherCopyWarning());
  // Next follows the warning.
  NotifyStateChanged();
}

std::vector<String> TSetupPageSetup::Warnings() const {
  std::vector<String> keys;
  if (warningUpdate_->Visible()) keys.push_back(u"W1");
  if (warningOther_->Visible()) keys.push_back(u"W3");
  if (warningRefused_->Visible()) keys.push_back(u"W4");
  return keys;
}

void TSetupPageSetup::PathEdited() {
  // The text stays as typed; the controller keeps the normalised path.
  editing_ = true;
  try {
    SetDestination(pathEdit_->Text());
  } catch (...) {
    editing_ = false;
    throw;
  }
  editing_ = false;
}

void TSetupPageSetup::SetDestination(const String& text) {
  if (text == Setup->GetDestPath()) return;
  Setup->SetDestPath(text);
  UpdateControls();
}

String TSetupPageSetup::BrowseDestination(StringView folder, StringView productName) {
  const String chosen = IncludeTrailingBackslash(folder);
  if (SameTextLocale(ExtractFileName(ExcludeTrailingBackslash(chosen)), productName)) return chosen;
  return chosen + String(productName);
}

void TSetupPageSetup::Browse() {
  if (!FolderBrowser()) return;
  String chosen;
  if (!FolderBrowser()(Setup->GetDestPath(), chosen) || chosen.empty()) return;
  SetDestination(BrowseDestination(chosen, Setup->ProductInfo().GetProductName()));
}

void TSetupPageSetup::UpdateOrBackupClicked() {
  Setup->SetOption(TSetupOption::NoBackup, !backup_->Checked());
  Setup->SetOption(TSetupOption::Update, update_->Checked());
  UpdateControls();
}

void TSetupPageSetup::ModeClicked(bool portable) {
  TSetupProductInfo& product = Setup->ProductInfo();
  if (portable && Setup->IsDestInProgramFiles())
    SetDestination(product.GetDefaultPortablePath());
  else if (!portable && SameTextLocale(Setup->GetDestPath(), product.GetDefaultPortablePath()))
    SetDestination(product.GetDefaultPath());
  Setup->SetOption(TSetupOption::Portable, portable);
  UpdateControls();
}

// ---- TSetupPageAddons ----

TSetupPageAddons::TSetupPageAddons() : TSetupPageChoices(u"TSetupPageAddons") {
  addons_ = Setup->Resources().LoadStringList(u"addons.ini");
  image_ = Setup->Resources().LoadImage(addons_->Values(u"I0"));
}

void TSetupPageAddons::CreateControls() {
  AddLabel({40, 30, 300, 40}, u"L0", true).FontSize = 11;
  AddChoice({60, 100, 500, 17}, u"CB1", kSettingsCommon, u"AddonsViewer");
  AddChoice({60, 120, 500, 17}, u"CB2", kSettingsCommon, u"AddonsExtensions");
  AddChoice({60, 140, 500, 17}, u"CB3", kSettingsCommon, u"AddonsShortcuts");
  text1_ = &AddControl(TPageControlKind::Formatted, {40, 280, 500, 20}, u"");
  text2_ = &AddControl(TPageControlKind::Formatted, {40, 310, 550, 50}, u"");
}

namespace {

// A language text with its "%s" filled in; a text that does not fit its
// arguments is shown as it stands rather than failing the wizard.
String FormatPageText(const String& text, std::initializer_list<FormatArg> args) {
  try {
    return Format(text, args);
  } catch (const EFormatError&) {
    return text;
  }
}

}  // namespace

void TSetupPageAddons::Localize() {
  TSetupPageChoices::Localize();
  const String vendor = addons_->Values(u"L0");
  const String terms = addons_->Values(u"L1");
  const String privacy = addons_->Values(u"L2");
  text1_->SetText(FormatPageText(PageText(u"L1"), {vendor}));
  text2_->SetText(FormatPageText(PageText(u"L2"), {terms, privacy}));
}

void TSetupPageAddons::Prepare() {
  TSetupPageChoices::Prepare();
  // Written on entry: the add-ons step always finds the choices.
  SaveChoices();
}

// ---- TSetupPageChoices ----

TPageControl& TSetupPageChoices::AddChoice(TWizardRect bounds, StringView name,
                                           const char16_t* section, const char16_t* key) {
  TPageControl& box = AddCheckBox(bounds, name, [this] { SaveChoices(); });
  choices_.push_back({&box, section, key});
  return box;
}

void TSetupPageChoices::Prepare() {
  for (const TChoice& choice : choices_)
    choice.Box->SetChecked(
        Setup->Settings.ReadBool(choice.Section, choice.Key, DefaultChoice(choice)));
}

void TSetupPageChoices::SaveChoices() {
  for (const TChoice& choice : choices_)
    Setup->Settings.WriteBool(choice.Section, choice.Key, choice.Box->Checked());
}

// ---- TSetupPageIntegration ----

void TSetupPageIntegration::CreateControls() {
  AddHeading({40, 30, 540, 20}, u"LB1");
  AddChoice({60, 70, 540, 16}, u"CB1", kSettingsIntegration, u"ShortcutDesktop");
  AddChoice({60, 90, 540, 16}, u"CB2", kSettingsIntegration, u"ShortcutStartMenu");
  AddHeading({40, 120, 540, 20}, u"LB2");
  AddChoice({60, 160, 540, 16}, u"CB4", kSettingsIntegration, u"IntegrateToWindows");
  AddLabel({79, 180, 540, 48}, u"CB4Hint", true).SetEnabled(false);
  AddChoice({60, 230, 540, 16}, u"CB3", kSettingsIntegration, u"AssociateWithFiles");
  AddChoice({60, 250, 540, 16}, u"CB5", kSettingsIntegration, u"RegisterContextMenu");
}

bool TSetupPageIntegration::IsApplicable() {
  return !Setup->IsOptionSet(TSetupOption::Portable) && !Setup->IsOptionSet(TSetupOption::Update);
}

bool TSetupPageIntegration::DefaultChoice(const TChoice&) const {
  return !Setup->IsOptionSet(TSetupOption::Portable);
}

// ---- TSetupPageUninstallParams ----

void TSetupPageUninstallParams::CreateControls() {
  AddChoice({44, 40, 480, 17}, u"CB1", kSettingsCommon, u"RemoveBackups");
  AddChoice({44, 65, 480, 17}, u"CB2", kSettingsCommon, u"RemoveContent");
}

// ---- page classes ----

const TSetupPageClassInfo SetupPageSetup{u"TSetupPageSetup", &CreateSetupPage<TSetupPageSetup>};
const TSetupPageClassInfo SetupPageAddons{u"TSetupPageAddons", &CreateSetupPage<TSetupPageAddons>};

const TSetupPageClassInfo SetupPageIntegration{u"TSetupPageIntegration",
                                               &CreateSetupPage<TSetupPageIntegration>};
const TSetupPageClassInfo SetupPageUninstallParams{u"TSetupPageUninstallParams",
                                                   &CreateSetupPage<TSetupPageUninstallParams>};
