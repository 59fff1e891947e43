#include "product/setup_action_shortcuts.h"

#include "core/setup.h"
#include "core/setup_summary.h"
#include "lib/exceptions.h"
#include "lib/format.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/com.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"
#include "resources/installer_errors.h"
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
  const String target = resources.ExpandPath(source);
  // A program that is not there gets no link (the script names more than
  // one run installs).
  if (!platform::FileExists(target)) {
    RunLog(u"Shortcut skipped, no program: " + link + u" -> " + target);
    return;
  }
  // A shortcut that cannot be written fails the run: reported as done, it
  // would leave a person without a way to start the player.
  try {
    ForceFolder(ExtractFilePath(link));
  } catch (const Exception& e) {
    throw EInstallerInstallError(Format(u"Cannot create the shortcut \"%s\".\r\n%s",
                                        {link, e.Message()}));
  }
  if (!UpdateLink(link, target))
    throw EInstallerInstallError(
        Format(u"Cannot create the shortcut \"%s\" to \"%s\".", {link, target}));
  RunLog(u"Shortcut: " + link + u" -> " + target);
}

platform::TShellLink TSetupActionShortcuts::LinkFor(const String& link, const String& target) {
  platform::TShellLink made;
  made.target = target;
  // Started in its own folder (the installation), with its own icon, and
  // described by the shortcut's name.
  const String folder = ExtractFilePath(target);
  made.workingDirectory = folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder;
  made.iconPath = target;
  made.iconIndex = 0;
  String name = ExtractFileName(link);
  name.resize(name.size() - ExtractFileExt(name).size());
  made.description = name;
  return made;
}

bool TSetupActionShortcuts::UpdateLink(const String& link, const String& target) {
  const platform::TShellLink wanted = LinkFor(link, target);
  const auto same = [&](const platform::TShellLink& current) {
    return SameTextLocale(current.target, wanted.target) &&
           SameTextLocale(current.workingDirectory, wanted.workingDirectory) &&
           SameTextLocale(current.iconPath, wanted.iconPath) &&
           current.iconIndex == wanted.iconIndex;
  };
  platform::TShellLink current;
  if (platform::FileExists(link) && SameTextAscii(ExtractFileExt(link), u".lnk") &&
      platform::ReadShellLink(link, current) && same(current))
    return true;
  if (!platform::FileExists(target)) return false;
  RunJournal().WillWrite({link});
  // Read back: a link saved without its target (a path too long for a
  // shell link) is no shortcut.
  return platform::CreateShellLink(link, wanted) && platform::ReadShellLink(link, current) &&
         same(current);
}
