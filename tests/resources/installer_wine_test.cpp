// A real installer executable under Windows: this test program carries the
// packages of tests/data/resources as its "SETUP" and "PRODUCT" resources.
// Each case copies the program into a fresh folder under some name, maybe
// with an "Uninstall.dat" beside it, and runs the copy's probe, which creates
// the resources there and writes what it found to "probe.txt".
#ifdef _WIN32

#include <gtest/gtest.h>

#include <map>

#include "lib/exceptions.h"
#include "lib/string_list.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "resources/setup_resources.h"
#include "resources_test_util.h"

namespace {

using namespace resources_test;

String ProbeFile() {
  return ExtractFilePath(platform::ModuleFileName()) + u"probe.txt";
}

String Folder(int csidl) {
  String path;
  return platform::SpecialFolder(csidl, path) ? IncludeTrailingBackslash(path) : String();
}

// Run only by the copies (see RunCopy).
TEST(ResourcesProbe, DISABLED_Report) {
  TVelStringList report;
  TFakeHost host;
  try {
    TSetupResources res(host);
    report.Add(u"shared=" + Trim(Utf8ToUtf16(ReadStream(*res.OpenFile(u"Shared.txt")))));
    report.Add(u"components=" + IntToStr(res.Script().Components.Count()));
    report.Add(u"name=" + res.Script().GetSetting(u"ProductName"));
    report.Add(u"desktop=" + res.DesktopDir());
    report.Add(u"programs=" + res.ProgramFilesDir());
    report.Add(u"startmenu=" + res.StartMenuDir());
    if (res.Script().Shortcuts.Count() > 0)
      report.Add(u"shortcut=" + res.ExpandPath(res.Script().Shortcuts.Items(0).Name));
    res.InitializeLanguages();
    report.Add(u"lang=" + res.LangName());
  } catch (const Exception& e) {
    report.Add(u"error=" + e.Message());
  }
  std::unique_ptr<TStream> out = CreateFileStream(ProbeFile());
  report.SaveToStream(*out, TVelEncoding::Utf8);
}

class InstallerExecutable : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = platform::TempFolder() + u"mivo-resources-" + IntToStr(platform::CurrentProcessId()) +
           u"-" + IntToStr(++counter) + u"\\";
    ASSERT_TRUE(platform::CreateFolder(dir_));
  }
  void TearDown() override {
    std::vector<platform::TFolderEntry> entries;
    platform::ListFolder(dir_, entries);
    for (const auto& e : entries) {
      if (e.attributes & platform::kFileAttributeDirectory)
        platform::RemoveFolder(dir_ + e.name);
      else
        platform::RemoveFile(dir_ + e.name);
    }
    platform::RemoveFolder(dir_);
  }

  // Copies this program into the folder as name, runs its probe and returns
  // the report's lines as name-value pairs.
  std::map<std::string, std::string> RunCopy(const String& name) {
    const String exe = dir_ + name;
    EXPECT_TRUE(platform::CopyFileTo(platform::ModuleFileName(), exe, false));
    platform::TProcessInfo info;
    const String command = u"\"" + exe +
                           u"\" --gtest_also_run_disabled_tests "
                           u"--gtest_filter=ResourcesProbe.DISABLED_Report --gtest_brief=1";
    if (!platform::StartProcess(command, platform::kSwHide, info)) {
      ADD_FAILURE() << "cannot start " << U8(exe) << ": " << platform::LastError();
      return {};
    }
    EXPECT_EQ(platform::Wait(info.process, 120000), platform::WaitResult::Signalled);
    std::map<std::string, std::string> values;
    TVelStringList report;
    std::unique_ptr<TStream> in =
        platform::OpenFileShared(dir_ + u"probe.txt", platform::kGenericRead,
                                 platform::kFileShareRead, platform::kOpenExisting);
    if (!in) {
      ADD_FAILURE() << "no report from " << U8(exe);
      return {};
    }
    report.LoadFromStream(*in);
    for (int i = 0; i < report.Count(); ++i)
      values[U8(report.Names(i))] = U8(report.ValueFromIndex(i));
    in.reset();
    platform::RemoveFile(dir_ + u"probe.txt");
    return values;
  }

  void WriteDat(const Bytes& bytes) { ASSERT_TRUE(WriteFile(dir_ + u"Uninstall.dat", bytes)); }

  String dir_;
};

