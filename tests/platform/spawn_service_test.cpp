// The spawn service, the elevated relaunch and the relaunch from the
// temporary folder, natively against the stand-in and under Wine with real
// processes (the test program is its own child, see setup_child_modes.cpp).
#include "platform/spawn_service.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "lib/command_line.h"
#include "lib/exceptions.h"
#include "lib/string_list.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/shell.h"
#include "platform_fixture.h"
#include "setup_test_util.h"

namespace platform_test {
namespace {

using namespace platform;

class SpawnServiceTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    TSetupSpawnService::ResetForTests();
    previous_folder_ = CurrentFolder();
  }
  void TearDown() override {
    TSetupSpawnService::ResetForTests();
    SetCurrentFolder(previous_folder_);
    PlatformTest::TearDown();
  }

  // "key=value" lines of a probe file.
  static std::map<std::string, std::string> ReadProbe(const String& path) {
    std::map<std::string, std::string> values;
    const std::string text = ReadText(path);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
      start = end + 1;
    }
    return values;
  }

  String previous_folder_;
};

std::u16string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"<no error>";
}

TEST_F(SpawnServiceTest, InitializeCreatesTheWindowOnce) {
  EXPECT_EQ(TSetupSpawnService::SpawnTarget(), 0u);
  TSetupSpawnService::Initialize(0);
  const WindowHandle window = TSetupSpawnService::SpawnTarget();
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(TSetupSpawnService::SpawnOwner());
  EXPECT_EQ(FindWindowByClass(u"TSetupSpawnService"), window);
  EXPECT_EQ(WindowProcessId(window), CurrentProcessId());
  EXPECT_EQ(TSetupSpawnService::SpawnMessageId(), RegisterMessage(u"spawntoken"));
  EXPECT_GE(TSetupSpawnService::SpawnMessageId(), 0xC000u);

  EXPECT_EQ(ErrorOf([] { TSetupSpawnService::Initialize(0); }),
            u"SpawnService is already initialized");
  EXPECT_EQ(ErrorOf([] { TSetupSpawnService::Initialize(1234); }),
            u"SpawnService is already initialized");
  EXPECT_EQ(TSetupSpawnService::SpawnTarget(), window);

  // Only the main thread can own the window.
  TSetupSpawnService::ResetForTests();
  std::u16string offMain;
  Wait(StartThread([&] { offMain = ErrorOf([] { TSetupSpawnService::Initialize(0); }); }),
       kInfinite);
  EXPECT_EQ(offMain, u"Cannot create window in non-main thread");
  EXPECT_EQ(TSetupSpawnService::SpawnTarget(), 0u);
}

// The elevated side: the path travels to the window named by the token.
TEST_F(SpawnServiceTest, SpawnSendsTheStartRequestToThePartner) {
  std::vector<std::pair<uintptr_t, String>> requests;
  const WindowHandle partner = CreateMessageWindow(
      u"TSpawnPartnerTest", [&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        if (m == kWmCopyData && lp) {
          const auto* data = reinterpret_cast<const TCopyData*>(lp);
          EXPECT_EQ(wp, 0u);
          EXPECT_EQ(data->cbData % 2, 0u);
          String path(data->cbData / 2, u'\0');
          if (data->cbData) std::memcpy(path.data(), data->lpData, data->cbData);
          requests.emplace_back(data->dwData, path);
        }
        return DefaultHandler(w, m, wp, lp);
      });
  ASSERT_NE(partner, 0u);
  TSetupSpawnService::Initialize(partner);
  EXPECT_FALSE(TSetupSpawnService::SpawnOwner());
  EXPECT_EQ(TSetupSpawnService::SpawnTarget(), partner);
  const String path = u"C:\\Program Files\\Mivo\\Mivo.exe";
  TSetupSpawnService::Spawn(path);
  TSetupSpawnService::Spawn(u"");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].first, RegisterMessage(u"SpawnToken"));
  EXPECT_EQ(requests[0].second, path);
  EXPECT_EQ(requests[1].second, u"");
  DestroyMessageWindow(partner);
  TSetupSpawnService::Spawn(path);  // a dead target: nothing happens
  EXPECT_EQ(requests.size(), 2u);
}

