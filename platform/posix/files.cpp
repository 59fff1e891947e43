// Files on the stand-in: Windows paths on mapped drives, the read-only
// attribute as the owner's write permission, the other attributes and the
// sharing of open files kept in this process.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "lib/exceptions.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/posix/internal.h"
#include "platform/posix/standin.h"
#include "platform/security.h"

namespace platform {
namespace {

using namespace posix_internal;

constexpr uint32_t kStoredAttributes =
    kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive;
constexpr uint32_t kAttributesSet = 0x80000000;  // marks an entry set by SetAttributes

struct TOpenFile {
  uint64_t id;
  uint32_t access;
  uint32_t share;
};

struct TFileTables {
  std::mutex mutex;
  std::map<std::string, uint32_t> attributes;            // host path -> stored bits
  std::map<std::string, std::vector<TOpenFile>> opened;  // host path -> open handles
  std::map<std::string, TSecurityInfo> security;         // host path -> descriptor set here
  // Files deleted while handles that share deletion held them: they keep
  // their names until the last handle closes, like on Wine.
  std::set<std::string> pending;
  uint64_t next_id = 1;
  uint32_t temp_counter = 0;
};

TFileTables& Tables() {
  static TFileTables* tables = new TFileTables();
  return *tables;
}

bool Fail(uint32_t code) {
  SetLastErrorCode(code);
  return false;
}

// The tests' hook (standin::SetFileHook).
struct THook {
  std::mutex mutex;
  standin::TFileHook hook;
};

THook& Hook() {
  static THook* hook = new THook();
  return *hook;
}

thread_local bool inHook = false;

void Notify(StringView operation, const String& path) {
  if (inHook) return;
  standin::TFileHook hook;
  {
    std::lock_guard lock(Hook().mutex);
    hook = Hook().hook;
  }
  if (!hook) return;
  inHook = true;
  try {
    hook(operation, path);
  } catch (...) {
    inHook = false;
    throw;
  }
  inHook = false;
}

bool FailErrno(const TResolved& r) {
  return Fail(ErrnoToWin32(errno, r.parentExists));
}

// Windows' sharing rule between an open handle and a new request.
bool Compatible(const TOpenFile& open, uint32_t access, uint32_t share) {
  const bool newRead = access & kGenericRead, newWrite = access & kGenericWrite;
  const bool oldRead = open.access & kGenericRead, oldWrite = open.access & kGenericWrite;
  if (newRead && !(open.share & kFileShareRead)) return false;
  if (newWrite && !(open.share & kFileShareWrite)) return false;
  if (oldRead && !(share & kFileShareRead)) return false;
  if (oldWrite && !(share & kFileShareWrite)) return false;
  return true;
}

// False with 32 when a handle of this file does not share deletion.
bool DeletionShared(const std::string& host) {
  std::lock_guard lock(Tables().mutex);
  auto it = Tables().opened.find(host);
  if (it == Tables().opened.end()) return true;
  for (const auto& o : it->second)
    if (!(o.share & kFileShareDelete)) return Fail(kErrorSharingViolation);
  return true;
}

// The entry itself, not what a symbolic link points to: a link reports the
// kind of its target (folder or file) and that it is a link, like a Windows
// symbolic link. False with errno set when the entry does not exist.
bool StatEntry(const std::string& host, struct stat& st, bool& link) {
  if (lstat(host.c_str(), &st) != 0) return false;
  link = S_ISLNK(st.st_mode);
  if (link) {
    struct stat target;
    const bool folder = stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    st.st_mode = (st.st_mode & ~S_IFMT) | (folder ? S_IFDIR : S_IFREG) | S_IWUSR;
    st.st_size = 0;
  }
  return true;
}

uint32_t AttributesOf(const std::string& host, const struct stat& st, bool link = false) {
  uint32_t a = 0;
  if (link) a |= kFileAttributeReparsePoint;
  if (S_ISDIR(st.st_mode)) a |= kFileAttributeDirectory;
  if (!(st.st_mode & S_IWUSR)) a |= kFileAttributeReadOnly;
  std::lock_guard lock(Tables().mutex);
  auto it = Tables().attributes.find(host);
  if (it != Tables().attributes.end())
    a |= it->second & kStoredAttributes;
  else if (!S_ISDIR(st.st_mode))
    a |= kFileAttributeArchive;
  return a ? a : kFileAttributeNormal;
}

void ForgetAttributes(const std::string& host) {
  std::lock_guard lock(Tables().mutex);
  Tables().attributes.erase(host);
}

// Removes the record of an open handle, wherever the file has moved since
// it was opened (handles follow renames); the last handle of a file marked
// for deletion deletes it. The caller holds the lock.
void ForgetOpenHandle(uint64_t id) {
  for (auto it = Tables().opened.begin(); it != Tables().opened.end(); ++it) {
    auto& v = it->second;
    for (size_t i = 0; i < v.size(); ++i)
      if (v[i].id == id) {
        v.erase(v.begin() + static_cast<ptrdiff_t>(i));
        if (v.empty()) {
          const std::string host = it->first;
          Tables().opened.erase(it);
          if (Tables().pending.erase(host) != 0) {
            unlink(host.c_str());
            Tables().attributes.erase(host);
          }
        }
        return;
      }
  }
}

bool IsOpen(const std::string& host) {
  std::lock_guard lock(Tables().mutex);
  return Tables().opened.count(host) != 0;
}

bool IsPendingDeletion(const std::string& host) {
  std::lock_guard lock(Tables().mutex);
  return Tables().pending.count(host) != 0;
}

void MoveAttributes(const std::string& from, const std::string& to) {
  std::lock_guard lock(Tables().mutex);
  // Open handles follow the file to its new name, like on Windows.
  auto open = Tables().opened.find(from);
  if (open != Tables().opened.end()) {
    std::vector<TOpenFile> handles = std::move(open->second);
    Tables().opened.erase(open);
    auto& moved = Tables().opened[to];
    moved.insert(moved.end(), handles.begin(), handles.end());
  }
  auto& t = Tables().attributes;
  t.erase(to);
  auto it = t.find(from);
  if (it == t.end()) return;
  t[to] = it->second;
  t.erase(it);
}

class TSharedFileStream : public TStream {
 public:
  TSharedFileStream(int fd, std::string host, uint64_t id, uint32_t access)
      : fd_(fd), host_(std::move(host)), id_(id), access_(access) {}
  bool FlushToDisk() override { return fsync(fd_) == 0; }
  ~TSharedFileStream() override {
    close(fd_);
    std::lock_guard lock(Tables().mutex);
    // The file may have been renamed while open: the handle went with it.
    ForgetOpenHandle(id_);
  }
  int64_t Read(void* buffer, int64_t count) override {
    if (count <= 0 || !(access_ & kGenericRead)) return 0;
    int64_t done = 0;
    while (done < count) {
      const ssize_t n =
          read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
      if (n <= 0) break;
      done += n;
    }
    return done;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (count <= 0 || !(access_ & kGenericWrite)) return 0;
    int64_t done = 0;
    while (done < count) {
      const ssize_t n =
          write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
      if (n <= 0) {
        writeError_ = n < 0 ? ErrnoToWin32(errno, true) : kErrorDiskFull;
        break;
      }
      done += n;
    }
    return done;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    return lseek(fd_, offset, whence);
  }
  void SetSize(int64_t size) override {
    if (ftruncate(fd_, size) != 0) throw EWriteError();
  }
  String WriteFailureReason() override {
    return writeError_ ? SystemErrorText(writeError_) : String();
  }

