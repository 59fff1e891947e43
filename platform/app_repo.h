// The product's entry in the Windows list of installed programs: the
// "Uninstall" key below HKEY_LOCAL_MACHINE, in the native and the 32-bit view.
#pragma once

#include <cstdint>

#include "lib/strings.h"

class TSetupAppRepo {
 public:
  // The switches of "QuietUninstallString", after the quoted uninstaller.
  static constexpr char16_t kQuietUninstallSwitches[] = u"/AUTO /SILENT /SUPPRESSMSGBOXES";

  TSetupAppRepo() = delete;

  // The "Uninstall" key with a trailing backslash; with `wow64` the path
  // through "Wow6432Node\" (the 32-bit view as a 64-bit program sees it).
  static String GetKeyPath(bool wow64);
  // The display name without its spaces.
  static String MakeKeyName(const String& displayName);
  // True when an entry of that key name leads to an existing folder, which
  // `path` then holds with a trailing backslash. The native view is read
  // first, then the 32-bit view.
  static bool Find(const String& name, String& path);
  // Replaces the entry (native view) with the values of an installation:
  // the ten of the list of programs, then "QuietUninstallString" (the
  // quoted uninstaller with kQuietUninstallSwitches), "InstallLocation"
  // (the uninstaller's folder, as "InstallPath"), "EstimatedSize" (KiB, a
  // DWORD) and, when the version starts with a number, "VersionMajor" and
  // "VersionMinor" (the numbers before and after its first point). Failures
  // leave the registry as it is; nothing raises.
  static void Write(const String& displayName, const String& uninstaller, const String& version,
                    const String& publisher, const String& homePage,
                    uint32_t estimatedSizeKiB = 0);
  // The version's leading number and the number after its first point
  // ("5.50.1": 5 and 50; "7": 7 and 0); false when it starts with no digit.
  static bool VersionParts(StringView version, uint32_t& major, uint32_t& minor);
  // Removes the entry from both views, with everything below it.
  static void Delete(const String& displayName);
};
