// The installation step that writes the product's files into the destination
// folder and leaves behind what the uninstaller needs: a copy of the running
// program as "Uninstall.exe", the uninstall record "Uninstall.ini" packed
// into "Uninstall.dat", and (unless the installation is portable) the
// uninstall registry entry.
#pragma once

#include <memory>
#include <vector>

#include "core/setup_action.h"
#include "lib/ini_file.h"
#include "lib/strings.h"
#include "resources/setup_script.h"

// Entries of the script, not owned.
using TSetupScriptFileList = std::vector<const TSetupScriptFile*>;

class TSetupActionExtract : public TSetupAction {
 public:
  // The uninstaller and its data package, directly in the destination.
  static constexpr char16_t kUninstallerName[] = u"Uninstall.exe";
  static constexpr char16_t kUninstallDataName[] = u"Uninstall.dat";
  // The record inside the data package, and its section.
  static constexpr char16_t kRecordName[] = u"Uninstall.ini";
  static constexpr char16_t kRecordSection[] = u"Uninstall";
  static constexpr int kRecordPackageLevel = 4;

  // Status "A4"; every file of the chosen language family, the progress set
  // to (i + 1) * 100 / count before file i; status "A7"; the record.
  void Execute() override;

  // The entries of the script group "Components", in order, whose language
  // family is empty or that of the chosen language (any letter case).
  std::unique_ptr<TSetupScriptFileList> CollectFiles();
  // Copies the running program to dest + "Uninstall.exe", writes the record
  // (the settings store without a section "Uninstall", then the files, the
  // data package and the uninstaller) into dest + "Uninstall.dat", and the
  // registry entry unless the run is portable.
  void WriteUninstallRecord(const String& destPath, const TSetupScriptFileList& files);
  // A destination that does not exist yet is made; outside a program-files
  // folder (and unless portable, which is the user's own) with the access
  // list of one: only administrators and the system may change it.
  void MakeDestination();
  // Appends the full path (expanded already, never again: a "$" in the
  // destination is a name) to section "Uninstall" as key n (n = "Count",
  // 0 when absent) and then sets "Count" to n + 1. A path below the
  // destination (compared without regard to case) loses that prefix.
  void AddRecordEntry(TVelIniFile& record, const String& path);
  // Packs the record (UTF-16LE with byte-order mark) as "Uninstall.ini" into
  // a new package at LZMA level 4 with the system's key, which replaces the
  // file at packagePath only once it is complete.
  void SaveRecordPackage(const TVelIniFile& record, const String& packagePath);
};