 private:
  uint32_t writeError_ = 0;
  int fd_;
  std::string host_;
  uint64_t id_;
  uint32_t access_;
};

bool CopyHostFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

}  // namespace

uint32_t GetAttributes(const String& path) {
  TResolved r;
  if (!Resolve(path, r)) return kInvalidFileAttributes;
  struct stat st;
  bool link = false;
  if (!StatEntry(r.host, st, link)) {
    FailErrno(r);
    return kInvalidFileAttributes;
  }
  return AttributesOf(r.host, st, link);
}

bool FileSizeAndTime(const String& path, uint64_t& size, int64_t& unixSeconds) {
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  bool link = false;
  if (!StatEntry(r.host, st, link)) return FailErrno(r);
  size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  unixSeconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool IsLink(const String& path) {
  const uint32_t a = GetAttributes(path);
  return a != kInvalidFileAttributes && (a & kFileAttributeReparsePoint);
}

bool CreateFolderLink(const String& link, const String& target) {
  TResolved rl, rt;
  if (!Resolve(link, rl) || !Resolve(target, rt)) return false;
  if (symlink(rt.host.c_str(), rl.host.c_str()) != 0) {
    if (errno == EEXIST) return Fail(kErrorAlreadyExists);
    return FailErrno(rl);
  }
  return true;
}

bool SetAttributes(const String& path, uint32_t attributes) {
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) return FailErrno(r);
  const mode_t mode =
      (attributes & kFileAttributeReadOnly) ? (st.st_mode & ~0222) : (st.st_mode | 0200);
  if (chmod(r.host.c_str(), mode & 07777) != 0) return FailErrno(r);
  std::lock_guard lock(Tables().mutex);
  Tables().attributes[r.host] = (attributes & kStoredAttributes) | kAttributesSet;
  return true;
}

bool SameFile(const String& a, const String& b) {
  TResolved x, y;
  struct stat sx, sy;
  return Resolve(a, x) && Resolve(b, y) && stat(x.host.c_str(), &sx) == 0 &&
         stat(y.host.c_str(), &sy) == 0 && sx.st_dev == sy.st_dev && sx.st_ino == sy.st_ino;
}

bool FileExists(const String& path) {
  const uint32_t a = GetAttributes(path);
  return a != kInvalidFileAttributes && !(a & kFileAttributeDirectory);
}

bool DirectoryExists(const String& path) {
  const uint32_t a = GetAttributes(path);
  return a != kInvalidFileAttributes && (a & kFileAttributeDirectory);
}

bool CreateFolder(const String& path) {
  Notify(u"create", path);
  TResolved r;
  if (!Resolve(path, r)) return false;
  if (mkdir(r.host.c_str(), 0777) != 0) return FailErrno(r);
  return true;
}

bool RemoveFolder(const String& path) {
  Notify(u"delete", path);
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  bool link = false;
  if (!StatEntry(r.host, st, link)) return FailErrno(r);
  if (!S_ISDIR(st.st_mode)) return Fail(kErrorDirectory);
  if (link) {
    // Removing a folder link removes the link, never what it points to.
    if (unlink(r.host.c_str()) != 0) return FailErrno(r);
    ForgetAttributes(r.host);
    return true;
  }
  if (!(st.st_mode & S_IWUSR)) return Fail(kErrorAccessDenied);
  if (!DeletionShared(r.host)) return false;
  if (rmdir(r.host.c_str()) != 0) return FailErrno(r);
  ForgetAttributes(r.host);
  return true;
}

bool RemoveFile(const String& path) {
  Notify(u"delete", path);
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  bool link = false;
  if (!StatEntry(r.host, st, link)) return FailErrno(r);
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  if (!(st.st_mode & S_IWUSR)) return Fail(kErrorAccessDenied);
  if (!DeletionShared(r.host)) return false;
  if (IsRunningImage(r.windows)) return Fail(kErrorAccessDenied);
  {
    // Held by handles that share deletion: only marked.
    std::lock_guard lock(Tables().mutex);
    if (Tables().opened.count(r.host) != 0) {
      Tables().pending.insert(r.host);
      return true;
    }
  }
  if (unlink(r.host.c_str()) != 0) return FailErrno(r);
  ForgetAttributes(r.host);
  return true;
}

bool RemoveFileUnshared(const String& path) {
  Notify(u"delete", path);
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  bool link = false;
  if (!StatEntry(r.host, st, link)) return FailErrno(r);
  if (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) return Fail(kErrorAccessDenied);
  if (IsOpen(r.host)) return Fail(kErrorSharingViolation);
  if (IsRunningImage(r.windows)) return Fail(kErrorAccessDenied);
  if (unlink(r.host.c_str()) != 0) return FailErrno(r);
  ForgetAttributes(r.host);
  return true;
}

bool CopyFileTo(const String& source, const String& target, bool failIfExists) {
  Notify(u"copy", source);
  // The source is read with read sharing, the target written without sharing.
  auto in = OpenFileShared(source, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting);
  if (!in) return false;
  TResolved rs, rt;
  if (!Resolve(source, rs) || !Resolve(target, rt)) return false;
  struct stat st;
  if (stat(rs.host.c_str(), &st) != 0) return FailErrno(rs);
  const uint32_t sourceAttributes = AttributesOf(rs.host, st);
  struct stat tst;
  if (stat(rt.host.c_str(), &tst) == 0) {
    if (failIfExists) return Fail(kErrorFileExists);
    if (S_ISDIR(tst.st_mode) || !(tst.st_mode & S_IWUSR)) return Fail(kErrorAccessDenied);
    if (AttributesOf(rt.host, tst) & (kFileAttributeHidden | kFileAttributeSystem))
      return Fail(kErrorAccessDenied);
  }
  auto out = OpenFileShared(target, kGenericWrite, 0, kCreateAlways);
  if (!out) return false;
  try {
    out->CopyFrom(*in, 0);
  } catch (const std::exception&) {
    return Fail(kErrorAccessDenied);
  }
  out.reset();
  // The copy takes the source's attributes (read-only included), with "archive".
  SetAttributes(target, sourceAttributes | kFileAttributeArchive);
  SetLastErrorCode(kErrorSuccess);
  return true;
}

bool MoveFileWithOptions(const String& source, const String& target, uint32_t flags) {
  if (flags & kMoveFileDelayUntilReboot) {
    uint32_t error = 0;
    const String from = Normalize(source, error);
    if (error) return Fail(error);
    String to;
    if (!target.empty()) {
      to = Normalize(target, error);
      if (error) return Fail(error);
    }
    RecordPendingRename(from, to, (flags & kMoveFileReplaceExisting) != 0);
    return true;
  }
  Notify(u"move", source);
  TResolved rs, rt;
  if (!Resolve(source, rs) || !Resolve(target, rt)) return false;
  struct stat st;
  if (lstat(rs.host.c_str(), &st) != 0) return FailErrno(rs);
  if (!DeletionShared(rs.host)) return false;
  // A file marked for deletion cannot be opened to be renamed (Windows).
  if (IsPendingDeletion(rs.host)) return Fail(kErrorAccessDenied);
  struct stat tst;
  const bool sameFile = SameName(rs.windows, rt.windows);
  if (!sameFile && lstat(rt.host.c_str(), &tst) == 0) {
    if (!(flags & kMoveFileReplaceExisting) || S_ISDIR(tst.st_mode))
      return Fail(kErrorAlreadyExists);
    if (!(tst.st_mode & S_IWUSR)) return Fail(kErrorAccessDenied);
    if (!DeletionShared(rt.host)) return false;
    if (IsPendingDeletion(rt.host)) return Fail(kErrorAccessDenied);
  }
  if (rename(rs.host.c_str(), rt.host.c_str()) != 0) {
    if (errno != EXDEV) return FailErrno(rt);
    if (!(flags & kMoveFileCopyAllowed) || S_ISDIR(st.st_mode)) return Fail(kErrorNotSameDevice);
    if (!CopyHostFile(rs.host, rt.host)) return Fail(kErrorAccessDenied);
    unlink(rs.host.c_str());
  }
  MoveAttributes(rs.host, rt.host);
  return true;
}

bool MoveFileTo(const String& source, const String& target) {
  return MoveFileWithOptions(source, target, kMoveFileCopyAllowed);
}

bool MakeTempFileName(const String& folder, const String& prefix, uint32_t unique, String& path) {
  const String base = IncludeTrailingBackslash(folder) + prefix.substr(0, 3);
  auto name = [&](uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", n & 0xFFFF);
    return base + Utf8ToUtf16(buf) + u".tmp";
  };
  if (unique != 0) {
    path = name(unique);
    return true;
  }
  uint32_t start;
  {
    std::lock_guard lock(Tables().mutex);
    start = (TickCount() + ++Tables().temp_counter * 7919) & 0xFFFF;
  }
  for (uint32_t i = 0; i < 0x10000; ++i) {
    const uint32_t n = ((start + i) & 0xFFFF) ? (start + i) & 0xFFFF : 1;
    const String candidate = name(n);
    if (OpenFileShared(candidate, kGenericWrite, 0, kCreateNew)) {
      path = candidate;
      return true;
    }
    if (LastError() != kErrorFileExists && LastError() != kErrorAlreadyExists) return false;
  }
  return Fail(kErrorFileExists);
}

namespace {

// The entry itself, like StatEntry, found in a held folder.
bool StatEntryAt(int folder, const std::string& name, struct stat& st, bool& link) {
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  link = S_ISLNK(st.st_mode);
  if (link) {
    struct stat target;
    const bool isFolder =
        fstatat(folder, name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
    st.st_mode = (st.st_mode & ~S_IFMT) | (isFolder ? S_IFDIR : S_IFREG) | S_IWUSR;
    st.st_size = 0;
  }
  return true;
}

// Lists an open folder (host: its host path, for the attribute table).
bool ListOpenFolder(int fd, const std::string& host, std::vector<TFolderEntry>& entries) {
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return Fail(kErrorAccessDenied);
  }
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    bool link = false;
    if (!StatEntryAt(dirfd(dir), name, st, link)) continue;
    TFolderEntry entry;
    entry.name = Utf8ToUtf16(name);
    entry.attributes = AttributesOf(host + "/" + name, st, link);
    entry.link = link;
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return true;
}

}  // namespace

bool ListFolder(const String& folder, std::vector<TFolderEntry>& entries) {
  Notify(u"list", folder);
  entries.clear();
  TResolved r;
  if (!Resolve(folder, r)) return false;
  const int fd = open(r.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOTDIR) return Fail(kErrorDirectory);
    return FailErrno(r);
  }
  return ListOpenFolder(fd, r.host, entries);
}

