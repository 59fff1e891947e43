// Update tasks: small clean-up and migration jobs that adapt what an older
// version of the player left on the machine. The preparation step runs them
// with its delete list (the files it deletes at its end): a task may add
// files to it or take entries off it. The uninstallation runs the removal
// tasks without a list.
#pragma once

#include <memory>
#include <vector>

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "lib/strings.h"

class TSetupProfileInfo;

class TSetupUpdateTask : public TSetupPersistent {
 public:
  // deleteList may be null (uninstallation).
  virtual void Execute(TVelStringList* deleteList) = 0;
};

using TSetupUpdateTaskList = std::vector<std::unique_ptr<TSetupUpdateTask>>;

// Unregisters and deletes the old Explorer context-menu extensions
// "System\mivo_menu32.dll" and "System\mivo_menu64.dll" of the destination.
// A library is loaded for its unregistration only from a destination inside
// a program-files folder (elsewhere anybody may have put it there); it is
// deleted in any case.
class TSetupUpdateTaskRemoveShellMenu : public TSetupUpdateTask {
 public:
  void Execute(TVelStringList* deleteList) override;
};

// Runs "Rivadavi.exe /REG=U" of the destination and waits for it (failures
// ignored), then deletes the product's uninstall registry entry.
class TSetupUpdateTaskRemoveFromRegistry : public TSetupUpdateTask {
 public:
  void Execute(TVelStringList* deleteList) override;
};

// Deletes the uninstall entries "Mivo3" and "Mivo" that lead into the
// destination; entries of installations elsewhere stay.
class TSetupUpdateTaskRemoveUninstallInfo : public TSetupUpdateTask {
 public:
  void Execute(TVelStringList* deleteList) override;
};

// Deletes the desktop shortcuts "Mivo.lnk" (and, from a version below 4.00,
// "Mivo3.lnk") of the running user and of all users, and the start-menu
// folders of those names.
class TSetupUpdateTaskRemoveShortcuts : public TSetupUpdateTask {
 public:
  void Execute(TVelStringList* deleteList) override;

 private:
  // The product's Start menu folder: the shortcuts in it (.lnk and .url,
  // also in its subfolders), then each folder that is empty then; a link in
  // its place is removed as a link, one inside it is left alone.
  void RemoveShortcutFolder(const String& folder, const String& name);
};

// Moves one user's data into the current data folder and migrates old file
// names, by the installed version.
class TSetupUpdateTaskUpdateConfigs : public TSetupUpdateTask {
 public:
  // The profile is not owned; it outlives the task.
  explicit TSetupUpdateTaskUpdateConfigs(const TSetupProfileInfo& profile) : Profile(profile) {}
  void Execute(TVelStringList* deleteList) override;

  const TSetupProfileInfo& Profile;

  // The two files of the discontinued default skin that the migration from a
  // version below 4.50 deletes, in the destination's "Skins\".
  static constexpr const char16_t* kOldSkinFiles[] = {u"Classic.ini", u"ClassicMini.ini"};

 protected:
  void MigrateFrom3(TVelStringList& deleteList);
  void RemoveOldSkins(TVelStringList& deleteList);
  void RemoveAlbumArts(TVelStringList& deleteList);
  void MigrateAlbumArtCache(TVelStringList& deleteList);
  void RemoveOldCodecData(TVelStringList& deleteList);

  // Appends path when it names an existing file.
  static void AddIfExists(TVelStringList& deleteList, const String& path);
  // Renames folder + oldName to folder + newName (no replacing) when it
  // exists as a file; a failed rename raises the system's error. The folder
  // is reached from base (when given) without following a link, and the
  // file renamed through its own handle: nothing is renamed when a link is
  // in the way.
  static void RenameIfExists(const String& folder, const String& oldName, const String& newName,
                             const String& base = {});
  // Appends every file below folder, recursively, when the folder exists.
  static void DoDeleteDir(TVelStringList& deleteList, const String& folder);
};
