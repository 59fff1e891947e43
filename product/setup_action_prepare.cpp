#include "product/setup_action_prepare.h"

#include <cstdio>
#include <map>
#include <set>

#include "core/setup.h"
#include "core/setup_summary.h"
#include "lib/local_time.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "product/setup_action_extract.h"
#include "product/setup_backup_archive.h"
#include "product/setup_classes.h"
#include "resources/installer_errors.h"
#include "resources/setup_script.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionPrepare", ActionClass<TSetupActionPrepare>());

const char16_t kPageSetup[] = u"PageSetup";

bool IsOption(TSetupOption option) {
  return Setup->IsOptionSet(option);
}

int32_t InstalledVersion() {
  return Setup->ProductInfo().GetInstalledVersion();
}

// Removes duplicates (any letter case, in the user's locale); the first
// occurrence stays.
void RemoveDuplicates(TVelStringList& list) {
  std::set<String> seen;
  TVelStringList unique;
  for (int i = 0; i < list.Count(); ++i)
    if (seen.insert(VelSystem().UpperCase(list.Strings(i))).second) unique.Add(list.Strings(i));
  list = unique;
}

}  // namespace

String TSetupActionPrepare::BackupFolder() {
  return Setup->GetDestPath() + kBackupFolder;
}

String TSetupActionPrepare::BackupArchiveName(const std::tm& local) const {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d-%02d-%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return BackupFolder() + u"z Before install " + ProductInfo().GetProductVersion() + u" [" +
         Utf8ToUtf16(stamp) + u"].zip";
}

void TSetupActionPrepare::Execute() {
  Counter = 0;
  TVelStringList deleteList;
  Content = std::make_unique<TSetupDestContent>(TSetupDestContent::OfDestination());
  Profiles.Populate();
  CreateTasks();
  Backup(deleteList);
  // Everything from here on changes the installation. A run cancelled
  // meanwhile ends here, having changed nothing.
  if (!Resources().WaitForPackages([this] { return terminated_.load(); })) return;
  if (IsOption(TSetupOption::Update)) KeepUserContent(deleteList);
  RemoveOldBackups(deleteList);
  AddObsoleteFiles(deleteList);
  AddTargetFiles(deleteList);
  KeepUninstallRecord(deleteList);
  RemoveDuplicates(deleteList);
  RunTasks(deleteList);
  DeleteFiles(deleteList);
}

void TSetupActionPrepare::AddSummary(TSetupSummaryBuilder& builder) {
  builder.BeginGroup(kPageSetup, u"LB1");
  builder.AddItem(Setup->GetDestPath());
  builder.BeginGroup(kPageSetup, u"Title");
  builder.AddItem(kPageSetup, IsOption(TSetupOption::Update)     ? u"CB1"
                              : IsOption(TSetupOption::Portable) ? u"CB3"
                                                                 : u"CB2");
  if (!IsOption(TSetupOption::NoBackup)) builder.AddItem(kPageSetup, u"CB4");
  if (ProductInfo().OtherCopyWarning()) {
    builder.BeginGroup(kPageSetup, u"Title");
    builder.AddItem(kPageSetup, u"W3");
  }
}

void TSetupActionPrepare::CreateTasks() {
  const bool update = IsOption(TSetupOption::Update);
  if (!IsOption(TSetupOption::Portable) && (!update || InstalledVersion() < 4000)) {
    Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShellMenu>());
    Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveUninstallInfo>());
    Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShortcuts>());
  }
  if (update)
    for (int i = 0; i < Profiles.Count(); ++i)
      Tasks.push_back(std::make_unique<TSetupUpdateTaskUpdateConfigs>(Profiles.Items(i)));
}

void TSetupActionPrepare::Backup(TVelStringList& deleteList) {
  Total = static_cast<int32_t>(Tasks.size());
  // Without a backup an installation's files stay; a folder without one
  // still has what the new version replaces archived, since those files
  // may be a person's own.
  const bool noBackup = IsOption(TSetupOption::NoBackup);
  if (noBackup && Content->HoldsInstallation()) return;
  const std::unique_ptr<TSetupFileList> list = CreateBackupList();
  if (noBackup) {
    const String dest = Setup->GetDestPath();
    list->KeepFiles([&](const String& file) { return StartsTextLocale(file, dest); });
  }
  Total += list->Count();
  for (int i = 0; i < list->Count(); ++i) deleteList.Add(list->Items(i).FileName);
  for (const char16_t* name : kNotBackedUp) list->RemoveByName(name);
  WriteBackupArchive(*list);
}

