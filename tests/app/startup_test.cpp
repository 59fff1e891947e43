// The start-up sequence on the stand-in: checks, elevation, the uninstaller's
// routing, silent and wizard runs, the error box and the exit codes.
#ifndef _WIN32

#include "app/startup.h"

#include "../core/core_test_util.h"
#include "lib/command_line.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/shell.h"
#include "product/test_product.h"

namespace core_test {
namespace {

class StartupTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    SetProductInfoClass(&CreateAppTestProduct);
    hooks_.ShowError = [this](const String& message) { boxes_.push_back(U8(message)); };
    hooks_.InitializeToolkit = [this] { ++toolkit_; };
  }
  int Run(const String& arguments) { return RunSetupStartup(arguments, hooks_); }
  static std::string ReadText(const String& path) {
    TVelStringList lines;
    std::unique_ptr<TStream> in = platform::OpenFileShared(
        path, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting);
    if (!in) return "<missing>";
    lines.LoadFromStream(*in);
    return U8(lines.Text());
  }
  // The uninstaller C:\App\Uninstall.exe with its data package.
  void MakeUninstaller(const String& folder) {
    platform::CreateFolder(folder);
    const auto dat = ReadHostFile(std::string(MIVO_TEST_DATA) + "/core/uninstall.ipk");
    std::unique_ptr<TStream> out = platform::OpenFileShared(
        folder + u"Uninstall.dat", platform::kGenericWrite, 0, platform::kCreateAlways);
    out->WriteBuffer(dat.data(), static_cast<int64_t>(dat.size()));
    out.reset();
    std::unique_ptr<TStream> exe = platform::OpenFileShared(
        folder + u"Uninstall.exe", platform::kGenericWrite, 0, platform::kCreateAlways);
    exe.reset();
    platform::standin::SetModuleFileName(folder + u"Uninstall.exe");
  }

  TSetupStartupHooks hooks_;
  std::vector<std::string> boxes_;
  int toolkit_ = 0;
};

TEST_F(StartupTest, SilentRunSucceeds) {
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /SILENT"), kExitSuccess);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(toolkit_, 1);
  EXPECT_EQ(ReadText(work_ + u"worker.txt"), "main=0\r\n");
  EXPECT_EQ(ReadText(work_ + u"Payload.txt"), "payload\r\n");
  EXPECT_EQ(::Setup, nullptr);
}

TEST_F(StartupTest, SilentRunWithErrorsShowsOneBoxWithAllOfThem) {
  ASSERT_TRUE(platform::CreateFolder(work_ + u"Dest"));
  platform::OpenFileShared(work_ + u"Dest\\fail2.txt", platform::kGenericWrite, 0,
                           platform::kCreateAlways);
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"Dest\" /SILENT"), kExitRunFailed);
  EXPECT_EQ(boxes_, std::vector<std::string>{"First problem\r\nAction failed in " + U8(work_) +
                                             "Dest\\\r\n"});
  EXPECT_FALSE(platform::FileExists(work_ + u"Dest\\Payload.txt"));
}

// Errors before the run: the box, exit code 1, and nothing else happens.
TEST_F(StartupTest, StartFailures) {
  platform::standin::SetAdmin(false);
  SetProductInfoClass(nullptr);
  EXPECT_EQ(Run(u"/AUTO /SILENT"), kExitCannotStart);
  EXPECT_EQ(boxes_, std::vector<std::string>{"Setup is malformed"});
  EXPECT_TRUE(platform::standin::ShellCalls().empty());  // before elevation

  SetProductInfoClass(&CreateAppTestProduct);
  boxes_.clear();
  // Elevated relaunch that is still not elevated; SKIPUAC that is no number
  // counts as 0: this process makes its own spawn window.
  EXPECT_EQ(Run(u"/SKIPUAC=abc /AUTO /SILENT"), kExitCannotStart);
  EXPECT_EQ(boxes_, std::vector<std::string>{
                        "Administrator rights are required to process this operation."});
  EXPECT_TRUE(TSetupSpawnService::SpawnOwner());
  EXPECT_TRUE(platform::standin::ShellCalls().empty());
  TSetupSpawnService::ResetForTests();

  // Before Windows 6.0 there is no elevation.
  boxes_.clear();
  platform::standin::SetWindowsVersion({5, 1, 2600});
  EXPECT_EQ(Run(u"/AUTO /SILENT"), kExitCannotStart);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(platform::standin::ShellCalls().empty());

  // An update that the destination does not accept.
  platform::standin::SetAdmin(true);
  boxes_.clear();
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /UPDATE"), kExitCannotStart);
  EXPECT_EQ(boxes_, std::vector<std::string>{"Cannot install update on v0.00"});
}

