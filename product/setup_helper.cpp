#include "product/setup_helper.h"

#include "core/setup.h"
#include "lib/format.h"
#include "lib/ini_file.h"
#include "platform/app_repo.h"
#include "product/setup_action_integrate.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

using platform::TFolderHandle;
using THeld = std::unique_ptr<TFolderHandle>;

bool FailedOnLink() {
  return platform::LastError() == platform::kErrorStoppedOnSymlink;
}

bool IsMissing() {
  const uint32_t error = platform::LastError();
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

// Creates a folder and its missing parents, taken as they are.
bool ForceParents(const String& folder) {
  const String path = ExcludeTrailingBackslash(folder);
  if (path.empty() || platform::DirectoryExists(path)) return true;
  const String parent = ExtractFilePath(path);
  if (parent.size() >= path.size() || !ForceParents(parent)) return false;
  return platform::CreateFolder(path) || platform::DirectoryExists(path);
}

// A folder copy between held folders. The target folders are made when the
// first file needs them, so an empty source makes nothing.
class TFolderCopy {
 public:
  // A target folder: its parent and name, held once it is made.
  struct TTarget {
    TTarget* parent = nullptr;
    String name;
    THeld held;
  };

  // openTop opens the folder that the target goes into.
  TFolderCopy(std::function<THeld()> openTop, std::function<void()> fail)
      : openTop_(std::move(openTop)), fail_(std::move(fail)) {}

  void Copy(const TFolderHandle& source, TTarget& target) {
    std::vector<platform::TFolderEntry> entries;
    if (!platform::ListFolder(source, entries)) return;
    TVelStringList folders;
    for (const platform::TFolderEntry& e : entries) {
      // A link may lead anywhere: it is not part of the tree.
      if (e.link || (e.attributes & platform::kFileAttributeSystem)) continue;
      if (e.attributes & platform::kFileAttributeDirectory)
        folders.Add(e.name);
      else
        CopyFile(source, e.name, target);
    }
    folders.SortLogical();
    for (int i = 0; i < folders.Count(); ++i) {
      THeld sub = platform::OpenSubFolder(source, folders.Strings(i));
      // Swapped for a link since it was listed: not gone into.
      if (!sub) continue;
      TTarget child{&target, folders.Strings(i), nullptr};
      Copy(*sub, child);
    }
  }

 private:
  // Below the target folder every folder is a real one: a link in the way
  // is replaced, so nothing is ever written through it.
  const TFolderHandle& Made(TTarget& target) {
    if (!target.held) {
      target.held = target.parent ? ForceSubFolder(Made(*target.parent), target.name, true)
                                  : openTop_();
      if (!target.held) fail_();
    }
    return *target.held;
  }

  void CopyFile(const TFolderHandle& source, const String& name, TTarget& target) {
    std::unique_ptr<TStream> in =
        platform::OpenFileIn(source, name, platform::kGenericRead,
                             platform::kFileShareRead | platform::kFileShareDelete,
                             platform::kOpenExisting, true);
    if (!in) {
      // Swapped for a link since it was listed: not copied.
      if (FailedOnLink()) return;
      fail_();
    }
    const TFolderHandle& folder = Made(target);
    // Whatever is at the name goes first (a read-only file, a link: never
    // what it points to); the copy is a new file made at the name.
    const uint32_t a = platform::GetAttributes(folder.Path() + name);
    if (a != platform::kInvalidFileAttributes) {
      if ((a & platform::kFileAttributeDirectory) && !(a & platform::kFileAttributeReparsePoint))
        fail_();
      if (!platform::DeleteEntryIn(folder, name)) fail_();
    }
    std::unique_ptr<TStream> out =
        platform::OpenFileIn(folder, name, platform::kGenericWrite, 0, platform::kCreateNew);
    if (!out) fail_();
    try {
      out->CopyFrom(*in, 0);
    } catch (const std::exception&) {
      fail_();
    }
  }

  std::function<THeld()> openTop_;
  std::function<void()> fail_;
};

}  // namespace