#ifndef _WIN32
class SpawnServiceShellTest : public SpawnServiceTest {
 protected:
  void SetUp() override {
    SpawnServiceTest::SetUp();
    standin::SetShellHook([](const TShellExecuteParams&) { return kErrorSuccess; });
  }
  static std::vector<TShellExecuteParams> Calls() { return standin::ShellCalls(); }
};

TEST_F(SpawnServiceShellTest, WithoutPartnerTheDesktopShellStartsThePath) {
  const String path = u"C:\\Program Files\\Mivo\\Mivo.exe";
  TSetupSpawnService::Spawn(path);  // started already elevated: no Initialize
  // The first process never sends to its own window either.
  TSetupSpawnService::Initialize(0);
  TSetupSpawnService::Spawn(path);
  // Without the Windows folder no shell is searched for: nothing starts.
  standin::SetSpecialFolder(kCsidlWindows, u"");
  TSetupSpawnService::Spawn(path);
  standin::SetWindowsVersion({5, 1, 2600});
  TSetupSpawnService::Spawn(path);
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    // The shell of the Windows folder, not one beside the installer.
    EXPECT_EQ(U8(calls[i].file), "C:\\Windows\\explorer.exe");
    EXPECT_EQ(calls[i].parameters, u"\"" + path + u"\"");  // one argument, blanks and all
    EXPECT_EQ(calls[i].verb, u"");
    EXPECT_EQ(calls[i].show, kSwShow);
  }
  EXPECT_EQ(calls[2].file, path);
  EXPECT_EQ(calls[2].parameters, u"");
}

TEST_F(SpawnServiceShellTest, StartRequestsOpenThePathOnTheMainThread) {
  TSetupSpawnService::Initialize(0);
  const WindowHandle window = TSetupSpawnService::SpawnTarget();
  const uint32_t id = TSetupSpawnService::SpawnMessageId();
  const String path = u"C:\\Program Files\\Mivo\\Mivo.exe";
  // Sent from another thread, as from the elevated process, while the main
  // thread waits for it.
  const TWaitHandle sender = StartThread([&] {
    SendCopyData(window, 0, id, path.data(), static_cast<uint32_t>(path.size() * 2));
    SendCopyData(window, 0, id + 1, path.data(), static_cast<uint32_t>(path.size() * 2));
    SendCopyData(window, 0, id, path.data(), 0);
    SendCopyData(window, 0, id, path.data(), 1);
    SendCopyData(window, 0, id, path.data(), 3);  // an odd byte is dropped
    Send(window, kWmCopyData, 0, 0);              // no data at all
    // A program with parameters: the path, a zero, the parameters.
    const String request = path + u'\0' + u"/LANG=RU \"a b\"";
    SendCopyData(window, 0, id, request.data(), static_cast<uint32_t>(request.size() * 2));
  });
  EXPECT_EQ(::WaitWithMessages(sender, kInfinite), 0);
  const auto calls = Calls();
  // A foreign marker and an empty path start nothing.
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].file, path);
  EXPECT_EQ(calls[0].parameters, u"");
  EXPECT_EQ(calls[0].show, kSwShow);
  EXPECT_EQ(calls[1].file, u"C");
  EXPECT_EQ(calls[2].file, path);
  EXPECT_EQ(calls[2].parameters, u"/LANG=RU \"a b\"");
}

TEST_F(SpawnServiceShellTest, RelaunchElevatedAsksForExactlyThisAndWaits) {
  const String self = ModuleFileName();
  const String player = u"C:\\Program Files\\Mivo\\Mivo.exe";
  String childLine;
  // The elevated copy: asks the first process to start the player, then ends.
  standin::RegisterProgram(self, [&](const String& commandLine) -> uint32_t {
    childLine = commandLine;
    String token;
    TVelCommandLineProcessor::GetSwitchValue(
        TVelCommandLineProcessor::GetCommandLineArguments(commandLine), u"SKIPUAC", token);
    const WindowHandle target = static_cast<WindowHandle>(StrToIntDef(token, 0));
    SendCopyData(target, 0, RegisterMessage(u"SpawnToken"), player.data(),
                 static_cast<uint32_t>(player.size() * 2));
    return 7;
  });
  ASSERT_TRUE(SetCurrentFolder(dir_));
  uint32_t exitCode = 0;
  ASSERT_TRUE(RelaunchElevated(u"/AUTO /PATH=\"C:\\My Folder\\\"", exitCode));
  EXPECT_EQ(exitCode, 7u);
  const String target = IntToStr(static_cast<int64_t>(TSetupSpawnService::SpawnTarget()));
  EXPECT_TRUE(TSetupSpawnService::SpawnOwner());
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].mask, 0x00800540u);
  EXPECT_EQ(calls[0].verb, u"runas");
  EXPECT_EQ(calls[0].file, self);
  EXPECT_EQ(calls[0].parameters, u"/SKIPUAC=" + target + u" /AUTO /PATH=\"C:\\My Folder\\\"");
  EXPECT_EQ(calls[0].directory, dir_);
  EXPECT_EQ(calls[0].show, kSwShowNormal);
  EXPECT_EQ(childLine, u"\"" + self + u"\" " + calls[0].parameters);
  // The start request was carried out during the wait.
  EXPECT_EQ(calls[1].file, player);
  EXPECT_EQ(calls[1].parameters, u"");
}

