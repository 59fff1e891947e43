#include "core/dest_folder.h"

#include <vector>

#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

constexpr size_t kMaxFolderName = 255;

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, also with an extension ("nul.txt")
// or trailing spaces before it: Windows opens the device instead.
bool IsDeviceName(StringView name) {
  size_t end = name.find(u'.');
  if (end == StringView::npos) end = name.size();
  while (end > 0 && name[end - 1] == u' ') --end;
  const StringView base = name.substr(0, end);
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (SameTextAscii(base, device)) return true;
  if (base.size() == 4 && base[3] >= u'1' && base[3] <= u'9')
    return SameTextAscii(base.substr(0, 3), u"COM") || SameTextAscii(base.substr(0, 3), u"LPT");
  return false;
}

// Why one folder name cannot be used; empty when it can.
String FolderNameProblem(StringView name) {
  if (name == u"." || name == u"..") return {};
  for (char16_t c : name)
    if (c < 32 || StringView(u"<>:\"|?*").find(c) != StringView::npos)
      return u"a folder name cannot contain control characters or any of < > : \" | ? *";
  if (name.front() == u' ') return u"a folder name cannot begin with a space";
  if (name.back() == u' ' || name.back() == u'.')
    return u"a folder name cannot end with a dot or a space";
  if (IsDeviceName(name)) {
    String text(1, u'"');
    text += name;
    text += u"\" is the name of a device";
    return text;
  }
  if (name.size() > kMaxFolderName) return u"a folder name is longer than 255 characters";
  return {};
}

// The length of the root: "C:\" (3) or "\\server\share\"; 0 for anything
// else (relative, drive-relative, device paths).
size_t RootLength(StringView path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == u':' && path[2] == u'\\') return 3;
  if (path.size() < 3 || path[0] != u'\\' || path[1] != u'\\') return 0;
  const size_t server = path.find(u'\\', 2);
  if (server == StringView::npos || server == 2) return 0;
  size_t share = path.find(u'\\', server + 1);
  if (share == server + 1) return 0;
  if (share == StringView::npos) share = path.size() - 1;
  return share + 1;
}


bool StartsWithText(StringView text, StringView prefix) {
  return !prefix.empty() && text.size() >= prefix.size() &&
         SameTextLocale(text.substr(0, prefix.size()), prefix);
}

struct TPlace {
  TDestPlace kind;
  String folder;  // full, with a trailing backslash
};

// The special folders and what kind of place each is.
constexpr struct {
  int id;
  TDestPlace kind;
} kSpecialFolders[] = {
    {platform::kCsidlWindows, TDestPlace::Windows},
    {platform::kCsidlSystem, TDestPlace::Windows},
    {0x0014, TDestPlace::Windows},  // Fonts
    {0x0029, TDestPlace::Windows},  // the 32-bit system folder
    {platform::kCsidlProgramFiles, TDestPlace::Shared},
    {platform::kCsidlProgramFilesX86, TDestPlace::Shared},
    {0x002B, TDestPlace::Shared},  // Common Files
    {0x002C, TDestPlace::Shared},  // Common Files (x86)
    {platform::kCsidlCommonAppData, TDestPlace::Shared},
    {platform::kCsidlProfile, TDestPlace::Profile},
    {platform::kCsidlPrograms, TDestPlace::UserFolder},
    {platform::kCsidlPersonal, TDestPlace::UserFolder},
    {0x0006, TDestPlace::UserFolder},  // Favorites
    {0x0007, TDestPlace::UserFolder},  // Startup
    {0x0008, TDestPlace::UserFolder},  // Recent
    {0x0009, TDestPlace::UserFolder},  // SendTo
    {platform::kCsidlStartMenu, TDestPlace::UserFolder},
    {platform::kCsidlMyMusic, TDestPlace::UserFolder},
    {platform::kCsidlMyVideo, TDestPlace::UserFolder},
    {platform::kCsidlDesktopDirectory, TDestPlace::UserFolder},
    {0x0013, TDestPlace::UserFolder},  // NetHood
    {0x0015, TDestPlace::UserFolder},  // Templates
    {platform::kCsidlCommonStartMenu, TDestPlace::UserFolder},
    {platform::kCsidlCommonPrograms, TDestPlace::UserFolder},
    {0x0018, TDestPlace::UserFolder},  // common Startup
    {platform::kCsidlCommonDesktopDirectory, TDestPlace::UserFolder},
    {platform::kCsidlAppData, TDestPlace::UserFolder},
    {0x001B, TDestPlace::UserFolder},  // PrintHood
    {platform::kCsidlLocalAppData, TDestPlace::UserFolder},
    {0x001F, TDestPlace::UserFolder},  // common Favorites
    {0x0020, TDestPlace::UserFolder},  // Internet cache
    {0x0021, TDestPlace::UserFolder},  // Cookies
    {0x0022, TDestPlace::UserFolder},  // History
    {platform::kCsidlMyPictures, TDestPlace::UserFolder},
    {0x002D, TDestPlace::UserFolder},  // common Templates
    {0x002E, TDestPlace::UserFolder},  // common Documents
    {0x002F, TDestPlace::UserFolder},  // common Administrative Tools
    {0x0030, TDestPlace::UserFolder},  // Administrative Tools
    {0x0035, TDestPlace::UserFolder},  // common Music
    {0x0036, TDestPlace::UserFolder},  // common Pictures
    {0x0037, TDestPlace::UserFolder},  // common Videos
    {0x003B, TDestPlace::UserFolder},  // CD burning area
    {platform::kFolderDownloads, TDestPlace::UserFolder},
};