namespace {

// Opens a file whose state the caller found (exists, and its mode in st)
// under Windows' sharing rules; openFile opens it with the given flags.
std::unique_ptr<TStream> OpenChecked(const std::string& host, bool exists, const struct stat& st,
                                     bool parentExists, uint32_t access, uint32_t share,
                                     uint32_t disposition,
                                     const std::function<int(int flags)>& openFile) {
  if (disposition < kCreateNew || disposition > kTruncateExisting) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  if (exists) {
    if (S_ISDIR(st.st_mode)) {
      Fail(kErrorAccessDenied);
      return nullptr;
    }
    if (disposition == kCreateNew) {
      Fail(kErrorFileExists);
      return nullptr;
    }
    const bool writes = (access & kGenericWrite) || disposition == kCreateAlways ||
                        disposition == kTruncateExisting;
    if (writes && !(st.st_mode & S_IWUSR)) {
      Fail(kErrorAccessDenied);
      return nullptr;
    }
  } else {
    if (!parentExists) {
      Fail(kErrorPathNotFound);
      return nullptr;
    }
    if (disposition == kOpenExisting || disposition == kTruncateExisting) {
      Fail(kErrorFileNotFound);
      return nullptr;
    }
  }
  std::lock_guard lock(Tables().mutex);
  auto& opened = Tables().opened[host];
  for (const auto& o : opened)
    if (!Compatible(o, access, share)) {
      if (opened.empty()) Tables().opened.erase(host);
      Fail(kErrorSharingViolation);
      return nullptr;
    }
  int flags = O_CLOEXEC;
  if ((access & kGenericRead) && (access & kGenericWrite))
    flags |= O_RDWR;
  else if (access & kGenericWrite)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == kCreateAlways) flags |= O_CREAT | O_TRUNC;
  if (disposition == kOpenAlways) flags |= O_CREAT;
  if (disposition == kTruncateExisting) flags |= O_TRUNC;
  if ((flags & O_TRUNC) && !(flags & (O_WRONLY | O_RDWR))) flags = (flags & ~O_RDONLY) | O_RDWR;
  const int fd = openFile(flags);
  if (fd < 0) {
    const int err = errno;
    if (opened.empty()) Tables().opened.erase(host);
    Fail(err == EEXIST   ? kErrorFileExists
         : err == ELOOP ? kErrorStoppedOnSymlink
                        : ErrnoToWin32(err, parentExists));
    return nullptr;
  }
  if (!exists || disposition == kCreateAlways) Tables().attributes.erase(host);
  const uint64_t id = Tables().next_id++;
  opened.push_back({id, access, share});
  SetLastErrorCode(exists && (disposition == kCreateAlways || disposition == kOpenAlways)
                       ? kErrorAlreadyExists
                       : kErrorSuccess);
  return std::make_unique<TSharedFileStream>(fd, host, id, access);
}

}  // namespace

