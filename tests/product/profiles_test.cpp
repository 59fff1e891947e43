#include "platform/registry.h"
#include "product/setup_profiles.h"
#include "product_test_util.h"

namespace product_test {
namespace {

#ifndef _WIN32

const String kRoaming = u"C:\\Users\\User\\AppData\\Roaming\\";
const String kBobRoaming = u"C:\\Users\\Bob\\AppData\\Roaming\\";

class ProfilesTest : public ProductTest {
 protected:
  void SetUp() override {
    ProductTest::SetUp();
    // A second user of the machine, as Windows lists it.
    AddUserProfile(u"S-1-5-21-9-1002", u"C:\\Users\\Bob", u"%USERPROFILE%\\AppData\\Roaming");
  }

  std::vector<std::string> Populate() {
    TSetupProfileInfoList list;
    list.Populate();
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i)
      lines.push_back(U8(list.Items(i).UserName + u" " + list.Items(i).OldDataFolder + u" " +
                         list.Items(i).DataFolder));
    return lines;
  }
  static void Folder(const String& path) {
    for (size_t at = 0; (at = path.find(u'\\', at)) != String::npos; ++at)
      platform::CreateFolder(path.substr(0, at));
  }
};

TEST_F(ProfilesTest, ProfilePathByVersion) {
  CreateAuto(work_);
  EXPECT_EQ(TSetupProfileHelper::GetProfilePath(kRoaming, 5300), kRoaming + u"Mivo\\");
  EXPECT_EQ(TSetupProfileHelper::GetProfilePath(kRoaming, 4000), kRoaming + u"Mivo\\");
  EXPECT_EQ(TSetupProfileHelper::GetProfilePath(kRoaming, 3999), kRoaming + u"Mivo3\\");
  EXPECT_EQ(TSetupProfileHelper::GetProfilePath(u"C:\\Users\\Bob\\AppData\\Roaming", 5300),
            kBobRoaming + u"Mivo\\");
  EXPECT_EQ(TSetupProfileHelper::GetProfilePath(u"", 5300), work_ + u"Profile\\");
  // Nothing installed reads as version 0: the generation-3 folder.
  EXPECT_EQ(TSetupProfileHelper::GetOldDataFolder(kRoaming), kRoaming + u"Mivo3\\");
  EXPECT_EQ(TSetupProfileHelper::GetDataFolder(kRoaming), kRoaming + u"Mivo\\");
}

TEST_F(ProfilesTest, UsersWithDataOfTheInstalledVersion) {
  WriteConfig(work_, 5300, u"1");
  Folder(kRoaming + u"Mivo\\");
  Folder(kBobRoaming + u"Mivo\\");
  CreateAuto(work_);
  // The running user is listed once although the profile list names it too.
  EXPECT_EQ(Populate(), (std::vector<std::string>{
                            "User " + U8(kRoaming) + "Mivo\\ " + U8(kRoaming) + "Mivo\\",
                            "Bob " + U8(kBobRoaming) + "Mivo\\ " + U8(kBobRoaming) + "Mivo\\"}));

  WriteConfig(work_, 3600, u"1");
  Product().LoadConfig();
  Folder(kRoaming + u"Mivo3\\");
  EXPECT_EQ(Populate(), (std::vector<std::string>{"User " + U8(kRoaming) + "Mivo3\\ " +
                                                  U8(kRoaming) + "Mivo\\"}));
}

TEST_F(ProfilesTest, PortableInstallationHasOneUser) {
  Folder(kRoaming + u"Mivo\\");
  WriteConfig(work_, 5300, u"0");
  CreateAuto(work_);
  ASSERT_TRUE(setup_->IsOptionSet(TSetupOption::Portable));
  EXPECT_EQ(Populate(), std::vector<std::string>{});
  Folder(work_ + u"Profile\\");
  const std::string profile = U8(work_) + "Profile\\";
  EXPECT_EQ(Populate(), (std::vector<std::string>{"SingleUser " + profile + " " + profile}));
}

// A user's folders come from the user's own hive: data folders outside the
// user's profile, or reached through a link, are never that user's.
TEST_F(ProfilesTest, DataFoldersOutsideTheUsersOwnProfileAreLeftAlone) {
  WriteConfig(work_, 5300, u"1");
  Folder(kRoaming + u"Mivo\\");
  Folder(u"C:\\Windows\\Mivo\\");
  const String bobFolders =
      u"S-1-5-21-9-1002\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const std::string user = "User " + U8(kRoaming) + "Mivo\\ " + U8(kRoaming) + "Mivo\\";
  for (const char16_t* appData :
       {u"C:\\Users\\User\\AppData\\Roaming", u"C:\\Windows",
        u"%USERPROFILE%\\..\\User\\AppData\\Roaming"}) {
    SCOPED_TRACE(U8(appData));
    platform::TRegKey folders;
    ASSERT_EQ(folders.Open(platform::RegRoot::Users, bobFolders, platform::kKeyAllAccess), 0u);
    folders.WriteString(u"AppData", appData, platform::kRegExpandSz);
    CreateAuto(work_);
    EXPECT_EQ(Populate(), std::vector<std::string>{user});
  }
  // Bob's own roaming folder, whose data folder is a link to the system's.
  Folder(kBobRoaming);
  platform::TRegKey folders;
  ASSERT_EQ(folders.Open(platform::RegRoot::Users, bobFolders, platform::kKeyAllAccess), 0u);
  folders.WriteString(u"AppData", u"%USERPROFILE%\\AppData\\Roaming", platform::kRegExpandSz);
  ASSERT_TRUE(platform::CreateFolderLink(kBobRoaming + u"Mivo", u"C:\\Windows\\Mivo"));
  EXPECT_EQ(Populate(), std::vector<std::string>{user});
  ASSERT_TRUE(platform::RemoveFolder(kBobRoaming + u"Mivo"));
  Folder(kBobRoaming + u"Mivo\\");
  EXPECT_EQ(Populate().size(), 2u);
}

#endif  // _WIN32

}  // namespace
}  // namespace product_test
