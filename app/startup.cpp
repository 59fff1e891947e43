#include "app/startup.h"

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "core/setup.h"
#include "lib/command_line.h"
#include "lib/exceptions.h"
#include "lib/local_time.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
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

constexpr char16_t kSwitchHelp[] = u"HELP";
constexpr char16_t kSwitchNoDesktopShortcut[] = u"NODESKTOPSHORTCUT";
constexpr char16_t kSwitchNoStartMenuShortcut[] = u"NOSTARTMENUSHORTCUT";

bool HasSwitch(const String& arguments, StringView name) {
  return TVelCommandLineProcessor::HasSwitch(arguments, name);
}

String TimeText(const char* format) {
  const std::tm local = LocalTimeNow();
  char text[64] = {};
  std::strftime(text, sizeof text, format, &local);
  return Utf8ToUtf16(text);
}

// The log file that /LOG asks for: lines are kept until the product's name
// is known (it names the default file), then written as they come, each
// one at once, so that a run that is killed leaves what happened so far.
// Only the process that does the work writes it: one that relaunches itself
// ends without opening it.
class TStartupLog {
 public:
  explicit TStartupLog(const String& arguments) {
    wanted_ = TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchLog, fileName_);
    if (!wanted_) return;
    SetRunLogSink([this](StringView line) { Add(line); });
  }
  ~TStartupLog() {
    if (wanted_) SetRunLogSink(nullptr);
  }
  TStartupLog(const TStartupLog&) = delete;
  TStartupLog& operator=(const TStartupLog&) = delete;

  // Opens the file: the named one, or a new file in the temporary folder
  // named after the product and the time. The named file is made anew at
  // its name, or an existing plain file there (an earlier run's log) is
  // written anew; never is anything written through a link, and the
  // folders it needs are made.
  // A named log that cannot be made raises EInstallerGeneralError, before
  // anything else has changed; only the first call opens.
  void Open(const String& productName) {
    if (!wanted_ || opened_) return;
    opened_ = true;
    if (!fileName_.empty()) {
      const String path = platform::FullPathName(fileName_);
      const String problem = CreateNamed(path);
      if (!problem.empty()) {
        pending_.clear();
        throw EInstallerGeneralError(u"The log file \"" + path + u"\" cannot be created: " +
                                     problem);
      }
    } else {
      // Created anew, never opened when the name exists: the temporary
      // folder is writable by others, and a name planted there must not
      // turn this write into one elsewhere.
      // Named after the product, or after the program when the product is
      // not known (its packages could not be read, say).
      String program = ExtractFileName(platform::ModuleFileName());
      program.resize(program.size() - ExtractFileExt(program).size());
      const String base = platform::TempFolder() +
                          (productName.empty() ? program : productName + u" Setup") + u" " +
                          TimeText("%Y-%m-%d %H-%M-%S");
      for (int i = 1; i < 100 && !file_; ++i)
        file_ = platform::OpenFileShared(
            base + (i == 1 ? String() : u" (" + IntToStr(i) + u")") + u".log",
            platform::kGenericWrite, platform::kFileShareRead, platform::kCreateNew);
    }
    if (!file_) {
      pending_.clear();
      return;
    }
    for (const std::string& line : pending_) Write(line);
    pending_.clear();
  }

 private:
  void Add(StringView line) {
    // To the millisecond: what the run's steps take shows in the log.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1000);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d  ", ms);
    std::string text = Utf16ToUtf8(TimeText("%Y-%m-%d %H:%M:%S") + String(line)) + "\r\n";
    text.insert(19, fraction);
    if (file_)
      Write(text);
    else
      pending_.push_back(std::move(text));
  }
  void Write(const std::string& text) {
    try {
      file_->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    } catch (const Exception&) {
      // A full disk ends the log, not the run.
    }
  }

  // Makes the named log file; why not, when it cannot be made.
  String CreateNamed(const String& path) {
    const auto reason = [] { return Trim(platform::SystemErrorText(platform::LastError())); };
    if (platform::IsLink(path)) return u"a link is in its place.";
    if (path.empty() || path.back() == u'\\' || platform::DirectoryExists(path))
      return u"it is a folder.";
    for (size_t at = path.find(u'\\', 3); at != String::npos; at = path.find(u'\\', at + 1)) {
      const String folder = path.substr(0, at);
      if (!platform::DirectoryExists(folder) && !platform::CreateFolder(folder)) return reason();
    }
    file_ = platform::OpenFileShared(path, platform::kGenericWrite, platform::kFileShareRead,
                                     platform::kCreateNew);
    if (file_) return {};
    if (platform::LastError() != platform::kErrorFileExists) return reason();
    // The log of an earlier run: written anew, but only a plain file.
    file_ = platform::RewritePlainFile(path, platform::kFileShareRead);
    if (file_) return {};
    return platform::LastError() == platform::kErrorNotAReparsePoint
               ? u"another name (a link) leads to the file there."
               : reason();
  }

  bool wanted_ = false;
  bool opened_ = false;
  String fileName_;
  std::unique_ptr<TStream> file_;
  std::vector<std::string> pending_;
};

