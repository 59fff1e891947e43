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

// ---- TSetupPageUninstallParams ----

void TSetupPageUninstallParams::CreateControls() {
  AddChoice({44, 40, 480, 17}, u"CB1", kSettingsCommon, u"RemoveBackups");
  AddChoice({44, 65, 480, 17}, u"CB2", kSettingsCommon, u"RemoveContent");
}

// ---- page classes ----

const TSetupPageClassInfo SetupPageUninstallParams{u"TSetupPageUninstallParams",
                                                   &CreateSetupPage<TSetupPageUninstallParams>};
