// The demo's registration program. It records each command line it gets and
// registers the player with Windows (machine-wide, below HKLM\Software) as
// the switches ask:
//
//   /REG=L1   the application entry (Applications\Mivo.exe, "Open with")
//   /REG=D1   Default Programs: capabilities and RegisteredApplications
//   /REG=R1   the ProgID "Mivo.AudioFile" with icon and open command
//   /REG=M1   the Explorer context menu of folders: "Play with Mivo"
//   /REG=R2   the audio file types offer the ProgID (and take it as their
//             default when they have none)
//   /REG_UI   would show the system's default-app choice; recorded only
//   /REG=U    removes everything above
//
// Any other switch is recorded and ignored. The exit code is 0.
#include <windows.h>

#include <string>

#include "demo/companions/companion_log.h"

namespace {

const wchar_t kClasses[] = L"Software\\Classes\\";
const wchar_t kProgId[] = L"Mivo.AudioFile";
const wchar_t kApplication[] = L"Software\\Classes\\Applications\\Mivo.exe";
const wchar_t kCapabilities[] = L"Software\\Mivo\\Capabilities";
const wchar_t kRegisteredApps[] = L"Software\\RegisteredApplications";
const wchar_t kContextMenu[] = L"Software\\Classes\\Directory\\shell\\Mivo.Play";
const wchar_t* const kExtensions[] = {L".mp3", L".flac", L".ogg", L".wav"};

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}

std::wstring GetText(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return L"";
  return buffer;
}

void DeleteValue(const std::wstring& key, const wchar_t* name) {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name);
}

void DeleteTree(const std::wstring& key) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

std::wstring OpenCommand(const std::wstring& player) {
  return L"\"" + player + L"\" \"%1\"";
}

void RegisterApplication(const std::wstring& player) {
  const std::wstring app = kApplication;
  SetText(app, L"FriendlyAppName", L"Mivo");
  SetText(app + L"\\shell\\open\\command", nullptr, OpenCommand(player));
  for (const wchar_t* ext : kExtensions) SetText(app + L"\\SupportedTypes", ext, L"");
}

void RegisterDefaultPrograms() {
  const std::wstring caps = kCapabilities;
  SetText(caps, L"ApplicationName", L"Mivo");
  SetText(caps, L"ApplicationDescription", L"Mivo audio player");
  for (const wchar_t* ext : kExtensions) SetText(caps + L"\\FileAssociations", ext, kProgId);
  SetText(kRegisteredApps, L"Mivo", caps);
}

void RegisterProgId(const std::wstring& player) {
  const std::wstring progId = std::wstring(kClasses) + kProgId;
  SetText(progId, nullptr, L"Audio file (Mivo)");
  SetText(progId + L"\\DefaultIcon", nullptr, player + L",0");
  SetText(progId + L"\\shell\\open\\command", nullptr, OpenCommand(player));
}

void RegisterContextMenu(const std::wstring& player) {
  const std::wstring menu = kContextMenu;
  SetText(menu, nullptr, L"Play with Mivo");
  SetText(menu, L"Icon", player + L",0");
  SetText(menu + L"\\command", nullptr, L"\"" + player + L"\" /ADD \"%1\"");
}

void AssociateFiles() {
  for (const wchar_t* ext : kExtensions) {
    const std::wstring key = std::wstring(kClasses) + ext;
    SetText(key + L"\\OpenWithProgids", kProgId, L"");
    if (GetText(key, nullptr).empty()) SetText(key, nullptr, kProgId);
  }
}

void Unregister() {
  for (const wchar_t* ext : kExtensions) {
    const std::wstring key = std::wstring(kClasses) + ext;
    DeleteValue(key + L"\\OpenWithProgids", kProgId);
    if (GetText(key, nullptr) == kProgId) DeleteValue(key, nullptr);
  }
  DeleteTree(kContextMenu);
  DeleteTree(std::wstring(kClasses) + kProgId);
  DeleteValue(kRegisteredApps, L"Mivo");
  DeleteTree(kCapabilities);
  DeleteTree(kApplication);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring commandLine = GetCommandLineW();
  AppendToLog(commandLine);
  const std::wstring player = ProgramFolder() + L"Mivo.exe";
  if (HasSwitch(commandLine, L"/REG=U")) {
    Unregister();
    return 0;
  }
  if (HasSwitch(commandLine, L"/REG=L1")) RegisterApplication(player);
  if (HasSwitch(commandLine, L"/REG=D1")) RegisterDefaultPrograms();
  if (HasSwitch(commandLine, L"/REG=R1")) RegisterProgId(player);
  if (HasSwitch(commandLine, L"/REG=M1")) RegisterContextMenu(player);
  if (HasSwitch(commandLine, L"/REG=R2")) AssociateFiles();
  return 0;
}
