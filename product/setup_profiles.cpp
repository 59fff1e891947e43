#include "product/setup_profiles.h"

#include "core/setup.h"
#include "lib/system.h"
#include "platform/files.h"
#include "platform/users.h"

String TSetupProfileHelper::GetProfilePath(const String& appData, int32_t version) {
  if (appData.empty()) return Setup->GetDestPath() + u"Profile\\";
  // The profile list's "AppData" folders come without a trailing backslash.
  return IncludeTrailingBackslash(appData) +
         (version >= 4000 ? Setup->ProductInfo().GetProductName() : u"Mivo3") + u"\\";
}

String TSetupProfileHelper::GetDataFolder(const String& appData) {
  return GetProfilePath(appData, Setup->ProductInfo().GetProductVersionId());
}

String TSetupProfileHelper::GetOldDataFolder(const String& appData) {
  return GetProfilePath(appData, Setup->ProductInfo().GetInstalledVersion());
}

bool TSetupProfileHelper::StaysInside(const String& folder, const String& base) {
  const String path = ExcludeTrailingBackslash(platform::FullPathName(folder));
  if (base.empty()) return !platform::IsLink(path);
  const String root = IncludeTrailingBackslash(platform::FullPathName(base));
  if (!StartsTextLocale(path, root)) return false;
  for (size_t at = root.size(); at != String::npos; at = path.find(u'\\', at + 1))
    if (at > root.size() && platform::IsLink(path.substr(0, at))) return false;
  return !platform::IsLink(path);
}

void TSetupProfileInfoList::Populate() {
  if (Setup->IsOptionSet(TSetupOption::Portable)) {
    Report(u"SingleUser", u"", u"");
    return;
  }
  TSetupUsers::PopulateProfiles(
      [this](const String& userName, const String& appData, const String& profile) {
        Report(userName, appData, profile);
      });
}

void TSetupProfileInfoList::Report(const String& userName, const String& appData,
                                   const String& profile) {
  auto info = std::make_unique<TSetupProfileInfo>();
  info->UserName = userName;
  info->DataFolder = TSetupProfileHelper::GetDataFolder(appData);
  info->OldDataFolder = TSetupProfileHelper::GetOldDataFolder(appData);
  info->BaseFolder = IncludeTrailingBackslash(profile.empty() ? Setup->GetDestPath() : profile);
  if (!platform::DirectoryExists(info->OldDataFolder)) return;
  if (!TSetupProfileHelper::StaysInside(info->OldDataFolder, profile) ||
      !TSetupProfileHelper::StaysInside(info->DataFolder, profile))
    return;
  // The running user is reported again from the profile list: one entry a folder.
  for (const auto& item : items_)
    if (SameTextLocale(item->OldDataFolder, info->OldDataFolder)) return;
  items_.push_back(std::move(info));
}