// Bytes as MiB with one decimal.
String MebibytesText(uint64_t bytes) {
  const uint64_t tenths = (bytes * 10 + (1 << 19)) >> 20;
  return IntToStr(static_cast<int64_t>(tenths / 10)) + u"." +
         IntToStr(static_cast<int64_t>(tenths % 10)) + u" MiB";
}

String RunKindText(const TSetup& setup) {
  return setup.RunKind() == TSetupRunKind::Uninstall ? u"uninstall" : u"install";
}

String OptionsText(const TSetup& setup) {
  static const std::pair<TSetupOption, const char16_t*> kNames[] = {
      {TSetupOption::Auto, u"Auto"},     {TSetupOption::Portable, u"Portable"},
      {TSetupOption::Update, u"Update"}, {TSetupOption::Silent, u"Silent"},
      {TSetupOption::Run, u"Run"},       {TSetupOption::NoBackup, u"NoBackup"}};
  String text;
  for (const auto& [option, name] : kNames)
    if (setup.IsOptionSet(option)) text += (text.empty() ? u"" : u" ") + String(name);
  return text.empty() ? u"none" : text;
}

// The answer that lets a question end the run safely, for a box nobody
// sees: Abort, Cancel or No, and OK for a mere message.
int SafeAnswer(uint32_t flags) {
  switch (flags & 0xF) {
    case kMbOk:
      return kIdOk;
    case kMbAbortRetryIgnore:
      return kIdAbort;
    case 4:      // MB_YESNO
      return 7;  // IDNO
    default:     // OK/Cancel, Yes/No/Cancel, Retry/Cancel, Cancel/Try/Continue
      return kIdCancel;
  }
}

// The product's name and version, empty when the script lacks them.
String ProductNameOf(TSetup& setup) {
  try {
    return setup.ProductName();
  } catch (const Exception&) {
    return {};
  }
}

String ProductVersionOf(TSetup& setup) {
  try {
    return setup.ProductVersionText();
  } catch (const Exception&) {
    return {};
  }
}

void RunSilently(TSetup& setup) {
  setup.StartInstall(true);
  // The product package was decoded while the run began (its first steps
  // change nothing on disk before it is verified): a damaged one is refused
  // as before the run, with its own message and exit code 1.
  if (setup.HasErrors()) {
    setup.Resources().RaisePackageFailure();
    throw EStartupRunError(setup.Errors.Text(), setup.Cancelled()     ? kExitCancelledDuringRun
                                                : setup.PlayerInUse() ? kExitPlayerInUse
                                                                      : kExitRunFailed);
  }
  setup.Finish();
}

