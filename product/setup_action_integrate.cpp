#include "product/setup_action_integrate.h"

#include "core/setup.h"
#include "core/setup_summary.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"

namespace {

const TSetupClassRegistrar integrateRegistrar(u"TSetupActionIntegrate",
                                              ActionClass<TSetupActionIntegrate>());
const TSetupClassRegistrar shellCacheRegistrar(u"TSetupActionUpdateShellCache",
                                               ActionClass<TSetupActionUpdateShellCache>());

const char16_t kIntegrateToWindows[] = u"IntegrateToWindows";
const char16_t kRegisterContextMenu[] = u"RegisterContextMenu";
const char16_t kAssociateWithFiles[] = u"AssociateWithFiles";
const char16_t kPageIntegration[] = u"PageIntegration";

bool Choice(StringView key) {
  return Setup->ReadSetting(kSettingsIntegration, key);
}

bool Windows8OrLater() {
  const platform::TWindowsVersion v = platform::WindowsVersion();
  return v.major > 6 || (v.major == 6 && v.minor >= 2);
}

}  // namespace

String TSetupActionIntegrate::SwitchesFor(const std::function<bool(StringView key)>& choice) {
  String switches;
  if (choice(kIntegrateToWindows)) switches += u" /REG=L1 /REG=D1 /REG=R1";
  if (choice(kRegisterContextMenu)) switches += u" /REG=M1";
  if (choice(kAssociateWithFiles)) switches += u" /REG=R2";
  return switches;
}

String TSetupActionIntegrate::Switches() {
  String switches = SwitchesFor(Choice);
  if (Choice(kAssociateWithFiles) && Windows8OrLater() && !Setup->IsOptionSet(TSetupOption::Auto))
    switches += u" /REG_UI";
  return switches;
}

String TSetupActionIntegrate::CommandLine() {
  return u"\"" + Setup->GetDestPath() + kProgramName + u"\"" + Switches();
}

void TSetupActionIntegrate::Execute() {
  if (!platform::FileExists(Setup->GetDestPath() + kProgramName)) return;
  if (Switches().empty()) return;
  // Undone by the program itself, before its files go.
  RunJournal().UndoByRunning(
      u"\"" + Setup->GetDestPath() + kProgramName + u"\" /REG=U", false);
  RunAndWait(CommandLine());
}

void TSetupActionIntegrate::AddSummary(TSetupSummaryBuilder& builder) {
  builder.BeginGroup(kPageIntegration, u"LB2");
  if (Choice(kIntegrateToWindows)) builder.AddItem(kPageIntegration, u"CB4");
  if (Choice(kRegisterContextMenu)) builder.AddItem(kPageIntegration, u"CB5");
  if (Choice(kAssociateWithFiles)) builder.AddItem(kPageIntegration, u"CB3");
}

void TSetupActionUpdateShellCache::Execute() {
  platform::NotifyAssociationsChanged();
}
