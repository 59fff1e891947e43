// The steps that make the extracted player usable: its configuration, the
// registration program's command line, the shortcuts, the add-on installer
// and the shell's association cache, and their summary lines.
#include <functional>
#include <vector>

#include "core/setup_action.h"
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "platform/com.h"
#include "platform/errors.h"
#include "platform/setup_helpers.h"
#include "platform/shell.h"
#include "product/setup_action_addons.h"
#include "product/setup_action_config.h"
#include "product/setup_action_integrate.h"
#include "product/setup_action_shortcuts.h"
#include "resources/installer_errors.h"
#include "product/setup_classes.h"
#include "platform/security.h"
#include "platform/spawn_service.h"
#include "../platform/setup_test_util.h"
#include "product_test_util.h"

namespace product_test {
namespace {

std::string FileBytes(const String& path) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting);
  if (!file) return "<missing>";
  const std::vector<uint8_t> bytes = ReadAll(*file);
  return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const String& path, const std::string& bytes) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericWrite, platform::kFileShareRead, platform::kCreateAlways);
  ASSERT_NE(file, nullptr) << U8(path);
  file->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// The text of a UTF-16LE file with byte-order mark, as UTF-8.
std::string Utf16FileText(const std::string& bytes) {
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return "<no UTF-16LE mark>";
  String text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  return U8(text);
}

