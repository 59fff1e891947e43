// Actions (the steps of an installation) and the worker thread that creates
// them from the product description and runs them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "lib/ini_file.h"
#include "lib/strings.h"
#include "platform/handles.h"

class TSetupProductInfo;
class TSetupResources;
class TSetupScript;
class TSetupScriptFile;
class TSetupSummaryBuilder;

// The base of actions and update tasks: access to the controller's objects.
class TSetupPersistent {
 public:
  virtual ~TSetupPersistent() = default;

  TSetupProductInfo& ProductInfo() const;
  TSetupResources& Resources() const;
  TVelIniFile& Settings() const;
  TSetupScript& Script() const;
};

class TSetupAction : public TSetupPersistent {
 public:
  using TProgressEvent = std::function<void(TSetupAction&)>;

  TSetupAction() = default;
  TSetupAction(const TSetupAction&) = delete;
  TSetupAction& operator=(const TSetupAction&) = delete;

  // The step's work.
  virtual void Execute() = 0;
  // Adds the action's lines to the summary of the ready-to-install page.
  virtual void AddSummary(TSetupSummaryBuilder& builder) {}
  // Called (on the cancelling thread) when the run is cancelled while this
  // action is current.
  virtual void Terminate() {}
  // Whether the step may start while the product package is still being
  // decoded: one that changes nothing on disk, or that waits for the
  // package itself (TSetupResources::WaitForPackages) before it does.
  virtual bool RunsBeforePackagesVerified() const { return false; }

  // Execute, then SetProgress(100).
  void RunAction();
  // Stores the percent and calls OnProgress when it changed.
  void SetProgress(int32_t percent);
  int32_t Progress() const { return progress_; }
  void SetOnProgress(TProgressEvent onProgress) { onProgress_ = std::move(onProgress); }
  // Sends the text to the listeners as NotifyStatus.
  void SetStatus(StringView text);
  // The language text, path variables expanded.
  String GetText(StringView section, StringView key) const;
  String GetCommonText(StringView key) const;
  // Extracts one entry of the setup script to its target.
  void ExtractScriptFile(const TSetupScriptFile& entry);
  // Creates the folder and its parents.
  void ForceFolder(StringView path);

 private:
  std::atomic<int32_t> progress_{0};
  TProgressEvent onProgress_;
};

// The actions of a run, in execution order; owns them.
class TSetupActionList {
 public:
  void Add(std::unique_ptr<TSetupAction> action) { items_.push_back(std::move(action)); }
  int Count() const { return static_cast<int>(items_.size()); }
  TSetupAction& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }
  // The mean of the actions' progress (integer division); 0 when empty.
  int32_t AverageProgress() const;

 private:
  std::vector<std::unique_ptr<TSetupAction>> items_;
};

// A thread object: created suspended or running; Terminate marks it
// terminated (and resumes it when suspended). Descendants end their
// destructor's work with TerminateAndWait before their members go.
class TVelThread {
 public:
  explicit TVelThread(bool createSuspended);
  TVelThread(const TVelThread&) = delete;
  TVelThread& operator=(const TVelThread&) = delete;
  virtual ~TVelThread();

  // Starts a suspended thread; raises EOSError when no thread can be made.
  void Start();
  virtual void Terminate();
  bool Terminated() const { return terminated_; }
  bool Started() const;
  // Waits until the thread has ended; on the main thread messages sent to it
  // are delivered meanwhile.
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  void TerminateAndWait();

 private:
  bool TryStart();

  std::atomic<bool> terminated_{false};
  mutable std::mutex startLock_;
  platform::TWaitHandle handle_;
};

class TSetupThread : public TVelThread {
 public:
  TSetupThread();
  ~TSetupThread() override;

  // Marks the thread terminated and tells the current action. The current
  // action is not interrupted: the thread stops before the next one.
  void Terminate() override;

  const TSetupActionList& Actions() const { return actions_; }

 protected:
  void Execute() override;
  // Creates the actions of the product description's EnumActions.
  virtual void PopulateActions();
  void SetCurrentAction(TSetupAction* action);
  // Sends NotifyProgress (total << 16 | current) and NotifyProgressTick.
  void ReportProgress();
  // A run that succeeded keeps its changes; one that failed or was
  // cancelled has them undone ("Restoring the previous installation...").
  void EndJournal(bool failed);

 private:
  TSetupActionList actions_;
  TSetupAction* currentAction_ = nullptr;
  std::mutex lock_;
};
