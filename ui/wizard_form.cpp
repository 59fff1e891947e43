#include "ui/wizard_form.h"

#include <exception>

#include "core/setup_action.h"
#include "lib/exceptions.h"

// ---- TSetupPageList ----

void TSetupPageList::AddPage(const TSetupPageClassInfo& pageClass) {
  pages_.push_back(pageClass.Create());
}

TSetupCustomPage* TSetupPageList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return pages_[static_cast<size_t>(index)].get();
}

int TSetupPageList::IndexOf(const TSetupCustomPage* page) const {
  for (int i = 0; i < Count(); ++i)
    if (pages_[static_cast<size_t>(i)].get() == page) return i;
  return -1;
}

TSetupCustomPage* TSetupPageList::NextPage(const TSetupCustomPage* page) const {
  for (int i = IndexOf(page) + 1; i < Count(); ++i)
    if (Items(i)->IsApplicable()) return Items(i);
  return nullptr;
}

TSetupCustomPage* TSetupPageList::PrevPage(const TSetupCustomPage* page) const {
  for (int i = IndexOf(page) - 1; i >= 0; --i)
    if (Items(i)->IsApplicable()) return Items(i);
  return nullptr;
}

bool TSetupPageList::HasNext(TSetupCustomPage* page) const {
  return page && page->CanGoNext() && NextPage(page);
}

bool TSetupPageList::HasPrev(TSetupCustomPage* page) const {
  return page && page->CanGoBack() && PrevPage(page);
}

void TSetupPageList::Clear() {
  // Last to first: the progress page leaves the listeners before the pages
  // created before it.
  while (!pages_.empty()) pages_.pop_back();
}

// ---- TTaskbarProgress ----

bool TTaskbarProgress::SetProgress(int value, int maximum) {
  if (value == value_ && maximum == maximum_) return false;
  value_ = value;
  maximum_ = maximum;
  window_.SetTaskbarProgress(value_, maximum_, state_);
  return true;
}

void TTaskbarProgress::SetState(TTaskbarState state) {
  if (state == state_) return;
  state_ = state;
  if (maximum_ >= 0) window_.SetTaskbarProgress(value_, maximum_, state_);
}

// ---- TWizardForm ----

TWizardForm::TWizardForm(IWizardWindow& window) : window_(window), taskbar_(window) {
  Setup->AddListener(this);
  try {
    CreatePages();
    LoadTexts();
    UpdateButtons();
    SetActivePage(pages_.First());
  } catch (...) {
    Setup->RemoveListener(this);
    pages_.Clear();
    throw;
  }
}

TWizardForm::~TWizardForm() {
  Setup->Finish();
  Setup->RemoveListener(this);
  pages_.Clear();
}

void TWizardForm::CreatePages() {
  RegisterStandardPageClasses();
  if (!Setup->IsOptionSet(TSetupOption::Auto))
    Setup->ProductInfo().EnumPages([this](TSetupPageClass pageClass) {
      if (pageClass && pageClass->Create) pages_.AddPage(*pageClass);
    });
  if (Setup->RunKind() == TSetupRunKind::Uninstall) {
    pages_.AddPage(SetupPageUninstall);
    pages_.AddPage(SetupPageUninstallFinish);
  } else {
    pages_.AddPage(SetupPageInstall);
    pages_.AddPage(SetupPageFinish);
  }
}

void TWizardForm::LoadTexts() {
  TSetupResources& resources = Setup->Resources();
  window_.SetCaption(resources.GetText(kSettingsCommon, u"Caption"));
  window_.SetBackCaption(resources.GetText(kSettingsCommon, u"bBack"));
  window_.SetNextCaption(resources.GetText(kSettingsCommon, u"bNext"));
  window_.SetVersionText(Setup->ProductInfo().GetProductVersionInfo());
}

