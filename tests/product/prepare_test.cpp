// The preparation step: backup archive, what is deleted and what is kept.
#ifndef _WIN32
#include <zip.h>
#endif

#include <map>
#include <random>
#include <regex>
#include <set>

#include "lib/exceptions.h"
#include "core/setup_summary.h"
#include "platform/app_repo.h"
#include "platform/errors.h"
#include "product/setup_action_prepare.h"
#include "product/setup_backup_archive.h"
#include "product/setup_classes.h"
#include "platform/security.h"
#include "product_test_util.h"
#include "resources/installer_errors.h"

namespace product_test {
namespace {

#ifndef _WIN32

using platform::FileExists;
using V = std::vector<String>;

const String kRoaming = u"C:\\Users\\User\\AppData\\Roaming\\";

// An archive read with the library's reader: entry name -> (bytes, flags).
struct TEntry {
  std::string bytes;
  uint16_t flags = 0;
};
std::map<std::string, TEntry> ReadArchive(const String& path) {
  std::map<std::string, TEntry> entries;
  const std::string host = platform::standin::HostPath(path);
  int error = 0;
  zip_t* archive = zip_open(host.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!archive) {
    entries["<error>"] = {std::to_string(error), 0};
    return entries;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st);
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    std::string bytes(st.size, '\0');
    if (file) {
      zip_fread(file, bytes.data(), st.size);
      zip_fclose(file);
    }
    entries[st.name] = {bytes, 0};
  }
  zip_close(archive);
  // The general-purpose flags of every central header, read from the bytes.
  std::ifstream in(host, std::ios::binary);
  const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  for (size_t at = raw.find("PK\x01\x02"); at != std::string::npos; at = raw.find("PK\x01\x02", at + 4)) {
    const auto u16 = [&](size_t o) {
      return static_cast<uint16_t>(static_cast<uint8_t>(raw[at + o]) |
                                   (static_cast<uint8_t>(raw[at + o + 1]) << 8));
    };
    const std::string name = raw.substr(at + 46, u16(28));
    const uint32_t local = static_cast<uint8_t>(raw[at + 42]) |
                           (static_cast<uint8_t>(raw[at + 43]) << 8) |
                           (static_cast<uint8_t>(raw[at + 44]) << 16);
    const uint16_t localFlags = static_cast<uint16_t>(static_cast<uint8_t>(raw[local + 6]) |
                                                      (static_cast<uint8_t>(raw[local + 7]) << 8));
    if (entries.count(name)) entries[name].flags = u16(8) & localFlags;
  }
  return entries;
}

std::vector<String> Archives(const String& dest) {
  std::vector<platform::TFolderEntry> entries;
  platform::ListFolder(dest + u"!Backup\\", entries);
  std::vector<String> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

class PrepareTest : public ProductTest {
 protected:
  // An old installation in work_: program files, a user's data folder and
  // the configuration of that version.
  void OldInstallation(int32_t version, bool portable = false) {
    for (const char16_t* f : {u"Mivo.exe", u"Readme.txt", u"Skins\\Light.ini", u"Skins\\Mine.ini",
                              u"Plugins\\Old.dll", u"Plugins\\DiscRipper\\rip.dll",
                              u"Plugins\\CodecPack\\codec.dll", u"UpdateInstaller.exe",
                              u"System\\libsoxr.dll", u"Icons\\a.ico"})
      Put(work_ + f, U8(f));
    WriteConfig(work_, version, portable ? u"0" : u"1", version < 4000 ? u"Mivo3.ini" : u"Mivo.ini");
    if (!portable)
      Put(kRoaming + (version < 4000 ? u"Mivo3\\" : u"Mivo\\") + u"Library.db", "library");
  }
  void Run(const String& extra = u"") {
    Create(u"/AUTO=\"" + work_ + u"\" /SILENT" + extra);
    TSetupActionPrepare().Execute();
  }
  String Archive() {
    const auto names = Archives(work_);
    return names.empty() ? String() : work_ + u"!Backup\\" + names.back();
  }
};

TEST_F(PrepareTest, FreshInstallationIntoAnEmptyFolderWritesNoArchive) {
  Run();
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"!Backup"));
}

