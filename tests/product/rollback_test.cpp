// A run that fails or is cancelled leaves the computer as it found it; one
// that was killed is undone at the next start; one that succeeds looks as
// if nothing had been recorded.
#include <map>

#include "core/setup_action.h"
#include "core/setup_journal.h"
#include "lib/run_log.h"
#include "platform/app_repo.h"
#include "platform/setup_helpers.h"
#include "package/package_stream.h"
#include "product_test_util.h"
#include "resources/installer_errors.h"

namespace product_test {
namespace {

// Every file below the folder with its bytes, by path relative to it.
std::map<String, std::string> Tree(const String& folder) {
  TVelStringList files;
  FindFiles(folder, u"", files);
  std::map<String, std::string> tree;
  for (int i = 0; i < files.Count(); ++i)
    tree[files.Strings(i).substr(folder.size())] = ReadFileText(files.Strings(i));
  return tree;
}

// The values of a registry key: name -> type and bytes.
std::map<String, std::pair<uint32_t, std::vector<uint8_t>>> KeyValues(const String& subKey) {
  std::map<String, std::pair<uint32_t, std::vector<uint8_t>>> values;
  platform::TRegKey key;
  if (key.Open(platform::RegRoot::LocalMachine, subKey, platform::kKeyRead) != 0) return values;
  String name;
  for (uint32_t i = 0; key.EnumValue(i, name) == 0; ++i) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    key.QueryValue(name, type, data);
    values[name] = {type, data};
  }
  return values;
}

// Does what it is told when the run shows a status text.
class TStatusReaction : public IInstallerNotify {
 public:
  std::function<void(const String& status)> onStatus;
  std::vector<String> statuses;
  void Notify(uint32_t code, uintptr_t param) override {
    if (code != NotifyStatus) return;
    statuses.push_back(*reinterpret_cast<const String*>(param));
    if (onStatus) onStatus(statuses.back());
  }
};

class RollbackTest : public ProductTest {
 protected:
  void SetUp() override {
    ProductTest::SetUp();
#ifndef _WIN32
    // The product's programs are Windows programs: natively a few bytes
    // stand in for them.
    static const std::vector<uint8_t> product =
        PackFolder(DemoFolder() + "product", {{u"Mivo.exe", "MZ player"},
                                              {u"Rivadavi.exe", "MZ reg"},
                                              {u"MivoToolsSetup.exe", "MZ tools"}});
    UseProductPackage(product);
    Put(u"C:\\Setup\\Setup.exe", "MZ the installer");
#endif
    journalFolder_ = TSetupJournal::FolderFor(u"Mivo");
  }

  // An older version's installation in work_, listed in Windows' list of
  // programs, with the player's own settings in its configuration.
  void OldInstallation() {
    for (const char16_t* f : {u"Mivo.exe", u"Readme.txt", u"Skins\\Light.ini", u"Plugins\\Old.dll",
                              u"System\\libsoxr.dll", u"Uninstall.exe", u"Uninstall.dat"})
      Put(work_ + f, "old " + U8(f));
    WriteConfig(work_, 5300, u"0", u"Mivo.ini", u"IntegrateToWindows=0\r\n");
    TVelIniFile config;
    config.LoadFromFile(work_ + u"Mivo.ini");
    config.WriteInteger(u"Player", u"Volume", 42);
    ASSERT_TRUE(config.SaveToFile(work_ + u"Mivo.ini"));
    TSetupAppRepo::Write(u"Mivo", work_ + u"Uninstall.exe", u"5.30", u"Old Maker", u"old page");
  }

  // A fresh work folder with an older version's installation in it.
  void OldInstallationAnew() {
    setup_.reset();
    RemoveTree(work_);
    platform::CreateFolder(work_);
    OldInstallation();
  }

  // Runs the created controller's run to its end with the reaction listening.
  void Run(TStatusReaction& reaction) {
    setup_->AddListener(&reaction);
    setup_->StartInstall(true);
    setup_->RemoveListener(&reaction);
  }

  // Runs the installation to its end with the reaction listening.
  void Install(TStatusReaction& reaction) {
    Create(u"/AUTO=\"" + work_ + u"\" /SILENT /NOBACKUP");
    Run(reaction);
  }

  String EntryKey() const { return TSetupAppRepo::GetKeyPath(false) + u"Mivo"; }

  String journalFolder_;
};

TEST_F(RollbackTest, AFailedOrCancelledUpdateLeavesTheOldInstallationAsItWas) {
  // The run fails in its last steps (a listener's error is one of the
  // run's), or is cancelled once the files are written.
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "failed");
    OldInstallationAnew();
    const auto files = Tree(work_);
    const auto entry = KeyValues(EntryKey());
    ASSERT_FALSE(entry.empty());