int RunStartup(const String& arguments, const TSetupStartupHooks& hooks, TStartupLog& log);

// The value of /RESTARTEXITCODE=N; false without the switch. A value that
// is no number from 0 to 2147483647 cannot start the run.
bool RestartExitCode(const String& arguments, int& code) {
  String value;
  if (!TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchRestartExitCode, value))
    return false;
  if (!TryStrToInt(Trim(value), code) || code < 0)
    throw EInstallerGeneralError(u"/" + String(kSwitchRestartExitCode) + u"=" + value +
                                 u": the value must be a number from 0 to 2147483647.");
  return true;
}

// One run at a time on the machine: a silent run waits for the one that
// runs (up to the time /CLOSETIMEOUT gives), the wizard asks whether to
// wait. Raises EStartupRunError with exit code 7 when it does not get its
// turn; nothing has changed then.
std::unique_ptr<platform::TRunLock> TakeTurn(TSetup& setup, const TSetupStartupHooks& hooks) {
  const String product = ProductNameOf(setup);
  const String name = (product.empty() ? String(u"Mivo") : product) + u" Setup";
  const String busy = u"Another installation or removal of " +
                      (product.empty() ? String(u"the product") : product) +
                      u" is in progress.";
  const bool silent = setup.IsOptionSet(TSetupOption::Silent);
  std::unique_ptr<platform::TRunLock> lock = platform::AcquireRunLock(name, 0);
  const bool waited = !lock;
  if (waited) RunLog(u"Waiting: " + busy);
  while (!lock) {
    if (silent) {
      lock = platform::AcquireRunLock(name, setup.WaitLimitSeconds() * 1000);
      if (!lock)
        throw EStartupRunError(busy + u" Setup waited " +
                                   IntToStr(static_cast<int>(setup.WaitLimitSeconds())) +
                                   u" seconds for it; nothing was changed.",
                               kExitInstallInProgress);
      break;
    }
    const int answer =
        hooks.ShowMessageBox
            ? hooks.ShowMessageBox(busy + u"\r\n\r\nWait until it has finished, then choose "
                                          u"Retry; Cancel ends Setup without changes.",
                                   u"Setup", kMbRetryCancel | kMbIconWarning)
            : kIdCancel;
    if (answer != kIdRetry) throw EStartupRunError(busy, kExitInstallInProgress);
    lock = platform::AcquireRunLock(name, 1000);
  }
  if (!lock->Guarded())
    RunLog(u"The lock \"" + name + u"\" was made by someone who is not an administrator; "
           u"running without it.");
  if (waited) {
    // The run that went first may have installed or removed the product:
    // what is installed at the destination is looked at again.
    const String dest = setup.GetDestPath();
    setup.SetDestPath(String());
    setup.SetDestPath(dest);
    RunLog(u"Run: " + RunKindText(setup) + u"; options: " + OptionsText(setup));
  }
  return lock;
}

// After a run without errors: a file that only a restart deletes is said in
// the log, and a silent run ends with /RESTARTEXITCODE's code then.
int SucceededExitCode(const TSetup& setup, const String& arguments, bool silent) {
  if (!RestartNeeded()) return kExitSuccess;
  RunLog(u"Restart needed: files are left to be deleted at the next restart; a restart "
         u"completes the " +
         String(setup.RunKind() == TSetupRunKind::Uninstall ? u"uninstallation"
                                                              : u"installation") +
         u".");
  int code = kExitSuccess;
  return silent && RestartExitCode(arguments, code) ? code : kExitSuccess;
}

}  // namespace

int SetupExitCode(const TSetup& setup) {
  if (setup.State() == TSetupState::Idle) return kExitCancelledBeforeRun;
  if (setup.Cancelled() || setup.State() != TSetupState::Done) return kExitCancelledDuringRun;
  return setup.HasErrors() ? kExitRunFailed : kExitSuccess;
}

