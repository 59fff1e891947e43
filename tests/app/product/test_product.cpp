#include "test_product.h"

#include "core/setup.h"
#include "core/setup_action.h"
#include "lib/string_list.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

void WriteLines(const String& path, const TVelStringList& lines) {
  std::unique_ptr<TStream> out =
      platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
  if (!out) throw EInstallerInstallError(u"Cannot write " + path);
  lines.SaveToStream(*out, TVelEncoding::Utf8);
}

class TMarkAction : public TSetupAction {
 public:
  void Execute() override {
    const String dest = Setup->GetDestPath();
    TVelStringList lines;
    lines.Add(String(u"main=") + (platform::IsMainThread() ? u"1" : u"0"));
    SetProgress(50);
    WriteLines(dest + u"worker.txt", lines);
    if (platform::FileExists(dest + u"fail2.txt")) AddSetupError(u"First problem");
  }
};

class TFailAction : public TSetupAction {
 public:
  void Execute() override {
    const String dest = Setup->GetDestPath();
    if (platform::FileExists(dest + u"fail.txt") || platform::FileExists(dest + u"fail2.txt"))
      throw EInstallerInstallError(u"Action failed in " + dest);
  }
};

class TExtractAction : public TSetupAction {
 public:
  void Execute() override {
    const TSetupScriptGroup& components = Script().Components;
    for (int i = 0; i < components.Count(); ++i) ExtractScriptFile(components.Items(i));
  }
};

class TUninstallAction : public TSetupAction {
 public:
  void Execute() override {
    const String dest = Setup->GetDestPath();
    TVelStringList lines;
    lines.Add(u"program=" + platform::ModuleFileName());
    lines.Add(u"dest=" + dest);
    WriteLines(dest + u"uninstalled.txt", lines);
  }
};

class TAppTestProduct : public TSetupProductInfo {
 public:
  bool CanUpdate() override { return false; }
  bool IsPortable() override { return false; }
  int32_t GetInstalledVersion() override { return 0; }
  void LoadConfig() override {}
  void EnumActions(const std::function<void(const TSetupActionClass&)>& callback) override {
    if (Setup->RunKind() == TSetupRunKind::Uninstall) {
      callback(ActionClass<TUninstallAction>());
      return;
    }
    callback(ActionClass<TMarkAction>());
    callback(ActionClass<TFailAction>());
    callback(ActionClass<TExtractAction>());
  }
  void EnumPages(const std::function<void(TSetupPageClass)>&) override {}
};

const TSetupProductInfoRegistrar registrar(&CreateProductInfo<TAppTestProduct>);

}  // namespace

std::unique_ptr<TSetupProductInfo> CreateAppTestProduct() {
  return CreateProductInfo<TAppTestProduct>();
}
