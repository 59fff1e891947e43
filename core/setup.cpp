#include "core/setup.h"

#include <exception>

#include "core/dest_folder.h"
#include "core/setup_action.h"
#include "lib/command_line.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/spawn_service.h"
#include "resources/installer_errors.h"

TSetup* Setup = nullptr;

namespace {

// The message of a call to run on the main thread: lParam is the address of
// a TSynchronizedCall.
constexpr uint32_t kWmSynchronize = platform::kWmUser + 1;

struct TSynchronizedCall {
  const std::function<void()>* call;
  std::exception_ptr error;
};

constexpr TSetupOptions kAutoAndSilent =
    OptionBit(TSetupOption::Auto) | OptionBit(TSetupOption::Silent);
constexpr TSetupOptions kAutoUpdateRun =
    OptionBit(TSetupOption::Auto) | OptionBit(TSetupOption::Update) | OptionBit(TSetupOption::Run);

bool HasSwitch(const String& arguments, StringView name) {
  return TVelCommandLineProcessor::HasSwitch(arguments, name);
}

bool StartsWithFolder(StringView path, StringView folder) {
  return !folder.empty() && path.size() >= folder.size() &&
         SameTextLocale(path.substr(0, folder.size()), folder);
}

}  // namespace

TSetup::TSetup(const String& arguments) {
  Setup = this;
  try {
    const TSetupProductInfoClass productClass = ProductInfoClass();
    if (!productClass) throw EInstallerGeneralError(u"Setup is malformed");
    productInfo_ = productClass();
    MakeResources();
    RecoverInterruptedRun();
    notifyWindow_ = platform::CreateMessageWindow(
        u"TSetup", [this](platform::WindowHandle window, uint32_t msg, uintptr_t wParam,
                          intptr_t lParam) { return WindowProc(window, msg, wParam, lParam); });
    if (!notifyWindow_) platform::RaiseLastOSError();
    ParseCommandLine(arguments);
    waitLimitSeconds_ = ParseWaitLimit(arguments);
  } catch (...) {
    Release();
    throw;
  }
}

TSetup::~TSetup() {
  thread_.reset();
  Release();
}

void TSetup::MakeResources() {
  extractHelper_.reset();
  resources_.reset();
  resources_ = std::make_unique<TSetupResources>(*this);
  extractHelper_ = std::make_unique<TSetupExtractHelper>(*resources_);
  extractHelper_->SetMessageBox(
      [this](const String& text, const String& caption, uint32_t flags) {
        return ShowMessageBox(text, caption, flags);
      });
}

void TSetup::RecoverInterruptedRun() {
  const String folder = TSetupJournal::FolderFor(productInfo_->GetProductName());
  journal_ = std::make_unique<TSetupJournal>(folder);
  // The log is not open yet: its lines are kept for it.
  const bool logged = RunLogEnabled();
  if (!logged) SetRunLogSink([this](StringView line) { recoveryLog_.emplace_back(line); });
  bool recovered = false;
  try {
    recovered = TSetupJournal::Recover(folder);
  } catch (...) {
    if (!logged) SetRunLogSink(nullptr);
    throw;
  }
  if (!logged) SetRunLogSink(nullptr);
  // What the resources read at the destination (an uninstallation's
  // record) may have been restored: read again.
  if (recovered) MakeResources();
}

void TSetup::Release() {
  if (notifyWindow_) platform::DestroyMessageWindow(notifyWindow_);
  notifyWindow_ = 0;
  if (Setup == this) Setup = nullptr;
}

void TSetup::ParseCommandLine(const String& arguments) {
  if (resources_->ProductHas(u"Uninstall.ini")) {
    runKind_ = TSetupRunKind::Uninstall;
    options_ = 0;
    if (HasSwitch(arguments, kSwitchAuto)) {
      options_ |= OptionBit(TSetupOption::Auto);
      if (HasSwitch(arguments, kSwitchSilent)) options_ |= OptionBit(TSetupOption::Silent);
    }
    return;
  }
  runKind_ = TSetupRunKind::Install;
  String destination;
  if (!TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchAuto, destination)) {
    options_ = OptionBit(TSetupOption::Update);
    SetDestPath(productInfo_->GetDefaultPath());
    return;
  }
  options_ = OptionBit(TSetupOption::Auto);
  // Text left after the folder (a stray quote, a blank that was meant to be
  // part of it) makes a second value: which folder was meant is unknown.
  for (const auto& command : TVelCommandLineProcessor::Parse(arguments)) {
    if (!SameTextLocale(command.Name, kSwitchAuto)) continue;
    if (command.Values.Count() > 1)
      throw EInstallerInstallError(u"The destination folder \"" + destination +
                                   u"\" cannot be used: it is written as several values; put "
                                   u"the whole folder in quotes.");
    break;
  }
  if (!destination.empty()) CheckDestFolder(destination);
  SetDestPath(destination.empty() ? productInfo_->GetDefaultPath() : destination);
  if (HasSwitch(arguments, kSwitchNoBackup)) options_ |= OptionBit(TSetupOption::NoBackup);
  if (HasSwitch(arguments, kSwitchRun)) options_ |= OptionBit(TSetupOption::Run);
  if (HasSwitch(arguments, kSwitchUpdate)) {
    if (!productInfo_->CanUpdate())
      throw EInstallerUpdateError(
          Format(u"Cannot install update on v%s", {productInfo_->GetInstalledVersionText()}));
    return;
  }
  if (HasSwitch(arguments, kSwitchPortable)) options_ |= OptionBit(TSetupOption::Portable);
  if (HasSwitch(arguments, kSwitchSilent)) options_ |= OptionBit(TSetupOption::Silent);
  // A destination in a program-files folder never keeps Portable, also not
  // from the switch.
  ValidateOptions();
}