TEST_F(StartupTest, ElevatedSkipUacWithAdminRightsRuns) {
  EXPECT_EQ(Run(u"/SKIPUAC=0 /AUTO=\"" + work_ + u"\" /SILENT"), kExitSuccess);
  EXPECT_TRUE(TSetupSpawnService::SpawnOwner());
  EXPECT_EQ(ReadText(work_ + u"worker.txt"), "main=0\r\n");
}

// The unelevated process starts itself elevated and ends with the elevated
// process's exit code; a declined prompt ends it without a message.
TEST_F(StartupTest, Elevation) {
  platform::standin::SetAdmin(false);
  std::vector<platform::TShellExecuteParams> calls;
  uint32_t answer = platform::kErrorCancelled;
  platform::standin::SetShellHook([&](const platform::TShellExecuteParams& p) {
    calls.push_back(p);
    return answer;
  });
  EXPECT_EQ(Run(u"/AUTO /SILENT"), kExitCancelledBeforeRun);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(toolkit_, 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(U8(calls[0].verb), "runas");
  EXPECT_EQ(U8(calls[0].file), "C:\\Setup\\Setup.exe");
  EXPECT_EQ(U8(calls[0].parameters),
            "/SKIPUAC=" + std::to_string(TSetupSpawnService::SpawnTarget()) + " /AUTO /SILENT");
  EXPECT_EQ(calls[0].mask, platform::kSeeMaskNoCloseProcess | platform::kSeeMaskNoAsync |
                               platform::kSeeMaskFlagNoUi | platform::kSeeMaskNoZoneChecks);
  EXPECT_EQ(calls[0].show, 1);

  // Accepted: the elevated copy's exit code is this process's.
  TSetupSpawnService::ResetForTests();
  answer = 0;
  String elevatedArguments;
  platform::standin::RegisterProgram(u"C:\\Setup\\Setup.exe", [&](const String& commandLine) {
    elevatedArguments = commandLine;
    return 4u;
  });
  EXPECT_EQ(Run(u"/AUTO /SILENT"), kExitRunFailed);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_NE(U8(elevatedArguments).find("/SKIPUAC="), std::string::npos);
}

// The uninstaller in the installation folder runs its copy from a private
// folder in the temporary folder, waits for it and ends with its code.
TEST_F(StartupTest, UninstallerOutsideTheTempFolderEndsWithItsCopysCode) {
  MakeUninstaller(u"C:\\App\\");
  const String temp = platform::TempFolder();
  for (const uint32_t copyCode : {kExitSuccess, kExitRunFailed}) {
    for (const char16_t* arguments : {u"/AUTO /SILENT", u"/PATH=C:\\Missing /AUTO /SILENT"}) {
      SCOPED_TRACE(U8(arguments));
      String copyArguments;
      bool dataOpenElsewhere = true;
      platform::standin::SetShellHook([&](const platform::TShellExecuteParams& p) {
        platform::standin::RegisterProgram(p.file, [&](const String& commandLine) {
          copyArguments = commandLine;
          // Nothing of the first process holds the installation's files.
          dataOpenElsewhere = !platform::MoveFileTo(u"C:\\App\\Uninstall.dat",
                                                    u"C:\\App\\Moved.dat") ||
                              !platform::MoveFileTo(u"C:\\App\\Moved.dat",
                                                    u"C:\\App\\Uninstall.dat");
          return copyCode;
        });
        return 0u;
      });
      EXPECT_EQ(Run(arguments), static_cast<int>(copyCode));
      EXPECT_TRUE(boxes_.empty());
      const auto calls = platform::standin::ShellCalls();
      ASSERT_FALSE(calls.empty());
      const String copy = calls.back().file;
      EXPECT_EQ(ExtractFileName(copy), u"Uninstall.exe");
      EXPECT_EQ(U8(ExtractFilePath(ExcludeTrailingBackslash(ExtractFilePath(copy)))), U8(temp));
      EXPECT_EQ(U8(calls.back().parameters), "/PATH=\"C:\\App\\\" " + U8(arguments));
      EXPECT_EQ(U8(copyArguments), "\"" + U8(copy) + "\" " + U8(calls.back().parameters));
      EXPECT_FALSE(dataOpenElsewhere);
      EXPECT_FALSE(platform::FileExists(copy));
      // Neither the copy's uninstallation nor this process's script dump.
      EXPECT_FALSE(platform::FileExists(u"C:\\App\\uninstalled.txt"));
      EXPECT_FALSE(platform::FileExists(u"C:\\App\\dump.xml"));
      EXPECT_TRUE(platform::FileExists(u"C:\\App\\Uninstall.exe"));
    }
  }
  // A copy that cannot be started: the box and a failure code.
  platform::standin::SetShellHook(
      [](const platform::TShellExecuteParams&) { return platform::kErrorAccessDenied; });
  EXPECT_EQ(Run(u"/AUTO /SILENT"), kExitCannotStart);
  EXPECT_EQ(boxes_.size(), 1u);
}

// The copy in its private folder takes the installation folder from /PATH.
TEST_F(StartupTest, UninstallerWithPathRunsInPlace) {
  MakeUninstaller(u"C:\\App\\");
  const auto folder =
      platform::CreatePrivateFolder(platform::TempFolder(), kRelaunchFolderPrefix);
  ASSERT_NE(folder, nullptr);
  MakeUninstaller(folder->Path());
  EXPECT_EQ(Run(u"/PATH=\"C:\\App\\\" /AUTO /SILENT"), kExitSuccess);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ReadText(u"C:\\App\\uninstalled.txt"),
            "program=" + U8(folder->Path()) + "Uninstall.exe\r\ndest=C:\\App\\\r\n");
}

