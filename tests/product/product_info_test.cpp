#include <set>

#include "core/setup_action.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/app_repo.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "product/setup_classes.h"
#include "product_test_util.h"

namespace product_test {
namespace {

using Names = std::vector<String>;

TEST_F(ProductTest, RegistersItselfBeforeTheProgramRuns) {
  ASSERT_NE(ProductInfoClass(), nullptr);
  auto product = ProductInfoClass()();
  EXPECT_NE(dynamic_cast<TProductInfoMivo*>(product.get()), nullptr);
}

TEST_F(ProductTest, ScriptSettingsOfTheDemo) {
  CreateAuto(work_);
  TSetupProductInfo& info = Product();
  EXPECT_EQ(info.GetProductName(), u"Mivo");
  EXPECT_EQ(info.GetProductVersion(), u"5.50");
  EXPECT_EQ(info.GetProductVersionId(), 5500);
  EXPECT_EQ(info.GetProductVersionNo(), u"5.50.0.5500");
  EXPECT_EQ(info.GetProductVersionInfo(), u"5.50, 2025-03-03");
  EXPECT_EQ(info.GetPublisher(), u"Mivo Team");
  EXPECT_EQ(info.GetHomePage(), u"https://mivo.example/");

  // The last line of a name wins.
  setup_->Resources().Script().Settings.Add(u"productversionid=abc");
  EXPECT_EQ(info.GetProductVersionId(), 0);
  setup_->Resources().Script().Settings.Add(u"ProductName=");
  EXPECT_THROW(info.GetProductName(), EInstallerGeneralError);
  try {
    info.GetDefaultPortablePath();
    ADD_FAILURE() << "no error";
  } catch (const EInstallerGeneralError& e) {
    EXPECT_EQ(U8(e.Message()), "Setup has wrong config");
  }
}

TEST_F(ProductTest, InstalledVersionDecidesUpdates) {
  CreateAuto(work_);
  struct Case {
    int32_t version;
    bool canUpdate;
    const char* text;
  };
  const Case cases[] = {{0, false, "0.00"},   {3499, false, "3.49"}, {3500, true, "3.50"},
                        {5402, true, "5.40"}, {5499, true, "5.49"},  {5500, false, "5.50"},
                        {4009, true, "4.00"}, {4090, true, "4.09"},  {-1, false, "-0.00"}};
  for (const auto& c : cases) {
    WriteConfig(work_, c.version, u"1");
    Product().LoadConfig();
    EXPECT_EQ(Product().GetInstalledVersion(), c.version);
    EXPECT_EQ(Product().CanUpdate(), c.canUpdate) << c.version;
    EXPECT_EQ(U8(Product().GetInstalledVersionText()), c.text) << c.version;
  }
}

TEST_F(ProductTest, ConfigurationFileOfTheDestination) {
  const String gen3 = work_ + u"Gen3\\", both = work_ + u"Both\\", none = work_ + u"None\\";
  WriteConfig(work_, 5400, u"0");
  WriteConfig(gen3, 3600, nullptr, u"Mivo3.ini");
  WriteConfig(both, 5300, u"0");
  WriteConfig(both, 3600, u"1", u"Mivo3.ini");
  ASSERT_TRUE(platform::CreateFolder(none));
  CreateAuto(none);

  struct Case {
    String dest;
    int32_t version;
    bool canUpdate, portable;
  };
  const Case cases[] = {{work_, 5400, true, true},
                        {gen3, 3600, true, false},
                        {both, 5300, true, true},
                        {none, 0, false, false}};
  for (const auto& c : cases) {
    setup_->SetDestPath(c.dest);
    EXPECT_EQ(Product().GetInstalledVersion(), c.version) << U8(c.dest);
    EXPECT_EQ(Product().CanUpdate(), c.canUpdate) << U8(c.dest);
    EXPECT_EQ(Product().IsPortable(), c.portable) << U8(c.dest);
  }
}

TEST_F(ProductTest, IntegrationChoicesFollowTheDestination) {
  const String other = work_ + u"Other\\";
  ASSERT_TRUE(platform::CreateFolder(other));
  WriteConfig(work_, 5400, u"1", u"Mivo.ini", u"AssociateWithFiles=0\r\nShortcutDesktop=1\r\n");
  TSetup& setup = CreateAuto(work_);
  setup.Settings.WriteBool(u"Common", u"RemoveBackups", true);
  EXPECT_FALSE(setup.Settings.ReadBool(u"Integration", u"AssociateWithFiles", true));
  EXPECT_TRUE(setup.Settings.ReadBool(u"Integration", u"ShortcutDesktop", false));

  setup.SetDestPath(other);
  EXPECT_EQ(Product().GetInstalledVersion(), 0);
  EXPECT_EQ(setup.Settings.GetSectionText(u"Integration"), u"");
  EXPECT_TRUE(setup.Settings.ReadBool(u"Integration", u"AssociateWithFiles", true));
  EXPECT_TRUE(setup.Settings.ReadBool(u"Common", u"RemoveBackups", false));
}

#ifndef _WIN32

std::string Joined(const Names& names) {
  std::string text;
  for (const auto& n : names) text += (text.empty() ? "" : ", ") + U8(n);
  return text;
}

TEST_F(ProductTest, ActionsAndPagesOfAnInteractiveRussianInstallation) {
  platform::standin::SetUserDefaultUILanguage(1049);
  Create(u"");
  EXPECT_EQ(setup_->Resources().LangName(), u"Russian");
  EXPECT_EQ(Joined(ActionNames()),
            "TSetupActionCloseApplications, TSetupActionPrepare, TSetupActionAddonsInstall, "
            "TSetupActionExtract, TSetupActionConfig, TSetupActionIntegrate, "
            "TSetupActionShortcuts, TSetupActionUpdateShellCache");
  EXPECT_EQ(Joined(PageNames()),
            "TSetupPageWelcome, TSetupPageLicense, TSetupPageSetup, TSetupPageAddons, "
            "TSetupPageIntegration, TSetupPageReadyToInstall");

  // Portable: no registration with Windows; shortcuts stay.
  setup_->SetDestPath(u"D:\\Portable\\");
  setup_->SetOption(TSetupOption::Portable, true);
  EXPECT_EQ(Joined(ActionNames()),
            "TSetupActionCloseApplications, TSetupActionPrepare, TSetupActionAddonsInstall, "
            "TSetupActionExtract, TSetupActionConfig, TSetupActionShortcuts, "
            "TSetupActionUpdateShellCache");
}

TEST_F(ProductTest, NoAddonsInOtherLanguagesOrAutomaticRuns) {
  Create(u"");  // English
  EXPECT_FALSE(TProductInfoMivo::AddonsAvailable());
  EXPECT_EQ(Joined(PageNames()),
            "TSetupPageWelcome, TSetupPageLicense, TSetupPageSetup, TSetupPageIntegration, "
            "TSetupPageReadyToInstall");
  setup_.reset();
  platform::standin::SetUserDefaultUILanguage(1049);
  Create(u"/AUTO");
  EXPECT_EQ(setup_->Resources().LangName(), u"Russian");
  EXPECT_FALSE(TProductInfoMivo::AddonsAvailable());
}

TEST_F(ProductTest, AutomaticUpdateOnWindows81) {
  platform::standin::SetWindowsVersion({6, 3, 9600});
  WriteConfig(work_, 5400, u"1");
  Create(u"/AUTO=\"" + work_ + u"\" /UPDATE");
  ASSERT_TRUE(setup_->IsOptionSet(TSetupOption::Update));
  EXPECT_EQ(Joined(ActionNames()),
            "TSetupActionCloseApplications, TSetupActionPrepare, TSetupActionExtract, "
            "TSetupActionConfig");
}

TEST_F(ProductTest, UninstallRun) {
  UsePackages(true);
  Create(u"");
  ASSERT_EQ(setup_->RunKind(), TSetupRunKind::Uninstall);
  EXPECT_EQ(Joined(ActionNames()),
            "TSetupActionCloseApplications, TSetupActionUninstallIntegration, "
            "TSetupActionUninstallFiles");
  EXPECT_EQ(Joined(PageNames()), "TSetupPageUninstallParams");
}

// Every step that any run lists is in this program: a missing one would stop
// that run with "Setup is malformed".
TEST_F(ProductTest, EveryListedStepIsInThisProgram) {
  std::set<String> names;
  const auto collect = [&] {
    for (const String& name : ActionNames()) names.insert(name);
  };
  platform::standin::SetUserDefaultUILanguage(1049);
  Create(u"");  // add-ons are offered in Russian
  collect();
  setup_->SetDestPath(u"D:\\Portable\\");
  setup_->SetOption(TSetupOption::Portable, true);
  collect();
  setup_.reset();
  UsePackages(true);
  Create(u"");
  collect();
  EXPECT_EQ(names.size(), 10u);  // every step of installations and uninstallations
  for (const String& name : names) EXPECT_NE(FindSetupActionClass(name), nullptr) << U8(name);
}

// The registered classes of the listed names are handed out, in order.
class TNamedAction : public TSetupAction {
 public:
  explicit TNamedAction(const char* name) : name_(name) {}
  void Execute() override {}
  const char* name_;
};

TEST_F(ProductTest, EnumActionsHandsOutTheRegisteredClasses) {
  CreateAuto(work_);
  // Every listed step gets a stand-in class; the program's own come back
  // afterwards.
  std::vector<String> names;
  Product().EnumActionNames([&](const String& name) { names.push_back(name); });
  std::vector<std::pair<String, TSetupActionClass>> own;
  std::vector<std::string> texts;
  for (const String& name : names) {
    if (const TSetupActionClass* actionClass = FindSetupActionClass(name))
      own.emplace_back(name, *actionClass);
    texts.push_back(U8(name));
  }
  for (const std::string& text : texts) {
    const char* name = text.c_str();
    RegisterSetupActionClass(Utf8ToUtf16(text), [name] {
      return std::unique_ptr<TSetupAction>(new TNamedAction(name));
    });
  }
  std::vector<std::string> created;
  const auto collect = [&](const TSetupActionClass& actionClass) {
    const std::unique_ptr<TSetupAction> action = actionClass();
    created.push_back(static_cast<const TNamedAction*>(action.get())->name_);
  };
  Product().EnumActions(collect);
  EXPECT_EQ(created, texts);
  // One listed step missing: the run cannot start.
  created.clear();
  UnregisterSetupClass(names.back());
  EXPECT_EQ(MessageOf([&] { Product().EnumActions(collect); }), "Setup is malformed");
  EXPECT_TRUE(created.empty());
  for (const String& name : names) UnregisterSetupClass(name);
  for (const auto& [name, actionClass] : own) RegisterSetupActionClass(name, actionClass);
}

// A listed step that this program has no class for fails, before anything
// runs: a run without its steps would end "successfully" having done nothing.
TEST_F(ProductTest, AListedStepWithoutAClassIsAFault) {
  RegisterSetupActionClass(u"TTestStepOne", [] {
    return std::unique_ptr<TSetupAction>(new TNamedAction("TTestStepOne"));
  });
  std::vector<std::string> created;
  const auto collect = [&](const TSetupActionClass& actionClass) {
    const std::unique_ptr<TSetupAction> action = actionClass();
    created.push_back(static_cast<const TNamedAction*>(action.get())->name_);
  };
  EnumActionClasses({u"TTestStepOne", u"TTestStepOne"}, collect);
  EXPECT_EQ(created, (std::vector<std::string>{"TTestStepOne", "TTestStepOne"}));
  created.clear();
  EXPECT_EQ(MessageOf([&] { EnumActionClasses({u"TTestStepOne", u"TTestStepMissing"}, collect); }),
            "Setup is malformed");
  EXPECT_TRUE(created.empty());
  EnumActionClasses({}, collect);
  EXPECT_TRUE(created.empty());
  UnregisterSetupClass(u"TTestStepOne");
}

TEST_F(ProductTest, FindInstalledPathOrder) {
  const String player = u"C:\\Program Files\\Player\\", gen3 = u"C:\\Mivo3\\",
               current = u"C:\\Program Files\\Mivo\\";
  for (const auto& folder : {player, gen3, current}) ASSERT_TRUE(platform::CreateFolder(folder));
  String path = u"x";
  EXPECT_FALSE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_EQ(path, u"");

  // The running player: a window of class "TMivoMainForm" of a process.
  platform::TWaitHandle started = platform::NewEvent(true, false);
  platform::standin::RegisterProgram(player + u"Mivo.exe", [&](const String&) -> uint32_t {
    const platform::WindowHandle window = platform::CreateMessageWindow(
        u"TMivoMainForm",
        [](platform::WindowHandle w, uint32_t msg, uintptr_t wp, intptr_t lp) -> intptr_t {
          if (msg == 0x0010) platform::QuitMessageLoop(0);  // WM_CLOSE
          return platform::DefaultHandler(w, msg, wp, lp);
        });
    platform::SignalEvent(started);
    const int result = platform::RunMessageLoop();
    platform::DestroyMessageWindow(window);  // closed before the process ends
    return static_cast<uint32_t>(result);
  });
  platform::TProcessInfo process;
  ASSERT_TRUE(
      platform::StartProcess(u"\"" + player + u"Mivo.exe\"", platform::kSwShowNormal, process));
  ASSERT_EQ(platform::Wait(started, 5000), platform::WaitResult::Signalled);
  // Any program may open such a window: its folder counts only when it holds
  // an installation that only administrators can have put there.
  EXPECT_FALSE(TProductInfoMivo::FindInstalledPath(path));
  Put(player + u"Mivo.exe", "");
  Put(player + u"Uninstall.dat", "");
  EXPECT_TRUE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_EQ(path, player);
  const String downloads = u"C:\\Users\\User\\Downloads\\Mivo\\";
  Put(downloads + u"Mivo.exe", "");
  Put(downloads + u"Uninstall.dat", "");
  EXPECT_FALSE(TProductInfoMivo::HoldsProtectedInstallation(downloads));
  EXPECT_FALSE(TProductInfoMivo::HoldsProtectedInstallation(u"C:\\Program Files\\Empty\\"));

  TSetupAppRepo::Write(u"Mivo3", gen3 + u"Uninstall.exe", u"3.60", u"P", u"H");
  EXPECT_TRUE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_EQ(path, gen3);
  TSetupAppRepo::Write(u"Mivo", current + u"Uninstall.exe", u"5.40", u"P", u"H");
  EXPECT_TRUE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_EQ(path, current);

  // An interactive run proposes the installed copy's folder.
  Create(u"");
  EXPECT_EQ(setup_->GetDestPath(), current);
  TSetupAppRepo::Delete(u"Mivo");
  TSetupAppRepo::Delete(u"Mivo3");
  EXPECT_EQ(Product().GetDefaultPath(), player);

  platform::Post(platform::FindWindowByClass(u"TMivoMainForm"), 0x0010, 0, 0);
  EXPECT_EQ(platform::Wait(process.process, 5000), platform::WaitResult::Signalled);
  EXPECT_EQ(Product().GetDefaultPath(), setup_->Resources().ProgramFilesDir() + u"Mivo\\");
}

#endif  // _WIN32

#if defined(_WIN32) && defined(MIVO_DEMO_PLAYER)

// The demo player built with this program (a host path, seen by Wine on Z:).
String DemoPlayer() {
  String path = Utf8ToUtf16(MIVO_DEMO_PLAYER);
  if (!path.empty() && path[0] == u'/') path = u"Z:" + path;
  for (auto& c : path)
    if (c == u'/') c = u'\\';
  return path;
}

String Quoted(const String& path) {
  String text(1, u'"');
  text += path;
  text += u'"';
  return text;
}

platform::WindowHandle WaitForPlayerWindow() {
  for (int i = 0; i < 200; ++i) {
    if (platform::WindowHandle window = platform::FindWindowByClass(u"TMivoMainForm"))
      return window;
    platform::Wait(platform::NewEvent(true, false), 50);
  }
  return 0;
}

TEST_F(ProductTest, FindInstalledPathFindsTheRunningPlayer) {
  // An uninstall entry would come first: one left by a crashed run in the
  // test prefix (or the stand-in's registry) must not hide what is tested.
  TSetupAppRepo::Delete(u"Mivo");
  TSetupAppRepo::Delete(u"Mivo3");
  String path;
  ASSERT_EQ(platform::FindWindowByClass(u"TMivoMainForm"), 0) << "a player is running already";
  // The player where only administrators can have installed it: a copy in
  // a program-files folder beside an uninstall record.
  String programFiles;
  ASSERT_TRUE(platform::SpecialFolder(platform::kCsidlProgramFiles, programFiles));
  const String folder = IncludeTrailingBackslash(programFiles) + u"Mivo Found " +
                        IntToStr(platform::CurrentProcessId()) + u"\\";
  const String player = folder + u"Mivo.exe";
  ASSERT_TRUE(platform::CreateFolder(folder) || platform::DirectoryExists(folder));
  Put(player, ReadFileText(DemoPlayer()));
  Put(folder + u"Uninstall.dat", "");
  ASSERT_TRUE(platform::FileExists(player)) << U8(player);
  platform::TProcessInfo process;
  ASSERT_TRUE(platform::StartProcess(Quoted(player) + u" /HIDDEN", platform::kSwHide, process));
  const platform::WindowHandle window = WaitForPlayerWindow();
  ASSERT_NE(window, 0);
  EXPECT_EQ(platform::WindowProcessId(window), process.processId);

  EXPECT_TRUE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_TRUE(SameTextLocale(path, ExtractFilePath(player))) << U8(path);

  platform::Post(window, 0x0010, 0, 0);  // WM_CLOSE
  EXPECT_EQ(platform::Wait(process.process, 10000), platform::WaitResult::Signalled);
  EXPECT_FALSE(TProductInfoMivo::FindInstalledPath(path));
  EXPECT_EQ(path, u"");

  // The same player from a folder that anybody may write counts for nothing.
  ASSERT_TRUE(platform::StartProcess(Quoted(DemoPlayer()) + u" /HIDDEN", platform::kSwHide, process));
  const platform::WindowHandle planted = WaitForPlayerWindow();
  ASSERT_NE(planted, 0);
  EXPECT_FALSE(TProductInfoMivo::FindInstalledPath(path));
  platform::Post(planted, 0x0010, 0, 0);  // WM_CLOSE
  EXPECT_EQ(platform::Wait(process.process, 10000), platform::WaitResult::Signalled);
  for (const String& file : {player, folder + u"Uninstall.dat"}) platform::RemoveFile(file);
  platform::RemoveFolder(ExcludeTrailingBackslash(folder));
}

TEST_F(ProductTest, DemoPlayerCanRefuseToClose) {
  ASSERT_EQ(platform::FindWindowByClass(u"TMivoMainForm"), 0) << "a player is running already";
  platform::TProcessInfo process;
  ASSERT_TRUE(platform::StartProcess(Quoted(DemoPlayer()) + u" /HIDDEN /REFUSECLOSE",
                                     platform::kSwHide, process));
  const platform::WindowHandle window = WaitForPlayerWindow();
  ASSERT_NE(window, 0);
  platform::Send(window, 0x0010, 0, 0);  // WM_CLOSE, handled when Send returns
  EXPECT_EQ(platform::FindWindowByClass(u"TMivoMainForm"), window);
  platform::Post(window, 0x0012, 0, 0);  // WM_QUIT ends its message loop
  EXPECT_EQ(platform::Wait(process.process, 10000), platform::WaitResult::Signalled);
}

// The demo's registration program registers and removes what its switches say.
TEST_F(ProductTest, DemoRegistrationProgram) {
  const String rivadavi = ExtractFilePath(DemoPlayer()) + u"Rivadavi.exe";
  auto run = [&](const String& switches) {
    platform::TProcessInfo process;
    ASSERT_TRUE(platform::StartProcess(rivadavi + switches, platform::kSwHide, process));
    ASSERT_EQ(platform::Wait(process.process, 30000), platform::WaitResult::Signalled);
  };
  auto exists = [](const String& key) {
    platform::TRegKey k;
    return k.Open(platform::RegRoot::LocalMachine, key, platform::kKeyRead) == 0;
  };
  const String keys[] = {u"Software\\Classes\\Applications\\Mivo.exe",
                         u"Software\\Mivo\\Capabilities", u"Software\\Classes\\Mivo.AudioFile",
                         u"Software\\Classes\\Directory\\shell\\Mivo.Play"};
  run(u" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI");
  for (const auto& key : keys) EXPECT_TRUE(exists(key)) << U8(key);
  platform::TRegKey progIds;
  ASSERT_EQ(progIds.Open(platform::RegRoot::LocalMachine,
                         u"Software\\Classes\\.flac\\OpenWithProgids", platform::kKeyRead),
            0u);
  String value;
  EXPECT_TRUE(progIds.ReadString(u"Mivo.AudioFile", value));
  progIds.Close();

  run(u" /REG=U");
  for (const auto& key : keys) EXPECT_FALSE(exists(key)) << U8(key);

  const std::string log = [&] {
    auto stream = platform::OpenFileShared(
        ExtractFilePath(rivadavi) + u"Rivadavi.log", platform::kGenericRead,
        platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenExisting);
    if (!stream) return std::string();
    const auto bytes = ReadAll(*stream);
    return std::string(bytes.begin(), bytes.end());
  }();
  const std::string expected = U8(rivadavi) +
                               " /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI\r\n" +
                               U8(rivadavi) + " /REG=U\r\n";
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
}

#endif

}  // namespace
}  // namespace product_test