void TSetup::SetDestPath(const String& path) {
  if (path == destPath_) return;
  // A path that cannot be the destination is kept as given, for
  // StartInstall to refuse.
  String normal = DestPathProblem(path).empty() ? NormalizeDestPath(path) : path;
  if (normal.find(u'~') != String::npos) {
    String longPath;
    if (platform::LongPathName(normal, longPath)) normal = IncludeTrailingBackslash(longPath);
  }
  destPath_ = normal;
  productInfo_->LoadConfig();
  if (productInfo_->CanUpdate())
    options_ |= OptionBit(TSetupOption::Update);
  else
    options_ &= static_cast<TSetupOptions>(~OptionBit(TSetupOption::Update));
  if ((options_ & OptionBit(TSetupOption::Update)) && productInfo_->IsPortable())
    options_ |= OptionBit(TSetupOption::Portable);
  ValidateOptions();
}

bool TSetup::IsOptionSet(int index) const {
  if (index < 0 || index > 7) return false;
  return (options_ >> index) & 1;
}

void TSetup::SetOption(int index, bool enabled) {
  TSetupOptions options = options_;
  if (index >= 0 && index <= 7) {
    const auto bit = static_cast<TSetupOptions>(1u << index);
    options = enabled ? static_cast<TSetupOptions>(options | bit)
                      : static_cast<TSetupOptions>(options & ~bit);
  }
  SetOptions(options);
}

void TSetup::SetOptions(TSetupOptions options) {
  if (options == options_) return;
  if ((options ^ options_) & kAutoAndSilent) throw EInstallerMysteryError(u"Invalid Arguments");
  options_ = options;
  ValidateOptions();
}

void TSetup::ValidateOptions() {
  if ((options_ & OptionBit(TSetupOption::Update)) && !productInfo_->CanUpdate())
    options_ &= static_cast<TSetupOptions>(~OptionBit(TSetupOption::Update));
  if ((options_ & OptionBit(TSetupOption::Portable)) && IsDestInProgramFiles())
    options_ &= static_cast<TSetupOptions>(~OptionBit(TSetupOption::Portable));
}

bool TSetup::IsDestInProgramFiles() {
  return StartsWithFolder(destPath_, resources_->ProgramFilesDir()) ||
         StartsWithFolder(destPath_, resources_->ProgramFilesX86Dir());
}

void TSetup::AddListener(IInstallerNotify* listener) {
  std::lock_guard lock(lock_);
  listeners_.push_back(listener);
}

void TSetup::RemoveListener(IInstallerNotify* listener) {
  std::lock_guard lock(lock_);
  for (auto it = listeners_.begin(); it != listeners_.end(); ++it)
    if (*it == listener) {
      listeners_.erase(it);
      return;
    }
}

void TSetup::SendCode(uint32_t code, uintptr_t param) {
  platform::Send(notifyWindow_, platform::kWmUser, code, static_cast<intptr_t>(param));
}

void TSetup::SendText(uint32_t code, StringView text) {
  platform::SendCopyData(notifyWindow_, notifyWindow_, code, text.data(),
                         static_cast<uint32_t>(text.size() * sizeof(char16_t)));
}

intptr_t TSetup::WindowProc(platform::WindowHandle window, uint32_t msg, uintptr_t wParam,
                            intptr_t lParam) {
  if (msg == platform::kWmUser) {
    ++handling_;
    BroadcastGuarded(static_cast<uint32_t>(wParam), static_cast<uintptr_t>(lParam));
    --handling_;
    return 0;
  }
  if (msg == kWmSynchronize) {
    auto* synchronized = reinterpret_cast<TSynchronizedCall*>(lParam);
    try {
      (*synchronized->call)();
    } catch (...) {
      synchronized->error = std::current_exception();
    }
    return 1;
  }
  if (msg == platform::kWmCopyData) {
    if (lParam == 0 || wParam != window) return 0;
    const auto* data = reinterpret_cast<const platform::TCopyData*>(lParam);
    String text(static_cast<const char16_t*>(data->lpData), data->cbData / 2);
    ++handling_;
    BroadcastGuarded(static_cast<uint32_t>(data->dwData), reinterpret_cast<uintptr_t>(&text));
    --handling_;
    return 0;
  }
  return platform::DefaultHandler(window, msg, wParam, lParam);
}

