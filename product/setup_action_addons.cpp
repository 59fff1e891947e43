#include "product/setup_action_addons.h"

#include <cstring>
#include <vector>

#include "core/setup.h"
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "lib/format.h"
#include "lib/system.h"
#include "platform/files.h"
#include "platform/spawn_service.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionAddonsInstall",
                                     ActionClass<TSetupActionAddonsInstall>());

const char16_t kPageAddons[] = u"PageAddons";
const int kWriteAttempts = 10;

bool Choice(StringView key) {
  return Setup->ReadSetting(kSettingsCommon, key);
}

}  // namespace

TSetupActionAddonsInstall::~TSetupActionAddonsInstall() {
  installer_.reset();
  // The add-on installer is not waited for: while it still runs (the user
  // may be in its wizard) its file goes at the next restart.
  RemovePrivateFolder(folder_, false);
}

bool TSetupActionAddonsInstall::WantViewer() {
  return Choice(u"AddonsViewer");
}

bool TSetupActionAddonsInstall::WantExtensions() {
  return Choice(u"AddonsExtensions");
}

bool TSetupActionAddonsInstall::WantShortcuts() {
  return Choice(u"AddonsShortcuts");
}

void TSetupActionAddonsInstall::Execute() {
  if (!WantViewer() && !WantExtensions() && !WantShortcuts()) return;
  const std::unique_ptr<TVelStringList> description = Resources().LoadStringList(kDescriptionName);
  const String packageName = description->Values(u"P4");
  InstallerPath(*description);  // a file name, or the description is refused
  const String parameters = Parameters(*description);
  // A folder of its own that only administrators may change, held while
  // the run lasts: nobody can swap the program between its writing and its
  // start. Users may read it, so that it can start as the interactive user,
  // who does not get this process's rights (it asks for them if it must).
  folder_ = platform::CreatePrivateFolder(platform::TempFolder(), kFolderPrefix);
  if (!folder_ || !platform::SetFolderAccess(folder_->Path(),
                                             platform::TFolderAccess::LikeProgramFiles))
    return;
  const String installer = InstallerPath(*description, folder_->Path());
  // Between the writing and the holding of the file somebody who may write
  // the folder could have changed it: then it is written anew.
  for (int attempt = 0; attempt < kWriteAttempts && !installer_; ++attempt)
    if (WriteInstaller(packageName, installer)) installer_ = HoldUnchanged(packageName, installer);
  if (!installer_) return;
  TSetupSpawnService::Spawn(installer, parameters);
}

String TSetupActionAddonsInstall::Fragments(const TVelStringList& description) {
  String text;
  if (!WantExtensions()) text += description.Values(u"P1") + u" ";
  if (WantViewer()) text += description.Values(u"P2") + u" ";
  if (WantShortcuts()) text += description.Values(u"P3") + u" ";
  return text;
}

String TSetupActionAddonsInstall::Parameters(const TVelStringList& description) {
  const String templ = description.Values(u"CL");
  try {
    return Format(templ, {Fragments(description)});
  } catch (const EFormatError& e) {
    throw EInstallerInstallError(u"The command line \"" + templ + u"\" of \"" + kDescriptionName +
                                 u"\" cannot take the add-ons: " + e.Message());
  }
}

String TSetupActionAddonsInstall::InstallerPath(const TVelStringList& description,
                                                const String& folder) {
  const String name = description.Values(u"P4");
  const String temp = IncludeTrailingBackslash(folder.empty() ? platform::TempFolder() : folder);
  String path = platform::FullPathName(temp + name);
  String longPath;
  if (platform::LongPathName(path, longPath)) path = longPath;
  String longTemp = temp;
  if (platform::LongPathName(temp, longTemp)) longTemp = IncludeTrailingBackslash(longTemp);
  // The name is a file name: it may not lead out of the temporary folder.
  const bool inside = (StartsWith(UpperAscii(path), UpperAscii(temp)) ||
                       StartsWith(UpperAscii(path), UpperAscii(longTemp))) &&
                      path.size() > temp.size() && path.back() != u'\\';
  if (name.empty() || !inside)
    throw EInstallerInstallError(u"The add-on installer \"" + name + u"\" of \"" +
                                 kDescriptionName + u"\" is not a file name");
  return path;
}

bool TSetupActionAddonsInstall::WriteInstaller(const String& packageName, const String& path) {
  const std::unique_ptr<TMemoryStream> source = Resources().OpenFile(packageName);
  // A file or link left at that name by anybody is removed, and the new
  // file is created where nothing is.
  platform::SetAttributes(path, platform::kFileAttributeNormal);
  platform::RemoveFile(path);
  std::unique_ptr<TStream> target =
      platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateNew);
  if (!target) return false;
  try {
    source->SetPosition(0);
    target->CopyFrom(*source, 0);
    target->Flush();
  } catch (const EStreamError&) {
    return false;
  }
  return true;
}

std::unique_ptr<TStream> TSetupActionAddonsInstall::HoldUnchanged(const String& packageName,
                                                                  const String& path) {
  // Without write or delete sharing: once this is open nobody can change
  // the file, and nobody holds it open for writing.
  std::unique_ptr<TStream> held =
      platform::OpenFileShared(path, platform::kGenericRead, platform::kFileShareRead,
                               platform::kOpenExisting);
  if (!held) return nullptr;
  const std::unique_ptr<TMemoryStream> source = Resources().OpenFile(packageName);
  try {
    if (held->Size() != source->Size()) return nullptr;
    std::vector<uint8_t> bytes(static_cast<size_t>(source->Size()));
    held->SetPosition(0);
    if (!bytes.empty()) held->ReadBuffer(bytes.data(), source->Size());
    if (!bytes.empty() && std::memcmp(bytes.data(), source->Memory(), bytes.size()) != 0)
      return nullptr;
  } catch (const EStreamError&) {
    return nullptr;
  }
  return held;
}

void TSetupActionAddonsInstall::AddSummary(TSetupSummaryBuilder& builder) {
  builder.BeginGroup(kPageAddons, u"Title");
  if (WantViewer()) builder.AddItem(kPageAddons, u"CB1");
  if (WantExtensions()) builder.AddItem(kPageAddons, u"CB2");
  if (WantShortcuts()) builder.AddItem(kPageAddons, u"CB3");
}
