// The first step of every run: closes the running player and its companion
// tools, so that no file of the installation is in use.
#pragma once

#include <atomic>
#include <vector>

#include "core/setup_action.h"
#include "platform/handles.h"

class TSetupActionCloseApplications : public TSetupAction {
 public:
  // The main windows of the player and its tools, searched in this order.
  static constexpr const char16_t* kWindowClasses[] = {
      u"TMivo2EditorForm",       u"TMivo2MainW",      u"TMivo3MainWindow", u"TMivoATEForm",
      u"TMivoConverterMainForm", u"TMivoLibMainForm", u"TMivoMainForm"};
  // How long a window may take to handle WM_CLOSE before it counts as still
  // open for this pass.
  static constexpr uint32_t kAnswerTimeoutMs = 3000;
  // How long a pass that closed windows waits for their processes to end.
  static constexpr uint32_t kSettleMs = 2000;

  // Status "A8"; then passes over the window classes, closing one window of
  // each class a pass, until a pass finds none or the run is cancelled. A
  // silent run gives up when windows are still open after the controller's
  // WaitLimitSeconds: EInstallerInstallError naming their programs, and the
  // controller is told that the player is in use.
  void Execute() override;
  // Ends the step before its next pass.
  void Terminate() override;
  // Only asks windows to close: it runs while the package is decoded.
  bool RunsBeforePackagesVerified() const override { return true; }

 private:
  [[noreturn]] void GiveUp(const std::vector<String>& programs);

  std::atomic<bool> terminated_{false};
  platform::TWaitHandle stop_ = platform::NewEvent(true, false);
};
