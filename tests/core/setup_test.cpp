// The controller: switches, options and their rules, the destination, the
// settings store's defaults, listeners and sending, starting and finishing.
#include "core/dest_folder.h"
#include "core_test_util.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "resources/installer_errors.h"

namespace core_test {
namespace {

constexpr TSetupOptions kAuto = OptionBit(TSetupOption::Auto);
constexpr TSetupOptions kPortable = OptionBit(TSetupOption::Portable);
constexpr TSetupOptions kUpdate = OptionBit(TSetupOption::Update);
constexpr TSetupOptions kSilent = OptionBit(TSetupOption::Silent);
constexpr TSetupOptions kRun = OptionBit(TSetupOption::Run);
constexpr TSetupOptions kNoBackup = OptionBit(TSetupOption::NoBackup);

using SetupTest = CoreTest;

TEST(ProductInfo, VersionText) {
  struct TCase {
    int32_t version;
    const char* text;
  } cases[] = {{5400, "5.40"}, {5402, "5.40"}, {3010, "3.01"},  {4009, "4.00"},
               {4090, "4.09"}, {0, "0.00"},    {-1500, "-1.50"}};
  for (const auto& c : cases) EXPECT_EQ(U8(VersionText(c.version)), c.text) << c.version;
}

TEST_F(SetupTest, WithoutAProductClassSetupIsMalformed) {
  SetProductInfoClass(nullptr);
  EXPECT_EQ(MessageOf([&] { Create(u""); }), "Setup is malformed");
  EXPECT_EQ(::Setup, nullptr);
}

TEST_F(SetupTest, TheGlobalReferenceLivesWithTheController) {
  TSetup& setup = CreateAuto();
  EXPECT_EQ(::Setup, &setup);
  EXPECT_NE(setup.NotifyWindow(), 0u);
  setup_.reset();
  EXPECT_EQ(::Setup, nullptr);
}

// Switches, the installed product at the destination, and the options and
// destination that result.
TEST_F(SetupTest, ParseCommandLine) {
  const String old = work_ + u"Old\\";
  const String older = work_ + u"Older\\";
  const String portable = work_ + u"Portable\\";
  WriteConfig(old, 5400, true);
  WriteConfig(older, 3499, true);
  WriteConfig(portable, 3500, false);
  TSetup* probe = nullptr;
  const String programFiles = [&] {
    probe = &CreateAuto();
    String folder = probe->Resources().ProgramFilesDir();
    setup_.reset();
    return folder;
  }();
  const String defaultPath = programFiles + u"TestApp\\";
  struct TCase {
    String arguments;
    TSetupOptions options;
    String dest;
  } cases[] = {
      {u"", 0, defaultPath},
      {u"/SILENT /PORTABLE", 0, defaultPath},  // without AUTO nothing is read
      {u"/AUTO", kAuto, defaultPath},
      {u"/auto /silent", kAuto | kSilent, defaultPath},
      {u"/AUTO=\"" + work_ + u"\" /SILENT /NOBACKUP /RUN", kAuto | kSilent | kNoBackup | kRun,
       work_},
      {u"/AUTO=" + work_ + u"New /PORTABLE", kAuto | kPortable, work_ + u"New\\"},
      {u"/AUTO=\"" + programFiles + u"X\" /PORTABLE", kAuto, programFiles + u"X\\"},
      {u"", kUpdate, old},  // no switches: the default folder, here given by hand below
      {u"/AUTO=" + old, kAuto | kUpdate, old},
      {u"/AUTO=" + older, kAuto, older},
      {u"/AUTO=" + portable + u" /UPDATE /SILENT", kAuto | kUpdate | kPortable, portable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.arguments));
    TSetup& setup = Create(c.arguments);
    if (c.arguments.empty() && c.dest == old) setup.SetDestPath(old);
    EXPECT_EQ(setup.RunKind(), TSetupRunKind::Install);
    EXPECT_EQ(setup.Options(), c.options);
    EXPECT_EQ(U8(setup.GetDestPath()), U8(c.dest));
    setup_.reset();
  }
  // UPDATE without an installation that accepts it.
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=" + work_ + u" /UPDATE"); }),
            "Cannot install update on v0.00");
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=" + older + u" /UPDATE /SILENT"); }),
            "Cannot install update on v3.49");
  EXPECT_THROW(Create(u"/AUTO /UPDATE"), EInstallerUpdateError);
  EXPECT_EQ(::Setup, nullptr);
}