std::unique_ptr<TSetupFileList> TSetupActionPrepare::CreateBackupList() {
  auto list = std::make_unique<TSetupFileList>();
  const String dest = Setup->GetDestPath(), backup = BackupFolder();
  if (IsOption(TSetupOption::Portable)) {
    list->AddFolder(dest, backup, u"", dest);
  } else {
    for (int i = 0; i < Profiles.Count(); ++i)
      list->AddFolder(Profiles.Items(i).OldDataFolder, backup,
                      u"Profiles\\" + Profiles.Items(i).UserName + u"\\",
                      Profiles.Items(i).BaseFolder);
    list->AddFolder(dest, backup, u"Program\\", dest);
  }
  // A person's own files in the destination are neither archived nor
  // deleted; in a folder without an installation only what the new version
  // replaces is.
  list->KeepFiles([this](const String& file) { return Content->IsProductFile(file); });
  return list;
}

void TSetupActionPrepare::WriteBackupArchive(const TSetupFileList& list) {
  SetStatus(GetCommonText(u"A1"));
  if (list.Count() == 0) return;
  std::vector<uint64_t> sizes;
  sizes.reserve(static_cast<size_t>(list.Count()));
  uint64_t total = 0;
  for (int i = 0; i < list.Count(); ++i) {
    uint64_t size = 0;
    int64_t time = 0;
    if (!platform::FileSizeAndTime(list.Items(i).FileName, size, time)) size = 0;
    sizes.push_back(size);
    total += size;
  }
  if (total >= kBackupLimit) throw EInstallerBackupError(u"Too many files for backup");
  const String folder = BackupFolder();
  bool folderMade = false;
  try {
    // Made while the product package may still be decoded: the archive is
    // held in memory, and nothing is written (not even its folder) before
    // the package is verified. A damaged package leaves everything as it was.
    const String archive = BackupArchiveName(LocalTimeNow());
    newArchive_ = archive;
    TSetupBackupArchive::Write(
        archive, list, sizes,
        [this](int) {
          ++Counter;
          StepProgress();
        },
        &terminated_, [&] {
          if (!Resources().WaitForPackages([this] { return terminated_.load(); }))
            throw EInstallerBackupError(u"Backup cancelled");
          // The backup folder belongs to the installation: a link in its
          // place would send the archive, and the deletion of old archives,
          // elsewhere.
          if (platform::IsLink(folder)) platform::RemoveFolder(ExcludeTrailingBackslash(folder));
          folderMade = !platform::DirectoryExists(folder);
          ForceFolder(folder);
          RunJournal().WillWriteArchive(archive, TSetupBackupArchive::TempName(archive));
          // Users' data is archived there: only administrators may read it.
          if (!platform::SetFolderAccess(folder, platform::TFolderAccess::AdministratorsOnly))
            platform::RaiseLastOSError(folder);
        },
        [this](StringView key) { return GetCommonText(key); });
  } catch (...) {
    if (folderMade) platform::RemoveFolder(ExcludeTrailingBackslash(folder));
    throw;
  }
}

void TSetupActionPrepare::KeepUserContent(TVelStringList& deleteList) {
  const String dest = Setup->GetDestPath();
  if (InstalledVersion() >= 3600) TSetupHelper::RemoveByPrefix(deleteList, dest + u"Plugins\\");
  for (const char16_t* kept :
       {u"Icons\\", u"System\\Data\\", u"System\\Encoders\\", u"Skins\\", u"libwebp.dll"})
    TSetupHelper::RemoveByPrefix(deleteList, dest + kept);
}

