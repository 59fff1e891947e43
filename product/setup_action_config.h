// The installation step that writes the player's configuration "Mivo.ini"
// in the destination: the user's integration choices and the facts of this
// installation (a new identity, the language, the mode and the version).
#pragma once

#include "core/setup_action.h"
#include "lib/ini_file.h"
#include "lib/strings.h"

class TSetupActionConfig : public TSetupAction {
 public:
  static constexpr char16_t kConfigName[] = u"Mivo.ini";

  // Status "A6"; loads dest + "Mivo.ini" when it exists (raising its open
  // error when it exists but cannot be read, so that nothing in it is lost),
  // updates it (UpdateConfig) and saves it in the encoding it was read in
  // (UTF-16LE with byte-order mark for a new file) to a fresh file that then
  // replaces it (SaveFileReplacing). EFCreateError or EOSError naming the
  // file when it cannot be saved; the old file is left whole then.
  void Execute() override;

  // Section "Integration" becomes a copy of the settings store's; section
  // "System" is written anew, last in the document: "ID" (a new GUID in
  // registry form), "DefaultLang" (language name + ".lng"), "UserMode" (1,
  // or 0 for a portable installation), "Version" (the version installed).
  void UpdateConfig(TVelIniFile& config);
};