// Started by hand with /PATH, the uninstaller does not take it: it removes
// its own installation, through its copy, and nothing in the folder named.
TEST_F(StartupTest, PathFromAnybodyElseIsNotTaken) {
  MakeUninstaller(u"C:\\Victim\\");
  MakeUninstaller(u"C:\\App\\");
  String copyArguments;
  platform::standin::SetShellHook([&](const platform::TShellExecuteParams& p) {
    platform::standin::RegisterProgram(p.file, [&](const String& commandLine) {
      copyArguments = commandLine;
      return 0u;
    });
    return 0u;
  });
  EXPECT_EQ(Run(u"/PATH=C:\\Victim\\ /AUTO /SILENT"), kExitSuccess);
  String path;
  ASSERT_TRUE(TVelCommandLineProcessor::GetSwitchValue(
      TVelCommandLineProcessor::GetCommandLineArguments(copyArguments), u"PATH", path));
  EXPECT_EQ(U8(path), "C:\\App\\");
  EXPECT_FALSE(platform::FileExists(u"C:\\Victim\\uninstalled.txt"));
  EXPECT_TRUE(platform::FileExists(u"C:\\Victim\\Uninstall.dat"));
  // A folder of the relaunch's name that a user made is no proof either.
  MakeUninstaller(platform::TempFolder() + kRelaunchFolderPrefix + u"0000000000000000\\");
  boxes_.clear();
  EXPECT_EQ(Run(u"/PATH=C:\\Victim\\ /AUTO /SILENT"), kExitCannotStart);
  EXPECT_EQ(boxes_, std::vector<std::string>{"Cannot start the Uninstaller"});
  EXPECT_FALSE(platform::FileExists(u"C:\\Victim\\uninstalled.txt"));
}

