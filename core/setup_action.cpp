#include "core/setup_action.h"

#include "lib/run_log.h"

#include "core/setup.h"
#include "lib/exceptions.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/setup_helpers.h"
#include "resources/setup_resources.h"

// ---- TSetupPersistent ----

TSetupProductInfo& TSetupPersistent::ProductInfo() const {
  return Setup->ProductInfo();
}

TSetupResources& TSetupPersistent::Resources() const {
  return Setup->Resources();
}

TVelIniFile& TSetupPersistent::Settings() const {
  return Setup->Settings;
}

TSetupScript& TSetupPersistent::Script() const {
  return Setup->Resources().Script();
}

// ---- TSetupAction ----

void TSetupAction::RunAction() {
  Execute();
  SetProgress(100);
}

void TSetupAction::SetProgress(int32_t percent) {
  if (progress_.exchange(percent) == percent) return;
  if (onProgress_) onProgress_(*this);
}

void TSetupAction::SetStatus(StringView text) {
  RunLog(u"Status: " + String(text));
  Setup->SendText(NotifyStatus, text);
}

String TSetupAction::GetText(StringView section, StringView key) const {
  return Resources().GetText(section, key);
}

String TSetupAction::GetCommonText(StringView key) const {
  return GetText(kSettingsCommon, key);
}

void TSetupAction::ExtractScriptFile(const TSetupScriptFile& entry) {
  Setup->ExtractHelper().ExtractFile(entry);
}

void TSetupAction::ForceFolder(StringView path) {
  RunJournal().WillCreateFolder(String(path));
  Setup->ExtractHelper().ForceFolder(path);
}

// ---- TSetupActionList ----

int32_t TSetupActionList::AverageProgress() const {
  if (items_.empty()) return 0;
  int64_t sum = 0;
  for (const auto& action : items_) sum += action->Progress();
  return static_cast<int32_t>(sum / static_cast<int64_t>(items_.size()));
}

// ---- TVelThread ----

TVelThread::TVelThread(bool createSuspended) {
  if (!createSuspended) Start();
}

TVelThread::~TVelThread() {
  // Descendants have waited already; a thread never started stays so here,
  // since its Execute is gone.
  terminated_ = true;
  WaitFor();
}

bool TVelThread::TryStart() {
  std::lock_guard lock(startLock_);
  if (!handle_) handle_ = platform::StartThread([this] { Execute(); });
  return handle_.Valid();
}

void TVelThread::Start() {
  if (!TryStart()) platform::RaiseLastOSError();
}

bool TVelThread::Started() const {
  std::lock_guard lock(startLock_);
  return handle_.Valid();
}

void TVelThread::Terminate() {
  if (terminated_.exchange(true)) return;
  // A suspended thread runs to its end at once.
  TryStart();
}

void TVelThread::WaitFor() {
  platform::TWaitHandle handle;
  {
    std::lock_guard lock(startLock_);
    handle = handle_;
  }
  // The object may be gone when the wait returns (a notification delivered
  // meanwhile can destroy it): only the local handle is used.
  if (handle) ::WaitWithMessages(handle, platform::kInfinite);
}

void TVelThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

// ---- TSetupThread ----

TSetupThread::TSetupThread() : TVelThread(true) {}

TSetupThread::~TSetupThread() {
  // Before the actions go: the thread body uses them until its end.
  TerminateAndWait();
}

void TSetupThread::Terminate() {
  TVelThread::Terminate();
  std::lock_guard lock(lock_);
  if (currentAction_) currentAction_->Terminate();
}

void TSetupThread::PopulateActions() {
  Setup->ProductInfo().EnumActions([this](const TSetupActionClass& actionClass) {
    std::unique_ptr<TSetupAction> action = actionClass();
    action->SetOnProgress([this](TSetupAction&) { ReportProgress(); });
    actions_.Add(std::move(action));
  });
}

void TSetupThread::Execute() {
  const int errorsBefore = Setup->Errors.Count();
  try {
    PopulateActions();
    const int count = actions_.Count();
    RunLog(u"Steps: " + IntToStr(count));
    RunJournal().Begin();
    for (int i = 0; i < count && !Terminated(); ++i) {
      // The product package may still be being decoded (the wizard was
      // shown meanwhile): a step that changes files waits until it is
      // complete and verified, and a damaged package stops the run there.
      if (!actions_.Items(i).RunsBeforePackagesVerified() &&
          !Setup->Resources().WaitForPackages([this] { return Terminated(); }))
        break;
      SetCurrentAction(&actions_.Items(i));
      actions_.Items(i).RunAction();
    }
  } catch (const Exception& e) {
    AddSetupError(e.Message());
  } catch (const std::exception& e) {
    // Not one of ours (out of memory, a library's error): the run has failed
    // all the same, and an escaping error would end the process.
    AddSetupError(Utf8ToUtf16(e.what()));
  }
  EndJournal(Terminated() || Setup->Errors.Count() > errorsBefore);
  Setup->SendCode(NotifyFinished, Terminated() ? 1 : 0);
}

void TSetupThread::EndJournal(bool failed) {
  TSetupJournal& journal = RunJournal();
  try {
    if (!failed) {
      journal.Commit();
      return;
    }
    if (!journal.HasChanges()) {
      journal.Rollback();
      return;
    }
    const String status = Setup->Resources().GetText(kSettingsCommon, u"A10");
    RunLog(u"Status: " + status);
    Setup->SendText(NotifyStatus, status);
    if (!journal.Rollback())
      AddSetupError(u"Not everything could be restored; the log names what was left and where "
                    u"its old content is.");
  } catch (const Exception& e) {
    AddSetupError(e.Message());
  } catch (const std::exception& e) {
    AddSetupError(Utf8ToUtf16(e.what()));
  }
}

void TSetupThread::SetCurrentAction(TSetupAction* action) {
  {
    std::lock_guard lock(lock_);
    currentAction_ = action;
  }
  if (action) ReportProgress();
}

void TSetupThread::ReportProgress() {
  const int32_t progress = currentAction_ ? currentAction_->Progress() : 0;
  const uint32_t current = static_cast<uint32_t>(progress) & 0xFFFF;
  const uint32_t total = static_cast<uint32_t>(actions_.AverageProgress()) & 0xFFFF;
  Setup->SendCode(NotifyProgress, (total << 16) | current);
  Setup->SendCode(NotifyProgressTick, 0);
}