// The folders every profile has, also those of users other than the one
// this process runs as (whose special folders it cannot ask for).
constexpr const char16_t* kProfileFolders[] = {u"Desktop",  u"Documents", u"Downloads", u"Music",
                                               u"Pictures", u"Videos",    u"AppData"};

String FullFolder(const String& folder) {
  const String full = platform::FullPathName(folder);
  return IncludeTrailingBackslash(full.empty() ? folder : full);
}

std::vector<TPlace> ProtectedPlaces() {
  std::vector<TPlace> places;
  auto add = [&](TDestPlace kind, const String& folder) {
    if (!folder.empty()) places.push_back({kind, FullFolder(folder)});
  };
  auto addProfile = [&](const String& profile) {
    if (profile.empty()) return;
    add(TDestPlace::Profile, profile);
    for (const char16_t* name : kProfileFolders)
      add(TDestPlace::UserFolder, IncludeTrailingBackslash(profile) + name);
  };
  for (const auto& special : kSpecialFolders) {
    String path;
    if (platform::SpecialFolder(special.id, path)) add(special.kind, path);
  }
  String profile;
  if (platform::SpecialFolder(platform::kCsidlProfile, profile)) addProfile(profile);
  add(TDestPlace::Temp, platform::TempFolder());
  // The profiles folder and every user's profile.
  platform::TRegKey list;
  const String kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  if (list.Open(platform::RegRoot::LocalMachine, kProfileList, platform::kKeyRead) ==
      platform::kErrorSuccess) {
    String value;
    if (list.ReadString(u"ProfilesDirectory", value))
      add(TDestPlace::Profile, platform::ExpandEnvironment(value));
    for (const char16_t* name : {u"Default", u"Public"})
      if (list.ReadString(name, value)) addProfile(platform::ExpandEnvironment(value));
    String sub;
    for (uint32_t i = 0; list.EnumKey(i, sub) == platform::kErrorSuccess; ++i) {
      platform::TRegKey user;
      if (user.Open(list, sub, platform::kKeyRead) == platform::kErrorSuccess &&
          user.ReadString(u"ProfileImagePath", value))
        addProfile(platform::ExpandEnvironment(value));
    }
  }
  return places;
}

}  // namespace

