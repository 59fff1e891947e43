// Elevation, the spawn service and the relaunch from the temporary folder,
// on the platform interfaces.
#include "platform/spawn_service.h"

#include <cstring>
#include <memory>
#include <vector>

#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/shell.h"
#include "platform/system_info.h"

namespace {

// Written on the main thread by Initialize; read there by the window.
platform::WindowHandle g_spawn_target = 0;
bool g_spawn_owner = false;
uint32_t g_spawn_message_id = 0;

intptr_t SpawnWindowProc(platform::WindowHandle window, uint32_t msg, uintptr_t wParam,
                         intptr_t lParam) {
  if (msg == platform::kWmCopyData && lParam != 0) {
    const auto* data = reinterpret_cast<const platform::TCopyData*>(lParam);
    if (g_spawn_message_id != 0 && data->dwData == g_spawn_message_id) {
      String path;
      if (data->cbData >= 2 && data->lpData) {
        path.resize(data->cbData / 2);
        std::memcpy(path.data(), data->lpData, path.size() * sizeof(char16_t));
      }
      try {
        TSetupSpawnService::OpenLocally(path);
      } catch (...) {
        // A program that cannot be started is simply not started.
      }
    }
  }
  return platform::DefaultHandler(window, msg, wParam, lParam);
}

// A copy of the file in the folder, replacing an earlier copy.
String CopyIntoFolder(const String& source, const String& folder) {
  const String target = folder + ExtractFileName(source);
  platform::SetAttributes(target, 0);
  CopyFileOrRaise(source, target);
  return target;
}

String ChangeFileExt(const String& path, const String& extension) {
  return path.substr(0, path.size() - ExtractFileExt(path).size()) + extension;
}

bool StartsWithFolder(const String& path, const String& folder) {
  return path.size() >= folder.size() &&
         SameTextLocale(StringView(path).substr(0, folder.size()), folder);
}

}  // namespace

void RemovePrivateFolder(std::unique_ptr<platform::TPrivateFolder>& folder,
                         bool waitForPrograms) {
  if (!folder) return;
  const String path = folder->Path();
  // Not the current folder any more, or it could not go.
  if (StartsWithFolder(IncludeTrailingBackslash(platform::CurrentFolder()), path))
    platform::SetCurrentFolder(ExtractFilePath(ExcludeTrailingBackslash(path)));
  const platform::TWaitHandle pause = platform::NewEvent(true, false);
  std::vector<String> left;
  for (int round = 0; round < (waitForPrograms ? 50 : 1); ++round) {
    if (round > 0) platform::Wait(pause, 100);
    left.clear();
    std::vector<platform::TFolderEntry> entries;
    if (platform::ListFolder(path, entries))
      for (const platform::TFolderEntry& entry : entries)
        if (!(entry.attributes & platform::kFileAttributeDirectory) || entry.link) {
          platform::SetAttributes(path + entry.name, 0);
          if (!platform::RemoveFile(path + entry.name)) left.push_back(path + entry.name);
        }
    if (left.empty()) break;
  }
  folder.reset();
  // Released, the folder may take a moment to go too (Wine).
  for (int round = 0; round < (left.empty() ? 50 : 1); ++round) {
    if (round > 0) platform::Wait(pause, 100);
    if (platform::RemoveFolder(path) || !platform::DirectoryExists(path)) return;
  }
  for (const String& file : left) DeleteOnReboot(file);
  // After its files: a folder goes at restart only when it is empty by then.
  DeleteOnReboot(ExcludeTrailingBackslash(path));
}

void TSetupSpawnService::Initialize(uintptr_t token) {
  if (g_spawn_target != 0) throw Exception(u"SpawnService is already initialized");
  if (token != 0) {
    g_spawn_message_id = platform::RegisterMessage(u"SpawnToken");
    g_spawn_target = token;
    g_spawn_owner = false;
    return;
  }
  if (!platform::IsMainThread())
    throw EInvalidOperation(u"Cannot create window in non-main thread");
  // The id first: a start request can arrive as soon as the window exists.
  g_spawn_message_id = platform::RegisterMessage(u"SpawnToken");
  const platform::WindowHandle window =
      platform::CreateMessageWindow(u"TSetupSpawnService", SpawnWindowProc);
  if (window == 0) platform::RaiseLastOSError();
  g_spawn_target = window;
  g_spawn_owner = true;
}

void TSetupSpawnService::Spawn(const String& path, const String& parameters) {
  if (g_spawn_target != 0 && !g_spawn_owner) {
    // Synchronous; a dead target makes this a silent no-op.
    String request = path;
    if (!parameters.empty()) request += u'\0' + parameters;
    const size_t bytes = request.size() * sizeof(char16_t);
    if (bytes > 0x7FFFFFFF) return;
    platform::SendCopyData(g_spawn_target, 0, g_spawn_message_id, request.data(),
                           static_cast<uint32_t>(bytes));
    return;
  }
  // The desktop shell takes no parameters: started from here.
  if (!parameters.empty()) {
    ShellOpen(path, parameters);
    return;
  }
  if (platform::WindowsVersion().major >= 6) {
    // The desktop shell is not elevated: what it starts runs as the user.
    // It is the one of the Windows folder, never one found beside this
    // program (a download folder) by the shell's search.
    String windows;
    if (platform::SpecialFolder(platform::kCsidlWindows, windows))
      // Quoted: a path with blanks is one argument, never a program and
      // arguments of the shell's choosing.
      ShellOpen(IncludeTrailingBackslash(windows) + u"explorer.exe", u"\"" + path + u"\"");
    return;
  }
  ShellOpen(path, u"");
}

