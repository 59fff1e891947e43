// The product's pages: the choices they show on entry and the settings they
// write back.
#include "ui/product_pages.h"

#include "product/setup_classes.h"

#include "wizard_test_util.h"

namespace wizard_test {
namespace {

class UninstallParamsTest : public WizardTest {
 protected:
  // An interactive uninstallation whose first page is the options page;
  // prepare runs before the form exists.
  TWizardForm& CreateUninstallForm(const std::function<void(TSetup&)>& prepare = {}) {
    UsePackages(true);
    Scenario().pages = {&SetupPageUninstallParams};
    CreateSetup(u"");
    setup_->SetDestPath(work_);
    if (prepare) prepare(*setup_);
    return CreateForm();
  }
  bool Written(StringView key) const { return setup_->Settings.KeyExists(u"Common", key); }
  bool Setting(StringView key) const { return setup_->Settings.ReadBool(u"Common", key, false); }
};

TEST_F(UninstallParamsTest, IsTheFirstPageOfAnUninstallation) {
  RegisterStandardPageClasses();
  EXPECT_EQ(FindSetupPageClass(u"TSetupPageUninstallParams"), &SetupPageUninstallParams);
  TWizardForm& form = CreateUninstallForm();
  ASSERT_EQ(U8(Active().Name()), "PageUninstallParams");
  EXPECT_EQ(U8(Active().Title), "Remove TestApp");
  EXPECT_EQ(U8(Active().Description), "Choose what to remove");
  EXPECT_FALSE(window_.backVisible);
  EXPECT_TRUE(window_.nextEnabled);
  EXPECT_EQ(U8(window_.nextCaption), "Uninstall");
  struct TBox {
    const char16_t* name;
    const char* caption;
    TWizardRect bounds;
  } boxes[] = {{u"CB1", "Remove the backups", {44, 40, 480, 17}},
               {u"CB2", "Remove the settings", {44, 65, 480, 17}}};
  ASSERT_EQ(Active().Controls().size(), std::size(boxes));
  for (const auto& box : boxes) {
    SCOPED_TRACE(U8(box.name));
    EXPECT_EQ(Control(box.name).Kind(), TPageControlKind::CheckBox);
    EXPECT_EQ(U8(Control(box.name).Text()), box.caption);
    EXPECT_EQ(Control(box.name).Bounds(), box.bounds);
    EXPECT_FALSE(Control(box.name).Checked());
  }
  // Entering the page writes nothing: the removal keeps its own defaults.
  EXPECT_FALSE(Written(u"RemoveBackups"));
  EXPECT_FALSE(Written(u"RemoveContent"));
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageUninstall");
  WaitForRun();
}

TEST_F(UninstallParamsTest, ShowsTheStoredChoices) {
  struct TCase {
    const char16_t* stored;  // the section "Common" before the page opens
    bool backups, content;
  } cases[] = {
      {u"", false, false},
      {u"RemoveBackups=1", true, false},
      {u"RemoveContent=1", false, true},
      {u"RemoveBackups=1\r\nRemoveContent=1", true, true},
      {u"RemoveBackups=0\r\nRemoveContent=0", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.stored));
    form_.reset();
    setup_.reset();
    window_ = TTestWindow();
    CreateUninstallForm([&](TSetup& setup) { setup.Settings.SetSectionText(u"Common", c.stored); });
    EXPECT_EQ(Control(u"CB1").Checked(), c.backups);
    EXPECT_EQ(Control(u"CB2").Checked(), c.content);
  }
}

TEST_F(UninstallParamsTest, AClickWritesBothChoices) {
  CreateUninstallForm();
  Control(u"CB2").Click();
  EXPECT_TRUE(Written(u"RemoveBackups"));
  EXPECT_FALSE(Setting(u"RemoveBackups"));
  EXPECT_TRUE(Setting(u"RemoveContent"));
  // The removal reads the choices.
  EXPECT_FALSE(setup_->ReadSetting(u"Common", u"RemoveBackups"));
  EXPECT_TRUE(setup_->ReadSetting(u"Common", u"RemoveContent"));
  Control(u"CB1").Click();
  Control(u"CB2").Click();
  EXPECT_TRUE(Setting(u"RemoveBackups"));
  EXPECT_FALSE(Setting(u"RemoveContent"));
}

}  // namespace
}  // namespace wizard_test