void TSetupFileList::AddFile(const String& fileName, const String& archiveName,
                             const String& baseFolder) {
  auto item = std::make_unique<TSetupFileListItem>();
  item->FileName = fileName;
  item->ArchiveName = archiveName;
  item->BaseFolder = baseFolder;
  items_.push_back(std::move(item));
}

void TSetupFileList::AddFolder(const String& folder, const String& excludedPrefix,
                               const String& archivePrefix, const String& baseFolder) {
  const String root = IncludeTrailingBackslash(folder);
  TVelStringList files;
  FindFiles(root, excludedPrefix, files);
  for (int i = 0; i < files.Count(); ++i) {
    const String& file = files.Strings(i);
    AddFile(file, archivePrefix + file.substr(root.size()), baseFolder.empty() ? root : baseFolder);
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
  return !platform::IsLink(ExcludeTrailingBackslash(folder)) &&
         platform::OnlyAdministratorsMayWrite(folder, false);
}

String TSetupHelper::RegistrationCommand(const String& dest) {
  TVelIniFile config;
  try {
    config.LoadFromFile(dest + u"Mivo.ini");
  } catch (const Exception&) {
    return {};
  }
  const String switches = TSetupActionIntegrate::SwitchesFor(
      [&](StringView key) { return config.ReadBool(kSettingsIntegration, key, false); });
  if (switches.empty()) return {};
  return u"\"" + dest + TSetupActionIntegrate::kProgramName + u"\"" + switches;
}

void TSetupHelper::RecordAppRepoEntry(const String& displayName) {
  const String keyName = TSetupAppRepo::MakeKeyName(displayName);
  for (bool wow64 : {false, true})
    RunJournal().WillChangeKey(platform::RegRoot::LocalMachine,
                                   TSetupAppRepo::GetKeyPath(wow64) + keyName, 0);
}

void TSetupHelper::RemoveAppRepoEntry(const String& displayName) {
  RecordAppRepoEntry(displayName);
  TSetupAppRepo::Delete(displayName);
}

void TSetupHelper::CopyFolder(const String& source, const String& target, bool deleteSource,
                             const String& base) {
  const String from = IncludeTrailingBackslash(source), to = IncludeTrailingBackslash(target);
  if (SameTextLocale(from, to)) return;
  auto fail = [&] {
    throw EInstallerInstallError(
        Format(u"Cannot copy \"%s\" to \"%s\"", {FormatArg(source), FormatArg(target)}));
  };
  const String parent = ExtractFilePath(ExcludeTrailingBackslash(to));
  THeld held = platform::OpenFolderBelow(
      base.empty() ? ExtractFilePath(ExcludeTrailingBackslash(from)) : base, from);
  // A missing source copies nothing, and so does one that is a link.
  if (!held) {
    if (IsMissing() || FailedOnLink()) return;
    fail();
  }
  // The target's parent is reached from base and made where missing (taken
  // as it is without a base); from the target down every folder is a real one.
  auto openTop = [&]() -> THeld {
    if (!base.empty()) return ForceFolderBelow(base, parent);
    return ForceParents(parent) ? platform::OpenFolderBelow(parent, parent) : nullptr;
  };
  TFolderCopy::TTarget top, root{&top, ExtractFileName(ExcludeTrailingBackslash(to)), nullptr};
  TFolderCopy(openTop, fail).Copy(*held, root);
  held.reset();
  if (deleteSource) DeletePath(from, false, base);
}

void TSetupHelper::RemoveByPrefix(TVelStringList& list, const String& prefix) {
  for (int i = list.Count() - 1; i >= 0; --i)
    if (StartsTextLocale(list.Strings(i), prefix)) list.Delete(i);
}

void TSetupHelper::DeletePath(const String& folder, bool onlyIfEmpty, const String& base) {
  DeleteFolderBelow(folder, onlyIfEmpty, base);
}
