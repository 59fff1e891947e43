#include <algorithm>
#include <set>

#include "platform/messages.h"
#include "platform/registry.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

class RegistryTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    key_ = u"Software\\MivoPlatformTest" + IntToStr(CurrentProcessId());
    DeleteKeyTree(RegRoot::CurrentUser, key_);
  }
  void TearDown() override {
    DeleteKeyTree(RegRoot::CurrentUser, key_);
    DeleteKeyTree(RegRoot::LocalMachine, key_, kKeyWow64_64Key);
    DeleteKeyTree(RegRoot::LocalMachine, key_, kKeyWow64_32Key);
    PlatformTest::TearDown();
  }
  String key_;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

TEST_F(RegistryTest, ValuesKeepTypesAndLengths) {
  TRegKey k;
  bool created = false;
  ASSERT_EQ(k.Create(RegRoot::CurrentUser, key_, kKeyAllAccess, &created), kErrorSuccess);
  EXPECT_TRUE(created);
  ASSERT_EQ(k.WriteString(u"Sz", u"abc"), kErrorSuccess);
  ASSERT_EQ(k.WriteString(u"Empty", u""), kErrorSuccess);
  ASSERT_EQ(k.WriteString(u"Expand", u"%TEMP%\\x", kRegExpandSz), kErrorSuccess);
  ASSERT_EQ(k.WriteDword(u"Dword", 0x01020304), kErrorSuccess);
  ASSERT_EQ(k.WriteMultiString(u"Multi", {u"a", u"bc"}), kErrorSuccess);
  ASSERT_EQ(k.WriteBinary(u"Bin", Bytes({0, 1, 0xFF})), kErrorSuccess);

  struct Case {
    const char16_t* name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {u"Sz", kRegSz, Bytes({'a', 0, 'b', 0, 'c', 0, 0, 0})},
      {u"EMPTY", kRegSz, Bytes({0, 0})},
      {u"Expand", kRegExpandSz,
       Bytes({'%', 0, 'T', 0, 'E', 0, 'M', 0, 'P', 0, '%', 0, '\\', 0, 'x', 0, 0, 0})},
      {u"dword", kRegDword, Bytes({4, 3, 2, 1})},
      {u"Multi", kRegMultiSz, Bytes({'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0})},
      {u"Bin", kRegBinary, Bytes({0, 1, 0xFF})},
  };
  for (const auto& c : cases) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_EQ(k.QueryValue(c.name, type, data), kErrorSuccess) << U8(c.name);
    EXPECT_EQ(type, c.type) << U8(c.name);
    EXPECT_EQ(data, c.data) << U8(c.name);
  }

  String s;
  EXPECT_TRUE(k.ReadString(u"Expand", s));
  EXPECT_EQ(s, u"%TEMP%\\x");  // taken as stored
  EXPECT_FALSE(k.ReadString(u"Dword", s));
  EXPECT_FALSE(k.ReadString(u"Missing", s));
  uint32_t d = 0;
  EXPECT_TRUE(k.ReadDword(u"Dword", d));
  EXPECT_EQ(d, 0x01020304u);
  std::vector<String> multi;
  EXPECT_TRUE(k.ReadMultiString(u"Multi", multi));
  EXPECT_EQ(multi, (std::vector<String>{u"a", u"bc"}));

  // Rewriting a value replaces its type; names ignore case.
  ASSERT_EQ(k.WriteDword(u"SZ", 7), kErrorSuccess);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(k.QueryValue(u"Sz", type, data), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(k.DeleteValue(u"sz"), kErrorSuccess);
  EXPECT_EQ(k.QueryValue(u"Sz", type, data), kErrorFileNotFound);
  EXPECT_EQ(k.DeleteValue(u"Sz"), kErrorFileNotFound);

  uint32_t subKeys = 9, values = 0;
  ASSERT_EQ(k.QueryInfo(subKeys, values), kErrorSuccess);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 5u);
  std::set<String> names;
  String name;
  for (uint32_t i = 0; k.EnumValue(i, name) == kErrorSuccess; ++i) names.insert(name);
  EXPECT_EQ(names, (std::set<String>{u"Empty", u"Expand", u"Dword", u"Multi", u"Bin"}));
  EXPECT_EQ(k.EnumValue(5, name), kErrorNoMoreItems);
}

TEST_F(RegistryTest, KeysOpenCreateEnumerateDelete) {
  TRegKey root;
  ASSERT_EQ(root.Create(RegRoot::CurrentUser, key_, kKeyAllAccess), kErrorSuccess);
  TRegKey child;
  ASSERT_EQ(child.Create(root, u"Alpha\\Deep", kKeyAllAccess), kErrorSuccess);
  ASSERT_EQ(child.Create(root, u"Beta", kKeyAllAccess), kErrorSuccess);
  bool created = true;
  ASSERT_EQ(child.Create(root, u"BETA", kKeyAllAccess, &created), kErrorSuccess);
  EXPECT_FALSE(created);

  TRegKey probe;
  EXPECT_EQ(probe.Open(RegRoot::CurrentUser, key_ + u"\\alpha\\DEEP", kKeyRead), kErrorSuccess);
  EXPECT_EQ(probe.Open(RegRoot::CurrentUser, key_ + u"\\Gamma", kKeyRead), kErrorFileNotFound);
  EXPECT_FALSE(probe.IsOpen());

  std::set<String> names;
  String name;
  uint32_t i = 0;
  for (; root.EnumKey(i, name) == kErrorSuccess; ++i) names.insert(name);
  EXPECT_EQ(i, 2u);
  EXPECT_EQ(names, (std::set<String>{u"Alpha", u"Beta"}));

  // A key with sub-keys is not deleted by itself.
  EXPECT_EQ(root.DeleteSubKey(u"Alpha"), kErrorAccessDenied);
  EXPECT_EQ(root.DeleteSubKey(u"beta"), kErrorSuccess);
  EXPECT_EQ(root.DeleteSubKey(u"Beta"), kErrorFileNotFound);

  EXPECT_EQ(DeleteKeyTree(RegRoot::CurrentUser, key_), kErrorSuccess);
  EXPECT_EQ(probe.Open(RegRoot::CurrentUser, key_, kKeyRead), kErrorFileNotFound);
  EXPECT_EQ(DeleteKeyTree(RegRoot::CurrentUser, key_), kErrorSuccess);  // already gone
}

TEST_F(RegistryTest, ThirtyTwoBitViewOfTheMachineSoftware) {
  TRegKey k32;
  ASSERT_EQ(k32.Create(RegRoot::LocalMachine, key_, kKeyAllAccess | kKeyWow64_32Key),
            kErrorSuccess);
  ASSERT_EQ(k32.WriteString(u"View", u"32"), kErrorSuccess);
  TRegKey sub;
  ASSERT_EQ(sub.Create(k32, u"Sub", kKeyAllAccess), kErrorSuccess);  // keeps the view

  TRegKey k64;
  EXPECT_EQ(k64.Open(RegRoot::LocalMachine, key_, kKeyRead | kKeyWow64_64Key), kErrorFileNotFound);
  const String wowPath = u"Software\\Wow6432Node\\" + key_.substr(9);
  ASSERT_EQ(k64.Open(RegRoot::LocalMachine, wowPath, kKeyRead | kKeyWow64_64Key), kErrorSuccess);
  String s;
  EXPECT_TRUE(k64.ReadString(u"View", s));
  EXPECT_EQ(s, u"32");
  EXPECT_EQ(sub.Open(RegRoot::LocalMachine, wowPath + u"\\Sub", kKeyRead), kErrorSuccess);

  ASSERT_EQ(k64.Create(RegRoot::LocalMachine, key_, kKeyAllAccess | kKeyWow64_64Key),
            kErrorSuccess);
  EXPECT_FALSE(k64.ReadString(u"View", s));

  k32.Close();
  sub.Close();
  EXPECT_EQ(DeleteKeyTree(RegRoot::LocalMachine, key_, kKeyWow64_32Key), kErrorSuccess);
  EXPECT_EQ(k32.Open(RegRoot::LocalMachine, wowPath, kKeyRead | kKeyWow64_64Key),
            kErrorFileNotFound);
  EXPECT_EQ(k64.Open(RegRoot::LocalMachine, key_, kKeyRead | kKeyWow64_64Key), kErrorSuccess);
}

TEST_F(RegistryTest, StandardKeysOfTheSystem) {
  TRegKey k;
  EXPECT_EQ(k.Open(RegRoot::LocalMachine,
                   u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", kKeyRead),
            kErrorSuccess);
  EXPECT_EQ(k.Open(RegRoot::LocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   kKeyRead),
            kErrorSuccess);
  ASSERT_EQ(k.Open(RegRoot::Users,
                   u".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
                   u"Folders",
                   kKeyRead),
            kErrorSuccess);
  String appData;
  EXPECT_TRUE(k.ReadString(u"AppData", appData));
  EXPECT_NE(appData.find(u"%USERPROFILE%"), String::npos) << U8(appData);
}

}  // namespace
}  // namespace platform_test
