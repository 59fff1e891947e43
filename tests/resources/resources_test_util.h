// Helpers of the resources tests: packages made in memory, a fake controller
// and, natively, a fixture that installs packages as the stand-in's module
// resources.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"
#include "package/setup_package.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"
#include "resources/setup_resources.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace resources_test {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

struct TFile {
  String name;
  std::string data;
};

inline Bytes BuildPackage(const std::vector<TFile>& files) {
  TSetupPackageBuilder builder;
  for (const auto& f : files) {
    TMemoryStream source(ToBytes(f.data));
    builder.Add(source, f.name);
  }
  TMemoryStream out;
  builder.Commit(out, 1);
  return out.Bytes();
}

inline Bytes ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadStream(TStream& stream) {
  const Bytes bytes = ReadAll(stream);
  return std::string(bytes.begin(), bytes.end());
}

inline std::string ReadFile(const String& path) {
  std::unique_ptr<TStream> s = platform::OpenFileShared(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting);
  return s ? ReadStream(*s) : std::string("<missing>");
}

inline bool WriteFile(const String& path, const Bytes& bytes) {
  std::unique_ptr<TStream> s =
      platform::OpenFileShared(path, platform::kGenericWrite, 0, platform::kCreateAlways);
  return s && s->Write(bytes.data(), static_cast<int64_t>(bytes.size())) ==
                  static_cast<int64_t>(bytes.size());
}

// The controller's side, with values a test can change. ProductName raises
// like the product description does when the script has no name.
class TFakeHost : public ISetupResourcesHost {
 public:
  String DestPath() override { return dest; }
  String ProductHomePage() override { return link; }
  String ProductName() override {
    ++nameRequests;
    if (name.empty()) throw EInstallerGeneralError(u"Setup has wrong config");
    return name;
  }
  String ProductVersionText() override { return version; }
  bool IsAutoRun() override { return autoRun; }

  String dest = u"C:\\Program Files\\Mivo\\";
  String link = u"https://mivo.example/";
  String name = u"Mivo";
  String version = u"5.50, 2024-01-01";
  bool autoRun = true;
  int nameRequests = 0;
};

// A minimal script and language file.
inline const char kScript[] =
    "<installer><product><Settings><s name=\"ProductName\" value=\"Mivo\"/></Settings>"
    "</product></installer>";
inline const char kEnglish[] =
    "[File]\r\nName=English\r\nLangId=1033\r\n[Common]\r\nE3=Cannot create \"%s\"\r\n";

#ifndef _WIN32
// A fresh stand-in machine whose running program is C:\Setup\Setup.exe.
class ResourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    host_root_ = platform::standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
  }
  void TearDown() override { platform::standin::ResetWorld(); }

  void SetPackages(const std::vector<TFile>& setup, const std::vector<TFile>& product) {
    platform::standin::SetDataResource(u"SETUP", BuildPackage(setup));
    platform::standin::SetDataResource(u"PRODUCT", BuildPackage(product));
  }
  // The packages made from tests/data/resources by make-packages.sh.
  void UseDataPackages() {
    const std::string dir = std::string(MIVO_TEST_DATA) + "/resources/";
    platform::standin::SetDataResource(u"SETUP", ReadHostFile(dir + "setup.ipk"));
    platform::standin::SetDataResource(u"PRODUCT", ReadHostFile(dir + "product.ipk"));
  }
  std::unique_ptr<TSetupResources> Create() { return std::make_unique<TSetupResources>(host_); }

  TFakeHost host_;
  std::string host_root_;
};
#endif

}  // namespace resources_test
