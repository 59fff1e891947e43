// The stand-in's world: mapped drives, path resolution, error codes and the
// facts the system reports (module path, folders, language, version).
#include <fstream>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "lib/casefold.h"
#include "platform/errors.h"
#include "platform/posix/internal.h"
#include "platform/posix/standin.h"
#include "platform/resources.h"
#include "platform/system_info.h"

namespace platform {
namespace {

using namespace posix_internal;

thread_local uint32_t t_last_error = 0;

struct TWorld {
  std::mutex mutex;
  std::map<char16_t, std::string> drives;  // upper-case letter -> host folder
  std::string owned_c;                     // host folder created for C:, removed later
  bool default_pending = true;             // C: not configured yet: map it on first use
  String module_file_name = u"C:\\Setup\\Setup.exe";
  String temp_folder = u"C:\\Users\\User\\AppData\\Local\\Temp\\";
  std::map<int, String> special_folders;
  uint16_t ui_language = 1033;
  bool admin = true;
  bool interactive = true;
  TWindowsVersion version{10, 0, 19045};
  std::map<String, std::pair<String, String>> environment;  // folded name -> (name, value)
  std::map<String, std::vector<uint8_t>> resources;         // folded name -> bytes
  String current_folder = u"C:\\";
  uint32_t error_mode = 0;
};

TWorld& World() {
  static TWorld* world = new TWorld();  // lives to the end of the process
  return *world;
}

const std::map<int, String>& DefaultSpecialFolders() {
  static const std::map<int, String> folders = {
      {kCsidlPrograms,
       u"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
      {kCsidlStartMenu, u"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
      {kCsidlDesktopDirectory, u"C:\\Users\\User\\Desktop"},
      {kCsidlCommonStartMenu, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
      {kCsidlCommonPrograms, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {kCsidlCommonDesktopDirectory, u"C:\\Users\\Public\\Desktop"},
      {kCsidlAppData, u"C:\\Users\\User\\AppData\\Roaming"},
      {kCsidlLocalAppData, u"C:\\Users\\User\\AppData\\Local"},
      {kCsidlCommonAppData, u"C:\\ProgramData"},
      {kCsidlWindows, u"C:\\Windows"},
      {kCsidlSystem, u"C:\\Windows\\system32"},
      {kCsidlProgramFiles, u"C:\\Program Files"},
      {kCsidlProfile, u"C:\\Users\\User"},
      {kCsidlProgramFilesX86, u"C:\\Program Files (x86)"},
      {kCsidlPersonal, u"C:\\Users\\User\\Documents"},
      {kCsidlMyMusic, u"C:\\Users\\User\\Music"},
      {kCsidlMyVideo, u"C:\\Users\\User\\Videos"},
      {kCsidlMyPictures, u"C:\\Users\\User\\Pictures"},
      {kFolderDownloads, u"C:\\Users\\User\\Downloads"},
  };
  return folders;
}

void ResetFacts(TWorld& w) {
  w.module_file_name = u"C:\\Setup\\Setup.exe";
  w.temp_folder = u"C:\\Users\\User\\AppData\\Local\\Temp\\";
  w.special_folders = DefaultSpecialFolders();
  w.ui_language = 1033;
  w.admin = true;
  w.interactive = true;
  w.version = {10, 0, 19045};
  w.environment.clear();
  const std::pair<const char16_t*, const char16_t*> vars[] = {
      {u"SystemDrive", u"C:"},
      {u"SystemRoot", u"C:\\Windows"},
      {u"windir", u"C:\\Windows"},
      {u"USERPROFILE", u"C:\\Users\\User"},
      {u"USERNAME", u"User"},
      {u"APPDATA", u"C:\\Users\\User\\AppData\\Roaming"},
      {u"LOCALAPPDATA", u"C:\\Users\\User\\AppData\\Local"},
      {u"ProgramFiles", u"C:\\Program Files"},
      {u"ProgramData", u"C:\\ProgramData"},
      {u"TEMP", u"C:\\Users\\User\\AppData\\Local\\Temp"},
      {u"TMP", u"C:\\Users\\User\\AppData\\Local\\Temp"},
  };
  for (const auto& [name, value] : vars) w.environment[Fold(name)] = {name, value};
  w.resources.clear();
  w.current_folder = u"C:\\";
  w.error_mode = 0;
}

void CreateUserFolders(const std::string& root) {
  std::error_code ec;
  for (const auto& [csidl, path] : DefaultSpecialFolders()) {
    std::string rel = Utf16ToUtf8(path.substr(3));
    for (auto& c : rel)
      if (c == '\\') c = '/';
    std::filesystem::create_directories(root + "/" + rel, ec);
  }
  std::filesystem::create_directories(root + "/Users/User/AppData/Local/Temp", ec);
}

std::string MakeHostTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mivo-drive-c-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return {};
  return buf.data();
}

void RemoveOwned() {
  TWorld& w = World();
  std::error_code ec;
  if (!w.owned_c.empty()) std::filesystem::remove_all(w.owned_c, ec);
  w.owned_c.clear();
}

// Maps C: to a fresh host folder when nothing was configured yet.
void EnsureDefaultDrive(TWorld& w) {
  if (!w.default_pending) return;
  w.default_pending = false;
  if (w.special_folders.empty()) ResetFacts(w);
  if (w.drives.count(u'C')) return;
  w.owned_c = MakeHostTempFolder();
  if (w.owned_c.empty()) return;
  CreateUserFolders(w.owned_c);
  w.drives[u'C'] = w.owned_c;
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(RemoveOwned);
  }
}

bool InvalidNameChar(char16_t c) {
  return c < 32 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*' ||
         c == u':';
}

// Finds an entry of the host folder whose name equals `name` without regard to case.
bool FindEntry(const std::string& folder, const String& name, std::string& found) {
  const std::string exact = Utf16ToUtf8(name);
  struct stat st;
  if (lstat((folder + "/" + exact).c_str(), &st) == 0) {
    found = exact;
    return true;
  }
  DIR* dir = opendir(folder.c_str());
  return dir && FindEntryName(dir, name, found);
}

}  // namespace

bool posix_internal::FindEntryName(DIR* dir, const String& name, std::string& found) {
  const String folded = Fold(name);
  bool ok = false;
  while (dirent* e = readdir(dir)) {
    if (Fold(Utf8ToUtf16(e->d_name)) == folded) {
      found = e->d_name;
      ok = true;
      break;
    }
  }
  closedir(dir);
  return ok;
}

// ---- errors ----

uint32_t LastError() {
  return t_last_error;
}
void SetLastErrorCode(uint32_t code) {
  t_last_error = code;
}

String SystemErrorText(uint32_t code) {
  switch (code) {
    case kErrorSuccess:
      return u"The operation completed successfully.";
    case kErrorInvalidFunction:
      return u"Incorrect function.";
    case kErrorFileNotFound:
      return u"The system cannot find the file specified.";
    case kErrorPathNotFound:
      return u"The system cannot find the path specified.";
    case kErrorAccessDenied:
      return u"Access is denied.";
    case kErrorInvalidHandle:
      return u"The handle is invalid.";
    case kErrorNotEnoughMemory:
      return u"Not enough memory resources are available to process this command.";
    case kErrorNotSameDevice:
      return u"The system cannot move the file to a different disk drive.";
    case kErrorSharingViolation:
      return u"The process cannot access the file because it is being used by another process.";
    case kErrorDiskFull:
      return u"There is not enough space on the disk.";
    case kErrorBadNetPath:
      return u"The network path was not found.";
    case kErrorFileExists:
      return u"The file exists.";
    case kErrorInvalidParameter:
      return u"The parameter is incorrect.";
    case kErrorInvalidName:
      return u"The filename, directory name, or volume label syntax is incorrect.";
    case kErrorModNotFound:
      return u"The specified module could not be found.";
    case kErrorProcNotFound:
      return u"The specified procedure could not be found.";
    case kErrorDirNotEmpty:
      return u"The directory is not empty.";
    case kErrorBadPathname:
      return u"The specified path is invalid.";
    case kErrorStoppedOnSymlink:
      return u"The create operation stopped after reaching a symbolic link.";
    case kErrorAlreadyExists:
      return u"Cannot create a file when that file already exists.";
    case kErrorMoreData:
      return u"More data is available.";
    case kErrorNoMoreItems:
      return u"No more data is available.";
    case kErrorDirectory:
      return u"The directory name is invalid.";
    case kErrorKeyDeleted:
      return u"Illegal operation attempted on a registry key that has been marked for deletion.";
    case kErrorNoAssociation:
      return u"No application is associated with the specified file for this operation.";
    case kErrorCancelled:
      return u"The operation was canceled by the user.";
    case kErrorInvalidWindowHandle:
      return u"Invalid window handle.";
    case kErrorResourceNameNotFound:
      return u"The specified resource name cannot be found in the image file.";
    default:
      return {};
  }
}

// ---- system facts ----

String ModuleFileName() {
  std::lock_guard lock(World().mutex);
  EnsureDefaultDrive(World());
  return World().module_file_name;
}

String TempFolder() {
  std::lock_guard lock(World().mutex);
  EnsureDefaultDrive(World());
  return World().temp_folder;
}

bool SpecialFolder(int csidl, String& path) {
  std::lock_guard lock(World().mutex);
  TWorld& w = World();
  EnsureDefaultDrive(w);
  auto it = w.special_folders.find(csidl);
  if (it == w.special_folders.end() || it->second.empty()) {
    SetLastErrorCode(kErrorFileNotFound);
    return false;
  }
  path = it->second;
  return true;
}

uint16_t UserDefaultUILanguage() {
  std::lock_guard lock(World().mutex);
  return World().ui_language;
}

bool IsAdmin() {
  std::lock_guard lock(World().mutex);
  return World().admin;
}

bool HasInteractiveDesktop() {
  std::lock_guard lock(World().mutex);
  return World().interactive;
}

TWindowsVersion WindowsVersion() {
  std::lock_guard lock(World().mutex);
  return World().version;
}

bool PeakMemory(uint64_t& workingSet, uint64_t& committed) {
  // The peak resident and the peak virtual size of this process.
  std::ifstream status("/proc/self/status");
  std::string line;
  bool resident = false, virtualSize = false;
  while (std::getline(status, line)) {
    const auto kib = [&line] { return std::stoull(line.substr(line.find(':') + 1)) * 1024; };
    if (line.rfind("VmHWM:", 0) == 0) workingSet = kib(), resident = true;
    if (line.rfind("VmPeak:", 0) == 0) committed = kib(), virtualSize = true;
  }
  return resident && virtualSize;
}

bool RunningUnderWine() {
  return false;
}

bool EnvironmentVariable(const String& name, String& value) {
  std::lock_guard lock(World().mutex);
  TWorld& w = World();
  EnsureDefaultDrive(w);
  auto it = w.environment.find(Fold(name));
  if (it == w.environment.end()) {
    SetLastErrorCode(203);  // ERROR_ENVVAR_NOT_FOUND
    return false;
  }
  value = it->second.second;
  return true;
}

String ExpandEnvironment(const String& text) {
  String out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find(u'%', i);
    if (open == String::npos) break;
    const size_t close = text.find(u'%', open + 1);
    if (close == String::npos) break;
    String value;
    if (close > open + 1 && EnvironmentVariable(text.substr(open + 1, close - open - 1), value)) {
      out += text.substr(i, open - i) + value;
      i = close + 1;
    } else {
      // Not a variable: keep the first "%" and look again from the second.
      out += text.substr(i, close - i);
      i = close;
    }
  }
  return out + text.substr(i);
}

uint32_t SetThreadErrorModeTo(uint32_t mode) {
  std::lock_guard lock(World().mutex);
  const uint32_t old = World().error_mode;
  World().error_mode = mode;
  return old;
}

bool FindDataResource(const String& name, TResourceBytes& bytes) {
  std::lock_guard lock(World().mutex);
  TWorld& w = World();
  auto it = w.resources.find(Fold(name));
  if (it == w.resources.end()) {
    SetLastErrorCode(kErrorResourceNameNotFound);
    return false;
  }
  bytes.data = it->second.data();
  bytes.size = it->second.size();
  return true;
}

std::unique_ptr<TStream> OpenDataResource(const String& name) {
  TResourceBytes bytes;
  if (!FindDataResource(name, bytes)) return nullptr;
  return std::make_unique<TReadOnlyMemoryStream>(bytes.data, static_cast<int64_t>(bytes.size));
}

// ---- paths ----

namespace posix_internal {

String Fold(StringView text) {
  String s(text);
  for (auto& c : s) c = FoldCaseSimple(c);
  return s;
}

bool SameName(StringView a, StringView b) {
  return a.size() == b.size() && Fold(a) == Fold(b);
}

String CurrentFolderLocked() {
  return World().current_folder;
}

String Normalize(const String& input, uint32_t& error) {
  error = 0;
  String path = input;
  for (auto& c : path)
    if (c == u'/') c = u'\\';
  if (StartsWith(path, u"\\\\?\\") || StartsWith(path, u"\\??\\")) path = path.substr(4);
  if (path.empty()) {
    error = kErrorPathNotFound;
    return {};
  }
  if (StartsWith(path, u"\\\\")) {
    error = kErrorBadNetPath;
    return {};
  }
  String current;
  {
    std::lock_guard lock(World().mutex);
    current = World().current_folder;
  }
  String drive;
  String rest;
  if (path.size() >= 2 && path[1] == u':') {
    drive = String(1, AsciiUpper(path[0])) + u":";
    rest = path.substr(2);
    if (rest.empty() || rest[0] != u'\\') {
      // "C:name" is relative to the current folder when that is on the drive.
      rest =
          SameName(current.substr(0, 2), drive) ? current.substr(2) + u"\\" + rest : u"\\" + rest;
    }
  } else if (path[0] == u'\\') {
    drive = current.substr(0, 2);
    rest = path;
  } else {
    drive = current.substr(0, 2);
    rest = current.substr(2) + u"\\" + path;
  }
  if (!((drive[0] >= u'A' && drive[0] <= u'Z'))) {
    error = kErrorInvalidName;
    return {};
  }
  std::vector<String> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find(u'\\', i);
    if (j == String::npos) j = rest.size();
    String part = rest.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
    if (part.empty()) continue;
    for (char16_t c : part)
      if (InvalidNameChar(c)) {
        error = kErrorInvalidName;
        return {};
      }
    parts.push_back(part);
  }
  String out = drive + u"\\";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += u"\\";
    out += parts[k];
  }
  return out;
}

bool Resolve(const String& path, TResolved& out) {
  uint32_t error = 0;
  out.windows = Normalize(path, error);
  if (error) {
    SetLastErrorCode(error);
    return false;
  }
  std::string root;
  {
    std::lock_guard lock(World().mutex);
    EnsureDefaultDrive(World());
    auto it = World().drives.find(out.windows[0]);
    if (it == World().drives.end()) {
      SetLastErrorCode(kErrorPathNotFound);
      return false;
    }
    root = it->second;
  }
  std::string host = root;
  bool exists = true;  // every component so far exists
  out.parentExists = true;
  size_t i = 3;
  const String& w = out.windows;
  while (i < w.size()) {
    size_t j = w.find(u'\\', i);
    if (j == String::npos) j = w.size();
    const String part = w.substr(i, j - i);
    const bool last = j >= w.size();
    if (last) out.parentExists = exists;
    std::string found;
    if (exists && FindEntry(host, part, found)) {
      host += "/" + found;
    } else {
      exists = false;
      host += "/" + Utf16ToUtf8(part);
    }
    i = j + 1;
  }
  if (w.size() <= 3) out.parentExists = true;
  out.host = host;
  return true;
}

uint32_t ErrnoToWin32(int err, bool parentExists) {
  switch (err) {
    case ENOENT:
      return parentExists ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EXDEV:
      return kErrorNotSameDevice;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EFBIG:
      return kErrorDiskFull;
    default:
      return kErrorAccessDenied;
  }
}

}  // namespace posix_internal

