#include <cstdint>

#include "platform/app_repo.h"
#include "platform/registry.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

class AppRepoTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    name_ = u"Mivo Test " + IntToStr(CurrentProcessId());
    key_ = TSetupAppRepo::MakeKeyName(name_);
    Clean();
    ASSERT_TRUE(CreateFolder(dir_ + u"App"));
  }
  void TearDown() override {
    Clean();
    PlatformTest::TearDown();
  }
  void Clean() {
    DeleteKeyTree(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_);
    DeleteKeyTree(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(true) + key_);
  }
  bool Exists(bool wow64, const String& sub = u"") {
    TRegKey k;
    return k.Open(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(wow64) + key_ + sub, kKeyRead) ==
           kErrorSuccess;
  }
  // An entry written by hand, in the given view.
  void Entry(uint32_t view, std::initializer_list<std::pair<const char16_t*, String>> values) {
    TRegKey k;
    ASSERT_EQ(k.Create(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_,
                       kKeyAllAccess | view),
              kErrorSuccess);
    for (const auto& [name, value] : values) ASSERT_EQ(k.WriteString(name, value), kErrorSuccess);
  }

  String name_, key_;
};

TEST_F(AppRepoTest, KeyPathsAndNames) {
  EXPECT_EQ(TSetupAppRepo::GetKeyPath(false),
            u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  EXPECT_EQ(TSetupAppRepo::GetKeyPath(true),
            u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  EXPECT_EQ(TSetupAppRepo::MakeKeyName(u"Mivo"), u"Mivo");
  EXPECT_EQ(TSetupAppRepo::MakeKeyName(u" My  Player "), u"MyPlayer");
  EXPECT_EQ(TSetupAppRepo::MakeKeyName(u"   "), u"");
}

TEST_F(AppRepoTest, WriteStoresItsValuesAndFindReadsThemBack) {
  const String uninstaller = dir_ + u"App\\Uninstall.exe";
  TSetupAppRepo::Write(name_, uninstaller, u"5.50.0", u"Old", u"https://old.example/", 7);
  TSetupAppRepo::Write(name_, uninstaller, u"5.50.1", u"Mivo Team", u"https://mivo.example/",
                       123456);

  TRegKey k;
  ASSERT_EQ(k.Open(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_, kKeyRead),
            kErrorSuccess);
  uint32_t subKeys = 0, values = 0;
  ASSERT_EQ(k.QueryInfo(subKeys, values), kErrorSuccess);
  EXPECT_EQ(values, 15u);
  const char16_t* names[] = {u"NoModify",        u"NoRepair",        u"DisplayIcon",
                             u"DisplayName",     u"DisplayVersion",  u"InstallDate",
                             u"InstallPath",     u"Publisher",       u"UninstallString",
                             u"URLInfoAbout",    u"QuietUninstallString",
                             u"InstallLocation", u"EstimatedSize",   u"VersionMajor",
                             u"VersionMinor"};
  // Windows keeps values in the order written; Wine sorts them by name.
  if (!RunningUnderWine()) {
    for (uint32_t i = 0; i < 15; ++i) {
      String name;
      ASSERT_EQ(k.EnumValue(i, name), kErrorSuccess);
      EXPECT_EQ(name, names[i]);
    }
  }
  uint32_t dword = 0;
  EXPECT_TRUE(k.ReadDword(u"NoModify", dword) && dword == 1);
  EXPECT_TRUE(k.ReadDword(u"NoRepair", dword) && dword == 1);
  EXPECT_TRUE(k.ReadDword(u"EstimatedSize", dword) && dword == 123456);
  EXPECT_TRUE(k.ReadDword(u"VersionMajor", dword) && dword == 5);
  EXPECT_TRUE(k.ReadDword(u"VersionMinor", dword) && dword == 50);
  const std::pair<const char16_t*, String> texts[] = {
      {u"QuietUninstallString", u"\"" + uninstaller + u"\" /AUTO /SILENT /SUPPRESSMSGBOXES"},
      {u"InstallLocation", dir_ + u"App\\"},
      {u"DisplayIcon", uninstaller},
      {u"DisplayName", name_},
      {u"DisplayVersion", u"5.50.1"},
      {u"InstallPath", dir_ + u"App\\"},
      {u"Publisher", u"Mivo Team"},
      {u"UninstallString", u"\"" + uninstaller + u"\""},
      {u"URLInfoAbout", u"https://mivo.example/"}};
  for (const auto& [name, text] : texts) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_EQ(k.QueryValue(name, type, data), kErrorSuccess) << U8(name);
    EXPECT_EQ(type, kRegSz) << U8(name);
    EXPECT_EQ(data.size(), (text.size() + 1) * 2) << U8(name);
    String read;
    EXPECT_TRUE(k.ReadString(name, read));
    EXPECT_EQ(read, text) << U8(name);
  }
  String date;
  ASSERT_TRUE(k.ReadString(u"InstallDate", date));
  ASSERT_EQ(date.size(), 8u);
  for (char16_t c : date) EXPECT_TRUE(c >= u'0' && c <= u'9');
  EXPECT_EQ(date.substr(0, 2), u"20");

  String found;
  ASSERT_TRUE(TSetupAppRepo::Find(name_, found));
  EXPECT_EQ(found, dir_ + u"App\\");
}

TEST(AppRepoVersionTest, VersionParts) {
  const struct {
    const char16_t* version;
    bool valid;
    uint32_t major, minor;
  } cases[] = {{u"5.50", true, 5, 50},   {u"5.50.1", true, 5, 50}, {u"7", true, 7, 0},
               {u"10.05b", true, 10, 5}, {u"5.", true, 5, 0},      {u"v5.50", false, 0, 0},
               {u"", false, 0, 0},       {u".50", false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.version));
    uint32_t major = 99, minor = 99;
    EXPECT_EQ(TSetupAppRepo::VersionParts(c.version, major, minor), c.valid);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
  }
}

