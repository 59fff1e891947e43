// The installation step that creates the shortcuts of the script's group
// "Shortcuts" in the folders the user allowed (desktop, start menu), as
// shell links to the installed programs.
#pragma once

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "lib/strings.h"

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
  // One entry: skipped unless IsAllowed, and from Windows 8 on unless its
  // source ends with ".exe" (any case); the link's folder is created with
  // its parents (skipped silently when it cannot be, and when the expanded
  // name is no absolute path); then UpdateLink with
  // the expanded target and source names. Nothing here fails the step.
  void CreateShortcut(const TSetupScriptFile& entry);
  // The entry's target name in upper case contains one of Folders.
  bool IsAllowed(const TSetupScriptFile& entry);
  // Leaves a ".lnk" link that points to target already (any case) alone;
  // else, when target exists, writes a link to it (replacing the file).
  // True when the link points to target afterwards.
  bool UpdateLink(const String& link, const String& target);

  // The folder variables allowed, in upper case.
  TVelStringList Folders;
};
