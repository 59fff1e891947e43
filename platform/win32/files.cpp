// Files on the Win32 API; every path passes the long-path rule.
#include <windows.h>

#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

using win32::LongPath;
using win32::W;

class THandleStream : public TStream {
 public:
  explicit THandleStream(HANDLE h) : h_(h) {}
  ~THandleStream() override { CloseHandle(h_); }
  bool FlushToDisk() override { return FlushFileBuffers(h_) != 0; }
  int64_t Read(void* buffer, int64_t count) override {
    int64_t done = 0;
    while (done < count) {
      DWORD n = 0;
      const DWORD chunk = count - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count - done);
      if (!ReadFile(h_, static_cast<char*>(buffer) + done, chunk, &n, nullptr) || n == 0) break;
      done += n;
    }
    return done;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t done = 0;
    while (done < count) {
      DWORD n = 0;
      const DWORD chunk = count - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count - done);
      if (!WriteFile(h_, static_cast<const char*>(buffer) + done, chunk, &n, nullptr) || n == 0) {
        writeError_ = GetLastError();
        break;
      }
      done += n;
    }
    return done;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    LARGE_INTEGER dist, pos;
    dist.QuadPart = offset;
    const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                         : origin == SeekOrigin::Current ? FILE_CURRENT
                                                         : FILE_END;
    if (!SetFilePointerEx(h_, dist, &pos, method)) return -1;
    return pos.QuadPart;
  }
  void SetSize(int64_t size) override {
    const int64_t pos = Position();
    if (Seek(size, SeekOrigin::Begin) < 0 || !SetEndOfFile(h_)) throw EWriteError();
    Seek(pos < size ? pos : size, SeekOrigin::Begin);
  }
  String WriteFailureReason() override {
    return writeError_ ? win32::SystemErrorText(writeError_) : String();
  }

 private:
  HANDLE h_;
  DWORD writeError_ = 0;
};

// Junctions and symbolic links carry name-surrogate tags; a reparse point
// whose tag the system does not report counts as a link too.
bool IsLinkData(const WIN32_FIND_DATAW& data) {
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return data.dwReserved0 == 0 || IsReparseTagNameSurrogate(data.dwReserved0);
}

// Where the image's bytes rva .. rva + size come from in its file: true,
// with the file offset, when they lie within one section's file data.
bool ImageFileOffset(const uint8_t* base, uint64_t rva, uint64_t size, uint64_t& offset) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const uint64_t start = section->VirtualAddress;
    const uint64_t length = section->Misc.VirtualSize < section->SizeOfRawData
                                ? section->Misc.VirtualSize
                                : section->SizeOfRawData;
    if (rva >= start && rva - start <= length && size <= length - (rva - start)) {
      offset = section->PointerToRawData + (rva - start);
      return true;
    }
  }
  return false;
}

// Whether the open file is the one the running program was loaded from:
// the system compares a view of it with the program's image.
bool IsProgramFile(HANDLE file, const void* image) {
  using TAreMappedFilesTheSame = LONG(NTAPI*)(PVOID, PVOID);
  const auto same = reinterpret_cast<TAreMappedFilesTheSame>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame")));
  if (!same) return false;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 1);
  const bool result = view && same(const_cast<void*>(image), view) == 0;
  if (view) UnmapViewOfFile(view);
  CloseHandle(mapping);
  return result;
}

}  // namespace

std::unique_ptr<TStream> OpenDataResource(const String& name) {
  TResourceBytes bytes;
  if (!FindDataResource(name, bytes)) return nullptr;
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  uint64_t offset = 0;
  if (bytes.size > 0 && bytes.data > base &&
      ImageFileOffset(base, static_cast<uint64_t>(bytes.data - base), bytes.size, offset)) {
    // No sharing for writing or deleting: while the handle is open, nobody
    // can change the file or put another one in its place.
    HANDLE file = CreateFileW(W(LongPath(ModuleFileName())), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      auto stream = std::make_unique<THandleStream>(file);
      if (IsProgramFile(file, base)) {
        return std::make_unique<TStreamWindow>(std::move(stream), static_cast<int64_t>(offset),
                                               static_cast<int64_t>(bytes.size));
      }
    }
  }
  return std::make_unique<TReadOnlyMemoryStream>(bytes.data, static_cast<int64_t>(bytes.size));
}