namespace wizard_test {
namespace {

struct TIntegrationBox {
  const char16_t* name;
  const char16_t* key;  // in the section "Integration"
  const char* caption;
  TWizardRect bounds;
};
const TIntegrationBox kIntegrationBoxes[] = {
    {u"CB1", u"ShortcutDesktop", "Desktop", {60, 70, 540, 16}},
    {u"CB2", u"ShortcutStartMenu", "Start menu", {60, 90, 540, 16}},
    {u"CB4", u"IntegrateToWindows", "Register", {60, 160, 540, 16}},
    {u"CB3", u"AssociateWithFiles", "Associate", {60, 230, 540, 16}},
    {u"CB5", u"RegisterContextMenu", "Context menu", {60, 250, 540, 16}},
};

class IntegrationPageTest : public WizardTest {
 protected:
  // An interactive installation: the test page, the integration page, the
  // summary; prepare runs before the form exists.
  TWizardForm& CreateInstallForm(const std::function<void(TSetup&)>& prepare = {}) {
    form_.reset();
    setup_.reset();
    window_ = TTestWindow();
    Scenario().pages = {&SetupPageTest, &SetupPageIntegration, &SetupPageReadyToInstall};
    CreateSetup(u"");
    setup_->SetDestPath(work_);
    if (prepare) prepare(*setup_);
    return CreateForm();
  }
  bool AnyWritten() const { return setup_->Settings.SectionExists(u"Integration"); }
};

TEST_F(IntegrationPageTest, ControlsAndDefaults) {
  struct TCase {
    const char16_t* stored;  // the section "Integration" before the page opens
    bool checked[5];         // in the order of kIntegrationBoxes
  } cases[] = {
      {nullptr, {true, true, true, true, true}},
      {u"ShortcutDesktop=0\r\nAssociateWithFiles=0", {false, true, true, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.stored ? c.stored : u"nothing stored"));
    TWizardForm& form = CreateInstallForm([&](TSetup& setup) {
      if (c.stored) setup.Settings.SetSectionText(u"Integration", c.stored);
    });
    form.bNextClick();
    ASSERT_EQ(U8(Active().Name()), "PageIntegration");
    EXPECT_EQ(U8(Active().Title), "Integration");
    EXPECT_EQ(U8(Control(u"LB1").Text()), "Shortcuts");
    EXPECT_EQ(Control(u"LB2").FontSize, 11);
    EXPECT_FALSE(Control(u"CB4Hint").Enabled());
    EXPECT_EQ(U8(Control(u"CB4Hint").Text()), "A hint");
    EXPECT_TRUE(window_.backVisible);
    EXPECT_EQ(U8(window_.nextCaption), "Next >");
    for (size_t i = 0; i < std::size(kIntegrationBoxes); ++i) {
      const TIntegrationBox& box = kIntegrationBoxes[i];
      SCOPED_TRACE(U8(box.name));
      EXPECT_EQ(U8(Control(box.name).Text()), box.caption);
      EXPECT_EQ(Control(box.name).Bounds(), box.bounds);
      EXPECT_EQ(Control(box.name).Checked(), c.checked[i]);
    }
    // Entering the page writes nothing.
    EXPECT_EQ(AnyWritten(), c.stored != nullptr);
  }
}

// A portable installation has no integration: the page is skipped both ways,
// and would show its boxes cleared unless a choice was stored.
TEST_F(IntegrationPageTest, APortableInstallationSkipsThePage) {
  TWizardForm& form = CreateInstallForm([](TSetup& setup) {
    setup.Settings.SetSectionText(u"Integration", u"ShortcutStartMenu=1");
    setup.SetOption(TSetupOption::Portable, true);
  });
  ASSERT_TRUE(setup_->IsOptionSet(TSetupOption::Portable));
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageReadyToInstall");
  form.bBackClick();
  EXPECT_EQ(U8(Active().Name()), "PageTest");
  TSetupCustomPage& page = *form.Pages().Items(1);
  ASSERT_EQ(U8(page.Name()), "PageIntegration");
  page.Prepare();
  for (const auto& box : kIntegrationBoxes)
    EXPECT_EQ(page.FindControl(box.name)->Checked(), box.key == std::u16string_view(u"ShortcutStartMenu"))
        << U8(box.name);
}

TEST_F(IntegrationPageTest, AnUpdateSkipsThePage) {
  Scenario().canUpdate = true;
  TWizardForm& form =
      CreateInstallForm([](TSetup& setup) { setup.SetOption(TSetupOption::Update, true); });
  ASSERT_TRUE(setup_->IsOptionSet(TSetupOption::Update));
  form.bNextClick();
  EXPECT_EQ(U8(Active().Name()), "PageReadyToInstall");
}

TEST_F(IntegrationPageTest, AClickWritesAllFive) {
  TWizardForm& form = CreateInstallForm();
  form.bNextClick();
  ASSERT_EQ(U8(Active().Name()), "PageIntegration");
  Control(u"CB3").Click();
  for (const auto& box : kIntegrationBoxes) {
    SCOPED_TRACE(U8(box.name));
    EXPECT_TRUE(setup_->Settings.KeyExists(u"Integration", box.key));
    EXPECT_EQ(setup_->Settings.ReadBool(u"Integration", box.key, true),
              std::u16string_view(box.name) != u"CB3");
  }
  // The page shows the stored choice when it is entered again.
  form.bBackClick();
  form.bNextClick();
  EXPECT_FALSE(Control(u"CB3").Checked());
  EXPECT_TRUE(Control(u"CB1").Checked());
}

}  // namespace
}  // namespace wizard_test
