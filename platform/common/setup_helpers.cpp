// File and shell routines of the installation steps, on the platform interfaces.
#include "platform/setup_helpers.h"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/system_info.h"

namespace {

// The main-thread call queue that WaitWithMessages serves.
struct TCallQueue {
  std::mutex mutex;
  platform::TWaitHandle signal;
  std::function<void()> run;
};

TCallQueue& CallQueue() {
  static TCallQueue* queue = new TCallQueue();
  return *queue;
}

// The first ":" followed by two equal characters, each "/" or "\".
bool IsAddress(const String& file) {
  const size_t colon = file.find(u':');
  if (colon == String::npos || colon + 2 >= file.size()) return false;
  const char16_t a = file[colon + 1], b = file[colon + 2];
  return a == b && (a == u'/' || a == u'\\');
}

bool IsMailto(const String& file) {
  static const String kMailto = u"mailto:";
  return file.size() >= kMailto.size() &&
         SameTextAscii(StringView(file).substr(0, kMailto.size()), kMailto);
}

class TFileSearch {
 public:
  TFileSearch(String excludedPrefix, TVelStringList& result)
      : excluded_(std::move(excludedPrefix)), result_(result) {}

  // folder ends with a backslash.
  void Search(const String& folder) {
    if (!Accepts(folder)) return;
    std::vector<platform::TFolderEntry> entries;
    if (!platform::ListFolder(folder, entries)) return;
    TVelStringList subFolders;
    for (const platform::TFolderEntry& e : entries) {
      // A junction or symbolic link may lead anywhere (another user's
      // documents, the system folder): it is not part of the tree.
      if (e.link || (e.attributes & platform::kFileAttributeSystem)) continue;
      if (e.attributes & platform::kFileAttributeDirectory)
        subFolders.Add(folder + e.name + u"\\");
      else
        result_.Add(folder + e.name);
    }
    subFolders.SortLogical();
    for (int i = 0; i < subFolders.Count(); ++i) Search(subFolders.Strings(i));
  }

 private:
  bool Accepts(const String& folder) const {
    return excluded_.empty() || !StartsTextLocale(folder, excluded_);
  }

  String excluded_;
  TVelStringList& result_;
};

// A name for a file on its way out, beside it: "~del" + 8 hex digits + ".tmp".
String ParkingName(const String& folder) {
  static std::atomic<uint32_t> counter{0};
  uint32_t n = platform::TickCount() * 2654435761u ^ platform::CurrentProcessId() * 40503u ^
               (++counter * 2246822519u);
  static const char16_t kHex[] = u"0123456789ABCDEF";
  String name = folder + u"~del";
  for (int i = 0; i < 8; ++i, n >>= 4) name.push_back(kHex[n & 0xF]);
  return name + u".tmp";
}

std::atomic<bool> restartNeeded{false};

// A file of the run that only a restart deletes.
void DeferToRestart(const String& path) {
  DeleteOnReboot(path);
  restartNeeded = true;
}

// One file to delete, reached by its path or through its held folder.
struct TFileToDelete {
  String path;
  // Deletes it when nobody holds it (its name is then free).
  std::function<bool()> removeUnshared;
  // Renames it to a full path, never replacing.
  std::function<bool(const String& target)> moveTo;
  // Deletes it, renamed to that name in its own folder, while others hold it.
  std::function<bool(const String& parked)> removeParked;
};

// A file another program holds open. Deleted where it is, a file held with
// delete sharing would only be marked: its name would stay taken until the
// holder closes it, and a new file of that name could not be written.
// Renamed to a fresh name in its own folder first (the same volume, so the
// rename never becomes a copy; a rename moves a link itself, never what it
// points to) and deleted there, it vanishes when the holder lets go and its
// name is free at once. False when it cannot be renamed (held without
// delete sharing).
bool DeleteHeldFile(const TFileToDelete& file) {
  const String folder = ExtractFilePath(file.path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const String parked = ParkingName(folder);
    // No replacing: whatever already has that name stays untouched.
    if (!file.moveTo(parked)) {
      const uint32_t error = platform::LastError();
      if (error == platform::kErrorAlreadyExists || error == platform::kErrorFileExists) continue;
      return false;
    }
    if (file.removeParked(parked)) {
      RunLog(u"Held open, renamed to " + parked + u" and deleted as soon as it is closed: " +
             file.path);
    } else {
      DeferToRestart(parked);
      RunLog(u"Held open, renamed to " + parked + u" to be deleted at the next restart: " +
             file.path);
    }
    return true;
  }
  return false;
}

void DeleteFileOrDefer(const TFileToDelete& file) {
  if (file.removeUnshared()) {
    RunLog(u"Deleted: " + file.path);
    return;
  }
  if (platform::LastError() == platform::kErrorSharingViolation && DeleteHeldFile(file)) return;
  // In use: move it out of the way and let the system delete it at restart.
  String placeholder;
  if (!platform::MakeTempFileName(platform::TempFolder(), u"delete", 0, placeholder))
    platform::RaiseLastOSError();
  if (platform::FileExists(placeholder)) platform::RemoveFile(placeholder);
  if (file.moveTo(placeholder)) {
    DeferToRestart(placeholder);
    RunLog(u"In use, moved to " + placeholder + u" to be deleted at the next restart: " +
           file.path);
  } else {
    RunLog(u"In use, left in place: " + file.path);
  }
}

// A file (or a link at a file's name) of the folder: not a folder.
bool NamesFile(const String& path) {
  const uint32_t attributes = platform::GetAttributes(path);
  return attributes != platform::kInvalidFileAttributes &&
         !(attributes & platform::kFileAttributeDirectory);
}

}  // namespace

