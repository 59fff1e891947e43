// The installation step that creates the shortcuts of the script's group
// "Shortcuts" in the folders the user allowed (desktop, start menu), as
// shell links to the installed programs.
#pragma once

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "platform/shell.h"

class TSetupScriptFile;

class TSetupActionShortcuts : public TSetupAction {
 public:
  // Status "A2"; Folders gets "$DESKTOP" and "$STARTMENU" as allowed; then
  // every entry of the group in order (CreateShortcut), the progress set to
  // (i + 1) * 100 / count after entry i. COM is initialised for the step.
  void Execute() override;
  // "PageIntegration": heading "LB1", items "CB1" (desktop) and "CB2"
  // (start menu) when chosen.
  void AddSummary(TSetupSummaryBuilder& builder) override;

  // The settings "ShortcutDesktop" and "ShortcutStartMenu" (default: on
  // unless the installation is portable).
  bool WantDesktop();
  bool WantStartMenu();
  // One entry: skipped unless IsAllowed, from Windows 8 on unless its
  // source ends with ".exe" (any case), when the expanded name is no
  // absolute path and when the program is not there; else the link's folder
  // is created with its parents and UpdateLink writes the link.
  // EInstallerInstallError when the folder or the link cannot be written.
  void CreateShortcut(const TSetupScriptFile& entry);
  // The entry's target name in upper case contains one of Folders.
  bool IsAllowed(const TSetupScriptFile& entry);
  // Leaves a ".lnk" link that is LinkFor already (paths in any case)
  // alone; else, when target exists, writes LinkFor (replacing the file).
  // True when the link, read back, is LinkFor afterwards.
  bool UpdateLink(const String& link, const String& target);
  // The shortcut to the program: its target, the program's folder as the
  // working folder, the program's own icon, the shortcut's name as the
  // description.
  static platform::TShellLink LinkFor(const String& link, const String& target);

  // The folder variables allowed, in upper case.
  TVelStringList Folders;
};