// A folder that holds no installation keeps a person's files, byte for byte;
// only a file the new version replaces is archived (also without a backup)
// and removed.
TEST_F(PrepareTest, AFolderWithoutAnInstallationKeepsAPersonsFiles) {
  for (const char16_t* extra : {u"", u" /NOBACKUP"}) {
    SCOPED_TRACE(U8(extra));
    RemoveTree(work_ + u"!Backup\\");
    const std::pair<const char16_t*, const char*> mine[] = {
        {u"Notes.txt", "notes"},
        {u"Data\\keep.bin", "keep"},
        {u"Skins\\Mine.ini", "skin"},
        {u"Plugins\\CodecPack.txt", "plug-in notes"},
        {u"!Backup\\a.zip", "a"},
        {u"!Backup\\b.zip", "b"},
        {u"!Backup\\c.zip", "c"},
        {u"!Backup\\d.zip", "d"}};
    for (const auto& [name, bytes] : mine) Put(work_ + name, bytes);
    Put(work_ + u"Readme.txt", "my readme");
    Run(extra);
    const auto entries = ReadArchive(Archive());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.at("Program\\Readme.txt").bytes, "my readme");
    EXPECT_FALSE(FileExists(work_ + u"Readme.txt"));
    for (const auto& [name, bytes] : mine) EXPECT_EQ(ReadFileText(work_ + name), bytes) << U8(name);
  }
}

TEST_F(PrepareTest, UpdateBacksUpEverythingAndKeepsTheUsersContent) {
  OldInstallation(5300);
  Put(work_ + u"Readme.txt", "old readme");
  // A person's own files beside the installation: neither archived nor deleted.
  Put(work_ + u"Notes.txt", "notes");
  Put(work_ + u"Data\\keep.bin", "keep");
  Run(u" /UPDATE");
  const String archive = Archive();
  ASSERT_FALSE(archive.empty());
  EXPECT_TRUE(std::regex_match(
      U8(ExtractFileName(archive)),
      std::regex(R"(z Before install 5\.50 \[\d{4}\.\d\d\.\d\d \d\d-\d\d-\d\d\]\.zip)")));
  const auto entries = ReadArchive(archive);
  std::set<std::string> names;
  for (const auto& [name, entry] : entries) {
    names.insert(name);
    EXPECT_EQ(entry.flags & 0x800, 0x800) << name;
  }
  EXPECT_EQ(names, (std::set<std::string>{
                       "Program\\Mivo.exe", "Program\\Readme.txt", "Program\\Mivo.ini",
                       "Program\\Skins\\Light.ini", "Program\\Skins\\Mine.ini",
                       "Program\\Plugins\\Old.dll", "Program\\Plugins\\DiscRipper\\rip.dll",
                       "Program\\Plugins\\CodecPack\\codec.dll", "Program\\System\\libsoxr.dll",
                       "Program\\Icons\\a.ico", "Profiles\\User\\Library.db"}));
  EXPECT_EQ(entries.at("Program\\Readme.txt").bytes, "old readme");
  EXPECT_EQ(entries.at("Profiles\\User\\Library.db").bytes, "library");

  // Deleted: the old program files, the updater (not backed up), the codec
  // data and the discontinued plug-ins; kept: the user's content.
  for (const char16_t* gone : {u"Mivo.exe", u"Readme.txt", u"Mivo.ini", u"UpdateInstaller.exe",
                               u"System\\libsoxr.dll", u"Skins\\Light.ini",
                               u"Plugins\\CodecPack\\codec.dll"})
    EXPECT_FALSE(FileExists(work_ + gone)) << U8(gone);
  for (const char16_t* kept : {u"Skins\\Mine.ini", u"Plugins\\Old.dll", u"Icons\\a.ico",
                               u"Notes.txt", u"Data\\keep.bin"})
    EXPECT_TRUE(FileExists(work_ + kept)) << U8(kept);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"Plugins\\CodecPack"));
  EXPECT_TRUE(FileExists(kRoaming + u"Mivo\\Library.db"));
  EXPECT_FALSE(FileExists(archive + u".part"));
  // It holds every user's data: only administrators and the system may
  // read it.
  platform::TSecurityInfo security;
  ASSERT_TRUE(platform::ReadSecurityInfo(work_ + u"!Backup", security));
  EXPECT_TRUE(security.protectedAcl);
  for (const platform::TAccessEntry& entry : security.entries)
    EXPECT_TRUE(entry.sid == platform::kSidAdministrators || entry.sid == platform::kSidLocalSystem)
        << U8(entry.sid);
}

