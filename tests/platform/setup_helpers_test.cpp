// The file and shell routines of the installation steps, natively against
// the stand-in and under Wine against the system.
#include "platform/setup_helpers.h"

#include <algorithm>
#include <atomic>

#include "lib/exceptions.h"
#include "lib/string_list.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform_fixture.h"
#include "setup_test_util.h"

namespace platform_test {
namespace {

using namespace platform;

class SetupHelpersTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
#ifdef _WIN32
    self_ = ModuleFileName();
#else
    self_ = u"C:\\Tools\\Helper.exe";
    // The native child: writes the marker file named after the switch, a
    // little later, so that a caller that does not wait sees nothing yet.
    standin::RegisterProgram(self_, [](const String& commandLine) -> uint32_t {
      const size_t at = commandLine.find(kMarkerSwitch);
      if (at == String::npos) return 1;
      const size_t open = commandLine.find(u'"', at);
      const size_t close = commandLine.find(u'"', open + 1);
      Wait(NewEvent(true, false), 300);
      WriteText(commandLine.substr(open + 1, close - open - 1), "done");
      return 0;
    });
#endif
  }

  String MarkerCommand(const String& marker) const {
    return u"\"" + self_ + u"\" " + kMarkerSwitch + u" \"" + marker + u"\"";
  }

  String self_;  // the child program
};