String CurrentFolder() {
  std::lock_guard lock(World().mutex);
  return World().current_folder;
}

bool SetCurrentFolder(const String& path) {
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) {
    SetLastErrorCode(ErrnoToWin32(errno, r.parentExists));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastErrorCode(kErrorDirectory);
    return false;
  }
  std::lock_guard lock(World().mutex);
  World().current_folder = r.windows;
  return true;
}

String FullPathName(const String& path) {
  uint32_t error = 0;
  String full = Normalize(path, error);
  if (!error && !path.empty() && (path.back() == u'\\' || path.back() == u'/') &&
      full.back() != u'\\')
    full += u"\\";
  return full;
}

bool LongPathName(const String& path, String& longPath) {
  TResolved r;
  if (!Resolve(path, r)) return false;
  struct stat st;
  if (stat(r.host.c_str(), &st) != 0) {
    SetLastErrorCode(ErrnoToWin32(errno, r.parentExists));
    return false;
  }
  longPath = path;  // the stand-in has no short names
  return true;
}

// ---- configuration ----

namespace standin {

void MapDrive(char16_t letter, const std::string& hostFolder, bool withUserFolders) {
  std::lock_guard lock(World().mutex);
  TWorld& w = World();
  if (w.special_folders.empty()) ResetFacts(w);
  w.default_pending = false;
  w.drives[AsciiUpper(letter)] = hostFolder;
  if (withUserFolders) CreateUserFolders(hostFolder);
}

void UnmapDrive(char16_t letter) {
  std::lock_guard lock(World().mutex);
  World().default_pending = false;
  World().drives.erase(AsciiUpper(letter));
}

std::string HostPath(const String& windowsPath) {
  TResolved r;
  return Resolve(windowsPath, r) ? r.host : std::string();
}

std::string ResetWorld() {
  {
    std::lock_guard lock(World().mutex);
    TWorld& w = World();
    RemoveOwned();
    ResetFacts(w);
    w.drives.clear();
    w.default_pending = true;
    EnsureDefaultDrive(w);
  }
  ResetFiles();
  ResetRegistry();
  ResetProcesses();
  std::lock_guard lock(World().mutex);
  return World().owned_c;
}

void RemoveHostTree(const std::string& hostFolder) {
  std::error_code ec;
  std::filesystem::remove_all(hostFolder, ec);
}

void SetModuleFileName(const String& path) {
  std::lock_guard lock(World().mutex);
  World().module_file_name = path;
}
void SetTempFolder(const String& path) {
  std::lock_guard lock(World().mutex);
  World().temp_folder = path;
}
void SetSpecialFolder(int csidl, const String& path) {
  std::lock_guard lock(World().mutex);
  EnsureDefaultDrive(World());
  World().special_folders[csidl] = path;
}
void SetUserDefaultUILanguage(uint16_t langId) {
  std::lock_guard lock(World().mutex);
  World().ui_language = langId;
}
void SetInteractiveDesktop(bool interactive) {
  std::lock_guard lock(World().mutex);
  World().interactive = interactive;
}

void SetAdmin(bool admin) {
  std::lock_guard lock(World().mutex);
  World().admin = admin;
}
void SetWindowsVersion(const TWindowsVersion& version) {
  std::lock_guard lock(World().mutex);
  World().version = version;
}
void SetEnvironmentVariable(const String& name, const String& value) {
  std::lock_guard lock(World().mutex);
  EnsureDefaultDrive(World());
  World().environment[Fold(name)] = {name, value};
}
void SetDataResource(const String& name, std::vector<uint8_t> bytes) {
  std::lock_guard lock(World().mutex);
  World().resources[Fold(name)] = std::move(bytes);
}

}  // namespace standin
}  // namespace platform
