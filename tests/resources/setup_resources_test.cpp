// The setup resources on the stand-in machine: package sources, lookups,
// start-up failures, text and path expansion, folders and extraction.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace std::string_literals;

#include "lib/exceptions.h"
#include "lib/system.h"
#include "resources/setup_resources.h"
#include "tests/carried_package.h"
#include "resources_test_util.h"

namespace {

using namespace resources_test;
namespace standin = platform::standin;

// A 2 x 2 RGBA picture: red, half-transparent green, transparent blue, grey.
const uint8_t kPng[] = {137, 80,  78, 71, 13, 10, 26,  10,  0,   0,   0,   13,  73,  72,  68,  82,
                        0,   0,   0,  2,  0,  0,  0,   2,   8,   6,   0,   0,   0,   114, 182, 13,
                        36,  0,   0,  0,  22, 73, 68,  65,  84,  120, 156, 99,  248, 207, 192, 240,
                        31,  8,   27, 24, 65, 52, 151, 136, 188, 6,   0,   54,  180, 4,   227, 146,
                        196, 178, 26, 0,  0,  0,  0,   73,  69,  78,  68,  174, 66,  96,  130};

TEST_F(ResourcesTest, ProductPackageHidesTheSetupPackage) {
  SetPackages({{u"Shared.txt", "setup"}, {u"SetupOnly.txt", "s"}, {u"English.lng", kEnglish}},
              {{u"shared.TXT", "product"}, {u"Install.xml", kScript}});
  auto res = Create();
  EXPECT_EQ(ReadStream(*res->OpenFile(u"SHARED.txt")), "product");
  EXPECT_EQ(ReadStream(*res->OpenFile(u"SetupOnly.txt")), "s");
  // Every call is a private copy at position 0.
  auto first = res->OpenFile(u"Shared.txt");
  first->SetSize(0);
  auto second = res->OpenFile(u"Shared.txt");
  EXPECT_EQ(second->Position(), 0);
  EXPECT_EQ(ReadStream(*second), "product");
  EXPECT_EQ(MessageOf([&] { res->OpenFile(u"Missing.txt"); }),
            "Cannot locate \"Missing.txt\" file in setup archive");
}

TEST_F(ResourcesTest, UninstallerReadsUninstallDatBesideIt) {
  SetPackages({{u"Shared.txt", "setup"}, {u"Install.xml", kScript}}, {{u"Shared.txt", "product"}});
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Mivo"));
  ASSERT_TRUE(WriteFile(u"C:\\Mivo\\Uninstall.dat",
                        BuildPackage({{u"Shared.txt", "uninstall"}, {u"Uninstall.ini", ""}})));
  ASSERT_TRUE(WriteFile(u"C:\\Setup\\Uninstall.dat", BuildPackage({{u"Shared.txt", "beside"}})));

  struct Case {
    const char16_t* program;
    const char* shared;
  } cases[] = {
      {u"C:\\Mivo\\Uninstall.exe", "uninstall"},
      {u"C:\\Mivo\\UNINSTALL.EXE", "uninstall"},
      // Any other name uses "PRODUCT", even with an Uninstall.dat beside it.
      {u"C:\\Setup\\Setup.exe", "product"},
      {u"C:\\Setup\\Uninstall.exe.bak", "product"},
  };
  for (const Case& c : cases) {
    standin::SetModuleFileName(c.program);
    auto res = Create();
    EXPECT_EQ(ReadStream(*res->OpenFile(u"Shared.txt")), c.shared) << U8(c.program);
  }
}

TEST_F(ResourcesTest, UninstallDatIsSharedAndReleased) {
  SetPackages({{u"Install.xml", kScript}}, {});
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Mivo"));
  const String dat = u"C:\\Mivo\\Uninstall.dat";
  ASSERT_TRUE(WriteFile(dat, BuildPackage({{u"Uninstall.ini", "[Files]"}})));
  standin::SetModuleFileName(u"C:\\Mivo\\Uninstall.exe");
  {
    // Another program writes the file at the same time.
    auto writer = platform::OpenFileShared(dat, platform::kGenericWrite,
                                           platform::kFileShareRead | platform::kFileShareWrite,
                                           platform::kOpenExisting);
    ASSERT_TRUE(writer);
    auto res = Create();
    EXPECT_TRUE(res->ProductHas(u"Uninstall.ini"));
  }
  // Closed after reading: it can be deleted while the resources live.
  auto res = Create();
  EXPECT_TRUE(platform::RemoveFile(dat));
}

TEST_F(ResourcesTest, StartUpFailuresCarryTheirMessages) {
  const Bytes good = BuildPackage({{u"Install.xml", kScript}, {u"English.lng", kEnglish}});
  Bytes corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x55;
  const Bytes noScript = BuildPackage({{u"English.lng", kEnglish}});
  const std::string notFound = U8(platform::SystemErrorText(platform::kErrorFileNotFound));

  struct Case {
    const char* what;
    const Bytes* setup;
    const Bytes* product;
    const char16_t* program;
    std::string message;
  } cases[] = {
      {"no SETUP", nullptr, &good, u"C:\\Setup\\Setup.exe", "Resource SETUP not found"},
      {"no PRODUCT", &good, nullptr, u"C:\\Setup\\Setup.exe", "Resource PRODUCT not found"},
      {"no Uninstall.dat", &good, &good, u"C:\\Setup\\Uninstall.exe",
       "Cannot open file \"C:\\Setup\\Uninstall.dat\". " + notFound},
      {"corrupt setup", &corrupt, &good, u"C:\\Setup\\Setup.exe", "Package was corrupted"},
      {"corrupt product", &good, &corrupt, u"C:\\Setup\\Setup.exe", "Package was corrupted"},
      {"no Install.xml", &noScript, &noScript, u"C:\\Setup\\Setup.exe",
       "Cannot locate \"Install.xml\" file in setup archive"},
  };
  for (const Case& c : cases) {
    standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
    if (c.setup) standin::SetDataResource(u"SETUP", *c.setup);
    if (c.product) standin::SetDataResource(u"PRODUCT", *c.product);
    standin::SetModuleFileName(c.program);
    EXPECT_EQ(MessageOf([&] { Create(); }), c.message) << c.what;
  }

  // Nothing needs to be written beside the program: a folder where a file
  // could be written stops nothing.
  standin::ResetWorld();
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup\\dump.xml"));
  standin::SetDataResource(u"SETUP", good);
  standin::SetDataResource(u"PRODUCT", good);
  EXPECT_EQ(MessageOf([&] { Create(); }), "<no error>");

  // "English.lng" in neither package stops the language set-up.
  standin::ResetWorld();
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
  SetPackages({{u"German.lng", "[File]\r\nName=Deutsch\r\n"}}, {{u"Install.xml", kScript}});
  auto res = Create();
  EXPECT_EQ(MessageOf([&] { res->InitializeLanguages(); }),
            "Cannot locate \"English.lng\" file in setup archive");
}

// The product package's file table as an installer carries it beside the
// package.
Bytes TableOf(const Bytes& package) { return CarriedTable(package); }
Bytes Sha256Of(const Bytes& bytes) { return CarriedDigest(bytes); }

// With the table beside it, the product package is decoded while the program
// goes on: names are known at once, bytes wait, and a package that fails (or
// does not match the table) fails every wait with the same message.
TEST_F(ResourcesTest, ProductPackageDecodedAlongsideWithItsTable) {
  const Bytes setup = BuildPackage({{u"English.lng", kEnglish}, {u"Install.xml", kScript},
                                    {u"Shared.txt", "setup"}});
  const Bytes product = BuildPackage({{u"shared.TXT", "product"}, {u"Big.bin", std::string(1 << 20, 'b')}});
  const Bytes other = BuildPackage({{u"Shared.txt", "product"}, {u"Big.bin", "b"}});
  Bytes corrupt = product;
  corrupt[corrupt.size() / 2] ^= 0x55;
  const Bytes garbage = ToBytes("not a table");

  struct Case {
    const char* what;
    const Bytes* product;
    const Bytes* table;
    std::string failure;  // of the wait; empty: none
    const Bytes* digestOf = nullptr;  // the carried digest: of these bytes
    bool streamed = false;            // decoded only as files are asked for
  } cases[] = {
      {"matching table", &product, nullptr, ""},
      {"corrupt package", &corrupt, nullptr, "Package was corrupted"},
      {"table of another package", &product, &other, "Package was corrupted"},
      {"matching digest", &product, nullptr, "", &product, true},
      // Changed after the program was built: refused by the digest before
      // a file is handed out.
      {"package changed after the digest", &corrupt, nullptr, "Package was corrupted", &product,
       true},
      {"digest of another package", &product, nullptr, "Package was corrupted", &other, true},
  };
  for (const Case& c : cases) {
    standin::ResetWorld();
    ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
    standin::SetModuleFileName(u"C:\\Setup\\Setup.exe");
    standin::SetDataResource(u"SETUP", setup);
    standin::SetDataResource(u"PRODUCT", *c.product);
    standin::SetDataResource(u"PRODUCTTABLE", TableOf(c.table ? *c.table : product));
    if (c.digestOf) standin::SetDataResource(u"PRODUCTDIGEST", Sha256Of(*c.digestOf));
    auto res = Create();
    EXPECT_EQ(res->StreamedProduct() != nullptr, c.streamed) << c.what;
    EXPECT_TRUE(res->ProductHas(u"BIG.BIN")) << c.what;
    EXPECT_FALSE(res->ProductHas(u"English.lng")) << c.what;
    // Files of the setup package never wait for the product package.
    EXPECT_EQ(ReadStream(*res->OpenFile(u"English.lng")), kEnglish) << c.what;
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(MessageOf([&] { res->WaitForPackages(); }),
                c.failure.empty() ? "<no error>" : c.failure)
          << c.what;
      EXPECT_EQ(MessageOf([&] { res->OpenFile(u"Shared.txt"); }),
                c.failure.empty() ? "<no error>" : c.failure)
          << c.what;
    }
    if (c.failure.empty()) {
      EXPECT_EQ(ReadStream(*res->OpenFile(u"Shared.txt")), "product");
      EXPECT_EQ(ReadStream(*res->OpenFileView(u"big.bin")), std::string(1 << 20, 'b'));
    }
  }

