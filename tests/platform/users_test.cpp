#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/users.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

const String kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const String kShellFolders =
    u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

using Reports = std::vector<std::pair<String, String>>;

Reports Populate() {
  Reports reports;
  TSetupUsers::Populate(
      [&](const String& user, const String& appData) { reports.emplace_back(user, appData); });
  return reports;
}

class UsersTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    base_ = u"S-1-5-21-7000-" + IntToStr(CurrentProcessId()) + u"-";
  }
  void TearDown() override {
    for (const auto& sid : sids_) {
      DeleteKeyTree(RegRoot::LocalMachine, kProfileList + sid);
      DeleteKeyTree(RegRoot::Users, sid);
    }
    PlatformTest::TearDown();
  }
  // A profile-list entry; with `appData` also the user's own shell folders.
  void AddUser(const String& sid, const String& profile, const String* appData) {
    sids_.push_back(sid);
    TRegKey entry;
    ASSERT_EQ(entry.Create(RegRoot::LocalMachine, kProfileList + sid, kKeyAllAccess),
              kErrorSuccess);
    ASSERT_EQ(entry.WriteString(u"ProfileImagePath", profile, kRegExpandSz), kErrorSuccess);
    if (!appData) return;
    TRegKey folders;
    ASSERT_EQ(folders.Create(RegRoot::Users, sid + kShellFolders, kKeyAllAccess), kErrorSuccess);
    ASSERT_EQ(folders.WriteString(u"AppData", *appData, kRegExpandSz), kErrorSuccess);
  }

  String base_;
  std::vector<String> sids_;
};

TEST_F(UsersTest, CurrentUserComesFirst) {
  String profile, appData;
  ASSERT_TRUE(SpecialFolder(kCsidlProfile, profile));
  ASSERT_TRUE(SpecialFolder(kCsidlAppData, appData));
  const Reports reports = Populate();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports[0].first, ExtractFileName(profile));
  EXPECT_EQ(reports[0].second, IncludeTrailingBackslash(appData));
}

TEST_F(UsersTest, ProfileListUsersWithTheirFolders) {
  for (const char16_t* name : {u"Bob", u"Bak", u"Carl", u"Eve", u"Ulf"})
    ASSERT_TRUE(CreateFolder(dir_ + name));
  const String bobData = u"%userProfile%\\AppData\\Roaming";
  const String bakData = u"%USERPROFILE%\\Bak";
  const String empty;
  const String other = u"D:\\Data\\%APPDATA%\\%USERPROFILE%";
  AddUser(base_ + u"1", dir_ + u"Bob", &bobData);
  AddUser(base_ + u"1.BAK", dir_ + u"Bak", &bakData);
  AddUser(base_ + u"2", dir_ + u"Gone", &bobData);
  AddUser(base_ + u"3", dir_ + u"Carl\\", nullptr);  // no hive of its own: .DEFAULT
  AddUser(base_ + u"4", dir_ + u"Eve", &empty);
  AddUser(base_ + u"5", dir_ + u"Ulf", &other);

  // What .DEFAULT gives a user without a hive of its own.
  String defaultData;
  {
    TRegKey folders;
    if (folders.Open(RegRoot::Users, u".DEFAULT" + kShellFolders, kKeyRead) == kErrorSuccess &&
        !folders.ReadString(u"AppData", defaultData))
      defaultData.clear();
  }
  String carlData = defaultData;
  for (size_t at; (at = UpperAscii(carlData).find(u"%USERPROFILE%")) != String::npos;)
    carlData.replace(at, 13, dir_ + u"Carl\\");

  Reports ours;
  for (const auto& r : Populate())
    if (StartsWith(r.second, dir_) || r.first == u"Carl" || r.first == u"Eve" ||
        r.first == u"Bak" || r.first == u"Ulf")
      ours.push_back(r);
  Reports expected = {{u"Bob", dir_ + u"Bob\\AppData\\Roaming"}};
  if (!carlData.empty()) expected.emplace_back(u"Carl", carlData);
  expected.emplace_back(u"Ulf", u"D:\\Data\\%APPDATA%\\" + dir_ + u"Ulf");
  ASSERT_EQ(ours.size(), expected.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    EXPECT_EQ(U8(ours[i].first), U8(expected[i].first));
    EXPECT_EQ(U8(ours[i].second), U8(expected[i].second));
  }
}

}  // namespace
}  // namespace platform_test
