// File and shell routines shared by the installation steps and the relaunch
// logic: copying with a precise error, deleting files that may be in use,
// deletion at the next restart, running a program and waiting for it,
// listing a folder tree with an excluded branch, calling a DLL's export,
// opening files and addresses through the shell, and the main thread's wait
// that keeps delivering sent messages.
//
// Written on the platform interfaces, so the same code runs on Windows and
// on the native stand-in. Paths are Windows paths; the Win32 backend applies
// the long-path rule to every file operation except delayed moves.
#pragma once

#include <cstdint>
#include <functional>

#include "lib/stream.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "platform/files.h"
#include "platform/handles.h"

// Copies source onto target, replacing an existing target (a read-only target
// is not replaced: callers that need that clear its attributes first). Raises
// EOSError for the failure with the additional text "<source> -> <target>".
void CopyFileOrRaise(const String& source, const String& target);

// Deletes a file; its name is free when this returns, unless the file stays
// where it is. Nothing happens when the path names no file. Read-only files
// are deleted too, and a link is deleted itself, never what it points to.
// A file that another program holds open with delete sharing is renamed to
// a fresh name in its own folder ("~del" + hex digits + ".tmp") and deleted
// there: it vanishes when the holder closes it. A file that cannot be deleted
// (a running program, a loaded library) is moved to a fresh name in the
// temporary folder and deleted at the next restart; when it cannot be moved
// either (held open without delete sharing) it stays where it is. Raises
// EOSError only when no temporary file name can be made.
void DeleteFileOrDefer(const String& path);
// The same for the file name in a held folder, every step through handles:
// the file is never reached through a link, and a link at its name is
// deleted itself.
void DeleteFileOrDefer(const platform::TFolderHandle& folder, const String& name);
// The same for the file at path, whose folder is reached from base without
// following a link (platform::OpenFolderBelow). When it cannot be (a folder
// on the way is a link, or was swapped for one), nothing is deleted and
// false is returned; a missing folder is no failure.
bool DeleteFileBelow(const String& base, const String& path);
// A folder in the held one, made when missing; with replaceLink a link at
// its name is removed (never what it points to) and a real folder made.
// Null with LastError() when it cannot be.
std::unique_ptr<platform::TFolderHandle> ForceSubFolder(const platform::TFolderHandle& parent,
                                                       const String& name, bool replaceLink);
// The held folder (path with trailing backslash, below base), reached from
// base and made where missing; no folder on the way may be a link. Null when
// it cannot be.
std::unique_ptr<platform::TFolderHandle> ForceFolderBelow(const String& base, const String& folder);
// Deletes the entry name of the held folder with everything below it, as far
// as possible; links are removed themselves, and so is a folder swapped for
// one since it was listed.
void DeleteTreeIn(const platform::TFolderHandle& parent, const String& name);
// Deletes the folder (whole, or only when it is empty), reached from base
// without following a link (from its parent without a base, or when it is
// the base). A file of that name, or a folder that cannot be reached, stays.
void DeleteFolderBelow(const String& folder, bool onlyIfEmpty, const String& base = {});
// Opens the existing file at path for reading, its folder reached from base
// without following a link and the file itself not through one either
// (platform::OpenFileIn). Null with LastError() when it cannot be: 681 when
// a link is in the way.
std::unique_ptr<TStream> OpenFileBelow(const String& base, const String& path, uint32_t share);

// Writes a file so that an interruption leaves either the old file or the
// new one whole, never an empty or half-written one: write fills a fresh
// file beside it (path + ".new", created anew so that nothing planted under
// that name is followed), which then replaces the old file in one rename.
// Raises what write raises, or EFCreateError / EOSError naming the file; the
// old file is untouched then and the fresh one removed.
void SaveFileReplacing(const String& path, const std::function<void(TStream& file)>& write);

// Schedules the deletion of the file at the next restart (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT); failures are ignored.
void DeleteOnReboot(const String& path);

// True once DeleteFileOrDefer left a file of this process's run to be
// deleted at the next restart: a restart completes the run.
bool RestartNeeded();
// Forgets it (tests).
void ResetRestartNeeded();

// Starts the command line (no quoting added) shown normally and waits for
// the program to end, unless it did not become idle within 5 seconds.
// Failures are ignored and the exit code is not read.
void RunAndWait(const String& commandLine);

// Appends every file below root (full paths) to result: the files of a folder
// in the order the file system lists them, then its sub-folders in natural
// order (CompareLogical: "9" before "10"). Entries with the system attribute
// are skipped, folders with everything below them. A folder whose path with
// trailing backslash begins with excludedPrefix (without regard to case; an
// empty prefix excludes nothing) is skipped with everything below it.
// Junctions and symbolic links (platform::IsLink) are never listed nor
// entered, and a root that is one lists nothing: what they point to is not
// part of the tree.
void FindFiles(const String& root, const String& excludedPrefix, TVelStringList& result);

// Calling the registration exports of ActiveX libraries.
class TSetupActiveX {
 public:
  TSetupActiveX() = delete;
  // CallExport(dll, "DllUnregisterServer").
  static void Unregister(const String& dll);
  // Loads the library with critical-error boxes off and its folder as the
  // current folder (both restored right after loading), calls the export
  // without arguments and frees the library. A library that does not load or
  // lacks the export is ignored.
  static void CallExport(const String& dll, const char* exportName);
};

// Opens a file, program or address through the shell (ShellExecuteW, default
// verb, SW_SHOW). Addresses (the first ":" followed by "//" or two
// backslashes) and "mailto:" texts never get the parameters; under Wine they go to "winebrowser".
// False for an empty file or when the shell fails.
bool ShellOpen(const String& file, const String& parameters = {});

// Waits for the handle. Off the main thread a plain wait; on the main thread
// it keeps delivering messages sent to that thread and runs the queued
// main-thread calls (see SetMainThreadCallQueue) while it waits. timeoutMs
// platform::kInfinite never expires. Result: 0 signalled, 1 timed out,
// 2 abandoned, 3 failed.
//
// Callers in the global namespace that pass a platform::TWaitHandle write
// ::WaitWithMessages, since argument-dependent lookup also finds
// platform::WaitWithMessages.
int WaitWithMessages(const platform::TWaitHandle& handle, uint32_t timeoutMs);

// Installs the main-thread call queue of the layers above: whenever `signal`
// is signalled during a WaitWithMessages on the main thread, runQueuedCalls
// runs there. An empty signal removes it. Call on the main thread before any
// wait.
void SetMainThreadCallQueue(const platform::TWaitHandle& signal,
                            std::function<void()> runQueuedCalls);