void TSetup::Broadcast(uint32_t code, uintptr_t param) {
  std::lock_guard lock(lock_);
  if (code == NotifyFinished) {
    state_ = TSetupState::Done;
    if (param != 0) {
      cancelled_ = true;
      AddSetupError(resources_->GetText(kSettingsCommon, u"E4"));
    }
  }
  // From the last registered to the first; a listener may remove listeners.
  for (size_t i = listeners_.size(); i > 0; --i)
    if (i <= listeners_.size()) listeners_[i - 1]->Notify(code, param);
}

void TSetup::BroadcastGuarded(uint32_t code, uintptr_t param) {
  // A listener's error becomes an error of the run; it never crosses into
  // the system's message dispatch.
  CallGuarded([&] { Broadcast(code, param); });
}

void TSetup::Synchronize(const std::function<void()>& call) {
  TSynchronizedCall synchronized{&call, nullptr};
  // Sent to the window of the main thread: from the main thread itself the
  // handler runs at once.
  if (!platform::Send(notifyWindow_, kWmSynchronize, 0, reinterpret_cast<intptr_t>(&synchronized)))
    platform::RaiseLastOSError();
  if (synchronized.error) std::rethrow_exception(synchronized.error);
}

int TSetup::ShowMessageBox(const String& text, const String& caption, uint32_t flags) {
  int answer = 0;
  Synchronize([&] {
    if (messageBox_) answer = messageBox_(text, caption, flags);
  });
  return answer;
}

void TSetup::StartInstall(bool wait) {
  if (state_ != TSetupState::Idle) return;
  if (destPath_.empty()) throw EInstallerInstallError(u"DestPath is empty");
  CheckDestFolder(destPath_);
  ValidateOptions();
  state_ = TSetupState::Running;
  try {
    thread_ = std::make_unique<TSetupThread>();
    thread_->Start();
  } catch (...) {
    thread_.reset();
    state_ = TSetupState::Idle;
    throw;
  }
  if (wait) thread_->WaitFor();
}

void TSetup::FreeThread() {
  std::unique_ptr<TSetupThread> thread = std::move(thread_);
  if (!thread) return;
  // Called inside a notification, the worker waits for this one to be
  // answered: answer it now so that it can run to its end.
  if (handling_ > 0) platform::ReplyToSentMessage(0);
  thread.reset();
}

void TSetup::Finish() {
  if (HasErrors() || runKind_ != TSetupRunKind::Install) return;
  const TSetupScriptGroup& actions = resources_->Script().Actions;
  for (int i = 0; i < actions.Count(); ++i) {
    const TSetupScriptFile& entry = actions.Items(i);
    if (ReadSetting(kSettingsActions, entry.Name))
      TSetupSpawnService::Spawn(resources_->ExpandPath(entry.Name));
  }
}

bool TSetup::SettingDefault(StringView section, StringView key) const {
  if (SameTextLocale(section, kSettingsActions))
    return (options_ & kAutoUpdateRun) == kAutoUpdateRun;
  if (SameTextLocale(section, kSettingsIntegration)) {
    if (SameTextLocale(key, u"ShortcutDesktop") || SameTextLocale(key, u"ShortcutStartMenu"))
      return !IsOptionSet(TSetupOption::Portable);
    return SameTextLocale(key, u"IntegrateToWindows") ||
           SameTextLocale(key, u"RegisterContextMenu") ||
           SameTextLocale(key, u"AssociateWithFiles");
  }
  if (SameTextLocale(section, kSettingsCommon) && SameTextLocale(key, u"RemoveBackups"))
    return IsOptionSet(TSetupOption::Auto);
  return false;
}

bool TSetup::ReadSetting(StringView section, StringView key) const {
  return Settings.ReadBool(section, key, SettingDefault(section, key));
}

String TSetup::ProductHomePage() {
  return productInfo_->GetHomePage();
}

String TSetup::ProductName() {
  return productInfo_->GetProductName();
}

String TSetup::ProductVersionText() {
  return productInfo_->GetProductVersionInfo();
}

bool CallGuarded(const std::function<void()>& call) {
  try {
    call();
    return true;
  } catch (const Exception& e) {
    AddSetupError(e.Message());
  } catch (const std::exception& e) {
    AddSetupError(Utf8ToUtf16(e.what()));
  } catch (...) {
    AddSetupError(u"Unknown error");
  }
  return false;
}

TSetupJournal& RunJournal() {
  static TSetupJournal idle{String()};
  return Setup ? Setup->Journal() : idle;
}

void AddSetupError(StringView text) {
  RunLog(u"Error: " + String(text));
  if (Setup) Setup->Errors.Add(text);
}

uint32_t ParseWaitLimit(const String& arguments) {
  String value;
  if (!TVelCommandLineProcessor::GetSwitchValue(arguments, kSwitchCloseTimeout, value))
    return kDefaultWaitLimitSeconds;
  constexpr int32_t kMaxSeconds = 86400;
  int32_t seconds = 0;
  if (!TryStrToInt(Trim(value), seconds) || seconds < 0 || seconds > kMaxSeconds)
    throw EInstallerGeneralError(u"/" + String(kSwitchCloseTimeout) + u"=" + value +
                                 u": the value must be a number of seconds from 0 to 86400.");
  return static_cast<uint32_t>(seconds);
}