TEST_F(StartupTest, UninstallerInTheTempFolderWithoutPathRefuses) {
  const String temp = platform::TempFolder();
  for (const String& folder : {temp, temp + kRelaunchFolderPrefix + u"0123456789ABCDEF\\"}) {
    boxes_.clear();
    MakeUninstaller(folder);
    EXPECT_EQ(Run(u"/PATH=C:\\Missing /AUTO /SILENT"), kExitCannotStart);
    EXPECT_EQ(boxes_, std::vector<std::string>{"Cannot start the Uninstaller"});
    EXPECT_TRUE(platform::standin::ShellCalls().empty());
  }
}

// Runs with a window: the wizard hook decides; without one the run goes on
// like a silent one. SILENT without AUTO shows the wizard.
TEST_F(StartupTest, WizardRunsAndTheirExitCodes) {
  struct TCase {
    const char* name;
    std::function<void(TSetup&)> wizard;
    int exitCode;
  } cases[] = {
      {"closed at once", [](TSetup&) {}, kExitCancelledBeforeRun},
      {"installed", [](TSetup& s) { s.StartInstall(true); }, kExitSuccess},
      {"failed",
       [](TSetup& s) {
         AddSetupError(u"oops");
         s.StartInstall(true);
       },
       kExitRunFailed},
      {"cancelled",
       [](TSetup& s) {
         s.StartInstall(false);
         s.FreeThread();
       },
       kExitCancelledDuringRun},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int wizards = 0;
    hooks_.RunWizard = [&](TSetup& s) {
      ++wizards;
      EXPECT_FALSE(s.IsOptionSet(TSetupOption::Silent));
      c.wizard(s);
    };
    EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\""), c.exitCode);
    EXPECT_EQ(wizards, 1);
    EXPECT_TRUE(boxes_.empty());  // a wizard shows its errors itself
  }
  int wizards = 0;
  hooks_.RunWizard = [&](TSetup&) { ++wizards; };
  EXPECT_EQ(Run(u"/SILENT"), kExitCancelledBeforeRun);
  EXPECT_EQ(wizards, 1);
  hooks_.RunWizard = nullptr;
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\""), kExitSuccess);
  EXPECT_EQ(ReadText(work_ + u"worker.txt"), "main=0\r\n");
}

// Deployment: the log of a run, boxes that nobody would see, a destination
// that cannot be one, and a switch written whole in quotes.
TEST_F(StartupTest, LogOfASuccessfulRun) {
  const String log = work_ + u"setup.log";
  ASSERT_TRUE(platform::CreateFolder(work_ + u"Some Folder"));
  EXPECT_EQ(Run(u"\"/AUTO=" + work_ + u"Some Folder\\\" /SILENT /LOG=\"" + log + u"\""),
            kExitSuccess);
  EXPECT_EQ(ReadText(work_ + u"Some Folder\\Payload.txt"), "payload\r\n");
  const std::string text = ReadText(log);
  for (const std::string& line :
       {"Command line: \"/AUTO=" + U8(work_) + "Some Folder\\\" /SILENT /LOG=\"" + U8(log) + "\"",
        std::string("Run: install; options: Auto Silent"),
        "Destination: " + U8(work_) + "Some Folder\\", std::string("Steps: 3"),
        "Written: " + U8(work_) + "Some Folder\\Payload.txt", std::string("Exit code: 0")})
    EXPECT_NE(text.find("  " + line + "\r\n"), std::string::npos) << line << "\n" << text;
  // Each line starts with the time.
  EXPECT_EQ(text.substr(4, 1) + text.substr(13, 1), "-:") << text;

  // Without a name: a new file in the temporary folder, named after the
  // product, never one that is there already.
  const String temp = platform::TempFolder();
  std::vector<platform::TFolderEntry> before, after;
  platform::ListFolder(temp, before);
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /SILENT /LOG"), kExitSuccess);
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /SILENT /LOG"), kExitSuccess);
  platform::ListFolder(temp, after);
  std::vector<String> logs;
  for (const auto& entry : after)
    if (ExtractFileExt(entry.name) == u".log") logs.push_back(entry.name);
  ASSERT_EQ(logs.size(), 2u);
  for (const String& name : logs) {
    EXPECT_EQ(U8(name).rfind(std::string("TestApp Setup 20"), 0), 0u) << U8(name);
    EXPECT_NE(ReadText(temp + name).find("Exit code: 0"), std::string::npos);
  }
  // Without the switch nothing is written.
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /SILENT"), kExitSuccess);
  platform::ListFolder(temp, after);
  EXPECT_EQ(after.size(), before.size() + 2);
}