    TStatusReaction reaction;
    const String configuring = u"Saving the configuration...";
    reaction.onStatus = [&](const String& status) {
      if (cancel && status == u"Copying files...") setup_->Thread()->Terminate();
      if (!cancel && status == configuring) throw EInstallerInstallError(u"injected failure");
    };
    Install(reaction);

    ASSERT_TRUE(setup_->HasErrors());
    if (!cancel) {
      EXPECT_EQ(setup_->Errors.Strings(0), u"injected failure");
    }
    EXPECT_EQ(setup_->Cancelled(), cancel);
    EXPECT_EQ(reaction.statuses.back(), u"Restoring the previous installation...");
    EXPECT_EQ(Tree(work_), files);
    EXPECT_EQ(KeyValues(EntryKey()), entry);
    // Nothing of the undoing is left behind.
    EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  }
}

// A fresh installation that fails at its end (as one onto a drive that
// fills up does) leaves no folder, file, registry entry or shortcut.
TEST_F(RollbackTest, AFailedFreshInstallationLeavesNothing) {
  const String dest = work_ + u"New\\Mivo\\";
  String desktop, programs;
  ASSERT_TRUE(platform::SpecialFolder(platform::kCsidlCommonDesktopDirectory, desktop));
  ASSERT_TRUE(platform::SpecialFolder(platform::kCsidlCommonPrograms, programs));
  const auto desktopBefore = Tree(IncludeTrailingBackslash(desktop));
  const auto programsBefore = Tree(IncludeTrailingBackslash(programs));
  const auto entry = KeyValues(EntryKey());
  TStatusReaction reaction;
  reaction.onStatus = [&](const String& status) {
    if (status == u"Creating shortcuts...") throw EInstallerInstallError(u"injected failure");
  };
  Create(u"/AUTO=\"" + dest + u"\" /SILENT");
  Run(reaction);
  ASSERT_TRUE(setup_->HasErrors());
  EXPECT_EQ(setup_->Errors.Strings(0), u"injected failure");
  // Nothing of the run is left (on Windows the demo's registration program
  // writes its own log beside itself, which is no file of the run).
  auto left = Tree(work_ + u"New\\");
  left.erase(u"Mivo\\Rivadavi.log");
  EXPECT_TRUE(left.empty()) << U8(left.begin()->first);
  EXPECT_EQ(KeyValues(EntryKey()), entry);
  EXPECT_EQ(Tree(IncludeTrailingBackslash(desktop)), desktopBefore);
  EXPECT_EQ(Tree(IncludeTrailingBackslash(programs)), programsBefore);
  EXPECT_FALSE(platform::DirectoryExists(IncludeTrailingBackslash(programs) + u"Mivo"));
  EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
}

// The package is decoded while its files are written: a byte that comes out
// wrong (a fault of the decoder or of memory, after the package passed its
// digest) is found by the checksum after the last file, and the run is
// undone, whether it was a fresh installation or an update.
TEST_F(RollbackTest, APackageFoundDamagedAfterItsFilesWereWrittenIsUndone) {
  for (const bool update : {false, true}) {
    SCOPED_TRACE(update ? "update" : "fresh");
    String dest = work_ + u"Fresh\\";
    if (update) {
      OldInstallationAnew();
      dest = work_;
    }
    const auto files = Tree(work_);
    const auto entry = KeyValues(EntryKey());
    SetSetupPackageDecodeFaultForTesting(10);
    TStatusReaction reaction;
    Create(u"/AUTO=\"" + dest + u"\" /SILENT /NOBACKUP");
    ASSERT_NE(setup_->Resources().StreamedProduct(), nullptr);
    Run(reaction);
    SetSetupPackageDecodeFaultForTesting(-1);
    ASSERT_TRUE(setup_->HasErrors());
    EXPECT_EQ(setup_->Errors.Strings(0), u"Package was corrupted");
    EXPECT_EQ(reaction.statuses.back(), u"Restoring the previous installation...");
    EXPECT_EQ(Tree(work_), files);
    EXPECT_EQ(KeyValues(EntryKey()), entry);
    EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  }
}

TEST_F(RollbackTest, ASuccessfulUpdateKeepsThePlayersSettingsAndLeavesNoJournal) {
  OldInstallation();
  TStatusReaction reaction;
  Install(reaction);
  ASSERT_FALSE(setup_->HasErrors()) << U8(setup_->Errors.Strings(0));
  TVelIniFile config;
  config.LoadFromFile(work_ + u"Mivo.ini");
  EXPECT_EQ(config.ReadInteger(u"Player", u"Volume", 0), 42);
  EXPECT_EQ(config.ReadInteger(u"System", u"Version", 0), setup_->ProductInfo().GetProductVersionId());
  EXPECT_EQ(ReadFileText(work_ + u"Readme.txt").rfind("old", 0), std::string::npos);
  EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  for (const String& status : reaction.statuses)
    EXPECT_NE(status, u"Restoring the previous installation...");
}

