#include "product/setup_action_uninstall.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "core/setup.h"
#include "lib/ini_file.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "platform/users.h"
#include "product/setup_classes.h"
#include "product/setup_helper.h"
#include "product/setup_profiles.h"

namespace {

const TSetupClassRegistrar integrationRegistrar(u"TSetupActionUninstallIntegration",
                                                ActionClass<TSetupActionUninstallIntegration>());
const TSetupClassRegistrar filesRegistrar(u"TSetupActionUninstallFiles",
                                          ActionClass<TSetupActionUninstallFiles>());

const char16_t kRecordSection[] = u"Uninstall";

// 100 * done / total, rounded to nearest.
int32_t Percent(int64_t done, int64_t total) {
  return total <= 0 ? 100 : static_cast<int32_t>((200 * done + total) / (2 * total));
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// The components of a path, split at both separators.
std::vector<StringView> Components(StringView path) {
  std::vector<StringView> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i)
    if (i == path.size() || IsSeparator(path[i])) {
      parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

// "..", ".", "...", ". ." and the like: the system drops trailing dots and
// spaces, and what is left walks up or stays.
bool IsDotsOnly(StringView component) {
  return !component.empty() && component.find_first_not_of(u". ") == StringView::npos;
}

bool StartsWithText(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && SameTextLocale(text.substr(0, prefix.size()), prefix);
}

// An absolute folder path in its full form, with a trailing backslash.
String NormalFolder(const String& folder) {
  const String full = platform::FullPathName(folder);
  return IncludeTrailingBackslash(full.empty() ? folder : full);
}

// "X:\" or "\\server\share\".
bool IsRoot(const String& folder) {
  if (folder.size() == 3 && folder[1] == u':' && IsSeparator(folder[2])) return true;
  if (folder.size() < 2 || !IsSeparator(folder[0]) || !IsSeparator(folder[1])) return false;
  const std::vector<StringView> parts = Components(StringView(folder).substr(2));
  // server, share and the empty part after the trailing backslash
  return parts.size() <= 3 && (parts.size() < 3 || parts[2].empty());
}

// The folders that are never deleted whole, and none that holds one.
std::vector<String> ProtectedFolders() {
  static const int kFolders[] = {
      0x0002, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000B, 0x000D, 0x000E, 0x0010, 0x0013,
      0x0014, 0x0015, 0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001F, 0x0020,
      0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B,
      0x002C, 0x002D, 0x002E, 0x002F, 0x0030, 0x0035, 0x0036, 0x0037, 0x0038, 0x003B,
  };
  std::vector<String> folders;
  for (int csidl : kFolders) {
    String path;
    if (platform::SpecialFolder(csidl, path) && !path.empty()) folders.push_back(path);
  }
  folders.push_back(platform::TempFolder());
  // The profiles folder and every user's profile.
  platform::TRegKey list;
  const String kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  if (list.Open(platform::RegRoot::LocalMachine, kProfileList, platform::kKeyRead) ==
      platform::kErrorSuccess) {
    String value;
    for (const char16_t* name : {u"ProfilesDirectory", u"Default", u"Public"})
      if (list.ReadString(name, value) && !value.empty())
        folders.push_back(platform::ExpandEnvironment(value));
    String sub;
    for (uint32_t i = 0; list.EnumKey(i, sub) == platform::kErrorSuccess; ++i) {
      platform::TRegKey user;
      if (user.Open(list, sub, platform::kKeyRead) == platform::kErrorSuccess &&
          user.ReadString(u"ProfileImagePath", value) && !value.empty())
        folders.push_back(platform::ExpandEnvironment(value));
    }
  }
  for (String& folder : folders) folder = NormalFolder(folder);
  return folders;
}

// Whether the way from folder (with trailing backslash) down to path's last
// component passes a link; the answers for folders are kept in links.
bool PassesLink(const String& folder, const String& path, std::map<String, bool>& links) {
  for (size_t at = path.find(u'\\', folder.size()); at != String::npos;
       at = path.find(u'\\', at + 1)) {
    const String step = path.substr(0, at);
    auto it = links.find(step);
    if (it == links.end()) it = links.emplace(step, platform::IsLink(step)).first;
    if (it->second) return true;
  }
  return false;
}

// The folders below folder, subfolders before their folder; links are
// neither listed nor entered.
void AddFoldersBelow(const String& folder, TVelStringList& dirs) {
  std::vector<platform::TFolderEntry> entries;
  if (!platform::ListFolder(folder, entries)) return;
  for (const platform::TFolderEntry& entry : entries) {
    if (!(entry.attributes & platform::kFileAttributeDirectory) || entry.link) continue;
    const String sub = folder + entry.name + u"\\";
    AddFoldersBelow(sub, dirs);
    dirs.Add(sub, TSetupActionUninstallFiles::kIfEmpty);
  }
}

// A user's data folder that may be deleted whole: an absolute path (drive
// or network) without dot components, not protected.
bool IsSafeDataFolder(const String& folder) {
  const bool absolute = (folder.size() >= 3 && folder[1] == u':' && IsSeparator(folder[2])) ||
                        (folder.size() >= 3 && IsSeparator(folder[0]) && IsSeparator(folder[1]) &&
                         folder[2] != u'?' && folder[2] != u'.');
  if (!absolute) return false;
  const std::vector<StringView> parts = Components(folder);
  if (std::any_of(parts.begin(), parts.end(), IsDotsOnly)) return false;
  return !TSetupActionUninstallFiles::IsProtectedFolder(folder);
}

}  // namespace

void* const TSetupActionUninstallFiles::kIfEmpty = nullptr;
void* const TSetupActionUninstallFiles::kWhole = reinterpret_cast<void*>(uintptr_t{1});

TSetupActionUninstallIntegration::TSetupActionUninstallIntegration() {
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShellMenu>());
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveShortcuts>());
  Tasks.push_back(std::make_unique<TSetupUpdateTaskRemoveFromRegistry>());
}

