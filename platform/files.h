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
// Whether both paths name the same existing file (any of its names, any
// way of writing the path).
bool SameFile(const String& a, const String& b);
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

// Folders that somebody else can change. The elevated installer reads,
// copies and deletes below users' data folders, whose owners may swap a
// folder for a link at any moment: between a listing and the work on what it
// listed, a path would lead elsewhere. These operations never follow a link
// and never act by path. A folder is held open while it is worked on (so
// that nobody can rename or delete it meanwhile), each entry is opened
// through the held folder that contains it and must still be there, and
// what is done to an entry is done through the entry's own handle.
class TFolderHandle {
 public:
  virtual ~TFolderHandle() = default;
  // The folder's full path as the system names it, with trailing backslash.
  const String& Path() const { return path_; }

 protected:
  String path_;
};

// Opens folder, which is base or lies below it. base is taken as it is: a
// folder that its users cannot rename (a user's profile folder, the
// installation folder), reached as the system finds it. Below base each
// folder is opened through the one above it, never following a link. Null
// with LastError() 681 when a folder on the way below base (folder itself
// included) is a link or is no longer where it was listed, 2 or 3 when it is
// missing, 267 when it is a file, 161 when folder does not lie below base.
std::unique_ptr<TFolderHandle> OpenFolderBelow(const String& base, const String& folder);
// A folder in the held folder, opened the same way (681 for a link).
std::unique_ptr<TFolderHandle> OpenSubFolder(const TFolderHandle& parent, const String& name);
// The entries of the held folder, as ListFolder.
bool ListFolder(const TFolderHandle& folder, std::vector<TFolderEntry>& entries);
// A file in the held folder, never through a link at its name. kOpenExisting
// opens an existing file: 681 for a link, 5 for a folder, and, with
// onlyName for reading, 5 for a file that has other names too (a hard link:
// its content may be anybody's, so it is not copied where a user reads it).
// kCreateNew makes a new file: 80 when the name is taken, by a link too.
std::unique_ptr<TStream> OpenFileIn(const TFolderHandle& folder, const String& name,
                                    uint32_t access, uint32_t share, uint32_t disposition,
                                    bool onlyName = false);
// Makes a folder in the held folder (183 when the name is taken).
bool CreateFolderIn(const TFolderHandle& folder, const String& name);
// Deletes an entry of the held folder through its own handle: a file (a
// read-only one too), a link (the link itself, never what it points to) or
// an empty folder (145 otherwise). Like RemoveFileUnshared it fails with 32
// while another handle holds the entry, and the name is free once it
// succeeds; with whileHeld, an entry that others hold open with delete
// sharing is marked for deletion instead and goes when the last of them
// closes it (like RemoveFile).
bool DeleteEntryIn(const TFolderHandle& folder, const String& name, bool whileHeld = false);
// Renames an entry of the held folder through its own handle to target, a
// full path (an existing target is never replaced: 183).
bool MoveEntryFrom(const TFolderHandle& folder, const String& name, const String& target);

String CurrentFolder();  // without trailing backslash, except for a root
bool SetCurrentFolder(const String& path);
// GetFullPathNameW: absolute, "." and ".." resolved; does not touch the disk.
String FullPathName(const String& path);
// GetLongPathNameW: the path with every short (8.3) name expanded; false
// when the path does not exist.
bool LongPathName(const String& path, String& longPath);

}  // namespace platform