// The archive of the installation being replaced counts first among the
// three that stay, whatever its name sorts as; the two newest others stay.
TEST_F(RollbackTest, TheNewArchiveIsNeverAmongTheOldBackupsRemoved) {
  OldInstallation();
  for (const char16_t* v : {u"5.00 [2019", u"5.10 [2020", u"9.20 [2021", u"9.30 [2022"})
    Put(work_ + u"!Backup\\z Before install " + v + u".01.01 10-00-00].zip", "old");
  TStatusReaction reaction;
  Create(u"/AUTO=\"" + work_ + u"\" /SILENT");
  setup_->StartInstall(true);
  ASSERT_FALSE(setup_->HasErrors()) << U8(setup_->Errors.Strings(0));
  std::vector<platform::TFolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(work_ + u"!Backup\\", entries));
  std::vector<String> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0].rfind(u"z Before install 5.50 [", 0), 0u);
  EXPECT_EQ(names[1], u"z Before install 9.20 [2021.01.01 10-00-00].zip");
  EXPECT_EQ(names[2], u"z Before install 9.30 [2022.01.01 10-00-00].zip");
}

TEST_F(RollbackTest, ARunKilledHalfWayIsUndoneAtTheNextStart) {
  OldInstallation();
  const auto files = Tree(work_);
  const auto entry = KeyValues(EntryKey());
  Put(work_ + u"Mine.txt", "a person's");
  {
    // What the steps of an update do, then the process ends without a word.
    TSetupJournal journal(journalFolder_);
    journal.Begin();
    journal.RemoveFiles({work_ + u"Mivo.exe", work_ + u"Skins\\Light.ini"}, {work_, work_});
    journal.RemoveEmptyFolder(work_ + u"Skins\\", work_);
    journal.WillWrite({work_ + u"Mivo.exe", work_ + u"New\\Deep\\n.dll", work_ + u"Readme.txt"});
    Put(work_ + u"Mivo.exe", "new");
    Put(work_ + u"New\\Deep\\n.dll", "new");
    Put(work_ + u"Readme.txt", "new");
    journal.WillRename(work_ + u"Uninstall.dat", work_ + u"Uninstall.old", work_);
    ASSERT_TRUE(platform::MoveFileTo(work_ + u"Uninstall.dat", work_ + u"Uninstall.old"));
    journal.WillChangeKey(platform::RegRoot::LocalMachine, EntryKey(), 0);
    TSetupAppRepo::Delete(u"Mivo");
    journal.RemoveFolder(work_ + u"Plugins\\", work_);
    // Still held: another run is in progress, and the journal is its own.
    EXPECT_FALSE(TSetupJournal::Recover(journalFolder_));
    EXPECT_FALSE(platform::FileExists(work_ + u"Uninstall.dat"));
  }
  // The next start, before it looks at what is installed.
  Create(u"/AUTO=\"" + work_ + u"\" /SILENT");
  auto expected = files;
  expected[u"Mine.txt"] = "a person's";
  EXPECT_EQ(Tree(work_), expected);
  EXPECT_FALSE(platform::DirectoryExists(work_ + u"New"));
  EXPECT_EQ(KeyValues(EntryKey()), entry);
  EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  bool said = false;
  for (const String& line : setup_->RecoveryLog())
    said |= line.find(u"An earlier run was interrupted") != String::npos;
  EXPECT_TRUE(said);
  // It was read after the undoing: the old version is what is installed.
  EXPECT_EQ(setup_->ProductInfo().GetInstalledVersion(), 5300);
}

TEST_F(RollbackTest, ACommittedRunIsOnlyCleanedUp) {
  OldInstallation();
  TSetupJournal journal(journalFolder_);
  journal.Begin();
  journal.RemoveFile(work_ + u"Readme.txt", work_);
  EXPECT_EQ(journal.OldContentOf(work_ + u"Readme.txt").rfind(journalFolder_, 0), 0u);
  journal.Commit();
  EXPECT_FALSE(platform::FileExists(work_ + u"Readme.txt"));
  EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  EXPECT_FALSE(TSetupJournal::Recover(journalFolder_));
}

