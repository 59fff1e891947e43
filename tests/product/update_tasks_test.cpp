// Folder helpers of the preparation step and the update tasks.
#include <atomic>

#include "lib/exceptions.h"
#include "platform/app_repo.h"
#include "platform/errors.h"
#include "platform/setup_helpers.h"
#include "product/setup_helper.h"
#include "product/setup_profiles.h"
#include "product/setup_update_tasks.h"
#include "platform/security.h"
#include "product_test_util.h"
#include "resources/installer_errors.h"

namespace product_test {
namespace {

using platform::CreateFolder;
using platform::FileExists;

bool Write(const String& path, const std::string& text) {
  auto s = platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
  return s && s->Write(text.data(), static_cast<int64_t>(text.size())) ==
                  static_cast<int64_t>(text.size());
}

std::string Read(const String& path) {
  auto s = platform::OpenFileShared(path, platform::kGenericRead, platform::kFileShareRead,
                                    platform::kOpenExisting);
  if (!s) return "<missing>";
  const auto bytes = ReadAll(*s);
  return std::string(bytes.begin(), bytes.end());
}

// Creates the file and its folders below base.
void Put(const String& base, const String& relative, const std::string& text = "x") {
  const String path = base + relative;
  for (size_t at = 3; (at = path.find(u'\\', at)) != String::npos; ++at)
    CreateFolder(path.substr(0, at));
  ASSERT_TRUE(Write(base + relative, text)) << U8(base + relative);
}

std::vector<String> Relative(const TVelStringList& list, const String& base) {
  std::vector<String> out;
  for (int i = 0; i < list.Count(); ++i)
    out.push_back(StartsWith(list.Strings(i), base) ? list.Strings(i).substr(base.size())
                                                    : list.Strings(i));
  return out;
}

using V = std::vector<String>;

class HelperTest : public ProductTest {};

TEST_F(HelperTest, RemoveByPrefixIgnoresCase) {
  struct Case {
    V list;
    String prefix;
    V left;
  } cases[] = {
      {{u"C:\\A\\x", u"c:\\a\\y", u"C:\\AB\\z", u"C:\\B\\a"}, u"C:\\A\\", {u"C:\\AB\\z", u"C:\\B\\a"}},
      {{u"C:\\A\\x", u"C:\\AB\\z"}, u"C:\\A", {}},
      {{u"C:\\A"}, u"C:\\A\\", {u"C:\\A"}},
      {{}, u"C:\\", {}},
  };
  for (const Case& c : cases) {
    TVelStringList list;
    for (const String& s : c.list) list.Add(s);
    TSetupHelper::RemoveByPrefix(list, c.prefix);
    EXPECT_EQ(Relative(list, u""), c.left) << U8(c.prefix);
  }
}

TEST_F(HelperTest, CopyFolderCopiesReplacesAndReportsTheFolders) {
  const String from = work_ + u"Old\\", to = work_ + u"New\\";
  Put(from, u"a.ini", "new a");
  Put(from, u"Sub\\Deep\\b.db", "new b");
  Put(to, u"a.ini", "old a");
  Put(to, u"keep.txt", "kept");
  ASSERT_TRUE(platform::SetAttributes(to + u"a.ini", platform::kFileAttributeReadOnly));

  TSetupHelper::CopyFolder(from, to, false);
  EXPECT_EQ(Read(to + u"a.ini"), "new a");
  EXPECT_EQ(Read(to + u"Sub\\Deep\\b.db"), "new b");
  EXPECT_EQ(Read(to + u"keep.txt"), "kept");
  EXPECT_TRUE(FileExists(from + u"a.ini"));

  // The same folder in another letter case: nothing at all happens.
  TSetupHelper::CopyFolder(from, UpperAscii(from), true);
  EXPECT_TRUE(FileExists(from + u"a.ini"));

  // With deleteSource the old folder goes; a missing source copies nothing.
  TSetupHelper::CopyFolder(from, work_ + u"Third\\", true);
  EXPECT_FALSE(platform::DirectoryExists(from));
  EXPECT_EQ(Read(work_ + u"Third\\Sub\\Deep\\b.db"), "new b");
  TSetupHelper::CopyFolder(from, work_ + u"Fourth\\", false);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Fourth\\"));

  // A file where a folder must go stops the copy with both folders named.
  Put(work_, u"Src\\Sub\\c.txt");
  Put(work_, u"Dst\\Sub", "a file");
  EXPECT_EQ(ErrorOf([&] { TSetupHelper::CopyFolder(work_ + u"Src\\", work_ + u"Dst\\", true); }),
            u"Cannot copy \"" + work_ + u"Src\\\" to \"" + work_ + u"Dst\\\"");
  EXPECT_TRUE(FileExists(work_ + u"Src\\Sub\\c.txt"));
}

TEST_F(HelperTest, DeletePathWholeOrOnlyIfEmpty) {
  Put(work_, u"Tree\\a.txt");
  Put(work_, u"Tree\\Sub\\b.txt");
  ASSERT_TRUE(platform::SetAttributes(work_ + u"Tree\\Sub\\b.txt", platform::kFileAttributeReadOnly));
  CreateFolder(work_ + u"Empty");

  TSetupHelper::DeletePath(work_ + u"Tree\\", true);
  EXPECT_TRUE(FileExists(work_ + u"Tree\\a.txt"));
  TSetupHelper::DeletePath(work_ + u"Empty\\", true);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Empty"));
  TSetupHelper::DeletePath(work_ + u"Tree\\", false);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Tree"));
  TSetupHelper::DeletePath(work_ + u"Missing\\", false);
}

// Links lead out of the tree: a copy never reads or writes through them and a
// deletion removes the link, never what it points to.
TEST_F(HelperTest, FolderRoutinesNeverGoThroughLinks) {
  const String other = work_ + u"OtherUser\\";
  Put(other, u"Documents\\private.txt", "private");
  Put(work_, u"Data\\a.ini");
  if (!platform::CreateFolderLink(work_ + u"Data\\Docs", other + u"Documents"))
    GTEST_SKIP() << "no folder links here: " << platform::LastError();

  // A link planted in the target where the copy's sub-folder goes.
  Put(work_, u"Source\\Docs\\private.txt", "overwritten");
  CreateFolder(work_ + u"Target");
  ASSERT_TRUE(platform::CreateFolderLink(work_ + u"Target\\Docs", other + u"Documents"));
  TSetupHelper::CopyFolder(work_ + u"Source\\", work_ + u"Target\\", false);
  EXPECT_EQ(Read(other + u"Documents\\private.txt"), "private");
  EXPECT_FALSE(platform::IsLink(work_ + u"Target\\Docs"));
  EXPECT_EQ(Read(work_ + u"Target\\Docs\\private.txt"), "overwritten");

  // A link in the source is not copied.
  TSetupHelper::CopyFolder(work_ + u"Data\\", work_ + u"Copy\\", false);
  EXPECT_TRUE(FileExists(work_ + u"Copy\\a.ini"));
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Copy\\Docs"));

  TSetupHelper::DeletePath(work_ + u"Data\\", false);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Data"));
  EXPECT_EQ(Read(other + u"Documents\\private.txt"), "private");

  // The folder to delete is itself a link.
  ASSERT_TRUE(platform::CreateFolderLink(work_ + u"Link", other + u"Documents"));
  TSetupHelper::DeletePath(work_ + u"Link\\", false);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Link"));
  EXPECT_EQ(Read(other + u"Documents\\private.txt"), "private");
}

TEST_F(HelperTest, FileListNamesAndFilters) {
  Put(work_, u"Dest\\Mivo.exe");
  Put(work_, u"Dest\\Plugins\\AlbumArts.db");
  Put(work_, u"Dest\\!Backup\\old.zip");
  TSetupFileList list;
  list.AddFolder(work_ + u"Dest\\", work_ + u"Dest\\!Backup\\", u"Program\\");
  list.AddFile(work_ + u"x.txt", u"Profiles\\Ann\\x.txt");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0).ArchiveName, u"Program\\Mivo.exe");
  EXPECT_EQ(list.Items(0).FileName, work_ + u"Dest\\Mivo.exe");
  EXPECT_EQ(list.Items(1).ArchiveName, u"Program\\Plugins\\AlbumArts.db");
  list.RemoveByName(u"albumarts.DB");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(1).ArchiveName, u"Profiles\\Ann\\x.txt");
}