TEST_F(SetupTest, OptionRules) {
  TSetup& setup = Create(u"/AUTO=\"" + work_ + u"\"");
  ASSERT_EQ(setup.Options(), kAuto);
  setup.SetOption(TSetupOption::NoBackup, true);
  setup.SetOption(TSetupOption::Portable, true);
  EXPECT_EQ(setup.Options(), kAuto | kNoBackup | kPortable);
  setup.SetOption(8, true);
  setup.SetOption(-1, true);
  EXPECT_EQ(setup.Options(), kAuto | kNoBackup | kPortable);
  EXPECT_FALSE(setup.IsOptionSet(8));
  EXPECT_TRUE(setup.IsOptionSet(1));
  // Update needs an installation that accepts it.
  setup.SetOption(TSetupOption::Update, true);
  EXPECT_FALSE(setup.IsOptionSet(TSetupOption::Update));
  // Auto and Silent never change.
  EXPECT_EQ(MessageOf([&] { setup.SetOption(TSetupOption::Silent, true); }), "Invalid Arguments");
  EXPECT_THROW(setup.SetOption(TSetupOption::Auto, false), EInstallerMysteryError);
  EXPECT_NO_THROW(setup.SetOptions(setup.Options()));
  // Inside a program-files folder Portable never stays.
  setup.SetDestPath(setup.Resources().ProgramFilesX86Dir() + u"TestApp");
  EXPECT_TRUE(setup.IsDestInProgramFiles());
  EXPECT_FALSE(setup.IsOptionSet(TSetupOption::Portable));
  setup.SetOption(TSetupOption::Portable, true);
  EXPECT_FALSE(setup.IsOptionSet(TSetupOption::Portable));
  // A destination shorter than the folder never matches.
  const String pf = setup.Resources().ProgramFilesDir();
  setup.SetDestPath(pf.substr(0, pf.size() - 1));
  EXPECT_TRUE(setup.IsDestInProgramFiles());  // the backslash is added
  setup.SetDestPath(pf.substr(0, pf.size() - 2));
  EXPECT_FALSE(setup.IsDestInProgramFiles());
}

TEST_F(SetupTest, SetDestPathNormalisesAndRecomputes) {
  const String old = work_ + u"Old\\";
  WriteConfig(old, 5000, false);
  TSetup& setup = Create(u"/AUTO=\"" + work_ + u"\"");
  int calls = Scenario().loadConfigCalls;
  setup.SetDestPath(old);
  EXPECT_EQ(Scenario().loadConfigCalls, ++calls);
  EXPECT_EQ(setup.Options(), kAuto | kUpdate | kPortable);
  // The identical string again: nothing is recomputed, not even options
  // changed by hand since.
  setup.SetOption(TSetupOption::Portable, false);
  setup.SetDestPath(old);
  EXPECT_EQ(Scenario().loadConfigCalls, calls);
  EXPECT_EQ(setup.Options(), kAuto | kUpdate);
  // Written differently but the same folder: everything again.
  setup.SetDestPath(work_ + u"Sub\\..\\Old");
  EXPECT_EQ(Scenario().loadConfigCalls, ++calls);
  EXPECT_EQ(U8(setup.GetDestPath()), U8(old));
  EXPECT_EQ(setup.Options(), kAuto | kUpdate | kPortable);
  // A folder without an installation clears Update.
  setup.SetDestPath(work_ + u".\\New");
  EXPECT_EQ(U8(setup.GetDestPath()), U8(work_ + u"New\\"));
  EXPECT_EQ(setup.Options(), kAuto | kPortable);
  setup.SetDestPath(u"");
  EXPECT_EQ(setup.GetDestPath(), u"");
  EXPECT_EQ(MessageOf([&] { setup.StartInstall(false); }), "DestPath is empty");
  EXPECT_EQ(setup.State(), TSetupState::Idle);
}

