// The controller of one installer run: the user's choices, the destination,
// the options, the collected errors, the product description, the resources
// and the worker thread, and the hub through which notifications reach the
// listeners on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/setup_journal.h"
#include "core/setup_product_info.h"
#include "lib/ini_file.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "platform/messages.h"
#include "resources/setup_resources.h"

class TSetupThread;

// Notification codes (code 3 is never sent).
constexpr uint32_t NotifyFinished = 1;      // param: 1 when the run was cancelled, else 0
constexpr uint32_t NotifyProgress = 2;      // param: total percent << 16 | action's percent
constexpr uint32_t NotifyStatus = 4;        // param: address of the status text (String)
constexpr uint32_t NotifyPageState = 5;     // param: 0
constexpr uint32_t NotifyProgressTick = 6;  // param: 0

// {713CEF87-75EE-4626-A068-80B97ECA2DC8}
class IInstallerNotify {
 public:
  virtual ~IInstallerNotify() = default;
  // Called on the main thread.
  virtual void Notify(uint32_t code, uintptr_t param) = 0;
};

enum class TSetupRunKind : uint8_t { Install = 0, Uninstall = 1 };
enum class TSetupState : uint8_t { Idle = 0, Running = 1, Done = 2 };

// Option indexes; an option's bit is 1 << index.
enum class TSetupOption : int {
  Auto = 0,
  Portable = 1,
  Update = 2,
  Silent = 3,
  Run = 4,
  NoBackup = 5
};
using TSetupOptions = uint8_t;
constexpr TSetupOptions OptionBit(TSetupOption option) {
  return static_cast<TSetupOptions>(1u << static_cast<int>(option));
}

// Sections and keys of the settings store.
inline constexpr char16_t kSettingsActions[] = u"Actions";
inline constexpr char16_t kSettingsCommon[] = u"Common";
inline constexpr char16_t kSettingsIntegration[] = u"Integration";

// The switches the program reads and produces.
inline constexpr char16_t kSwitchAuto[] = u"AUTO";
inline constexpr char16_t kSwitchSilent[] = u"SILENT";
inline constexpr char16_t kSwitchNoBackup[] = u"NOBACKUP";
inline constexpr char16_t kSwitchRun[] = u"RUN";
inline constexpr char16_t kSwitchUpdate[] = u"UPDATE";
inline constexpr char16_t kSwitchPortable[] = u"PORTABLE";
inline constexpr char16_t kSwitchPath[] = u"PATH";
inline constexpr char16_t kSwitchSkipUac[] = u"SKIPUAC";
inline constexpr char16_t kSwitchSuppressMsgBoxes[] = u"SUPPRESSMSGBOXES";
inline constexpr char16_t kSwitchLog[] = u"LOG";
inline constexpr char16_t kSwitchCloseTimeout[] = u"CLOSETIMEOUT";
inline constexpr char16_t kSwitchRestartExitCode[] = u"RESTARTEXITCODE";

// How long a silent run waits, by default, for the player to close and for
// another installation to end (seconds).
constexpr uint32_t kDefaultWaitLimitSeconds = 60;

class TSetup : public ISetupResourcesHost {
 public:
  // Creates the product description, opens the resources, creates the
  // notification window on the calling thread (the main thread) and parses
  // the arguments. Raises what any of these raise.
  explicit TSetup(const String& arguments);
  TSetup(const TSetup&) = delete;
  TSetup& operator=(const TSetup&) = delete;
  ~TSetup() override;

  void ParseCommandLine(const String& arguments);

  // Normalises the path (NormalizeDestPath, short names expanded when it
  // holds "~") and recomputes the options from what is installed there. The
  // identical string as now does nothing. A path that cannot be the
  // destination is kept as given and refused by StartInstall.
  void SetDestPath(const String& path);

  bool IsOptionSet(int index) const;
  bool IsOptionSet(TSetupOption option) const { return IsOptionSet(static_cast<int>(option)); }
  // An index above 7 changes nothing.
  void SetOption(int index, bool enabled);
  void SetOption(TSetupOption option, bool enabled) {
    SetOption(static_cast<int>(option), enabled);
  }
  // EInstallerMysteryError "Invalid Arguments" when Auto or Silent would change.
  void SetOptions(TSetupOptions options);
  // Drops Update when the destination cannot be updated and Portable when
  // the destination is in a program-files folder.
  void ValidateOptions();
  bool IsDestInProgramFiles();

  void AddListener(IInstallerNotify* listener);
  void RemoveListener(IInstallerNotify* listener);

  // Synchronous from any thread: returns when the main thread has delivered
  // the notification to every listener.
  void SendCode(uint32_t code, uintptr_t param);
  void SendText(uint32_t code, StringView text);
  // Main thread only.
  void Broadcast(uint32_t code, uintptr_t param);
  // Broadcast for the notification window: what a listener raises joins
  // the run's errors.
  void BroadcastGuarded(uint32_t code, uintptr_t param);

