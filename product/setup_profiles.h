// The player's data folder of each user: below the user's roaming
// application-data folder, or "Profile\" in the installation folder for a
// portable installation.
#pragma once

#include <memory>
#include <vector>

#include "lib/strings.h"

class TSetupProfileHelper {
 public:
  TSetupProfileHelper() = delete;

  // appData (with a trailing backslash) + product name (version 4000 and
  // later, else "Mivo3") + "\"; without appData: destination + "Profile\".
  static String GetProfilePath(const String& appData, int32_t version);
  // For the version being installed.
  static String GetDataFolder(const String& appData);
  // For the installed version.
  static String GetOldDataFolder(const String& appData);
};

class TSetupProfileInfo {
 public:
  String UserName;
  String DataFolder;     // for the version being installed
  String OldDataFolder;  // for the installed version
};

// The users whose data folder of the installed version exists, in the order
// they were reported; a folder reported again is left out.
class TSetupProfileInfoList {
 public:
  // Portable: the one user "SingleUser" with the folder in the destination;
  // otherwise every user of the machine (TSetupUsers).
  void Populate();
  int Count() const { return static_cast<int>(items_.size()); }
  const TSetupProfileInfo& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }

 private:
  void Report(const String& userName, const String& appData);

  std::vector<std::unique_ptr<TSetupProfileInfo>> items_;
};