TEST_F(AppRepoTest, FindFallsBackFromValueToValue) {
  ASSERT_TRUE(CreateFolder(dir_ + u"Icon"));
  const String app = dir_ + u"App\\";
  const String icon = dir_ + u"Icon\\";
  struct Case {
    const char* what;
    String installPath, uninstallString, displayIcon;
    bool found;
    String path;
  };
  const Case cases[] = {
      {"install path without backslash", dir_ + u"App", u"", u"", true, app},
      {"deleted install path, plain uninstaller", dir_ + u"Gone\\", app + u"Uninstall.exe", u"",
       true, app},
      {"quoted uninstaller", u"", u"\"" + app + u"Uninstall.exe\"", icon + u"Mivo.exe,0", true,
       app},
      {"quoted uninstaller with arguments", u"", u"\"" + app + u"Uninstall.exe\" /AUTO", u"", true,
       app},
      {"unclosed quote, icon next", u"", u"\"" + app + u"Uninstall.exe", icon + u"Mivo.exe,0", true,
       icon},
      {"unquoted arguments make no folder", u"", app + u"Uninstall.exe /S", u"", false, u""},
      {"forward slashes", u"", u"", dir_ + u"Icon/x.ico", true, dir_ + u"Icon/"},
      {"nothing exists", dir_ + u"Gone", dir_ + u"Gone\\u.exe", dir_ + u"Gone\\i.ico", false, u""},
  };
  for (const auto& c : cases) {
    Clean();
    Entry(0, {{u"InstallPath", c.installPath},
              {u"UninstallString", c.uninstallString},
              {u"DisplayIcon", c.displayIcon}});
    String path;
    EXPECT_EQ(TSetupAppRepo::Find(name_, path), c.found) << c.what;
    if (c.found) {
      EXPECT_EQ(path, c.path) << c.what;
    }
  }

  // A value of another type reads as empty.
  Clean();
  TRegKey k;
  ASSERT_EQ(k.Create(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_, kKeyAllAccess),
            kErrorSuccess);
  const String bytes = app;
  k.SetValue(u"InstallPath", kRegBinary, bytes.c_str(),
             static_cast<uint32_t>(bytes.size() * 2 + 2));
  String path;
  EXPECT_FALSE(TSetupAppRepo::Find(name_, path));
}

