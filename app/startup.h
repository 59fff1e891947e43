// The program's start-up sequence, free of any user-interface toolkit: the
// checks, the relaunches (elevated, or the uninstaller from the temporary
// folder), the controller, the languages, and then the silent run or the
// wizard. The executable's entry point supplies the toolkit parts as hooks.
#pragma once

#include <functional>

#include "lib/strings.h"
#include "resources/setup_message_box.h"

class TSetup;

// Exit codes of the process.
constexpr int kExitSuccess = 0;
constexpr int kExitCannotStart = 1;         // an error before the run started
constexpr int kExitCancelledBeforeRun = 2;  // incl. a declined elevation prompt
constexpr int kExitRunFailed = 4;
constexpr int kExitCancelledDuringRun = 5;
// A silent run gave up on a player that would not close; nothing changed.
constexpr int kExitPlayerInUse = 6;
// Another installation or uninstallation of the product was running all the
// time a silent run waited (or the person chose not to wait); nothing changed.
constexpr int kExitInstallInProgress = 7;

struct TSetupStartupHooks {
  // Shows the one error box: the message, caption "Setup", the error icon and
  // a single OK button; returns when the user closed it.
  std::function<void(const String& message)> ShowError;
  // Shows a message box on the main thread (questions of the run, such as
  // a file that cannot be written), owned by the main window when there is
  // one.
  TSetupMessageBox ShowMessageBox;
  // Initialises the user-interface toolkit (the main window on the taskbar).
  std::function<void()> InitializeToolkit;
  // Shows the list of switches (/? and /HELP) on the console when the
  // program was started from one, and, with `box`, in a box; returns when
  // the box was closed.
  std::function<void(const String& text, bool box)> ShowHelp;
  // Shows the wizard and runs its message loop until it closes; the wizard
  // calls TSetup::Finish when it goes. Without it a run that is not silent
  // runs like a silent one.
  std::function<void(TSetup& setup)> RunWizard;
};

// Runs the whole start-up with the arguments (the command line without the
// program's path) and returns the process's exit code.
int RunSetupStartup(const String& arguments, const TSetupStartupHooks& hooks);

// The text that /? and /HELP show: every switch and exit code.
String SwitchHelpText();

// The exit code for a controller whose wizard has closed: 0 after a run
// without errors, 2 when no run was started, 4 after a failed run, 5 after a
// cancelled one.
int SetupExitCode(const TSetup& setup);