String Message(const std::function<void()>& f, uint32_t* code = nullptr) {
  try {
    f();
  } catch (const EOSError& e) {
    if (code) *code = e.ErrorCode();
    return e.Message();
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"<no error>";
}

TEST_F(SetupHelpersTest, CopyReplacesAndRaisesWithBothPaths) {
  const String source = dir_ + u"a.txt", target = dir_ + u"b.txt";
  ASSERT_TRUE(WriteText(source, "new"));
  ASSERT_TRUE(WriteText(target, "old"));
  CopyFileOrRaise(source, target);
  EXPECT_EQ(ReadText(target), "new");

  const String missing = dir_ + u"missing.txt";
  uint32_t code = 0;
  EXPECT_EQ(
      Message([&] { CopyFileOrRaise(missing, target); }, &code),
      u"System Error.  Code: 2.\r\n" + SystemErrorText(2) + u"\r\n" + missing + u" -> " + target);
  EXPECT_EQ(code, kErrorFileNotFound);

  // A read-only target is not replaced: the callers clear attributes first.
  ASSERT_TRUE(SetAttributes(target, kFileAttributeReadOnly));
  const String message = Message([&] { CopyFileOrRaise(source, target); }, &code);
  if (message == u"<no error>" && !ReadOnlyEnforced(target))
    GTEST_SKIP() << "read-only files are writable here";
  EXPECT_EQ(message, u"System Error.  Code: 5.\r\n" + SystemErrorText(5) + u"\r\n" + source +
                         u" -> " + target);
  EXPECT_EQ(code, kErrorAccessDenied);
}

// An interrupted or failed rewrite leaves the old file whole.
TEST_F(SetupHelpersTest, SaveFileReplacingChangesTheFileInOneStep) {
  const String file = dir_ + u"record.dat";
  const auto save = [&](const std::string& text, bool fail) {
    SaveFileReplacing(file, [&](TStream& out) {
      out.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
      if (fail) throw EWriteError(u"There is not enough space on the disk.");
    });
  };
  save("first", false);
  EXPECT_EQ(ReadText(file), "first");
  EXPECT_EQ(Message([&] { save("second, cut short", true); }),
            u"There is not enough space on the disk.");
  EXPECT_EQ(ReadText(file), "first");
  EXPECT_FALSE(FileExists(file + u".new"));

  // A leftover of a killed run under the fresh name is no obstacle.
  ASSERT_TRUE(WriteText(file + u".new", "half"));
  save("third", false);
  EXPECT_EQ(ReadText(file), "third");
  EXPECT_FALSE(FileExists(file + u".new"));

  // What cannot be created is named.
  ASSERT_TRUE(CreateFolder(file + u".new"));
  // (The system's reason differs: access denied, or that the name exists.)
  const String message = Message([&] { save("fourth", false); });
  const String named = u"Cannot create file \"" + file + u".new\". ";
  EXPECT_EQ(message.substr(0, named.size()), named) << U8(message);
  EXPECT_GT(message.size(), named.size());
  EXPECT_EQ(ReadText(file), "third");
  RemoveFolder(file + u".new");
}

TEST_F(SetupHelpersTest, DeleteIgnoresWhatIsNoFileAndClearsReadOnly) {
  TPendingRenames pending;
  DeleteFileOrDefer(dir_ + u"missing.txt");
  DeleteFileOrDefer(dir_ + u"nofolder\\missing.txt");
  ASSERT_TRUE(CreateFolder(dir_ + u"sub"));
  DeleteFileOrDefer(dir_ + u"sub");
  EXPECT_TRUE(DirectoryExists(dir_ + u"sub"));

  const String file = dir_ + u"ro.txt";
  ASSERT_TRUE(WriteText(file, "x"));
  ASSERT_TRUE(SetAttributes(file, kFileAttributeReadOnly | kFileAttributeHidden));
  DeleteFileOrDefer(file);
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(pending.Added().empty());
}

TEST_F(SetupHelpersTest, FileOpenWithoutSharingStaysWithoutError) {
  TPendingRenames pending;
  const String file = dir_ + u"locked.txt";
  ASSERT_TRUE(WriteText(file, "x"));
  {
    auto held = OpenFileShared(file, kGenericRead, 0, kOpenExisting);
    ASSERT_TRUE(held);
    // Neither deleted nor moved while it is open: left in place, no error.
    DeleteFileOrDefer(file);
    EXPECT_TRUE(FileExists(file));
  }
  EXPECT_TRUE(pending.Added().empty());
  DeleteFileOrDefer(file);
  EXPECT_FALSE(FileExists(file));
}

// A file held open with delete sharing (as a player holds its files) is
// renamed beside itself and deleted there: its name is free at once for the
// new file, the holder still reads the old content, and the renamed file
// vanishes when the holder closes it. Nothing waits for a restart.
TEST_F(SetupHelpersTest, HeldFileFreesItsNameAtOnce) {
  TPendingRenames pending;
  ResetRestartNeeded();
  const String folder = dir_ + u"Skins\\", file = folder + u"Dark.ini";
  ASSERT_TRUE(CreateFolder(folder));
  ASSERT_TRUE(WriteText(file, "old"));
  auto names = [&] {
    std::vector<TFolderEntry> entries;
    ListFolder(folder, entries);
    std::vector<String> result;
    for (const TFolderEntry& e : entries) result.push_back(e.name);
    std::sort(result.begin(), result.end());
    return result;
  };
  {
    auto held =
        OpenFileShared(file, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting);
    ASSERT_TRUE(held);
    ASSERT_TRUE(SetAttributes(file, kFileAttributeReadOnly));
    DeleteFileOrDefer(file);
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(WriteText(file, "new"));
    EXPECT_EQ(ReadText(file), "new");
    char data[3] = {};
    EXPECT_EQ(held->Read(data, 3), 3);
    EXPECT_EQ(std::string(data, 3), "old");
    // Where the system keeps a held file's name, the renamed one is still listed.
    for (const String& name : names())
      EXPECT_TRUE(name == u"Dark.ini" || (StartsWith(name, u"~del") && EndsWith(name, u".tmp")))
          << U8(name);
  }
  EXPECT_EQ(names(), std::vector<String>{u"Dark.ini"});
  EXPECT_TRUE(pending.Added().empty());
  EXPECT_FALSE(RestartNeeded());
}

TEST_F(SetupHelpersTest, RunningProgramIsMovedAndDeletedAtRestart) {
  TPendingRenames pending;
  const String busy = dir_ + u"Busy.exe", stop = dir_ + u"stop.txt";
  TProcessInfo info;
#ifdef _WIN32
  ASSERT_TRUE(CopyFileTo(self_, busy, false));
  ASSERT_TRUE(
      StartProcess(u"\"" + busy + u"\" " + kBusySwitch + u" \"" + stop + u"\"", kSwHide, info));
#else
  ASSERT_TRUE(WriteText(busy, "MZ"));
  const TWaitHandle release = NewEvent(true, false);
  standin::RegisterProgram(busy, [release](const String&) {
    Wait(release, kInfinite);
    return 0u;
  });
  ASSERT_TRUE(StartProcess(u"\"" + busy + u"\"", kSwHide, info));
#endif
  // The image of a running program cannot be deleted, only moved.
  EXPECT_FALSE(RemoveFile(busy));
  EXPECT_EQ(LastError(), kErrorAccessDenied);

  ResetRestartNeeded();
  DeleteFileOrDefer(busy);
  EXPECT_FALSE(FileExists(busy));
  // A restart completes the run now.
  EXPECT_TRUE(RestartNeeded());
  ResetRestartNeeded();
  const std::vector<String> added = pending.Added();
  ASSERT_EQ(added.size(), 2u);
  const String prefix = u"\\??\\" + TempFolder() + u"del";
  EXPECT_TRUE(StartsWith(added[0], prefix) && EndsWith(added[0], u".tmp")) << U8(added[0]);
  EXPECT_EQ(added[1], u"");
  const String moved = added[0].substr(4);
  EXPECT_TRUE(FileExists(moved));

#ifdef _WIN32
  ASSERT_TRUE(WriteText(stop, "stop"));
#else
  SignalEvent(release);
#endif
  EXPECT_EQ(Wait(info.process, kInfinite), WaitResult::Signalled);
  EXPECT_TRUE(RemoveWhenFree(moved));
}

TEST_F(SetupHelpersTest, FindFilesOrderExclusionAndSystemEntries) {
  const String root = dir_ + u"Root\\";
  for (const char16_t* folder : {u"", u"10", u"9", u"9\\sub", u"Backup", u"BackupOld", u"Hidden",
                                 u"SysDir", u"SysDir\\inner"})
    ASSERT_TRUE(CreateFolder(root + folder)) << U8(folder);
  // One file a folder, so that the file system's own order does not matter.
  for (const char16_t* file : {u"a.txt", u"10\\x.txt", u"9\\y.txt", u"9\\sub\\z.txt",
                               u"Backup\\k.txt", u"BackupOld\\m.txt", u"Hidden\\h.txt",
                               u"SysDir\\n.txt", u"SysDir\\inner\\o.txt", u"9\\sys.txt"})
    ASSERT_TRUE(WriteText(root + file, "x")) << U8(file);
  ASSERT_TRUE(SetAttributes(root + u"SysDir", kFileAttributeSystem));
  ASSERT_TRUE(SetAttributes(root + u"9\\sys.txt", kFileAttributeSystem | kFileAttributeHidden));
  ASSERT_TRUE(SetAttributes(root + u"Hidden", kFileAttributeHidden));

  auto find = [&](const String& from, const String& excluded) {
    TVelStringList result;
    FindFiles(from, excluded, result);
    std::vector<String> rel;
    for (int i = 0; i < result.Count(); ++i)
      rel.push_back(StartsWith(result.Strings(i), root) ? result.Strings(i).substr(root.size())
                                                        : u"<" + result.Strings(i) + u">");
    return rel;
  };
  using V = std::vector<String>;
  const V all = {u"a.txt",         u"9\\y.txt",         u"9\\sub\\z.txt", u"10\\x.txt",
                 u"Backup\\k.txt", u"BackupOld\\m.txt", u"Hidden\\h.txt"};
  EXPECT_EQ(find(root, u""), all);
  EXPECT_EQ(find(ExcludeTrailingBackslash(root), u""), all);

  // A prefix with its backslash omits that folder only; without it, also its
  // namesakes. Case does not matter.
  EXPECT_EQ(find(root, root + u"backup\\"),
            (V{u"a.txt", u"9\\y.txt", u"9\\sub\\z.txt", u"10\\x.txt", u"BackupOld\\m.txt",
               u"Hidden\\h.txt"}));
  EXPECT_EQ(find(root, root + u"BACKUP"),
            (V{u"a.txt", u"9\\y.txt", u"9\\sub\\z.txt", u"10\\x.txt", u"Hidden\\h.txt"}));
  EXPECT_EQ(find(root, root + u"9\\sub\\"),
            (V{u"a.txt", u"9\\y.txt", u"10\\x.txt", u"Backup\\k.txt", u"BackupOld\\m.txt",
               u"Hidden\\h.txt"}));
  EXPECT_EQ(find(root, root), V{});
  EXPECT_EQ(find(dir_ + u"missing\\", u""), V{});

  // The list is appended to.
  TVelStringList result;
  result.Add(u"first");
  FindFiles(root + u"10", u"", result);
  ASSERT_EQ(result.Count(), 2);
  EXPECT_EQ(result.Strings(0), u"first");
  EXPECT_EQ(result.Strings(1), root + u"10\\x.txt");
}

// A link inside the tree is neither listed nor entered, and a root that is a
// link lists nothing: what it points to may be anybody's.
TEST_F(SetupHelpersTest, FindFilesNeverGoesThroughLinks) {
  const String root = dir_ + u"Root\\", other = dir_ + u"Other\\";
  ASSERT_TRUE(CreateFolder(root));
  ASSERT_TRUE(CreateFolder(other));
  ASSERT_TRUE(WriteText(root + u"a.txt", "x"));
  ASSERT_TRUE(WriteText(other + u"secret.txt", "x"));
  if (!CreateFolderLink(root + u"Docs", ExcludeTrailingBackslash(other)))
    GTEST_SKIP() << "no folder links here: " << LastError();
  ASSERT_TRUE(CreateFolderLink(dir_ + u"RootLink", ExcludeTrailingBackslash(root)));

  TVelStringList result;
  FindFiles(root, u"", result);
  ASSERT_EQ(result.Count(), 1);
  EXPECT_EQ(result.Strings(0), root + u"a.txt");
  result.Clear();
  FindFiles(dir_ + u"RootLink\\", u"", result);
  EXPECT_EQ(result.Count(), 0);
  RemoveFolder(root + u"Docs");
  RemoveFolder(dir_ + u"RootLink");
}

// Paths of 260 characters and more work through the long-path rule.
TEST_F(SetupHelpersTest, LongPaths) {
  String deep = dir_;
  while (deep.size() < 300) {
    deep += u"a-rather-long-folder-name-0123456789\\";
    ASSERT_TRUE(CreateFolder(deep)) << LastError();
  }
  const String source = dir_ + u"s.txt", target = deep + u"t.txt";
  ASSERT_TRUE(WriteText(source, "x"));
  CopyFileOrRaise(source, target);
  TVelStringList result;
  FindFiles(dir_, u"", result);
  ASSERT_EQ(result.Count(), 2);
  EXPECT_EQ(result.Strings(1), target);
  DeleteFileOrDefer(target);
  EXPECT_FALSE(FileExists(target));
}

TEST_F(SetupHelpersTest, RunAndWaitWaitsForTheProgram) {
  const String marker = dir_ + u"done.txt";
  RunAndWait(MarkerCommand(marker));
  EXPECT_TRUE(FileExists(marker));
  RunAndWait(u"\"" + dir_ + u"NoSuchProgram.exe\"");  // ignored
}

TEST_F(SetupHelpersTest, ShellOpenPassesParametersToPrograms) {
  const String marker = dir_ + u"opened.txt";
  EXPECT_TRUE(ShellOpen(self_, String(kMarkerSwitch) + u" \"" + marker + u"\""));
  EXPECT_TRUE(WaitForFile(marker));
  EXPECT_FALSE(ShellOpen(u"", u"x"));
  EXPECT_FALSE(ShellOpen(dir_ + u"NoSuchProgram.exe", u""));
}

#ifndef _WIN32
TEST_F(SetupHelpersTest, ShellOpenNeverPassesParametersToAddresses) {
  standin::SetShellHook([](const TShellExecuteParams&) { return kErrorSuccess; });
  struct Case {
    const char16_t* file;
    bool address;
  } cases[] = {
      {u"https://example.invalid/page", true},
      {u"file:\\\\server\\share", true},
      {u"MailTo:someone@example.invalid", true},
      {u"mailto:", true},
      {u"C:\\Tools\\App.exe", false},
      {u"x:/\\mixed", false},
      {u"C:\\folder://x", false},
      {u"name", false},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(ShellOpen(c.file, u"/P")) << U8(c.file);
    const auto calls = standin::ShellCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().file, c.file);
    EXPECT_EQ(calls.back().parameters, c.address ? u"" : u"/P") << U8(c.file);
    EXPECT_EQ(calls.back().verb, u"");
    EXPECT_EQ(calls.back().show, kSwShow);
  }
}
#endif