// The named log is made anew at its name: never written through a link or
// into a folder (refused with exit code 1 before anything is written), its
// folders made when missing, a plain file there replaced.
TEST_F(StartupTest, NamedLogIsMadeAnew) {
  const String dest = work_ + u"Dest\\", target = work_ + u"Target\\";
  ASSERT_TRUE(platform::CreateFolder(target));
  ASSERT_TRUE(platform::CreateFolderLink(work_ + u"link.log", target));
  for (const auto& [log, reason] :
       {std::pair<String, const char*>{work_ + u"link.log", "a link is in its place."},
        {target, "it is a folder."}}) {
    boxes_.clear();
    EXPECT_EQ(Run(u"/AUTO=\"" + dest + u"\" /SILENT /LOG=\"" + log + u"\""), kExitCannotStart);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "The log file \"" + U8(log) + "\" cannot be created: " + reason);
    EXPECT_FALSE(platform::DirectoryExists(dest));
    std::vector<platform::TFolderEntry> entries;
    EXPECT_TRUE(platform::ListFolder(target, entries));
    EXPECT_TRUE(entries.empty());
  }
  const String deep = work_ + u"Logs\\Deep\\run.log";
  ASSERT_TRUE(platform::CreateFolder(dest));
  EXPECT_EQ(Run(u"/AUTO=\"" + dest + u"\" /SILENT /LOG=\"" + deep + u"\""), kExitSuccess);
  EXPECT_NE(ReadText(deep).find("Exit code: 0"), std::string::npos);
  {
    std::unique_ptr<TStream> old = platform::OpenFileShared(
        deep, platform::kGenericWrite, 0, platform::kCreateAlways);
    old->WriteBuffer("old text", 8);
  }
  EXPECT_EQ(Run(u"/AUTO=\"" + dest + u"\" /SILENT /LOG=\"" + deep + u"\""), kExitSuccess);
  EXPECT_EQ(ReadText(deep).find("old text"), std::string::npos);
  EXPECT_NE(ReadText(deep).find("Exit code: 0"), std::string::npos);
}

