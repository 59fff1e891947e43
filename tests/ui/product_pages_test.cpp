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
