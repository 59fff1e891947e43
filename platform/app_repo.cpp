#include "platform/app_repo.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "lib/local_time.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

using platform::RegRoot;
using platform::TRegKey;

// Up to and including the last colon, backslash or slash.
String FolderPart(const String& path) {
  const size_t at = path.find_last_of(u":\\/");
  return at == String::npos ? String() : path.substr(0, at + 1);
}

String ReadText(const TRegKey& key, const String& name) {
  String value;
  if (!key.ReadString(name, value)) value.clear();
  return value;
}

// The program of a command: the text between the quotes when it starts
// with one (arguments after it dropped), else the whole text, as older
// versions wrote it unquoted.
String CommandProgram(const String& command) {
  if (command.empty() || command[0] != u'"') return command;
  const size_t close = command.find(u'"', 1);
  return close == String::npos ? String() : command.substr(1, close - 1);
}

bool FindInView(const String& key, uint32_t viewFlag, String& path) {
  TRegKey k;
  if (k.Open(RegRoot::LocalMachine, key, platform::kKeyRead | viewFlag) != platform::kErrorSuccess)
    return false;
  path = ReadText(k, u"InstallPath");
  if (!path.empty()) path = IncludeTrailingBackslash(path);
  if (!platform::DirectoryExists(path))
    path = FolderPart(CommandProgram(ReadText(k, u"UninstallString")));
  if (!platform::DirectoryExists(path)) path = FolderPart(ReadText(k, u"DisplayIcon"));
  return platform::DirectoryExists(path);
}

// A key name names one key directly below "Uninstall": a backslash would
// reach other keys (a lone backslash would name the "Uninstall" key itself).
bool IsUsableKeyName(const String& keyName) {
  return !keyName.empty() && keyName.find(u'\\') == String::npos;
}

// The local date as "yyyyMMdd".
String LocalDateText() {
  const std::tm local = LocalTimeNow();
  char text[40];  // room for any int, so the output is never cut
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return Utf8ToUtf16(text);
}

// The leading number of the text and what follows it ("5.50.1" gives 5 and
// ".50.1"); false when it does not start with a digit.
bool LeadingNumber(StringView& text, uint32_t& number) {
  size_t i = 0;
  number = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && i < 9)
    number = number * 10 + static_cast<uint32_t>(text[i++] - u'0');
  text.remove_prefix(i);
  return i > 0;
}

}  // namespace

bool TSetupAppRepo::VersionParts(StringView version, uint32_t& major, uint32_t& minor) {
  major = minor = 0;
  if (!LeadingNumber(version, major)) return false;
  if (!version.empty() && version[0] == u'.') {
    version.remove_prefix(1);
    LeadingNumber(version, minor);
  }
  return true;
}

String TSetupAppRepo::GetKeyPath(bool wow64) {
  String path = u"Software\\";
  if (wow64) path += u"Wow6432Node\\";
  return path + u"Microsoft\\Windows\\CurrentVersion\\" + u"Uninstall\\";
}

String TSetupAppRepo::MakeKeyName(const String& displayName) {
  String name;
  for (char16_t c : displayName)
    if (c != u' ') name.push_back(c);
  return name;
}

bool TSetupAppRepo::Find(const String& name, String& path) {
  const String keyName = MakeKeyName(name);
  if (!IsUsableKeyName(keyName)) {
    path.clear();
    return false;
  }
  const String key = GetKeyPath(false) + keyName;
  if (FindInView(key, 0, path)) return true;
  path.clear();
  return FindInView(key, platform::kKeyWow64_32Key, path);
}

void TSetupAppRepo::Write(const String& displayName, const String& uninstaller,
                          const String& version, const String& publisher, const String& homePage,
                          uint32_t estimatedSizeKiB) {
  const String keyName = MakeKeyName(displayName);
  if (!IsUsableKeyName(keyName)) return;
  // The entry is rewritten in place, never deleted first: a run that ends
  // half-way leaves the old entry or the new one, not none. What an earlier
  // entry held beyond the values below goes afterwards, and so does an entry
  // in the 32-bit view.
  platform::DeleteKeyTree(RegRoot::LocalMachine, GetKeyPath(true) + keyName);
  const String key = GetKeyPath(false) + keyName;
  TRegKey k;
  if (k.Open(RegRoot::LocalMachine, key, platform::kKeyRead | platform::kKeyWrite) !=
          platform::kErrorSuccess &&
      k.Create(RegRoot::LocalMachine, key, platform::kKeyAllAccess) != platform::kErrorSuccess)
    return;
  // Each value on its own: one that cannot be set is skipped.
  k.WriteDword(u"NoModify", 1);
  k.WriteDword(u"NoRepair", 1);
  k.WriteString(u"DisplayIcon", uninstaller);
  k.WriteString(u"DisplayName", displayName);
  k.WriteString(u"DisplayVersion", version);
  k.WriteString(u"InstallDate", LocalDateText());
  k.WriteString(u"InstallPath", ExtractFilePath(uninstaller));
  k.WriteString(u"Publisher", publisher);
  // Quoted: unquoted, Windows would try "C:\Program.exe" first for a path
  // with a space.
  k.WriteString(u"UninstallString", u"\"" + uninstaller + u"\"");
  k.WriteString(u"URLInfoAbout", homePage);
  // What the list of programs and deployment tools read besides: the
  // command of a silent uninstallation, the folder, the size (Windows no
  // longer computes it) and the version as numbers.
  k.WriteString(u"QuietUninstallString",
                u"\"" + uninstaller + u"\" " + String(kQuietUninstallSwitches));
  k.WriteString(u"InstallLocation", ExtractFilePath(uninstaller));
  k.WriteDword(u"EstimatedSize", estimatedSizeKiB);
  uint32_t major = 0, minor = 0;
  if (VersionParts(version, major, minor)) {
    k.WriteDword(u"VersionMajor", major);
    k.WriteDword(u"VersionMinor", minor);
  }

  static const char16_t* const kOurs[] = {
      u"NoModify",         u"NoRepair",        u"DisplayIcon",   u"DisplayName",
      u"DisplayVersion",   u"InstallDate",     u"InstallPath",   u"Publisher",
      u"UninstallString",  u"URLInfoAbout",    u"QuietUninstallString",
      u"InstallLocation",  u"EstimatedSize",   u"VersionMajor",  u"VersionMinor"};
  std::vector<String> stale;
  String name;
  for (uint32_t i = 0; k.EnumValue(i, name) == platform::kErrorSuccess; ++i) {
    bool ours = false;
    for (const char16_t* our : kOurs) ours = ours || SameTextAscii(name, our);
    if (!ours) stale.push_back(name);
  }
  for (const String& value : stale) k.DeleteValue(value);
  std::vector<String> subKeys;
  for (uint32_t i = 0; k.EnumKey(i, name) == platform::kErrorSuccess; ++i) subKeys.push_back(name);
  k.Close();
  for (const String& subKey : subKeys)
    platform::DeleteKeyTree(RegRoot::LocalMachine, key + u"\\" + subKey);
}

void TSetupAppRepo::Delete(const String& displayName) {
  const String keyName = MakeKeyName(displayName);
  if (!IsUsableKeyName(keyName)) return;
  platform::DeleteKeyTree(RegRoot::LocalMachine, GetKeyPath(false) + keyName);
  platform::DeleteKeyTree(RegRoot::LocalMachine, GetKeyPath(true) + keyName);
}