void TSetupActionPrepare::RemoveOldBackups(TVelStringList& deleteList) {
  // A "!Backup" of a folder without an installation is not the product's.
  if (!Content->HoldsInstallation()) return;
  const String folder = BackupFolder();
  std::vector<platform::TFolderEntry> entries;
  if (platform::IsLink(folder) || !platform::ListFolder(folder, entries)) return;
  TVelStringList archives;
  archives.SetCaseSensitive(true);
  // The archive of the installation being replaced counts first: it is
  // never among those deleted, whatever its name sorts as.
  const bool made = !newArchive_.empty() && platform::FileExists(newArchive_);
  for (const platform::TFolderEntry& e : entries) {
    if (e.link || (e.attributes & platform::kFileAttributeDirectory)) continue;
    if (made && SameTextLocale(folder + e.name, newArchive_)) continue;
    if (e.name.size() > 4 && SameTextAscii(StringView(e.name).substr(e.name.size() - 4), u".zip"))
      archives.Add(folder + e.name);
  }
  archives.Sort();
  const int kept = made ? kKeptBackups - 1 : kKeptBackups;
  for (int i = 0; i + kept < archives.Count(); ++i) deleteList.Add(archives.Strings(i));
}

void TSetupActionPrepare::AddObsoleteFiles(TVelStringList& deleteList) {
  String system;
  if (platform::SpecialFolder(platform::kCsidlSystem, system)) {
    const String codec = IncludeTrailingBackslash(system) + u"OptimFROG.dll";
    if (platform::FileExists(codec)) deleteList.Add(codec);
  }
  const String plugins = Setup->GetDestPath() + u"Plugins\\";
  const int32_t version = InstalledVersion();
  for (const TDiscontinuedPlugin& plugin : kDiscontinuedPlugins)
    if (plugin.belowVersion == 0 || version < plugin.belowVersion)
      FindFiles(plugins + plugin.folder + u"\\", u"", deleteList);
}

void TSetupActionPrepare::AddTargetFiles(TVelStringList& deleteList) {
  const TSetupScriptGroup& components = Script().Components;
  for (int i = 0; i < components.Count(); ++i)
    deleteList.Add(Resources().ExpandPath(components.Items(i).Name));
}

void TSetupActionPrepare::KeepUninstallRecord(TVelStringList& deleteList) {
  const String dest = Setup->GetDestPath();
  for (const char16_t* name :
       {TSetupActionExtract::kUninstallerName, TSetupActionExtract::kUninstallDataName}) {
    const String path = dest + name;
    for (int i = deleteList.Count() - 1; i >= 0; --i)
      if (SameTextLocale(deleteList.Strings(i), path)) deleteList.Delete(i);
  }
}

void TSetupActionPrepare::RunTasks(TVelStringList& deleteList) {
  SetStatus(GetCommonText(u"A5"));
  for (const auto& task : Tasks) {
    ++Counter;
    task->Execute(&deleteList);
    StepProgress();
  }
}

String TSetupActionPrepare::BaseFolderOf(const String& file) const {
  for (int i = 0; i < Profiles.Count(); ++i) {
    const TSetupProfileInfo& profile = Profiles.Items(i);
    if (StartsTextLocale(file, profile.OldDataFolder) || StartsTextLocale(file, profile.DataFolder))
      return profile.BaseFolder;
  }
  const String dest = Setup->GetDestPath();
  return StartsTextLocale(file, dest) ? dest : String();
}

void TSetupActionPrepare::DeleteFiles(TVelStringList& deleteList) {
  SetStatus(GetCommonText(u"A3"));
  // Files in the destination and in users' data folders are reached from
  // there without following a link: nothing is deleted through a folder
  // that is, or has been swapped for, a link. Others (the system folder's)
  // are deleted by path.
  // They are moved aside, to come back if the run fails.
  std::vector<String> files, bases;
  TVelStringList folders;
  for (int i = 0; i < deleteList.Count(); ++i) {
    files.push_back(deleteList.Strings(i));
    bases.push_back(BaseFolderOf(files.back()));
    folders.Add(ExtractFilePath(files.back()));
  }
  RunJournal().RemoveFiles(files, bases);
  RemoveDuplicates(folders);
  folders.Sort();
  std::vector<String> emptied, emptiedBases;
  for (int i = folders.Count() - 1; i >= 0; --i) {
    emptied.push_back(folders.Strings(i));
    emptiedBases.push_back(BaseFolderOf(folders.Strings(i)));
  }
  RunJournal().RemoveEmptyFolders(emptied, emptiedBases);
}

void TSetupActionPrepare::StepProgress() {
  if (Total <= 0) return;
  // MulDiv: rounded to nearest.
  SetProgress(static_cast<int32_t>((int64_t{Counter} * 100 + Total / 2) / Total));
}