// Plug-ins stay on an update from 3.60 on, not from earlier versions; the
// discontinued plug-ins go by the version thresholds.
TEST_F(PrepareTest, WhatAnUpdateKeepsDependsOnTheVersion) {
  struct Case {
    int32_t version;
    bool pluginKept, ripperGone;
  } cases[] = {{3500, false, true}, {3600, true, true}, {4002, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    setup_.reset();
    platform::standin::ResetWorld();
    UsePackages(false);
    platform::CreateFolder(u"C:\\Setup");
    platform::CreateFolder(work_);
    OldInstallation(c.version);
    Run(u" /UPDATE");
    EXPECT_EQ(FileExists(work_ + u"Plugins\\Old.dll"), c.pluginKept);
    EXPECT_EQ(!FileExists(work_ + u"Plugins\\DiscRipper\\rip.dll"), c.ripperGone);
  }
}

TEST_F(PrepareTest, NoBackupLeavesTheOldInstallationsFilesAlone) {
  OldInstallation(5300);
  Run(u" /UPDATE /NOBACKUP");
  EXPECT_TRUE(Archives(work_).empty());
  EXPECT_TRUE(FileExists(work_ + u"UpdateInstaller.exe"));
  EXPECT_TRUE(FileExists(work_ + u"Icons\\a.ico"));
  // Obsolete plug-ins and the files the new version installs go.
  EXPECT_FALSE(FileExists(work_ + u"Plugins\\CodecPack\\codec.dll"));
  EXPECT_FALSE(FileExists(work_ + u"Skins\\Light.ini"));
  EXPECT_FALSE(FileExists(work_ + u"Mivo.exe"));
}

TEST_F(PrepareTest, FreshInstallationArchivesAndDeletesGeneration3Data) {
  Put(kRoaming + u"Mivo3\\Mivo3.ini", "gen3");
  Run();
  const auto entries = ReadArchive(Archive());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.at("Profiles\\User\\Mivo3.ini").bytes, "gen3");
  EXPECT_FALSE(FileExists(kRoaming + u"Mivo3\\Mivo3.ini"));
}

TEST_F(PrepareTest, PortableArchiveNamesHaveNoPrefix) {
  OldInstallation(5300, true);
  Put(work_ + u"Profile\\Mivo.ini", "settings");
  Run(u" /UPDATE /PORTABLE");
  const auto entries = ReadArchive(Archive());
  EXPECT_EQ(entries.count("Mivo.exe"), 1u);
  EXPECT_EQ(entries.at("Profile\\Mivo.ini").bytes, "settings");
  EXPECT_TRUE(FileExists(work_ + u"Profile\\Mivo.ini"));
}

TEST_F(PrepareTest, ThreeNewestArchivesStay) {
  OldInstallation(5300);
  for (const char16_t* name : {u"z Before install 5.10 [2020.01.01 10-00-00].zip",
                               u"z Before install 5.20 [2021.01.01 10-00-00].zip",
                               u"z Before install 5.30 [2022.01.01 10-00-00].zip",
                               u"z Before install 5.40 [2023.01.01 10-00-00].zip", u"notes.txt"})
    Put(work_ + u"!Backup\\" + name);
  Run(u" /UPDATE");
  const auto names = Archives(work_);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], u"notes.txt");
  EXPECT_EQ(names[1], u"z Before install 5.30 [2022.01.01 10-00-00].zip");
  EXPECT_EQ(names[2], u"z Before install 5.40 [2023.01.01 10-00-00].zip");
  EXPECT_TRUE(StartsWith(names[3], u"z Before install 5.50 ["));
}

// A backup that cannot be written stops the step before anything is
// deleted and leaves no partial archive.
TEST_F(PrepareTest, FailedBackupDeletesNothing) {
  OldInstallation(5300);
  // Held open for writing by another program.
  auto held = platform::OpenFileShared(work_ + u"Readme.txt", platform::kGenericWrite,
                                       platform::kFileShareWrite, platform::kOpenExisting);
  ASSERT_TRUE(held);
  // The message names the file, why it failed and what to do.
  EXPECT_EQ(U8(ErrorOf([&] { Run(u" /UPDATE"); })),
            "The file \"" + U8(work_) +
                "Readme.txt\" cannot be backed up because another program is using it.\r\n"
                "Close that program, then run Setup again.");
  held.reset();
  EXPECT_TRUE(Archives(work_).empty());
  EXPECT_TRUE(FileExists(work_ + u"Mivo.exe"));

  // 2 GiB together (a sparse file): refused before any archive is written.
  auto big = platform::OpenFileShared(work_ + u"Plugins\\Big.bin", platform::kGenericWrite, 0,
                                      platform::kCreateAlways);
  ASSERT_TRUE(big);
  big->SetSize((int64_t{1} << 31) - 10);
  big.reset();
  EXPECT_EQ(ErrorOf([&] { Run(u" /UPDATE"); }), u"Too many files for backup");
  EXPECT_TRUE(Archives(work_).empty());
  EXPECT_TRUE(FileExists(work_ + u"Mivo.exe"));
}