TEST_F(AppRepoTest, EntryOnlyInThe32BitViewIsFoundSecond) {
  Entry(kKeyWow64_32Key, {{u"InstallPath", dir_ + u"App\\"}});
  EXPECT_FALSE(Exists(false));
  EXPECT_TRUE(Exists(true));
  String path;
  ASSERT_TRUE(TSetupAppRepo::Find(name_, path));
  EXPECT_EQ(path, dir_ + u"App\\");

  // The native entry wins when it leads somewhere.
  ASSERT_TRUE(CreateFolder(dir_ + u"Native"));
  Entry(kKeyWow64_64Key, {{u"InstallPath", dir_ + u"Native"}});
  ASSERT_TRUE(TSetupAppRepo::Find(name_, path));
  EXPECT_EQ(path, dir_ + u"Native\\");
}

// The entry is rewritten in place, so that there is no moment without one;
// what an earlier entry held besides the ten values goes, and so does an
// entry in the 32-bit view.
TEST_F(AppRepoTest, WriteOverAnEarlierEntryKeepsNothingElse) {
  const String app = dir_ + u"App\\";
  for (uint32_t view : {kKeyWow64_64Key, kKeyWow64_32Key})
    Entry(view, {{u"DisplayName", u"Old"},
                 {u"QuietUninstallString", u"old.exe /S"},
                 {u"ModifyPath", u"old.exe /M"}});
  TRegKey sub;
  ASSERT_EQ(sub.Create(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_ + u"\\A\\B",
                       kKeyAllAccess),
            kErrorSuccess);
  sub.Close();
  TSetupAppRepo::Write(name_, app + u"Uninstall.exe", u"5.50", u"Mivo Team", u"https://x/");
  EXPECT_FALSE(Exists(true));
  EXPECT_FALSE(Exists(false, u"\\A"));
  TRegKey k;
  ASSERT_EQ(k.Open(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_, kKeyRead),
            kErrorSuccess);
  uint32_t subKeys = 0, values = 0;
  ASSERT_EQ(k.QueryInfo(subKeys, values), kErrorSuccess);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 15u);
  String name;
  EXPECT_TRUE(k.ReadString(u"DisplayName", name));
  EXPECT_EQ(name, name_);
  EXPECT_FALSE(k.ReadString(u"ModifyPath", name));
  EXPECT_TRUE(k.ReadString(u"QuietUninstallString", name));
  EXPECT_EQ(name, u"\"" + app + u"Uninstall.exe\" /AUTO /SILENT /SUPPRESSMSGBOXES");
}

TEST_F(AppRepoTest, DeleteRemovesBothViewsWithSubKeys) {
  for (uint32_t view : {kKeyWow64_64Key, kKeyWow64_32Key}) {
    Entry(view, {{u"InstallPath", dir_ + u"App\\"}});
    TRegKey sub;
    ASSERT_EQ(sub.Create(RegRoot::LocalMachine, TSetupAppRepo::GetKeyPath(false) + key_ + u"\\A\\B",
                         kKeyAllAccess | view),
              kErrorSuccess);
  }
  ASSERT_TRUE(Exists(false, u"\\A\\B"));
  ASSERT_TRUE(Exists(true, u"\\A\\B"));
  TSetupAppRepo::Delete(name_);
  EXPECT_FALSE(Exists(false));
  EXPECT_FALSE(Exists(true));
  String path;
  EXPECT_FALSE(TSetupAppRepo::Find(name_, path));
  TSetupAppRepo::Delete(name_);  // nothing there: no effect, no error
}

TEST_F(AppRepoTest, NamesThatMakeNoSingleKeyAreLeftAlone) {
  TSetupAppRepo::Write(u"   ", dir_ + u"App\\Uninstall.exe", u"1", u"P", u"H");
  Entry(0, {{u"InstallPath", dir_ + u"App\\"}});
  // A backslash would reach the "Uninstall" key itself or keys below others.
  TSetupAppRepo::Delete(u"\\");
  TSetupAppRepo::Delete(u" \\ ");
  TSetupAppRepo::Write(key_ + u"\\Sub", dir_ + u"App\\Uninstall.exe", u"1", u"P", u"H");
  EXPECT_TRUE(Exists(false));
  EXPECT_FALSE(Exists(false, u"\\Sub"));
  String path;
  EXPECT_FALSE(TSetupAppRepo::Find(u"\\", path));
  EXPECT_TRUE(TSetupAppRepo::Find(name_, path));
}

}  // namespace
}  // namespace platform_test
