#include "product/setup_dest_content.h"

#include "core/setup.h"
#include "lib/ini_file.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "platform/app_repo.h"
#include "platform/files.h"
#include "product/setup_action_extract.h"
#include "product/setup_action_prepare.h"
#include "resources/setup_script.h"

namespace {

// Files of the product directly in its folder that its tables name, besides
// its program and what the record and the new version name.
constexpr const char16_t* kProductRootFiles[] = {
    u"Mivo.ini",    u"Mivo3.ini",    u"Uninstall.exe", u"Uninstall.dat",
    u"Uninstall.ini", u"Rivadavi.exe", u"libwebp.dll"};
// Folders of the product in its folder: where updates keep the users'
// content, the portable profile and the backups.
constexpr const char16_t* kProductFolders[] = {u"Plugins", u"Skins",   u"Icons",
                                               u"System",  u"Profile", u"!Backup"};
// Files below the product's folder that only an installation of it has.
constexpr const char16_t* kInstallationMarks[] = {
    u"System\\mivo_menu32.dll", u"System\\mivo_menu64.dll", u"System\\libsoxr.dll",
    u"Skins\\Classic.ini",      u"Skins\\ClassicMini.ini"};

String Upper(StringView text) {
  return VelSystem().UpperCase(String(text));
}

// The part of path below folder, or empty when it is not below it.
String Below(const String& path, const String& folder) {
  if (path.size() <= folder.size() || !StartsTextLocale(path, folder)) return {};
  return path.substr(folder.size());
}

// The entries of the uninstall record in the folder's "Uninstall.dat"; none
// when there is none or it cannot be read.
std::vector<String> ReadRecord(const String& dest) {
  std::vector<String> entries;
  try {
    std::unique_ptr<TStream> file =
        platform::OpenFileShared(dest + TSetupActionExtract::kUninstallDataName,
                                 platform::kGenericRead, platform::kFileShareRead,
                                 platform::kOpenExisting);
    if (!file) return entries;
    TSetupPackageReader package(*file);
    std::unique_ptr<TMemoryStream> text;
    if (!package.Extract(TSetupActionExtract::kRecordName, text)) return entries;
    TVelIniFile record;
    record.LoadFromStream(*text);
    const int32_t count =
        record.ReadInteger(TSetupActionExtract::kRecordSection, u"Count", 0);
    for (int32_t i = 0; i < count && i < 1000000; ++i) {
      String entry = record.ReadString(TSetupActionExtract::kRecordSection, IntToStr(i), u"");
      if (!entry.empty()) entries.push_back(std::move(entry));
    }
  } catch (const Exception&) {
    // A damaged record names nothing.
  }
  return entries;
}

bool RegistryEntryNames(const String& dest) {
  for (const char16_t* name : {u"Mivo", u"Mivo3"}) {
    String path;
    if (TSetupAppRepo::Find(name, path) &&
        SameTextLocale(IncludeTrailingBackslash(path), dest))
      return true;
  }
  return false;
}

}  // namespace

TSetupDestContent::TSetupDestContent(String dest, const std::vector<String>& record,
                                     const std::vector<String>& targets, bool holdsInstallation)
    : dest_(std::move(dest)), holds_(holdsInstallation) {
  for (const char16_t* name : kProductRootFiles) rootFiles_.insert(Upper(name));
  for (const char16_t* name : TSetupActionPrepare::kNotBackedUp) rootFiles_.insert(Upper(name));
  for (const char16_t* name : kProductFolders) folders_.insert(Upper(name));
  auto addRelative = [&](const String& relative) {
    const size_t slash = relative.find(u'\\');
    if (slash == String::npos)
      rootFiles_.insert(Upper(relative));
    else if (slash > 0)
      folders_.insert(Upper(StringView(relative).substr(0, slash)));
  };
  for (const String& entry : record) addRelative(entry);
  for (const String& target : targets) {
    targets_.insert(Upper(target));
    const String relative = Below(target, dest_);
    if (!relative.empty()) addRelative(relative);
  }
}

TSetupDestContent TSetupDestContent::OfDestination() {
  const String dest = Setup->GetDestPath();
  const std::vector<String> record = ReadRecord(dest);
  std::vector<String> targets;
  const TSetupScriptGroup& components = Setup->Resources().Script().Components;
  for (int i = 0; i < components.Count(); ++i)
    targets.push_back(Setup->Resources().ExpandPath(components.Items(i).Name));
  bool holds = !record.empty() || RegistryEntryNames(dest);
  const String program = Setup->ProductInfo().GetProductName() + u".exe";
  for (const char16_t* name : kProductRootFiles)
    holds = holds || platform::FileExists(dest + name);
  holds = holds || platform::FileExists(dest + program);
  for (const char16_t* name : kInstallationMarks) holds = holds || platform::FileExists(dest + name);
  for (const auto& plugin : TSetupActionPrepare::kDiscontinuedPlugins)
    holds = holds || platform::DirectoryExists(dest + u"Plugins\\" + plugin.folder + u"\\");
  TSetupDestContent content(dest, record, targets, holds);
  content.rootFiles_.insert(Upper(program));
  return content;
}

TSetupDestContent TSetupDestContent::OfRecord(const std::vector<String>& record) {
  TSetupDestContent content(Setup->GetDestPath(), record, {}, true);
  content.rootFiles_.insert(Upper(Setup->ProductInfo().GetProductName() + u".exe"));
  return content;
}

bool TSetupDestContent::IsProductFile(const String& path) const {
  if (targets_.count(Upper(path))) return true;
  const String relative = Below(path, dest_);
  if (relative.empty()) return !StartsTextLocale(path, dest_);
  if (!holds_) return false;
  const size_t slash = relative.find(u'\\');
  return slash == String::npos ? IsProductEntry(relative, false)
                               : IsProductEntry(StringView(relative).substr(0, slash), true);
}

bool TSetupDestContent::IsProductEntry(StringView name, bool folder) const {
  const String upper = Upper(name);
  if (folder) return folders_.count(upper) > 0;
  if (rootFiles_.count(upper)) return true;
  // What replacing a file of the product leaves beside it when a run is
  // cut short: "<file>.new", "<file>.bak" and the like, and "~del*.tmp".
  if (StartsWith(upper, u"~DEL") && EndsWith(upper, u".TMP")) return true;
  for (size_t dot = upper.rfind(u'.'); dot != String::npos && dot > 0;
       dot = upper.rfind(u'.', dot - 1))
    if (rootFiles_.count(upper.substr(0, dot))) return true;
  return false;
}
