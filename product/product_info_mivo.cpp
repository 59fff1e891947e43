#include "product/product_info_mivo.h"

#include "core/setup.h"
#include "lib/system.h"
#include "platform/app_repo.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"
#include "product/setup_helper.h"

namespace {

const TSetupProductInfoRegistrar registrar(&CreateProductInfo<TProductInfoMivo>);

const char16_t kSystem[] = u"System";

bool IsOption(TSetupOption option) {
  return Setup->IsOptionSet(option);
}

}  // namespace

TProductInfoMivo::TProductInfoMivo() = default;
TProductInfoMivo::~TProductInfoMivo() = default;

bool TProductInfoMivo::FindInstalledPath(String& path) {
  path.clear();
  if (TSetupAppRepo::Find(u"Mivo", path) || TSetupAppRepo::Find(u"Mivo3", path)) return true;
  path.clear();
  const platform::WindowHandle window = platform::FindWindowByClass(u"TMivoMainForm");
  if (!window) return false;
  const uint32_t processId = platform::WindowProcessId(window);
  String program;
  if (processId == 0 || !platform::ProcessImagePath(processId, program)) return false;
  // Any program can open a window of that class: its folder counts only
  // when it holds an installation that nobody but administrators can have
  // put there.
  const String folder = ExtractFilePath(program);
  if (!HoldsProtectedInstallation(folder)) return false;
  path = folder;
  return true;
}

bool TProductInfoMivo::HoldsProtectedInstallation(const String& folder) {
  if (folder.empty() || !platform::FileExists(folder + u"Uninstall.dat") ||
      !platform::FileExists(folder + u"Mivo.exe"))
    return false;
  return TSetupHelper::OnlyAdministratorsCanChange(folder);
}

bool TProductInfoMivo::AddonsAvailable() {
  return !IsOption(TSetupOption::Auto) && !IsOption(TSetupOption::Silent) &&
         SameTextLocale(Setup->Resources().LangName(), u"Russian");
}

String TProductInfoMivo::GetDefaultPath() {
  String path;
  if (FindInstalledPath(path)) return path;
  return TSetupProductInfo::GetDefaultPath();
}

bool TProductInfoMivo::CanUpdate() {
  const int32_t version = GetInstalledVersion();
  return version >= 3500 && version <= 5499;
}

bool TProductInfoMivo::IsPortable() {
  return !Config.ReadBool(kSystem, u"UserMode", true);
}

int32_t TProductInfoMivo::GetInstalledVersion() {
  return Config.ReadInteger(kSystem, u"Version", 0);
}

void TProductInfoMivo::LoadConfig() {
  const String dest = Setup->GetDestPath();
  String file;
  // Without a destination there is nothing to look at (a bare file name
  // would name a file in the current folder).
  if (!dest.empty()) {
    if (platform::FileExists(dest + u"Mivo.ini"))
      file = dest + u"Mivo.ini";
    else if (platform::FileExists(dest + u"Mivo3.ini"))
      file = dest + u"Mivo3.ini";
  }
  Config.Clear();
  if (!file.empty()) Config.LoadFromFile(file);
  Setup->Settings.SetSectionText(kSettingsIntegration, Config.GetSectionText(kSettingsIntegration));
}

void TProductInfoMivo::EnumActionNames(const std::function<void(const String&)>& callback) {
  callback(u"TSetupActionCloseApplications");
  if (Setup->RunKind() == TSetupRunKind::Uninstall) {
    callback(u"TSetupActionUninstallIntegration");
    callback(u"TSetupActionUninstallFiles");
    return;
  }
  callback(u"TSetupActionPrepare");
  if (AddonsAvailable()) callback(u"TSetupActionAddonsInstall");
  callback(u"TSetupActionExtract");
  callback(u"TSetupActionConfig");
  const bool update = IsOption(TSetupOption::Update);
  if (!update && !IsOption(TSetupOption::Portable)) callback(u"TSetupActionIntegrate");
  if (!update) callback(u"TSetupActionShortcuts");
  if (platform::WindowsVersion().major >= 10) callback(u"TSetupActionUpdateShellCache");
}

void TProductInfoMivo::EnumPageNames(const std::function<void(const String&)>& callback) {
  if (Setup->RunKind() == TSetupRunKind::Uninstall) {
    callback(u"TSetupPageUninstallParams");
    return;
  }
  callback(u"TSetupPageWelcome");
  callback(u"TSetupPageLicense");
  callback(u"TSetupPageSetup");
  if (AddonsAvailable()) callback(u"TSetupPageAddons");
  callback(u"TSetupPageIntegration");
  callback(u"TSetupPageReadyToInstall");
}

void TProductInfoMivo::EnumActions(const std::function<void(const TSetupActionClass&)>& callback) {
  std::vector<String> names;
  EnumActionNames([&](const String& name) { names.push_back(name); });
  EnumActionClasses(names, callback);
}

void TProductInfoMivo::EnumPages(const std::function<void(TSetupPageClass)>& callback) {
  EnumPageNames([&](const String& name) {
    if (TSetupPageClass pageClass = FindSetupPageClass(name)) callback(pageClass);
  });
}