std::unique_ptr<TStream> OpenFileShared(const String& path, uint32_t access, uint32_t share,
                                        uint32_t disposition) {
  Notify(u"open", path);
  TResolved r;
  if (!Resolve(path, r)) return nullptr;
  struct stat st {};
  const bool exists = stat(r.host.c_str(), &st) == 0;
  return OpenChecked(r.host, exists, st, r.parentExists, access, share, disposition,
                     [&](int flags) { return open(r.host.c_str(), flags, 0666); });
}

std::unique_ptr<TStream> RewritePlainFile(const String& path, uint32_t share) {
  TResolved r;
  if (!Resolve(path, r)) return nullptr;
  struct stat st;
  if (lstat(r.host.c_str(), &st) != 0) {
    FailErrno(r);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
    Fail(kErrorNotAReparsePoint);
    return nullptr;
  }
  std::unique_ptr<TStream> stream = OpenFileShared(path, kGenericWrite, share, kOpenExisting);
  if (stream) stream->SetSize(0);
  return stream;
}

namespace {

// A folder held open: an entry of the open-handle table without delete
// sharing, so that it cannot be moved or removed while held.
class TPosixPrivateFolder : public TPrivateFolder {
 public:
  TPosixPrivateFolder(String path, std::string host, uint64_t id) : host_(std::move(host)), id_(id) {
    path_ = std::move(path);
  }
  ~TPosixPrivateFolder() override {
    std::lock_guard lock(Tables().mutex);
    ForgetOpenHandle(id_);
  }

