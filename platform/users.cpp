#include "platform/users.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system_info.h"

namespace {

using platform::RegRoot;
using platform::TRegKey;

const char16_t kProfileList[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const char16_t kUserShellFolders[] =
    u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders\\";

// A special folder; the temporary folder when the system has none.
String FolderOrTemp(int csidl) {
  String path;
  if (platform::SpecialFolder(csidl, path)) return path;
  return ExcludeTrailingBackslash(platform::TempFolder());
}

String LastComponent(const String& folder) {
  return ExtractFileName(ExcludeTrailingBackslash(folder));
}

// The profile list keeps backups of damaged entries under "<SID>.bak".
bool IsBackupEntry(const String& name) {
  return name.size() >= 4 && SameTextAscii(StringView(name).substr(name.size() - 4), u".bak");
}

// Replaces every "%USERPROFILE%", in any letter case.
String ReplaceUserProfile(const String& text, const String& profile) {
  static const String kVariable = u"%USERPROFILE%";
  const String upper = UpperAscii(text);
  String result;
  size_t from = 0;
  for (size_t at; (at = upper.find(kVariable, from)) != String::npos; from = at + kVariable.size())
    result += text.substr(from, at - from) + profile;
  return result + text.substr(from);
}

void ReportListedUser(const String& sid, const TSetupUsers::TProfileReport& report) {
  if (IsBackupEntry(sid)) return;
  TRegKey entry;
  if (entry.Open(RegRoot::LocalMachine, kProfileList + sid, platform::kKeyRead) !=
      platform::kErrorSuccess)
    return;
  String profile;
  if (!entry.ReadString(u"ProfileImagePath", profile)) return;
  profile = platform::ExpandEnvironment(profile);
  if (profile.empty() || !platform::DirectoryExists(profile)) return;

  TRegKey folders;
  if (folders.Open(RegRoot::Users, sid + kUserShellFolders, platform::kKeyRead) !=
          platform::kErrorSuccess &&
      folders.Open(RegRoot::Users, u".DEFAULT" + String(kUserShellFolders), platform::kKeyRead) !=
          platform::kErrorSuccess)
    return;
  String appData;
  if (!folders.ReadString(u"AppData", appData)) return;
  appData = ReplaceUserProfile(appData, profile);
  if (!appData.empty()) report(LastComponent(profile), appData, ExcludeTrailingBackslash(profile));
}

}  // namespace

void TSetupUsers::Populate(const TReport& report) {
  PopulateProfiles([&](const String& userName, const String& appData, const String&) {
    report(userName, appData);
  });
}

void TSetupUsers::PopulateProfiles(const TProfileReport& report) {
  const String profile = FolderOrTemp(platform::kCsidlProfile);
  report(LastComponent(profile), IncludeTrailingBackslash(FolderOrTemp(platform::kCsidlAppData)),
         ExcludeTrailingBackslash(profile));

  TRegKey list;
  if (list.Open(RegRoot::LocalMachine, kProfileList, platform::kKeyRead) != platform::kErrorSuccess)
    return;
  String sid;
  for (uint32_t i = 0; list.EnumKey(i, sid) == platform::kErrorSuccess; ++i)
    ReportListedUser(sid, report);
}