TEST_F(SetupTest, DestinationMeansExactlyOneFolder) {
  const char* const kReserved =
      "a folder name cannot contain control characters or any of < > : \" | ? *";
  const char* const kTrailing = "a folder name cannot end with a dot or a space";
  const char* const kDevicePath = "device paths (\\\\.\\ and \\\\?\\) are not accepted";
  struct TCase {
    String given;
    const char* dest;     // as the controller holds it
    const char* problem;  // why it is refused; empty when it is not
  } cases[] = {
      {u"C:\\Up\\A\\..", "C:\\Up\\", ""},
      {u"C:/Program Files/Mivo", "C:\\Program Files\\Mivo\\", ""},
      {u"C:\\Up\\.\\B\\\\C", "C:\\Up\\B\\C\\", ""},
      {u"C:\\$TEMP\\$NAME x", "C:\\$TEMP\\$NAME x\\", ""},
      {u"C:\\COM10\\a.b", "C:\\COM10\\a.b\\", ""},
      {u"C:\\Trail. \\", "", kTrailing},
      {u"C:\\Trail.", "", kTrailing},
      {u"C:\\Trail \\..\\x", "", kTrailing},
      {u"C:\\Bad?Name\\", "", kReserved},
      {u"C:\\A:B\\", "", kReserved},
      {u"C:\\Mivo\\\"", "", kReserved},
      {u"C:\\Tab\tName", "", kReserved},
      {u"C:\\ Lead", "", "a folder name cannot begin with a space"},
      {u"C:\\CON\\", "", "\"CON\" is the name of a device"},
      {u"C:\\x\\lpt1 .txt", "", "\"lpt1 .txt\" is the name of a device"},
      {u"\\\\.\\C:\\Mivo", "", kDevicePath},
      {u"\\\\?\\C:\\Mivo", "", kDevicePath},
      {u"//?/C:/Mivo", "", kDevicePath},
      {u"C:\\" + String(256, u'x'), "", "a folder name is longer than 255 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.given));
    EXPECT_EQ(U8(DestPathProblem(c.given)), c.problem);
    const String arguments = u"/AUTO=\"" + c.given + u"\" /SILENT";
    if (*c.problem) {
      // Refused before anything exists, with the folder and the reason.
      if (c.given.find(u'"') == String::npos) {
        EXPECT_EQ(
            MessageOf([&] { Create(arguments); }),
            "The destination folder \"" + U8(c.given) + "\" cannot be used: " + c.problem + ".");
        EXPECT_EQ(::Setup, nullptr);
      }
      continue;
    }
    EXPECT_EQ(U8(NormalizeDestPath(c.given)), c.dest);
    TSetup& setup = Create(arguments);
    EXPECT_EQ(U8(setup.GetDestPath()), c.dest);
    setup_.reset();
  }
  EXPECT_EQ(U8(DestPathProblem(u"")), "no folder is named");
  // Text after the folder makes a second value: refused, not joined.
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=\"C:\\Quote\\\"x /SILENT"); }),
            "The destination folder \"C:\\Quote\\;x\" cannot be used: it is written as several "
            "values; put the whole folder in quotes.");
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=C:\\a;b"); }),
            "The destination folder \"C:\\a;b\" cannot be used: it is written as several values; "
            "put the whole folder in quotes.");
#ifdef _WIN32
  // Network shares (the stand-in has none).
  EXPECT_EQ(U8(NormalizeDestPath(u"\\\\server\\share\\A\\..\\B")), "\\\\server\\share\\B\\");
  EXPECT_EQ(U8(DestPathProblem(u"\\\\server\\share\\B\\")), "");
