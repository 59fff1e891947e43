#include <algorithm>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "lib/system.h"
#include "platform/registry.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

class FilesTest : public PlatformTest {};

TEST_F(FilesTest, AttributesOfFilesAndFolders) {
  const String file = dir_ + u"a.txt";
  ASSERT_TRUE(WriteText(file, "abc"));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(DirectoryExists(dir_));
  EXPECT_FALSE(FileExists(dir_));
  EXPECT_TRUE(GetAttributes(dir_) & kFileAttributeDirectory);

  // (Hidden first: Wine keeps that flag in an extended attribute, which an
  // ordinary user cannot write once the file is read-only.)
  ASSERT_TRUE(SetAttributes(file, kFileAttributeHidden));
  EXPECT_TRUE(GetAttributes(file) & kFileAttributeHidden);
  ASSERT_TRUE(SetAttributes(file, kFileAttributeReadOnly | kFileAttributeHidden));
  uint32_t a = GetAttributes(file);
  EXPECT_TRUE(a & kFileAttributeReadOnly);
  EXPECT_TRUE(a & kFileAttributeHidden);
  EXPECT_FALSE(a & kFileAttributeDirectory);

  ASSERT_TRUE(SetAttributes(file, 0));
  a = GetAttributes(file);
  EXPECT_FALSE(a & (kFileAttributeReadOnly | kFileAttributeHidden | kFileAttributeSystem));
  EXPECT_NE(a, 0u);

  EXPECT_EQ(GetAttributes(dir_ + u"missing.txt"), kInvalidFileAttributes);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(GetAttributes(dir_ + u"missing\\x.txt"), kInvalidFileAttributes);
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  EXPECT_FALSE(SetAttributes(dir_ + u"missing.txt", 0));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(FilesTest, NamesAreCaseInsensitive) {
  ASSERT_TRUE(CreateFolder(dir_ + u"Sub"));
  ASSERT_TRUE(WriteText(dir_ + u"Sub\\File.TXT", "x"));
  EXPECT_TRUE(FileExists(dir_ + u"SUB\\file.txt"));
  EXPECT_EQ(ReadText(dir_ + u"sub\\FILE.txt"), "x");
  // Forward slashes, "." and ".." like the system.
  EXPECT_TRUE(FileExists(dir_ + u"sub/./other\\..\\File.txt"));
  // The same file however its path is written; another one is not.
  EXPECT_TRUE(SameFile(dir_ + u"Sub\\File.TXT", dir_ + u"sub/./other\\..\\file.txt"));
  ASSERT_TRUE(WriteText(dir_ + u"Sub\\Other.txt", "x"));
  EXPECT_FALSE(SameFile(dir_ + u"Sub\\File.TXT", dir_ + u"Sub\\Other.txt"));
  EXPECT_FALSE(SameFile(dir_ + u"Sub\\File.TXT", dir_ + u"Sub\\Missing.txt"));
  EXPECT_FALSE(CreateFolder(dir_ + u"SUB"));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_FALSE(WriteText(dir_ + u"bad?name.txt", "x"));
  EXPECT_EQ(LastError(), kErrorInvalidName);
}

TEST_F(FilesTest, CreateAndRemoveFolders) {
  EXPECT_FALSE(CreateFolder(dir_ + u"a\\b"));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  ASSERT_TRUE(CreateFolder(dir_ + u"a"));
  ASSERT_TRUE(CreateFolder(dir_ + u"a\\b"));
  EXPECT_FALSE(RemoveFolder(dir_ + u"a"));
  EXPECT_EQ(LastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(RemoveFolder(dir_ + u"a\\b"));
  EXPECT_TRUE(RemoveFolder(dir_ + u"a"));
  EXPECT_FALSE(RemoveFolder(dir_ + u"a"));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(FilesTest, DeleteFiles) {
  const String file = dir_ + u"ro.txt";
  ASSERT_TRUE(WriteText(file, "x"));
  ASSERT_TRUE(SetAttributes(file, kFileAttributeReadOnly));
  EXPECT_FALSE(RemoveFile(file));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  ASSERT_TRUE(SetAttributes(file, 0));
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(RemoveFile(file));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

// Deleting a file that a handle with delete sharing holds only marks it:
// it goes when the handle closes. Where the system keeps the name until then
// (Wine, and so the stand-in; Windows 10 on NTFS frees it at once), no new
// file of that name can be made meanwhile.
TEST_F(FilesTest, DeletingAHeldFileMarksIt) {
  const String file = dir_ + u"held.txt";
  ASSERT_TRUE(WriteText(file, "old"));
  {
    auto held =
        OpenFileShared(file, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_TRUE(RemoveFile(file));
#ifdef _WIN32
    const bool keepsName = RunningUnderWine();
#else
    const bool keepsName = true;
#endif
    if (keepsName) {
      EXPECT_TRUE(FileExists(file));
      EXPECT_FALSE(OpenFileShared(file, kGenericWrite, 0, kCreateNew));
      EXPECT_EQ(LastError(), kErrorFileExists);
      EXPECT_FALSE(RemoveFolder(dir_));
      EXPECT_EQ(LastError(), kErrorDirNotEmpty);
    }
    char data[3] = {};
    EXPECT_EQ(held->Read(data, 3), 3);
    EXPECT_EQ(std::string(data, 3), "old");
  }
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(WriteText(file, "new"));
}

// The deletion without sharing: done only when nobody holds the file, and
// then the name is free at once.
TEST_F(FilesTest, UnsharedDeletion) {
  const String file = dir_ + u"f.txt";
  ASSERT_TRUE(WriteText(file, "x"));
  for (const uint32_t share : {kFileShareRead | kFileShareDelete, kFileShareRead}) {
    auto held = OpenFileShared(file, kGenericRead, share, kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_FALSE(RemoveFileUnshared(file)) << share;
    EXPECT_EQ(LastError(), kErrorSharingViolation) << share;
    EXPECT_EQ(ReadText(file), "x");
  }
  ASSERT_TRUE(SetAttributes(file, kFileAttributeReadOnly));
  EXPECT_FALSE(RemoveFileUnshared(file));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  ASSERT_TRUE(SetAttributes(file, 0));
  EXPECT_TRUE(RemoveFileUnshared(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(WriteText(file, "y"));
  EXPECT_TRUE(RemoveFileUnshared(file));
  EXPECT_FALSE(RemoveFileUnshared(file));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  ASSERT_TRUE(CreateFolder(dir_ + u"sub"));
  EXPECT_FALSE(RemoveFileUnshared(dir_ + u"sub"));
  EXPECT_TRUE(DirectoryExists(dir_ + u"sub"));
}

TEST_F(FilesTest, CopyFiles) {
  const String source = dir_ + u"source.txt", target = dir_ + u"target.txt";
  ASSERT_TRUE(WriteText(source, "new"));
  ASSERT_TRUE(CopyFileTo(source, target, true));
  EXPECT_EQ(ReadText(target), "new");

  ASSERT_TRUE(WriteText(target, "old"));
  EXPECT_FALSE(CopyFileTo(source, target, true));
  EXPECT_EQ(LastError(), kErrorFileExists);
  EXPECT_EQ(ReadText(target), "old");
  ASSERT_TRUE(CopyFileTo(source, target, false));
  EXPECT_EQ(ReadText(target), "new");

  EXPECT_FALSE(CopyFileTo(dir_ + u"missing.txt", target, false));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_FALSE(CopyFileTo(source, dir_ + u"missing\\target.txt", false));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
}

TEST_F(FilesTest, MoveFiles) {
  const String a = dir_ + u"a.txt", b = dir_ + u"b.txt";
  ASSERT_TRUE(WriteText(a, "a"));
  ASSERT_TRUE(WriteText(b, "b"));
  EXPECT_FALSE(MoveFileTo(a, b));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  ASSERT_TRUE(MoveFileWithOptions(a, b, kMoveFileReplaceExisting));
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadText(b), "a");
  ASSERT_TRUE(CreateFolder(dir_ + u"sub"));
  ASSERT_TRUE(MoveFileTo(b, dir_ + u"sub\\c.txt"));
  EXPECT_EQ(ReadText(dir_ + u"sub\\c.txt"), "a");
  ASSERT_TRUE(MoveFileTo(dir_ + u"sub", dir_ + u"moved"));
  EXPECT_TRUE(FileExists(dir_ + u"moved\\c.txt"));
  EXPECT_FALSE(MoveFileTo(dir_ + u"missing.txt", dir_ + u"x.txt"));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(FilesTest, SharingRules) {
  const String file = dir_ + u"locked.txt";
  ASSERT_TRUE(WriteText(file, "data"));
  {
    auto exclusive = OpenFileShared(file, kGenericRead, 0, kOpenExisting);
    ASSERT_TRUE(exclusive);
    EXPECT_FALSE(
        OpenFileShared(file, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(RemoveFile(file));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(MoveFileTo(file, dir_ + u"other.txt"));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  {
    auto reader = OpenFileShared(file, kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_TRUE(reader);
    // Readers that share reading coexist; a writer needs the readers to share writing.
    EXPECT_TRUE(OpenFileShared(file, kGenericRead, kFileShareRead, kOpenExisting));
    EXPECT_FALSE(OpenFileShared(file, kGenericWrite, kFileShareRead, kOpenExisting));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    // A new reader must share reading with the open one.
    EXPECT_FALSE(OpenFileShared(file, kGenericRead, kFileShareWrite, kOpenExisting));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  {
    auto deletable =
        OpenFileShared(file, kGenericRead, kFileShareRead | kFileShareDelete, kOpenExisting);
    ASSERT_TRUE(deletable);
    EXPECT_TRUE(MoveFileTo(file, dir_ + u"renamed.txt"));
  }
  // Closed handles leave no trace.
  EXPECT_TRUE(RemoveFile(dir_ + u"renamed.txt"));
}

TEST_F(FilesTest, OpenDispositions) {
  const String file = dir_ + u"f.bin";
  EXPECT_FALSE(OpenFileShared(file, kGenericRead, 0, kOpenExisting));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  {
    auto s = OpenFileShared(file, kGenericRead | kGenericWrite, 0, kCreateNew);
    ASSERT_TRUE(s);
    s->WriteBuffer("12345", 5);
    s->SetPosition(1);
    char c[2];
    s->ReadBuffer(c, 2);
    EXPECT_EQ(std::string(c, 2), "23");
    s->SetSize(3);
    EXPECT_EQ(s->Size(), 3);
  }
  EXPECT_FALSE(OpenFileShared(file, kGenericWrite, 0, kCreateNew));
  EXPECT_EQ(LastError(), kErrorFileExists);
  EXPECT_TRUE(OpenFileShared(file, kGenericWrite, 0, kOpenAlways));
  EXPECT_EQ(ReadText(file), "123");
  EXPECT_TRUE(OpenFileShared(file, kGenericWrite, 0, kTruncateExisting));
  EXPECT_EQ(ReadText(file), "");
  EXPECT_FALSE(OpenFileShared(dir_, kGenericRead, kFileShareRead, kOpenExisting));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST_F(FilesTest, ReadOnlyFilesRefuseWriting) {
  const String source = dir_ + u"source.txt", target = dir_ + u"target.txt";
  ASSERT_TRUE(WriteText(source, "new"));
  ASSERT_TRUE(WriteText(target, "old"));
  ASSERT_TRUE(SetAttributes(target, kFileAttributeReadOnly));
  if (!ReadOnlyEnforced(target)) GTEST_SKIP() << "Wine running as root ignores read-only files";
  EXPECT_FALSE(OpenFileShared(target, kGenericWrite, 0, kOpenExisting));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_TRUE(OpenFileShared(target, kGenericRead, kFileShareRead, kOpenExisting));
  // A read-only target is not replaced by a copy.
  EXPECT_FALSE(CopyFileTo(source, target, false));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  SetAttributes(target, 0);
  EXPECT_EQ(ReadText(target), "old");
}

TEST_F(FilesTest, ListFolderSkipsDotEntries) {
  ASSERT_TRUE(WriteText(dir_ + u"one.txt", "1"));
  ASSERT_TRUE(WriteText(dir_ + u"two.txt", "22"));
  ASSERT_TRUE(CreateFolder(dir_ + u"sub"));
  std::vector<TFolderEntry> entries;
  ASSERT_TRUE(ListFolder(dir_, entries));
  std::sort(entries.begin(), entries.end(),
            [](const TFolderEntry& a, const TFolderEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u"one.txt");
  EXPECT_EQ(entries[1].name, u"sub");
  EXPECT_TRUE(entries[1].attributes & kFileAttributeDirectory);
  EXPECT_EQ(entries[2].name, u"two.txt");
  EXPECT_EQ(entries[2].size, 2u);
  EXPECT_FALSE(entries[2].attributes & kFileAttributeDirectory);

  ASSERT_TRUE(ListFolder(dir_ + u"sub", entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ListFolder(dir_ + u"missing", entries));
}

TEST_F(FilesTest, TempFileNames) {
  String a, b;
  ASSERT_TRUE(MakeTempFileName(dir_, u"delete", 0, a));
  ASSERT_TRUE(MakeTempFileName(dir_, u"delete", 0, b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(FileExists(a));  // created
  EXPECT_TRUE(StartsWith(a, dir_ + u"del"));
  EXPECT_TRUE(SameTextAscii(ExtractFileExt(a), u".tmp"));
  String fixed;
  ASSERT_TRUE(MakeTempFileName(dir_, u"abc", 0x1F, fixed));
  EXPECT_TRUE(SameTextAscii(fixed, dir_ + u"abc1f.tmp"));
  EXPECT_FALSE(FileExists(fixed));  // a given number only names the file
  EXPECT_FALSE(MakeTempFileName(dir_ + u"missing\\", u"del", 0, a));
}

TEST_F(FilesTest, CurrentAndFullPaths) {
  const String saved = CurrentFolder();
  ASSERT_TRUE(CreateFolder(dir_ + u"cur"));
  ASSERT_TRUE(SetCurrentFolder(dir_ + u"cur"));
  EXPECT_TRUE(SameTextAscii(CurrentFolder(), dir_ + u"cur"));
  EXPECT_TRUE(SameTextAscii(FullPathName(u"x\\..\\y.txt"), dir_ + u"cur\\y.txt"));
  EXPECT_TRUE(SameTextAscii(FullPathName(u".\\z\\"), dir_ + u"cur\\z\\"));
  ASSERT_TRUE(WriteText(u"rel.txt", "r"));
  EXPECT_TRUE(FileExists(dir_ + u"cur\\rel.txt"));
  EXPECT_FALSE(SetCurrentFolder(dir_ + u"missing"));
  ASSERT_TRUE(SetCurrentFolder(saved));
  EXPECT_TRUE(SameTextAscii(FullPathName(u"C:\\a\\.\\b\\..\\c"), u"C:\\a\\c"));
}

TEST_F(FilesTest, DeleteAtRestartIsRecordedLikeWindows) {
  const String file = dir_ + u"busy.dll";
  ASSERT_TRUE(WriteText(file, "x"));
  const String key = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const String name = u"PendingFileRenameOperations";
  std::vector<String> before;
  {
    TRegKey k;
    if (k.Open(RegRoot::LocalMachine, key, kKeyRead) == kErrorSuccess)
      k.ReadMultiString(name, before);
  }
  ASSERT_TRUE(MoveFileWithOptions(file, u"", kMoveFileDelayUntilReboot));
  ASSERT_TRUE(MoveFileWithOptions(file, dir_ + u"new.dll",
                                  kMoveFileDelayUntilReboot | kMoveFileReplaceExisting));
  EXPECT_TRUE(FileExists(file));  // nothing happens before the restart

  TRegKey k;
  ASSERT_EQ(k.Open(RegRoot::LocalMachine, key, kKeyRead), kErrorSuccess);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(k.QueryValue(name, type, data), kErrorSuccess);
  EXPECT_EQ(type, kRegMultiSz);
  std::vector<String> after;
  ASSERT_TRUE(k.ReadMultiString(name, after));
  ASSERT_EQ(after.size(), before.size() + 4);
  EXPECT_EQ(after[before.size()], u"\\??\\" + file);
  EXPECT_EQ(after[before.size() + 1], u"");
  EXPECT_EQ(after[before.size() + 2], u"\\??\\" + file);
  EXPECT_EQ(after[before.size() + 3], u"!\\??\\" + dir_ + u"new.dll");
  // The data ends with the list's closing zero.
  ASSERT_GE(data.size(), 4u);
  EXPECT_EQ(
      data[data.size() - 1] | data[data.size() - 2] | data[data.size() - 3] | data[data.size() - 4],
      0);

  // Leave the machine's list as it was.
  TRegKey w;
  ASSERT_EQ(w.Open(RegRoot::LocalMachine, key, kKeyAllAccess), kErrorSuccess);
  if (before.empty())
    w.DeleteValue(name);
  else
    w.WriteMultiString(name, before);
}

// A folder link reports itself (directory and reparse point), lists what it
// points to, and removing it removes the link only.
TEST_F(FilesTest, FolderLinksAreSeenAsLinksAndRemovedAlone) {
  const String target = dir_ + u"Target\\", link = dir_ + u"Link";
  ASSERT_TRUE(CreateFolder(target));
  ASSERT_TRUE(WriteText(target + u"keep.txt", "x"));
  if (!CreateFolderLink(link, ExcludeTrailingBackslash(target)))
    GTEST_SKIP() << "no folder links here: " << LastError();

  const uint32_t a = GetAttributes(link);
  ASSERT_NE(a, kInvalidFileAttributes);
  EXPECT_TRUE(a & kFileAttributeDirectory);
  EXPECT_TRUE(a & kFileAttributeReparsePoint);
  EXPECT_TRUE(IsLink(link));
  EXPECT_TRUE(IsLink(link + u"\\"));
  EXPECT_FALSE(IsLink(target));
  EXPECT_FALSE(IsLink(target + u"keep.txt"));
  EXPECT_FALSE(IsLink(dir_ + u"missing"));
  EXPECT_TRUE(FileExists(link + u"\\keep.txt"));

  std::vector<TFolderEntry> entries;
  ASSERT_TRUE(ListFolder(dir_, entries));
  ASSERT_EQ(entries.size(), 2u);
  for (const TFolderEntry& e : entries) {
    EXPECT_EQ(e.link, e.name == u"Link") << U8(e.name);
    EXPECT_TRUE(e.attributes & kFileAttributeDirectory) << U8(e.name);
  }

  // The link goes although what it points to is not empty; the target stays.
  EXPECT_TRUE(RemoveFolder(link)) << LastError();
  EXPECT_EQ(GetAttributes(link), kInvalidFileAttributes);
  EXPECT_TRUE(FileExists(target + u"keep.txt"));
}

// A folder below a base is held while it is worked on: nobody can rename
// or delete it meanwhile, and its entries are read, made and deleted
// through it.
TEST_F(FilesTest, HeldFolders) {
  ASSERT_TRUE(CreateFolder(dir_ + u"A"));
  ASSERT_TRUE(CreateFolder(dir_ + u"A\\B"));
  ASSERT_TRUE(CreateFolder(dir_ + u"A\\Empty"));
  ASSERT_TRUE(WriteText(dir_ + u"A\\B\\f.txt", "f"));
  const struct {
    String base, folder;
    uint32_t error;
  } failures[] = {
      {dir_, dir_ + u"Missing\\", kErrorFileNotFound},
      {dir_, dir_ + u"Missing\\Deeper\\", kErrorPathNotFound},
      {dir_, dir_ + u"A\\B\\f.txt", kErrorDirectory},
      {dir_ + u"A\\", dir_, kErrorBadPathname},
      {dir_ + u"A\\", dir_ + u"AB\\", kErrorBadPathname},
  };
  for (const auto& f : failures) {
    EXPECT_FALSE(OpenFolderBelow(f.base, f.folder)) << U8(f.folder);
    EXPECT_EQ(LastError(), f.error) << U8(f.folder);
  }

  const auto b = OpenFolderBelow(dir_, dir_ + u"a\\b");
  ASSERT_TRUE(b) << LastError();
  EXPECT_TRUE(SameTextLocale(b->Path(), dir_ + u"A\\B\\")) << U8(b->Path());
  {
    const auto empty = OpenFolderBelow(dir_ + u"A", dir_ + u"A\\Empty\\");
    ASSERT_TRUE(empty) << LastError();
    EXPECT_FALSE(MoveFileTo(dir_ + u"A\\Empty", dir_ + u"A\\Moved"));
    EXPECT_FALSE(RemoveFolder(dir_ + u"A\\Empty"));
  }
  EXPECT_TRUE(RemoveFolder(dir_ + u"A\\Empty"));

  std::vector<TFolderEntry> entries;
  ASSERT_TRUE(ListFolder(*b, entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, u"f.txt");
  {
    auto file = OpenFileIn(*b, u"F.TXT", kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_TRUE(file) << LastError();
    const auto bytes = ReadAll(*file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "f");
  }
  EXPECT_FALSE(OpenFileIn(*b, u"missing.txt", kGenericRead, kFileShareRead, kOpenExisting));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_FALSE(OpenFileIn(*b, u"..\\B\\f.txt", kGenericRead, kFileShareRead, kOpenExisting));
  EXPECT_EQ(LastError(), kErrorInvalidName);
  {
    auto made = OpenFileIn(*b, u"new.txt", kGenericWrite, 0, kCreateNew);
    ASSERT_TRUE(made) << LastError();
    made->WriteBuffer("n", 1);
  }
  EXPECT_EQ(ReadText(dir_ + u"A\\B\\new.txt"), "n");
  EXPECT_FALSE(OpenFileIn(*b, u"new.txt", kGenericWrite, 0, kCreateNew));
  EXPECT_EQ(LastError(), kErrorFileExists);

  EXPECT_TRUE(CreateFolderIn(*b, u"Sub"));
  EXPECT_FALSE(CreateFolderIn(*b, u"sub"));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_FALSE(OpenSubFolder(*b, u"f.txt"));
  EXPECT_EQ(LastError(), kErrorDirectory);
  {
    const auto sub = OpenSubFolder(*b, u"SUB");
    ASSERT_TRUE(sub) << LastError();
    ASSERT_TRUE(WriteText(sub->Path() + u"x.txt", "x"));
    // Held, by this very program.
    EXPECT_FALSE(DeleteEntryIn(*b, u"Sub"));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  EXPECT_FALSE(DeleteEntryIn(*b, u"Sub"));
  EXPECT_EQ(LastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(DeleteEntryIn(*OpenSubFolder(*b, u"Sub"), u"x.txt")) << LastError();
  EXPECT_TRUE(DeleteEntryIn(*b, u"Sub")) << LastError();
  EXPECT_FALSE(DirectoryExists(dir_ + u"A\\B\\Sub"));

  // Deleted through its own handle: a read-only file too, never one that
  // somebody holds unless asked to; renamed through it, never replacing.
  ASSERT_TRUE(SetAttributes(dir_ + u"A\\B\\f.txt", kFileAttributeReadOnly));
  EXPECT_TRUE(DeleteEntryIn(*b, u"f.txt")) << LastError();
  EXPECT_FALSE(FileExists(dir_ + u"A\\B\\f.txt"));
  ASSERT_TRUE(WriteText(dir_ + u"A\\B\\other.txt", "o"));
  {
    auto held = OpenFileShared(dir_ + u"A\\B\\new.txt", kGenericRead,
                               kFileShareRead | kFileShareDelete, kOpenExisting);
    ASSERT_TRUE(held);
    EXPECT_FALSE(DeleteEntryIn(*b, u"new.txt"));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_FALSE(MoveEntryFrom(*b, u"new.txt", b->Path() + u"other.txt"));
    EXPECT_EQ(LastError(), kErrorAlreadyExists);
    EXPECT_TRUE(MoveEntryFrom(*b, u"new.txt", b->Path() + u"parked.txt")) << LastError();
    EXPECT_TRUE(DeleteEntryIn(*b, u"parked.txt", true)) << LastError();
    EXPECT_FALSE(FileExists(dir_ + u"A\\B\\new.txt"));
  }
  EXPECT_FALSE(FileExists(dir_ + u"A\\B\\parked.txt"));
  EXPECT_EQ(ReadText(dir_ + u"A\\B\\other.txt"), "o");

#ifndef _WIN32
  // A file with another name elsewhere (a hard link) is not read through
  // the folder where only its name will do (a copy that a user reads);
  // deleting it removes this name only.
  ASSERT_TRUE(WriteText(dir_ + u"secret.txt", "secret"));
  ASSERT_EQ(::link(standin::HostPath(dir_ + u"secret.txt").c_str(),
                   (standin::HostPath(dir_ + u"A\\B") + "/hard.txt").c_str()),
            0);
  EXPECT_FALSE(OpenFileIn(*b, u"hard.txt", kGenericRead, kFileShareRead, kOpenExisting, true));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_TRUE(OpenFileIn(*b, u"hard.txt", kGenericRead, kFileShareRead, kOpenExisting));
  EXPECT_TRUE(DeleteEntryIn(*b, u"hard.txt"));
  EXPECT_EQ(ReadText(dir_ + u"secret.txt"), "secret");
#endif
}

// Below the base no link is followed: not one that is there when a folder
// is opened, nor one that a folder was swapped for after it was listed. A
// link is deleted itself.
TEST_F(FilesTest, HeldFoldersNeverFollowLinks) {
  const String target = dir_ + u"Target\\";
  ASSERT_TRUE(CreateFolder(target));
  ASSERT_TRUE(WriteText(target + u"secret.txt", "secret"));
  ASSERT_TRUE(CreateFolder(dir_ + u"A"));
  ASSERT_TRUE(CreateFolder(dir_ + u"A\\S"));
  if (!CreateFolderLink(dir_ + u"A\\L", ExcludeTrailingBackslash(target)))
    GTEST_SKIP() << "no folder links here: " << LastError();

  EXPECT_FALSE(OpenFolderBelow(dir_, dir_ + u"A\\L\\"));
  EXPECT_EQ(LastError(), kErrorStoppedOnSymlink);
  // The base itself is taken as it is.
  EXPECT_TRUE(OpenFolderBelow(dir_ + u"A\\L", dir_ + u"A\\L\\"));

  const auto a = OpenFolderBelow(dir_, dir_ + u"A");
  ASSERT_TRUE(a) << LastError();
  std::vector<TFolderEntry> entries;
  ASSERT_TRUE(ListFolder(*a, entries));
  EXPECT_EQ(entries.size(), 2u);
  for (const TFolderEntry& e : entries) EXPECT_EQ(e.link, e.name == u"L") << U8(e.name);
  EXPECT_FALSE(OpenSubFolder(*a, u"L"));
  EXPECT_EQ(LastError(), kErrorStoppedOnSymlink);
  EXPECT_FALSE(OpenFileIn(*a, u"L", kGenericRead, kFileShareRead, kOpenExisting));
  EXPECT_FALSE(OpenFileIn(*a, u"L", kGenericWrite, 0, kCreateNew));

  // Swapped since the listing.
  ASSERT_TRUE(MoveFileTo(dir_ + u"A\\S", dir_ + u"Aside"));
  ASSERT_TRUE(CreateFolderLink(dir_ + u"A\\S", ExcludeTrailingBackslash(target)));
  EXPECT_FALSE(OpenSubFolder(*a, u"S"));
  EXPECT_EQ(LastError(), kErrorStoppedOnSymlink);
  EXPECT_FALSE(CreateFolderIn(*a, u"S"));

  EXPECT_TRUE(DeleteEntryIn(*a, u"L")) << LastError();
  EXPECT_TRUE(DeleteEntryIn(*a, u"S", true)) << LastError();
  EXPECT_EQ(GetAttributes(dir_ + u"A\\L"), kInvalidFileAttributes);
  EXPECT_EQ(GetAttributes(dir_ + u"A\\S"), kInvalidFileAttributes);
  EXPECT_EQ(ReadText(target + u"secret.txt"), "secret");
}

TEST_F(FilesTest, SizeAndTimeOfAFile) {
  const String file = dir_ + u"sized.bin";
  ASSERT_TRUE(WriteText(file, std::string(5000, 'x')));
  uint64_t size = 0;
  int64_t time = 0;
  ASSERT_TRUE(FileSizeAndTime(file, size, time));
  EXPECT_EQ(size, 5000u);
  // Written just now (2020-01-01 is 1577836800).
  EXPECT_GT(time, 1577836800);
  ASSERT_TRUE(FileSizeAndTime(dir_, size, time));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(FileSizeAndTime(dir_ + u"missing.bin", size, time));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

}  // namespace
}  // namespace platform_test
