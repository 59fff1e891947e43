// The product's own pages: its choices are booleans in the controller's
// settings store, read back by the steps of the run.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "lib/string_list.h"
#include "ui/setup_pages.h"

// Where and how to install: the destination with its browse button, the
// update and backup boxes, standard or portable installation, and warning
// lines. Edits the controller's destination and options directly.
class TSetupPageSetup : public TSetupPage {
 public:
  TSetupPageSetup() : TSetupPage(u"TSetupPageSetup") {}
  void CreateControls() override;
  void Localize() override;
  bool CanGoNext() override;
  void Prepare() override { UpdateControls(); }

  // Shows the controller's state: the path (unless the user is typing it),
  // the boxes, the mode and the warnings.
  void UpdateControls();
  // The browse button: the folder chooser starts at the destination; a
  // confirmed folder becomes the destination (see BrowseDestination).
  void Browse();
  // The destination for a folder chosen with the browse button: the folder
  // itself when its last name is the product's, else the product's folder in it.
  static String BrowseDestination(StringView folder, StringView productName);
  // The language keys of the warning lines shown now, from top to bottom.
  std::vector<String> Warnings() const;

 private:
  void PathEdited();
  void SetDestination(const String& text);
  void UpdateOrBackupClicked();
  void ModeClicked(bool portable);

  TPageControl* pathEdit_ = nullptr;
  bool editing_ = false;
  TPageControl* backup_ = nullptr;    // "CB4"
  TPageControl* update_ = nullptr;    // "CB1"
  TPageControl* standard_ = nullptr;  // "CB2"
  TPageControl* portable_ = nullptr;  // "CB3"
  TPageControl* warningUpdate_ = nullptr;  // "W1"
  TPageControl* warningOther_ = nullptr;   // "W3"
  TPageControl* warningRefused_ = nullptr;  // "W4"
};

// The Setup page's warning for a destination that cannot be used: "W4"
// with the folder and the reason ("R0" for a name Windows cannot hold,
// "R1" to "R7" for the places that are never a program's folder; "R7"
// names the folder it holds). Texts a language lacks are the English ones.
// Empty when the folder can be the destination.
String RefusedDestinationText(const String& folder,
                              const std::function<String(StringView key)>& pageText);

// Whether another copy of the product deserves a warning: never for an
// update; an installed version at the destination; else, unless portable,
// a copy installed anywhere on the computer.
bool OtherCopyWarning();

// The modal folder chooser of the browse button: starts at the folder and
// returns true with the chosen folder, false when cancelled. Set by the
// toolkit binding; without one the button does nothing.
using TFolderBrowser = std::function<bool(const String& start, String& chosen)>;
void SetFolderBrowser(TFolderBrowser browser);

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

// The optional add-ons described by "addons.ini" (offered in Russian only):
// three boxes written on entry and on every click, two texts with links and
// the add-ons' picture at the top right.
class TSetupPageAddons : public TSetupPageChoices {
 public:
  // Reads "addons.ini" and its picture; raises when either is missing.
  TSetupPageAddons();
  void CreateControls() override;
  void Localize() override;
  void Prepare() override;
  const TSetupImage& Image() const { return *image_; }
  // The picture's distance from the page's right edge, at 96 DPI.
  static constexpr int kImageMargin = 10;

 protected:
  bool DefaultChoice(const TChoice&) const override { return true; }

 private:
  std::unique_ptr<TVelStringList> addons_;
  std::unique_ptr<TSetupImage> image_;
  TPageControl* text1_ = nullptr;
  TPageControl* text2_ = nullptr;
};

extern const TSetupPageClassInfo SetupPageSetup;
extern const TSetupPageClassInfo SetupPageAddons;
extern const TSetupPageClassInfo SetupPageIntegration;
extern const TSetupPageClassInfo SetupPageUninstallParams;
