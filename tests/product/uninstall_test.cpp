// The uninstallation steps: the recorded files, the folders that became
// empty, the backups and the users' data on request, the integration undone,
// and a record or destination that would reach outside the installation.
#include "core/setup_action.h"
#include "platform/app_repo.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "product/setup_action_uninstall.h"
#include "product/setup_classes.h"
#include "product_test_util.h"

namespace product_test {
namespace {

using Files = TSetupActionUninstallFiles;

TEST(UninstallRecordEntries, OnlyEntriesThatStayInsideTheDestinationAreSafe) {
  const struct {
    const char16_t* entry;
    bool safe;
  } cases[] = {
      {u"A.exe", true},
      {u"Sub\\B.dll", true},
      {u"Skins/Dark.ini", true},
      {u"", true},  // the destination itself, which names no file
      {u"a..b.txt", true},
      {u".hidden", true},
      {u"..\\..\\outside.txt", false},
      {u"Sub\\..\\..\\outside.txt", false},
      {u"Sub/../../outside.txt", false},
      {u"C:\\outside.txt", false},
      {u"C:outside.txt", false},
      {u"\\\\server\\share\\x", false},
      {u"\\outside.txt", false},
      {u"/outside.txt", false},
      {u"\\\\?\\C:\\outside.txt", false},
      {u"...\\outside.txt", false},
      {u"Sub\\. .\\x", false},
      {u"A.exe:stream", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Files::IsSafeRecordEntry(c.entry), c.safe) << U8(c.entry);
}

class UninstallTest : public ProductTest {
 protected:
  void SetUp() override {
    ProductTest::SetUp();
    dest_ = work_ + u"App\\";
    ASSERT_TRUE(platform::CreateFolder(dest_));
  }

  static void Write(const String& path, const std::string& text = "x") {
    std::unique_ptr<TStream> file =
        platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
    ASSERT_NE(file, nullptr) << U8(path);
    file->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
  static void Folders(const String& base, std::initializer_list<const char16_t*> names) {
    for (const char16_t* name : names) ASSERT_TRUE(platform::CreateFolder(base + name)) << U8(name);
  }
  static bool Exists(const String& path) {
    return platform::GetAttributes(path) != platform::kInvalidFileAttributes;
  }

#ifndef _WIN32
  // An uninstaller whose record lists the entries, for the destination. The
  // record is written the way the installer writes it ("0", "Count", "1", ...)
  // unless `record` gives the whole text.
  TSetup& CreateUninstaller(const std::vector<std::string>& entries, const String& dest,
                            const std::string& record = {}) {
    std::string text = record;
    if (text.empty()) {
      text = "[Common]\r\nRemoveBackups=1\r\n\r\n[Uninstall]\r\n";
      for (size_t i = 0; i < entries.size(); ++i) {
        text += std::to_string(i) + "=" + entries[i] + "\r\n";
        if (i == 0) text += "Count=" + std::to_string(entries.size()) + "\r\n";
      }
    }
    UseProductPackage(PackFolder("", {{u"Uninstall.ini", text}}), false);
    TSetup& setup = Create(u"/AUTO /SILENT");
    EXPECT_EQ(setup.RunKind(), TSetupRunKind::Uninstall);
    setup.SetDestPath(dest);
    return setup;
  }
  // An installation whose users keep their data in their profiles, to be
  // removed with its backups and the users' data.
  void PerUserInstallation() {
    Write(dest_ + u"Mivo.exe");
    TVelIniFile config;
    config.WriteString(u"System", u"UserMode", u"1");
    ASSERT_TRUE(config.SaveToFile(dest_ + u"Mivo.ini"));
    CreateUninstaller({"Mivo.exe"}, dest_);
    Choose(1, 1);
  }
  // The uninstaller's choices; absent ones keep their defaults.
  void Choose(int removeBackups, int removeContent) {
    if (removeBackups >= 0) setup_->Settings.WriteBool(u"Common", u"RemoveBackups", removeBackups);
    if (removeContent >= 0) setup_->Settings.WriteBool(u"Common", u"RemoveContent", removeContent);
  }
  // The folder list with its marks: "W " for whole, "E " for if empty,
  // relative to the destination where it lies below it.
  std::vector<std::string> DirsList() {
    Files action;
    const TVelStringList dirs = action.CreateDirsList();
    std::vector<std::string> list;
    for (int i = 0; i < dirs.Count(); ++i) {
      String path = dirs.Strings(i);
      if (path.rfind(dest_, 0) == 0) path = path.substr(dest_.size());
      list.push_back((dirs.Objects(i) == Files::kWhole ? "W " : "E ") + U8(path));
    }
    return list;
  }
#endif

  String dest_;
};

#ifndef _WIN32

TEST_F(UninstallTest, AreTheProductsUninstallationSteps) {
  for (const char16_t* name :
       {u"TSetupActionUninstallIntegration", u"TSetupActionUninstallFiles"}) {
    const TSetupActionClass* actionClass = FindSetupActionClass(name);
    ASSERT_NE(actionClass, nullptr) << U8(name);
    EXPECT_NE((*actionClass)(), nullptr);
  }
  CreateUninstaller({"A.exe"}, dest_);
  std::vector<String> names;
  Product().EnumActions([&](const TSetupActionClass& c) {
    std::unique_ptr<TSetupAction> action = c();
    if (dynamic_cast<TSetupActionUninstallIntegration*>(action.get())) names.push_back(u"I");
    if (dynamic_cast<TSetupActionUninstallFiles*>(action.get())) names.push_back(u"F");
  });
  EXPECT_EQ(names, (std::vector<String>{u"I", u"F"}));
}

TEST_F(UninstallTest, FileListIsTheRecordBelowTheDestination) {
  CreateUninstaller({}, dest_,
                    "[Uninstall]\r\n0=A.exe\r\nCount=5\r\n2=Sub\\B.dll\r\n3=a.EXE\r\n"
                    "4=Uninstall.exe\r\n");
  Files action;
  const TVelStringList files = action.CreateFileList();
  // Key 1 is missing: the destination itself, which names no file.
  EXPECT_EQ(U8(files.Text()), U8(dest_ + u"A.exe\r\n" + dest_ + u"\r\n" + dest_ +
                                 u"Sub\\B.dll\r\n" + dest_ + u"Uninstall.exe\r\n"));

  // A count far beyond the record's lines costs nothing: no more keys are
  // read than the section has lines.
  CreateUninstaller({}, dest_, "[Uninstall]\r\n0=A.exe\r\nCount=2147483647\r\n");
  EXPECT_EQ(U8(Files().CreateFileList().Text()), U8(dest_ + u"A.exe\r\n" + dest_ + u"\r\n"));
  CreateUninstaller({}, dest_, "[Uninstall]\r\n0=A.exe\r\nCount=-3\r\n");
  EXPECT_EQ(Files().CreateFileList().Count(), 0);
}

// A destination with Plugins\A\ and Plugins\B\: subfolders first, then the
// option-dependent entries.
TEST_F(UninstallTest, FolderListOrderAndOptions) {
  Folders(dest_, {u"Plugins", u"Plugins\\A", u"Plugins\\B"});
  std::vector<platform::TFolderEntry> listed;
  ASSERT_TRUE(platform::ListFolder(dest_ + u"Plugins\\", listed));
  ASSERT_EQ(listed.size(), 2u);
  const std::vector<std::string> folders = {"E Plugins\\" + U8(listed[0].name) + "\\",
                                            "E Plugins\\" + U8(listed[1].name) + "\\",
                                            "E Plugins\\"};
  // The running user, reported twice (also from the profile list), once.
  const std::string userData = "W C:\\Users\\User\\AppData\\Roaming\\Mivo\\";
  const struct {
    const char* name;
    int removeBackups, removeContent;  // -1: the default
    const char* userMode;              // the destination's "Mivo.ini"; null: none
    std::vector<std::string> extra;
  } cases[] = {
      {"neither", 0, 0, nullptr, {}},
      {"automatic default", -1, -1, nullptr, {"W !Backup\\"}},
      {"content only, portable", 0, 1, "0", {"W Profile\\"}},
      {"both", 1, 1, nullptr, {"W !Backup\\", "W "}},
      {"both, per user", 1, 1, "1", {"W !Backup\\", "W ", userData}},
      {"content only, per user", 0, 1, "1", {"W Profile\\", userData}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::RemoveFile(dest_ + u"Mivo.ini");
    if (c.userMode) {
      TVelIniFile config;
      config.WriteString(u"System", u"UserMode", Utf8ToUtf16(c.userMode));
      ASSERT_TRUE(config.SaveToFile(dest_ + u"Mivo.ini"));
    }
    CreateUninstaller({"A.exe"}, dest_);
    Choose(c.removeBackups, c.removeContent);
    std::vector<std::string> expected = folders;
    expected.insert(expected.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(DirsList(), expected);
  }
}

// The whole step: what goes and what stays, with the progress over files
// and folders.
TEST_F(UninstallTest, RemovesTheRecordedFilesAndWhatWasChosen) {
  const String userData = u"C:\\Users\\User\\AppData\\Roaming\\Mivo\\";
  const struct {
    const char* name;
    int removeBackups, removeContent;
    const char* userMode;
    bool mine;  // a person's own folder in the installation's
    bool destStays, backupStays, profileStays, userDataStays;
  } cases[] = {
      {"neither", 0, 0, "0", true, true, true, true, true},
      {"automatic default", -1, -1, "0", true, true, false, true, true},
      {"content only, portable", 0, 1, "0", true, true, true, false, true},
      {"both, per user", 1, 1, "1", false, false, false, false, false},
      {"both, a person's folder", 1, 1, "1", true, true, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    // The installation, a file the user added in its own folder, backups,
    // the portable profile and another user's data.
    Folders(dest_, {u"Plugins", u"Plugins\\A", u"Plugins\\B", u"Skins", u"!Backup",
                    u"!Backup\\old", u"Profile"});
    for (const char16_t* file :
         {u"A.exe", u"Skins\\Dark.ini", u"Uninstall.dat", u"Uninstall.exe",
          u"!Backup\\z.zip", u"!Backup\\old\\y.zip", u"Profile\\Mivo.ini"})
      Write(dest_ + file);
    if (c.mine) {
      Folders(dest_, {u"Mine"});
      Write(dest_ + u"Mine\\song.mp3");
    }
    platform::SetAttributes(dest_ + u"A.exe", platform::kFileAttributeReadOnly);
    TVelIniFile config;
    config.WriteString(u"System", u"UserMode", Utf8ToUtf16(c.userMode));
    ASSERT_TRUE(config.SaveToFile(dest_ + u"Mivo.ini"));
    Folders(u"C:\\Users\\User\\AppData\\Roaming\\", {u"Mivo"});
    Write(userData + u"library.db");

    CreateUninstaller({"A.exe", "Skins\\Dark.ini", "Uninstall.dat", "Uninstall.exe"}, dest_);
    Choose(c.removeBackups, c.removeContent);
    Files action;
    const int folders = action.CreateDirsList().Count();
    std::vector<int32_t> progress;
    action.SetOnProgress([&](TSetupAction& a) { progress.push_back(a.Progress()); });
    action.Execute();

    for (const char16_t* file : {u"A.exe", u"Skins\\Dark.ini", u"Uninstall.dat", u"Uninstall.exe"})
      EXPECT_FALSE(Exists(dest_ + file)) << U8(file);
    EXPECT_FALSE(Exists(dest_ + u"Plugins\\"));  // empty folders go
    EXPECT_FALSE(Exists(dest_ + u"Skins\\"));
    // A person's own folder stays whatever was chosen, and with it the
    // installation's folder; the product's content goes as chosen.
    EXPECT_EQ(Exists(dest_ + u"Mine\\song.mp3"), c.mine);
    EXPECT_EQ(Exists(dest_ + u"Mivo.ini"), c.destStays && !(c.mine && c.removeBackups > 0));
    EXPECT_EQ(Exists(dest_), c.destStays);
    EXPECT_EQ(Exists(dest_ + u"!Backup\\old\\y.zip"), c.backupStays);
    EXPECT_EQ(Exists(dest_ + u"Profile\\Mivo.ini"), c.profileStays);
    EXPECT_EQ(Exists(userData + u"library.db"), c.userDataStays);
    // Progress: 100 * done / (the files + the folders), rounded; the files
    // are the 4 recorded and, where a person's folder keeps the
    // installation's, the product's "Mivo.ini" beside it.
    const int total = (c.mine && c.removeBackups > 0 ? 5 : 4) + folders;
    ASSERT_EQ(static_cast<int>(progress.size()), total);
    for (int done = 1; done <= total; ++done)
      EXPECT_EQ(progress[static_cast<size_t>(done - 1)], (200 * done + total) / (2 * total));
  }
}

// A tampered record deletes nothing outside the destination, whatever its
// entries say.
TEST_F(UninstallTest, RecordEntriesOutsideTheDestinationAreNotDeleted) {
  const String dest = work_ + u"A\\B\\";
  Folders(work_, {u"A", u"A\\B", u"A\\B\\Sub"});
  Write(work_ + u"outside.txt");
  Write(work_ + u"A\\outside.txt");
  Write(u"C:\\outside.txt");
  Write(dest + u"Mivo.exe");
  CreateUninstaller({"..\\..\\outside.txt", "C:\\outside.txt", "\\\\server\\share\\x",
                     "Sub\\..\\..\\outside.txt", "\\outside.txt", "Mivo.exe"},
                    dest);
  Choose(0, 0);
  Files().Execute();
  EXPECT_TRUE(Exists(work_ + u"outside.txt"));
  EXPECT_TRUE(Exists(work_ + u"A\\outside.txt"));
  EXPECT_TRUE(Exists(u"C:\\outside.txt"));
  EXPECT_FALSE(Exists(dest + u"Mivo.exe"));
}

// A portable installation whose folder holds links to a folder outside:
// with both options the links go, what they point to stays.
TEST_F(UninstallTest, LinksToFoldersOutsideAreRemovedNotFollowed) {
  const String outside = work_ + u"Outside\\";
  Folders(work_, {u"Outside", u"Outside\\Deep"});
  Write(outside + u"keep.txt");
  Write(outside + u"Deep\\keep.txt");
  Folders(dest_, {u"Plugins"});
  ASSERT_TRUE(platform::CreateFolderLink(dest_ + u"Profile", outside));
  ASSERT_TRUE(platform::CreateFolderLink(dest_ + u"Plugins\\Linked", outside));
  Write(dest_ + u"Mivo.exe");
  TVelIniFile config;
  config.WriteString(u"System", u"UserMode", u"0");
  ASSERT_TRUE(config.SaveToFile(dest_ + u"Mivo.ini"));

  for (const bool both : {false, true}) {
    SCOPED_TRACE(both ? "both options" : "content only");
    ASSERT_TRUE(platform::IsLink(dest_ + u"Profile"));
    CreateUninstaller({"Mivo.exe", "Profile\\keep.txt", "Plugins\\Linked\\Deep\\keep.txt"}, dest_);
    Choose(both, 1);
    // The folder list never enters the link.
    for (const std::string& entry : DirsList())
      EXPECT_EQ(entry.find("Linked\\"), std::string::npos) << entry;
    Files().Execute();
    EXPECT_TRUE(Exists(outside + u"keep.txt"));
    EXPECT_TRUE(Exists(outside + u"Deep\\keep.txt"));
    EXPECT_FALSE(Exists(dest_ + u"Profile"));
    EXPECT_EQ(Exists(dest_), !both);
    // Again with the link in place.
    if (!both) {
      ASSERT_TRUE(platform::CreateFolderLink(dest_ + u"Profile", outside));
      Write(dest_ + u"Mivo.exe");
    }
  }
}

// An installation into a drive root (or a folder that holds system folders)
// keeps that folder with both options; the recorded files and empty folders
// still go, and so does the portable profile.
TEST_F(UninstallTest, ADriveRootIsNeverDeletedWhole) {
  const std::string host = platform::standin::HostPath(work_);
  std::filesystem::create_directories(host + "/D");
  platform::standin::MapDrive(u'D', host + "/D", false);
  const String root = u"D:\\";
  Folders(root, {u"Plugins", u"Profile", u"Data"});
  Write(root + u"Mivo.exe");
  Write(root + u"Profile\\Mivo.ini");
  Write(root + u"Data\\other.txt");
  CreateUninstaller({"Mivo.exe"}, root);
  Choose(1, 1);
  Files().Execute();
  EXPECT_TRUE(Exists(root));
  EXPECT_TRUE(Exists(root + u"Data\\other.txt"));
  EXPECT_FALSE(Exists(root + u"Mivo.exe"));
  EXPECT_FALSE(Exists(root + u"Plugins"));
  EXPECT_FALSE(Exists(root + u"Profile"));
  platform::standin::UnmapDrive(u'D');
}

// A user's registry hive may point the data folder anywhere: a folder
// outside that user's profile is not that user's and stays.
TEST_F(UninstallTest, AUsersDataFolderOutsideTheProfileStays) {
  AddUserProfile(u"S-1-5-21-9-1003", u"C:\\Users\\Eve", work_ + u"Shared");
  Folders(work_, {u"Shared", u"Shared\\Mivo"});
  Write(work_ + u"Shared\\Mivo\\keep.db");
  PerUserInstallation();
  for (const std::string& dir : DirsList())
    EXPECT_EQ(dir.find("Shared"), std::string::npos) << dir;
  Files().Execute();
  EXPECT_TRUE(Exists(work_ + u"Shared\\Mivo\\keep.db"));
}

// A user's data folder is the user's to change while it is deleted: a
// subfolder swapped for a link after the folder was listed is removed as a
// link. Nothing it leads to is deleted, nor the folder moved out of the way.
TEST_F(UninstallTest, ADataFolderSubfolderSwappedForALinkLeadsNowhere) {
  const String data = u"C:\\Users\\User\\AppData\\Roaming\\Mivo\\";
  const String outside = u"C:\\Secret\\", aside = u"C:\\Moved";
  Folders(u"C:\\", {u"Secret"});
  Folders(data, {u"", u"Sub", u"Sub\\Deep"});
  Write(data + u"a.ini");
  Write(data + u"Sub\\notes.txt", "mine");
  Write(data + u"Sub\\Deep\\b.db");
  Write(outside + u"notes.txt", "secret");
  PerUserInstallation();
  {
    TSwapForLink swap(data + u"Sub", outside, aside);
    Files().Execute();
    EXPECT_TRUE(swap.Swapped());
  }
  EXPECT_FALSE(Exists(data));
  EXPECT_EQ(ReadFileText(outside + u"notes.txt"), "secret");
  EXPECT_EQ(ReadFileText(aside + u"\\notes.txt"), "mine");
  EXPECT_TRUE(Exists(aside + u"\\Deep\\b.db"));
}

// The integration goes: the registration program is told to remove its
// entries, the uninstall entry and the shortcuts are deleted.
TEST_F(UninstallTest, IntegrationIsUndoneTaskByTask) {
  std::vector<String> registrations;
  platform::standin::RegisterProgram(dest_ + u"Rivadavi.exe", [&](const String& commandLine) {
    registrations.push_back(commandLine);
    return 0u;
  });
  CreateUninstaller({"A.exe"}, dest_);
  // Made by the installer: only administrators may change it.
  ASSERT_TRUE(platform::SetFolderAccess(dest_, platform::TFolderAccess::LikeProgramFiles));
  TSetupAppRepo::Write(u"Mivo", dest_ + u"Uninstall.exe", u"5.50", u"Mivo Team", u"");
  String desktop;
  ASSERT_TRUE(platform::SpecialFolder(platform::kCsidlDesktopDirectory, desktop));
  Write(IncludeTrailingBackslash(desktop) + u"Mivo.lnk");

  const TSetupActionClass* actionClass = FindSetupActionClass(u"TSetupActionUninstallIntegration");
  ASSERT_NE(actionClass, nullptr);
  std::unique_ptr<TSetupAction> action = (*actionClass)();
  auto& integration = dynamic_cast<TSetupActionUninstallIntegration&>(*action);
  ASSERT_EQ(integration.Tasks.size(), 3u);
  EXPECT_NE(dynamic_cast<TSetupUpdateTaskRemoveShellMenu*>(integration.Tasks[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<TSetupUpdateTaskRemoveShortcuts*>(integration.Tasks[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<TSetupUpdateTaskRemoveFromRegistry*>(integration.Tasks[2].get()), nullptr);
  std::vector<int32_t> progress;
  action->SetOnProgress([&](TSetupAction& a) { progress.push_back(a.Progress()); });
  action->Execute();
  EXPECT_EQ(progress, (std::vector<int32_t>{33, 67, 100}));
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_NE(U8(registrations[0]).find("/REG=U"), std::string::npos) << U8(registrations[0]);
  String found;
  EXPECT_FALSE(TSetupAppRepo::Find(u"Mivo", found));
  EXPECT_FALSE(Exists(IncludeTrailingBackslash(desktop) + u"Mivo.lnk"));
}

#endif  // _WIN32

}  // namespace
}  // namespace product_test