#endif

  // A folder that a page gave is refused when the run would start.
  TSetup& setup = Create(u"/AUTO=\"" + work_ + u"\"");
  setup.SetDestPath(u"C:\\Bad|Name");
  EXPECT_EQ(U8(setup.GetDestPath()), "C:\\Bad|Name");
  EXPECT_EQ(
      MessageOf([&] { setup.StartInstall(false); }),
      "The destination folder \"C:\\Bad|Name\" cannot be used: " + std::string(kReserved) + ".");
  EXPECT_EQ(setup.State(), TSetupState::Idle);
}

TEST_F(SetupTest, SettingDefaults) {
  struct TCase {
    const char16_t* section;
    const char16_t* key;
    bool plain, autoUpdateRun, portable;
  } cases[] = {
      {u"Actions", u"$DESTTestApp.exe", false, true, false},
      {u"Common", u"AddonsViewer", false, false, false},
      {u"Common", u"AddonsShortcuts", false, false, false},
      {u"Integration", u"IntegrateToWindows", true, true, true},
      {u"Integration", u"AssociateWithFiles", true, true, true},
      {u"Integration", u"ShortcutDesktop", true, true, false},
      {u"integration", u"shortcutstartmenu", true, true, false},
      {u"Common", u"RemoveBackups", false, true, true},
      {u"Common", u"RemoveContent", false, false, false},
  };
  const String old = work_ + u"Old\\";
  WriteConfig(old, 5000, true);
  TSetup& plain = Create(u"");
  for (const auto& c : cases) EXPECT_EQ(plain.ReadSetting(c.section, c.key), c.plain) << U8(c.key);
  TSetup& update = Create(u"/AUTO=" + old + u" /UPDATE /RUN");
  for (const auto& c : cases)
    EXPECT_EQ(update.ReadSetting(c.section, c.key), c.autoUpdateRun) << U8(c.key);
  TSetup& portable = Create(u"/AUTO=" + work_ + u" /PORTABLE");
  for (const auto& c : cases)
    EXPECT_EQ(portable.ReadSetting(c.section, c.key), c.portable) << U8(c.key);
  // A stored value wins.
  portable.Settings.WriteBool(u"Integration", u"ShortcutDesktop", true);
  EXPECT_TRUE(portable.ReadSetting(u"Integration", u"ShortcutDesktop"));
}

TEST_F(SetupTest, ListenersHearTheLastRegisteredFirst) {
  TSetup& setup = CreateAuto();
  std::vector<std::string> heard;
  struct TNamed : IInstallerNotify {
    TNamed(const char* n, std::vector<std::string>& h) : name(n), heard(h) {}
    void Notify(uint32_t code, uintptr_t) override { heard.push_back(name + std::to_string(code)); }
    std::string name;
    std::vector<std::string>& heard;
  } a("A", heard), b("B", heard);
  setup.AddListener(&a);
  setup.AddListener(&b);
  setup.AddListener(&a);
  setup.SendCode(NotifyPageState, 0);
  EXPECT_EQ(heard, (std::vector<std::string>{"A5", "B5", "A5"}));
  heard.clear();
  setup.RemoveListener(&a);  // the first registration goes
  setup.SendCode(NotifyPageState, 0);
  EXPECT_EQ(heard, (std::vector<std::string>{"A5", "B5"}));
}

