// The wizard's flow without a display: the run's pages, navigation and
// buttons, the notifications, the close question and the taskbar.
#include "wizard_test_util.h"

#include "platform/messages.h"
#include "tests/controller_test_util.h"

namespace wizard_test {

const TSetupPageClassInfo SetupPageTest{u"TSetupPageTest", &CreateSetupPage<TSetupPageTest>};

namespace {

std::vector<std::string> Names(const TSetupPageList& pages) {
  std::vector<std::string> names;
  for (int i = 0; i < pages.Count(); ++i) names.push_back(U8(pages.Items(i)->Name()));
  return names;
}

TSetupPageTest& TestPage(const TWizardForm& form) {
  for (int i = 0; i < form.Pages().Count(); ++i)
    if (auto* page = dynamic_cast<TSetupPageTest*>(form.Pages().Items(i))) return *page;
  throw Exception(u"no test page");
}

void UseInstallPages() {
  Scenario().pages = {&SetupPageWelcome, &SetupPageLicense, &SetupPageTest,
                      &SetupPageReadyToInstall};
}

TEST_F(WizardTest, ThePagesOfTheFourRunKinds) {
  struct TCase {
    bool uninstall, autoRun;
    std::vector<std::string> pages;
  } cases[] = {
      {false, false,
       {"PageWelcome", "PageLicense", "PageTest", "PageReadyToInstall", "PageInstall",
        "PageFinish"}},
      {false, true, {"PageInstall", "PageFinish"}},
      {true, false, {"PageTest", "PageUninstall", "PageUninstallFinish"}},
      {true, true, {"PageUninstall", "PageUninstallFinish"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "uninstall " << c.uninstall << " auto " << c.autoRun);
    form_.reset();
    setup_.reset();
    window_ = TTestWindow();
    UsePackages(c.uninstall);
    Scenario().pages = c.uninstall ? std::vector<TSetupPageClass>{&SetupPageTest}
                                   : std::vector<TSetupPageClass>{&SetupPageWelcome,
                                                                  &SetupPageLicense, &SetupPageTest,
                                                                  &SetupPageReadyToInstall};
    if (c.uninstall) {
      CreateSetup(c.autoRun ? u"/AUTO" : u"");
      setup_->SetDestPath(work_);
    }
    TWizardForm& form = CreateForm(c.autoRun);
    EXPECT_EQ(Names(form.Pages()), c.pages);
    // The first page whatever it says of itself, and the run of an
    // automatic one has started.
    EXPECT_EQ(form.ActivePage(), form.Pages().First());
    EXPECT_EQ(setup_->State() != TSetupState::Idle, c.autoRun);
    WaitForRun();
  }
}

TEST_F(WizardTest, TextsOfTheWindow) {
  CreateForm();
  EXPECT_EQ(U8(window_.caption), "TestApp Setup");
  EXPECT_EQ(U8(window_.backCaption), "< Back");
  EXPECT_EQ(U8(window_.versionText), "5.50, 2024-01-01");
}

// Back, Next and Next's caption on every page of an interactive installation.
TEST_F(WizardTest, NavigationOfAnInstallation) {
  UseInstallPages();
  Scenario().actions = {Action()};
  TWizardForm& form = CreateForm();
  struct TStep {
    const char* page;
    bool back, next;
    const char* caption;
  };
  auto expect = [&](const TStep& step) {
    SCOPED_TRACE(step.page);
    EXPECT_EQ(U8(Active().Name()), step.page);
    EXPECT_EQ(window_.backVisible, step.back);
    EXPECT_EQ(window_.nextEnabled, step.next);
    EXPECT_EQ(U8(window_.nextCaption), step.caption);
  };
  expect({"PageWelcome", false, true, "Next >"});
  form.bBackClick();
  expect({"PageWelcome", false, true, "Next >"});
  form.bNextClick();
  expect({"PageLicense", false, false, "Next >"});
  EXPECT_EQ(window_.pageBounds, (TWizardRect{0, 67, 640, 369}));
  form.bNextClick();  // refused: not accepted
  expect({"PageLicense", false, false, "Next >"});
  Control(u"L1").Click();
  expect({"PageLicense", false, true, "Next >"});
  Control(u"L1").Click();  // unticked: Next off again at once
  expect({"PageLicense", false, false, "Next >"});
  Control(u"L1").Click();
  form.bNextClick();
  TSetupPageTest& test = TestPage(form);
  expect({"PageTest", true, true, "Next >"});
  test.canGoNext = false;
  test.NotifyStateChanged();
  expect({"PageTest", true, false, "Next >"});
  test.canGoNext = true;
  test.NotifyStateChanged();
  form.bBackClick();
  // Back from the page after the license: the tick stays.
  expect({"PageLicense", false, true, "Next >"});
  EXPECT_TRUE(Control(u"L1").Checked());
  form.bNextClick();
  EXPECT_EQ(test.prepared, 2);  // Prepare on every visit
  form.bNextClick();
  expect({"PageReadyToInstall", true, true, "Install"});
  form.bNextClick();
  expect({"PageInstall", false, false, "Next >"});
  WaitForRun();
  expect({"PageFinish", false, true, "Finish"});
  EXPECT_EQ(window_.pageBounds, (TWizardRect{0, 0, 640, 436}));
  EXPECT_TRUE(window_.closeDisabled);
  EXPECT_FALSE(window_.closed);
  form.bNextClick();
  EXPECT_TRUE(window_.closed);
  EXPECT_TRUE(window_.questions.empty());
}

TEST_F(WizardTest, APageThatDoesNotApplyIsSkippedBothWays) {
  UseInstallPages();
  TWizardForm& form = CreateForm();
  TestPage(form).applicable = false;
  form.bNextClick();
  Control(u"L1").Click();
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageReadyToInstall");
  TestPage(form).applicable = true;
  form.bBackClick();
  EXPECT_EQ(U8(Active().Name()), "PageTest");
  TestPage(form).applicable = false;
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageReadyToInstall");
}

TEST_F(WizardTest, APageThatCannotBePreparedKeepsTheWizardWhereItWas) {
  Scenario().pages = {&SetupPageWelcome, &SetupPageTest};
  TWizardForm& form = CreateForm();
  TestPage(form).failPrepare = true;
  EXPECT_EQ(MessageOf([&] { form.bNextClick(); }), "Cannot prepare");
  EXPECT_EQ(U8(Active().Name()), "PageWelcome");
  EXPECT_EQ(U8(window_.shown.back()), "PageWelcome");
  EXPECT_TRUE(window_.nextEnabled);
  TestPage(form).failPrepare = false;
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageTest");
}

TEST_F(WizardTest, UninstallationCaptions) {
  UsePackages(true);
  Scenario().pages = {&SetupPageTest};
  CreateSetup(u"");
  setup_->SetDestPath(work_);
  TWizardForm& form = CreateForm();
  EXPECT_EQ(U8(window_.nextCaption), "Uninstall");
  EXPECT_FALSE(window_.backVisible);
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageUninstall");
  EXPECT_EQ(U8(Active().Controls()[0]->Text()), "Preparing removal...");
  WaitForRun();
  EXPECT_EQ(U8(Active().Name()), "PageUninstallFinish");
  EXPECT_EQ(U8(window_.nextCaption), "Finish");
}

// On code 1 the progress page hears first, so the form can move on.
TEST_F(WizardTest, TheEndOfTheRunMovesToTheFinishPage) {
  Scenario().actions = {Action([](TTestAction& a) { a.SetProgress(50); })};
  TWizardForm& form = CreateForm(true);
  auto* install = dynamic_cast<TSetupPageInstall*>(form.ActivePage());
  ASSERT_NE(install, nullptr);
  EXPECT_FALSE(install->Finished());
  WaitForRun();
  EXPECT_TRUE(install->Finished());
  // Automatic and without errors: the window closed itself.
  EXPECT_TRUE(window_.closed);
  EXPECT_EQ(form.ActivePage(), install);
  EXPECT_EQ(window_.taskbar.back().maximum, 100);
  EXPECT_EQ(window_.taskbar.back().value, 100);
}

TEST_F(WizardTest, AnAutomaticRunWithErrorsStaysOnTheFinishPage) {
  Scenario().actions = {Action([](TTestAction&) { throw EInstallerInstallError(u"Broken"); })};
  TWizardForm& form = CreateForm(true);
  WaitForRun();
  EXPECT_FALSE(window_.closed);
  EXPECT_EQ(U8(form.ActivePage()->Name()), "PageFinish");
  EXPECT_EQ(window_.taskbar.back().state, TTaskbarState::Error);
  EXPECT_EQ(U8(Control(u"L1").Text()), "Installation failed");
  EXPECT_EQ(Control(u"L1").Color(), 0x0000FFu);
  EXPECT_EQ(U8(Control(u"L2").Text()), "These errors occurred:");
  TPageControl* list = nullptr;
  for (const auto& c : form.ActivePage()->Controls())
    if (c->Kind() == TPageControlKind::ErrorList) list = c.get();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->Visible());
  EXPECT_EQ(U8(list->Text()), "Broken\r\n");
  EXPECT_FALSE(Control(u"CB1").Visible());
  EXPECT_FALSE(Control(u"CB2").Visible());
}

TEST_F(WizardTest, ClosingBeforeTheRunAsks) {
  UseInstallPages();
  TWizardForm& form = CreateForm();
  form.bNextClick();
  window_.answer = kIdCancel;
  window_.Close();
  EXPECT_FALSE(window_.closed);
  EXPECT_EQ(U8(Active().Name()), "PageLicense");
  ASSERT_EQ(window_.questions.size(), 1u);
  EXPECT_EQ(U8(window_.questions[0]), "Setup is not complete. Quit?");
  EXPECT_EQ(window_.questionFlags, kMbOkCancel | kMbIconQuestion | kMbDefButton2);
  window_.answer = kIdOk;
  window_.Close();
  EXPECT_TRUE(window_.closed);
  EXPECT_EQ(setup_->State(), TSetupState::Idle);
}

TEST_F(WizardTest, ClosingDuringTheRunStopsIt) {
  int second = 0;
  Scenario().actions = {Action([](TTestAction& a) { a.SetProgress(30); }),
                        Action([&](TTestAction&) { ++second; })};
  TWizardForm& form = CreateForm(true);
  window_.answer = kIdOk;
  // The close arrives between two notifications (not inside one).
  window_.Close();
  EXPECT_TRUE(window_.closed);
  EXPECT_EQ(setup_->State(), TSetupState::Done);
  EXPECT_TRUE(setup_->Cancelled());
  EXPECT_EQ(U8(setup_->Errors.Text()), "Installation was cancelled by the user\r\n");
  EXPECT_EQ(second, 0);
  EXPECT_EQ(U8(form.ActivePage()->Name()), "PageFinish");
}

// A close taken from the queue while the progress page pumps inside a
// notification: the worker waits for that handler, so the stop completes
// after it has returned.
TEST_F(WizardTest, ClosingInsideANotificationCompletesAfterIt) {
  int second = 0;
  Scenario().actions = {Action([](TTestAction& a) { a.SetProgress(30); }),
                        Action([&](TTestAction&) { ++second; })};
  window_.answer = kIdOk;
  bool asked = false;
  onPump_ = [&] {
    if (asked) return;
    asked = true;
    EXPECT_TRUE(setup_->Delivering());
    window_.Close();
    EXPECT_FALSE(window_.closed);
    EXPECT_TRUE(form_->ClosePending());
    EXPECT_TRUE(setup_->Thread()->Terminated());
  };
  CreateForm(true);
  while (!asked) platform::ProcessMessages();
  window_.Close();  // a second close while the stop is pending asks nothing
  EXPECT_EQ(window_.questions.size(), 1u);
  window_.RunDeferred();
  EXPECT_TRUE(window_.closed);
  EXPECT_TRUE(setup_->Cancelled());
  EXPECT_EQ(second, 0);
  EXPECT_EQ(window_.questions.size(), 1u);
}

TEST_F(WizardTest, AnErrorInANotificationHandlerEndsTheRunCleanly) {
  int second = 0;
  Scenario().actions = {Action([](TTestAction& a) { a.SetProgress(30); }),
                        Action([&](TTestAction&) { ++second; })};
  onPump_ = [] { throw EInstallerInstallError(u"Handler failed"); };
  TWizardForm& form = CreateForm(true);
  WaitForRun();
  EXPECT_EQ(second, 0);
  EXPECT_EQ(U8(setup_->Errors.Strings(0)), "Handler failed");
  EXPECT_EQ(U8(form.ActivePage()->Name()), "PageFinish");
  EXPECT_FALSE(window_.closed);
}

TEST_F(WizardTest, ProgressNotifications) {
  TWizardForm& form = CreateForm(true);
  EXPECT_EQ(U8(Active().Controls()[0]->Text()), "Preparing...");
  auto* page = dynamic_cast<TSetupPageInstall*>(form.ActivePage());
  ASSERT_NE(page, nullptr);
  WaitForRun();
  const int before = pumps_;
  setup_->Broadcast(NotifyProgress, (40u << 16) | 70u);
  setup_->Broadcast(NotifyProgress, (40u << 16) | 70u);
  EXPECT_EQ(pumps_, before + 1);
  EXPECT_EQ(page->GetProgress(), 40);
  String status = u"Copying";
  setup_->Broadcast(NotifyStatus, reinterpret_cast<uintptr_t>(&status));
  EXPECT_EQ(pumps_, before + 2);
  TPageControl* label = page->Controls()[0].get();
  EXPECT_EQ(U8(label->Text()), "Copying");
  EXPECT_EQ(page->Controls()[1]->Position(), 70);
  EXPECT_EQ(page->Controls()[2]->Position(), 40);
}

TEST_F(WizardTest, TaskbarFollowsPageAndProgress) {
  UseInstallPages();
  TWizardForm& form = CreateForm();
  ASSERT_FALSE(window_.taskbar.empty());
  EXPECT_EQ(window_.taskbar.back().value, 0);
  EXPECT_EQ(window_.taskbar.back().maximum, 500);
  const size_t calls = window_.taskbar.size();
  setup_->Broadcast(NotifyProgressTick, 0);  // unchanged: not passed on
  EXPECT_EQ(window_.taskbar.size(), calls);
  form.bNextClick();
  EXPECT_EQ(window_.taskbar.back().value, 100);
}

TEST_F(WizardTest, ReadyToInstallShowsTheSummaryOfTheActions) {
  Scenario().pages = {&SetupPageReadyToInstall};
  Scenario().actions = {Action({}, {u"#Folder", u"C:\\Work\\"}), Action(),
                        Action({}, {u"#Empty", u"#Shortcuts:", u"Desktop"})};
  TWizardForm& form = CreateForm();
  TPageControl& viewer = *form.ActivePage()->Controls()[0];
  EXPECT_TRUE(viewer.Enabled());  // reached with Tab like the license
  EXPECT_FALSE(viewer.RichText());
  EXPECT_EQ(U8(viewer.Text()), "Folder:\r\n * C:\\Work\\\r\n\r\nShortcuts:\r\n * Desktop\r\n");
}

TEST_F(WizardTest, LicensePageLoadsTheLicense) {
  Scenario().pages = {&SetupPageLicense};
  TWizardForm& form = CreateForm();
  TPageControl& viewer = *form.ActivePage()->Controls()[0];
  EXPECT_TRUE(viewer.RichText());
  EXPECT_NE(U8(viewer.Text()).find("Test license"), std::string::npos);
  EXPECT_EQ(U8(Control(u"L1").Text()), "I accept the agreement");
  EXPECT_EQ(U8(form.ActivePage()->Title), "License Agreement");
}

TEST_F(WizardTest, FinishPageOffersTheActionsAndSavesTheChoices) {
  Scenario().pages = {&SetupPageReadyToInstall};
  TWizardForm& interactive = CreateForm();
  interactive.bNextClick();
  WaitForRun();
  ASSERT_EQ(U8(Active().Name()), "PageFinish");
  EXPECT_EQ(U8(Control(u"L1").Text()), "TestApp is installed");
  EXPECT_EQ(U8(Control(u"CB1").Text()), "Start TestApp");
  EXPECT_EQ(U8(Control(u"CB2").Text()), "Show the readme");
  EXPECT_EQ(Control(u"CB2").Bounds(), (TWizardRect{210, 144, 320, 17}));
  EXPECT_EQ(U8(Control(u"L3").LinkTarget), "https://testapp.example/");
  EXPECT_TRUE(Control(u"CB1").Visible());
  EXPECT_TRUE(setup_->Settings.ReadBool(u"Actions", u"$DESTTestApp.exe", false));
  Control(u"CB2").Click();
  EXPECT_FALSE(setup_->Settings.ReadBool(u"Actions", u"$DESTReadme.txt", true));
  EXPECT_TRUE(setup_->Settings.ReadBool(u"Actions", u"$DESTTestApp.exe", false));
}

#ifndef _WIN32
// Files left for the next restart: the finish page says that a restart
// completes the run.
TEST_F(WizardTest, FinishPageSaysWhenARestartCompletesTheRun) {
  const controller_test::TRestartNeeded restart(work_ + u"Busy.exe");
  Scenario().pages = {&SetupPageReadyToInstall};
  CreateForm().bNextClick();
  WaitForRun();
  ASSERT_EQ(U8(Active().Name()), "PageFinish");
  EXPECT_EQ(U8(Control(u"L2").Text()), "Done.\r\n\r\nA restart completes it.");
  // The offered programs move down below it.
  EXPECT_EQ(Control(u"CB1").Bounds(), (TWizardRect{210, 152, 320, 17}));
  EXPECT_EQ(Control(u"CB2").Bounds(), (TWizardRect{210, 176, 320, 17}));
}
#endif

TEST(WizardLayout, RectanglesAtTwoDpis) {
  struct TCase {
    int dpi;
    TWizardRect header, strip, footer, page, fullPage, next;
  } cases[] = {
      {96, {0, 0, 640, 53}, {0, 53, 640, 10}, {0, 436, 640, 44}, {0, 67, 640, 369},
       {0, 0, 640, 436}, {511, 447, 121, 25}},
      {144, {0, 0, 960, 80}, {0, 80, 960, 15}, {0, 654, 960, 66}, {0, 101, 960, 553},
       {0, 0, 960, 654}, {767, 671, 182, 38}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    TWizardLayout layout(c.dpi);
    EXPECT_EQ(layout.Header(), c.header);
    EXPECT_EQ(layout.Strip(), c.strip);
    EXPECT_EQ(layout.Footer(), c.footer);
    EXPECT_EQ(layout.Page(false), c.page);
    EXPECT_EQ(layout.Page(true), c.fullPage);
    EXPECT_EQ(layout.NextButton(), c.next);
  }
  EXPECT_EQ(ScaleToDpi(53, 144), 80);
  EXPECT_EQ(ScaleToDpi(1, 120), 1);
  EXPECT_EQ(ScaleToDpi(2, 120), 3);  // 2.5 away from zero
}

TEST(WizardLayout, StripSegments) {
  TWizardProgressLayout strip;
  strip.SetBounds({0, 53, 640, 10}, 8, 96);
  EXPECT_EQ(strip.Content(), (TWizardRect{0, 55, 640, 6}));
  EXPECT_EQ(strip.SegmentWidth(), 91);
  EXPECT_EQ(strip.Segment(2), (TWizardRect{182, 55, 91, 6}));
  EXPECT_EQ(strip.Filled(2, 0), (TWizardRect{0, 55, 182, 6}));
  EXPECT_EQ(strip.Filled(2, 50), (TWizardRect{0, 55, 228, 6}));
  TWizardProgressLayout two;
  two.SetBounds({0, 53, 640, 10}, 2, 96);
  EXPECT_EQ(two.SegmentWidth(), 0);
}

}  // namespace
}  // namespace wizard_test