TEST_F(StartupTest, SuppressedBoxesGoToTheLogAndTheExitCode) {
  std::vector<std::string> questions;
  hooks_.ShowMessageBox = [&](const String& text, const String&, uint32_t) {
    questions.push_back(U8(text));
    return kIdIgnore;
  };
  // A differing file held open without sharing: the question that would
  // wait for a person is answered Abort.
  const String dest = work_ + u"Dest\\";
  ASSERT_TRUE(platform::CreateFolder(dest));
  {
    std::unique_ptr<TStream> out = platform::OpenFileShared(
        dest + u"Payload.txt", platform::kGenericWrite, 0, platform::kCreateAlways);
    out->WriteBuffer("older", 5);
  }
  for (bool desktop : {true, false}) {
    SCOPED_TRACE(desktop ? "suppressed" : "no interactive desktop");
    platform::standin::SetInteractiveDesktop(desktop);
    std::unique_ptr<TStream> held =
        platform::OpenFileShared(dest + u"Payload.txt", platform::kGenericRead,
                                 platform::kFileShareRead, platform::kOpenExisting);
    const String log = work_ + u"run.log";
    EXPECT_EQ(Run(u"/AUTO=\"" + dest + u"\" /SILENT /LOG=" + log +
                  (desktop ? u" /SUPPRESSMSGBOXES" : u"")),
              kExitRunFailed);
    held.reset();
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(boxes_.empty());
    const std::string text = ReadText(log);
    for (const char* part : {"Question not shown, answered 3: ", "Error (no box shown): ",
                             "Payload.txt\r\n", "Exit code: 4"})
      EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
  platform::standin::SetInteractiveDesktop(true);
  // Without the switch the box is shown and its answer counts.
  EXPECT_EQ(Run(u"/AUTO=\"" + dest + u"\" /SILENT"), kExitSuccess);
  EXPECT_EQ(questions.size(), 0u);  // not held now: written without asking
}

// /? and /HELP show the switches and end with 0 before anything else: no
// elevation, no packages read, nothing installed.
TEST_F(StartupTest, HelpShowsTheSwitchesAndInstallsNothing) {
  platform::standin::SetAdmin(false);
  SetProductInfoClass(nullptr);
  for (const char16_t* arguments :
       {u"/?", u"-?", u"/help", u"/HELP /AUTO /SILENT", u"/AUTO /SILENT /SUPPRESSMSGBOXES /?"}) {
    SCOPED_TRACE(U8(arguments));
    std::vector<std::pair<std::string, bool>> shown;
    hooks_.ShowHelp = [&](const String& text, bool box) { shown.emplace_back(U8(text), box); };
    EXPECT_EQ(Run(arguments), kExitSuccess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, String(arguments).find(u"SUPPRESS") == String::npos);
    for (const char* part : {"/AUTO", "/SILENT", "/SUPPRESSMSGBOXES", "/LOG", "/PORTABLE",
                             "/UPDATE", "/NOBACKUP", "/RUN", "/CLOSETIMEOUT", "Exit codes"})
      EXPECT_NE(shown[0].first.find(part), std::string::npos) << part;
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(platform::standin::ShellCalls().empty());
    EXPECT_EQ(toolkit_, 0);
  }
  EXPECT_FALSE(platform::FileExists(work_ + u"Payload.txt"));
}

// A run after which a file waits for the next restart: the log says that a
// restart completes it, and a silent run ends with /RESTARTEXITCODE's code.
TEST_F(StartupTest, RestartNeededAndItsExitCode) {
  ASSERT_TRUE(platform::CreateFolder(work_ + u"Dest"));
  const controller_test::TRestartNeeded restart(work_ + u"Busy.exe");

  const String dest = u"/AUTO=\"" + work_ + u"Dest\" ";
  const String log = work_ + u"restart.log";
  const struct {
    String arguments;
    int code;
  } cases[] = {
      {dest + u"/SILENT /RESTARTEXITCODE=3010 /LOG=" + log, 3010},
      {dest + u"/SILENT /RESTARTEXITCODE=0 /LOG=" + log, 0},
      {dest + u"/SILENT /LOG=" + log, kExitSuccess},
      {dest + u"/SILENT /RESTARTEXITCODE=abc /LOG=" + log, kExitCannotStart},
      {dest + u"/SILENT /RESTARTEXITCODE=2147483648 /LOG=" + log, kExitCannotStart},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.arguments));
    boxes_.clear();
    EXPECT_EQ(Run(c.arguments), c.code);
    const std::string text = ReadText(log);
    EXPECT_EQ(text.find("a restart completes the installation") != std::string::npos,
              c.code != kExitCannotStart)
        << text;
  }
  // A failed run is a failure, restart or not.
  platform::OpenFileShared(work_ + u"Dest\\fail2.txt", platform::kGenericWrite, 0,
                           platform::kCreateAlways);
  EXPECT_EQ(Run(dest + u"/SILENT /SUPPRESSMSGBOXES /RESTARTEXITCODE=3010"), kExitRunFailed);
}

