// What screen readers learn of the wizard: every shown control of the
// License, Setup, Integration and uninstallation pages with its role, name,
// value and states, and the announcements of pages and of the run's result.
#include "ui/wizard_accessibility.h"

#include "ui/product_pages.h"

#include "product/setup_classes.h"
#include "wizard_test_util.h"

namespace wizard_test {
namespace {

// "role|name|value|states", the states among checked, unavailable,
// read-only.
std::vector<std::string> Lines(const std::vector<TAccessibleControl>& items) {
  std::vector<std::string> lines;
  for (const TAccessibleControl& item : items) {
    std::string states;
    for (const auto& [set, name] : {std::pair{item.Checked, "checked"},
                                    std::pair{item.Unavailable, "unavailable"},
                                    std::pair{item.ReadOnly, "read-only"}})
      if (set) states += std::string(states.empty() ? "" : ",") + name;
    lines.push_back(std::string(AccessibleRoleText(item.Role)) + "|" + U8(item.Name) + "|" +
                    U8(item.Value) + "|" + states);
  }
  return lines;
}

using TListing = std::vector<std::string>;

class WizardAccessibilityTest : public WizardTest {
 protected:
  TListing Listing() { return Lines(DescribeWizard(*form_)); }
  // A walk: each step does something (or nothing), then the active page
  // is the expected one and a screen reader reads the listing.
  struct TStep {
    std::function<void()> act;
    const char* page;
    TListing expected;
  };
  void Walk(const std::vector<TStep>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const TStep& step = steps[i];
      SCOPED_TRACE("step " + std::to_string(i + 1) + " on " + step.page);
      if (step.act) step.act();
      ASSERT_EQ(U8(Active().Name()), step.page);
      EXPECT_EQ(Listing(), step.expected);
    }
  }
  TWizardForm& CreateUninstallForm() {
    UsePackages(true);
    Scenario().pages = {&SetupPageUninstallParams};
    CreateSetup(u"");
    setup_->SetDestPath(work_);
    return CreateForm();
  }
};

TEST_F(WizardAccessibilityTest, EveryControlOfTheInstallationsPages) {
  Scenario().pages = {&SetupPageLicense, &SetupPageSetup, &SetupPageIntegration};
  TWizardForm& form = CreateForm();
  const TListing integration = {
      "text|Shortcuts||",  "check box|Desktop||checked", "check box|Start menu||checked",
      "text|Windows||",    "check box|Register||checked", "text|A hint||unavailable",
      "check box|Associate||checked", "check box|Context menu||checked",
      "push button|< Back||", "push button|Install||"};
  TListing unticked = integration;
  unticked[1] = "check box|Desktop||";
  Walk({
      {nullptr, "PageLicense",
       // The viewer shows no caption: it is named after the page.
       {"editable text|License Agreement||read-only", "check box|I accept the agreement||",
        "push button|Next >||unavailable"}},
      {[&] {
         Control(u"L1").Click();
         // A caption with an access key reads without its "&".
         Control(u"L1").SetText(u"I &accept the agreement");
       },
       "PageLicense",
       {"editable text|License Agreement||read-only", "check box|I accept the agreement||checked",
        "push button|Next >||"}},
      {[&] { form.bNextClick(); }, "PageSetup",
       // The destination is named by the heading above it; the boxes of an
       // update are hidden, and so are the warnings.
       {"text|Destination||", "editable text|Destination|C:\\Work\\|", "push button|Browse...||",
        "text|Mode||", "radio button|Portable||", "text|Settings stay in the folder||unavailable",
        "radio button|Standard||checked", "push button|< Back||", "push button|Next >||"}},
      {[&] {
         Control(u"CB3").Click();
         Control(u"PathEdit").Edited(u"C:\\Windows");
       },
       "PageSetup",
       // Portable skips the integration page: Next installs, once the
       // folder can be used.
       {"text|Destination||", "editable text|Destination|C:\\Windows|", "push button|Browse...||",
        "text|Mode||", "radio button|Portable||checked",
        "text|Settings stay in the folder||unavailable", "radio button|Standard||",
        "text|The folder \"C:\\Windows\\\" cannot be used: it is the Windows folder or a folder "
        "inside it.||",
        "push button|< Back||", "push button|Install||unavailable"}},
      {[&] {
         Control(u"PathEdit").Edited(work_);
         Control(u"CB2").Click();
         form.bNextClick();
       },
       "PageIntegration", integration},
      {[&] { Control(u"CB1").Click(); }, "PageIntegration", unticked},
  });
}

TEST_F(WizardAccessibilityTest, TheSetupPageOfAnUpdate) {
  Scenario().installedAt = work_;
  Scenario().pages = {&SetupPageSetup, &SetupPageIntegration};
  CreateForm();
  Walk({
      {nullptr, "PageSetup",
       // The mode stays the installed copy's: its buttons are unavailable.
       {"text|Destination||", "editable text|Destination|C:\\Work\\|", "push button|Browse...||",
        "check box|Update||checked", "check box|Back up||checked", "text|Mode||",
        "radio button|Portable||unavailable", "text|Settings stay in the folder||unavailable",
        "radio button|Standard||checked,unavailable", "text|Updating||", "push button|Install||"}},
      {[&] { Control(u"CB4").Click(); }, "PageSetup",
       {"text|Destination||", "editable text|Destination|C:\\Work\\|", "push button|Browse...||",
        "check box|Update||checked", "check box|Back up||", "text|Mode||",
        "radio button|Portable||unavailable", "text|Settings stay in the folder||unavailable",
        "radio button|Standard||checked,unavailable", "text|Updating||", "push button|Install||"}},
  });
}

TEST_F(WizardAccessibilityTest, EveryControlOfTheUninstallationsPages) {
  Scenario().actions = {Action([](TTestAction& a) { a.SetProgress(50); })};
  TListing progress;
  onPump_ = [&] {
    if (progress.empty()) progress = Listing();
  };
  TWizardForm& form = CreateUninstallForm();
  Walk({
      {nullptr, "PageUninstallParams",
       {"check box|Remove the backups||", "check box|Remove the settings||",
        "push button|Uninstall||"}},
      {[&] { Control(u"CB2").Click(); }, "PageUninstallParams",
       {"check box|Remove the backups||", "check box|Remove the settings||checked",
        "push button|Uninstall||"}},
      {[&] {
         form.bNextClick();
         WaitForRun();
       },
       "PageUninstallFinish",
       {"text|Done.||", "text|TestApp is removed||", "push button|Finish||"}},
  });
  // While it ran: the status and both bars with their values.
  EXPECT_EQ(progress, (TListing{"text|Preparing removal...||", "progress bar||50%|",
                                "progress bar||50%|", "push button|Next >||unavailable"}));
}

// "page|caption|result" for each announcement.
std::vector<std::string> Announced(const TTestWindow& window) {
  std::vector<std::string> lines;
  for (const auto& a : window.announced)
    lines.push_back(U8(a.page) + "|" + U8(a.caption) + "|" + U8(a.result));
  return lines;
}

TEST_F(WizardAccessibilityTest, EveryPageShownIsAnnouncedAndAFinishPageWithItsResult) {
  Scenario().pages = {&SetupPageWelcome, &SetupPageLicense};
  Scenario().actions = {Action()};
  TWizardForm& form = CreateForm();
  form.bNextClick();
  form.bNextClick();  // refused: the license is not accepted, nothing new
  Control(u"L1").Click();
  form.bNextClick();
  WaitForRun();
  EXPECT_EQ(Announced(window_),
            (std::vector<std::string>{"PageWelcome|Welcome to TestApp|", "PageLicense|License Agreement|",
                                      "PageInstall|Installing|",
                                      "PageFinish|TestApp is installed|TestApp is installed"}));
}

TEST_F(WizardAccessibilityTest, AFailedRunAnnouncesTheFailureAndNamesTheErrorList) {
  Scenario().actions = {Action([](TTestAction&) { throw EInstallerInstallError(u"Broken"); })};
  CreateForm(true);
  WaitForRun();
  ASSERT_FALSE(window_.announced.empty());
  EXPECT_EQ(Announced(window_).back(), "PageFinish|Installation failed|Installation failed");
  // The offered programs are hidden; the list is named by the text above it.
  EXPECT_EQ(Listing(), (TListing{"text|These errors occurred:||", "text|Installation failed||",
                                 "editable text|These errors occurred:|Broken\r\n|read-only",
                                 "link|Visit the home page||", "push button|Finish||"}));
}

// A text with links reads without its markup; the links keep their targets.
TEST(FormattedText, RunsAndPlainText) {
  struct TCase {
    const char16_t* markup;
    const char* plain;
    std::vector<TFormattedRun> runs;
  } cases[] = {
      {u"", "", {}},
      {u"No links.", "No links.", {{u"No links.", u"", -1}}},
      {u"See <a href=\"https://t.example/\">terms</a> and <a href=\"p\">privacy</a>.",
       "See terms and privacy.",
       {{u"See ", u"", -1},
        {u"terms", u"https://t.example/", 0},
        {u" and ", u"", -1},
        {u"privacy", u"p", 1},
        {u".", u"", -1}}},
      // Without href the text is the target.
      {u"<a>example.org</a>", "example.org", {{u"example.org", u"example.org", 0}}},
      // An unclosed tag stays text, as shown.
      {u"a <a href=\"x\">b", "a <a href=\"x\">b", {{u"a <a href=\"x\">b", u"", -1}}},
      {u"<a href=\"x\"", "<a href=\"x\"", {{u"<a href=\"x\"", u"", -1}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(U8(c.markup));
    EXPECT_EQ(U8(FormattedPlainText(c.markup)), c.plain);
    EXPECT_EQ(ParseFormattedText(c.markup), c.runs);
  }
}

}  // namespace
}  // namespace wizard_test
