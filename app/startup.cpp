#include "app/startup.h"

#include <memory>

#include "core/setup.h"
#include "lib/command_line.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/files.h"
#include "platform/spawn_service.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"
#include "resources/setup_script.h"

namespace {

// An error whose box ends the process with a given exit code.
class EStartupRunError : public EInstallerInstallError {
 public:
  EStartupRunError(const String& message, int exitCode)
      : EInstallerInstallError(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

void RunSilently(TSetup& setup) {
  setup.StartInstall(true);
  if (setup.HasErrors())
    throw EStartupRunError(setup.Errors.Text(),
                           setup.Cancelled() ? kExitCancelledDuringRun : kExitRunFailed);
  setup.Finish();
}

}  // namespace

int SetupExitCode(const TSetup& setup) {
  if (setup.State() == TSetupState::Idle) return kExitCancelledBeforeRun;
  if (setup.Cancelled() || setup.State() != TSetupState::Done) return kExitCancelledDuringRun;
  return setup.HasErrors() ? kExitRunFailed : kExitSuccess;
}

int RunSetupStartup(const String& arguments, const TSetupStartupHooks& hooks) {
  std::unique_ptr<TSetup> setup;
  try {
    if (!ProductInfoClass()) throw EInstallerGeneralError(u"Setup is malformed");

    const platform::TWindowsVersion version = platform::WindowsVersion();
    if (version.major >= 6) {
      String skipUac;
      if (TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchSkipUac, skipUac)) {
        // A window handle travels as a signed 32-bit number; handles are
        // sign-extended like HandleToLong/LongToHandle do.
        const int32_t token = StrToIntDef(Trim(skipUac), 0);
        TSetupSpawnService::Initialize(static_cast<uintptr_t>(static_cast<intptr_t>(token)));
      } else if (!platform::IsAdmin()) {
        // The uninstaller's folder is to be removed: this process, which
        // waits meanwhile, must not hold it as its current folder.
        if (IsUninstaller()) platform::SetCurrentFolder(platform::TempFolder());
        uint32_t exitCode = 0;
        if (!RelaunchElevated(arguments, exitCode)) return kExitCancelledBeforeRun;
        return static_cast<int>(exitCode);
      }
    }
    if (!platform::IsAdmin()) throw EInstallerNoAdminRightsError();

    setup = std::make_unique<TSetup>(arguments);
    setup->SetMessageBoxPresenter(hooks.ShowMessageBox);

    if (setup->RunKind() == TSetupRunKind::Uninstall) {
      String path;
      if (TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchPath, path) &&
          platform::DirectoryExists(path)) {
        setup->SetDestPath(path);
      } else {
        // A copy that runs from the temporary folder already must not
        // start yet another one.
        if (IsRelaunchFolder(ExtractFilePath(platform::ModuleFileName())))
          throw EInstallerMysteryError(u"Cannot start the Uninstaller");
        // Nothing of this process may stay open, or be left behind, in the
        // folder that the copy removes.
        setup.reset();
        platform::RemoveFile(SetupScriptDumpPath());
        return static_cast<int>(RelaunchFromTemp(arguments));
      }
    }

    if (hooks.InitializeToolkit) hooks.InitializeToolkit();
    setup->Resources().InitializeLanguages();

    if (setup->IsOptionSet(TSetupOption::Silent) || !hooks.RunWizard) {
      RunSilently(*setup);
      return kExitSuccess;
    }
    hooks.RunWizard(*setup);
    return SetupExitCode(*setup);
  } catch (const Exception& e) {
    if (hooks.ShowError) hooks.ShowError(e.Message());
    if (const auto* run = dynamic_cast<const EStartupRunError*>(&e)) return run->ExitCode();
    return kExitCannotStart;
  }
}