// One run at a time: a second run waits for the first (silently up to the
// bound, in the wizard as long as the person chooses to retry) and ends with
// 7 without changes when it does not get its turn. A lock that a standard
// user made first does not count.
TEST_F(StartupTest, OneRunAtATime) {
  const String dest = u"/AUTO=\"" + work_ + u"\" ";
  std::unique_ptr<platform::TRunLock> other = platform::AcquireRunLock(u"TestApp Setup", 0);
  ASSERT_TRUE(other && other->Guarded());

  EXPECT_EQ(Run(dest + u"/SILENT /CLOSETIMEOUT=0"), kExitInstallInProgress);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("Another installation or removal of TestApp is in progress"),
            std::string::npos)
      << boxes_[0];
  EXPECT_FALSE(platform::FileExists(work_ + u"Payload.txt"));

  // The wizard asks; Cancel ends the run, Retry once the other has ended
  // runs it.
  int asked = 0;
  int answer = kIdCancel;
  hooks_.ShowMessageBox = [&](const String& text, const String&, uint32_t flags) {
    ++asked;
    EXPECT_EQ(flags & 0xF, kMbRetryCancel);
    EXPECT_NE(U8(text).find("in progress"), std::string::npos);
    if (answer == kIdRetry) other.reset();
    return answer;
  };
  EXPECT_EQ(Run(dest), kExitInstallInProgress);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(platform::FileExists(work_ + u"Payload.txt"));
  answer = kIdRetry;
  EXPECT_EQ(Run(dest), kExitSuccess);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(platform::FileExists(work_ + u"Payload.txt"));

  // A silent run waits for the other run to end.
  other = platform::AcquireRunLock(u"TestApp Setup", 0);
  ASSERT_TRUE(other);
  platform::TWaitHandle releaser = platform::StartThread([&] {
    platform::Wait(platform::NewEvent(true, false), 300);
    other.reset();
  });
  EXPECT_EQ(Run(dest + u"/SILENT /CLOSETIMEOUT=60"), kExitSuccess);
  platform::Wait(releaser, platform::kInfinite);

  // Made first by somebody who is no administrator: not counted.
  platform::standin::SquatRunLock(u"TestApp Setup", true);
  const String log = work_ + u"squat.log";
  EXPECT_EQ(Run(dest + u"/SILENT /CLOSETIMEOUT=0 /LOG=" + log), kExitSuccess);
  EXPECT_NE(ReadText(log).find("running without it"), std::string::npos) << ReadText(log);
  platform::standin::SquatRunLock(u"TestApp Setup", false);
}

// /SUPPRESSMSGBOXES holds also for an update, which is never silent: the
// refused update goes to the log and the exit code only.
TEST_F(StartupTest, RefusedUpdateWithSuppressedBoxesShowsNoBox) {
  const String log = work_ + u"update.log";
  EXPECT_EQ(Run(u"/AUTO=\"" + work_ + u"\" /UPDATE /SILENT /SUPPRESSMSGBOXES /LOG=" + log),
            kExitCannotStart);
  EXPECT_TRUE(boxes_.empty());
  const std::string text = ReadText(log);
  for (const char* part : {"Error (no box shown): Cannot install update on v0.00", "Exit code: 1"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

TEST_F(StartupTest, DestinationThatCannotBeOneIsRefusedBeforeAnythingIsWritten) {
  for (const String& folder : {work_ + u"Bad?Name\\", work_ + u"Trail. \\", work_ + u"NUL"}) {
    boxes_.clear();
    EXPECT_EQ(Run(u"/AUTO=\"" + folder + u"\" /SILENT /SUPPRESSMSGBOXES"), kExitCannotStart);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(Run(u"/AUTO=\"" + folder + u"\" /SILENT"), kExitCannotStart);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].rfind("The destination folder \"" + U8(folder) + "\" cannot be used: ", 0),
              0u)
        << boxes_[0];
  }
  std::vector<platform::TFolderEntry> entries;
  platform::ListFolder(work_, entries);
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace core_test

#endif  // _WIN32
