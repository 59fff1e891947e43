#include "product/setup_update_tasks.h"

#include "core/setup.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/app_repo.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "product/setup_helper.h"
#include "product/setup_profiles.h"

namespace {

int32_t InstalledVersion() {
  return Setup->ProductInfo().GetInstalledVersion();
}

// A special folder with a trailing backslash; the temporary folder when the
// system has none.
String FolderOrTemp(int csidl) {
  String path;
  if (platform::SpecialFolder(csidl, path)) return IncludeTrailingBackslash(path);
  return platform::TempFolder();
}

}  // namespace

void TSetupUpdateTaskRemoveShellMenu::Execute(TVelStringList*) {
  const String dest = Setup->GetDestPath();
  // Loading a library runs its code in this elevated process: only from a
  // folder that only administrators can write to.
  const bool trusted = Setup->IsDestInProgramFiles();
  for (const char16_t* name : {u"System\\mivo_menu32.dll", u"System\\mivo_menu64.dll"}) {
    const String dll = dest + name;
    if (!platform::FileExists(dll)) continue;
    if (trusted && !platform::IsLink(dll)) {
      RunJournal().UndoByRegistering(dll);
      TSetupActiveX::Unregister(dll);
    }
    RunJournal().RemoveFile(dll);
  }
}

void TSetupUpdateTaskRemoveFromRegistry::Execute(TVelStringList*) {
  // Run elevated only from a folder that users cannot have put a program
  // into (a portable installation is the user's own). Quoted, so that a
  // destination with spaces cannot start another program.
  const String dest = Setup->GetDestPath();
  if (TSetupHelper::OnlyAdministratorsCanChange(dest)) {
    // Undone by the program registering again what the installation chose.
    const String again = TSetupHelper::RegistrationCommand(dest);
    if (!again.empty()) RunJournal().UndoByRunning(again, true);
    RunAndWait(u"\"" + dest + u"Rivadavi.exe\" /REG=U");
  } else {
    RunLog(u"Not run (the folder may be changed by users): " + dest + u"Rivadavi.exe /REG=U");
  }
  TSetupHelper::RemoveAppRepoEntry(ProductInfo().GetProductName());
}

void TSetupUpdateTaskRemoveUninstallInfo::Execute(TVelStringList*) {
  const String dest = Setup->GetDestPath();
  for (const char16_t* name : {u"Mivo3", u"Mivo"}) {
    String path;
    if (TSetupAppRepo::Find(name, path) && StartsTextLocale(path, dest))
      TSetupHelper::RemoveAppRepoEntry(name);
  }
}

void TSetupUpdateTaskRemoveShortcuts::Execute(TVelStringList*) {
  std::vector<String> names = {u"Mivo"};
  if (InstalledVersion() < 4000) names.push_back(u"Mivo3");
  for (const String& name : names) {
    RunJournal().RemoveFile(FolderOrTemp(platform::kCsidlDesktopDirectory) + name + u".lnk");
    RunJournal().RemoveFile(FolderOrTemp(platform::kCsidlCommonDesktopDirectory) + name +
                                u".lnk");
    for (int csidl : {platform::kCsidlStartMenu, platform::kCsidlCommonPrograms,
                      platform::kCsidlCommonStartMenu})
      RemoveShortcutFolder(FolderOrTemp(csidl) + name + u"\\", name);
  }
}

void TSetupUpdateTaskRemoveShortcuts::RemoveShortcutFolder(const String& folder,
                                                            const String& name) {
  // A link in the folder's place is removed as a link; nothing is deleted
  // through it.
  if (platform::IsLink(folder)) {
    RunJournal().RemoveFolder(folder);
    return;
  }
  if (!platform::DirectoryExists(folder)) return;
  // The shortcuts in it and in its subfolders (an older generation kept
  // some in a subfolder), and each folder when nothing else is left in it:
  // a user who keeps other files there keeps them. Links are not entered.
  std::vector<platform::TFolderEntry> entries;
  if (!platform::ListFolder(folder, entries)) return;
  for (const platform::TFolderEntry& entry : entries) {
    if (entry.link) continue;
    if (entry.attributes & platform::kFileAttributeDirectory) {
      RemoveShortcutFolder(folder + entry.name + u"\\", name);
    } else {
      const String ext = ExtractFileExt(entry.name);
      if (SameTextAscii(ext, u".lnk") || SameTextAscii(ext, u".url"))
        RunJournal().RemoveFile(folder + entry.name);
    }
  }
  RunJournal().RemoveEmptyFolder(folder);
}