  // A digest that is not one (not 32 bytes) is none: decoded whole.
  standin::SetDataResource(u"PRODUCT", product);
  standin::SetDataResource(u"PRODUCTTABLE", TableOf(product));
  standin::SetDataResource(u"PRODUCTDIGEST", ToBytes("short"));
  EXPECT_EQ(Create()->StreamedProduct(), nullptr);

  // A table that cannot be read is no table: the package is decoded first,
  // as without one, and its failure stops the start.
  standin::ResetWorld();
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup"));
  standin::SetModuleFileName(u"C:\\Setup\\Setup.exe");
  standin::SetDataResource(u"SETUP", setup);
  standin::SetDataResource(u"PRODUCT", corrupt);
  standin::SetDataResource(u"PRODUCTTABLE", garbage);
  EXPECT_EQ(MessageOf([&] { Create(); }), "Package was corrupted");
  // So is an emptied package (the uninstaller's copy of the program).
  standin::SetDataResource(u"PRODUCT", Bytes());
  standin::SetDataResource(u"PRODUCTTABLE", TableOf(product));
  EXPECT_NE(MessageOf([&] { Create(); }), "<no error>");

  // Resources let go while the package is still being decoded end at once.
  Bytes large;
  {
    std::string text;
    for (int64_t i = 0; text.size() < (8u << 20); ++i) text += std::to_string(i * 7919) + ' ';
    large = BuildPackage({{u"Large.txt", text}});
  }
  standin::SetDataResource(u"PRODUCT", large);
  standin::SetDataResource(u"PRODUCTTABLE", TableOf(large));
  for (int i = 0; i < 3; ++i) {
    auto res = Create();
    EXPECT_TRUE(res->ProductHas(u"large.txt"));
  }
}

