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
  // The folder lies inside base (both with or without trailing backslash)
  // and no folder on the way from base down to it, itself included, is a
  // link. With an empty base only the folder itself is looked at. A user's
  // data folder that fails this is not that user's to touch.
  static bool StaysInside(const String& folder, const String& base);
};

class TSetupProfileInfo {
 public:
  String UserName;
  String DataFolder;     // for the version being installed
  String OldDataFolder;  // for the installed version
  // Where the way down to both data folders starts: the user's profile
  // folder (the portable user's: the destination). The user cannot rename
  // it, but may change everything below it at any moment, so the data
  // folders are only ever reached from here without following a link.
  String BaseFolder;
};

// The users whose data folder of the installed version exists, in the order
// they were reported; a folder reported again is left out. A user's folders
// come from the user's own registry hive, which the user can point anywhere:
// a user whose data folders do not lie inside the user's own profile folder,
// or lead through a junction or symbolic link below it, is left out, so that
// nothing of another user or of the system is ever backed up or deleted as
// this user's data.
class TSetupProfileInfoList {
 public:
  // Portable: the one user "SingleUser" with the folder in the destination;
  // otherwise every user of the machine (TSetupUsers).
  void Populate();
  int Count() const { return static_cast<int>(items_.size()); }
  const TSetupProfileInfo& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }

 private:
  // profile: the user's profile folder; empty for the portable user.
  void Report(const String& userName, const String& appData, const String& profile);

  std::vector<std::unique_ptr<TSetupProfileInfo>> items_;
};
