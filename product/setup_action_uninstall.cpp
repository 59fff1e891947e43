#include "product/setup_action_uninstall.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "core/dest_folder.h"
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
#include "product/setup_dest_content.h"
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
  return !IsProtectedFolder(folder);
}

// The entries directly in the destination that are the product's (links
// count as such: deleting one never reaches what it points to); false when
// a person's own file or folder is there too.
bool ProductEntries(const String& dest, std::vector<platform::TFolderEntry>& product) {
  std::vector<String> record;
  TVelIniFile ini;
  ini.LoadFromStream(*Setup->Resources().OpenFile(u"Uninstall.ini"));
  const int32_t count = ini.ReadInteger(kRecordSection, u"Count", 0);
  for (int32_t i = 0; i < count && i < 1000000; ++i)
    record.push_back(ini.ReadString(kRecordSection, IntToStr(i), u""));
  const TSetupDestContent content = TSetupDestContent::OfRecord(record);
  std::vector<platform::TFolderEntry> entries;
  if (!platform::ListFolder(dest, entries)) return false;
  bool onlyProduct = true;
  for (platform::TFolderEntry& entry : entries) {
    const bool folder = (entry.attributes & platform::kFileAttributeDirectory) != 0;
    if (entry.link || content.IsProductEntry(entry.name, folder))
      product.push_back(std::move(entry));
    else
      onlyProduct = false;
  }
  return onlyProduct;
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
  for (int i = 0; i < contentFiles_.Count(); ++i)
    if (seen.insert(contentFiles_.Strings(i)).second) files.Add(contentFiles_.Strings(i));
  return files;
}

TVelStringList TSetupActionUninstallFiles::CreateDirsList() {
  const String& dest = Setup->GetDestPath();
  contentFiles_.Clear();
  bases_.clear();
  TVelStringList dirs;
  AddFoldersBelow(dest, dirs);
  if (ReadCommon(u"RemoveBackups")) dirs.Add(dest + u"!Backup\\", kWhole);
  if (ReadCommon(u"RemoveContent")) PrepareContent(dirs);
  return dirs;
}

void TSetupActionUninstallFiles::PrepareContent(TVelStringList& dirs) {
  const String& dest = Setup->GetDestPath();
  std::vector<platform::TFolderEntry> product;
  if (!ReadCommon(u"RemoveBackups") || IsProtectedFolder(dest)) {
    dirs.Add(dest + u"Profile\\", kWhole);
  } else if (ProductEntries(dest, product)) {
    dirs.Add(dest, kWhole);
  } else {
    // A person's own files stay, and with them the folder.
    for (const platform::TFolderEntry& entry : product) {
      if (entry.link || !(entry.attributes & platform::kFileAttributeDirectory))
        contentFiles_.Add(dest + entry.name);
      else
        dirs.Add(dest + entry.name + u"\\", kWhole);
    }
  }
  TVelIniFile config;
  config.LoadFromFile(dest + u"Mivo.ini");
  if (!config.ReadBool(u"System", u"UserMode", false)) return;
  TSetupUsers::PopulateProfiles([&](const String&, const String& appData, const String& profile) {
    const String folder = TSetupProfileHelper::GetDataFolder(appData);
    // A user's registry hive may point the folder anywhere: only a folder
    // inside that user's own profile, reached without a link, is deleted.
    // The running user is usually reported twice.
    if (IsSafeDataFolder(folder) && TSetupProfileHelper::StaysInside(folder, profile) &&
        dirs.IndexOf(folder) < 0) {
      dirs.Add(folder, kWhole);
      // Deleted from the profile down without following a link, whatever
      // the user changes there meanwhile.
      bases_[VelSystem().UpperCase(folder)] = IncludeTrailingBackslash(profile);
    }
  });
}

String TSetupActionUninstallFiles::BaseFolderOf(const String& folder) const {
  const auto it = bases_.find(VelSystem().UpperCase(folder));
  if (it != bases_.end()) return it->second;
  const String& dest = Setup->GetDestPath();
  return StartsWithText(folder, dest) ? dest : String();
}

void TSetupActionUninstallFiles::Execute() {
  const TVelStringList dirs = CreateDirsList();
  const TVelStringList files = CreateFileList();
  SetStatus(GetCommonText(u"A9"));
  const int64_t total = files.Count() + dirs.Count();
  int64_t done = 0;
  const String& dest = Setup->GetDestPath();
  // Moved aside, to come back if the removal fails. A portable
  // installation's folder is its user's: every file is reached from the
  // destination without following a link.
  std::vector<String> paths, bases;
  for (int i = 0; i < files.Count(); ++i) {
    paths.push_back(files.Strings(i));
    bases.push_back(dest);
  }
  RunJournal().RemoveFiles(paths, bases, [&] { SetProgress(Percent(++done, total)); });
  // The folders that go when empty (all below the destination, deepest
  // first), then those that go whole.
  std::vector<String> emptied, emptiedBases;
  for (int i = 0; i < dirs.Count(); ++i)
    if (dirs.Objects(i) != kWhole) {
      emptied.push_back(dirs.Strings(i));
      emptiedBases.push_back(BaseFolderOf(dirs.Strings(i)));
    }
  RunJournal().RemoveEmptyFolders(emptied, emptiedBases, [&] { SetProgress(Percent(++done, total)); });
  for (int i = 0; i < dirs.Count(); ++i) {
    if (dirs.Objects(i) != kWhole) continue;
    RunJournal().RemoveFolder(dirs.Strings(i), BaseFolderOf(dirs.Strings(i)));
    SetProgress(Percent(++done, total));
  }
}