namespace {

bool MessageBoxesSuppressed(const String& arguments) {
  // A silent run told so, and every run without a desktop that a person
  // sees: a box there would wait for ever. An update shows its
  // self-advancing wizard instead of running silently, but the switch still
  // holds for every box (a refused update, a question of the run).
  if (!platform::HasInteractiveDesktop()) return true;
  return HasSwitch(arguments, kSwitchSuppressMsgBoxes) && HasSwitch(arguments, kSwitchAuto) &&
         HasSwitch(arguments, kSwitchSilent);
}

}  // namespace

String SwitchHelpText() {
  return u"Mivo Setup installs Mivo (MivoSetup.exe) and removes it (Uninstall.exe in the "
         u"installation folder).\r\n"
         u"\r\n"
         u"/AUTO[=folder]  unattended; the folder is the destination (default: the installed "
         u"one, else the program-files folder)\r\n"
         u"/SILENT  with /AUTO: no window; errors in one box and the exit code\r\n"
         u"/SUPPRESSMSGBOXES  with /AUTO /SILENT: no box at all; errors in the log and the exit "
         u"code\r\n"
         u"/LOG[=file]  a log of the run (default: a new file in the temporary folder)\r\n"
         u"/PORTABLE  with /AUTO: settings kept in the installation folder\r\n"
         u"/UPDATE  with /AUTO: only update the installed version (shows the self-advancing "
         u"wizard)\r\n"
         u"/NOBACKUP  with /AUTO: no backup of the previous installation\r\n"
         u"/RUN  with /AUTO /UPDATE: start the player afterwards\r\n"
         u"/NODESKTOPSHORTCUT, /NOSTARTMENUSHORTCUT  with /AUTO: no such shortcut\r\n"
         u"/CLOSETIMEOUT=seconds  how long a silent run waits for the player to close and for "
         u"another installation to end (default 60)\r\n"
         u"/RESTARTEXITCODE=N  a silent run that needs a restart to complete ends with N "
         u"(3010 for deployment tools) instead of 0\r\n"
         u"/? or /HELP  this text\r\n"
         u"\r\n"
         u"Exit codes:\r\n"
         u"0  success\r\n"
         u"1  Setup could not start\r\n"
         u"2  cancelled before the run\r\n"
         u"4  the run failed\r\n"
         u"5  cancelled during the run\r\n"
         u"6  the player is in use; nothing was changed\r\n"
         u"7  another installation is in progress; nothing was changed\r\n"
         u"N  (/RESTARTEXITCODE=N) success; a restart completes the run\r\n";
}

int RunSetupStartup(const String& arguments, const TSetupStartupHooks& hooks) {
  TStartupLog log(arguments);
  RunLog(u"Started: " + platform::ModuleFileName());
  RunLog(u"Command line: " + arguments);


  // Every box goes to the log too; where boxes are suppressed, only there.
  const bool suppressed = MessageBoxesSuppressed(arguments);
  TSetupStartupHooks boxes = hooks;
  boxes.ShowError = [&](const String& message) {
    RunLog((suppressed ? u"Error (no box shown): " : u"Error box: ") + message);
    if (!suppressed && hooks.ShowError) hooks.ShowError(message);
  };
  boxes.ShowMessageBox = [&](const String& text, const String& caption, uint32_t flags) {
    if (suppressed) {
      const int answer = SafeAnswer(flags);
      RunLog(u"Question not shown, answered " + IntToStr(answer) + u": " + text);
      return answer;
    }
    const int answer = hooks.ShowMessageBox ? hooks.ShowMessageBox(text, caption, flags) : 0;
    RunLog(u"Question: " + text + u"\r\nAnswer: " + IntToStr(answer));
    return answer;
  };

  // The list of switches, before anything else (no elevation, no packages,
  // nothing installed).
  if (HasSwitch(arguments, u"?") || HasSwitch(arguments, kSwitchHelp)) {
    try {
      log.Open(String());
    } catch (const Exception&) {
      // A log that cannot be made does not keep the text from being shown.
    }
    RunLog(u"Switches shown");
    if (hooks.ShowHelp) hooks.ShowHelp(SwitchHelpText(), !suppressed);
    RunLog(u"Exit code: 0");
    return kExitSuccess;
  }

  const int code = RunStartup(arguments, boxes, log);
  uint64_t workingSet = 0, committed = 0;
  if (platform::PeakMemory(workingSet, committed))
    RunLog(u"Peak memory: working set " + MebibytesText(workingSet) + u", pagefile usage " +
           MebibytesText(committed));
  RunLog(u"Exit code: " + IntToStr(code));
  return code;
}

