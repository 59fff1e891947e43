// The installation step that starts the optional add-on installer carried in
// the packages, with the add-ons the user chose. Its description
// "addons.ini" holds name=value lines: "P4" the installer's name in the
// packages (and on disk), "P1" to "P3" command-line fragments, "CL" the
// command-line template with one "%s".
#pragma once

#include <memory>

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "platform/security.h"

class TSetupActionAddonsInstall : public TSetupAction {
 public:
  static constexpr char16_t kDescriptionName[] = u"addons.ini";

  // The name of the folder the installer is written to begins with this.
  static constexpr char16_t kFolderPrefix[] = u"MivoAddons-";

  TSetupActionAddonsInstall() = default;
  // Lets go of the installer's file and removes its folder (what a program
  // still running holds goes at the next restart).
  ~TSetupActionAddonsInstall() override;

  // Nothing when no add-on is chosen. Else reads "addons.ini" (missing: the
  // lookup's EInstallerInstallError), builds the parameters (a template that
  // does not take exactly the fragment raises EInstallerInstallError),
  // writes the installer into a new private folder in the temporary folder
  // (CreatePrivateFolder; users may read it), which stays held while the
  // step lives, holds the file itself so that nobody may write, rename or
  // delete it (others may read and run it), makes sure that it is what was
  // written (else writes it anew, a few times), and starts it as the
  // interactive user through the spawn service without waiting. Writing or
  // starting it may fail without failing the installation.
  void Execute() override;
  // "PageAddons": heading "Title", items "CB1" (viewer), "CB2" (extensions),
  // "CB3" (shortcuts) when chosen.
  void AddSummary(TSetupSummaryBuilder& builder) override;

  // The settings "AddonsViewer", "AddonsExtensions", "AddonsShortcuts" of
  // section "Common" (default off).
  bool WantViewer();
  bool WantExtensions();
  bool WantShortcuts();
  // P1 + " " unless extensions are chosen, P2 + " " for the viewer, P3 + " "
  // for the shortcuts.
  String Fragments(const TVelStringList& description);
  // CL formatted with the fragments.
  String Parameters(const TVelStringList& description);
  // The folder (default: the temporary folder) + P4 as a full long path;
  // EInstallerInstallError for a name that leaves the folder.
  String InstallerPath(const TVelStringList& description, const String& folder = {});
  // Writes the package file over a fresh file at path (an existing file or
  // link there is removed first, never written through). False on failure.
  bool WriteInstaller(const String& packageName, const String& path);
  // Opens the file at path so that others may only read it and checks that
  // it holds the package file's bytes: the open file, or null.
  std::unique_ptr<TStream> HoldUnchanged(const String& packageName, const String& path);

 private:
  std::unique_ptr<platform::TPrivateFolder> folder_;
  std::unique_ptr<TStream> installer_;  // the installer's file, held
};