TEST_F(SetupHelpersTest, ActiveXExportIsCalledAndTheFolderRestored) {
  String system;
  ASSERT_TRUE(SpecialFolder(kCsidlSystem, system));
  const String dll = IncludeTrailingBackslash(system) + u"kernel32.dll";
#ifndef _WIN32
  int unregistered = 0, ticks = 0;
  standin::RegisterLibrary(
      dll, {{"DllUnregisterServer", [&] { ++unregistered; }}, {"GetTickCount", [&] { ++ticks; }}});
#endif
  const String previous = CurrentFolder();
  ASSERT_TRUE(SetCurrentFolder(dir_));
  const String before = CurrentFolder();
  TSetupActiveX::CallExport(dll, "GetTickCount");
  TSetupActiveX::CallExport(dll, "MivoNoSuchExport");
  TSetupActiveX::Unregister(dir_ + u"Missing.dll");
#ifndef _WIN32
  TSetupActiveX::Unregister(dll);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(unregistered, 1);
#endif
  EXPECT_EQ(CurrentFolder(), before);
  SetCurrentFolder(previous);
}

TEST_F(SetupHelpersTest, WaitKeepsDeliveringSentMessagesAndQueuedCalls) {
  ASSERT_TRUE(IsMainThread());
  std::atomic<int> delivered{0}, queued{0};
  const WindowHandle window = CreateMessageWindow(
      u"TSetupHelpersTest", [&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        if (m == kWmUser + 7) return static_cast<intptr_t>(++delivered);
        return DefaultHandler(w, m, wp, lp);
      });
  ASSERT_NE(window, 0u);
  const TWaitHandle signal = NewEvent(false, false), ran = NewEvent(true, false);
  SetMainThreadCallQueue(signal, [&] {
    ++queued;
    SignalEvent(ran);
  });
  const TWaitHandle worker = StartThread([&] {
    // Both would block forever if the main thread's wait did not serve them.
    EXPECT_EQ(Send(window, kWmUser + 7, 0, 0), 1);
    SignalEvent(signal);
    EXPECT_EQ(Wait(ran, kInfinite), WaitResult::Signalled);
  });
  EXPECT_EQ(::WaitWithMessages(worker, kInfinite), 0);
  EXPECT_EQ(delivered.load(), 1);
  EXPECT_EQ(queued.load(), 1);
  SetMainThreadCallQueue(TWaitHandle(), nullptr);

  EXPECT_EQ(::WaitWithMessages(NewEvent(true, false), 20), 1);
  EXPECT_EQ(::WaitWithMessages(TWaitHandle(), 20), 3);
  // Off the main thread a plain wait.
  const TWaitHandle done = NewEvent(true, true);
  int offMain = -1;
  Wait(StartThread([&] { offMain = ::WaitWithMessages(done, kInfinite); }), kInfinite);
  EXPECT_EQ(offMain, 0);
  DestroyMessageWindow(window);
}

}  // namespace
}  // namespace platform_test
