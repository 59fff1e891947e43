// The destination page and the add-ons page: what they show for the
// controller's state, and how the user's changes reach the controller.
#include "ui/product_pages.h"

#include "product/setup_classes.h"

#include "wizard_test_util.h"

namespace wizard_test {
namespace {

class SetupPageTest : public WizardTest {
 protected:
  // An interactive installation: the destination page, the integration
  // page, the summary; prepare runs before the form exists.
  TWizardForm& CreateInstallForm(const String& dest, const std::function<void(TSetup&)>& prepare = {}) {
    form_.reset();
    setup_.reset();
    window_ = TTestWindow();
    Scenario().pages = {&SetupPageSetup, &SetupPageIntegration, &SetupPageReadyToInstall};
    CreateSetup(u"");
    setup_->SetDestPath(dest);
    if (prepare) prepare(*setup_);
    return CreateForm();
  }
  TSetupPageSetup& Page() { return dynamic_cast<TSetupPageSetup&>(*form_->Pages().First()); }
  std::vector<std::string> Warnings() {
    std::vector<std::string> keys;
    for (const String& key : Page().Warnings()) keys.push_back(U8(key));
    return keys;
  }
  bool Option(TSetupOption option) { return setup_->IsOptionSet(option); }
  // Where Next leads from the destination page (and back again).
  std::string AfterNext() {
    form_->bNextClick();
    std::string name = U8(Active().Name());
    form_->bBackClick();
    return name;
  }
  String ProgramFiles() { return setup_->Resources().ProgramFilesDir(); }