void TSetupUpdateTaskUpdateConfigs::Execute(TVelStringList* deleteList) {
  TVelStringList none;
  TVelStringList& list = deleteList ? *deleteList : none;
  if (!SameTextLocale(IncludeTrailingBackslash(Profile.OldDataFolder),
                     IncludeTrailingBackslash(Profile.DataFolder))) {
    // What the copy writes or replaces is recorded first.
    TVelStringList files;
    FindFiles(IncludeTrailingBackslash(Profile.OldDataFolder), u"", files);
    std::vector<String> targets;
    for (int i = 0; i < files.Count(); ++i)
      targets.push_back(IncludeTrailingBackslash(Profile.DataFolder) +
                        files.Strings(i).substr(IncludeTrailingBackslash(Profile.OldDataFolder).size()));
    RunJournal().WillWrite(targets, Profile.BaseFolder);
  }
  TSetupHelper::CopyFolder(Profile.OldDataFolder, Profile.DataFolder, false, Profile.BaseFolder);
  TSetupHelper::RemoveByPrefix(list, Profile.DataFolder);
  const int32_t version = InstalledVersion();
  if (version < 4000) MigrateFrom3(list);
  if (version < 4500) RemoveOldSkins(list);
  if (version < 4600) RemoveAlbumArts(list);
  if (version < 5020) {
    try {
      MigrateAlbumArtCache(list);
    } catch (const std::exception&) {
      // The cache is rebuilt by the player; a failed migration costs nothing.
    }
  }
  if (version < 5401) RemoveOldCodecData(list);
}

void TSetupUpdateTaskUpdateConfigs::MigrateFrom3(TVelStringList& deleteList) {
  const String dest = Setup->GetDestPath(), data = Profile.DataFolder, base = Profile.BaseFolder;
  RenameIfExists(dest, u"Mivo3.ini", u"Mivo.ini");
  RenameIfExists(data, u"Mivo3-cat.db", u"Mivo-cat.db", base);
  RenameIfExists(data, u"mivo3_menu.ini", u"Mivo-ContextMenu.ini", base);
  RenameIfExists(data, u"Mivo3.ini", u"Mivo.ini", base);
  RenameIfExists(data, u"Mivo3ac.ini", u"Mivoac.ini", base);
  RenameIfExists(data, u"Mivo3ate.ini", u"Mivoate.ini", base);
  for (const char16_t* name : {u"Mivo3-SkinLayout.ini", u"Mivo3.bak", u"Mivo3ac.bak", u"Mivo3ate.bak"})
    AddIfExists(deleteList, data + name);
}

void TSetupUpdateTaskUpdateConfigs::RemoveOldSkins(TVelStringList& deleteList) {
  for (const char16_t* name : kOldSkinFiles)
    AddIfExists(deleteList, Setup->GetDestPath() + u"Skins\\" + name);
}

void TSetupUpdateTaskUpdateConfigs::RemoveAlbumArts(TVelStringList& deleteList) {
  AddIfExists(deleteList, Profile.DataFolder + u"AlbumArts.db");
}

void TSetupUpdateTaskUpdateConfigs::MigrateAlbumArtCache(TVelStringList& deleteList) {
  AddIfExists(deleteList, Profile.DataFolder + u"AlbumArtCache.db");
  RenameIfExists(Profile.DataFolder, u"AlbumArtsForURLs.db", u"AlbumArts.Custom.db",
                 Profile.BaseFolder);
}

void TSetupUpdateTaskUpdateConfigs::RemoveOldCodecData(TVelStringList& deleteList) {
  const String dest = Setup->GetDestPath();
  AddIfExists(deleteList, dest + u"System\\libsoxr.dll");
  DoDeleteDir(deleteList, dest + u"System\\Encoders\\");
  DoDeleteDir(deleteList, dest + u"System\\Data\\");
}

void TSetupUpdateTaskUpdateConfigs::AddIfExists(TVelStringList& deleteList, const String& path) {
  if (platform::FileExists(path)) deleteList.Add(path);
}

void TSetupUpdateTaskUpdateConfigs::RenameIfExists(const String& folder, const String& oldName,
                                                   const String& newName, const String& base) {
  const std::unique_ptr<platform::TFolderHandle> held =
      platform::OpenFolderBelow(base.empty() ? folder : base, folder);
  if (!held || !platform::FileExists(held->Path() + oldName)) return;
  RunJournal().WillRename(held->Path() + oldName, held->Path() + newName, base);
  if (!platform::MoveEntryFrom(*held, oldName, held->Path() + newName))
    platform::RaiseLastOSError(folder + oldName + u" -> " + folder + newName);
}

void TSetupUpdateTaskUpdateConfigs::DoDeleteDir(TVelStringList& deleteList, const String& folder) {
  if (!platform::DirectoryExists(folder)) return;
  TVelStringList files;
  FindFiles(folder, u"", files);
  for (int i = 0; i < files.Count(); ++i) AddIfExists(deleteList, files.Strings(i));
}