void TSetupSpawnService::OpenLocally(const String& request) {
  const size_t end = request.find(u'\0');
  if (end == String::npos)
    ShellOpen(request, u"");
  else
    ShellOpen(request.substr(0, end), request.substr(end + 1));
}

platform::WindowHandle TSetupSpawnService::SpawnTarget() {
  return g_spawn_target;
}

bool TSetupSpawnService::SpawnOwner() {
  return g_spawn_owner;
}

uint32_t TSetupSpawnService::SpawnMessageId() {
  return g_spawn_message_id;
}

void TSetupSpawnService::ResetForTests() {
  if (g_spawn_owner && g_spawn_target != 0) platform::DestroyMessageWindow(g_spawn_target);
  g_spawn_target = 0;
  g_spawn_owner = false;
  g_spawn_message_id = 0;
}

bool RelaunchElevated(const String& arguments, uint32_t& exitCode) {
  TSetupSpawnService::Initialize(0);
  platform::TShellExecuteParams params;
  params.mask = platform::kSeeMaskNoCloseProcess | platform::kSeeMaskNoAsync |
                platform::kSeeMaskFlagNoUi | platform::kSeeMaskNoZoneChecks;
  params.verb = u"runas";
  params.file = platform::ModuleFileName();
  params.parameters = u"/SKIPUAC=" +
                      IntToStr(static_cast<int64_t>(TSetupSpawnService::SpawnTarget())) + u" " +
                      arguments;
  params.directory = IncludeTrailingBackslash(platform::CurrentFolder());
  params.show = platform::kSwShowNormal;
  platform::TWaitHandle process;
  if (!platform::ShellExecuteWith(params, &process)) {
    if (platform::LastError() == platform::kErrorCancelled) return false;
    platform::RaiseLastOSError();
  }
  // An outcome that cannot be read is not reported as success.
  exitCode = 1;
  // Start requests of the elevated process are carried out meanwhile.
  if (process && ::WaitWithMessages(process, platform::kInfinite) == 0) {
    uint32_t code = 0;
    if (platform::ProcessExitCode(process, code)) exitCode = code;
  }
  return true;
}

uint32_t RelaunchFromTemp(const String& arguments) {
  const String temp = platform::TempFolder();
  if (temp.empty()) platform::RaiseLastOSError();
  const String self = platform::ModuleFileName();
  std::unique_ptr<platform::TPrivateFolder> folder =
      platform::CreatePrivateFolder(temp, kRelaunchFolderPrefix);
  if (!folder) platform::RaiseLastOSError(temp);
  uint32_t exitCode = 1;
  try {
    const String tempSelf = CopyIntoFolder(self, folder->Path());
    CopyIntoFolder(ChangeFileExt(self, u".dat"), folder->Path());
    // No handle of this process may keep the installation folder busy.
    platform::SetCurrentFolder(folder->Path());

    platform::TShellExecuteParams params;
    params.mask = platform::kSeeMaskNoCloseProcess | platform::kSeeMaskNoAsync |
                  platform::kSeeMaskFlagNoUi;
    params.file = tempSelf;
    params.parameters = u"/PATH=\"" + ExtractFilePath(self) + u"\" " + arguments;
    params.directory = folder->Path();
    params.show = platform::kSwShow;
    platform::TWaitHandle process;
    if (!platform::ShellExecuteWith(params, &process)) platform::RaiseLastOSError(tempSelf);
    // The one who started the uninstaller learns how it ended. The folder
    // stays held meanwhile, so that nobody can put another one in its place.
    if (process && ::WaitWithMessages(process, platform::kInfinite) == 0) {
      uint32_t code = 0;
      if (platform::ProcessExitCode(process, code)) exitCode = code;
    }
  } catch (...) {
    RemovePrivateFolder(folder);
    throw;
  }
  // The copy has ended: its folder and what it wrote there go now.
  RemovePrivateFolder(folder);
  return exitCode;
}

bool IsRelaunchFolder(const String& folder) {
  const String temp = IncludeTrailingBackslash(platform::TempFolder());
  const String path = IncludeTrailingBackslash(folder);
  if (SameTextLocale(path, temp)) return true;
  const String parent = ExtractFilePath(ExcludeTrailingBackslash(path));
  const String name = ExtractFileName(ExcludeTrailingBackslash(path));
  const String prefix = kRelaunchFolderPrefix;
  return SameTextLocale(parent, temp) && name.size() >= prefix.size() &&
         SameTextLocale(StringView(name).substr(0, prefix.size()), prefix);
}

bool RunsAsRelaunchedCopy() {
  const String folder = ExtractFilePath(platform::ModuleFileName());
  const String temp = IncludeTrailingBackslash(platform::TempFolder());
  if (!IsRelaunchFolder(folder) || SameTextLocale(folder, temp)) return false;
  // Anybody may make a folder of that name; only the relaunch makes one
  // that belongs to the administrators and that nobody else may change.
  // Wine keeps no file security descriptors (and runs everything as the
  // one user): there is nothing to tell the two apart by.
  if (platform::RunningUnderWine()) return true;
  return platform::OnlyAdministratorsMayWrite(folder, true);
}

bool IsUninstaller() {
  return SameTextLocale(ExtractFileName(platform::ModuleFileName()), u"Uninstall.exe");
}
