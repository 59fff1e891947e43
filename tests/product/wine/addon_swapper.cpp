// A standard user's attempt at the add-on installer: it watches the
// temporary folder tree for the installer's file and, the moment the
// installer that writes it lets go of it, puts its own program in its
// place, so that the elevated installer would start that one with the
// add-on switches.
//
// usage: addon_swapper.exe watch NAME READY STOP LOG
//   Creates READY, then looks (without pause) for files named NAME in the
//   temporary folder and in every folder directly in it, and for each one
//   found tries over and over to open it for writing and overwrite it with
//   this program, or else to rename it and copy this program to its name.
//   It goes on after a replacement and after the file's deletion (it may be
//   written anew), until its folder is gone. Ends when STOP exists (or after
//   ten minutes). What it sees and does is appended to LOG, one line each:
//     found PATH
//     security FOLDER SDDL     (the owner and access list of PATH's folder,
//                              or "none ERROR")
//     replaced PATH            (overwritten in place)
//     renamed PATH             (renamed aside, this program put at its name)
//     refused PATH N ERROR [across-start]
//                              (N attempts in a row refused, the last with
//                              ERROR, until a replacement, the file's
//                              deletion or the end; "across-start" when the
//                              add-on installer left its record in
//                              MIVO_COMPANION_LOG_DIR after the first of
//                              them and before the last: it was started
//                              while they were refused)
//     gone PATH                (deleted)
//     back PATH                (there again after its deletion)
// Started in any other way (as the add-on installer, when a replacement
// worked), it appends "started COMMAND LINE" to "Swapper.started.log" in
// the folder named by MIVO_COMPANION_LOG_DIR (else C:\) and ends.
#include <windows.h>
// windows.h first
#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "demo/companions/companion_log.h"

namespace {

std::wstring SelfPath() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::wstring(path, length);
}

void Append(const std::wstring& log, const std::wstring& line) { AppendToLog(line, log); }

// The folder named by MIVO_COMPANION_LOG_DIR, with a trailing backslash;
// empty when it is not set.
std::wstring CompanionLogDir() {
  wchar_t folder[MAX_PATH * 4];
  const DWORD n = GetEnvironmentVariableW(L"MIVO_COMPANION_LOG_DIR", folder, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) return {};
  std::wstring dir(folder, n);
  if (dir.back() != L'\\') dir += L'\\';
  return dir;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<char> ReadAll(const std::wstring& path) {
  std::vector<char> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file, &size)) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
      bytes.clear();
    bytes.resize(read);
  }
  CloseHandle(file);
  return bytes;
}