 private:
  std::string host_;
  uint64_t id_;
};

String RandomHex(int digits) {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::lock_guard lock(mutex);
  String text;
  while (static_cast<int>(text.size()) < digits) text.push_back(kHex[generator() & 0xF]);
  return text;
}

}  // namespace

std::unique_ptr<TPrivateFolder> CreatePrivateFolder(const String& parent, const String& prefix) {
  for (int attempt = 0; attempt < 32; ++attempt) {
    const String path = IncludeTrailingBackslash(parent) + prefix + RandomHex(16);
    TResolved r;
    if (!Resolve(path, r)) return nullptr;
    if (mkdir(r.host.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      FailErrno(r);
      return nullptr;
    }
    std::lock_guard lock(Tables().mutex);
    TSecurityInfo& info = Tables().security[r.host];
    info.owner = kSidAdministrators;
    info.protectedAcl = true;
    info.entries = {{kSidAdministrators, true, 0x1F01FF}, {kSidLocalSystem, true, 0x1F01FF}};
    const uint64_t id = Tables().next_id++;
    Tables().opened[r.host].push_back({id, kGenericRead, kFileShareRead | kFileShareWrite});
    return std::make_unique<TPosixPrivateFolder>(IncludeTrailingBackslash(path), r.host, id);
  }
  Fail(kErrorAlreadyExists);
  return nullptr;
}

bool SetFolderAccess(const String& folder, TFolderAccess access) {
  TResolved r;
  if (!Resolve(ExcludeTrailingBackslash(folder), r)) return false;
  struct stat st;
  if (lstat(r.host.c_str(), &st) != 0) return FailErrno(r);
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) return Fail(kErrorNotAReparsePoint);
  std::lock_guard lock(Tables().mutex);
  TSecurityInfo& info = Tables().security[r.host];
  info.protectedAcl = true;
  info.entries = {{kSidAdministrators, true, 0x1F01FF}, {kSidLocalSystem, true, 0x1F01FF}};
  if (access == TFolderAccess::LikeProgramFiles)
    info.entries.push_back({kSidUsers, true, 0x1200A9});
  if (info.owner.empty()) info.owner = kSidAdministrators;
  return true;
}

