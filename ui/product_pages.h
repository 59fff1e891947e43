// The product's own pages: its choices are booleans in the controller's
// settings store, read back by the steps of the run.
#pragma once

#include <vector>

#include "ui/setup_pages.h"

// Check boxes bound each to a boolean setting. Prepare reloads the boxes
// (a setting that is missing shows the page's default) and writes nothing;
// a click writes every box's setting, so settings exist only once the user
// has made a choice and the run otherwise uses its own defaults.
class TSetupPageChoices : public TSetupPage {
 public:
  using TSetupPage::TSetupPage;
  void Prepare() override;
  // Writes the setting of every box from its state.
  void SaveChoices();

 protected:
  struct TChoice {
    TPageControl* Box;
    const char16_t* Section;
    const char16_t* Key;
  };
  TPageControl& AddChoice(TWizardRect bounds, StringView name, const char16_t* section,
                          const char16_t* key);
  // The state a box shows while its setting is missing.
  virtual bool DefaultChoice(const TChoice& choice) const = 0;

 private:
  std::vector<TChoice> choices_;
};

// Shortcuts and Windows integration; skipped by portable installations and
// updates.
class TSetupPageIntegration : public TSetupPageChoices {
 public:
  TSetupPageIntegration() : TSetupPageChoices(u"TSetupPageIntegration") {}
  void CreateControls() override;
  bool IsApplicable() override;

 protected:
  bool DefaultChoice(const TChoice& choice) const override;
};

// What an uninstallation removes besides the program.
class TSetupPageUninstallParams : public TSetupPageChoices {
 public:
  TSetupPageUninstallParams() : TSetupPageChoices(u"TSetupPageUninstallParams") {}
  void CreateControls() override;

 protected:
  bool DefaultChoice(const TChoice&) const override { return false; }
};

extern const TSetupPageClassInfo SetupPageIntegration;
extern const TSetupPageClassInfo SetupPageUninstallParams;
