// Facts about the running program, the user and the system.
#pragma once

#include <cstdint>

#include "lib/strings.h"

namespace platform {

// Folder ids of SHGetSpecialFolderPathW (the CSIDL values).
constexpr int kCsidlPrograms = 2;
constexpr int kCsidlPersonal = 5;  // Documents
constexpr int kCsidlStartMenu = 11;
constexpr int kCsidlMyMusic = 13;
constexpr int kCsidlMyVideo = 14;
constexpr int kCsidlDesktopDirectory = 16;
constexpr int kCsidlCommonStartMenu = 22;
constexpr int kCsidlCommonPrograms = 23;
constexpr int kCsidlCommonDesktopDirectory = 25;
constexpr int kCsidlAppData = 26;
constexpr int kCsidlLocalAppData = 28;
constexpr int kCsidlCommonAppData = 35;
constexpr int kCsidlWindows = 36;
constexpr int kCsidlSystem = 37;
constexpr int kCsidlProgramFiles = 38;
constexpr int kCsidlMyPictures = 39;
constexpr int kCsidlProfile = 40;
constexpr int kCsidlProgramFilesX86 = 42;
// The user's Downloads folder, which has no CSIDL (a known folder only).
constexpr int kFolderDownloads = 0x10000;

struct TWindowsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};

// Full path of the running program (GetModuleFileNameW of the executable).
String ModuleFileName();
// The temporary folder with a trailing backslash (GetTempPathW); empty on failure.
String TempFolder();
// A special folder by CSIDL (or kFolderDownloads), without creating it and
// without a trailing backslash. False when the system has no such folder.
bool SpecialFolder(int csidl, String& path);
// The user's default user-interface language (GetUserDefaultUILanguage).
uint16_t UserDefaultUILanguage();
// True when the process runs with administrator rights (IsUserAnAdmin).
bool IsAdmin();
// False when a window of this process would appear on no desktop that a
// person sees: a window station that is not visible (session 0, a
// service's), as deployment agents run. A message box there waits for ever.
bool HasInteractiveDesktop();
// The version of the running Windows as the system reports it.
TWindowsVersion WindowsVersion();
// True under Wine (ntdll exports "wine_get_version").
bool RunningUnderWine();
// The most memory this process has used so far, in bytes, by its own
// counters (GetProcessMemoryInfo): the peak working set and the peak of
// committed private memory ("pagefile usage"). False when unknown.
bool PeakMemory(uint64_t& workingSet, uint64_t& committed);
// An environment variable of this process; false when it is not set.
bool EnvironmentVariable(const String& name, String& value);
// Replaces every %NAME% of a set variable (ExpandEnvironmentStringsW); names
// that are not set stay as written.
String ExpandEnvironment(const String& text);
// The calling thread's error mode (SetThreadErrorMode); returns the previous.
constexpr uint32_t kSemFailCriticalErrors = 1;
uint32_t SetThreadErrorModeTo(uint32_t mode);

}  // namespace platform
