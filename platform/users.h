// The users of the machine, each with the roaming application-data folder.
#pragma once

#include <functional>

#include "lib/strings.h"

class TSetupUsers {
 public:
  TSetupUsers() = delete;

  using TReport = std::function<void(const String& userName, const String& appDataFolder)>;

  // Reports the user running the program first (application-data folder
  // with a trailing backslash), then every user of the profile list whose
  // profile folder exists and whose "AppData" shell folder can be read, with
  // "%USERPROFILE%" replaced by the profile folder and nothing else changed.
  // The running user is usually reported a second time from the list.
  static void Populate(const TReport& report);

  // The same users, each with the profile folder (no trailing backslash)
  // that the application-data folder was derived from.
  using TProfileReport = std::function<void(const String& userName, const String& appDataFolder,
                                            const String& profileFolder)>;
  static void PopulateProfiles(const TProfileReport& report);
};