// The backup is written while the product package is still decoded: a
// package that turns out damaged leaves the old installation as it was, with
// neither an archive nor the folder made for it.
TEST_F(PrepareTest, DamagedPackageFoundDuringTheBackupChangesNothing) {
  std::vector<uint8_t> product = PackFolder(DemoFolder() + "product");
  TMemoryStream table;
  {
    TMemoryStream source(product);
    TSetupPackageReader reader(source);
    reader.FileTable().SaveToStream(table);
  }
  product[product.size() / 2] ^= 0x55;
  platform::standin::SetDataResource(u"PRODUCT", product);
  platform::standin::SetDataResource(u"PRODUCTTABLE", table.Bytes());
  platform::standin::SetDataResource(u"PRODUCTDIGEST", {});  // decoded whole meanwhile
  OldInstallation(5300);
  for (const char16_t* extra : {u" /UPDATE", u" /UPDATE /NOBACKUP"}) {
    EXPECT_EQ(ErrorOf([&] { Run(extra); }), u"Package was corrupted") << U8(extra);
    EXPECT_FALSE(platform::DirectoryExists(work_ + u"!Backup")) << U8(extra);
    for (const char16_t* f : {u"Mivo.exe", u"Plugins\\CodecPack\\codec.dll", u"UpdateInstaller.exe"})
      EXPECT_TRUE(FileExists(work_ + f)) << U8(f);
  }
}

// A link planted at the archive's temporary name is replaced, never
// written through.
TEST_F(PrepareTest, ALinkAtTheArchivesNameIsReplaced) {
  Put(work_ + u"Src\\a.txt", "a");
  Put(work_ + u"Target\\keep.txt", "keep");
  TSetupFileList list;
  list.AddFolder(work_ + u"Src\\", u"", u"");
  const std::vector<uint64_t> sizes = {1};
  const String path = work_ + u"out.zip";
  ASSERT_TRUE(platform::CreateFolderLink(TSetupBackupArchive::TempName(path), work_ + u"Target"));
  TSetupBackupArchive::Write(path, list, sizes, [](int) {});
  EXPECT_EQ(ReadArchive(path).at("a.txt").bytes, "a");
  EXPECT_EQ(ReadFileText(work_ + u"Target\\keep.txt"), "keep");
  std::vector<platform::TFolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(work_ + u"Target\\", entries));
  EXPECT_EQ(entries.size(), 1u);
}

// The archive is held in memory until the hook lets it be written (more
// than is held at once goes to the file once it may), and a hook that
// raises leaves no file at all.
// The preparation in two halves: up to the backup, and the rest.
class TPrepareInHalves : public TSetupActionPrepare {
 public:
  void BackUp(TVelStringList& deleteList) {
    Content = std::make_unique<TSetupDestContent>(TSetupDestContent::OfDestination());
    Profiles.Populate();
    CreateTasks();
    Backup(deleteList);
  }
  void Finish(TVelStringList& deleteList) {
    RunTasks(deleteList);
    DeleteFiles(deleteList);
  }
};

