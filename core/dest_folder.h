// The rules of the destination folder, in one place: how a folder given on
// the command line or typed on the Setup page is resolved, which names
// Windows cannot hold, and which places are never a program's folder. The
// last rule is also the uninstaller's: a folder that may not be the
// destination is never deleted whole.
#pragma once

#include "lib/strings.h"

// The destination folder as one absolute folder: forward slashes taken as
// separators, "." and ".." resolved, a trailing backslash added (an empty
// path stays empty). Touches no disk.
String NormalizeDestPath(StringView path);

// Why the path cannot be the destination folder by its form: a relative or
// device path, a name Windows cannot hold (reserved characters, control
// characters, a leading space, trailing dots or spaces, a device name, too
// long). Empty when it can.
String DestPathProblem(StringView path);

// The places that are never a program's folder.
enum class TDestPlace {
  None = 0,
  Root,         // a drive or network share root
  Windows,      // the Windows folder or a folder inside it
  Shared,       // a program-files folder or the program-data folder itself
  Profile,      // a user's profile folder or the folder of all profiles
  UserFolder,   // a folder the shell keeps for a user: Desktop, Documents, Downloads, ...
  Temp,         // the temporary folder
  HoldsFolder,  // a folder that holds one of the above
};

struct TDestPlaceProblem {
  TDestPlace Place = TDestPlace::None;
  // The folder of the rule (for HoldsFolder the folder it holds), with a
  // trailing backslash; empty for None and Root.
  String Folder;
  explicit operator bool() const { return Place != TDestPlace::None; }
};

// Whether the folder (an absolute path, resolved as NormalizeDestPath does)
// is one of the places above. Letter case, a trailing backslash and "."
// and ".." make no difference.
TDestPlaceProblem DestPlaceProblem(StringView folder);

// The English reason for a place, as it follows "cannot be used: ".
String DestPlaceText(const TDestPlaceProblem& problem);

// Why the path cannot be the destination: its form (DestPathProblem), then
// its place (DestPlaceText of the resolved folder). Empty when it can.
String DestFolderProblem(StringView path);

// Raises EInstallerInstallError "The destination folder "<path>" cannot be
// used: <problem>." when DestFolderProblem names one.
void CheckDestFolder(StringView path);

// A folder that is never deleted whole: every place above.
bool IsProtectedFolder(StringView folder);
