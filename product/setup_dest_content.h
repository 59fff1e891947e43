// What of the destination folder belongs to the product and what is a
// person's own. A folder that holds no installation of the product keeps
// every file in it but those the new version replaces; in a folder that
// holds one, the files and folders that neither the installation's record,
// nor the new version, nor the product's own tables name are a person's and
// are never backed up, deleted or deleted with their folder.
#pragma once

#include <set>
#include <vector>

#include "lib/strings.h"

class TSetupDestContent {
 public:
  // dest: the destination with a trailing backslash; record: the entries of
  // the installation's uninstall record (relative to dest); targets: the
  // full paths of the files the new version installs; holdsInstallation:
  // whether the folder holds an installation of the product.
  TSetupDestContent(String dest, const std::vector<String>& record,
                    const std::vector<String>& targets, bool holdsInstallation);

  // The controller's destination: its record (from "Uninstall.dat" there),
  // the targets of the script's components, and whether it holds an
  // installation: an uninstall record or uninstaller there, the product's
  // configuration, an uninstall registry entry naming it, or any file the
  // product's tables know (its program, the files and plug-in folders that
  // updates remove or keep).
  static TSetupDestContent OfDestination();
  // The uninstaller's: the record it runs with, no targets, an installation.
  static TSetupDestContent OfRecord(const std::vector<String>& record);

  bool HoldsInstallation() const { return holds_; }
  // Whether the file (a full path) may be backed up and deleted as the
  // product's: below the destination, one the new version replaces, or,
  // in a folder that holds an installation, one below a folder of the
  // product or a file of the product directly in the destination. Files
  // outside the destination (users' data folders) are not judged here.
  bool IsProductFile(const String& path) const;
  // Whether an entry directly in the destination (a file name, or a folder
  // name) is the product's; so are the leftovers of replacing a file of the
  // product ("<file>.<anything>", "~del*.tmp").
  bool IsProductEntry(StringView name, bool folder) const;

 private:
  String dest_;
  bool holds_;
  std::set<String> targets_;      // upper case, full paths
  std::set<String> rootFiles_;    // upper case
  std::set<String> folders_;      // upper case, top-level folder names
};
