#include "ui/product_pages.h"

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

const TSetupPageClassInfo SetupPageIntegration{u"TSetupPageIntegration",
                                               &CreateSetupPage<TSetupPageIntegration>};
const TSetupPageClassInfo SetupPageUninstallParams{u"TSetupPageUninstallParams",
                                                   &CreateSetupPage<TSetupPageUninstallParams>};