void TWizardForm::UpdateButtons() {
  backVisible_ = pages_.HasPrev(activePage_);
  window_.SetBackVisible(backVisible_);
  nextEnabled_ = pages_.HasNext(activePage_) || (activePage_ && activePage_ == pages_.Last());
  window_.SetNextEnabled(nextEnabled_);
  const TSetupCustomPage* next = pages_.NextPage(activePage_);
  if (!next)
    nextKey_ = u"bFinish";
  else if (dynamic_cast<const TSetupPageUninstall*>(next))
    nextKey_ = u"bUninstall";
  else if (dynamic_cast<const TSetupPageInstall*>(next))
    nextKey_ = u"bInstall";
  else
    nextKey_ = u"bNext";
  window_.SetNextCaption(Setup->Resources().GetText(kSettingsCommon, nextKey_));
  if (Setup->State() == TSetupState::Done) {
    if (Setup->HasErrors()) taskbar_.SetState(TTaskbarState::Error);
    window_.DisableCloseCommand();
  }
}

void TWizardForm::SetActivePage(TSetupCustomPage* page) {
  if (page == activePage_) return;
  TSetupCustomPage* previous = activePage_;
  if (activePage_) {
    window_.HidePage(*activePage_);
    activePage_ = nullptr;
  }
  if (page) {
    activePage_ = page;
    try {
      page->Prepare();
    } catch (...) {
      // The page cannot be shown: the wizard stays where it was.
      activePage_ = nullptr;
      if (previous) SetActivePage(previous);
      throw;
    }
    // Pages are laid out at 96 DPI; the window scales them.
    window_.ShowPage(*page, TWizardLayout(96).Page(page->IsFullScreen()));
    page->Shown();
  }
  UpdateButtons();
  window_.FocusNextWhenNoFocus();
  if (activePage_) window_.AnnouncePage(*activePage_);
  UpdateTaskbarProgress();
}

void TWizardForm::UpdateTaskbarProgress() {
  const int index = pages_.IndexOf(activePage_);
  const int value = activePage_ ? index * 100 + activePage_->GetProgress() : 0;
  const int maximum = (pages_.Count() - 1) * 100;
  if (taskbar_.SetProgress(value, maximum)) window_.Repaint();
}

void TWizardForm::bNextClick() {
  if (pages_.HasNext(activePage_))
    SetActivePage(pages_.NextPage(activePage_));
  else if (activePage_ && activePage_ == pages_.Last())
    window_.Close();
}

void TWizardForm::bBackClick() {
  if (pages_.HasPrev(activePage_)) SetActivePage(pages_.PrevPage(activePage_));
}

bool TWizardForm::FormCloseQuery() {
  if (Setup->State() == TSetupState::Done || closeConfirmed_) return true;
  // A second close while the question is open or the stop is under way.
  if (asking_ || closePending_) return false;
  asking_ = true;
  const int answer = window_.Ask(Setup->Resources().GetText(kSettingsCommon, u"QM"),
                                 window_.Caption(), kMbOkCancel | kMbIconQuestion | kMbDefButton2);
  asking_ = false;
  if (answer != kIdOk) return false;
  if (Setup->Delivering()) {
    // Inside a notification of the worker, which waits for this handler: the
    // stop completes once the handler has returned.
    if (Setup->Thread()) Setup->Thread()->Terminate();
    closePending_ = true;
    window_.Defer([this] { CompleteClose(); });
    return false;
  }
  Setup->FreeThread();
  return true;
}

void TWizardForm::CompleteClose() {
  if (Setup->Delivering()) {
    window_.Defer([this] { CompleteClose(); });
    return;
  }
  Setup->FreeThread();
  closePending_ = false;
  // The user has agreed already: no second question.
  closeConfirmed_ = true;
  window_.Close();
}

void TWizardForm::Notify(uint32_t code, uintptr_t param) {
  GuardWizardReaction([&] {
    switch (code) {
      case NotifyFinished:
        if (Setup->IsOptionSet(TSetupOption::Auto) && !Setup->HasErrors())
          window_.Close();
        else
          bNextClick();
        break;
      case NotifyPageState:
        UpdateButtons();
        break;
      case NotifyProgressTick:
        UpdateTaskbarProgress();
        break;
      default:
        break;
    }
  });
}
