// The two steps of an uninstallation: undoing the integration with Windows,
// and deleting what the installation recorded, the folders that became empty
// and, on request, the backups and the users' data.
//
// The record "Uninstall.ini" and the destination come from places that a
// user may be able to write (a portable installation's folder, the command
// line), while the uninstaller runs elevated: nothing outside the
// destination is ever deleted on their word. A record entry that leaves the
// destination is skipped, a file is never deleted through a link, folders
// are deleted without following links, and a destination that is a system
// or shell folder (or holds one) is never deleted whole.
#pragma once

#include <map>

#include "core/setup_action.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "product/setup_update_tasks.h"

class TSetupActionUninstallIntegration : public TSetupAction {
 public:
  // The removal of the context-menu extension, of the shortcuts and of the
  // registration (file types and the uninstall entry), in this order.
  TSetupActionUninstallIntegration();
  // Runs the tasks in order without a delete list; the progress follows them.
  void Execute() override;

  TSetupUpdateTaskList Tasks;
};

class TSetupActionUninstallFiles : public TSetupAction {
 public:
  // Marks of the folder list's entries (TVelStringList objects).
  static void* const kIfEmpty;  // removed only when empty
  static void* const kWhole;    // deleted with everything in it

  // Deletes the recorded files, then the folders of CreateDirsList; the
  // progress counts both.
  void Execute() override;

  // The recorded files: destination + each entry of section "Uninstall" of
  // "Uninstall.ini", entries 0 to "Count" - 1 (a missing key gives the
  // destination itself, which names no file), duplicates left out (any
  // letter case). Entries that are not safe (IsSafeRecordEntry) and files
  // whose way from the destination goes through a link are left out. Then
  // the product's files directly in the destination that the last
  // CreateDirsList chose to delete (see PrepareContent).
  TVelStringList CreateFileList();
  // Every folder below the destination, subfolders before their folder, in
  // listing order within a folder, marked kIfEmpty (links are not entered and
  // not listed); then, with "RemoveBackups", "!Backup\" marked kWhole; then,
  // with "RemoveContent", the users' data (PrepareContent).
  TVelStringList CreateDirsList();

  // A record entry that stays inside the destination once the destination
  // is put in front: relative, without drive, stream or network prefix, and
  // without a component made of dots (and spaces) only, such as "..".
  static bool IsSafeRecordEntry(StringView entry);

 private:
  // With "RemoveBackups" the destination itself (unless it is protected);
  // when a person's own files or folders are in it too (anything that
  // neither the record nor the product's tables name), only the product's
  // folders there, and its files there go to the file list; without
  // "RemoveBackups" its "Profile\". With the per-user test ("UserMode" of
  // the destination's "Mivo.ini") every user's data folder. Folders marked
  // kWhole.
  void PrepareContent(TVelStringList& dirs);
  bool ReadCommon(StringView key) const;
  // Where the way down to a folder of the last CreateDirsList starts: the
  // user's profile folder for a user's data folder, else the destination.
  String BaseFolderOf(const String& folder) const;

  TVelStringList contentFiles_;
  std::map<String, String> bases_;  // upper-case folder -> its user's profile folder
};