String NormalizeDestPath(StringView path) {
  String normal(path);
  for (char16_t& c : normal)
    if (c == u'/') c = u'\\';
  if (normal.empty()) return normal;
  // Device forms are left as they are: DestPathProblem refuses them.
  if (normal.rfind(u"\\\\.\\", 0) == 0 || normal.rfind(u"\\\\?\\", 0) == 0) return normal;
  return IncludeTrailingBackslash(platform::FullPathName(normal));
}

String DestPathProblem(StringView path) {
  String normal(path);
  for (char16_t& c : normal)
    if (c == u'/') c = u'\\';
  if (normal.empty()) return u"no folder is named";
  if (normal.rfind(u"\\\\.\\", 0) == 0 || normal.rfind(u"\\\\?\\", 0) == 0)
    return u"device paths (\\\\.\\ and \\\\?\\) are not accepted";
  // The names as written, before "." and ".." are resolved (resolving
  // would drop the trailing dots that make a name unusable), then the
  // resolved path, which must be a full one.
  const auto namesProblem = [](StringView path, size_t start) -> String {
    while (start < path.size()) {
      size_t end = path.find(u'\\', start);
      if (end == StringView::npos) end = path.size();
      if (end > start) {
        String problem = FolderNameProblem(path.substr(start, end - start));
        if (!problem.empty()) return problem;
      }
      start = end + 1;
    }
    return {};
  };
  const size_t writtenRoot = RootLength(normal) > 0                    ? RootLength(normal)
                             : normal.size() >= 2 && normal[1] == u':' ? 2
                                                                       : 0;
  String problem = namesProblem(normal, writtenRoot);
  if (!problem.empty()) return problem;
  const String resolved = NormalizeDestPath(normal);
  const size_t root = RootLength(resolved);
  if (root == 0) return u"it is not a full path with a drive letter or a network share";
  return namesProblem(resolved, root);
}


TDestPlaceProblem DestPlaceProblem(StringView folder) {
  String path(folder);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  path = FullFolder(path);
  const size_t root = RootLength(path);
  if (root == 0 || root == path.size()) return {TDestPlace::Root, {}};
  const std::vector<TPlace> places = ProtectedPlaces();
  // The place itself first (a folder may be several: the first listed
  // names it), then the Windows folder's insides, then a folder that holds
  // a place.
  for (const TPlace& place : places)
    if (SameTextLocale(place.folder, path)) return {place.kind, place.folder};
  for (const TPlace& place : places)
    if (place.kind == TDestPlace::Windows && StartsWithText(path, place.folder))
      return {TDestPlace::Windows, place.folder};
  for (const TPlace& place : places)
    if (StartsWithText(place.folder, path)) return {TDestPlace::HoldsFolder, place.folder};
  return {};
}

String DestPlaceText(const TDestPlaceProblem& problem) {
  switch (problem.Place) {
    case TDestPlace::None:
      return {};
    case TDestPlace::Root:
      return u"it is the root of a drive or of a network share; choose a folder inside it";
    case TDestPlace::Windows:
      return u"it is the Windows folder or a folder inside it";
    case TDestPlace::Shared:
      return u"it holds other programs or their data; choose a folder inside it";
    case TDestPlace::Profile:
      return u"it is a user's profile folder or the folder of all profiles";
    case TDestPlace::UserFolder:
      return u"it is a folder that Windows keeps for a user's own files";
    case TDestPlace::Temp:
      return u"it is the temporary folder";
    case TDestPlace::HoldsFolder:
      return u"it holds \"" + ExcludeTrailingBackslash(problem.Folder) +
             u"\", a folder of Windows or of a user";
  }
  return {};
}

String DestFolderProblem(StringView path) {
  String problem = DestPathProblem(path);
  if (problem.empty()) problem = DestPlaceText(DestPlaceProblem(path));
  return problem;
}

void CheckDestFolder(StringView path) {
  const String problem = DestFolderProblem(path);
  if (!problem.empty())
    throw EInstallerInstallError(u"The destination folder \"" + String(path) +
                                 u"\" cannot be used: " + problem + u".");
}

bool IsProtectedFolder(StringView folder) {
  return static_cast<bool>(DestPlaceProblem(folder));
}
