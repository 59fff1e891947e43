// Files and folders. Paths are Windows paths (drive letter, backslashes) on
// both backends; the Win32 backend adds the long-path prefix to paths of 260
// characters or more. Failures return false (or an invalid value) and set
// LastError() to the Win32 error code.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"

namespace platform {

constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kFileAttributeReparsePoint = 0x400;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// GetFileAttributesW / SetFileAttributesW (0 means "normal"). A link reports
// its own attributes (kFileAttributeReparsePoint, plus kFileAttributeDirectory
// for a folder link), not those of what it points to.
uint32_t GetAttributes(const String& path);
bool SetAttributes(const String& path, uint32_t attributes);
// GetFileAttributesExW: the size in bytes (0 for a folder) and the time of
// the last change, in seconds since 1970-01-01 UTC, of the entry itself.
bool FileSizeAndTime(const String& path, uint64_t& size, int64_t& lastWriteUnix);
bool FileExists(const String& path);       // exists and is not a folder
bool DirectoryExists(const String& path);  // exists and is a folder

bool CreateFolder(const String& path);  // one level (CreateDirectoryW)
bool RemoveFolder(const String& path);  // must be empty (RemoveDirectoryW)
// DeleteFileW: read-only files fail with 5. A file that other handles hold
// open with delete sharing is only marked for deletion: it disappears when
// the last of them closes, and until then its name stays taken (so Wine and
// the stand-in; Windows 10 on NTFS frees the name at once).
bool RemoveFile(const String& path);
// Deletes the file only when no other handle holds it open (CreateFileW for
// deletion without any sharing, deleted as that handle closes), so that its
// name is free once this returns true. A link is deleted itself, never what
// it points to. Fails with 32 while another handle holds the file, also one
// that shares deletion; read-only files, folders and the image of a running
// program fail with 5.
bool RemoveFileUnshared(const String& path);
// CopyFileW: an existing target is replaced unless failIfExists; a read-only
// target fails with 5.
bool CopyFileTo(const String& source, const String& target, bool failIfExists);
bool MoveFileTo(const String& source, const String& target);  // MoveFileW

constexpr uint32_t kMoveFileReplaceExisting = 0x1;
constexpr uint32_t kMoveFileCopyAllowed = 0x2;
constexpr uint32_t kMoveFileDelayUntilReboot = 0x4;
constexpr uint32_t kMoveFileWriteThrough = 0x8;
// MoveFileExW. With kMoveFileDelayUntilReboot the move (or, with an empty
// target, the deletion) is recorded in the registry value
// PendingFileRenameOperations and happens at the next restart.
bool MoveFileWithOptions(const String& source, const String& target, uint32_t flags);

// GetTempFileNameW: folder + prefix (first 3 characters) + hex number + ".tmp".
// With unique 0 a free name is chosen and the file is created.
bool MakeTempFileName(const String& folder, const String& prefix, uint32_t unique, String& path);

struct TFolderEntry {
  String name;
  uint32_t attributes = 0;
  uint64_t size = 0;
  // A junction or symbolic link (a name-surrogate reparse point): the entry
  // stands for something elsewhere. Walks of a tree never go through it.
  bool link = false;
};

// True when the path itself is a junction or symbolic link (to a folder or a
// file). Other reparse points (cloud placeholders, deduplicated files) hold
// their own data and are no links.
bool IsLink(const String& path);

// Creates a symbolic link to a folder (CreateSymbolicLinkW with the folder
// flag; unprivileged where the system allows it). Tests use it to plant links.
// Fails with 50 (not supported) where the system cannot show links it makes.
bool CreateFolderLink(const String& link, const String& target);
// The entries of a folder in the order the file system lists them ("." and
// ".." left out). False when the folder cannot be listed.
bool ListFolder(const String& folder, std::vector<TFolderEntry>& entries);

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileShareDelete = 0x4;
constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;
// CreateFileW with explicit access, sharing and disposition. Null on failure;
// a file held open without the needed sharing fails with 32. kCreateNew
// never follows a link at the name: the name exists, and it fails with 80.
std::unique_ptr<TStream> OpenFileShared(const String& path, uint32_t access, uint32_t share,
                                        uint32_t disposition);

// Opens an existing file to write it anew (emptied), only when it is a
// plain file: not a link or other reparse point, not a folder, and no other
// name (hard link) leads to it. The checks are made on the opened handle,
// so nothing is ever written through a link. Null on failure, with 4390
// (not a plain file) when it is not one.
std::unique_ptr<TStream> RewritePlainFile(const String& path, uint32_t share);

String CurrentFolder();  // without trailing backslash, except for a root
bool SetCurrentFolder(const String& path);
// GetFullPathNameW: absolute, "." and ".." resolved; does not touch the disk.
String FullPathName(const String& path);
// GetLongPathNameW: the path with every short (8.3) name expanded; false
// when the path does not exist.
bool LongPathName(const String& path, String& longPath);

}  // namespace platform