bool IsLink(const String& path) {
  const DWORD a = GetFileAttributesW(W(LongPath(path)));
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  // The search of a name without wildcards reports the entry itself, with its tag.
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(W(LongPath(ExcludeTrailingBackslash(path))), &data);
  if (h == INVALID_HANDLE_VALUE) return true;
  FindClose(h);
  return IsLinkData(data) || !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CreateFolderLink(const String& link, const String& target) {
  constexpr DWORD kDirectory = 0x1, kUnprivileged = 0x2;
  if (!CreateSymbolicLinkW(W(LongPath(link)), W(target), kDirectory | kUnprivileged)) {
    // Systems that do not know the unprivileged flag refuse it as a parameter.
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return false;
    if (!CreateSymbolicLinkW(W(LongPath(link)), W(target), kDirectory)) return false;
  }
  // Some systems (Wine) report success without making a link they can show.
  if (IsLink(link)) return true;
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

uint32_t GetAttributes(const String& path) {
  return GetFileAttributesW(W(LongPath(path)));
}

bool SetAttributes(const String& path, uint32_t attributes) {
  return SetFileAttributesW(W(LongPath(path)), attributes) != 0;
}

bool FileSizeAndTime(const String& path, uint64_t& size, int64_t& unixSeconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(W(LongPath(path)), GetFileExInfoStandard, &data)) return false;
  size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
             ? 0
             : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns ticks
  unixSeconds = ticks >= kUnixEpoch ? static_cast<int64_t>((ticks - kUnixEpoch) / 10000000)
                                    : -static_cast<int64_t>((kUnixEpoch - ticks) / 10000000);
  return true;
}

bool SameFile(const String& a, const String& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const String* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE h = CreateFileW(W(LongPath(*paths[i])), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool FileExists(const String& path) {
  const DWORD a = GetFileAttributesW(W(LongPath(path)));
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const String& path) {
  const DWORD a = GetFileAttributesW(W(LongPath(path)));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolder(const String& path) {
  return CreateDirectoryW(W(LongPath(path)), nullptr) != 0;
}
bool RemoveFolder(const String& path) {
  return RemoveDirectoryW(W(LongPath(path))) != 0;
}
bool RemoveFile(const String& path) {
  return DeleteFileW(W(LongPath(path))) != 0;
}

bool RemoveFileUnshared(const String& path) {
  // No sharing at all: the open fails while any other handle reads, writes
  // or may delete the file, and the deletion at close is then final.
  HANDLE h = CreateFileW(W(LongPath(path)), DELETE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool CopyFileTo(const String& source, const String& target, bool failIfExists) {
  return CopyFileW(W(LongPath(source)), W(LongPath(target)), failIfExists) != 0;
}

bool MoveFileTo(const String& source, const String& target) {
  return MoveFileW(W(LongPath(source)), W(LongPath(target))) != 0;
}

bool MoveFileWithOptions(const String& source, const String& target, uint32_t flags) {
  // Moves at restart take the paths as given: the system records them itself.
  const bool delayed = flags & MOVEFILE_DELAY_UNTIL_REBOOT;
  const String from = delayed ? source : LongPath(source);
  const String to = delayed ? target : LongPath(target);
  return MoveFileExW(W(from), to.empty() ? nullptr : W(to), flags) != 0;
}

bool MakeTempFileName(const String& folder, const String& prefix, uint32_t unique, String& path) {
  wchar_t buffer[MAX_PATH + 1];
  if (!GetTempFileNameW(W(folder), W(prefix), unique, buffer)) return false;
  path = win32::S(buffer);
  return true;
}

bool ListFolder(const String& folder, std::vector<TFolderEntry>& entries) {
  entries.clear();
  const String pattern = LongPath(IncludeTrailingBackslash(folder) + u"*");
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(W(pattern), &data);
  if (h == INVALID_HANDLE_VALUE) {
    // An empty folder still has "." and ".."; a missing one fails.
    return false;
  }
  do {
    const String name = win32::S(data.cFileName);
    if (name == u"." || name == u"..") continue;
    TFolderEntry e;
    e.name = name;
    e.attributes = data.dwFileAttributes;
    e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    e.link = IsLinkData(data);
    entries.push_back(std::move(e));
  } while (FindNextFileW(h, &data));
  const DWORD error = ::GetLastError();
  FindClose(h);
  if (error != ERROR_NO_MORE_FILES) {
    ::SetLastError(error);
    return false;
  }
  return true;
}

std::unique_ptr<TStream> OpenFileShared(const String& path, uint32_t access, uint32_t share,
                                        uint32_t disposition) {
  // A new file is made at the name itself: a link there counts as a name
  // that exists, never as a way to create its target.
  const DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (disposition == CREATE_NEW ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h = CreateFileW(W(LongPath(path)), access, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<THandleStream>(h);
}

std::unique_ptr<TStream> RewritePlainFile(const String& path, uint32_t share) {
  HANDLE h = CreateFileW(W(LongPath(path)), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1) {
    CloseHandle(h);
    SetLastError(ERROR_NOT_A_REPARSE_POINT);
    return nullptr;
  }
  if (!SetEndOfFile(h)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return nullptr;
  }
  return std::make_unique<THandleStream>(h);
}

// ---- held folders ----

namespace {

// Access of a held folder: listing, passing through and reading its
// attributes. Others may read and write it, but nobody may rename or delete
// it while it is held (no delete sharing).
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                SYNCHRONIZE;
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

class TWin32Folder : public TFolderHandle {
 public:
  TWin32Folder(HANDLE h, String path) : h_(h) { path_ = std::move(path); }
  ~TWin32Folder() override { CloseHandle(h_); }

 private:
  HANDLE h_;
};

// The full path of the open file or folder as the system names it now
// ("\\?\" removed; "\\?\UNC\" back to "\\").
bool FinalPath(HANDLE h, String& path) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  DWORD n = GetFinalPathNameByHandleW(h, nullptr, 0, flags);
  if (n == 0) return false;
  String s(n, u'\0');
  n = GetFinalPathNameByHandleW(h, W(s), n, flags);
  if (n == 0 || n >= s.size()) return false;
  s.resize(n);
  if (StartsTextLocale(s, u"\\\\?\\UNC\\"))
    s = u"\\\\" + s.substr(8);
  else if (StartsTextLocale(s, u"\\\\?\\"))
    s = s.substr(4);
  path = s;
  return true;
}

// A name of one entry: no separators, no stream, not "." or "..".
bool ValidName(const String& name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(u"\\/:*?\"<>|") == String::npos;
}

bool IsLinkTag(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (tag == 0 || IsReparseTagNameSurrogate(tag));
}

struct TOpenedEntry {
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD attributes = 0;
  bool link = false;
  String path;  // as the system names it
};

// Opens an entry of the held folder without following a link at its name,
// and checks that what was opened lies directly in that folder: a folder
// on the way swapped for a link since it was opened would show in the
// entry's final path. False with 681 (closed) when it does not.
bool OpenEntry(const TFolderHandle& folder, const String& name, DWORD access, DWORD share,
               DWORD disposition, DWORD flags, TOpenedEntry& entry) {
  if (!ValidName(name)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  entry.h = CreateFileW(W(LongPath(folder.Path() + name)), access, share, nullptr, disposition,
                        flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry.h == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(entry.h, FileAttributeTagInfo, &tag, sizeof tag)) {
    entry.attributes = tag.FileAttributes;
    entry.link = IsLinkTag(tag.FileAttributes, tag.ReparseTag);
  } else {
    BY_HANDLE_FILE_INFORMATION info;
    entry.attributes = GetFileInformationByHandle(entry.h, &info) ? info.dwFileAttributes : 0;
    entry.link = entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  }
  if (!FinalPath(entry.h, entry.path) ||
      !SameTextLocale(ExtractFilePath(entry.path), folder.Path())) {
    CloseHandle(entry.h);
    entry.h = INVALID_HANDLE_VALUE;
    ::SetLastError(kErrorStoppedOnSymlink);
    return false;
  }
  return true;
}

std::unique_ptr<TFolderHandle> OpenFolderAt(const TFolderHandle& parent, const String& name) {
  TOpenedEntry entry;
  if (!OpenEntry(parent, name, kFolderAccess, kFolderShare, OPEN_EXISTING,
                 FILE_FLAG_BACKUP_SEMANTICS, entry))
    return nullptr;
  if (entry.link || !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(entry.h);
    ::SetLastError(entry.link ? kErrorStoppedOnSymlink : ERROR_DIRECTORY);
    return nullptr;
  }
  return std::make_unique<TWin32Folder>(entry.h, IncludeTrailingBackslash(entry.path));
}

bool SetDisposition(HANDLE h) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

// Clears the attributes through the handle (a read-only entry cannot be deleted).
void ClearAttributes(HANDLE h, DWORD attributes) {
  if (!(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
    return;
  FILE_BASIC_INFO info{};
  info.FileAttributes = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_ATTRIBUTE_DIRECTORY
                                                                 : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
}

}  // namespace

std::unique_ptr<TFolderHandle> OpenFolderBelow(const String& base, const String& folder) {
  const String root = IncludeTrailingBackslash(FullPathName(base));
  const String path = IncludeTrailingBackslash(FullPathName(folder));
  if (!StartsTextLocale(path, root)) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  // The base is taken as it is, links on the way to it followed.
  HANDLE h = CreateFileW(W(LongPath(root)), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  String final;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !FinalPath(h, final)) {
    CloseHandle(h);
    ::SetLastError(ERROR_DIRECTORY);
    return nullptr;
  }
  std::unique_ptr<TFolderHandle> current =
      std::make_unique<TWin32Folder>(h, IncludeTrailingBackslash(final));
  for (size_t at = root.size(); at < path.size();) {
    const size_t end = path.find(u'\\', at);
    std::unique_ptr<TFolderHandle> next = OpenFolderAt(*current, path.substr(at, end - at));
    if (!next) {
      if (::GetLastError() == ERROR_FILE_NOT_FOUND && end + 1 < path.size())
        ::SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    current = std::move(next);
    at = end + 1;
  }
  return current;
}

std::unique_ptr<TFolderHandle> OpenSubFolder(const TFolderHandle& parent, const String& name) {
  return OpenFolderAt(parent, name);
}

bool ListFolder(const TFolderHandle& folder, std::vector<TFolderEntry>& entries) {
  // The folder cannot be renamed while held: its path leads to it.
  return ListFolder(folder.Path(), entries);
}

std::unique_ptr<TStream> OpenFileIn(const TFolderHandle& folder, const String& name,
                                    uint32_t access, uint32_t share, uint32_t disposition,
                                    bool onlyName) {
  if (disposition != OPEN_EXISTING && disposition != CREATE_NEW) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  TOpenedEntry entry;
  if (!OpenEntry(folder, name, access, share, disposition, FILE_ATTRIBUTE_NORMAL, entry))
    return nullptr;
  auto stream = std::make_unique<THandleStream>(entry.h);
  if (disposition == OPEN_EXISTING) {
    BY_HANDLE_FILE_INFORMATION info;
    if (entry.link) {
      ::SetLastError(kErrorStoppedOnSymlink);
      return nullptr;
    }
    // Another name of the file may lie anywhere: its content is not this folder's.
    if (onlyName && (access & GENERIC_READ) &&
        (!GetFileInformationByHandle(entry.h, &info) || info.nNumberOfLinks > 1)) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  return stream;
}

bool CreateFolderIn(const TFolderHandle& folder, const String& name) {
  if (!ValidName(name)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  // Made at the name itself: a link there is a name that exists.
  return CreateDirectoryW(W(LongPath(folder.Path() + name)), nullptr) != 0;
}

bool DeleteEntryIn(const TFolderHandle& folder, const String& name, bool whileHeld) {
  TOpenedEntry entry;
  const DWORD share = whileHeld ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  if (!OpenEntry(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, share,
                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, entry)) {
    // Wine refuses the right to write attributes of a read-only file (it
    // clears the attribute without it); Windows grants it.
    if (::GetLastError() != ERROR_ACCESS_DENIED ||
        !OpenEntry(folder, name, DELETE | FILE_READ_ATTRIBUTES, share, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS, entry))
      return false;
  }
  if (!entry.link) ClearAttributes(entry.h, entry.attributes);
  const bool deleted = SetDisposition(entry.h);
  const DWORD error = ::GetLastError();
  CloseHandle(entry.h);
  ::SetLastError(deleted ? ERROR_SUCCESS : error);
  return deleted;
}

bool MoveEntryFrom(const TFolderHandle& folder, const String& name, const String& target) {
  TOpenedEntry entry;
  if (!OpenEntry(folder, name, DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                 FILE_FLAG_BACKUP_SEMANTICS, entry))
    return false;
  const String to = LongPath(target);
  std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), reinterpret_cast<char16_t*>(info->FileName));
  const bool done = SetFileInformationByHandle(entry.h, FileRenameInfo, info,
                                               static_cast<DWORD>(buffer.size())) != 0;
  const DWORD error = ::GetLastError();
  CloseHandle(entry.h);
  ::SetLastError(done ? ERROR_SUCCESS : error);
  return done;
}

String CurrentFolder() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  String s(n, u'\0');
  const DWORD m = GetCurrentDirectoryW(n, W(s));
  s.resize(m < n ? m : 0);
  return s;
}

bool SetCurrentFolder(const String& path) {
  return SetCurrentDirectoryW(W(path)) != 0;
}

String FullPathName(const String& path) {
  const DWORD n = GetFullPathNameW(W(path), 0, nullptr, nullptr);
  if (n == 0) return path;
  String s(n, u'\0');
  const DWORD m = GetFullPathNameW(W(path), n, W(s), nullptr);
  if (m == 0 || m >= n) return path;
  s.resize(m);
  return s;
}

bool LongPathName(const String& path, String& longPath) {
  const DWORD n = GetLongPathNameW(W(path), nullptr, 0);
  if (n == 0) return false;
  String s(n, u'\0');
  const DWORD m = GetLongPathNameW(W(path), W(s), n);
  if (m == 0 || m >= n) return false;
  s.resize(m);
  longPath = s;
  return true;
}

}  // namespace platform