namespace {

int RunStartup(const String& arguments, const TSetupStartupHooks& hooks, TStartupLog& log) {
  std::unique_ptr<TSetup> setup;
  std::unique_ptr<platform::TRunLock> turn;  // held until the run has ended
  try {
    if (!ProductInfoClass()) throw EInstallerGeneralError(u"Setup is malformed");
    int restartCode = 0;
    RestartExitCode(arguments, restartCode);  // a wrong value stops here

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
          RunsAsRelaunchedCopy() && platform::DirectoryExists(path)) {
        setup->SetDestPath(path);
      } else {
        // A copy that runs from the temporary folder already must not
        // start yet another one.
        if (IsRelaunchFolder(ExtractFilePath(platform::ModuleFileName())))
          throw EInstallerMysteryError(u"Cannot start the Uninstaller");
        // Nothing of this process may stay open, or be left behind, in the
        // folder that the copy removes.
        setup.reset();
        // A copy of the script that earlier versions left beside the program.
        platform::RemoveFile(ExtractFilePath(platform::ModuleFileName()) + u"dump.xml");
        return static_cast<int>(RelaunchFromTemp(arguments));
      }
    }

    log.Open(ProductNameOf(*setup));
    for (const String& line : setup->RecoveryLog()) RunLog(line);
    RunLog(u"Product: " + ProductNameOf(*setup) + u" " + ProductVersionOf(*setup));
    RunLog(u"Run: " + RunKindText(*setup) + u"; options: " + OptionsText(*setup));
    RunLog(u"Destination: " + setup->GetDestPath());
    turn = TakeTurn(*setup, hooks);
    // Shortcuts declined on the command line of an unattended installation
    // (the integration page's choices, over what the installed copy chose;
    // after the turn, which may have looked at the destination again).
    if (setup->RunKind() == TSetupRunKind::Install && setup->IsOptionSet(TSetupOption::Auto)) {
      if (HasSwitch(arguments, kSwitchNoDesktopShortcut))
        setup->Settings.WriteBool(kSettingsIntegration, u"ShortcutDesktop", false);
      if (HasSwitch(arguments, kSwitchNoStartMenuShortcut))
        setup->Settings.WriteBool(kSettingsIntegration, u"ShortcutStartMenu", false);
    }

    if (hooks.InitializeToolkit) hooks.InitializeToolkit();
    setup->Resources().InitializeLanguages();
    RunLog(u"Language: " + setup->Resources().LangName());

    if (setup->IsOptionSet(TSetupOption::Silent) || !hooks.RunWizard) {
      RunSilently(*setup);
      return SucceededExitCode(*setup, arguments, true);
    }
    hooks.RunWizard(*setup);
    const int code = SetupExitCode(*setup);
    return code == kExitSuccess ? SucceededExitCode(*setup, arguments, false) : code;
  } catch (const Exception& e) {
    // An error before the product was known still gets its log.
    log.Open(setup ? ProductNameOf(*setup) : String());
    if (hooks.ShowError) hooks.ShowError(e.Message());
    if (const auto* run = dynamic_cast<const EStartupRunError*>(&e)) return run->ExitCode();
    return kExitCannotStart;
  }
}

}  // namespace
