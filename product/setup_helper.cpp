#include "product/setup_helper.h"

#include "lib/format.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

// Removes a link (to a folder or a file) without touching what it points to.
bool RemoveLink(const String& path) {
  const uint32_t a = platform::GetAttributes(path);
  if (a == platform::kInvalidFileAttributes) return true;
  return (a & platform::kFileAttributeDirectory) ? platform::RemoveFolder(path)
                                                 : platform::RemoveFile(path);
}

// Makes the folders of folder (trailing backslash) below root (trailing
// backslash, a prefix of folder, taken as it is) real folders: a link in the
// way is removed first. False when a folder
// cannot be made.
bool ForceRealFolder(const String& root, const String& folder) {
  for (size_t at = folder.find(u'\\', root.size()); at != String::npos;
       at = folder.find(u'\\', at + 1)) {
    const String part = folder.substr(0, at);
    if (platform::IsLink(part) && !RemoveLink(part)) return false;
    if (platform::DirectoryExists(part)) continue;
    if (!platform::CreateFolder(part)) return false;
  }
  return true;
}

// Creates a folder and its missing parents.
bool ForceParents(const String& folder) {
  const String path = ExcludeTrailingBackslash(folder);
  if (path.empty() || platform::DirectoryExists(path)) return true;
  const String parent = ExtractFilePath(path);
  if (parent.size() >= path.size() || !ForceParents(parent)) return false;
  return platform::CreateFolder(path) || platform::DirectoryExists(path);
}

void DeleteTree(const String& folder) {
  std::vector<platform::TFolderEntry> entries;
  if (platform::ListFolder(folder, entries)) {
    for (const platform::TFolderEntry& e : entries) {
      const String path = folder + e.name;
      if (e.link) {
        RemoveLink(path);
      } else if (e.attributes & platform::kFileAttributeDirectory) {
        DeleteTree(path + u"\\");
      } else {
        platform::SetAttributes(path, 0);
        platform::RemoveFile(path);
      }
    }
  }
  platform::SetAttributes(folder, 0);
  platform::RemoveFolder(folder);
}

}  // namespace

void TSetupFileList::AddFile(const String& fileName, const String& archiveName) {
  auto item = std::make_unique<TSetupFileListItem>();
  item->FileName = fileName;
  item->ArchiveName = archiveName;
  items_.push_back(std::move(item));
}

void TSetupFileList::AddFolder(const String& folder, const String& excludedPrefix,
                               const String& archivePrefix) {
  const String root = IncludeTrailingBackslash(folder);
  TVelStringList files;
  FindFiles(root, excludedPrefix, files);
  for (int i = 0; i < files.Count(); ++i) {
    const String& file = files.Strings(i);
    AddFile(file, archivePrefix + file.substr(root.size()));
  }
}

void TSetupFileList::RemoveByName(const String& fileName) {
  std::erase_if(items_, [&](const std::unique_ptr<TSetupFileListItem>& item) {
    return SameTextLocale(ExtractFileName(item->FileName), fileName);
  });
}

void TSetupFileList::KeepFiles(const std::function<bool(const String& fileName)>& kept) {
  std::erase_if(items_,
                [&](const std::unique_ptr<TSetupFileListItem>& item) { return !kept(item->FileName); });
}

bool TSetupHelper::OnlyAdministratorsCanChange(const String& folder) {
  auto below = [&](const String& parent) {
    const String base = IncludeTrailingBackslash(parent);
    return !parent.empty() && folder.size() > base.size() && StartsTextLocale(folder, base);
  };
  String programFiles;
  for (int csidl : {platform::kCsidlProgramFiles, platform::kCsidlProgramFilesX86})
    if (platform::SpecialFolder(csidl, programFiles) && below(programFiles)) return true;
  // Elsewhere: the folder may be changed by the administrators and the
  // system only (as the installer makes a new one), and is no link.
  platform::TSecurityInfo info;
  if (platform::IsLink(ExcludeTrailingBackslash(folder)) ||
      !platform::ReadSecurityInfo(folder, info) || info.entries.empty())
    return false;
  for (const String& account : platform::AccountsWithWriteAccess(info))
    if (account != platform::kSidAdministrators && account != platform::kSidLocalSystem)
      return false;
  return true;
}

void TSetupHelper::CopyFolder(const String& source, const String& target, bool deleteSource) {
  const String from = IncludeTrailingBackslash(source), to = IncludeTrailingBackslash(target);
  if (SameTextLocale(from, to)) return;
  auto fail = [&] {
    throw EInstallerInstallError(
        Format(u"Cannot copy \"%s\" to \"%s\"", {FormatArg(source), FormatArg(target)}));
  };
  TVelStringList files;
  FindFiles(from, u"", files);
  // The target's parents are taken as they are; from the target down every
  // folder must be a real one.
  const String parent = ExtractFilePath(ExcludeTrailingBackslash(to));
  if (files.Count() > 0 && (!ForceParents(parent) || !ForceRealFolder(parent, to))) fail();
  for (int i = 0; i < files.Count(); ++i) {
    const String& file = files.Strings(i);
    const String copy = to + file.substr(from.size());
    if (!ForceRealFolder(to, ExtractFilePath(copy))) fail();
    // Never write through a link planted where the copy goes.
    if (platform::IsLink(copy) && !RemoveLink(copy)) fail();
    if (platform::FileExists(copy)) platform::SetAttributes(copy, 0);
    if (!platform::CopyFileTo(file, copy, false)) fail();
  }
  if (deleteSource) DeletePath(from, false);
}

void TSetupHelper::RemoveByPrefix(TVelStringList& list, const String& prefix) {
  for (int i = list.Count() - 1; i >= 0; --i)
    if (StartsTextLocale(list.Strings(i), prefix)) list.Delete(i);
}

void TSetupHelper::DeletePath(const String& folder, bool onlyIfEmpty) {
  const String path = ExcludeTrailingBackslash(folder);
  if (onlyIfEmpty || platform::IsLink(path)) {
    platform::RemoveFolder(path);
    return;
  }
  if (!platform::DirectoryExists(path)) return;
  DeleteTree(path + u"\\");
}