// The files named name in the folder and in each folder directly in it.
void Candidates(const std::wstring& folder, const std::wstring& name,
                std::vector<std::wstring>& found) {
  if (Exists(folder + name)) found.push_back(folder + name);
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
    const std::wstring path = folder + entry.cFileName + L"\\" + name;
    if (Exists(path)) found.push_back(path);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

// The folder's owner and access list in SDDL, as Windows reads them back.
std::wstring Security(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(
      folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
      nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return L"none " + std::to_wstring(error);
  wchar_t* text = nullptr;
  std::wstring result = L"none";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

struct Target {
  std::wstring path;
  bool present = true;
  bool done = false;           // gone with its folder
  unsigned long refusals = 0;  // attempts refused in a row
  bool startedBefore = false;  // the add-on installer had run when they began
  DWORD lastError = 0;
};

// The add-on installer has run: it left its record.
bool AddonInstallerStarted() {
  const std::wstring dir = CompanionLogDir();
  return !dir.empty() && Exists(dir + L"MivoToolsSetup.program.log");
}

// A run of refused attempts has ended (by a replacement, the file's
// deletion or the end of the watch): logged with the number of attempts.
void EndStreak(Target& target, const std::wstring& log) {
  if (target.refusals == 0) return;
  Append(log, L"refused " + target.path + L" " + std::to_wstring(target.refusals) + L" " +
                  std::to_wstring(target.lastError) +
                  (!target.startedBefore && AddonInstallerStarted() ? L" across-start" : L""));
  target.refusals = 0;
}

// One attempt: this program's bytes written over the file, or the file
// renamed aside and this program copied to its name.
const wchar_t* TryReplace(Target& target, const std::vector<char>& self,
                          const std::wstring& selfPath) {
  HANDLE file = CreateFileW(target.path.c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    const bool ok = WriteFile(file, self.data(), static_cast<DWORD>(self.size()), &written,
                              nullptr) &&
                    written == self.size() && SetEndOfFile(file);
    target.lastError = GetLastError();
    CloseHandle(file);
    if (ok) return L"replaced";
  } else {
    target.lastError = GetLastError();
  }
  const std::wstring aside = target.path + L".old";
  if (MoveFileExW(target.path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    if (CopyFileW(selfPath.c_str(), target.path.c_str(), FALSE)) return L"renamed";
    target.lastError = GetLastError();
  } else if (target.lastError == ERROR_SUCCESS) {
    target.lastError = GetLastError();
  }
  return nullptr;
}

int Watch(const std::wstring& name, const std::wstring& ready, const std::wstring& stop,
          const std::wstring& log) {
  wchar_t tempBuffer[MAX_PATH + 1];
  const DWORD tempLength = GetTempPathW(MAX_PATH + 1, tempBuffer);
  if (tempLength == 0 || tempLength > MAX_PATH) return 1;
  const std::wstring temp(tempBuffer, tempLength);
  const std::wstring selfPath = SelfPath();
  const std::vector<char> self = ReadAll(selfPath);
  if (self.empty()) return 1;
  Append(log, L"watching " + temp + name);
  HANDLE readyFile = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                 nullptr);
  if (readyFile == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(readyFile);

  std::vector<Target> targets;
  const ULONGLONG deadline = GetTickCount64() + 10 * 60 * 1000;
  unsigned long round = 0;
  while (GetTickCount64() < deadline) {
    // Looking for the stop file and for new files costs more than an
    // attempt: done every so often while files are being watched.
    if (++round % 64 == 1 || targets.empty()) {
      if (Exists(stop)) break;
      std::vector<std::wstring> found;
      Candidates(temp, name, found);
      for (const std::wstring& path : found) {
        bool known = false;
        for (const Target& t : targets) known = known || _wcsicmp(t.path.c_str(), path.c_str()) == 0;
        if (known) continue;
        Append(log, L"found " + path);
        const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        Append(log, L"security " + folder + L" " + Security(folder));
        targets.push_back(Target{path});
      }
    }
    bool waiting = false;
    for (Target& target : targets) {
      if (target.done) continue;
      if (const wchar_t* how = TryReplace(target, self, selfPath)) {
        // The installer may write it anew: it is taken again then.
        EndStreak(target, log);
        Append(log, std::wstring(how) + L" " + target.path);
        target.present = true;
      } else if (!Exists(target.path)) {
        // Deleted: written anew soon, unless its folder went with it.
        if (target.present) {
          EndStreak(target, log);
          Append(log, L"gone " + target.path);
          target.present = false;
        }
        target.done = !Exists(target.path.substr(0, target.path.find_last_of(L'\\')));
        waiting = !target.done;
      } else {
        if (!target.present) Append(log, L"back " + target.path);
        target.present = true;
        if (++target.refusals == 1) target.startedBefore = AddonInstallerStarted();
        waiting = true;
      }
    }
    // Without a file to take, the tree is looked at again after a pause
    // that leaves the processor to the installer; a file that is there is
    // tried again at once, so that the moment it is let go is not missed.
    if (!waiting) Sleep(1);
  }
  for (Target& target : targets) EndStreak(target, log);
  return 0;
}

}  // namespace

// A program without a console or window, as the add-on installer's
// stand-in is.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc == 6 && wcscmp(argv[1], L"watch") == 0)
    return Watch(argv[2], argv[3], argv[4], argv[5]);
  // Started in the add-on installer's place.
  std::wstring dir = CompanionLogDir();
  if (dir.empty()) dir = L"C:\\";
  Append(dir + L"Swapper.started.log", L"started " + std::wstring(GetCommandLineW()));
  return 0;
}