  const String installed_ = u"C:\\Apps\\TestApp\\";
};

TEST_F(SetupPageTest, ControlsTextsAndAFreshDestination) {
  RegisterStandardPageClasses();
  EXPECT_EQ(FindSetupPageClass(u"TSetupPageSetup"), &SetupPageSetup);
  EXPECT_EQ(FindSetupPageClass(u"TSetupPageAddons"), &SetupPageAddons);
  CreateInstallForm(work_);
  ASSERT_EQ(U8(Active().Name()), "PageSetup");
  EXPECT_EQ(U8(Active().Title), "Options");
  struct TControl {
    const char16_t* name;
    TPageControlKind kind;
    const char* text;
    TWizardRect bounds;
  } controls[] = {
      {u"LB1", TPageControlKind::Label, "Destination", {40, 30, 540, 20}},
      {u"PathEdit", TPageControlKind::PathEdit, "C:\\Work\\", {60, 70, 540, 21}},
      {u"CB1", TPageControlKind::CheckBox, "Update", {60, 100, 540, 17}},
      {u"CB4", TPageControlKind::CheckBox, "Back up", {60, 120, 540, 17}},
      {u"LB2", TPageControlKind::Label, "Mode", {40, 150, 540, 20}},
      {u"CB3", TPageControlKind::RadioButton, "Portable", {60, 190, 540, 16}},
      {u"CB3Hint", TPageControlKind::Label, "Settings stay in the folder", {79, 212, 500, 48}},
      {u"CB2", TPageControlKind::RadioButton, "Standard", {60, 248, 540, 16}},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(U8(c.name));
    EXPECT_EQ(Control(c.name).Kind(), c.kind);
    EXPECT_EQ(U8(Control(c.name).Text()), c.text);
    EXPECT_EQ(Control(c.name).Bounds(), c.bounds);
  }
  EXPECT_EQ(Control(u"LB2").FontSize, 11);
  EXPECT_FALSE(Control(u"CB3Hint").Enabled());
  EXPECT_EQ(U8(Control(u"PathEdit").ButtonText), "Browse...");
  EXPECT_EQ(Control(u"PathEdit").ButtonWidth, 100);
  // Nothing installed: no update box, standard mode, no warning.
  EXPECT_FALSE(Control(u"CB1").Visible());
  EXPECT_FALSE(Control(u"CB4").Visible());
  EXPECT_TRUE(Control(u"CB2").Checked());
  EXPECT_FALSE(Control(u"CB3").Checked());
  EXPECT_TRUE(Control(u"CB3").Enabled());
  EXPECT_TRUE(Warnings().empty());
  EXPECT_TRUE(window_.nextEnabled);
  EXPECT_EQ(AfterNext(), "PageIntegration");
  // The page writes no settings.
  EXPECT_FALSE(setup_->Settings.SectionExists(u"Common"));
}

TEST_F(SetupPageTest, TypingThePath) {
  CreateInstallForm(work_);
  TPageControl& edit = Control(u"PathEdit");
  edit.Edited(u"");
  EXPECT_TRUE(setup_->GetDestPath().empty());
  EXPECT_FALSE(window_.nextEnabled);
  // The typed text is left as typed; the controller keeps the normalised path.
  edit.Edited(u"C:\\Music");
  EXPECT_EQ(U8(edit.Text()), "C:\\Music");
  EXPECT_EQ(U8(setup_->GetDestPath()), "C:\\Music\\");
  EXPECT_TRUE(window_.nextEnabled);
  // Typing into the folder of an installed copy offers its update.
  Scenario().installedAt = installed_;
  edit.Edited(u"C:\\Apps\\TestApp");
  EXPECT_EQ(U8(edit.Text()), "C:\\Apps\\TestApp");
  EXPECT_TRUE(Option(TSetupOption::Update));
  EXPECT_TRUE(Control(u"CB1").Visible());
  EXPECT_TRUE(Control(u"CB1").Checked());
  // Entering the page again shows the controller's path.
  Page().Prepare();
  EXPECT_EQ(U8(edit.Text()), "C:\\Apps\\TestApp\\");
}

// An updatable copy at the destination: the update is offered and chosen,
// the mode is the installed copy's, the integration is skipped; unticking the
// update turns it into a new installation beside the old copy.
TEST_F(SetupPageTest, UpdatingAnInstalledCopy) {
  for (const bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable copy" : "standard copy");
    Scenario() = TScenario();
    Scenario().installedAt = installed_;
    Scenario().installedPortable = portable;
    CreateInstallForm(installed_);
    ASSERT_TRUE(Option(TSetupOption::Update));
    EXPECT_TRUE(Control(u"CB1").Visible());
    EXPECT_TRUE(Control(u"CB1").Checked());
    EXPECT_TRUE(Control(u"CB4").Visible());
    EXPECT_TRUE(Control(u"CB4").Checked());
    EXPECT_FALSE(Control(u"CB2").Enabled());
    EXPECT_FALSE(Control(u"CB3").Enabled());
    EXPECT_EQ(Control(u"CB3").Checked(), portable);
    EXPECT_EQ(Control(u"CB2").Checked(), !portable);
    EXPECT_EQ(Warnings(), std::vector<std::string>{"W1"});
    EXPECT_EQ(AfterNext(), "PageReadyToInstall");

    // No backup.
    Control(u"CB4").Click();
    EXPECT_TRUE(Option(TSetupOption::NoBackup));
    EXPECT_TRUE(Option(TSetupOption::Update));
    Control(u"CB4").Click();
    EXPECT_FALSE(Option(TSetupOption::NoBackup));

    Control(u"CB1").Click();
    EXPECT_FALSE(Option(TSetupOption::Update));
    EXPECT_FALSE(Control(u"CB1").Checked());
    EXPECT_TRUE(Control(u"CB1").Visible());
    EXPECT_FALSE(Control(u"CB4").Visible());
    EXPECT_TRUE(Control(u"CB2").Enabled());
    EXPECT_TRUE(Control(u"CB3").Enabled());
    EXPECT_EQ(Warnings(), std::vector<std::string>{"W3"});
    // A portable copy keeps the installation portable: still no integration.
    EXPECT_EQ(Option(TSetupOption::Portable), portable);
    EXPECT_EQ(AfterNext(), portable ? "PageReadyToInstall" : "PageIntegration");

    Control(u"CB1").Click();
    EXPECT_TRUE(Option(TSetupOption::Update));
    EXPECT_EQ(Warnings(), std::vector<std::string>{"W1"});
  }
}

TEST_F(SetupPageTest, ChoosingTheMode) {
  CreateInstallForm(u"C:\\Music\\");
  const String portablePath = setup_->ProductInfo().GetDefaultPortablePath();
  const String defaultPath = setup_->ProductInfo().GetDefaultPath();
  // Outside the program files the folder stays.
  Control(u"CB3").Click();
  EXPECT_TRUE(Option(TSetupOption::Portable));
  EXPECT_TRUE(Control(u"CB3").Checked());
  EXPECT_FALSE(Control(u"CB2").Checked());
  EXPECT_EQ(U8(setup_->GetDestPath()), "C:\\Music\\");
  EXPECT_EQ(AfterNext(), "PageReadyToInstall");
  Control(u"CB2").Click();
  EXPECT_FALSE(Option(TSetupOption::Portable));
  EXPECT_EQ(U8(setup_->GetDestPath()), "C:\\Music\\");

  // Portable while the destination is in the program files: the default
  // portable folder; standard again: back to the default folder.
  Control(u"PathEdit").Edited(ProgramFiles() + u"TestApp");
  ASSERT_TRUE(setup_->IsDestInProgramFiles());
  Control(u"CB3").Click();
  EXPECT_EQ(U8(setup_->GetDestPath()), U8(portablePath));
  EXPECT_EQ(U8(Control(u"PathEdit").Text()), U8(portablePath));
  EXPECT_TRUE(Option(TSetupOption::Portable));
  EXPECT_TRUE(Control(u"CB3").Checked());
  Control(u"CB2").Click();
  EXPECT_EQ(U8(setup_->GetDestPath()), U8(defaultPath));
  EXPECT_FALSE(Option(TSetupOption::Portable));
  EXPECT_TRUE(Control(u"CB2").Checked());

  // Typing a folder in the program files while portable: standard again.
  Control(u"PathEdit").Edited(u"C:\\Music");
  Control(u"CB3").Click();
  ASSERT_TRUE(Option(TSetupOption::Portable));
  Control(u"PathEdit").Edited(ProgramFiles() + u"Players");
  EXPECT_FALSE(Option(TSetupOption::Portable));
  EXPECT_TRUE(Control(u"CB2").Checked());
  EXPECT_FALSE(Control(u"CB3").Checked());
  EXPECT_EQ(U8(Control(u"PathEdit").Text()), U8(ProgramFiles() + u"Players"));
}

// A place that is never a program's folder, typed or chosen: the warning
// says which folder and why, and Next waits for another folder.
TEST_F(SetupPageTest, RefusedFolderWarnsAndHoldsNext) {
  CreateInstallForm(work_);
  auto warning = [&] {
    for (const auto& control : Page().Controls())
      if (control->Kind() == TPageControlKind::Warning && control->Visible())
        return U8(control->Text());
    return std::string();
  };
  TPageControl& edit = Control(u"PathEdit");
  const struct {
    const char16_t* typed;
    const char* warning;  // empty: accepted
  } cases[] = {
      {u"C:\\Windows\\..\\windows\\", "The folder \"C:\\windows\\\" cannot be used: it is the Windows "
                                        "folder or a folder inside it."},
      {u"C:\\Users\\User\\Documents", "The folder \"C:\\Users\\User\\Documents\\\" cannot be used: it "
                                       "is a folder that Windows keeps for a user's own files."},
      {u"C:\\Program Files\\TestApp", ""},
      {u"D:", "The folder \"D:\\\" cannot be used: it is the root of a drive or of a network "
             "share; choose a folder inside it."},
      {u"C:\\Bad|Name", "The folder \"C:\\Bad|Name\" cannot be used: a folder name cannot contain "
                       "control characters or any of < > : \" | ? *."},
      {u"C:\\Users\\User\\Documents\\TestApp", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.typed));
    edit.Edited(c.typed);
    EXPECT_EQ(warning(), c.warning);
    EXPECT_EQ(window_.nextEnabled, !*c.warning);
    EXPECT_EQ(Warnings().empty(), !*c.warning);
  }
  // Chosen with the browse button: the product's folder inside Windows.
  SetFolderBrowser([&](const String&, String& chosen) {
    chosen = u"C:\\Windows";
    return true;
  });
  edit.OnButtonClick();
  EXPECT_EQ(U8(setup_->GetDestPath()), "C:\\Windows\\TestApp\\");
  EXPECT_EQ(Warnings(), std::vector<std::string>{"W4"});
  EXPECT_FALSE(window_.nextEnabled);
  SetFolderBrowser(nullptr);
}

TEST_F(SetupPageTest, BrowseDestination) {
  struct TCase {
    const char16_t* folder;
    const char* dest;
  } cases[] = {
      {u"D:\\Music", "D:\\Music\\TestApp"},
      {u"D:\\Music\\", "D:\\Music\\TestApp"},
      {u"D:\\Music\\TestApp", "D:\\Music\\TestApp\\"},
      {u"D:\\Music\\testAPP\\", "D:\\Music\\testAPP\\"},
      {u"D:\\TestApps", "D:\\TestApps\\TestApp"},
      {u"D:\\", "D:\\TestApp"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(U8(TSetupPageSetup::BrowseDestination(c.folder, u"TestApp")), c.dest) << U8(c.folder);

  CreateInstallForm(work_);
  String started;
  bool confirm = false;
  SetFolderBrowser([&](const String& start, String& chosen) {
    started = start;
    chosen = u"D:\\Music";
    return confirm;
  });
  Control(u"PathEdit").OnButtonClick();
  EXPECT_EQ(U8(started), "C:\\Work\\");
  EXPECT_EQ(U8(setup_->GetDestPath()), "C:\\Work\\");
  confirm = true;
  Control(u"PathEdit").OnButtonClick();
  EXPECT_EQ(U8(setup_->GetDestPath()), "D:\\Music\\TestApp\\");
  EXPECT_EQ(U8(Control(u"PathEdit").Text()), "D:\\Music\\TestApp\\");
  SetFolderBrowser(nullptr);
}

TEST_F(SetupPageTest, AnotherCopyWarning) {
  struct TCase {
    const char* what;
    const char16_t* dest;
    bool installedElsewhere, portable, untickUpdate;
    bool warned;
  } cases[] = {
      {"nothing installed", u"C:\\Music\\", false, false, false, false},
      {"an update", u"C:\\Apps\\TestApp\\", false, false, false, false},
      {"a version at the destination", u"C:\\Apps\\TestApp\\", false, false, true, true},
      {"a copy elsewhere", u"C:\\Music\\", true, false, false, true},
      {"a copy elsewhere, portable", u"C:\\Music\\", true, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario() = TScenario();
    if (c.installedElsewhere || SameTextLocale(c.dest, installed_)) Scenario().installedAt = installed_;
    CreateInstallForm(c.dest, [&](TSetup& setup) {
      if (c.portable) setup.SetOption(TSetupOption::Portable, true);
      if (c.untickUpdate) setup.SetOption(TSetupOption::Update, false);
    });
    EXPECT_EQ(OtherCopyWarning(), c.warned);
    EXPECT_EQ(!Warnings().empty() && Warnings().back() == "W3", c.warned);
  }
}

class AddonsPageTest : public WizardTest {
 protected:
  TWizardForm& CreateAddonsForm(const std::function<void(TSetup&)>& prepare = {}) {
    Scenario().pages = {&SetupPageAddons, &SetupPageReadyToInstall};
    CreateSetup(u"");
    setup_->SetDestPath(work_);
    if (prepare) prepare(*setup_);
    return CreateForm();
  }
  bool Setting(StringView key) { return setup_->Settings.ReadBool(u"Common", key, false); }
};

TEST_F(AddonsPageTest, ControlsTextsAndChoicesWrittenOnEntry) {
  CreateAddonsForm();
  ASSERT_EQ(U8(Active().Name()), "PageAddons");
  const auto& page = dynamic_cast<const TSetupPageAddons&>(Active());
  EXPECT_EQ(page.Image().Width, 24u);
  EXPECT_EQ(U8(Control(u"L0").Text()), "Install the tools");
  EXPECT_TRUE(Control(u"L0").Wrap);
  EXPECT_EQ(Control(u"L0").Bounds(), (TWizardRect{40, 30, 300, 40}));
  struct TBox {
    const char16_t* name;
    const char16_t* key;
    TWizardRect bounds;
  } boxes[] = {{u"CB1", u"AddonsViewer", {60, 100, 500, 17}},
               {u"CB2", u"AddonsExtensions", {60, 120, 500, 17}},
               {u"CB3", u"AddonsShortcuts", {60, 140, 500, 17}}};
  for (const auto& box : boxes) {
    SCOPED_TRACE(U8(box.name));
    EXPECT_EQ(Control(box.name).Bounds(), box.bounds);
    EXPECT_TRUE(Control(box.name).Checked());
    // Written on entry.
    EXPECT_TRUE(setup_->Settings.KeyExists(u"Common", box.key));
    EXPECT_TRUE(Setting(box.key));
  }
  std::vector<std::string> formatted;
  for (const auto& control : Active().Controls())
    if (control->Kind() == TPageControlKind::Formatted) formatted.push_back(U8(control->Text()));
  EXPECT_EQ(formatted, (std::vector<std::string>{
                           "Provided by Tool Maker.",
                           "See <a href=\"https://tools.example/terms\">terms</a> and <a "
                           "href=\"https://tools.example/privacy\">privacy</a>."}));
  Control(u"CB2").Click();
  EXPECT_FALSE(Setting(u"AddonsExtensions"));
  EXPECT_TRUE(Setting(u"AddonsViewer"));
}

TEST_F(AddonsPageTest, ShowsStoredChoices) {
  CreateAddonsForm([](TSetup& setup) {
    setup.Settings.SetSectionText(u"Common", u"AddonsViewer=0\r\nAddonsShortcuts=0");
  });
  EXPECT_FALSE(Control(u"CB1").Checked());
  EXPECT_TRUE(Control(u"CB2").Checked());
  EXPECT_FALSE(Control(u"CB3").Checked());
  EXPECT_FALSE(Setting(u"AddonsViewer"));
  EXPECT_TRUE(Setting(u"AddonsExtensions"));
}

// Without "addons.ini" the page cannot be built, and so neither the wizard.
TEST_F(AddonsPageTest, MissingDescriptionFailsTheWizard) {
  UsePackages(true);
  Scenario().pages = {&SetupPageAddons};
  CreateSetup(u"");
  try {
    CreateForm();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_NE(U8(e.Message()).find("addons.ini"), std::string::npos) << U8(e.Message());
  }
}

// At the DPIs people use, every control of the product's pages stays inside
// its page, controls that take input never overlap, and a one-line control
// is at least as high as a line of its font (Segoe UI: 1.33 em).
TEST_F(SetupPageTest, LayoutAtEveryDpi) {
  Scenario().installedAt = installed_;
  CreateInstallForm(installed_);
  std::vector<TSetupCustomPage*> pages{&Active(), form_->Pages().Items(1)};
  UsePackages(false);
  std::unique_ptr<TSetupCustomPage> addons = SetupPageAddons.Create();
  std::unique_ptr<TSetupCustomPage> uninstall = SetupPageUninstallParams.Create();
  pages.push_back(addons.get());
  pages.push_back(uninstall.get());
  auto scaled = [](const TWizardRect& r, int dpi) {
    return TWizardRect{ScaleToDpi(r.Left, dpi), ScaleToDpi(r.Top, dpi),
                       ScaleToDpi(r.Right(), dpi) - ScaleToDpi(r.Left, dpi),
                       ScaleToDpi(r.Bottom(), dpi) - ScaleToDpi(r.Top, dpi)};
  };
  auto overlap = [](const TWizardRect& a, const TWizardRect& b) {
    return a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() && b.Top < a.Bottom();
  };
  for (const int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    const TWizardLayout layout(dpi);
    const TWizardRect page = layout.Page(false);
    for (TSetupCustomPage* p : pages) {
      SCOPED_TRACE(U8(p->Name()));
      std::vector<TWizardRect> inputs;
      for (const auto& control : p->Controls()) {
        SCOPED_TRACE(U8(control->Name()));
        const TWizardRect r = scaled(control->Bounds(), dpi);
        EXPECT_GE(r.Left, 0);
        EXPECT_GE(r.Top, 0);
        EXPECT_LE(r.Right(), page.Width);
        EXPECT_LE(r.Bottom(), page.Height);
        const TPageControlKind kind = control->Kind();
        if (kind == TPageControlKind::CheckBox || kind == TPageControlKind::RadioButton ||
            kind == TPageControlKind::PathEdit || (kind == TPageControlKind::Label && !control->Wrap)) {
          const int points = control->FontSize ? control->FontSize : 9;
          const double line = points * dpi / 72.0 * 1.33;
          EXPECT_GE(r.Height + 1, static_cast<int>(line)) << "line of " << line;
        }
        if (kind == TPageControlKind::CheckBox || kind == TPageControlKind::RadioButton ||
            kind == TPageControlKind::PathEdit) {
          for (const TWizardRect& other : inputs) EXPECT_FALSE(overlap(r, other));
          inputs.push_back(r);
        }
      }
    }
    // The footer's controls stay in the footer, side by side.
    const TWizardRect footer = layout.Footer();
    const TWizardRect items[] = {layout.VersionLabel(), layout.BackButton(), layout.NextButton()};
    for (const TWizardRect& item : items) {
      EXPECT_GE(item.Top, footer.Top);
      EXPECT_LE(item.Bottom(), footer.Bottom());
      EXPECT_LE(item.Right(), footer.Right());
    }
    EXPECT_FALSE(overlap(items[0], items[1]));
    EXPECT_FALSE(overlap(items[1], items[2]));
  }
}

}  // namespace
}  // namespace wizard_test