TEST_F(SpawnServiceShellTest, DeclinedPromptIsNoErrorOtherFailuresAre) {
  uint32_t refusal = kErrorCancelled;
  standin::SetShellHook([&](const TShellExecuteParams&) { return refusal; });
  uint32_t exitCode = 99;
  EXPECT_FALSE(RelaunchElevated(u"", exitCode));
  EXPECT_EQ(
      Calls().at(0).parameters,
      u"/SKIPUAC=" + IntToStr(static_cast<int64_t>(TSetupSpawnService::SpawnTarget())) + u" ");

  TSetupSpawnService::ResetForTests();
  refusal = kErrorAccessDenied;
  try {
    RelaunchElevated(u"/AUTO", exitCode);
    ADD_FAILURE() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), kErrorAccessDenied);
  }
}

TEST_F(SpawnServiceShellTest, RelaunchFromTempRunsAPrivateCopyAndEndsWithItsCode) {
  TPendingRenames pending;
  const String folder = u"C:\\Program Files\\Mivo\\";
  const String temp = TempFolder();
  ASSERT_TRUE(CreateFolder(folder));
  ASSERT_TRUE(WriteText(folder + u"Uninstall.exe", "exe"));
  ASSERT_TRUE(WriteText(folder + u"Uninstall.dat", "dat"));
  // Files an unelevated program may have put into the temporary folder
  // under the copies' names are not used.
  ASSERT_TRUE(WriteText(temp + u"Uninstall.exe", "planted"));
  standin::SetModuleFileName(folder + u"Uninstall.exe");
  EXPECT_TRUE(IsUninstaller());

  // The copy, as it sees its folder while it runs.
  struct TSeen {
    std::string copy, data;
    String current;
    TSecurityInfo security;
    bool movable = true;
  } seen;
  standin::SetShellHook([&](const TShellExecuteParams& p) {
    standin::RegisterProgram(p.file, [&, file = p.file](const String&) -> uint32_t {
      const String dir = ExtractFilePath(file);
      seen.copy = ReadText(file);
      seen.data = ReadText(dir + u"Uninstall.dat");
      seen.current = IncludeTrailingBackslash(CurrentFolder());
      ReadSecurityInfo(dir, seen.security);
      // Held by the waiting process: it cannot be swapped for another.
      seen.movable = MoveFileTo(ExcludeTrailingBackslash(dir), temp + u"Swapped");
      WriteText(dir + u"dump.xml", "written by the copy");
      return 4;
    });
    return kErrorSuccess;
  });

  EXPECT_EQ(RelaunchFromTemp(u"/SILENT"), 4u);
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  const String copy = calls[0].file;
  const String dir = ExtractFilePath(copy);
  EXPECT_EQ(ExtractFilePath(ExcludeTrailingBackslash(dir)), temp);
  EXPECT_EQ(ExtractFileName(copy), u"Uninstall.exe");
  EXPECT_TRUE(IsRelaunchFolder(dir));
  EXPECT_EQ(calls[0].mask & kSeeMaskNoCloseProcess, kSeeMaskNoCloseProcess);
  EXPECT_EQ(calls[0].parameters, u"/PATH=\"" + folder + u"\" /SILENT");
  EXPECT_EQ(calls[0].directory, dir);
  String path;
  ASSERT_TRUE(TVelCommandLineProcessor::GetSwitchValue(calls[0].parameters, u"PATH", path));
  EXPECT_EQ(path, folder);
  EXPECT_EQ(seen.copy, "exe");
  EXPECT_EQ(seen.data, "dat");
  EXPECT_EQ(seen.current, dir);
  EXPECT_EQ(AccountsWithWriteAccess(seen.security),
            (std::vector<String>{kSidAdministrators, kSidLocalSystem}));
  EXPECT_TRUE(seen.security.protectedAcl);
  EXPECT_FALSE(seen.movable);
  EXPECT_EQ(ReadText(temp + u"Uninstall.exe"), "planted");
  // Once the copy has ended its folder is gone.
  EXPECT_FALSE(DirectoryExists(dir));
  // Nothing is left to the next restart: a name registered there could be
  // made again by anybody, as a link.
  EXPECT_TRUE(pending.Added().empty());

  // Two at once never share a folder.
  std::vector<String> folders;
  standin::SetShellHook([&](const TShellExecuteParams& p) {
    folders.push_back(ExtractFilePath(p.file));
    if (folders.size() == 1) {
      EXPECT_EQ(RelaunchFromTemp(u""), 1u);
    }
    return kErrorSuccess;
  });
  EXPECT_EQ(RelaunchFromTemp(u""), 1u);  // no process to read a code from
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_NE(folders[0], folders[1]);

  // Without its data package the relaunch fails with both paths.
  ASSERT_TRUE(RemoveFile(folder + u"Uninstall.dat"));
  const std::u16string message = ErrorOf([] { RelaunchFromTemp(u""); });
  EXPECT_EQ(message.find(u"System Error.  Code: 2.\r\n" + SystemErrorText(2) + u"\r\n" + folder +
                         u"Uninstall.dat -> " + temp + kRelaunchFolderPrefix),
            0u)
      << U8(message);
  // A copy that cannot be started is an error too.
  ASSERT_TRUE(WriteText(folder + u"Uninstall.dat", "dat"));
  standin::SetShellHook([](const TShellExecuteParams&) { return kErrorAccessDenied; });
  EXPECT_NE(ErrorOf([] { RelaunchFromTemp(u""); }), u"<no error>");
}