  // Runs the call on the main thread and returns when it has run; the
  // calling thread waits meanwhile. The main thread serves it in its message
  // loop and in every wait for the worker. On the main thread the call runs
  // at once. An error of the call is raised again in the caller.
  void Synchronize(const std::function<void()>& call);
  // The message box of the entry point; none by default.
  void SetMessageBoxPresenter(TSetupMessageBox presenter) { messageBox_ = std::move(presenter); }
  // Shows a message box on the main thread from any thread (Synchronize)
  // and returns the answer; 0 without a presenter.
  int ShowMessageBox(const String& text, const String& caption, uint32_t flags);

  // Starts the worker thread once; with wait, returns when it has ended
  // (delivering notifications meanwhile). EInstallerInstallError "DestPath
  // is empty" without a destination, and with the DestPathProblem for a
  // destination that cannot be one; nothing is written then.
  void StartInstall(bool wait);
  // Destroys the worker thread, cancelling the run; returns when the thread
  // has ended. May be called from inside a notification of the worker.
  void FreeThread();
  // Starts the programs chosen in the settings section "Actions" (only after
  // an installation without errors).
  void Finish();
  bool HasErrors() const { return Errors.Count() > 0; }
  // True while a notification or call of the worker is being handled on
  // the main thread (the worker waits for its answer meanwhile).
  bool Delivering() const { return handling_ > 0; }

  // A boolean of the settings store, with the store's default for the key
  // when it is absent.
  bool ReadSetting(StringView section, StringView key) const;
  bool SettingDefault(StringView section, StringView key) const;

  // How long a silent run waits for the player to close (/CLOSETIMEOUT,
  // seconds; kDefaultWaitLimitSeconds without it).
  uint32_t WaitLimitSeconds() const { return waitLimitSeconds_; }
  // Set by the close step when a silent run gave up on a player that would
  // not close: nothing was changed.
  void SetPlayerInUse() { playerInUse_ = true; }
  bool PlayerInUse() const { return playerInUse_; }

  // ISetupResourcesHost
  String DestPath() override { return destPath_; }
  String ProductHomePage() override;
  String ProductName() override;
  String ProductVersionText() override;
  bool IsAutoRun() override { return IsOptionSet(TSetupOption::Auto); }

  const String& GetDestPath() const { return destPath_; }
  TSetupRunKind RunKind() const { return runKind_; }
  TSetupOptions Options() const { return options_; }
  TSetupState State() const { return state_; }
  // True once the worker reported the end of a cancelled run.
  bool Cancelled() const { return cancelled_; }
  TSetupProductInfo& ProductInfo() { return *productInfo_; }
  TSetupResources& Resources() { return *resources_; }
  TSetupExtractHelper& ExtractHelper() { return *extractHelper_; }
  TSetupThread* Thread() { return thread_.get(); }
  // The journal through which the run changes the computer.
  TSetupJournal& Journal() { return *journal_; }
  // What the undoing of an interrupted earlier run wrote to the log before
  // the log was open (the entry point passes it on).
  const std::vector<String>& RecoveryLog() const { return recoveryLog_; }
  platform::WindowHandle NotifyWindow() const { return notifyWindow_; }

  // The user's choices: booleans in "Actions", "Common" and "Integration".
  TVelIniFile Settings;
  // Messages of the errors of the run, in order of arrival.
  TVelStringList Errors;

 private:
  intptr_t WindowProc(platform::WindowHandle window, uint32_t msg, uintptr_t wParam,
                      intptr_t lParam);
  void Release();
  void MakeResources();
  // Undoes a run that was killed, before anything installed is looked at.
  void RecoverInterruptedRun();

  String destPath_;
  platform::WindowHandle notifyWindow_ = 0;
  std::vector<IInstallerNotify*> listeners_;
  std::recursive_mutex lock_;
  TSetupRunKind runKind_ = TSetupRunKind::Install;
  TSetupOptions options_ = 0;
  std::unique_ptr<TSetupProductInfo> productInfo_;
  std::unique_ptr<TSetupResources> resources_;
  std::unique_ptr<TSetupExtractHelper> extractHelper_;
  std::unique_ptr<TSetupJournal> journal_;
  std::vector<String> recoveryLog_;
  std::atomic<TSetupState> state_{TSetupState::Idle};
  bool cancelled_ = false;
  int handling_ = 0;  // depth of notifications being delivered
  std::unique_ptr<TSetupThread> thread_;
  TSetupMessageBox messageBox_;
  uint32_t waitLimitSeconds_ = kDefaultWaitLimitSeconds;
  std::atomic<bool> playerInUse_{false};
};

// The value of /CLOSETIMEOUT=seconds among the arguments (0 to 86400);
// kDefaultWaitLimitSeconds without the switch. EInstallerGeneralError for a
// value that is not such a number.
uint32_t ParseWaitLimit(const String& arguments);

// The one controller; set while it exists.
extern TSetup* Setup;

// The journal of the controller's run; without a controller, one that is
// idle (every change is made at once).
TSetupJournal& RunJournal();

// Appends the text to the controller's error list.
void AddSetupError(StringView text);
// Runs the call; what it raises becomes an error of the run (false then)
// and goes no further.
bool CallGuarded(const std::function<void()>& call);
