// The extraction step: the files of the chosen language family, progress and
// status, the uninstall record and the registry entry, and what happens to a
// target file that is held open.
#include <algorithm>
#include <exception>
#include <functional>

#include "../platform/setup_test_util.h"
#include "core/setup_action.h"
#include "lib/system.h"
#include "platform/app_repo.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/setup_helpers.h"
#include "product/setup_action_extract.h"
#include "platform/security.h"
#include "product/setup_classes.h"
#include "product_test_util.h"

namespace product_test {
namespace {

void WriteFileText(const String& path, const std::string& text) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericWrite, platform::kFileShareRead, platform::kCreateAlways);
  ASSERT_NE(file, nullptr) << U8(path);
  file->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

// The file held open the way a running program's image is: others may read
// and rename it, but not write it.
std::unique_ptr<TStream> HoldOpen(const String& path) {
  return platform::OpenFileShared(path, platform::kGenericRead,
                                  platform::kFileShareRead | platform::kFileShareDelete,
                                  platform::kOpenExisting);
}

// UTF-16LE with byte-order mark.
std::string Utf16Bytes(StringView text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

class TStatusListener : public IInstallerNotify {
 public:
  void Notify(uint32_t code, uintptr_t param) override {
    if (code == NotifyStatus) texts.push_back(*reinterpret_cast<const String*>(param));
  }
  std::vector<String> texts;
};

// A question as the message box presenter saw it.
struct TQuestion {
  String text, caption;
  uint32_t flags = 0;
  bool onMainThread = false;
};

class ExtractTest : public ProductTest {
 protected:
  void SetUp() override {
    ProductTest::SetUp();
#ifndef _WIN32
    // The player's programs are Windows programs: natively a few bytes stand
    // in for them, and for the running installer.
    static const std::vector<uint8_t> product = PackFolder(
        DemoFolder() + "product", {{u"Mivo.exe", "MZ player"}, {u"Rivadavi.exe", "MZ reg"}});
    UseProductPackage(product);
    WriteFileText(u"C:\\Setup\\Setup.exe", "MZ the installer");
#endif
  }
  void TearDown() override {
    TSetupAppRepo::Delete(u"Mivo");
    ProductTest::TearDown();
  }

  // Runs body on a worker thread while this (the main) thread waits and
  // serves it; returns the message of what body raised, else "".
  static std::string OnWorker(const std::function<void()>& body) {
    std::string message;
    platform::TWaitHandle worker = platform::StartThread([&] {
      try {
        body();
      } catch (const Exception& e) {
        message = U8(e.Message());
      }
    });
    EXPECT_EQ(::WaitWithMessages(worker, platform::kInfinite), 0);
    return message;
  }

  // Answers the questions in turn (Abort when the answers run out); `onAsk`
  // runs before each answer.
  void Answer(std::vector<int> answers, std::function<void()> onAsk = {}) {
    setup_->SetMessageBoxPresenter(
        [this, answers, onAsk](const String& text, const String& caption, uint32_t flags) {
          questions_.push_back({text, caption, flags, platform::IsMainThread()});
          if (onAsk) onAsk();
          return questions_.size() <= answers.size() ? answers[questions_.size() - 1] : kIdAbort;
        });
  }

  String Common(StringView key) {
    return setup_->Resources().GetText(u"Common", key);
  }
  std::string PackageText(const String& name) {
    const std::vector<uint8_t> bytes = ReadAll(*setup_->Resources().OpenFile(name));
    return std::string(bytes.begin(), bytes.end());
  }
  // The record inside the uninstall data package.
  std::string RecordBytes(const String& folder = {}) {
    std::unique_ptr<TStream> file =
        platform::OpenFileShared((folder.empty() ? work_ : folder) + u"Uninstall.dat", platform::kGenericRead,
                                 platform::kFileShareRead, platform::kOpenExisting);
    if (!file) return "<missing>";
    TSetupPackageReader reader(*file);
    std::unique_ptr<TMemoryStream> record;
    if (reader.FileTable().Count() != 1 || !reader.Extract(u"Uninstall.ini", record))
      return "<no record>";
    const std::vector<uint8_t> bytes = ReadAll(*record);
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<TQuestion> questions_;
};

TEST_F(ExtractTest, IsTheProductsExtractionStep) {
  const TSetupActionClass* actionClass = FindSetupActionClass(u"TSetupActionExtract");
  ASSERT_NE(actionClass, nullptr);
  EXPECT_NE(dynamic_cast<TSetupActionExtract*>((*actionClass)().get()), nullptr);
  CreateAuto(work_);
  int handedOut = 0;
  Product().EnumActions([&](const TSetupActionClass& c) {
    if (dynamic_cast<TSetupActionExtract*>(c().get())) ++handedOut;
  });
  EXPECT_EQ(handedOut, 1);
}

// The whole step over the demo's script, on a worker thread.
TEST_F(ExtractTest, InstallsTheLanguagesFilesAndRecordsThem) {
  struct Case {
    const char16_t* family;  // null: the chosen language's (English)
    bool portable;
    std::vector<String> files;  // relative to the destination, in script order
    const char* readme;
    std::vector<int32_t> progress;
  };
  const std::vector<String> common = {u"Mivo.exe",        u"Rivadavi.exe",
                                      u"Readme.txt",      u"Skins\\Light.ini",
                                      u"Skins\\Dark.ini", u"Plugins\\Equalizer.ini"};
  std::vector<String> russian = common;
  russian.push_back(u"Radio\\Stations.ini");
  const Case cases[] = {
      {nullptr, false, common, "Readme_EN.txt", {16, 33, 50, 66, 83, 100}},
      {u"ru", true, russian, "Readme_RU.txt", {14, 28, 42, 57, 71, 85, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.readme);
    TearDown();
    SetUp();
    questions_.clear();
    TSetup& setup =
        Create(u"/AUTO=\"" + work_ + u"\" /SILENT" + (c.portable ? u" /PORTABLE" : u""));
    ASSERT_EQ(setup.IsOptionSet(TSetupOption::Portable), c.portable);
    if (c.family) setup.Resources().Lang().WriteString(u"File", u"Family", c.family);
    // The choices of the run; a stale record section does not come along.
    setup.Settings.Clear();
    setup.Settings.WriteBool(u"Common", u"RemoveBackups", true);
    setup.Settings.WriteBool(u"Integration", u"ShortcutDesktop", false);
    setup.Settings.WriteString(u"Uninstall", u"0", u"Stale.exe");
    setup.Settings.WriteBool(u"Actions", u"RunPlayer", true);
    TStatusListener statuses;
    setup.AddListener(&statuses);
    Answer({});

    TSetupActionExtract action;
    std::vector<int32_t> progress;
    action.SetOnProgress([&](TSetupAction& a) { progress.push_back(a.Progress()); });
    EXPECT_EQ(OnWorker([&] { action.Execute(); }), "");
    setup.RemoveListener(&statuses);

    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(statuses.texts, (std::vector<String>{Common(u"A4"), Common(u"A7")}));
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(ReadFileText(work_ + u"Readme.txt"), PackageText(Utf8ToUtf16(c.readme)));
    EXPECT_EQ(ReadFileText(work_ + u"Skins\\Dark.ini"), PackageText(u"Skins\\Dark.ini"));
    EXPECT_EQ(platform::FileExists(work_ + u"Radio\\Stations.ini"), c.files.size() == 7);
#ifdef _WIN32
    // The test program carries a product package, which its uninstaller leaves out.
    const size_t uninstaller = ReadFileText(work_ + u"Uninstall.exe").size();
    const size_t program = ReadFileText(platform::ModuleFileName()).size();
    EXPECT_GT(uninstaller, 0u);
    EXPECT_LT(uninstaller, program);
#else
    EXPECT_EQ(ReadFileText(work_ + u"Uninstall.exe"), ReadFileText(platform::ModuleFileName()));
#endif

    String record =
        u"[Common]\r\nRemoveBackups=1\r\n\r\n[Integration]\r\nShortcutDesktop=0\r\n\r\n"
        u"[Actions]\r\nRunPlayer=1\r\n\r\n[Uninstall]\r\n";
    std::vector<String> entries = c.files;
    entries.push_back(u"Uninstall.dat");
    entries.push_back(u"Uninstall.exe");
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_TRUE(platform::FileExists(work_ + entries[i])) << U8(entries[i]);
      record += IntToStr(static_cast<int64_t>(i)) + u"=" + entries[i] + u"\r\n";
      if (i == 0) record += u"Count=" + IntToStr(static_cast<int64_t>(entries.size())) + u"\r\n";
    }
    record += u"\r\n";
    EXPECT_EQ(RecordBytes(), Utf16Bytes(record));

    platform::TRegKey key;
    const uint32_t opened =
        key.Open(platform::RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + u"Mivo",
                 platform::kKeyRead);
    if (c.portable) {
      EXPECT_NE(opened, platform::kErrorSuccess);
      continue;
    }
    ASSERT_EQ(opened, platform::kErrorSuccess);
    uint32_t noModify = 0, noRepair = 0;
    EXPECT_TRUE(key.ReadDword(u"NoModify", noModify) && noModify == 1);
    EXPECT_TRUE(key.ReadDword(u"NoRepair", noRepair) && noRepair == 1);
    const std::pair<const char16_t*, String> strings[] = {
        {u"DisplayIcon", work_ + u"Uninstall.exe"},
        {u"DisplayName", u"Mivo"},
        {u"DisplayVersion", u"5.50.0.5500"},
        {u"InstallPath", work_},
        {u"Publisher", u"Mivo Team"},
        {u"UninstallString", u"\"" + work_ + u"Uninstall.exe\""},
        {u"URLInfoAbout", u"https://mivo.example/"},
        {u"QuietUninstallString",
         u"\"" + work_ + u"Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES"},
        {u"InstallLocation", work_}};
    for (const auto& [name, expected] : strings) {
      String value;
      EXPECT_TRUE(key.ReadString(name, value));
      EXPECT_EQ(U8(value), U8(expected)) << U8(name);
    }
    String date;
    EXPECT_TRUE(key.ReadString(u"InstallDate", date));
    EXPECT_EQ(date.size(), 8u);
    // The size of the installed files (the record's entries), in KiB
    // rounded up; the version as numbers.
    uint64_t bytes = 0;
    for (const String& entry : entries) bytes += ReadFileText(work_ + entry).size();
    uint32_t size = 0, major = 0, minor = 0;
    EXPECT_TRUE(key.ReadDword(u"EstimatedSize", size));
    EXPECT_EQ(size, (bytes + 1023) / 1024);
    EXPECT_TRUE(key.ReadDword(u"VersionMajor", major) && major == 5);
    EXPECT_TRUE(key.ReadDword(u"VersionMinor", minor) && minor == 50);
    std::vector<String> names;
    String name;
    while (key.EnumValue(static_cast<uint32_t>(names.size()), name) == platform::kErrorSuccess)
      names.push_back(name);
#ifndef _WIN32
    // The stand-in lists values in the order written (Wine's registry sorts).
    EXPECT_EQ(names, (std::vector<String>{u"NoModify", u"NoRepair", u"DisplayIcon", u"DisplayName",
                                          u"DisplayVersion", u"InstallDate", u"InstallPath",
                                          u"Publisher", u"UninstallString", u"URLInfoAbout",
                                          u"QuietUninstallString", u"InstallLocation",
                                          u"EstimatedSize", u"VersionMajor", u"VersionMinor"}));
#endif
    EXPECT_EQ(names.size(), 15u);
  }
}

TEST_F(ExtractTest, RecordEntriesAreRelativeBelowTheDestination) {
  CreateAuto(work_);
  TSetupActionExtract action;
  TVelIniFile record;
  String upper = work_;
  for (auto& ch : upper)
    if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
  const String temp = platform::TempFolder();
  const String sibling = work_.substr(0, work_.size() - 1) + u"x\\f.txt";
  for (const String& path : {work_ + u"A.exe", work_ + u"Sub\\B.dll", temp + u"Mivo.tmp",
                             upper + u"Case.txt", sibling})
    action.AddRecordEntry(record, path);
  EXPECT_EQ(U8(record.GetSectionText(u"Uninstall")),
            U8(u"0=A.exe\r\nCount=5\r\n1=Sub\\B.dll\r\n2=" + temp +
               u"Mivo.tmp\r\n3=Case.txt\r\n4=" + sibling + u"\r\n"));
}

#ifndef _WIN32
// A destination the installer makes outside a program-files folder may be
// changed only by the administrators and the system; users read it. A
// portable one is the user's own, an existing one keeps its access list.
TEST_F(ExtractTest, ANewDestinationIsWritableByAdministratorsOnly) {
  const String made = work_ + u"Made\\";
  CreateAuto(made);
  TSetupActionExtract().MakeDestination();
  platform::TSecurityInfo info;
  ASSERT_TRUE(platform::ReadSecurityInfo(made, info));
  EXPECT_EQ(platform::AccountsWithWriteAccess(info),
            (std::vector<String>{platform::kSidAdministrators, platform::kSidLocalSystem}));
  EXPECT_TRUE(info.protectedAcl);
  EXPECT_TRUE(std::any_of(info.entries.begin(), info.entries.end(),
                          [](const platform::TAccessEntry& e) { return e.sid == platform::kSidUsers; }));
  for (const String& folder : {work_ + u"Portable\\", work_}) {
    setup_.reset();
    Create(u"/AUTO=\"" + folder + u"\" /PORTABLE /SILENT");
    TSetupActionExtract().MakeDestination();
    if (platform::ReadSecurityInfo(folder, info)) {
      EXPECT_FALSE(info.protectedAcl) << U8(folder);
    }
  }
}
#endif

#ifndef _WIN32
// A link planted at a target's name is replaced by the file, never written
// through.
TEST_F(ExtractTest, ALinkAtATargetsNameIsReplaced) {
  CreateAuto(work_);
  ASSERT_TRUE(platform::CreateFolder(work_ + u"Elsewhere"));
  ASSERT_TRUE(platform::CreateFolderLink(work_ + u"Readme.txt", work_ + u"Elsewhere"));
  Answer({});
  TSetupActionExtract action;
  EXPECT_EQ(OnWorker([&] { action.Execute(); }), "");
  EXPECT_FALSE(platform::IsLink(work_ + u"Readme.txt"));
  EXPECT_NE(ReadFileText(work_ + u"Readme.txt"), "<missing>");
  std::vector<platform::TFolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(work_ + u"Elsewhere\\", entries));
  EXPECT_TRUE(entries.empty());
}
#endif

// A "$" in the destination is part of its name, never a variable: the
// record names the uninstaller's own files as such.
TEST_F(ExtractTest, RecordOfADestinationWithADollar) {
  const String dollar = work_ + u"Var$TEMP\\";
  ASSERT_TRUE(platform::CreateFolder(dollar));
  CreateAuto(dollar);
  TSetupActionExtract().WriteUninstallRecord(dollar, {});
  const std::string record = RecordBytes(dollar);
  EXPECT_NE(record.find(Utf16Bytes(u"0=Uninstall.dat\r\nCount=2\r\n1=Uninstall.exe\r\n").substr(2)),
            std::string::npos);
}

// A target that cannot be written: the user is asked on the main thread
// while the extraction waits on its worker thread.
TEST_F(ExtractTest, TargetThatCannotBeWritten) {
  // HeldAndBakTaken: the ".bak" of an earlier run is in use too;
  // HeldAndStaleBak: it is left over, not in use.
  enum Lock { Free, Held, HeldAndBakTaken, HeldAndStaleBak };
  struct Case {
    const char* name;
    Lock lock;
    bool sameContent;
    std::vector<int> answers;
    bool releaseOnAsk;
    std::string target, bak;  // "new", "old", "bak" or "<missing>"
    bool aborted;
  };
  const Case cases[] = {
      {"free", Free, false, {}, false, "new", "<missing>", false},
      {"same content", Held, true, {}, false, "old", "<missing>", false},
      {"renamed", Held, false, {}, false, "new", "old", false},
      {"stale bak replaced", HeldAndStaleBak, false, {}, false, "new", "old", false},
      {"retry after release", HeldAndBakTaken, false, {kIdRetry}, true, "new", "bak", false},
      {"retry, ignore", HeldAndBakTaken, false, {kIdRetry, kIdIgnore}, false, "old", "bak", false},
      {"abort", HeldAndBakTaken, false, {kIdAbort}, false, "old", "bak", true},
      // Whatever a box answers that nobody saw (nothing, OK, Cancel) fails
      // the run: only Ignore skips the file.
      {"no answer", HeldAndBakTaken, false, {0}, false, "old", "bak", true},
      {"answered OK", HeldAndBakTaken, false, {kIdOk}, false, "old", "bak", true},
      {"answered Cancel", HeldAndBakTaken, false, {kIdCancel}, false, "old", "bak", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    questions_.clear();
    CreateAuto(work_);
    TSetupScriptFile entry;
    entry.Name = u"$DESTReadme.txt";
    entry.Text = u"Readme_EN.txt";
    const String target = work_ + u"Readme.txt";
    const std::string fresh = PackageText(entry.Text);
    const std::string old = c.sameContent ? fresh : "an older readme";
    WriteFileText(target, old);
    if (c.lock == HeldAndBakTaken || c.lock == HeldAndStaleBak)
      WriteFileText(target + u".bak", "bak");
    std::unique_ptr<TStream> holder, bakHolder;
    if (c.lock != Free) {
      holder = HoldOpen(target);
      ASSERT_NE(holder, nullptr);
    }
    if (c.lock == HeldAndBakTaken) {
      bakHolder = platform::OpenFileShared(target + u".bak", platform::kGenericRead,
                                           platform::kFileShareRead, platform::kOpenExisting);
      ASSERT_NE(bakHolder, nullptr);
    }
    Answer(c.answers, [&] {
      if (c.releaseOnAsk) holder.reset();
    });

    platform_test::TPendingRenames pending;
    const std::string error = OnWorker([&] { setup_->ExtractHelper().ExtractFile(entry); });
    holder.reset();
    bakHolder.reset();
    // A file renamed aside is deleted at the next restart, like other
    // files in use.
    const std::vector<String> added = pending.Added();
    if (c.bak == "old") {
      ASSERT_EQ(added.size(), 2u);
      EXPECT_TRUE(SameTextLocale(ExtractFileName(added[0]), u"Readme.txt.bak")) << U8(added[0]);
      EXPECT_EQ(added[1], u"");
    } else {
      EXPECT_TRUE(added.empty());
    }
    const auto content = [&](const std::string& which) {
      return which == "new" ? fresh : which == "old" ? old : which;
    };
    EXPECT_EQ(ReadFileText(target), content(c.target));
    EXPECT_EQ(ReadFileText(target + u".bak"), content(c.bak));
    EXPECT_EQ(error, c.aborted ? U8(target + u"\r\n" + Format(Common(u"E1"), {target})) : "");
    const size_t asked = c.lock == HeldAndBakTaken ? std::max<size_t>(c.answers.size(), 1) : 0;
    ASSERT_EQ(questions_.size(), asked);
    for (const auto& q : questions_) {
      EXPECT_EQ(q.text, Format(Common(u"QM2"), {target}));
      EXPECT_EQ(q.caption, u"");
      EXPECT_EQ(q.flags, kMbAbortRetryIgnore | kMbIconWarning | kMbDefButton2);
      EXPECT_TRUE(q.onMainThread);
    }
  }
}

#ifndef _WIN32

// Scripts of the tests' own: progress per file, and entries outside the
// destination.
TEST_F(ExtractTest, ProgressAndRecordOfSmallScripts) {
  const std::string settings =
      "<Settings><Item name=\"ProductName\" value=\"Mivo\"/>"
      "<Item name=\"ProductVersionNo\" value=\"5.50.0.5500\"/></Settings>";
  struct Case {
    std::string components;
    std::vector<int32_t> progress;
    String section;
  };
  const String temp = platform::TempFolder();
  const Case cases[] = {
      {"<File name=\"$DESTA.exe\"/><File name=\"$DESTSub\\B.dll\"/>",
       {50, 100},
       u"0=A.exe\r\nCount=4\r\n1=Sub\\B.dll\r\n2=Uninstall.dat\r\n3=Uninstall.exe\r\n"},
      {"<File name=\"$DESTA.exe\"/><File name=\"$DESTSub\\B.dll\"/><File name=\"$TEMPT.txt\"/>",
       {33, 66, 100},
       u"0=A.exe\r\nCount=5\r\n1=Sub\\B.dll\r\n2=" + temp +
           u"T.txt\r\n3=Uninstall.dat\r\n4=Uninstall.exe\r\n"},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    const std::string script = "<installer><product>" + settings + "<Components>" + c.components +
                               "</Components></product></installer>";
    UseProductPackage(
        PackFolder("", {{u"Install.xml", script}, {u"A.exe", "a"}, {u"B.dll", "b"}, {u"T.txt", "t"}}));
    CreateAuto(work_).Settings.Clear();
    TSetupActionExtract action;
    std::vector<int32_t> progress;
    action.SetOnProgress([&](TSetupAction& a) { progress.push_back(a.Progress()); });
    action.Execute();
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(ReadFileText(work_ + u"Sub\\B.dll"), "b");
    EXPECT_EQ(RecordBytes(), Utf16Bytes(u"[Uninstall]\r\n" + c.section + u"\r\n"));
  }
}

#endif

}  // namespace
}  // namespace product_test