TEST_F(SpawnServiceShellTest, RelaunchFoldersAreTheTemporaryFolderAndItsPrivateFolders) {
  const String temp = TempFolder();
  const struct {
    String folder;
    bool relaunch;
  } cases[] = {
      {temp, true},
      {ExcludeTrailingBackslash(temp), true},
      {temp + u"MivoUninstall-0123456789ABCDEF\\", true},
      {temp + u"mivouninstall-x\\", true},
      {temp + u"Mivo\\", false},
      {temp + u"MivoUninstall-0123456789ABCDEF\\Sub\\", false},
      {u"C:\\Program Files\\Mivo\\", false},
      {u"C:\\MivoUninstall-0123456789ABCDEF\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRelaunchFolder(c.folder), c.relaunch) << U8(c.folder);
  }
}

TEST_F(SpawnServiceShellTest, UninstallerIsKnownByItsFileName) {
  const struct {
    const char16_t* path;
    bool uninstaller;
  } cases[] = {
      {u"C:\\Program Files\\Mivo\\Uninstall.exe", true},
      {u"C:\\Users\\User\\AppData\\Local\\Temp\\UNINSTALL.EXE", true},
      {u"C:\\Uninstall.exe\\Setup.exe", false},
      {u"C:\\Setup\\Uninstall.exe.bak", false},
      {u"C:\\Setup\\MyUninstall.exe", false},
  };
  for (const auto& c : cases) {
    standin::SetModuleFileName(c.path);
    EXPECT_EQ(IsUninstaller(), c.uninstaller) << U8(c.path);
  }
}
#else

// Two real processes: the elevated copy (this program, started with the
// "runas" verb, which Wine grants without a prompt) sends a start request to
// this process's spawn window, and this process starts the program while it
// waits; the copy's exit code comes back.
TEST_F(SpawnServiceTest, ElevatedCopyStartsProgramsThroughTheFirstProcess) {
  const String probe = dir_ + u"elevated.txt";
  const String spawnProbe = dir_ + kSpawnProbeName;
  ASSERT_TRUE(CopyFileTo(ModuleFileName(), spawnProbe, false));
  ASSERT_TRUE(SetCurrentFolder(dir_));
  const String arguments = String(kElevatedSwitch) + u" \"" + probe + u"\" \"" + spawnProbe + u"\"";
  uint32_t exitCode = 0;
  ASSERT_TRUE(RelaunchElevated(arguments, exitCode));
  EXPECT_EQ(exitCode, kElevatedExitCode);
  auto report = ReadProbe(probe);
  const String target = IntToStr(static_cast<int64_t>(TSetupSpawnService::SpawnTarget()));
  EXPECT_EQ(report["arguments"], U8(u"/SKIPUAC=" + target + u" " + arguments));
  EXPECT_EQ(report["current"], U8(ExcludeTrailingBackslash(dir_)));
  EXPECT_TRUE(WaitForFile(dir_ + u"SpawnProbe.txt"));
  EXPECT_EQ(ReadText(dir_ + u"SpawnProbe.txt"), "spawned");
  SetCurrentFolder(previous_folder_);
  EXPECT_TRUE(RemoveWhenFree(spawnProbe));
}

// A program outside the temporary folder copies itself and its ".dat" into
// a private folder there, restarts from there with its folder as PATH, waits
// and ends with the copy's code; the copies go when the copy has ended.
TEST_F(SpawnServiceTest, RelaunchFromTempRunsAPrivateCopyAndEndsWithItsCode) {
  TPendingRenames pending;
  const String exe = dir_ + u"SvcRelaunch.exe", probe = dir_ + u"relaunch.txt";
  const String temp = TempFolder();
  ASSERT_TRUE(CopyFileTo(ModuleFileName(), exe, false));
  ASSERT_TRUE(WriteText(dir_ + u"SvcRelaunch.dat", "dat"));
  TProcessInfo info;
  ASSERT_TRUE(StartProcess(u"\"" + exe + u"\" " + kRelaunchSwitch + u" \"" + probe + u"\" /SILENT",
                           kSwHide, info));
  EXPECT_EQ(Wait(info.process, kInfinite), WaitResult::Signalled);
  uint32_t code = 0;
  EXPECT_TRUE(ProcessExitCode(info.process, code));
  EXPECT_EQ(code, kRelaunchExitCode);
  // Written by the copy before it ended, and so before the first one ended.
  ASSERT_TRUE(FileExists(probe));
  auto report = ReadProbe(probe);
  EXPECT_EQ(report["error"], "");
  const String module = Utf8ToUtf16(report["module"]);
  const String folder = ExtractFilePath(module);
  EXPECT_TRUE(SameTextAscii(ExtractFilePath(ExcludeTrailingBackslash(folder)), temp))
      << report["module"];
  EXPECT_TRUE(SameTextAscii(ExtractFileName(module), u"SvcRelaunch.exe")) << report["module"];
  EXPECT_TRUE(IsRelaunchFolder(folder)) << report["module"];
  EXPECT_TRUE(SameTextAscii(IncludeTrailingBackslash(Utf8ToUtf16(report["current"])), folder))
      << report["current"];
  // Read back with the security API: only administrators and the system
  // may write the folder, and it inherits nothing from the user's folder.
  // Wine keeps no security descriptors of files: it answers one made up
  // from the file's mode, whatever was set.
  if (!RunningUnderWine()) {
    EXPECT_EQ(report["writers"], "S-1-5-32-544,S-1-5-18");
    EXPECT_EQ(report["protected"], "1");
    EXPECT_EQ(report["owner"], "S-1-5-32-544");
  } else {
    std::printf("note: Wine keeps no file security descriptors; read back: writers %s\n",
                report["writers"].c_str());
  }
  const String arguments = Utf8ToUtf16(report["arguments"]);
  String path;
  ASSERT_TRUE(TVelCommandLineProcessor::GetSwitchValue(arguments, u"PATH", path));
  EXPECT_EQ(path, dir_);
  EXPECT_TRUE(TVelCommandLineProcessor::HasSwitch(arguments, u"SILENT"));
  EXPECT_FALSE(DirectoryExists(folder));
  // Nothing is left to the next restart.
  for (const String& entry : pending.Added()) ADD_FAILURE() << U8(entry);
}
#endif

}  // namespace
}  // namespace platform_test