void TSetupActionUninstallIntegration::Execute() {
  SetStatus(GetCommonText(u"A9"));
  const int64_t count = static_cast<int64_t>(Tasks.size());
  for (int64_t i = 0; i < count; ++i) {
    Tasks[static_cast<size_t>(i)]->Execute(nullptr);
    SetProgress(Percent(i + 1, count));
  }
}

bool TSetupActionUninstallFiles::IsSafeRecordEntry(StringView entry) {
  if (entry.empty()) return true;
  if (IsSeparator(entry[0])) return false;                 // rooted, network, "\\?\"
  if (entry.find(u':') != StringView::npos) return false;  // drive or stream
  const std::vector<StringView> parts = Components(entry);
  return std::none_of(parts.begin(), parts.end(), IsDotsOnly);
}

bool TSetupActionUninstallFiles::IsProtectedFolder(const String& folder) {
  const String path = NormalFolder(folder);
  if (path.empty() || IsRoot(path)) return true;
  for (const String& special : ProtectedFolders())
    if (StartsWithText(special, path)) return true;
  return false;
}

bool TSetupActionUninstallFiles::ReadCommon(StringView key) const {
  return Setup->ReadSetting(kSettingsCommon, key);
}

TVelStringList TSetupActionUninstallFiles::CreateFileList() {
  TVelIniFile record;
  record.LoadFromStream(*Resources().OpenFile(u"Uninstall.ini"));
  const String& dest = Setup->GetDestPath();
  const String normalDest = NormalFolder(dest);
  // A count beyond the section's lines only names missing keys.
  const TVelIniFileSection* section = record.FindSection(kRecordSection);
  const int32_t count =
      std::min(record.ReadInteger(kRecordSection, u"Count", 0), section ? section->Count() : 0);
  TVelStringList files;
  std::set<String, bool (*)(const String&, const String&)> seen(
      [](const String& a, const String& b) { return CompareTextLocale(a, b) < 0; });
  std::map<String, bool> links;
  for (int32_t i = 0; i < count; ++i) {
    const String entry = record.ReadString(kRecordSection, IntToStr(i), u"");
    if (!IsSafeRecordEntry(entry)) continue;
    const String path = dest + entry;
    // Whatever the system makes of it, it stays below the destination and
    // is not reached through a link.
    if (!entry.empty() && (!StartsWithText(platform::FullPathName(path), normalDest) ||
                           PassesLink(dest, path, links)))
      continue;
    if (seen.insert(path).second) files.Add(path);
  }
  return files;
}

TVelStringList TSetupActionUninstallFiles::CreateDirsList() {
  const String& dest = Setup->GetDestPath();
  TVelStringList dirs;
  AddFoldersBelow(dest, dirs);
  if (ReadCommon(u"RemoveBackups")) dirs.Add(dest + u"!Backup\\", kWhole);
  if (ReadCommon(u"RemoveContent")) PrepareContent(dirs);
  return dirs;
}

void TSetupActionUninstallFiles::PrepareContent(TVelStringList& dirs) {
  const String& dest = Setup->GetDestPath();
  if (ReadCommon(u"RemoveBackups") && !IsProtectedFolder(dest))
    dirs.Add(dest, kWhole);
  else
    dirs.Add(dest + u"Profile\\", kWhole);
  TVelIniFile config;
  config.LoadFromFile(dest + u"Mivo.ini");
  if (!config.ReadBool(u"System", u"UserMode", false)) return;
  TSetupUsers::Populate([&](const String&, const String& appData) {
    const String folder = TSetupProfileHelper::GetDataFolder(appData);
    // The running user is usually reported twice.
    if (IsSafeDataFolder(folder) && dirs.IndexOf(folder) < 0) dirs.Add(folder, kWhole);
  });
}

void TSetupActionUninstallFiles::Execute() {
  const TVelStringList dirs = CreateDirsList();
  const TVelStringList files = CreateFileList();
  SetStatus(GetCommonText(u"A9"));
  const int64_t total = files.Count() + dirs.Count();
  int64_t done = 0;
  for (int i = 0; i < files.Count(); ++i) {
    DeleteFileOrDefer(files.Strings(i));
    SetProgress(Percent(++done, total));
  }
  for (int i = 0; i < dirs.Count(); ++i) {
    TSetupHelper::DeletePath(dirs.Strings(i), dirs.Objects(i) != kWhole);
    SetProgress(Percent(++done, total));
  }
}