bool IsRegistryGuid(const String& text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const char16_t c = text[i];
    const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    if (hyphen != (c == u'-')) return false;
    if (!hyphen && !((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

class IntegrationTest : public ProductTest {
 protected:
  void SetUp() override {
    ProductTest::SetUp();
#ifndef _WIN32
    // The add-on installer is a Windows program: natively a few bytes stand
    // in for it.
    static const std::vector<uint8_t> product =
        PackFolder(DemoFolder() + "product", {{u"MivoToolsSetup.exe", "MZ tools"}});
    UseProductPackage(product);
#endif
  }

  String Text(StringView section, StringView key) {
    return setup_->Resources().GetText(section, key);
  }
  // A check box's caption as the summary shows it (without its access key).
  String Caption(StringView section, StringView key) { return StripAccessKey(Text(section, key)); }
  void Choose(StringView section, std::initializer_list<std::pair<const char16_t*, bool>> values) {
    for (const auto& [key, value] : values) setup_->Settings.WriteBool(section, key, value);
  }
  template <typename A>
  String Summary() {
    TSetupSummaryBuilder builder;
    A action;
    action.AddSummary(builder);
    return builder.ToString();
  }
};

TEST_F(IntegrationTest, TheStepsAreTheProducts) {
  for (const char16_t* name :
       {u"TSetupActionAddonsInstall", u"TSetupActionConfig", u"TSetupActionIntegrate",
        u"TSetupActionShortcuts", u"TSetupActionUpdateShellCache"})
    EXPECT_NE(FindSetupActionClass(name), nullptr) << U8(name);
}

// ---- the configuration ----

TEST_F(IntegrationTest, ConfigurationOfANewInstallation) {
  for (const bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable" : "standard");
    TearDown();
    SetUp();
    TSetup& setup = Create(u"/AUTO=\"" + work_ + u"\" /SILENT" + (portable ? u" /PORTABLE" : u""));
    setup.Settings.SetSectionText(u"Integration", u"AssociateWithFiles=0\r\nShortcutDesktop=1\r\n");
    setup.Settings.WriteBool(u"Common", u"AddonsViewer", true);
    TSetupActionConfig().Execute();

    TVelIniFile config;
    config.LoadFromFile(work_ + u"Mivo.ini");
    const String guid = config.ReadString(u"System", u"ID", u"");
    EXPECT_TRUE(IsRegistryGuid(guid)) << U8(guid);
    EXPECT_EQ(Utf16FileText(FileBytes(work_ + u"Mivo.ini")),
              "[Integration]\r\nAssociateWithFiles=0\r\nShortcutDesktop=1\r\n\r\n"
              "[System]\r\nID=" +
                  U8(guid) + "\r\nDefaultLang=English.lng\r\nUserMode=" + (portable ? "0" : "1") +
                  "\r\nVersion=5500\r\n\r\n");
  }
}

TEST_F(IntegrationTest, ConfigurationKeepsTheFilesEncodingAndOtherSections) {
  struct Case {
    const char* name;
    std::string mark;    // the encoding's byte-order mark
    std::string player;  // the player's own section, in that encoding
  };
  const Case cases[] = {
      {"UTF-8 with mark", "\xEF\xBB\xBF", "[Player]\r\nSkin=D\xC3\xA4mmerung\r\n"},
      {"ANSI", "", "[Player]\r\nSkin=D\xE4mmerung\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    WriteBytes(work_ + u"Mivo.ini",
               c.mark + "[System]\r\nVersion=5600\r\nUserMode=1\r\nLastSkin=x\r\n\r\n" + c.player +
                   "\r\n[Integration]\r\nRegisterContextMenu=0\r\n");
    TSetup& setup = CreateAuto(work_);
    setup.Settings.SetSectionText(u"Integration", u"ShortcutStartMenu=0\r\n");
    TSetupActionConfig().Execute();

    const std::string bytes = FileBytes(work_ + u"Mivo.ini");
    TVelIniFile config;
    config.LoadFromFile(work_ + u"Mivo.ini");
    const std::string guid = U8(config.ReadString(u"System", u"ID", u""));
    // The player's section in its place and bytes; "System" anew at the end.
    EXPECT_EQ(bytes, c.mark + c.player + "\r\n[Integration]\r\nShortcutStartMenu=0\r\n\r\n" +
                         "[System]\r\nID=" + guid +
                         "\r\nDefaultLang=English.lng\r\nUserMode=1\r\nVersion=5500\r\n\r\n");
  }
}

TEST_F(IntegrationTest, ConfigurationThatCannotBeReadOrWritten) {
  TSetup& setup = CreateAuto(work_);
  const String path = work_ + u"Mivo.ini";
  const std::string original = "[Player]\r\nVolume=80\r\n";
  WriteBytes(path, original);
  {
    // Held open by somebody without sharing: the step fails, the file stays.
    std::unique_ptr<TStream> holder =
        platform::OpenFileShared(path, platform::kGenericRead, 0, platform::kOpenExisting);
    ASSERT_NE(holder, nullptr);
    EXPECT_THROW(TSetupActionConfig().Execute(), EFOpenError);
  }
  EXPECT_EQ(FileBytes(path), original);
  // The new file is written beside it and replaces it when complete: when
  // it cannot be written, the old one stays whole and the error names it.
  ASSERT_TRUE(platform::CreateFolder(path + u".new"));
  try {
    TSetupActionConfig().Execute();
    ADD_FAILURE() << "saved without its fresh file";
  } catch (const EFCreateError& e) {
    EXPECT_NE(e.Message().find(u"Mivo.ini.new"), String::npos) << U8(e.Message());
  }
  EXPECT_EQ(FileBytes(path), original);
  ASSERT_TRUE(platform::RemoveFolder(path + u".new"));
  // A half-written leftover of a killed run is no obstacle, and a read-only
  // file is replaced as well.
  WriteBytes(path + u".new", "[Sys");
  ASSERT_TRUE(platform::SetAttributes(path, platform::kFileAttributeReadOnly));
  TSetupActionConfig().Execute();
  EXPECT_FALSE(platform::FileExists(path + u".new"));
  TVelIniFile config;
  config.LoadFromFile(path);
  EXPECT_EQ(config.ReadInteger(u"Player", u"Volume", 0), 80);
  EXPECT_EQ(config.ReadInteger(u"System", u"Version", 0), 5500);
  // A folder of that name: the save fails with the file's name.
  ASSERT_TRUE(platform::RemoveFile(path));
  ASSERT_TRUE(platform::CreateFolder(path));
  try {
    TSetupActionConfig().Execute();
    ADD_FAILURE() << "saved over a folder";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(u"Mivo.ini"), String::npos) << U8(e.Message());
  }
  (void)setup;
}

// ---- the registration program ----

#ifndef _WIN32
TEST_F(IntegrationTest, RegistrationProgramCommandLines) {
  struct Case {
    const char* name;
    bool integrate, contextMenu, associate, automatic;
    platform::TWindowsVersion windows;
    const char* switches;  // null: not started
  };
  const Case cases[] = {
      {"interactive, Windows 10",
       true,
       true,
       true,
       false,
       {10, 0, 19045},
       " /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI"},
      {"automatic, Windows 10",
       true,
       true,
       true,
       true,
       {10, 0, 19045},
       " /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"},
      {"associations only, Windows 7", false, false, true, false, {6, 1, 7601}, " /REG=R2"},
      {"associations only, Windows 8", false, false, true, false, {6, 2, 9200}, " /REG=R2 /REG_UI"},
      {"no associations, Windows 11",
       true,
       true,
       false,
       false,
       {10, 0, 22631},
       " /REG=L1 /REG=D1 /REG=R1 /REG=M1"},
      {"all off", false, false, false, false, {10, 0, 19045}, nullptr},
  };
  // A destination with a space, and a program where an unquoted command line
  // would find one first.
  const String dest = u"C:\\My Apps\\Mivo\\";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    platform::standin::SetWindowsVersion(c.windows);
    ASSERT_TRUE(platform::CreateFolder(u"C:\\My Apps"));
    ASSERT_TRUE(platform::CreateFolder(dest));
    WriteBytes(dest + u"Rivadavi.exe", "MZ reg");
    std::vector<String> started;
    for (const String& program : {dest + u"Rivadavi.exe", String(u"C:\\My.exe")})
      platform::standin::RegisterProgram(program, [&started](const String& line) -> uint32_t {
        started.push_back(line);
        return 0;
      });
    TSetup& setup = c.automatic ? CreateAuto(dest) : Create(u"");
    if (!c.automatic) setup.SetDestPath(dest);
    Choose(u"Integration", {{u"IntegrateToWindows", c.integrate},
                            {u"RegisterContextMenu", c.contextMenu},
                            {u"AssociateWithFiles", c.associate}});
    TSetupActionIntegrate action;
    action.Execute();
    if (!c.switches) {
      EXPECT_TRUE(started.empty());
      continue;
    }
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(U8(started[0]), "\"" + U8(dest) + "Rivadavi.exe\"" + c.switches);
  }
}

TEST_F(IntegrationTest, RegistrationProgramMissingOrFailing) {
  CreateAuto(work_);
  int runs = 0;
  platform::standin::RegisterProgram(work_ + u"Rivadavi.exe", [&runs](const String&) -> uint32_t {
    ++runs;
    return 5;
  });
  TSetupActionIntegrate().Execute();  // registered, but no file there
  EXPECT_EQ(runs, 0);
  WriteBytes(work_ + u"Rivadavi.exe", "MZ reg");
  EXPECT_NO_THROW(TSetupActionIntegrate().Execute());  // its exit code is not read
  EXPECT_EQ(runs, 1);
}
#endif

TEST_F(IntegrationTest, RegistrationSummary) {
  CreateAuto(work_);
  const String heading = Text(u"PageIntegration", u"LB2") + u":\r\n";
  EXPECT_EQ(U8(Summary<TSetupActionIntegrate>()),
            U8(heading + u" * " + Caption(u"PageIntegration", u"CB4") + u"\r\n * " +
               Caption(u"PageIntegration", u"CB5") + u"\r\n * " + Caption(u"PageIntegration", u"CB3") +
               u"\r\n"));
  Choose(u"Integration", {{u"IntegrateToWindows", false}, {u"AssociateWithFiles", false}});
  EXPECT_EQ(U8(Summary<TSetupActionIntegrate>()),
            U8(heading + u" * " + Caption(u"PageIntegration", u"CB5") + u"\r\n"));
  Choose(u"Integration", {{u"RegisterContextMenu", false}});
  EXPECT_EQ(U8(Summary<TSetupActionIntegrate>()), "");
}

// ---- the shell's association cache ----

#ifndef _WIN32
TEST_F(IntegrationTest, ShellToldThatAssociationsChanged) {
  CreateAuto(work_);
  const int before = platform::standin::AssociationChangeCount();
  TSetupActionUpdateShellCache().Execute();
  EXPECT_EQ(platform::standin::AssociationChangeCount(), before + 1);
}
#endif

// ---- shortcuts ----

class ShortcutsTest : public IntegrationTest {
 protected:
  // The link's target, "" when the file is no link, "<none>" when missing.
  static std::string LinkTarget(const String& link) {
    if (!platform::FileExists(link)) return "<none>";
    platform::TShellLink read;
    return platform::ReadShellLink(link, read) ? U8(read.target) : "";
  }
  String Desktop() { return setup_->Resources().DesktopDir(); }
  String StartMenu() { return setup_->Resources().StartMenuDir(); }
  // The installed programs that the demo's shortcuts point to.
  void InstallPrograms() {
    WriteBytes(work_ + u"Mivo.exe", "MZ player");
    WriteBytes(work_ + u"Uninstall.exe", "MZ uninstaller");
  }
  void RemoveLinks() {
    RemoveTree(StartMenu() + u"Mivo\\");
    platform::RemoveFile(Desktop() + u"Mivo.lnk");
  }
  void TearDown() override {
    if (setup_) RemoveLinks();
    IntegrationTest::TearDown();
  }
};

TEST_F(ShortcutsTest, TheScriptsShortcutsInTheChosenFolders) {
  struct Case {
    const char* name;
    bool portable;
    int desktop, startMenu;  // -1: no setting stored
    bool desktopLink, startMenuLinks;
  };
  const Case cases[] = {
      {"standard, nothing stored", false, -1, -1, true, true},
      {"portable, nothing stored", true, -1, -1, false, false},
      {"portable, both chosen", true, 1, 1, true, true},
      {"desktop only", false, 1, 0, true, false},
      {"start menu only", false, 0, 1, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    InstallPrograms();
    TSetup& setup =
        Create(u"/AUTO=\"" + work_ + u"\" /SILENT" + (c.portable ? u" /PORTABLE" : u""));
    if (c.desktop >= 0) Choose(u"Integration", {{u"ShortcutDesktop", c.desktop == 1}});
    if (c.startMenu >= 0) Choose(u"Integration", {{u"ShortcutStartMenu", c.startMenu == 1}});
    TSetupActionShortcuts action;
    std::vector<int32_t> progress;
    action.SetOnProgress([&](TSetupAction& a) { progress.push_back(a.Progress()); });
    action.Execute();
    EXPECT_EQ(progress, (std::vector<int32_t>{33, 67, 100}));
    const std::string player = U8(work_) + "Mivo.exe";
    EXPECT_EQ(LinkTarget(Desktop() + u"Mivo.lnk"), c.desktopLink ? player : "<none>");
    EXPECT_EQ(LinkTarget(StartMenu() + u"Mivo\\Mivo.lnk"), c.startMenuLinks ? player : "<none>");
    EXPECT_EQ(LinkTarget(StartMenu() + u"Mivo\\Uninstall Mivo.lnk"),
              c.startMenuLinks ? U8(work_) + "Uninstall.exe" : "<none>");
    (void)setup;
  }
}

#ifndef _WIN32
TEST_F(ShortcutsTest, WhichEntriesBecomeLinks) {
  struct Case {
    const char* name;
    platform::TWindowsVersion windows;
    const char16_t* link;    // the entry's name
    const char16_t* source;  // the entry's text
    bool made;
  };
  const Case cases[] = {
      {"allowed", {10, 0, 19045}, u"$DESKTOP$NAME.lnk", u"$DESTMivo.exe", true},
      {"start menu not chosen", {10, 0, 19045}, u"$STARTMENUMivo.lnk", u"$DESTMivo.exe", false},
      {"no folder variable", {10, 0, 19045}, u"$DESTMivo.lnk", u"$DESTMivo.exe", false},
      {"program in upper case, Windows 11",
       {10, 0, 22631},
       u"$DESKTOPMivo.lnk",
       u"$DESTMIVO.EXE",
       true},
      {"document, Windows 11", {10, 0, 22631}, u"$DESKTOPReadme.lnk", u"$DESTReadme.txt", false},
      {"address, Windows 8", {6, 2, 9200}, u"$DESKTOPHome.lnk", u"$DESTHome.url", false},
      {"document, Windows 7", {6, 1, 7601}, u"$DESKTOPReadme.lnk", u"$DESTReadme.txt", true},
      {"missing program", {6, 1, 7601}, u"$DESKTOPGone.lnk", u"$DESTGone.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    platform::standin::SetWindowsVersion(c.windows);
    InstallPrograms();
    WriteBytes(work_ + u"Readme.txt", "read me");
    WriteBytes(work_ + u"Home.url", "[InternetShortcut]");
    CreateAuto(work_);
    Choose(u"Integration", {{u"ShortcutStartMenu", false}});
    TSetupActionShortcuts action;
    action.Folders.Add(u"$DESKTOP");
    TSetupScriptFile entry;
    entry.Name = c.link;
    entry.Text = c.source;
    action.CreateShortcut(entry);
    const String link = setup_->Resources().ExpandPath(c.link);
    EXPECT_EQ(LinkTarget(link) != "<none>", c.made) << U8(link);
    platform::RemoveFile(link);
  }
  // A variable in lower case is allowed (the name is compared in upper
  // case), but not expanded: no link in the current folder or below it.
  TSetupActionShortcuts action;
  action.Folders.Add(u"$DESKTOP");
  for (const char16_t* name : {u"$desktop$NAME.lnk", u"$desktop\\$NAME.lnk"}) {
    TSetupScriptFile entry;
    entry.Name = name;
    entry.Text = u"$DESTMivo.exe";
    EXPECT_TRUE(action.IsAllowed(entry));
    action.CreateShortcut(entry);
  }
  std::vector<platform::TFolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(platform::CurrentFolder(), entries));
  for (const auto& e : entries) EXPECT_FALSE(StartsWith(e.name, u"$")) << U8(e.name);
}
#endif

TEST_F(ShortcutsTest, ALinkThatPointsThereAlreadyIsLeftAlone) {
  InstallPrograms();
  CreateAuto(work_);
  TSetupActionShortcuts action;
  const String link = Desktop() + u"Mivo.lnk";
  const String target = work_ + u"Mivo.exe";
  // Made with the paths in other letter case: equal, left alone.
  platform::TShellLink made = TSetupActionShortcuts::LinkFor(link, target);
  made.target = UpperAscii(made.target);
  made.workingDirectory = UpperAscii(made.workingDirectory);
  made.description = u"made by hand";
  ASSERT_TRUE(platform::CreateShellLink(link, made));
  const std::string before = FileBytes(link);
  EXPECT_TRUE(action.UpdateLink(link, target));
  EXPECT_EQ(FileBytes(link), before);
  // Pointing elsewhere, a link to the program alone (as earlier versions
  // made them), or no link at all: written anew.
  made.target = work_ + u"Uninstall.exe";
  ASSERT_TRUE(platform::CreateShellLink(link, made));
  EXPECT_TRUE(action.UpdateLink(link, target));
  EXPECT_TRUE(SameTextAscii(Utf8ToUtf16(LinkTarget(link)), target));
  platform::TShellLink bare;
  bare.target = target;
  ASSERT_TRUE(platform::CreateShellLink(link, bare));
  EXPECT_TRUE(action.UpdateLink(link, target));
  platform::TShellLink read;
  ASSERT_TRUE(platform::ReadShellLink(link, read));
  EXPECT_EQ(U8(read.workingDirectory), U8(ExcludeTrailingBackslash(work_)));
  WriteBytes(link, "not a link");
  EXPECT_TRUE(action.UpdateLink(link, target));
  EXPECT_TRUE(SameTextAscii(Utf8ToUtf16(LinkTarget(link)), target));
  // A target that does not exist: nothing is written.
  platform::RemoveFile(link);
  EXPECT_FALSE(action.UpdateLink(link, work_ + u"Gone.exe"));
  EXPECT_EQ(LinkTarget(link), "<none>");
}

// What a shortcut carries besides its target.
TEST_F(ShortcutsTest, WorkingFolderIconAndDescription) {
  InstallPrograms();
  CreateAuto(work_);
  TSetupActionShortcuts().Execute();
  const struct {
    String link;
    const char* program;
    const char* description;
  } cases[] = {{Desktop() + u"Mivo.lnk", "Mivo.exe", "Mivo"},
               {StartMenu() + u"Mivo\\Uninstall Mivo.lnk", "Uninstall.exe", "Uninstall Mivo"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    platform::TShellLink read;
    ASSERT_TRUE(platform::ReadShellLink(c.link, read));
    EXPECT_EQ(U8(read.target), U8(work_) + c.program);
    EXPECT_EQ(U8(read.workingDirectory), U8(ExcludeTrailingBackslash(work_)));
    EXPECT_EQ(U8(read.iconPath), U8(work_) + c.program);
    EXPECT_EQ(read.iconIndex, 0);
    EXPECT_EQ(U8(read.description), c.description);
  }
}

// A shortcut that cannot be written is an error of the run, not a
// shortcut silently missing.
TEST_F(ShortcutsTest, FolderThatCannotBeCreatedFailsTheStep) {
  InstallPrograms();
  CreateAuto(work_);
  // A file where the start-menu folder of the product would go.
  WriteBytes(StartMenu() + u"Mivo", "in the way");
  TSetupActionShortcuts action;
  try {
    action.Execute();
    ADD_FAILURE() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_NE(U8(e.Message()).find("Cannot create the shortcut \"" + U8(StartMenu()) + "Mivo\\"),
              std::string::npos)
        << U8(e.Message());
  }
  EXPECT_EQ(LinkTarget(Desktop() + u"Mivo.lnk"), U8(work_) + "Mivo.exe");
  platform::RemoveFile(StartMenu() + u"Mivo");
}

TEST_F(ShortcutsTest, ShortcutsSummary) {
  const String heading = u"Shortcuts:\r\n";
  struct Case {
    bool portable;
    int desktop, startMenu;  // -1: not stored
    const char16_t* expected;
  };
  CreateAuto(work_);
  ASSERT_EQ(Text(u"PageIntegration", u"LB1") + u":\r\n", heading);
  const String desktop = u" * " + Caption(u"PageIntegration", u"CB1") + u"\r\n";
  const String startMenu = u" * " + Caption(u"PageIntegration", u"CB2") + u"\r\n";
  EXPECT_EQ(U8(Summary<TSetupActionShortcuts>()), U8(heading + desktop + startMenu));
  Choose(u"Integration", {{u"ShortcutDesktop", false}});
  EXPECT_EQ(U8(Summary<TSetupActionShortcuts>()), U8(heading + startMenu));
  Choose(u"Integration", {{u"ShortcutStartMenu", false}});
  EXPECT_EQ(U8(Summary<TSetupActionShortcuts>()), "");
}

// ---- add-ons ----

#ifndef _WIN32
TEST_F(IntegrationTest, AddonInstallerStartedWithTheChosenAddons) {
  struct Case {
    const char* name;
    bool viewer, extensions, shortcuts;
    const char* parameters;  // null: nothing started
  };
  // The demo's template is "/LANG=RU %s/FROM=MIVO"; P1 /NOEXTENSIONS, P2
  // /VIEWER, P3 /DESKTOPICONS.
  const Case cases[] = {
      {"extensions only", false, true, false, "/LANG=RU /FROM=MIVO"},
      {"viewer only", true, false, false, "/LANG=RU /NOEXTENSIONS /VIEWER /FROM=MIVO"},
      {"shortcuts only", false, false, true, "/LANG=RU /NOEXTENSIONS /DESKTOPICONS /FROM=MIVO"},
      {"all three", true, true, true, "/LANG=RU /VIEWER /DESKTOPICONS /FROM=MIVO"},
      {"none", false, false, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    CreateAuto(work_);
    const String installer = platform::TempFolder() + u"MivoToolsSetup.exe";
    WriteBytes(installer, "an older copy");
    platform::standin::SetShellHook([](const platform::TShellExecuteParams&) { return 0u; });
    Choose(u"Common", {{u"AddonsViewer", c.viewer},
                       {u"AddonsExtensions", c.extensions},
                       {u"AddonsShortcuts", c.shortcuts}});
    auto step = std::make_unique<TSetupActionAddonsInstall>();
    step->Execute();
    const auto calls = platform::standin::ShellCalls();
    if (!c.parameters) {
      EXPECT_TRUE(calls.empty());
      EXPECT_EQ(FileBytes(installer), "an older copy");
      continue;
    }
    ASSERT_EQ(calls.size(), 1u);
    // Not the file planted in the temporary folder: a fresh one in a folder
    // of its own there, which only administrators may change.
    const String folder = ExtractFilePath(calls[0].file);
    EXPECT_EQ(ExtractFilePath(ExcludeTrailingBackslash(folder)), platform::TempFolder());
    EXPECT_TRUE(StartsWith(ExtractFileName(ExcludeTrailingBackslash(folder)),
                           TSetupActionAddonsInstall::kFolderPrefix));
    EXPECT_EQ(ExtractFileName(calls[0].file), u"MivoToolsSetup.exe");
    EXPECT_EQ(U8(calls[0].parameters), c.parameters);
    EXPECT_EQ(U8(calls[0].verb), "");
    EXPECT_EQ(FileBytes(calls[0].file), "MZ tools");
    EXPECT_EQ(FileBytes(installer), "an older copy");
    platform::TSecurityInfo security;
    ASSERT_TRUE(platform::ReadSecurityInfo(folder, security));
    EXPECT_EQ(platform::AccountsWithWriteAccess(security),
              (std::vector<String>{platform::kSidAdministrators, platform::kSidLocalSystem}));
    // Held while the step lives: nobody may write or rename it meanwhile.
    EXPECT_FALSE(platform::OpenFileShared(calls[0].file, platform::kGenericWrite,
                                          platform::kFileShareRead | platform::kFileShareWrite |
                                              platform::kFileShareDelete,
                                          platform::kOpenExisting));
    EXPECT_FALSE(platform::MoveFileTo(calls[0].file, folder + u"other.exe"));
    // Its folder goes with the step.
    step.reset();
    EXPECT_FALSE(platform::DirectoryExists(folder));
  }
}

// With the first, unelevated process waiting, the installer starts there,
// as the interactive user, with its parameters.
TEST_F(IntegrationTest, AddonInstallerStartsAsTheInteractiveUser) {
  CreateAuto(work_);
  Choose(u"Common", {{u"AddonsViewer", true}});
  platform::standin::SetShellHook([](const platform::TShellExecuteParams&) { return 0u; });
  // The first process's spawn window, as it receives start requests.
  std::vector<String> requests;
  const platform::WindowHandle partner = platform::CreateMessageWindow(
      u"TSetupSpawnService",
      [&](platform::WindowHandle w, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (msg == platform::kWmCopyData && lp != 0) {
          const auto* data = reinterpret_cast<const platform::TCopyData*>(lp);
          requests.emplace_back(static_cast<const char16_t*>(data->lpData), data->cbData / 2);
        }
        return platform::DefaultHandler(w, msg, wp, lp);
      });
  TSetupSpawnService::ResetForTests();
  TSetupSpawnService::Initialize(partner);
  TSetupActionAddonsInstall().Execute();
  TSetupSpawnService::ResetForTests();
  platform::DestroyMessageWindow(partner);
  EXPECT_TRUE(platform::standin::ShellCalls().empty());  // nothing started elevated
  ASSERT_EQ(requests.size(), 1u);
  const size_t end = requests[0].find(u'\0');
  ASSERT_NE(end, String::npos);
  EXPECT_EQ(ExtractFileName(requests[0].substr(0, end)), u"MivoToolsSetup.exe");
  EXPECT_EQ(U8(requests[0].substr(end + 1)), "/LANG=RU /NOEXTENSIONS /VIEWER /FROM=MIVO");
}

TEST_F(IntegrationTest, AddonInstallerThatCannotStartOrBeWritten) {
  CreateAuto(work_);
  Choose(u"Common", {{u"AddonsViewer", true}});
  const String installer = platform::TempFolder() + u"MivoToolsSetup.exe";
  platform::standin::SetShellHook(
      [](const platform::TShellExecuteParams&) { return platform::kErrorAccessDenied; });
  EXPECT_NO_THROW(TSetupActionAddonsInstall().Execute());
  // A file held open at the old place in the temporary folder is no matter.
  WriteBytes(installer, "planted");
  platform::standin::SetShellHook([](const platform::TShellExecuteParams&) { return 0u; });
  std::unique_ptr<TStream> holder = platform::OpenFileShared(
      installer, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  const size_t before = platform::standin::ShellCalls().size();
  EXPECT_NO_THROW(TSetupActionAddonsInstall().Execute());
  const auto calls = platform::standin::ShellCalls();
  ASSERT_EQ(calls.size(), before + 1);
  EXPECT_NE(calls.back().file, installer);
  // Without a temporary folder to make its folder in, nothing starts.
  platform::standin::SetTempFolder(u"C:\\Missing\\");
  EXPECT_NO_THROW(TSetupActionAddonsInstall().Execute());
  EXPECT_EQ(platform::standin::ShellCalls().size(), before + 1);
}

// The add-on installer still runs when the run ends (its user is in its
// wizard): its file and folder are left to the next restart, without
// waiting for it.
TEST_F(IntegrationTest, AddonInstallerStillRunningAtTheEnd) {
  CreateAuto(work_);
  Choose(u"Common", {{u"AddonsViewer", true}});
  std::unique_ptr<TStream> running;
  platform::standin::SetShellHook([&](const platform::TShellExecuteParams& params) {
    running = platform::OpenFileShared(params.file, platform::kGenericRead,
                                       platform::kFileShareRead, platform::kOpenExisting);
    return 0u;
  });
  platform_test::TPendingRenames pending;
  auto step = std::make_unique<TSetupActionAddonsInstall>();
  step->Execute();
  ASSERT_NE(running, nullptr);
  const String file = platform::standin::ShellCalls().back().file;
  step.reset();
  EXPECT_TRUE(platform::FileExists(file));
  const std::vector<String> added = pending.Added();
  const auto left = [&](const String& path) {
    return std::any_of(added.begin(), added.end(),
                       [&](const String& entry) { return entry.find(path) != String::npos; });
  };
  EXPECT_TRUE(left(file));
  EXPECT_TRUE(left(ExcludeTrailingBackslash(ExtractFilePath(file))));
}

// Somebody who may write the folder changes the file between its writing
// and its holding (each time, or the first few times): it is written anew
// and started once it is held unchanged, or, changed every time, never
// started.
TEST_F(IntegrationTest, AddonInstallerChangedBeforeItIsHeld) {
  CreateAuto(work_);
  Choose(u"Common", {{u"AddonsViewer", true}});
  platform::standin::SetShellHook([](const platform::TShellExecuteParams&) { return 0u; });
  struct Case {
    const char* name;
    int changes;  // the first this many holdings find the file changed
    bool started;
  };
  const Case cases[] = {{"never", 0, true}, {"once", 1, true}, {"always", 1000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = platform::standin::ShellCalls().size();
    int opens = 0, changed = 0;
    bool inHook = false;
    // Every second opening of the file is the one that holds it.
    platform::standin::SetFileHook([&](StringView op, const String& path) {
      if (inHook || op != StringView(u"open") || ExtractFileName(path) != u"MivoToolsSetup.exe")
        return;
      if (++opens % 2 != 0 || changed >= c.changes) return;
      inHook = true;
      WriteBytes(path, "MZ somebody else's");
      inHook = false;
      ++changed;
    });
    auto step = std::make_unique<TSetupActionAddonsInstall>();
    step->Execute();
    platform::standin::SetFileHook(nullptr);
    const auto calls = platform::standin::ShellCalls();
    if (!c.started) {
      EXPECT_EQ(calls.size(), before);
      EXPECT_GT(changed, 1);
      continue;
    }
    ASSERT_EQ(calls.size(), before + 1);
    EXPECT_EQ(changed, c.changes);
    EXPECT_EQ(FileBytes(calls.back().file), "MZ tools");
  }
}
#endif

TEST_F(IntegrationTest, AddonDescriptionsThatCannotBeUsed) {
  CreateAuto(work_);
  Choose(u"Common", {{u"AddonsViewer", true}});
  struct Case {
    const char* name;
    const char16_t* lines;
  };
  const Case cases[] = {
      {"a number in the template", u"P4=MivoToolsSetup.exe\r\nCL=/LANG=%d %s"},
      {"two texts in the template", u"P4=MivoToolsSetup.exe\r\nCL=%s %s"},
      {"a specifier unknown", u"P4=MivoToolsSetup.exe\r\nCL=%x"},
      {"a percent sign at the end", u"P4=MivoToolsSetup.exe\r\nCL=/A %s %"},
      {"an installer outside the temporary folder", u"P4=..\\..\\Tools.exe\r\nCL=%s"},
      {"an installer named by a folder", u"P4=Tools\\\r\nCL=%s"},
      {"no installer", u"CL=%s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVelStringList description;
    description.SetText(c.lines);
    TSetupActionAddonsInstall action;
    try {
      action.InstallerPath(description);
      action.Parameters(description);
      ADD_FAILURE() << "accepted";
    } catch (const EInstallerInstallError& e) {
      EXPECT_FALSE(e.Message().empty());
    }
  }
  // Without a specifier the template is the whole command line.
  TVelStringList plain;
  plain.SetText(u"P4=MivoToolsSetup.exe\r\nCL=/SILENT");
  EXPECT_EQ(U8(TSetupActionAddonsInstall().Parameters(plain)), "/SILENT");
}

TEST_F(IntegrationTest, AddonsSummary) {
  CreateAuto(work_);
  EXPECT_EQ(U8(Summary<TSetupActionAddonsInstall>()), "");
  Choose(u"Common", {{u"AddonsViewer", true}, {u"AddonsShortcuts", true}});
  EXPECT_EQ(U8(Summary<TSetupActionAddonsInstall>()),
            U8(Text(u"PageAddons", u"Title") + u":\r\n * " + Caption(u"PageAddons", u"CB1") +
               u"\r\n * " + Caption(u"PageAddons", u"CB3") + u"\r\n"));
}

}  // namespace
}  // namespace product_test
