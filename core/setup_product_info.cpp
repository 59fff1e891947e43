#include "core/setup_product_info.h"

#include "core/setup.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

String ScriptSetting(StringView name) {
  return Setup->Resources().Script().GetSetting(name);
}

TSetupProductInfoClass& RegisteredClass() {
  static TSetupProductInfoClass productClass = nullptr;
  return productClass;
}

}  // namespace

bool TSetupProductInfo::OtherCopyWarning() {
  if (Setup->IsOptionSet(TSetupOption::Update)) return false;
  if (GetInstalledVersion() > 0) return true;
  if (Setup->IsOptionSet(TSetupOption::Portable)) return false;
  String path;
  return FindInstalledCopy(path);
}

String TSetupProductInfo::GetDefaultPath() {
  return Setup->Resources().ProgramFilesDir() + GetProductName() + u"\\";
}

String TSetupProductInfo::GetDefaultPortablePath() {
  String desktop;
  platform::SpecialFolder(platform::kCsidlDesktopDirectory, desktop);
  return IncludeTrailingBackslash(desktop) + GetProductName() + u"\\";
}

String TSetupProductInfo::GetHomePage() {
  return ScriptSetting(u"HomePage");
}

String TSetupProductInfo::GetProductName() {
  String name = ScriptSetting(u"ProductName");
  if (name.empty()) throw EInstallerGeneralError(u"Setup has wrong config");
  return name;
}

String TSetupProductInfo::GetPublisher() {
  return ScriptSetting(u"Publisher");
}

String TSetupProductInfo::GetProductVersion() {
  return ScriptSetting(u"ProductVersion");
}

int32_t TSetupProductInfo::GetProductVersionId() {
  return StrToIntDef(ScriptSetting(u"ProductVersionId"), 0);
}

String TSetupProductInfo::GetProductVersionInfo() {
  return GetProductVersion() + u", " + ScriptSetting(u"BuildDate");
}

String TSetupProductInfo::GetProductVersionNo() {
  return ScriptSetting(u"ProductVersionNo");
}

String TSetupProductInfo::GetInstalledVersionText() {
  return VersionText(GetInstalledVersion());
}

String VersionText(int32_t version) {
  // A negative number (only from a damaged configuration) keeps its sign in front.
  const int64_t v = version < 0 ? -static_cast<int64_t>(version) : version;
  const int64_t minor = (v % 1000) / 10;
  return String(version < 0 ? u"-" : u"") + IntToStr(v / 1000) + u"." + (minor < 10 ? u"0" : u"") +
         IntToStr(minor);
}

TSetupProductInfoClass ProductInfoClass() {
  return RegisteredClass();
}

void SetProductInfoClass(TSetupProductInfoClass productClass) {
  RegisteredClass() = productClass;
}
