// The installation steps that register the player with Windows: the
// product's registration program "Rivadavi.exe" (file associations, context
// menu, default programs), and the shell told that associations changed.
#pragma once

#include "core/setup_action.h"
#include <functional>

#include "lib/strings.h"

class TSetupActionIntegrate : public TSetupAction {
 public:
  static constexpr char16_t kProgramName[] = u"Rivadavi.exe";

  // Nothing when dest + "Rivadavi.exe" is missing or no switch is chosen;
  // else runs CommandLine and waits for the program's end. Its failures are
  // ignored.
  void Execute() override;
  // "PageIntegration": heading "LB2", items "CB4", "CB5", "CB3" for the
  // three choices that are on.
  void AddSummary(TSetupSummaryBuilder& builder) override;

  // The switches, each with its own leading space: " /REG=L1 /REG=D1
  // /REG=R1" (IntegrateToWindows), " /REG=M1" (RegisterContextMenu),
  // " /REG=R2" (AssociateWithFiles), then " /REG_UI" when files are
  // associated on Windows 8 or later in a run with a person present.
  String Switches();
  // The same for the choices that `choice` gives, without " /REG_UI".
  static String SwitchesFor(const std::function<bool(StringView key)>& choice);
  // The program's full path in quotes (so that no other program is started
  // in its place), followed by the switches.
  String CommandLine();
};

class TSetupActionUpdateShellCache : public TSetupAction {
 public:
  // Tells the shell that file associations changed. The notice is flushed:
  // it has reached the shell when the call returns, so nothing waits after it.
  void Execute() override;
};
