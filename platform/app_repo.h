// The product's entry in the Windows list of installed programs: the
// "Uninstall" key below HKEY_LOCAL_MACHINE, in the native and the 32-bit view.
#pragma once

#include "lib/strings.h"

class TSetupAppRepo {
 public:
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
  // Replaces the entry (native view) with the ten values of an installation.
  // Failures leave the registry as it is; nothing raises.
  static void Write(const String& displayName, const String& uninstaller, const String& version,
                    const String& publisher, const String& homePage);
  // Removes the entry from both views, with everything below it.
  static void Delete(const String& displayName);
};
