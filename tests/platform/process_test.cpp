#include <cstdlib>

#include "lib/system.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

// The child program of these tests: natively a fake program, under Windows
// this test program itself started with "--platform-helper CODE", which
// ends at once with that exit code.
int HelperExitCode(const String& commandLine) {
  const size_t at = commandLine.find(u"--platform-helper ");
  if (at == String::npos) return -1;
  return StrToIntDef(Trim(commandLine.substr(at + 18)), 99);
}

#ifdef _WIN32
const bool g_helper_mode = [] {
  platform::Initialize();
  const int code = HelperExitCode(VelSystem().CommandLine());
  if (code >= 0) std::exit(code);
  return false;
}();
#endif

class ProcessTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
#ifdef _WIN32
    helper_ = ModuleFileName();
#else
    helper_ = u"C:\\Tools\\Helper.exe";
    standin::RegisterProgram(helper_, [](const String& commandLine) {
      return static_cast<uint32_t>(HelperExitCode(commandLine));
    });
#endif
  }
  String helper_;
};

TEST_F(ProcessTest, StartWaitAndExitCode) {
  TProcessInfo info;
  ASSERT_TRUE(StartProcess(u"\"" + helper_ + u"\" --platform-helper 7", kSwHide, info))
      << LastError();
  EXPECT_NE(info.processId, 0u);
  // A program without a message queue is never "idle": the wait fails at once.
  EXPECT_EQ(WaitForProcessIdle(info.process, 5000), kWaitFailed);
  EXPECT_EQ(WaitWithMessages(info.process, kInfinite), WaitResult::Signalled);
  uint32_t code = 0;
  ASSERT_TRUE(ProcessExitCode(info.process, code));
  EXPECT_EQ(code, 7u);

  // A running process opened by its id: signalled when it ends.
  ASSERT_TRUE(StartProcess(u"\"" + helper_ + u"\" --platform-helper 3", kSwHide, info));
  TWaitHandle opened = OpenProcessById(info.processId);
  ASSERT_TRUE(opened) << LastError();
  EXPECT_EQ(WaitWithMessages(opened, kInfinite), WaitResult::Signalled);
  EXPECT_EQ(WaitWithMessages(info.process, kInfinite), WaitResult::Signalled);

  EXPECT_FALSE(StartProcess(u"\"" + dir_ + u"NoSuchProgram.exe\" /x", kSwShow, info));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(ProcessTest, ShellExecuteReturnsTheStartedProcess) {
  TShellExecuteParams params;
  params.mask = kSeeMaskNoCloseProcess | kSeeMaskNoAsync | kSeeMaskFlagNoUi;
  params.file = helper_;
  params.parameters = u"--platform-helper 5";
  params.directory = dir_;
  params.show = kSwHide;
  TWaitHandle process;
  ASSERT_TRUE(ShellExecuteWith(params, &process)) << LastError();
  ASSERT_TRUE(process);
  EXPECT_EQ(Wait(process, kInfinite), WaitResult::Signalled);
  uint32_t code = 0;
  ASSERT_TRUE(ProcessExitCode(process, code));
  EXPECT_EQ(code, 5u);

  EXPECT_GT(ShellExecuteSimple(u"", helper_, u"--platform-helper 0", u"", kSwHide), 32);

  params.file = dir_ + u"NoSuchProgram.exe";
  EXPECT_FALSE(ShellExecuteWith(params, &process));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_LE(ShellExecuteSimple(u"", params.file, u"", u"", kSwHide), 32);
}

#ifndef _WIN32
// The stand-in lets a test see what would be asked of the shell and answer
// like a user at the elevation prompt.
TEST_F(ProcessTest, ShellHookSeesTheRequestAndDeclines) {
  standin::SetShellHook([](const TShellExecuteParams& p) {
    return p.verb == u"runas" ? kErrorCancelled : kErrorSuccess;
  });
  TShellExecuteParams params;
  params.mask = kSeeMaskNoCloseProcess | kSeeMaskNoAsync | kSeeMaskFlagNoUi | kSeeMaskNoZoneChecks;
  params.verb = u"runas";
  params.file = helper_;
  params.parameters = u"/SKIPUAC=42 /AUTO";
  params.directory = u"C:\\Work\\";
  params.show = kSwShowNormal;
  TWaitHandle process;
  EXPECT_FALSE(ShellExecuteWith(params, &process));
  EXPECT_EQ(LastError(), kErrorCancelled);
  const auto calls = standin::ShellCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].mask, 0x00800540u);
  EXPECT_EQ(calls[0].verb, u"runas");
  EXPECT_EQ(calls[0].file, helper_);
  EXPECT_EQ(calls[0].parameters, u"/SKIPUAC=42 /AUTO");
  EXPECT_EQ(calls[0].directory, u"C:\\Work\\");
  EXPECT_EQ(calls[0].show, kSwShowNormal);

  // Accepted requests for documents start nothing; programs run as fakes.
  EXPECT_GT(ShellExecuteSimple(u"", u"https://example.invalid/", u"", u"", kSwShow), 32);
  params.verb.clear();
  params.parameters = u"--platform-helper 3";
  ASSERT_TRUE(ShellExecuteWith(params, &process));
  uint32_t code = 0;
  Wait(process, kInfinite);
  ASSERT_TRUE(ProcessExitCode(process, code));
  EXPECT_EQ(code, 3u);
}

