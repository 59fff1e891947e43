#include "product/setup_action_shortcuts.h"

#include "core/setup.h"
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "lib/system.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"
#include "resources/setup_script.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionShortcuts",
                                     ActionClass<TSetupActionShortcuts>());

const char16_t kPageIntegration[] = u"PageIntegration";

// "X:\..." or "\\server\...".
bool IsAbsolutePath(StringView path) {
  return (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') || StartsWith(path, u"\\\\");
}

bool Windows8OrLater() {
  const platform::TWindowsVersion v = platform::WindowsVersion();
  return v.major > 6 || (v.major == 6 && v.minor >= 2);
}

}  // namespace

bool TSetupActionShortcuts::WantDesktop() {
  return Setup->ReadSetting(kSettingsIntegration, u"ShortcutDesktop");
}

bool TSetupActionShortcuts::WantStartMenu() {
  return Setup->ReadSetting(kSettingsIntegration, u"ShortcutStartMenu");
}

void TSetupActionShortcuts::Execute() {
  SetStatus(GetCommonText(u"A2"));
  if (WantDesktop()) Folders.Add(u"$DESKTOP");
  if (WantStartMenu()) Folders.Add(u"$STARTMENU");
  const platform::TComScope com;
  const TSetupScriptGroup& shortcuts = Script().Shortcuts;
  const int count = shortcuts.Count();
  for (int i = 0; i < count; ++i) {
    CreateShortcut(shortcuts.Items(i));
    // Rounded to nearest.
    SetProgress(static_cast<int32_t>(((i + 1) * 200 + count) / (2 * count)));
  }
}

void TSetupActionShortcuts::AddSummary(TSetupSummaryBuilder& builder) {
  builder.BeginGroup(kPageIntegration, u"LB1");
  if (WantDesktop()) builder.AddItem(kPageIntegration, u"CB1");
  if (WantStartMenu()) builder.AddItem(kPageIntegration, u"CB2");
}

bool TSetupActionShortcuts::IsAllowed(const TSetupScriptFile& entry) {
  const String name = UpperAscii(entry.Name);
  for (int i = 0; i < Folders.Count(); ++i)
    if (name.find(Folders.Strings(i)) != String::npos) return true;
  return false;
}

void TSetupActionShortcuts::CreateShortcut(const TSetupScriptFile& entry) {
  if (!IsAllowed(entry)) return;
  const String source = entry.PackageName();
  if (Windows8OrLater() && !SameTextAscii(ExtractFileExt(source), u".exe")) return;
  TSetupResources& resources = Resources();
  const String link = resources.ExpandPath(entry.Name);
  // A name whose variable stayed unexpanded (written in lower case) would
  // name a file in the current folder: only absolute paths are links.
  if (!IsAbsolutePath(link)) return;
  try {
    ForceFolder(ExtractFilePath(link));
  } catch (const Exception&) {
    return;
  }
  UpdateLink(link, resources.ExpandPath(source));
}

bool TSetupActionShortcuts::UpdateLink(const String& link, const String& target) {
  platform::TShellLink current;
  if (platform::FileExists(link) && SameTextAscii(ExtractFileExt(link), u".lnk") &&
      platform::ReadShellLink(link, current) && SameTextLocale(current.target, target))
    return true;
  if (!platform::FileExists(target)) return false;
  platform::TShellLink made;
  made.target = target;
  return platform::CreateShellLink(link, made);
}
