// The product tests' fixture: a controller over the demo product's packages
// (natively packed from demo/ for each test program; on Windows the test
// program carries the built demo packages) and a fresh work folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/setup.h"
#include "tests/carried_package.h"
#include "lib/exceptions.h"
#include "lib/ini_file.h"
#include "lib/stream.h"
#include "lib/strings.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/messages.h"
#include "platform/spawn_service.h"
#include "platform/system_info.h"
#include "product/product_info_mivo.h"
#include "tests/controller_test_util.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace product_test {

using controller_test::ControllerTest;
using controller_test::RemoveTree;

inline std::string DemoFolder() {
  return std::string(MIVO_TEST_DATA) + "/../../demo/";
}

// A package of every file below a host folder, named by relative path.
inline std::vector<uint8_t> PackFolder(
    const std::string& folder, const std::vector<std::pair<String, std::string>>& extra = {}) {
  namespace fs = std::filesystem;
  TSetupPackageBuilder builder;
  std::vector<fs::path> files;
  if (!folder.empty())
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    TMemoryStream data(std::move(bytes));
    String name = Utf8ToUtf16(fs::relative(path, folder).generic_string());
    for (auto& c : name)
      if (c == u'/') c = u'\\';
    builder.Add(data, name);
  }
  for (const auto& [name, text] : extra) {
    TMemoryStream data(std::vector<uint8_t>(text.begin(), text.end()));
    builder.Add(data, name);
  }
  TMemoryStream out;
  builder.Commit(out, 0);
  return out.Bytes();
}

// The message of what f raises; "<no error>" when it raises nothing.
inline bool Write(const String& path, const std::string& text) {
  auto s = platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
  return s && s->Write(text.data(), static_cast<int64_t>(text.size())) ==
                  static_cast<int64_t>(text.size());
}

// Writes the file, making the folders above it.
inline void Put(const String& path, const std::string& text = "x") {
  for (size_t at = 3; (at = path.find(u'\\', at)) != String::npos; ++at)
    platform::CreateFolder(path.substr(0, at));
  ASSERT_TRUE(Write(path, text)) << U8(path);
}

// A user of the machine as Windows lists it: the profile list's entry and
// the user's shell folder "AppData" (as written, %USERPROFILE% and all).
inline void AddUserProfile(const String& sid, const String& profile, const String& appData) {
  platform::TRegKey entry, folders;
  ASSERT_EQ(entry.Create(platform::RegRoot::LocalMachine,
                         u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid,
                         platform::kKeyAllAccess),
            0u);
  entry.WriteString(u"ProfileImagePath", profile, platform::kRegExpandSz);
  ASSERT_EQ(folders.Create(platform::RegRoot::Users,
                           sid + u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User "
                                 u"Shell Folders",
                           platform::kKeyAllAccess),
            0u);
  folders.WriteString(u"AppData", appData, platform::kRegExpandSz);
  ASSERT_TRUE(platform::CreateFolder(profile));
}

// A file's bytes, whoever holds it; "<missing>" when it cannot be opened.
inline std::string ReadFileText(const String& path) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericRead,
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
      platform::kOpenExisting);
  if (!file) return "<missing>";
  const std::vector<uint8_t> bytes = ReadAll(*file);
  return std::string(bytes.begin(), bytes.end());
}

inline String ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"<no error>";
}

// Writes "Mivo.ini" (or another name) into a folder.
inline void WriteConfig(const String& folder, int32_t version, const char16_t* userMode,
                        const String& name = u"Mivo.ini", const String& integration = u"") {
  platform::CreateFolder(folder);
  TVelIniFile config;
  config.WriteInteger(u"System", u"Version", version);
  if (userMode) config.WriteString(u"System", u"UserMode", userMode);
  if (!integration.empty()) config.SetSectionText(u"Integration", integration);
  ASSERT_TRUE(config.SaveToFile(folder + name));
}

#ifndef _WIN32
// A user swapping one of their folders for a link while the installer works
// on it: the first time the stand-in is asked to do `operation` (any, when
// empty) to an entry at or below folder (no trailing backslash), the folder
// is first moved to aside and a link to target made in its place.
class TSwapForLink {
 public:
  TSwapForLink(String folder, String target, String aside, String operation = {})
      : folder_(std::move(folder)), target_(std::move(target)), aside_(std::move(aside)),
        operation_(std::move(operation)) {
    platform::standin::SetFileHook([this](StringView op, const String& path) {
      if (done_ || (!operation_.empty() && op != StringView(operation_)) ||
          !StartsTextLocale(IncludeTrailingBackslash(path), folder_ + u"\\"))
        return;
      done_ = true;
      swapped_ = platform::MoveFileTo(folder_, aside_) &&
                 platform::CreateFolderLink(folder_, target_);
    });
  }
  ~TSwapForLink() { platform::standin::SetFileHook(nullptr); }
  // Whether the folder was swapped, as its owner could do it.
  bool Swapped() const { return swapped_; }

 private:
  String folder_, target_, aside_, operation_;
  bool done_ = false, swapped_ = false;
};
#endif

class ProductTest : public ControllerTest {
 protected:
  ProductTest() : ControllerTest(u"mivo-product-") {}
  void SetUp() override {
    ControllerTest::SetUp();
#ifndef _WIN32
    UsePackages(false);
#endif
  }

#ifndef _WIN32
  // The demo's packages as the program's resources; for an uninstaller the
  // product package holds only an uninstall record.
  static void UsePackages(bool uninstall) {
    static const std::vector<uint8_t> setup = PackFolder(DemoFolder() + "setup");
    static const std::vector<uint8_t> product = PackFolder(DemoFolder() + "product");
    platform::standin::SetDataResource(u"SETUP", setup);
    if (uninstall)
      UseProductPackage(PackFolder("", {{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}}), false);
    else
      UseProductPackage(product);
  }

  // The product package as the program's resource. carried: as the
  // installer is built, with the package's table and digest beside it (the
  // package is then decoded while its files are written); else without them
  // (as an uninstall record is read).
  static void UseProductPackage(const std::vector<uint8_t>& product, bool carried = true) {
    platform::standin::SetDataResource(u"PRODUCT", product);
    platform::standin::SetDataResource(u"PRODUCTTABLE",
                                       carried ? CarriedTable(product) : std::vector<uint8_t>());
    platform::standin::SetDataResource(u"PRODUCTDIGEST",
                                       carried ? CarriedDigest(product) : std::vector<uint8_t>());
  }
#endif

  TSetup& CreateAuto(const String& dest) {
    return Create(u"/AUTO=\"" + dest + u"\" /SILENT");
  }
  TProductInfoMivo& Product() {
    return dynamic_cast<TProductInfoMivo&>(setup_->ProductInfo());
  }

  std::vector<String> ActionNames() {
    std::vector<String> names;
    Product().EnumActionNames([&](const String& name) { names.push_back(name); });
    return names;
  }
  std::vector<String> PageNames() {
    std::vector<String> names;
    Product().EnumPageNames([&](const String& name) { names.push_back(name); });
    return names;
  }
};

}  // namespace product_test