void CopyFileOrRaise(const String& source, const String& target) {
  if (!platform::CopyFileTo(source, target, false))
    platform::RaiseLastOSError(source + u" -> " + target);
}

void DeleteFileOrDefer(const String& path) {
  if (!NamesFile(path)) return;
  DeleteFileOrDefer(TFileToDelete{
      path,
      [&] {
        platform::SetAttributes(path, 0);
        return platform::RemoveFileUnshared(path);
      },
      [&](const String& target) { return platform::MoveFileWithOptions(path, target, 0); },
      [](const String& parked) { return platform::RemoveFile(parked); }});
}

void DeleteFileOrDefer(const platform::TFolderHandle& folder, const String& name) {
  // The folder is held: its path leads to it, and the entry's attributes
  // are its own (a link's are the link's).
  const String path = folder.Path() + name;
  if (!NamesFile(path)) return;
  DeleteFileOrDefer(TFileToDelete{
      path, [&] { return platform::DeleteEntryIn(folder, name); },
      [&](const String& target) { return platform::MoveEntryFrom(folder, name, target); },
      [&](const String& parked) {
        return platform::DeleteEntryIn(folder, ExtractFileName(parked), true);
      }});
}

std::unique_ptr<platform::TFolderHandle> ForceSubFolder(const platform::TFolderHandle& parent,
                                                       const String& name, bool replaceLink) {
  auto folder = platform::OpenSubFolder(parent, name);
  if (folder) return folder;
  const uint32_t error = platform::LastError();
  const bool link = error == platform::kErrorStoppedOnSymlink;
  if (link && replaceLink && !platform::DeleteEntryIn(parent, name)) return nullptr;
  if (!link && error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound)
    return nullptr;
  if (!platform::CreateFolderIn(parent, name) &&
      platform::LastError() != platform::kErrorAlreadyExists)
    return nullptr;
  return platform::OpenSubFolder(parent, name);
}

std::unique_ptr<platform::TFolderHandle> ForceFolderBelow(const String& base,
                                                         const String& folder) {
  const String root = IncludeTrailingBackslash(base);
  if (!StartsTextLocale(folder, root)) return nullptr;
  auto current = platform::OpenFolderBelow(root, root);
  for (size_t at = root.size(); current && at < folder.size();) {
    const size_t end = folder.find(u'\\', at);
    current = ForceSubFolder(*current, folder.substr(at, end - at), false);
    at = end + 1;
  }
  return current;
}

void DeleteTreeIn(const platform::TFolderHandle& parent, const String& name) {
  if (auto folder = platform::OpenSubFolder(parent, name)) {
    std::vector<platform::TFolderEntry> entries;
    if (platform::ListFolder(*folder, entries)) {
      for (const platform::TFolderEntry& e : entries) {
        if (!e.link && (e.attributes & platform::kFileAttributeDirectory))
          DeleteTreeIn(*folder, e.name);
        else
          platform::DeleteEntryIn(*folder, e.name, true);
      }
    }
  } else if (platform::LastError() != platform::kErrorStoppedOnSymlink) {
    return;
  }
  platform::DeleteEntryIn(parent, name, true);
}

void DeleteFolderBelow(const String& folder, bool onlyIfEmpty, const String& base) {
  const String path = ExcludeTrailingBackslash(folder);
  const String name = ExtractFileName(path), parentPath = ExtractFilePath(path);
  // The base itself is reached from its parent.
  const bool fromParent =
      base.empty() || SameTextLocale(IncludeTrailingBackslash(path), IncludeTrailingBackslash(base));
  const auto parent = platform::OpenFolderBelow(fromParent ? parentPath : base, parentPath);
  if (!parent || name.empty()) return;
  // A file of that name is no folder to delete.
  const uint32_t a = platform::GetAttributes(parent->Path() + name);
  if (a == platform::kInvalidFileAttributes || !(a & platform::kFileAttributeDirectory)) return;
  if (onlyIfEmpty)
    platform::DeleteEntryIn(*parent, name, true);
  else
    DeleteTreeIn(*parent, name);
}