TEST_F(ResourcesTest, MalformedScriptKeepsWhatWasRead) {
  SetPackages({{u"English.lng", kEnglish}},
              {{u"Install.xml",
                "<r><product><Settings><s name='ProductName' value='Mivo'/></Settings>"
                "<Components><File name='$DESTa.txt'/><File name=</Components></product></r>"}});
  auto res = Create();
  EXPECT_EQ(U8(res->Script().GetSetting(u"ProductName")), "Mivo");
  ASSERT_EQ(res->Script().Components.Count(), 1);
  EXPECT_FALSE(platform::FileExists(u"C:\\Setup\\dump.xml"));
}

TEST_F(ResourcesTest, ExpandTextReplacesVariablesInOrder) {
  SetPackages({{u"Install.xml", kScript}}, {});
  standin::SetTempFolder(u"C:\\Temp\\");
  auto res = Create();
  struct Case {
    const char16_t* text;
    const char* expanded;
  } cases[] = {
      {u"Welcome to $NAME\\n", "Welcome to Mivo\r\n"},
      {u"$name $dest $Temp", "$name $dest $Temp"},
      {u"$DEST|$TEMP|$LINK|$VERSION",
       "C:\\Program Files\\Mivo\\|C:\\Temp\\|https://mivo.example/|5.50, 2024-01-01"},
      {u"$DESKTOP|$STARTMENU|$PROGRAMS",
       "C:\\Users\\Public\\Desktop\\|C:\\ProgramData\\Microsoft\\Windows\\Start "
       "Menu\\Programs\\|C:\\Program Files\\"},
      {u"$NAME$NAME \\\\n $", "MivoMivo \\\r\n $"},
      {u"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(res->ExpandText(c.text)), c.expanded) << U8(c.text);

  // A value is never expanded again: a "$" in the destination folder or the
  // product name is taken literally.
  host_.dest = u"C:\\$PROGRAMS$NAME$TEMP\\";
  host_.name = u"$DEST";
  EXPECT_EQ(U8(res->ExpandText(u"$DEST|$NAME")), "C:\\$PROGRAMS$NAME$TEMP\\|$DEST");
}

TEST_F(ResourcesTest, ProductNameIsAskedOnlyWhenUsed) {
  SetPackages({{u"Install.xml", kScript}}, {});
  auto res = Create();
  host_.name.clear();
  EXPECT_EQ(U8(res->ExpandText(u"$DEST\\Mivo.exe")), "C:\\Program Files\\Mivo\\\\Mivo.exe");
  EXPECT_EQ(host_.nameRequests, 0);
  EXPECT_EQ(MessageOf([&] { res->ExpandText(u"$NAME"); }), "Setup has wrong config");
}

TEST_F(ResourcesTest, ExpandPathSanitisesEveryComponent) {
  SetPackages({{u"Install.xml", kScript}}, {});
  auto res = Create();
  struct Case {
    const char16_t* path;
    const char* expanded;
  } cases[] = {
      {u"$DEST\\Skins\\What?.txt", "C:\\Program Files\\Mivo\\Skins\\What.txt"},
      {u"$DESTSkins\\", "C:\\Program Files\\Mivo\\Skins\\"},
      {u"C:", "C:"},
      {u"C:\\", "C:\\"},
      {u"C:\\ name. \\x", "C:\\name\\x"},
      {u"C:\\..\\x", "C:\\.\\x"},
      {u"C:\\ . \\x", "C:\\x"},
      {u"C:\\a\\\\b\\\\", "C:\\a\\b\\"},
      {u"\\rootless\\a", "rootless\\a"},
      {u"a<b>c*d:e|f/g\"h\x01i", "abcdefg'hi"},
      {u"\\\\server\\share\\a?b", "\\\\server\\share\\ab"},
      {u"\\\\server", "\\\\server"},
      {u"\\\\?\\C:\\a?\\b", "\\\\?\\C:\\a\\b"},
      {u"...", "."},
      {u"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(res->ExpandPath(c.path)), c.expanded) << U8(c.path);
  EXPECT_EQ(SanitizeSetupPath(u"C:\\" + String(300, u'x')).size(), 3u + 260u);
  // A cut never leaves a trailing dot, which Windows would drop from the name.
  EXPECT_EQ(SanitizeSetupPath(u"C:\\" + String(259, u'x') + u". y"), u"C:\\" + String(259, u'x'));
}

TEST_F(ResourcesTest, SpecialFoldersFallBackToTemp) {
  SetPackages({{u"Install.xml", kScript}}, {});
  standin::SetTempFolder(u"C:\\Temp\\");
  standin::SetSpecialFolder(platform::kCsidlCommonDesktopDirectory, u"");
  standin::SetSpecialFolder(platform::kCsidlProgramFiles, u"D:\\Apps\\");
  auto res = Create();
  EXPECT_EQ(U8(res->DesktopDir()), "C:\\Temp\\");
  EXPECT_EQ(U8(res->ExpandText(u"$DESKTOP")), "C:\\Temp\\");
  EXPECT_EQ(U8(res->ProgramFilesDir()), "D:\\Apps\\");
  EXPECT_EQ(U8(res->ProgramFilesX86Dir()), "D:\\Apps (x86)\\");
  EXPECT_EQ(U8(res->StartMenuDir()), "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\");
}

TEST_F(ResourcesTest, BeforeLanguagesTextsAreEmpty) {
  SetPackages({{u"Install.xml", kScript}, {u"English.lng", kEnglish}}, {});
  auto res = Create();
  EXPECT_EQ(U8(res->GetText(u"Common", u"E3")), "");
  EXPECT_EQ(U8(res->GetLanguageFamily()), "EN");
  EXPECT_EQ(U8(res->LangName()), "");
}

TEST_F(ResourcesTest, LicenseByFamilyThenEnglish) {
  const char* script =
      "<r><setup><license><File name='de.txt' lang-family='DE'/>"
      "<File name='en.txt' lang-family='EN'/></license></setup></r>";
  SetPackages({{u"English.lng", kEnglish},
               {u"German.lng", "[File]\r\nName=Deutsch\r\nLangId=1031\r\nFamily=DE\r\n"},
               {u"Russian.lng", "[File]\r\nName=Russian\r\nLangId=1049\r\nFamily=RU\r\n"}},
              {{u"Install.xml", script}, {u"de.txt", "Lizenz"}, {u"en.txt", "License"}});
  struct Case {
    uint16_t language;
    const char* license;
  } cases[] = {{1031, "Lizenz"}, {1049, "License"}, {1033, "License"}};
  for (const Case& c : cases) {
    standin::SetUserDefaultUILanguage(c.language);
    auto res = Create();
    res->InitializeLanguages();
    auto license = res->GetLicense();
    ASSERT_TRUE(license);
    EXPECT_EQ(ReadStream(*license), c.license) << c.language;
  }

  SetPackages({{u"English.lng", kEnglish}}, {{u"Install.xml", "<r><setup/></r>"}});
  auto res = Create();
  res->InitializeLanguages();
  EXPECT_EQ(res->GetLicense(), nullptr);
}

TEST_F(ResourcesTest, StringListsAndImages) {
  std::string png(std::begin(kPng), std::end(kPng));
  SetPackages({{u"Install.xml", kScript}},
              {{u"addons.ini", "\xFF\xFE[\0A\0]\0\r\0\n\0x\0=\0\xE9\0"s},
               {u"header.png", png},
               {u"broken.png", png.substr(0, 40)}});
  auto res = Create();
  auto list = res->LoadStringList(u"addons.ini");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(U8(list->Strings(1)), "x=\xC3\xA9");

  auto image = res->LoadImage(u"header.png");
  EXPECT_EQ(image->Width, 2u);
  EXPECT_EQ(image->Height, 2u);
  EXPECT_TRUE(image->HalfPixelOffset);
  ASSERT_EQ(image->Pixels.size(), 16u);
  EXPECT_EQ(image->Pixels[2], 255);  // red, in B G R A order
  EXPECT_EQ(MessageOf([&] { res->LoadImage(u"broken.png"); }),
            "Cannot decode \"broken.png\" image");
}

TEST_F(ResourcesTest, ConcurrentLookupsGetWholeCopies) {
  std::string big(300000, 'x');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  SetPackages({{u"Install.xml", kScript}, {u"big.bin", big}}, {{u"small.bin", "small"}});
  auto res = Create();
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        good[t] += ReadStream(*res->OpenFile(t % 2 ? u"big.bin" : u"small.bin")) ==
                   (t % 2 ? big : std::string("small"));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good, (std::vector<int>{20, 20, 20, 20}));
}

// ---- extraction ----

class ExtractTest : public ResourcesTest {
 protected:
  void SetUp() override {
    ResourcesTest::SetUp();
    host_.dest = u"C:\\Program Files\\Mivo\\";
    SetPackages({{u"English.lng", kEnglish}, {u"Install.xml", kScript}},
                {{u"Mivo.exe", "binary"}, {u"Source.txt", "text"}});
    res_ = Create();
    res_->InitializeLanguages();
  }
  TSetupScriptFile Entry(const String& name, const String& text = {}) {
    TSetupScriptFile entry;
    entry.Name = name;
    entry.Text = text;
    return entry;
  }
  std::unique_ptr<TSetupResources> res_;
};

TEST_F(ExtractTest, WritesTheEntryCreatingItsFolders) {
  TSetupExtractHelper helper(*res_);
  helper.ExtractFile(Entry(u"$DEST\\Bin\\Sub\\Mivo.exe"));
  EXPECT_EQ(ReadFile(u"C:\\Program Files\\Mivo\\Bin\\Sub\\Mivo.exe"), "binary");
  // Text names the package file; an existing longer target is truncated.
  ASSERT_TRUE(WriteFile(u"C:\\Program Files\\Mivo\\Readme.txt", ToBytes("much longer text")));
  helper.ExtractFile(Entry(u"$DESTReadme?.txt", u"Source.txt"));
  EXPECT_EQ(ReadFile(u"C:\\Program Files\\Mivo\\Readme.txt"), "text");
}

TEST_F(ExtractTest, FailuresNameTheTargetAndTheCause) {
  TSetupExtractHelper helper(*res_);
  EXPECT_EQ(MessageOf([&] { helper.ExtractFile(Entry(u"$DEST\\Missing.dll")); }),
            "C:\\Program Files\\Mivo\\Missing.dll\r\n"
            "Cannot locate \"Missing.dll\" file in setup archive");
  // A file where a folder is needed.
  ASSERT_TRUE(WriteFile(u"C:\\Program Files\\Mivo\\Bin", ToBytes("file")));
  EXPECT_EQ(MessageOf([&] { helper.ExtractFile(Entry(u"$DEST\\Bin\\Mivo.exe")); }),
            "C:\\Program Files\\Mivo\\Bin\\Mivo.exe\r\n"
            "Cannot create \"C:\\Program Files\\Mivo\\Bin\\\"");
  EXPECT_EQ(MessageOf([&] { helper.ExtractFile(Entry(u"Mivo.exe")); }),
            "Mivo.exe\r\nCannot create \"\"");
  // The target is a folder: it can be neither created nor read for the
  // comparison of contents.
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Program Files\\Mivo\\Dir.exe"));
  EXPECT_EQ(MessageOf([&] { helper.ExtractFile(Entry(u"$DESTDir.exe", u"Mivo.exe")); }),
            "C:\\Program Files\\Mivo\\Dir.exe\r\nCannot open file \"C:\\Program "
            "Files\\Mivo\\Dir.exe\". " +
                U8(platform::SystemErrorText(platform::kErrorAccessDenied)));
}

TEST_F(ExtractTest, ForceFolderAndFormatText) {
  TSetupExtractHelper helper(*res_);
  helper.ForceFolder(u"C:\\A\\B\\C\\");
  helper.ForceFolder(u"C:\\A\\B\\C");
  EXPECT_TRUE(platform::DirectoryExists(u"C:\\A\\B\\C"));
  helper.ForceFolder(u"C:\\");
  EXPECT_EQ(MessageOf([&] { helper.ForceFolder(u""); }), "Cannot create \"\"");
  EXPECT_EQ(MessageOf([&] { helper.ForceFolder(u"Q:\\X"); }), "Cannot create \"Q:\\X\"");
  EXPECT_EQ(U8(helper.FormatText(u"E3", {u"x"})), "Cannot create \"x\"");
}

}  // namespace

#endif  // _WIN32