TEST_F(InstallerExecutable, InstallerUsesItsResourcesAndWritesTheDump) {
  WriteDat(BuildPackage({{u"Install.xml", kScript}, {u"Shared.txt", "uninstall"}}));
  auto report = RunCopy(u"Setup.exe");
  EXPECT_EQ(report["error"], "");
  EXPECT_EQ(report["shared"], "product");
  EXPECT_EQ(report["components"], "1");
  EXPECT_EQ(report["name"], "Mivo");
  EXPECT_EQ(report["lang"], "English");
  // The folders are the system's own.
  EXPECT_EQ(report["desktop"], U8(Folder(platform::kCsidlCommonDesktopDirectory)));
  EXPECT_EQ(report["programs"], U8(Folder(platform::kCsidlProgramFiles)));
  EXPECT_EQ(report["startmenu"], U8(Folder(platform::kCsidlCommonPrograms)));
  EXPECT_FALSE(report["desktop"].empty());
  EXPECT_EQ(report["shortcut"], report["desktop"] + "Mivo.lnk");
  // The folder of the program is not written to.
  EXPECT_FALSE(platform::FileExists(dir_ + u"dump.xml"));
}

TEST_F(InstallerExecutable, UninstallerUsesUninstallDatBesideIt) {
  WriteDat(BuildPackage({{u"Install.xml", kScript}, {u"Shared.txt", "uninstall"}}));
  for (const char16_t* name : {u"Uninstall.exe", u"UNINSTALL.exe"}) {
    auto report = RunCopy(name);
    EXPECT_EQ(report["error"], "") << U8(name);
    EXPECT_EQ(report["shared"], "uninstall") << U8(name);
    EXPECT_EQ(report["components"], "0") << U8(name);
    platform::RemoveFile(dir_ + name);
  }
}

TEST_F(InstallerExecutable, MalformedScriptKeepsWhatWasRead) {
  WriteDat(BuildPackage(
      {{u"Install.xml",
        "<r><product><Settings><s name='ProductName' value='Half'/></Settings><Components>"
        "<File name='$DESTa'/><File name='$DESTb'/><File name='$DESTc' </Components></r>"},
       {u"Shared.txt", "uninstall"}}));
  auto report = RunCopy(u"Uninstall.exe");
  EXPECT_EQ(report["error"], "");
  EXPECT_EQ(report["components"], "2");
  EXPECT_EQ(report["name"], "Half");
}

TEST_F(InstallerExecutable, StartUpFailuresCarryTheirMessages) {
  auto report = RunCopy(u"Uninstall.exe");
  EXPECT_EQ(report["error"], "Cannot open file \"" + U8(dir_) + "Uninstall.dat\". " +
                                 U8(platform::SystemErrorText(platform::kErrorFileNotFound)));

  Bytes corrupt = BuildPackage({{u"Install.xml", kScript}});
  corrupt[4] ^= 0x20;  // the checksum
  WriteDat(corrupt);
  EXPECT_EQ(RunCopy(u"Uninstall.exe")["error"], "Package was corrupted");

  WriteDat(BuildPackage({{u"Uninstall.ini", ""}}));
  EXPECT_EQ(RunCopy(u"Uninstall.exe")["error"],
            "Cannot locate \"Install.xml\" file in setup archive");

  // Nothing is written beside the program, so what lies there stops nothing.
  WriteDat(BuildPackage({{u"Install.xml", kScript}, {u"Shared.txt", "uninstall"}}));
  ASSERT_TRUE(platform::CreateFolder(dir_ + u"dump.xml"));
  EXPECT_EQ(RunCopy(u"Uninstall.exe")["error"], "");
}

}  // namespace

#endif  // _WIN32