#ifndef _WIN32
// An uninstallation that fails or is cancelled half-way leaves the
// installation complete and listed.
TEST_F(RollbackTest, AFailedOrCancelledUninstallationLeavesTheInstallation) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "failed");
    OldInstallationAnew();
    Put(work_ + u"!Backup\\z Before install 5.30 [2024.01.01 10-00-00].zip", "archive");
    const auto files = Tree(work_);
    const auto entry = KeyValues(EntryKey());
    std::string text = "[Common]\r\nRemoveBackups=1\r\nRemoveContent=1\r\n\r\n[Uninstall]\r\n";
    const char* entries[] = {"Mivo.exe", "Readme.txt", "Skins\\Light.ini", "Plugins\\Old.dll",
                             "Uninstall.dat", "Uninstall.exe"};
    int n = 0;
    for (const char* e : entries) text += std::to_string(n++) + "=" + e + "\r\n";
    text += "Count=" + std::to_string(n) + "\r\n";
    UseProductPackage(PackFolder("", {{u"Uninstall.ini", text}}), false);
    Create(u"/AUTO /SILENT");
    ASSERT_EQ(setup_->RunKind(), TSetupRunKind::Uninstall);
    setup_->SetDestPath(work_);

    // The first step (the integration) is done when the status of the
    // second shows: the failure or the cancel comes in the middle.
    TStatusReaction reaction;
    int removing = 0;
    reaction.onStatus = [&](const String& status) {
      if (status.rfind(u"Removing", 0) != 0 || ++removing != 2) return;
      if (cancel)
        setup_->Thread()->Terminate();
      else
        throw EInstallerInstallError(u"injected failure");
    };
    Run(reaction);

    ASSERT_TRUE(setup_->HasErrors());
    EXPECT_EQ(setup_->Cancelled(), cancel);
    EXPECT_EQ(reaction.statuses.back(), u"Restoring the previous installation...");
    EXPECT_EQ(Tree(work_), files);
    EXPECT_EQ(KeyValues(EntryKey()), entry);
    EXPECT_FALSE(platform::DirectoryExists(journalFolder_));
  }
}
#endif

// The journal's lines: what is written is read back the same, whatever the
// paths and values hold; a line cut short by a kill is ignored, anything
// else that is no record stops the reading with the records before it.
TEST(JournalTextTest, RecordsRoundTripAndDamageIsFound) {
  TJournalRecord key;
  key.Kind = TJournalRecord::TKind::Key;
  key.Path = u"Software\\Tab\there %41 \u00E9\u4E2D\r\n";
  key.Root = 2;
  key.View = 0x100;
  key.Existed = true;
  key.Values = {{u"DisplayName", 1, {'M', 0, 0, 0}}, {u"", 3, {}}, {u"%\t", 4, {1, 2, 3, 4}}};
  TJournalRecord moved;
  moved.Kind = TJournalRecord::TKind::Moved;
  moved.Path = u"C:\\A\\b.txt";
  moved.Other = u"C:\\ProgramData\\Mivo Setup\\Undo\\00000001";
  moved.Base = u"C:\\A\\";
  const std::string text =
      "Setup journal 1\n" + FormatJournalRecord(key) + FormatJournalRecord(moved);
  std::vector<TJournalRecord> records;
  ASSERT_TRUE(ParseJournal(text, records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Path, key.Path);
  EXPECT_EQ(records[0].View, 0x100u);
  ASSERT_EQ(records[0].Values.size(), 3u);
  EXPECT_EQ(records[0].Values[2].Name, u"%\t");
  EXPECT_EQ(records[0].Values[2].Data, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(records[1].Other, moved.Other);
  EXPECT_EQ(records[1].Base, moved.Base);

  const struct {
    std::string text;
    bool whole;
    size_t records;
  } cases[] = {
      {text.substr(0, text.size() - 5), true, 1},  // cut short
      {"", true, 0},
      {"Something else\n" + FormatJournalRecord(moved), false, 0},
      {"Setup journal 1\nmoved\tC:\\x\n" + FormatJournalRecord(moved), false, 0},
      {"Setup journal 1\n" + FormatJournalRecord(moved) + "flown\t\t\t\t0\t0\t0\t0\n", false, 1},
      {"Setup journal 1\nkey\tK\t\t\t2\t0\t1\t9\tn\t1\t00\n", false, 0},  // more values than fields
      {"Setup journal 1\nkey\tK\t\t\t2\t0\t1\t1\tn\t1\t0G\n", false, 0},   // not hex
      {"Setup journal 1\nmoved\t%4\t\t\t0\t0\t0\t0\n", false, 0},          // broken escape
      {"Setup journal 1\nmoved\tx\t\t\t99999999999\t0\t0\t0\n", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseJournal(c.text, records), c.whole);
    EXPECT_EQ(records.size(), c.records);
  }
}

}  // namespace
}  // namespace product_test
