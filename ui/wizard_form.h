// The wizard's main window, free of any toolkit: the run's pages, moving
// between them, the buttons' states, the reactions to the controller's
// notifications, the close question and the taskbar progress. A binding
// (ui/win32) supplies the window through IWizardWindow.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/setup.h"
#include "resources/setup_message_box.h"
#include "ui/setup_pages.h"
#include "ui/wizard_layout.h"

enum class TTaskbarState : uint8_t { Normal, Paused, Error };

// What the form needs of its window.
class IWizardWindow {
 public:
  virtual ~IWizardWindow() = default;
  virtual void SetCaption(const String& text) = 0;
  virtual String Caption() const = 0;
  virtual void SetBackCaption(const String& text) = 0;
  virtual void SetNextCaption(const String& text) = 0;
  virtual void SetVersionText(const String& text) = 0;
  virtual void SetBackVisible(bool visible) = 0;
  virtual void SetNextEnabled(bool enabled) = 0;
  // Parents the page to the window at the rectangle (96 DPI) and shows it.
  virtual void ShowPage(TSetupCustomPage& page, const TWizardRect& bounds) = 0;
  virtual void HidePage(TSetupCustomPage& page) = 0;
  // Gives Next the focus when no control of the window has it.
  virtual void FocusNextWhenNoFocus() = 0;
  // Tells assistive technology that the page is shown, once the focus is
  // settled: its caption (page.Caption()) and, on a finish page, the
  // control that states the run's result (page.Result()) are announced.
  virtual void AnnouncePage(TSetupCustomPage& page) = 0;
  // Disables the Close command of the system menu.
  virtual void DisableCloseCommand() = 0;
  // Closes the window (the close question still runs) and ends the loop.
  virtual void Close() = 0;
  // A modal question owned by the window; the answer as MessageBoxW's.
  virtual int Ask(const String& text, const String& caption, uint32_t flags) = 0;
  virtual void SetTaskbarProgress(int value, int maximum, TTaskbarState state) = 0;
  virtual void Repaint() = 0;
  // Runs the call once the message being handled now has returned.
  virtual void Defer(std::function<void()> call) = 0;
};

// The owning, ordered list of the run's pages.
class TSetupPageList {
 public:
  void AddPage(const TSetupPageClassInfo& pageClass);
  int Count() const { return static_cast<int>(pages_.size()); }
  TSetupCustomPage* Items(int index) const;
  // -1 when the page is not in the list.
  int IndexOf(const TSetupCustomPage* page) const;
  TSetupCustomPage* First() const { return Items(0); }
  TSetupCustomPage* Last() const { return Items(Count() - 1); }
  // The first applicable page after (before) the page; from the start when
  // the page is not in the list; null when there is none.
  TSetupCustomPage* NextPage(const TSetupCustomPage* page) const;
  TSetupCustomPage* PrevPage(const TSetupCustomPage* page) const;
  bool HasNext(TSetupCustomPage* page) const;
  bool HasPrev(TSetupCustomPage* page) const;
  void Clear();

 private:
  std::vector<std::unique_ptr<TSetupCustomPage>> pages_;
};

// Passes value, maximum and state on only when they changed.
class TTaskbarProgress {
 public:
  explicit TTaskbarProgress(IWizardWindow& window) : window_(window) {}
  // True when the pair differed from the last one.
  bool SetProgress(int value, int maximum);
  void SetState(TTaskbarState state);
  TTaskbarState State() const { return state_; }

 private:
  IWizardWindow& window_;
  int value_ = -1;
  int maximum_ = -1;
  TTaskbarState state_ = TTaskbarState::Normal;
};

class TWizardForm : public IInstallerNotify {
 public:
  // Builds the pages and shows the first one. Raises what page creation
  // raises (the form is then not constructed).
  explicit TWizardForm(IWizardWindow& window);
  TWizardForm(const TWizardForm&) = delete;
  TWizardForm& operator=(const TWizardForm&) = delete;
  // Asks the controller to start the chosen programs, then frees the pages.
  ~TWizardForm() override;

  void bNextClick();
  void bBackClick();
  // Whether the window may close now; stops the worker when the user agrees.
  bool FormCloseQuery();
  void Notify(uint32_t code, uintptr_t param) override;

  TSetupCustomPage* ActivePage() const { return activePage_; }
  const TSetupPageList& Pages() const { return pages_; }
  const TWizardLayout& Layout() const { return layout_; }
  // The caption key of Next now ("bNext", "bInstall", "bUninstall", "bFinish").
  const char16_t* NextCaptionKey() const { return nextKey_; }
  bool BackVisible() const { return backVisible_; }
  bool NextEnabled() const { return nextEnabled_; }
  // True once a confirmed close waits for the notification being handled.
  bool ClosePending() const { return closePending_; }

 private:
  void CreatePages();
  void LoadTexts();
  void UpdateButtons();
  void SetActivePage(TSetupCustomPage* page);
  void UpdateTaskbarProgress();
  void CompleteClose();
  // Runs a reaction; an error in it joins the run's errors and stops the run.
  void Guarded(const std::function<void()>& reaction);

  IWizardWindow& window_;
  TSetupCustomPage* activePage_ = nullptr;
  TSetupPageList pages_;
  TTaskbarProgress taskbar_;
  TWizardLayout layout_;
  const char16_t* nextKey_ = u"bNext";
  bool backVisible_ = false;
  bool nextEnabled_ = false;
  bool closePending_ = false;
  bool asking_ = false;
  bool closeConfirmed_ = false;
};