#ifndef _WIN32

const String kRoaming = u"C:\\Users\\User\\AppData\\Roaming\\";

class UpdateTasksTest : public ProductTest {
 protected:
  // An installation of that version in work_ with the user's data in the
  // data folder of that version.
  void Installed(int32_t version) {
    WriteConfig(work_, version, u"1", version < 4000 ? u"Mivo3.ini" : u"Mivo.ini");
    CreateAuto(work_);
    profile_.UserName = u"User";
    profile_.OldDataFolder = TSetupProfileHelper::GetOldDataFolder(kRoaming);
    profile_.DataFolder = TSetupProfileHelper::GetDataFolder(kRoaming);
    profile_.BaseFolder = u"C:\\Users\\User\\";
  }
  // Runs the migration and returns the delete list relative to work_.
  V Migrate(TVelStringList& list) {
    TSetupUpdateTaskUpdateConfigs(profile_).Execute(&list);
    return Relative(list, work_);
  }

  TSetupProfileInfo profile_;
};

// Which steps run depends on the installed version only.
TEST_F(UpdateTasksTest, VersionGatedStepsOfTheMigration) {
  struct Case {
    int32_t version;
    V deleted;  // relative to the destination or "data:" for the data folder
  } cases[] = {
      {5401, {}},
      {5400, {u"System\\libsoxr.dll", u"System\\Encoders\\enc.dll", u"System\\Data\\d.bin"}},
      {5300, {u"System\\libsoxr.dll", u"System\\Encoders\\enc.dll", u"System\\Data\\d.bin"}},
      {5000,
       {u"data:AlbumArtCache.db", u"System\\libsoxr.dll", u"System\\Encoders\\enc.dll",
        u"System\\Data\\d.bin"}},
      {4400,
       {u"Skins\\Classic.ini", u"Skins\\ClassicMini.ini", u"data:AlbumArts.db",
        u"data:AlbumArtCache.db", u"System\\libsoxr.dll", u"System\\Encoders\\enc.dll",
        u"System\\Data\\d.bin"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    setup_.reset();
    platform::standin::ResetWorld();
    UsePackages(false);
    ASSERT_TRUE(CreateFolder(u"C:\\Setup"));
    ASSERT_TRUE(CreateFolder(work_));
    for (const char16_t* f : {u"System\\libsoxr.dll", u"System\\Encoders\\enc.dll",
                              u"System\\Data\\d.bin", u"Skins\\Classic.ini",
                              u"Skins\\ClassicMini.ini", u"Skins\\Mine.ini"})
      Put(work_, f);
    Installed(c.version);
    for (const char16_t* f : {u"AlbumArts.db", u"AlbumArtCache.db", u"AlbumArtsForURLs.db",
                              u"Mivo.ini"})
      Put(profile_.DataFolder, f);
    TVelStringList list;
    list.Add(profile_.DataFolder + u"Mivo.ini");  // backed up, must survive
    V deleted = Migrate(list);
    for (String& d : deleted)
      if (StartsWith(d, profile_.DataFolder)) d = u"data:" + d.substr(profile_.DataFolder.size());
    EXPECT_EQ(deleted, c.deleted);
    // The custom album art list gets its new name below 5.02.
    EXPECT_EQ(FileExists(profile_.DataFolder + u"AlbumArts.Custom.db"), c.version < 5020);
  }
}

TEST_F(UpdateTasksTest, MigrationFromGeneration3) {
  Put(work_, u"Mivo.exe");
  Installed(3600);
  const String old = kRoaming + u"Mivo3\\", data = kRoaming + u"Mivo\\";
  ASSERT_EQ(profile_.OldDataFolder, old);
  for (const char16_t* f : {u"Mivo3.ini", u"Mivo3-cat.db", u"mivo3_menu.ini", u"Mivo3ac.ini",
                            u"Mivo3ate.ini", u"Mivo3-SkinLayout.ini", u"Mivo3.bak", u"Other.ini"})
    Put(old, f, U8(f));
  // Everything backed up is on the list: the old data and the new folder.
  TVelStringList list;
  list.Add(old + u"Mivo3.ini");
  list.Add(data + u"Stale.ini");
  TSetupUpdateTaskUpdateConfigs(profile_).Execute(&list);

  EXPECT_TRUE(FileExists(work_ + u"Mivo.ini"));
  EXPECT_FALSE(FileExists(work_ + u"Mivo3.ini"));
  EXPECT_EQ(Read(data + u"Mivo.ini"), "Mivo3.ini");
  EXPECT_EQ(Read(data + u"Mivo-cat.db"), "Mivo3-cat.db");
  EXPECT_EQ(Read(data + u"Mivo-ContextMenu.ini"), "mivo3_menu.ini");
  EXPECT_EQ(Read(data + u"Mivoac.ini"), "Mivo3ac.ini");
  EXPECT_EQ(Read(data + u"Mivoate.ini"), "Mivo3ate.ini");
  EXPECT_EQ(Read(data + u"Other.ini"), "Other.ini");
  EXPECT_EQ(Read(old + u"Mivo3.ini"), "Mivo3.ini");  // the source stays for the backup
  EXPECT_EQ(Relative(list, kRoaming),
            (V{u"Mivo3\\Mivo3.ini", u"Mivo\\Mivo3-SkinLayout.ini", u"Mivo\\Mivo3.bak"}));
}

// The old data folder and the new one are the user's to change while they
// are copied: a subfolder of either swapped for a link once the copy is
// under way leads nowhere. Nothing outside is read into the user's folder,
// and nothing outside is written.
TEST_F(UpdateTasksTest, AFolderSwappedForALinkDuringTheCopyLeadsNowhere) {
  const String old = kRoaming + u"Mivo3\\", data = kRoaming + u"Mivo\\";
  const String outside = u"C:\\Secret\\", aside = u"C:\\Moved";
  for (const String& swapped : {old + u"Sub", data + u"Sub"}) {
    SCOPED_TRACE(U8(swapped));
    setup_.reset();
    platform::standin::ResetWorld();
    UsePackages(false);
    ASSERT_TRUE(CreateFolder(u"C:\\Setup"));
    ASSERT_TRUE(CreateFolder(work_));
    Put(work_, u"Mivo.exe");
    Installed(3600);
    Put(old, u"Mivo3.ini", "settings");
    Put(old, u"Sub\\notes.txt", "mine");
    Put(data, u"Sub\\earlier.txt", "earlier");
    Put(outside, u"notes.txt", "secret");
    TVelStringList list;
    {
      TSwapForLink swap(swapped, outside, aside);
      TSetupUpdateTaskUpdateConfigs(profile_).Execute(&list);
      EXPECT_TRUE(swap.Swapped());
    }
    EXPECT_EQ(Read(data + u"Mivo.ini"), "settings");
    EXPECT_NE(Read(data + u"Sub\\notes.txt"), "secret");
    EXPECT_FALSE(platform::IsLink(data + u"Sub"));
    EXPECT_EQ(Read(outside + u"notes.txt"), "secret");
    EXPECT_FALSE(FileExists(outside + u"earlier.txt"));
  }
}

// The renames of the migration happen in the user's own folder: one that is
// a link, or is reached through one, renames nothing.
TEST_F(UpdateTasksTest, RenamesNeverGoThroughALink) {
  struct TRenames : TSetupUpdateTaskUpdateConfigs {
    using TSetupUpdateTaskUpdateConfigs::RenameIfExists;
  };
  Put(u"C:\\Secret\\", u"Mivo3.ini", "secret");
  Put(kRoaming + u"Mine\\", u"Mivo3.ini", "mine");
  ASSERT_TRUE(platform::CreateFolderLink(kRoaming + u"Mivo", u"C:\\Secret"));
  const String base = u"C:\\Users\\User\\";
  TRenames::RenameIfExists(kRoaming + u"Mivo\\", u"Mivo3.ini", u"Mivo.ini", base);
  EXPECT_EQ(Read(u"C:\\Secret\\Mivo3.ini"), "secret");
  EXPECT_FALSE(FileExists(u"C:\\Secret\\Mivo.ini"));
  TRenames::RenameIfExists(kRoaming + u"Mine\\", u"Mivo3.ini", u"Mivo.ini", base);
  EXPECT_EQ(Read(kRoaming + u"Mine\\Mivo.ini"), "mine");
}

TEST_F(UpdateTasksTest, BothConfigurationsStopWithTheSystemsError) {
  Put(work_, u"Mivo.ini");
  Installed(3600);
  Put(work_, u"Mivo3.ini");
  TVelStringList list;
  const String message = ErrorOf([&] { TSetupUpdateTaskUpdateConfigs(profile_).Execute(&list); });
  EXPECT_TRUE(StartsWith(message, u"System Error.  Code: ")) << U8(message);
  EXPECT_NE(message.find(work_ + u"Mivo3.ini"), String::npos) << U8(message);
}

TEST_F(UpdateTasksTest, RemovalTasks) {
  Installed(3600);
  // Uninstall entries: one into the destination, one elsewhere.
  Put(u"C:\\Elsewhere\\", u"Uninstall.exe");
  TSetupAppRepo::Write(u"Mivo3", work_ + u"Uninstall.exe", u"3.60", u"p", u"h");
  TSetupAppRepo::Write(u"Mivo", u"C:\\Elsewhere\\Uninstall.exe", u"5.40", u"p", u"h");
  TSetupUpdateTaskRemoveUninstallInfo().Execute(nullptr);
  String path;
  EXPECT_FALSE(TSetupAppRepo::Find(u"Mivo3", path));
  EXPECT_TRUE(TSetupAppRepo::Find(u"Mivo", path));

  // Shortcuts of both generations below 4.00.
  const String desktop = u"C:\\Users\\User\\Desktop\\", common = u"C:\\Users\\Public\\Desktop\\",
               menu = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
  Put(desktop, u"Mivo.lnk");
  Put(desktop, u"Mivo3.lnk");
  Put(desktop, u"Other.lnk");
  Put(common, u"Mivo.lnk");
  Put(menu, u"Mivo\\Mivo.lnk");
  Put(menu, u"Mivo3\\Help\\Mivo3.lnk");
  // A user's start menu that points elsewhere: what else is in the folder stays.
  const String redirected = u"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\";
  Put(redirected, u"Mivo\\Mivo.lnk");
  Put(redirected, u"Mivo\\notes.txt");
  TSetupUpdateTaskRemoveShortcuts().Execute(nullptr);
  EXPECT_FALSE(FileExists(redirected + u"Mivo\\Mivo.lnk"));
  EXPECT_TRUE(FileExists(redirected + u"Mivo\\notes.txt"));
  EXPECT_FALSE(FileExists(desktop + u"Mivo.lnk"));
  EXPECT_FALSE(FileExists(desktop + u"Mivo3.lnk"));
  EXPECT_TRUE(FileExists(desktop + u"Other.lnk"));
  EXPECT_FALSE(FileExists(common + u"Mivo.lnk"));
  EXPECT_FALSE(platform::DirectoryExists(menu + u"Mivo"));
  EXPECT_FALSE(platform::DirectoryExists(menu + u"Mivo3"));

  // Without the registration program the entry goes all the same.
  TSetupAppRepo::Write(u"Mivo", work_ + u"Uninstall.exe", u"5.40", u"p", u"h");
  TSetupUpdateTaskRemoveFromRegistry().Execute(nullptr);
  EXPECT_FALSE(TSetupAppRepo::Find(u"Mivo", path));
  // With it, it runs with /REG=U first.
  std::atomic<int> runs{0};
  String commandLine;
  platform::standin::RegisterProgram(work_ + u"Rivadavi.exe", [&](const String& line) -> uint32_t {
    commandLine = line;
    ++runs;
    return 0;
  });
  TSetupAppRepo::Write(u"Mivo", work_ + u"Uninstall.exe", u"5.40", u"p", u"h");
  // Not from a folder that users may change: the program there could be
  // anybody's.
  TSetupUpdateTaskRemoveFromRegistry().Execute(nullptr);
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(TSetupAppRepo::Find(u"Mivo", path));
  ASSERT_TRUE(platform::SetFolderAccess(work_, platform::TFolderAccess::LikeProgramFiles));
  TSetupAppRepo::Write(u"Mivo", work_ + u"Uninstall.exe", u"5.40", u"p", u"h");
  TSetupUpdateTaskRemoveFromRegistry().Execute(nullptr);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(commandLine, u"\"" + work_ + u"Rivadavi.exe\" /REG=U");
  EXPECT_FALSE(TSetupAppRepo::Find(u"Mivo", path));
}

// The old context-menu libraries are deleted; they are loaded for their
// unregistration only from a folder that only administrators can write.
TEST_F(UpdateTasksTest, ShellMenuIsUnregisteredOnlyFromProgramFiles) {
  for (const String& dest : {String(u"C:\\Program Files\\Mivo\\"), work_}) {
    SCOPED_TRACE(U8(dest));
    Put(dest, u"System\\mivo_menu32.dll");
    Put(dest, u"System\\mivo_menu64.dll");
    WriteConfig(dest, 3600, u"1", u"Mivo3.ini");
    CreateAuto(dest);
    int calls = 0;
    for (const char16_t* name : {u"System\\mivo_menu32.dll", u"System\\mivo_menu64.dll"})
      platform::standin::RegisterLibrary(dest + name,
                                         {{"DllUnregisterServer", [&] { ++calls; }}});
    TSetupUpdateTaskRemoveShellMenu().Execute(nullptr);
    EXPECT_EQ(calls, dest == work_ ? 0 : 2);
    EXPECT_FALSE(FileExists(dest + u"System\\mivo_menu32.dll"));
    EXPECT_FALSE(FileExists(dest + u"System\\mivo_menu64.dll"));
    setup_.reset();
  }
}

#endif

}  // namespace
}  // namespace product_test