TEST_F(ProcessTest, FakeProgramOwnsItsWindows) {
  // A running player: a window of its class, found with its executable.
  TWaitHandle created = NewEvent(true, false), quit = NewEvent(true, false);
  standin::RegisterProgram(u"C:\\Program Files\\Mivo\\Mivo.exe", [&](const String&) {
    const WindowHandle w = CreateMessageWindow(
        u"TMivoMainForm", [](WindowHandle h, uint32_t m, uintptr_t wp, intptr_t lp) {
          return DefaultHandler(h, m, wp, lp);
        });
    SignalEvent(created);
    Wait(quit, kInfinite);
    DestroyMessageWindow(w);
    return 0u;
  });
  TProcessInfo info;
  ASSERT_TRUE(StartProcess(u"\"c:\\program files\\mivo\\MIVO.EXE\"", kSwShow, info));
  ASSERT_EQ(Wait(created, kInfinite), WaitResult::Signalled);
  const WindowHandle w = FindWindowByClass(u"TMivoMainForm");
  ASSERT_NE(w, 0u);
  EXPECT_EQ(WindowProcessId(w), info.processId);
  String image;
  ASSERT_TRUE(ProcessImagePath(info.processId, image));
  EXPECT_EQ(image, u"C:\\Program Files\\Mivo\\Mivo.exe");
  uint32_t code = 0;
  ASSERT_TRUE(ProcessExitCode(info.process, code));
  EXPECT_EQ(code, kStillActive);
  SignalEvent(quit);
  EXPECT_EQ(Wait(info.process, kInfinite), WaitResult::Signalled);
}
#endif

TEST_F(ProcessTest, ShellLinksRoundTrip) {
  TShellLink link;
  link.target = helper_;
  link.arguments = u"/REG=U";
  link.workingDirectory = dir_;
  link.description = u"Mivo audio player";
  link.iconPath = helper_;
  link.iconIndex = 1;
  const String path = dir_ + u"Mivo.lnk";
  ASSERT_TRUE(CreateShellLink(path, link)) << LastError();
  EXPECT_TRUE(FileExists(path));
  TShellLink back;
  ASSERT_TRUE(ReadShellLink(path, back));
  EXPECT_TRUE(SameTextAscii(back.target, link.target)) << U8(back.target);
  EXPECT_EQ(back.arguments, link.arguments);
  EXPECT_TRUE(SameTextAscii(IncludeTrailingBackslash(back.workingDirectory), dir_));
  EXPECT_EQ(back.description, link.description);
  EXPECT_EQ(back.iconIndex, 1);
  EXPECT_FALSE(CreateShellLink(dir_ + u"missing\\Mivo.lnk", link));
  EXPECT_FALSE(ReadShellLink(dir_ + u"none.lnk", back));
}

TEST_F(ProcessTest, LibrariesAndTheirExports) {
#ifdef _WIN32
  const String library = u"kernel32.dll";
  const char* exportName = "GetTickCount";
#else
  const String library = u"C:\\Windows\\system32\\kernel32.dll";
  const char* exportName = "GetTickCount";
  int calls = 0;
  standin::RegisterLibrary(library, {{exportName, [&] { ++calls; }}});
#endif
  EXPECT_TRUE(RestrictLibrarySearchToSystem());
  TLibrary lib;
  ASSERT_TRUE(lib.Load(library)) << LastError();
  EXPECT_TRUE(lib.CallExport(exportName));
  EXPECT_FALSE(lib.CallExport("MivoNoSuchExport"));
#ifndef _WIN32
  EXPECT_EQ(calls, 1);
#endif
  lib.Free();
  EXPECT_FALSE(lib.CallExport(exportName));
  EXPECT_FALSE(lib.Load(dir_ + u"NoSuch.dll"));
  EXPECT_EQ(LastError(), kErrorModNotFound);
  NotifyAssociationsChanged();
}

}  // namespace
}  // namespace platform_test