TEST_F(SetupTest, TextsTravelByValueAndForeignCopiesAreIgnored) {
  TSetup& setup = CreateAuto();
  TRecorder recorder;
  setup.AddListener(&recorder);
  setup.SendText(NotifyStatus, u"Copying \u00e9\u4e2d");
  setup.SendText(NotifyStatus, u"");
  // From another window: ignored.
  const String text = u"foreign";
  platform::SendCopyData(setup.NotifyWindow(), setup.NotifyWindow() + 1, NotifyStatus, text.data(),
                         static_cast<uint32_t>(text.size() * 2));
  platform::Send(setup.NotifyWindow(), platform::kWmCopyData, setup.NotifyWindow(), 0);
  ASSERT_EQ(recorder.entries.size(), 2u);
  EXPECT_EQ(recorder.entries[0].text, u"Copying \u00e9\u4e2d");
  EXPECT_EQ(recorder.entries[1].text, u"");
  // NotifyFinished with 1 records the cancel text.
  setup.Broadcast(NotifyFinished, 1);
  EXPECT_EQ(setup.State(), TSetupState::Done);
  EXPECT_EQ(U8(setup.Errors.Text()), "Installation was cancelled by the user\r\n");
}

TEST_F(SetupTest, ResourcesAskTheController) {
  TSetup& setup = CreateAuto();
  EXPECT_EQ(U8(setup.Resources().ExpandText(u"$NAME $VERSION $LINK $DEST")),
            "TestApp 5.50, 2024-01-01 https://testapp.example/ " + U8(work_));
  EXPECT_TRUE(setup.IsAutoRun());
  EXPECT_EQ(setup.ProductInfo().GetProductVersionId(), 5500);
}

#ifndef _WIN32
// An uninstaller: the data package holds "Uninstall.ini".
TEST_F(SetupTest, UninstallRunsReadOnlyAutoAndSilent) {
  TSetupPackageBuilder builder;
  TMemoryStream script(ReadHostFile(std::string(MIVO_TEST_DATA) + "/core/product/Install.xml"));
  builder.Add(script, u"Install.xml");
  TMemoryStream record;
  builder.Add(record, u"Uninstall.ini");
  TMemoryStream package;
  builder.Commit(package, 1);
  platform::standin::SetDataResource(u"PRODUCT", package.Bytes());
  struct TCase {
    const char16_t* arguments;
    TSetupOptions options;
  } cases[] = {{u"", 0},
               {u"/SILENT", 0},
               {u"/AUTO /SILENT /PORTABLE /NOBACKUP", kAuto | kSilent},
               {u"/AUTO=C:\\X /UPDATE", kAuto}};
  for (const auto& c : cases) {
    TSetup& setup = Create(c.arguments);
    EXPECT_EQ(setup.RunKind(), TSetupRunKind::Uninstall) << U8(c.arguments);
    EXPECT_EQ(setup.Options(), c.options) << U8(c.arguments);
    EXPECT_EQ(setup.GetDestPath(), u"");
  }
}

// Finish starts the chosen programs of the script's "Actions" group through
// the desktop shell, only after an installation without errors.
TEST_F(SetupTest, FinishStartsTheChosenPrograms) {
  const String old = work_ + u"Old\\";
  WriteConfig(old, 5000, true);
  auto started = [] {
    std::vector<std::string> files;
    for (const auto& call : platform::standin::ShellCalls())
      files.push_back(U8(call.file) + " " + U8(call.parameters));
    return files;
  };
  platform::standin::SetShellHook([](const platform::TShellExecuteParams&) { return 0u; });
  Create(u"/AUTO=\"" + work_ + u"\"").Finish();  // nothing chosen by default
  EXPECT_TRUE(started().empty());

  TSetup& setup = Create(u"/AUTO=\"" + old + u"\" /UPDATE /RUN");
  setup.Settings.WriteBool(u"Actions", u"$DESTReadme.txt", false);
  setup.Finish();
  EXPECT_EQ(started(),
            std::vector<std::string>{"C:\\Windows\\explorer.exe \"" + U8(old) + "TestApp.exe\""});

  TSetup& failed = Create(u"/AUTO=\"" + old + u"\" /UPDATE /RUN");
  AddSetupError(u"failed");
  failed.Finish();
  EXPECT_EQ(started().size(), 1u);
}
#endif

}  // namespace
}  // namespace core_test
