// Small building blocks of the preparation and uninstallation steps: the
// list of files of a backup with their names inside the archive, and folder
// routines (copy, deletion, list filtering by path prefix).
//
// Every walk of a folder tree here stays inside the tree: a junction or
// symbolic link is never entered, and deleting a tree removes such a link
// itself, never what it points to. The trees may be users' own folders,
// which their owners can change while the elevated installer works on them:
// so the walks go through held folders and never act by path, and a folder
// swapped for a link since it was listed is not gone into either (see
// platform::OpenFolderBelow). Where a routine takes a base, the way down
// from the base is checked too; without one, from the tree's parent.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "lib/string_list.h"
#include "lib/strings.h"

class TSetupFileListItem {
 public:
  String ArchiveName;  // the name inside the archive, backslashes as separators
  String FileName;     // full path on disk
  // Where the way down to the file starts: it is read from there without
  // following a link. Empty: from the file's own folder.
  String BaseFolder;
};

// The files of a backup, in insertion order.
class TSetupFileList {
 public:
  void AddFile(const String& fileName, const String& archiveName, const String& baseFolder = {});
  // Every file below folder (trailing backslash), recursively (FindFiles),
  // except those whose path begins with excludedPrefix (any letter case); the
  // archive name is archivePrefix + the path relative to folder. The files
  // are read from baseFolder down (empty: from folder down).
  void AddFolder(const String& folder, const String& excludedPrefix, const String& archivePrefix,
                 const String& baseFolder = {});
  // Removes every item whose file name (last component) is fileName, in any
  // letter case.
  void RemoveByName(const String& fileName);
  // Keeps only the items whose full path the predicate keeps.
  void KeepFiles(const std::function<bool(const String& fileName)>& kept);

  int Count() const { return static_cast<int>(items_.size()); }
  const TSetupFileListItem& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }

 private:
  std::vector<std::unique_ptr<TSetupFileListItem>> items_;
};

class TSetupHelper {
 public:
  TSetupHelper() = delete;

  // Whether nobody but the administrators and the system can have put
  // anything into the folder (with a trailing backslash): it lies below a
  // program-files folder, or it may be changed by those two only (as the
  // installer makes a destination elsewhere). Programs found there may be
  // run elevated.
  static bool OnlyAdministratorsCanChange(const String& folder);
  // The registration program of the installation in dest with the choices
  // that its configuration records (quoted program, switches); empty when
  // it chose nothing.
  static String RegistrationCommand(const String& dest);
  // Removes the product's entry from the list of programs, its values
  // recorded first in the run's journal.
  static void RemoveAppRepoEntry(const String& displayName);
  // Records the entry's values in the run's journal before it changes.
  static void RecordAppRepoEntry(const String& displayName);

  // Copies every file below source to the same place below target, creating
  // folders and replacing files (read-only ones too); nothing happens when
  // the two are the same folder (any letter case). Links below source are
  // not followed; a link in the way below target is replaced by a real
  // folder or file, so nothing is ever written through it. The first failure
  // raises EInstallerInstallError "Cannot copy "<source>" to "<target>"".
  // With deleteSource the source folder is deleted afterwards (DeletePath).
  // Both folders are reached from base (when given) without following a
  // link, folders missing on the way to the target made; a source file
  // swapped for a link is not copied, and one that has other names (a hard
  // link) stops the copy.
  static void CopyFolder(const String& source, const String& target, bool deleteSource,
                         const String& base = {});
  // Removes, from the last entry to the first, every entry that begins with
  // prefix (any letter case).
  static void RemoveByPrefix(TVelStringList& list, const String& prefix);
  // With onlyIfEmpty removes the folder when it is empty; otherwise deletes
  // it with every file and folder below it, as far as possible (read-only
  // files too), without error. A link (the folder itself or anything below
  // it) is removed as a link; what it points to is left alone.
  // The folder is reached from base (when given) without following a link;
  // when it cannot be, nothing is deleted.
  static void DeletePath(const String& folder, bool onlyIfEmpty, const String& base = {});
};
