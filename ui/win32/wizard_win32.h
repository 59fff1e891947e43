// The wizard's window on Win32: a fixed 640 x 480 (at 96 DPI) window that
// paints its header, strip and footer itself, the Back and Next buttons,
// the version label, and the pages' controls as standard controls (rich
// edit for the viewers).
#pragma once

class TSetup;

// Shows the wizard for the controller and runs its message loop until the
// window has closed; the form is destroyed before it returns (which asks the
// controller to start the chosen programs). Raises what building the form
// raises.
void RunWin32Wizard(TSetup& setup);
