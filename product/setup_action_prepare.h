// The step that turns the destination into a clean starting point before the
// new files arrive: it backs up the old installation and the users' data
// into a ZIP archive in "!Backup\", runs the update tasks, and deletes the
// old files. Everything that was backed up is deleted, except what an update
// keeps; plus the files of discontinued plug-ins, surplus old backups and
// every file the new version is about to install. Without a backup the old
// installation's own files are left alone.
#pragma once

#include <atomic>
#include <ctime>
#include <memory>

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "product/setup_dest_content.h"
#include "product/setup_helper.h"
#include "product/setup_profiles.h"
#include "product/setup_update_tasks.h"

class TSetupActionPrepare : public TSetupAction {
 public:
  static constexpr char16_t kBackupFolder[] = u"!Backup\\";
  // How many archives stay in the backup folder.
  static constexpr int kKeptBackups = 3;
  // The backed-up files may not reach this size together.
  static constexpr uint64_t kBackupLimit = uint64_t{1} << 31;
  // Files deleted without being backed up: caches and the updater.
  static constexpr const char16_t* kNotBackedUp[] = {u"AlbumArts.cache", u"AlbumArts.db",
                                                     u"AlbumArtsCache.db", u"AlbumArtCache.db",
                                                     u"UpdateInstaller.exe"};
  // Folders of discontinued plug-ins below "Plugins\", with the installed
  // version below which each is removed (0: always).
  struct TDiscontinuedPlugin {
    const char16_t* folder;
    int32_t belowVersion;
  };
  static constexpr TDiscontinuedPlugin kDiscontinuedPlugins[] = {
      {u"SpectrumBars", 4002}, {u"DiscRipper", 4002},     {u"LyricsPanel", 4002},
      {u"TrayControl", 4002},  {u"PeakMeter", 4002},      {u"WebRadio", 4699},
      {u"TagEditor", 5030},    {u"UpdateChecker", 0},     {u"MiniBrowser", 0},
      {u"CodecPack", 0}};

  void Execute() override;
  // The destination, the kind of installation, the backup, and the warning
  // that another copy is left alone.
  void AddSummary(TSetupSummaryBuilder& builder) override;
  void Terminate() override { terminated_ = true; }
  // The backup is written while the package is decoded; the archive takes
  // its name, and anything else changes, only once the package is verified.
  bool RunsBeforePackagesVerified() const override { return true; }

  // destination + "!Backup\".
  static String BackupFolder();
  // The archive's full name for that local time:
  // "z Before install <version> [yyyy.MM.dd hh-mm-ss].zip" in the backup folder.
  String BackupArchiveName(const std::tm& local) const;

 protected:
  void CreateTasks();
  void Backup(TVelStringList& deleteList);
  std::unique_ptr<TSetupFileList> CreateBackupList();
  void WriteBackupArchive(const TSetupFileList& list);
  void KeepUserContent(TVelStringList& deleteList);
  void RemoveOldBackups(TVelStringList& deleteList);
  void AddObsoleteFiles(TVelStringList& deleteList);
  void AddTargetFiles(TVelStringList& deleteList);
  // The uninstaller and its record stay until the extraction replaces each
  // in one step, so that a run that is killed in between leaves the
  // registry entry naming a working uninstaller (they are in the archive).
  void KeepUninstallRecord(TVelStringList& deleteList);
  void RunTasks(TVelStringList& deleteList);
  void DeleteFiles(TVelStringList& deleteList);
  // Where the way down to a file or folder to delete starts: a user's
  // profile folder for that user's data, the destination for its own files,
  // none (the path as it is) elsewhere.
  String BaseFolderOf(const String& path) const;
  void StepProgress();

  // What of the destination is the product's (made when the step starts).
  std::unique_ptr<TSetupDestContent> Content;
  TSetupProfileInfoList Profiles;
  int32_t Counter = 0;
  TSetupUpdateTaskList Tasks;
  int32_t Total = 0;

 private:
  std::atomic<bool> terminated_{false};
  String newArchive_;  // the archive of this run, once named
};
