// Configuration of the native stand-in for the operating system. Only native
// tests use this header; the product never contains the stand-in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lib/strings.h"
#include "platform/shell.h"
#include "platform/system_info.h"

namespace platform::standin {

// Drive letters map to host folders ("C:" -> /tmp/...). Lookups of every path
// component are case-insensitive like on Windows. Mapping a drive also
// creates the default user folders below it when `withUserFolders`.
void MapDrive(char16_t letter, const std::string& hostFolder, bool withUserFolders = true);
void UnmapDrive(char16_t letter);
// The host path for a Windows path (existing components resolved without
// regard to case); empty when the drive is not mapped.
std::string HostPath(const String& windowsPath);

// A fresh world for one test: C: mapped to a new host temporary folder (with
// the default user folders), the registry emptied (apart from the standard
// keys), files held open forgotten, fake programs, libraries, resources,
// shell hook and settings back to their defaults. Returns the host folder of C:.
std::string ResetWorld();
// Removes a host folder tree (for fixtures cleaning up after ResetWorld).
void RemoveHostTree(const std::string& hostFolder);

// Facts the stand-in reports.
void SetModuleFileName(const String& path);
void SetTempFolder(const String& path);  // with trailing backslash
// Overrides one special folder; an empty path makes the lookup fail.
void SetSpecialFolder(int csidl, const String& path);
void SetUserDefaultUILanguage(uint16_t langId);
void SetAdmin(bool admin);
void SetInteractiveDesktop(bool interactive);
void SetWindowsVersion(const TWindowsVersion& version);
void SetEnvironmentVariable(const String& name, const String& value);
void SetDataResource(const String& name, std::vector<uint8_t> bytes);

// Fake programs: a command line whose program (first token, quoted or not)
// names a registered path (without regard to case) runs the function on a
// new thread with the whole command line; its result is the exit code.
// Other programs fail to start with kErrorFileNotFound. While a fake runs,
// a file at its registered path cannot be deleted (kErrorAccessDenied) but can
// be moved, like the image of a running program on Windows.
using TFakeProgram = std::function<uint32_t(const String& commandLine)>;
void RegisterProgram(const String& path, TFakeProgram program);

// The shell: every ShellExecuteWith/ShellExecuteSimple call is recorded and
// handed to the hook, which decides the outcome: return 0 for success (a
// registered fake program named by params.file is then started with the
// parameters; the hook may register that program itself), or a Win32 error
// code such as kErrorCancelled. Without a hook
// fake programs are started and anything else fails with kErrorFileNotFound.
using TShellHook = std::function<uint32_t(const TShellExecuteParams& params)>;
void SetShellHook(TShellHook hook);
std::vector<TShellExecuteParams> ShellCalls();
int AssociationChangeCount();
bool LibrarySearchRestricted();

// Called before the stand-in lists, opens, makes, deletes, moves or copies
// an entry (operation "list", "open", "create", "delete", "move", "copy"),
// with the entry's path as the caller gave it (a held folder's entries as
// its path + name): a test changes the disk there, at the moment between a
// listing and the work on what it listed. What the hook itself does is not
// reported to it. ResetWorld removes it.
using TFileHook = std::function<void(StringView operation, const String& path)>;
void SetFileHook(TFileHook hook);

// Fake libraries: exports by name, called by TLibrary::CallExport.
void RegisterLibrary(const String& path,
                     std::vector<std::pair<std::string, std::function<void()>>> exports);

// Makes the run lock of that name an object that a standard user created
// first (squatted) or forgets that (false).
void SquatRunLock(const String& name, bool squatted);

}  // namespace platform::standin