namespace {

// The stand-in's run locks: named, held by at most one lock object.
struct TRunLocks {
  std::mutex mutex;
  std::condition_variable released;
  std::set<String> held;      // folded names
  std::set<String> squatted;  // made by a standard user
};
TRunLocks& RunLocks() {
  static TRunLocks locks;
  return locks;
}

class TPosixRunLock : public TRunLock {
 public:
  TPosixRunLock(String name, bool guarded) : name_(std::move(name)) { guarded_ = guarded; }
  ~TPosixRunLock() override {
    if (!guarded_) return;
    std::lock_guard lock(RunLocks().mutex);
    RunLocks().held.erase(name_);
    RunLocks().released.notify_all();
  }

 private:
  String name_;
};

}  // namespace

std::unique_ptr<TRunLock> AcquireRunLock(const String& name, uint32_t waitMs) {
  const String folded = UpperAscii(name);
  std::unique_lock lock(RunLocks().mutex);
  if (RunLocks().squatted.count(folded)) return std::make_unique<TPosixRunLock>(folded, false);
  const auto free = [&] { return RunLocks().held.count(folded) == 0; };
  if (!RunLocks().released.wait_for(lock, std::chrono::milliseconds(waitMs), free)) return nullptr;
  RunLocks().held.insert(folded);
  return std::make_unique<TPosixRunLock>(folded, true);
}

namespace standin {
void SquatRunLock(const String& name, bool squatted) {
  std::lock_guard lock(RunLocks().mutex);
  if (squatted)
    RunLocks().squatted.insert(UpperAscii(name));
  else
    RunLocks().squatted.erase(UpperAscii(name));
}
}  // namespace standin

bool ReadSecurityInfo(const String& path, TSecurityInfo& info) {
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) return FailErrno(r);
  std::lock_guard lock(Tables().mutex);
  const auto it = Tables().security.find(r.host);
  if (it != Tables().security.end()) {
    info = it->second;
    return true;
  }
  // What a user's own folder inherits: the system, the administrators and
  // the user may change it.
  info = TSecurityInfo();
  info.owner = u"S-1-5-21-1000000000-1000000000-1000000000-1001";
  info.entries = {{kSidLocalSystem, true, 0x1F01FF},
                  {kSidAdministrators, true, 0x1F01FF},
                  {info.owner, true, 0x1F01FF}};
  return true;
}

// ---- held folders ----

namespace {

// A folder held open: its descriptor, and an entry of the open-handle table
// without delete sharing, so that it cannot be moved or removed while held.
class TPosixFolder : public TFolderHandle {
 public:
  TPosixFolder(int fd, std::string host, String path) : fd_(fd), host_(std::move(host)) {
    path_ = std::move(path);
    std::lock_guard lock(Tables().mutex);
    id_ = Tables().next_id++;
    Tables().opened[host_].push_back({id_, kGenericRead, kFileShareRead | kFileShareWrite});
  }
  ~TPosixFolder() override {
    close(fd_);
    std::lock_guard lock(Tables().mutex);
    ForgetOpenHandle(id_);
  }
  int Fd() const { return fd_; }
  const std::string& Host() const { return host_; }