// A user's data folder is the user's to change at any moment: a subfolder
// swapped for a link to another folder after the listing, when its files
// are read into the archive or when they are deleted after the backup,
// leads nowhere. Nothing outside is read into the archive or deleted.
TEST_F(PrepareTest, ADataFolderSubfolderSwappedForALinkLeadsNowhere) {
  const String data = kRoaming + u"Mivo3\\", outside = u"C:\\Secret\\",
               aside = u"C:\\Moved";
  auto prepare = [&] {
    Put(data + u"Mivo3.ini", "settings");
    Put(data + u"Sub\\notes.txt", "mine");
    Put(outside + u"notes.txt", "secret");
  };
  auto archived = [&] {
    std::string all;
    for (const String& name : Archives(work_))
      for (const auto& [entry, content] : ReadArchive(work_ + u"!Backup\\" + name))
        all += entry + "=" + content.bytes + ";";
    return all;
  };

  // Swapped when its files are read: the backup fails, naming the file, and
  // nothing is deleted.
  prepare();
  {
    TSwapForLink swap(data + u"Sub", outside, aside, u"open");
    const String error = ErrorOf([&] { Run(); });
    EXPECT_TRUE(swap.Swapped());
    EXPECT_NE(error.find(data + u"Sub\\notes.txt"), String::npos) << U8(error);
  }
  EXPECT_EQ(archived().find("secret"), std::string::npos) << archived();
  EXPECT_EQ(ReadFileText(outside + u"notes.txt"), "secret");
  EXPECT_EQ(ReadFileText(data + u"Mivo3.ini"), "settings");

  // Swapped between the backup and the deletion: the archive holds the
  // user's own file, the rest of the data goes, and what the link leads to
  // stays.
  RemoveTree(data);
  RemoveTree(aside + u"\\");
  RemoveTree(work_ + u"!Backup\\");
  prepare();
  Create(u"/AUTO=\"" + work_ + u"\" /SILENT");
  TPrepareInHalves step;
  TVelStringList deleteList;
  step.BackUp(deleteList);
  ASSERT_TRUE(platform::MoveFileTo(data + u"Sub", aside));
  ASSERT_TRUE(platform::CreateFolderLink(data + u"Sub", outside));
  step.Finish(deleteList);
  EXPECT_NE(archived().find("Profiles\\User\\Sub\\notes.txt=mine;"), std::string::npos)
      << archived();
  EXPECT_EQ(archived().find("secret"), std::string::npos) << archived();
  EXPECT_FALSE(FileExists(data + u"Mivo3.ini"));
  EXPECT_EQ(ReadFileText(outside + u"notes.txt"), "secret");
  EXPECT_EQ(ReadFileText(aside + u"\\notes.txt"), "mine");
}

TEST_F(PrepareTest, ArchiveWrittenOnlyOnceItMayBe) {
  std::mt19937 random(7);
  std::string noise(6 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  Put(work_ + u"Big\\a.bin", noise);
  Put(work_ + u"Big\\b.bin", noise.substr(1000));
  Put(work_ + u"Big\\c.txt", "small");
  TSetupFileList list;
  list.AddFolder(work_ + u"Big\\", work_ + u"!Backup\\", u"Program\\");
  std::vector<uint64_t> sizes;
  for (int i = 0; i < list.Count(); ++i) {
    uint64_t size = 0;
    int64_t time = 0;
    ASSERT_TRUE(platform::FileSizeAndTime(list.Items(i).FileName, size, time));
    sizes.push_back(size);
  }
  const String path = work_ + u"out.zip";
  int calls = 0;
  TSetupBackupArchive::Write(path, list, sizes, [](int) {}, nullptr, [&] {
    ++calls;
    EXPECT_FALSE(FileExists(TSetupBackupArchive::TempName(path)));
  });
  EXPECT_EQ(calls, 1);
  const auto entries = ReadArchive(path);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries.at("Program\\a.bin").bytes == noise);
  EXPECT_TRUE(entries.at("Program\\b.bin").bytes == noise.substr(1000));
  EXPECT_EQ(entries.at("Program\\c.txt").bytes, "small");

  const String stopped = work_ + u"stopped.zip";
  EXPECT_EQ(ErrorOf([&] {
              TSetupBackupArchive::Write(stopped, list, sizes, [](int) {}, nullptr,
                                         [] { throw EInstallerBackupError(u"Stopped here"); });
            }),
            u"Stopped here");
  EXPECT_FALSE(FileExists(stopped));
  EXPECT_FALSE(FileExists(TSetupBackupArchive::TempName(stopped)));
}

TEST_F(PrepareTest, CancelledBackupLeavesNoArchive) {
  OldInstallation(5300);
  Create(u"/AUTO=\"" + work_ + u"\" /SILENT /UPDATE");
  TSetupActionPrepare action;
  action.Terminate();
  EXPECT_EQ(ErrorOf([&] { action.Execute(); }), u"Backup cancelled");
  EXPECT_TRUE(Archives(work_).empty());
  EXPECT_TRUE(FileExists(work_ + u"Mivo.exe"));
}

