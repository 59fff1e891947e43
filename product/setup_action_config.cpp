#include "product/setup_action_config.h"

#include "core/setup.h"
#include "lib/exceptions.h"
#include "platform/com.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "product/setup_classes.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionConfig", ActionClass<TSetupActionConfig>());

const char16_t kSystem[] = u"System";

}  // namespace

void TSetupActionConfig::Execute() {
  SetStatus(GetCommonText(u"A6"));
  const String path = Setup->GetDestPath() + kConfigName;
  TVelIniFile config;
  // An update has moved the old file aside by now: its sections are read
  // from there.
  const String old = platform::FileExists(path) ? path : RunJournal().OldContentOf(path);
  if (platform::FileExists(old)) {
    // The player's own settings live in other sections of this file: one
    // that exists but cannot be read is not replaced by a stripped copy.
    std::unique_ptr<TStream> file = platform::OpenFileShared(
        old, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
        platform::kOpenExisting);
    if (!file) throw EFOpenError(old, platform::SystemErrorText(platform::LastError()));
    config.LoadFromStream(*file);
  }
  UpdateConfig(config);
  // Replaced in one step, like the uninstall record: a run killed meanwhile
  // leaves the player's previous settings whole. A read-only file is
  // replaced too, as it always was.
  RunJournal().WillReplace({path}, Setup->GetDestPath());
  const uint32_t attributes = platform::GetAttributes(path);
  if (attributes != platform::kInvalidFileAttributes &&
      (attributes & platform::kFileAttributeReadOnly))
    platform::SetAttributes(path, attributes & ~platform::kFileAttributeReadOnly);
  SaveFileReplacing(path, [&](TStream& file) { config.SaveToStream(file); });
}

void TSetupActionConfig::UpdateConfig(TVelIniFile& config) {
  config.SetSectionText(kSettingsIntegration, Settings().GetSectionText(kSettingsIntegration));
  config.EraseSection(kSystem);
  String guid;
  if (!platform::CreateGuidText(guid)) platform::RaiseLastOSError();
  config.WriteString(kSystem, u"ID", guid);
  config.WriteString(kSystem, u"DefaultLang", Resources().LangName() + u".lng");
  config.WriteInteger(kSystem, u"UserMode", Setup->IsOptionSet(TSetupOption::Portable) ? 0 : 1);
  config.WriteInteger(kSystem, u"Version", ProductInfo().GetProductVersionId());
}