 private:
  int fd_;
  std::string host_;
  uint64_t id_ = 0;
};

const TPosixFolder& Held(const TFolderHandle& folder) {
  return static_cast<const TPosixFolder&>(folder);
}

// A name of one entry: no separators, no stream, not "." or "..".
bool ValidName(const String& name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(u"\\/:") == String::npos;
}

// The entry's name as spelled on disk (names compare without regard to case).
bool FindEntryAt(int folder, const String& name, std::string& found) {
  const std::string exact = Utf16ToUtf8(name);
  struct stat st;
  if (fstatat(folder, exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    found = exact;
    return true;
  }
  const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return false;
  }
  return FindEntryName(dir, name, found);
}

// An existing entry of the held folder, itself (not what a link points to):
// its name as spelled on disk, its host path and its state.
bool StatEntryIn(const TPosixFolder& folder, const String& name, std::string& found,
                 std::string& host, struct stat& st) {
  if (!ValidName(name)) return Fail(kErrorInvalidName);
  if (!FindEntryAt(folder.Fd(), name, found) ||
      fstatat(folder.Fd(), found.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(kErrorFileNotFound);
  host = folder.Host() + "/" + found;
  return true;
}

std::unique_ptr<TFolderHandle> OpenFolderAt(const TPosixFolder& parent, const String& name) {
  std::string found, host;
  struct stat st;
  if (!StatEntryIn(parent, name, found, host, st)) return nullptr;
  if (S_ISLNK(st.st_mode)) {
    Fail(kErrorStoppedOnSymlink);
    return nullptr;
  }
  if (!S_ISDIR(st.st_mode)) {
    Fail(kErrorDirectory);
    return nullptr;
  }
  const int fd = openat(parent.Fd(), found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // Swapped since it was looked at.
    Fail(errno == ELOOP || errno == ENOTDIR ? kErrorStoppedOnSymlink : ErrnoToWin32(errno, true));
    return nullptr;
  }
  return std::make_unique<TPosixFolder>(fd, host, parent.Path() + Utf8ToUtf16(found) + u"\\");
}

}  // namespace

std::unique_ptr<TFolderHandle> OpenFolderBelow(const String& base, const String& folder) {
  Notify(u"open", folder);
  TResolved rb;
  if (!Resolve(base, rb)) return nullptr;
  uint32_t error = 0;
  const String path = IncludeTrailingBackslash(Normalize(folder, error));
  if (error) {
    Fail(error);
    return nullptr;
  }
  const String root = IncludeTrailingBackslash(rb.windows);
  if (path.size() < root.size() || !SameName(StringView(path).substr(0, root.size()), root)) {
    Fail(kErrorBadPathname);
    return nullptr;
  }
  // The base is taken as it is, links on the way to it followed.
  const int fd = open(rb.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno == ENOTDIR ? kErrorDirectory : ErrnoToWin32(errno, rb.parentExists));
    return nullptr;
  }
  std::unique_ptr<TFolderHandle> current = std::make_unique<TPosixFolder>(fd, rb.host, root);
  for (size_t at = root.size(); at < path.size();) {
    const size_t end = path.find(u'\\', at);
    std::unique_ptr<TFolderHandle> next =
        OpenFolderAt(Held(*current), path.substr(at, end - at));
    if (!next) {
      // A missing folder further down is a missing path.
      if (LastError() == kErrorFileNotFound && end + 1 < path.size()) Fail(kErrorPathNotFound);
      return nullptr;
    }
    current = std::move(next);
    at = end + 1;
  }
  return current;
}

std::unique_ptr<TFolderHandle> OpenSubFolder(const TFolderHandle& parent, const String& name) {
  Notify(u"open", parent.Path() + name);
  return OpenFolderAt(Held(parent), name);
}

bool ListFolder(const TFolderHandle& folder, std::vector<TFolderEntry>& entries) {
  Notify(u"list", folder.Path());
  entries.clear();
  const int fd = openat(Held(folder).Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(ErrnoToWin32(errno, true));
  return ListOpenFolder(fd, Held(folder).Host(), entries);
}

std::unique_ptr<TStream> OpenFileIn(const TFolderHandle& folder, const String& name,
                                    uint32_t access, uint32_t share, uint32_t disposition,
                                    bool onlyName) {
  Notify(u"open", folder.Path() + name);
  if (!ValidName(name)) {
    Fail(kErrorInvalidName);
    return nullptr;
  }
  if (disposition != kOpenExisting && disposition != kCreateNew) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  const TPosixFolder& held = Held(folder);
  std::string found;
  struct stat st {};
  const bool exists = FindEntryAt(held.Fd(), name, found) &&
                      fstatat(held.Fd(), found.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists) found = Utf16ToUtf8(name);
  if (exists && S_ISLNK(st.st_mode)) {
    Fail(disposition == kCreateNew ? kErrorFileExists : kErrorStoppedOnSymlink);
    return nullptr;
  }
  // Another name of the file may lie anywhere: its content is not this folder's.
  if (onlyName && exists && disposition == kOpenExisting && (access & kGenericRead) &&
      S_ISREG(st.st_mode) && st.st_nlink > 1) {
    Fail(kErrorAccessDenied);
    return nullptr;
  }
  return OpenChecked(held.Host() + "/" + found, exists, st, true, access, share, disposition,
                     [&](int flags) {
                       return openat(held.Fd(), found.c_str(), flags | O_NOFOLLOW, 0666);
                     });
}

bool CreateFolderIn(const TFolderHandle& folder, const String& name) {
  Notify(u"create", folder.Path() + name);
  if (!ValidName(name)) return Fail(kErrorInvalidName);
  std::string found;
  if (FindEntryAt(Held(folder).Fd(), name, found)) return Fail(kErrorAlreadyExists);
  if (mkdirat(Held(folder).Fd(), Utf16ToUtf8(name).c_str(), 0777) != 0)
    return Fail(ErrnoToWin32(errno, true));
  return true;
}

bool DeleteEntryIn(const TFolderHandle& folder, const String& name, bool whileHeld) {
  Notify(u"delete", folder.Path() + name);
  const TPosixFolder& held = Held(folder);
  std::string found, host;
  struct stat st;
  if (!StatEntryIn(held, name, found, host, st)) return false;
  if (S_ISLNK(st.st_mode)) {
    // The link itself, never what it points to.
    if (unlinkat(held.Fd(), found.c_str(), 0) != 0) return Fail(ErrnoToWin32(errno, true));
    ForgetAttributes(host);
    return true;
  }
  // Opened for deletion without sharing: nobody else may hold it; while
  // held, every holder must share deletion.
  if (whileHeld ? !DeletionShared(host) : IsOpen(host)) return Fail(kErrorSharingViolation);
  // The read-only attribute is cleared through the handle first.
  if (!(st.st_mode & S_IWUSR)) fchmodat(held.Fd(), found.c_str(), (st.st_mode | 0200) & 07777, 0);
  if (S_ISDIR(st.st_mode)) {
    if (unlinkat(held.Fd(), found.c_str(), AT_REMOVEDIR) != 0)
      return Fail(ErrnoToWin32(errno, true));
  } else {
    if (IsRunningImage(held.Path() + Utf8ToUtf16(found))) return Fail(kErrorAccessDenied);
    std::lock_guard lock(Tables().mutex);
    if (Tables().opened.count(host) != 0) {
      Tables().pending.insert(host);
      return true;
    }
    if (unlinkat(held.Fd(), found.c_str(), 0) != 0) return Fail(ErrnoToWin32(errno, true));
  }
  ForgetAttributes(host);
  return true;
}

bool MoveEntryFrom(const TFolderHandle& folder, const String& name, const String& target) {
  Notify(u"move", folder.Path() + name);
  const TPosixFolder& held = Held(folder);
  std::string found, host;
  struct stat st;
  if (!StatEntryIn(held, name, found, host, st)) return false;
  TResolved rt;
  if (!Resolve(target, rt)) return false;
  if (!DeletionShared(host)) return false;
  if (IsPendingDeletion(host)) return Fail(kErrorAccessDenied);
  struct stat tst;
  if (lstat(rt.host.c_str(), &tst) == 0) return Fail(kErrorAlreadyExists);
  if (renameat(held.Fd(), found.c_str(), AT_FDCWD, rt.host.c_str()) != 0)
    return Fail(ErrnoToWin32(errno, rt.parentExists));
  MoveAttributes(host, rt.host);
  return true;
}

namespace posix_internal {
void ResetFiles() {
  {
    std::lock_guard lock(Hook().mutex);
    Hook().hook = nullptr;
  }
  std::lock_guard lock(Tables().mutex);
  Tables().attributes.clear();
  Tables().security.clear();
  // Handles of streams still alive stay registered until those streams close.
}
}  // namespace posix_internal

namespace standin {
void SetFileHook(TFileHook hook) {
  std::lock_guard lock(Hook().mutex);
  Hook().hook = std::move(hook);
}
}  // namespace standin

}  // namespace platform