// A file of the old installation that a running program holds open (with
// delete sharing, as a player holds its files) is out of the way when the
// step ends: its name is free for the new file, and it vanishes when the
// holder lets it go.
TEST_F(PrepareTest, HeldOldFilesLeaveTheirNamesFree) {
  OldInstallation(5300);
  Put(work_ + u"Readme.txt", "old readme");
  auto held = platform::OpenFileShared(work_ + u"Readme.txt", platform::kGenericRead,
                                       platform::kFileShareRead | platform::kFileShareDelete,
                                       platform::kOpenExisting);
  ASSERT_TRUE(held);
  Run(u" /UPDATE");
  EXPECT_FALSE(FileExists(work_ + u"Readme.txt"));
  EXPECT_EQ(ReadArchive(Archive()).at("Program\\Readme.txt").bytes, "old readme");
  Put(work_ + u"Readme.txt", "new readme");
  held.reset();
  std::vector<platform::TFolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(work_, entries));
  for (const platform::TFolderEntry& e : entries)
    EXPECT_FALSE(StartsWith(e.name, u"~del")) << U8(e.name);
}

// The uninstaller and its record are archived but stay until the extraction
// replaces them: a run killed in between leaves a working uninstaller.
TEST_F(PrepareTest, UninstallRecordStaysUntilReplaced) {
  OldInstallation(5300);
  Put(work_ + u"Uninstall.exe", "old uninstaller");
  Put(work_ + u"Uninstall.dat", "old record");
  Run(u" /UPDATE");
  const auto entries = ReadArchive(Archive());
  EXPECT_EQ(entries.at("Program\\Uninstall.dat").bytes, "old record");
  EXPECT_EQ(entries.at("Program\\Uninstall.exe").bytes, "old uninstaller");
  EXPECT_TRUE(FileExists(work_ + u"Uninstall.exe"));
  EXPECT_TRUE(FileExists(work_ + u"Uninstall.dat"));
  EXPECT_FALSE(FileExists(work_ + u"Mivo.exe"));
}

// The lines of the ready-to-install page: the destination, the kind of
// installation, the backup, and the warning that another copy is left alone.
TEST_F(PrepareTest, Summary) {
  struct Case {
    const char* name;
    int32_t installed;  // 0: nothing in the destination
    const char16_t* switches;
    bool elsewhere;  // another copy registered elsewhere
    std::vector<const char16_t*> items;
    bool warning;
  } cases[] = {
      {"fresh", 0, u"", false, {u"CB2", u"CB4"}, false},
      {"fresh, copy elsewhere", 0, u"", true, {u"CB2", u"CB4"}, true},
      {"portable, copy elsewhere", 0, u" /PORTABLE", true, {u"CB3", u"CB4"}, false},
      {"update", 5300, u" /UPDATE", true, {u"CB1", u"CB4"}, false},
      {"update without backup", 5300, u" /UPDATE /NOBACKUP", false, {u"CB1"}, false},
      {"over a copy that is not updated", 5500, u"", false, {u"CB2", u"CB4"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setup_.reset();
    platform::standin::ResetWorld();
    UsePackages(false);
    platform::CreateFolder(u"C:\\Setup");
    platform::CreateFolder(work_);
    if (c.installed) WriteConfig(work_, c.installed, u"1");
    if (c.elsewhere) {
      platform::CreateFolder(u"C:\\Elsewhere");
      TSetupAppRepo::Write(u"Mivo", u"C:\\Elsewhere\\Uninstall.exe", u"5.50", u"Mivo Team", u"");
    }
    Create(u"/AUTO=\"" + work_ + u"\" /SILENT" + c.switches);
    auto text = [&](const char16_t* key) { return setup_->Resources().GetText(u"PageSetup", key); };
    String expected = text(u"LB1") + u":\r\n * " + work_ + u"\r\n\r\n" + text(u"Title") + u":\r\n";
    // Check box captions without their access keys.
    for (const char16_t* item : c.items) expected += u" * " + StripAccessKey(text(item)) + u"\r\n";
    if (c.warning) expected += u"\r\n" + text(u"Title") + u":\r\n * " + text(u"W3") + u"\r\n";
    TSetupSummaryBuilder builder;
    TSetupActionPrepare().AddSummary(builder);
    EXPECT_EQ(U8(builder.ToString()), U8(expected));
  }
}

// The product's run lists this step second, after closing the player, and
// this program has a class for every step it lists.
TEST_F(PrepareTest, TheStepIsThePrograms) {
  CreateAuto(work_);
  const std::vector<String> names = ActionNames();
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[1], u"TSetupActionPrepare");
  for (const String& name : names) EXPECT_NE(FindSetupActionClass(name), nullptr) << U8(name);
  const TSetupActionClass* prepare = FindSetupActionClass(u"TSetupActionPrepare");
  ASSERT_NE(prepare, nullptr);
  EXPECT_NE(dynamic_cast<TSetupActionPrepare*>((*prepare)().get()), nullptr);
}

#endif

}  // namespace
}  // namespace product_test