bool DeleteFileBelow(const String& base, const String& path) {
  const std::unique_ptr<platform::TFolderHandle> folder =
      platform::OpenFolderBelow(base, ExtractFilePath(path));
  if (!folder) {
    const uint32_t error = platform::LastError();
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) return true;
    RunLog(u"Not deleted, its folder cannot be reached without a link: " + path);
    return false;
  }
  DeleteFileOrDefer(*folder, ExtractFileName(path));
  return true;
}

std::unique_ptr<TStream> OpenFileBelow(const String& base, const String& path, uint32_t share) {
  const std::unique_ptr<platform::TFolderHandle> folder =
      platform::OpenFolderBelow(base, ExtractFilePath(path));
  if (!folder) return nullptr;
  return platform::OpenFileIn(*folder, ExtractFileName(path), platform::kGenericRead, share,
                              platform::kOpenExisting);
}

void SaveFileReplacing(const String& path, const std::function<void(TStream& file)>& write) {
  const String fresh = path + u".new";
  // A leftover of an interrupted run, or a link planted there: removed, not
  // followed (a link is deleted itself).
  platform::SetAttributes(fresh, 0);
  platform::RemoveFile(fresh);
  std::unique_ptr<TStream> file =
      platform::OpenFileShared(fresh, platform::kGenericWrite, 0, platform::kCreateNew);
  if (!file) throw EFCreateError(fresh, platform::SystemErrorText(platform::LastError()));
  try {
    write(*file);
    // On the disk before it replaces the older data.
    if (!file->FlushToDisk()) platform::RaiseLastOSError(fresh);
    file.reset();
    if (!platform::MoveFileWithOptions(
            fresh, path, platform::kMoveFileReplaceExisting | platform::kMoveFileWriteThrough))
      platform::RaiseLastOSError(fresh + u" -> " + path);
  } catch (...) {
    file.reset();
    platform::RemoveFile(fresh);
    throw;
  }
}

void DeleteOnReboot(const String& path) {
  platform::MoveFileWithOptions(path, String(), platform::kMoveFileDelayUntilReboot);
}

bool RestartNeeded() {
  return restartNeeded;
}

void ResetRestartNeeded() {
  restartNeeded = false;
}

void RunAndWait(const String& commandLine) {
  platform::TProcessInfo info;
  if (!platform::StartProcess(commandLine, platform::kSwShow, info)) return;
  // A program that is still busy after 5 seconds is left running unwaited;
  // one without a message queue fails the idle wait at once and is waited for.
  if (platform::WaitForProcessIdle(info.process, 5000) == platform::kWaitTimeout) return;
  platform::Wait(info.process, platform::kInfinite);
}

void FindFiles(const String& root, const String& excludedPrefix, TVelStringList& result) {
  if (platform::IsLink(root)) return;
  TFileSearch(excludedPrefix, result).Search(IncludeTrailingBackslash(root));
}

void TSetupActiveX::Unregister(const String& dll) {
  CallExport(dll, "DllUnregisterServer");
}

void TSetupActiveX::CallExport(const String& dll, const char* exportName) {
  const uint32_t previousMode = platform::SetThreadErrorModeTo(platform::kSemFailCriticalErrors);
  const String previousFolder = platform::CurrentFolder();
  const String folder = ExtractFilePath(dll);
  if (!folder.empty()) platform::SetCurrentFolder(folder);
  platform::TLibrary library;
  const bool loaded = library.Load(dll);
  if (!previousFolder.empty()) platform::SetCurrentFolder(previousFolder);
  platform::SetThreadErrorModeTo(previousMode);
  if (loaded) library.CallExport(exportName);
}

bool ShellOpen(const String& file, const String& parameters) {
  if (file.empty()) return false;
  if (IsAddress(file) || IsMailto(file)) {
    if (platform::RunningUnderWine())
      return platform::ShellExecuteSimple(u"", u"winebrowser", file, u"", platform::kSwShow) > 32;
    return platform::ShellExecuteSimple(u"", file, u"", u"", platform::kSwShow) > 32;
  }
  return platform::ShellExecuteSimple(u"", file, parameters, u"", platform::kSwShow) > 32;
}

int WaitWithMessages(const platform::TWaitHandle& handle, uint32_t timeoutMs) {
  platform::TWaitHandle signal;
  std::function<void()> run;
  if (platform::IsMainThread()) {
    std::lock_guard lock(CallQueue().mutex);
    signal = CallQueue().signal;
    run = CallQueue().run;
  }
  return static_cast<int>(
      platform::WaitWithMessages(handle, timeoutMs, signal ? &signal : nullptr, run));
}

void SetMainThreadCallQueue(const platform::TWaitHandle& signal,
                            std::function<void()> runQueuedCalls) {
  std::lock_guard lock(CallQueue().mutex);
  CallQueue().signal = signal;
  CallQueue().run = signal ? std::move(runQueuedCalls) : std::function<void()>();
}
