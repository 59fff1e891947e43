// The package tool, run through its command function.
#include "tools/ipk/ipk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "lib/stream.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "platform/crypto.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

class IpkTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("mivo-ipk-test-" + std::to_string(rd()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path Path(const std::u16string& relative) const { return root_ / fs::path(relative); }
  String P(const std::u16string& relative) const { return Path(relative).u16string(); }

  void WriteFile(const std::u16string& relative, const std::string& content) const {
    const fs::path p = Path(relative);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  std::string ReadFile(const fs::path& p) const {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  int Ipk(std::vector<String> args) {
    out_.str("");
    err_.str("");
    return ipk::Run(args, out_, err_);
  }

  // A package made with the library, for names the tool would not create.
  String BuildPackage(const std::vector<std::pair<String, std::string>>& files) const {
    TSetupPackageBuilder builder;
    for (const auto& f : files) {
      TMemoryStream s(Bytes(f.second.begin(), f.second.end()));
      builder.Add(s, f.first);
    }
    const String file = P(u"built.ipk");
    builder.SaveToFile(file, 4);
    return file;
  }

  fs::path root_;
  std::ostringstream out_, err_;
};

TEST_F(IpkTest, CreateListExtractVerifyRoundTrip) {
  WriteFile(u"src/readme.txt", "read me\n");
  WriteFile(u"src/Languages/German.lng", "[Common]\nA1=Hallo\n");
  WriteFile(u"src/\u00c4pfel/\u0444\u0430\u0439\u043b.bin", std::string(3 << 20, '\x7f'));
  WriteFile(u"src/empty.dat", "");
  WriteFile(u"Install.xml", "<Setup/>");
  ASSERT_EQ(Ipk({u"create", P(u"p.ipk"), P(u"src"), P(u"Install.xml")}), 0) << err_.str();

  ASSERT_EQ(Ipk({u"list", P(u"p.ipk")}), 0) << err_.str();
  const std::string listing = out_.str();
  for (const char* name : {"Install.xml", "Languages\\German.lng", "empty.dat", "readme.txt",
                           "\xC3\x84pfel\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.bin"})
    EXPECT_NE(listing.find(name), std::string::npos) << name << "\n" << listing;
  EXPECT_NE(listing.find("5 files"), std::string::npos) << listing;

  ASSERT_EQ(Ipk({u"verify", P(u"p.ipk")}), 0) << err_.str();
  EXPECT_NE(out_.str().find("OK, 5 files"), std::string::npos) << out_.str();

  ASSERT_EQ(Ipk({u"extract", P(u"p.ipk"), u"-C", P(u"out")}), 0) << err_.str();
  for (const char16_t* name : {u"readme.txt", u"Languages/German.lng",
                               u"\u00c4pfel/\u0444\u0430\u0439\u043b.bin", u"empty.dat"})
    EXPECT_EQ(ReadFile(Path(u"out/" + String(name))), ReadFile(Path(u"src/" + String(name))))
        << Utf16ToUtf8(name);
  EXPECT_EQ(ReadFile(Path(u"out/Install.xml")), "<Setup/>");

  // Chosen names, found without regard to case.
  ASSERT_EQ(Ipk({u"extract", P(u"p.ipk"), u"LANGUAGES\\german.LNG", u"-C", P(u"some")}), 0)
      << err_.str();
  EXPECT_TRUE(fs::exists(Path(u"some/Languages/German.lng")));
  EXPECT_FALSE(fs::exists(Path(u"some/readme.txt")));

  ASSERT_EQ(Ipk({u"cat", P(u"p.ipk"), u"languages\\german.lng"}), 0);
  EXPECT_EQ(out_.str(), "[Common]\nA1=Hallo\n");

  // The file table as an installer carries it: the package's own, byte for byte.
  ASSERT_EQ(Ipk({u"table", P(u"p.ipk"), P(u"p.table")}), 0) << err_.str();
  TMemoryStream stored;
  {
    const std::string package = ReadFile(Path(u"p.ipk"));
    TMemoryStream source(Bytes(package.begin(), package.end()));
    TSetupPackageReader reader(source);
    reader.FileTable().SaveToStream(stored);
  }
  const std::string table = ReadFile(Path(u"p.table"));
  EXPECT_EQ(Bytes(table.begin(), table.end()), stored.Bytes());
  EXPECT_EQ(Ipk({u"table", P(u"p.ipk")}), 2);
  EXPECT_EQ(Ipk({u"table", P(u"missing.ipk"), P(u"t")}), 1);

  // With the digest: the SHA-256 of the package file; none for a package
  // that fails its check.
  ASSERT_EQ(Ipk({u"table", P(u"p.ipk"), P(u"p.table"), P(u"p.sha256")}), 0) << err_.str();
  const std::string package = ReadFile(Path(u"p.ipk"));
  platform::THash sha(platform::THashAlgorithm::Sha256);
  sha.Update(package.data(), package.size());
  const std::string digest = ReadFile(Path(u"p.sha256"));
  EXPECT_EQ(Bytes(digest.begin(), digest.end()), sha.Final());
  std::string damaged = package;
  damaged[damaged.size() / 2] ^= 0x55;
  std::ofstream(Path(u"bad.ipk"), std::ios::binary) << damaged;
  EXPECT_EQ(Ipk({u"table", P(u"bad.ipk"), P(u"bad.table"), P(u"bad.sha256")}), 1);
  EXPECT_FALSE(fs::exists(Path(u"bad.sha256")));
}

TEST_F(IpkTest, DeterministicWhateverTheArgumentOrder) {
  for (int i = 0; i < 30; ++i)
    WriteFile(u"tree/d" + IntToStr(i % 4) + u"/f" + IntToStr(i) + u".txt",
              std::string(static_cast<size_t>(i * 1000), static_cast<char>('a' + i % 26)));
  WriteFile(u"extra.bin", "extra");
  ASSERT_EQ(Ipk({u"create", P(u"a.ipk"), u"--level", u"6", P(u"tree"), P(u"extra.bin")}), 0);
  ASSERT_EQ(Ipk({u"create", u"--level=6", P(u"b.ipk"), P(u"extra.bin"), P(u"tree")}), 0);
  EXPECT_EQ(ReadFile(Path(u"a.ipk")), ReadFile(Path(u"b.ipk")));
  ASSERT_EQ(Ipk({u"create", P(u"c.ipk"), P(u"tree"), P(u"extra.bin")}), 0);
  EXPECT_NE(ReadFile(Path(u"a.ipk")), ReadFile(Path(u"c.ipk")));  // level 4
  EXPECT_FALSE(fs::exists(Path(u"a.ipk.part")));
}

TEST_F(IpkTest, OtherKey) {
  WriteFile(u"f.txt", "secret");
  ASSERT_EQ(Ipk({u"create", P(u"k.ipk"), u"--key", u"1234", P(u"f.txt")}), 0);
  EXPECT_EQ(Ipk({u"verify", P(u"k.ipk")}), 1);
  EXPECT_NE(err_.str().find("another --key"), std::string::npos) << err_.str();
  ASSERT_EQ(Ipk({u"cat", P(u"k.ipk"), u"f.txt", u"--key", u"1234"}), 0);
  EXPECT_EQ(out_.str(), "secret");
}

TEST(IpkNames, SplitStoredName) {
  struct Case {
    const char16_t* name;
    bool ok;
    std::vector<String> parts;
  } cases[] = {
      {u"a.txt", true, {u"a.txt"}},
      {u"dir\\sub\\a.txt", true, {u"dir", u"sub", u"a.txt"}},
      {u"dir/a.txt", true, {u"dir", u"a.txt"}},
      {u"..a\\b..c", true, {u"..a", u"b..c"}},
      {u"\u65e5\u672c\\\u8a9e", true, {u"\u65e5\u672c", u"\u8a9e"}},
      {u"", false, {}},
      {u"..", false, {}},
      {u"..\\evil", false, {}},
      {u"a\\..\\..\\evil", false, {}},
      {u"a/../evil", false, {}},
      {u".\\a", false, {}},
      {u"\\abs", false, {}},
      {u"/abs", false, {}},
      {u"C:\\evil", false, {}},
      {u"C:evil", false, {}},
      {u"a\\b:stream", false, {}},
      {u"\\\\server\\share\\x", false, {}},
      {u"//server/share/x", false, {}},
      {u"\\\\?\\C:\\x", false, {}},
      {u"a\\\\b", false, {}},
      {u"a\\", false, {}},
      {u"a.", false, {}},
      {u"a \\b", false, {}},
      {u"NUL", false, {}},
      {u"dir\\con.txt", false, {}},
      {u"COM1", false, {}},
      {u"a?b", false, {}},
      {u"a\tb", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<String> parts;
    String reason;
    EXPECT_EQ(ipk::SplitStoredName(c.name, parts, reason), c.ok) << Utf16ToUtf8(c.name);
    if (c.ok) {
      EXPECT_EQ(parts, c.parts) << Utf16ToUtf8(c.name);
    } else {
      EXPECT_FALSE(reason.empty()) << Utf16ToUtf8(c.name);
    }
  }
}

TEST_F(IpkTest, ExtractionNeverLeavesTheTarget) {
  for (const char16_t* name :
       {u"..\\evil.txt", u"sub\\..\\..\\evil.txt", u"../evil.txt", u"\\evil.txt", u"/tmp/evil.txt",
        u"C:\\evil.txt", u"\\\\server\\share\\evil.txt"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    const String package = BuildPackage({{u"fine.txt", "fine"}, {name, "evil"}});
    EXPECT_EQ(Ipk({u"extract", package, u"-C", P(u"target/inner")}), 1);
    EXPECT_NE(err_.str().find("refusing to extract"), std::string::npos) << err_.str();
    // Nothing at all was written, not even the harmless file.
    EXPECT_FALSE(fs::exists(Path(u"target/inner/fine.txt")));
    EXPECT_FALSE(fs::exists(Path(u"target/evil.txt")));
    EXPECT_FALSE(fs::exists(Path(u"evil.txt")));
    // Asking for it by name is refused as well.
    EXPECT_EQ(Ipk({u"extract", package, name, u"-C", P(u"target/inner")}), 1);
  }
}

#ifndef _WIN32
TEST_F(IpkTest, ExtractionDoesNotFollowLinksOut) {
  fs::create_directories(Path(u"target"));
  fs::create_directories(Path(u"outside"));
  fs::create_directory_symlink(Path(u"outside"), Path(u"target/link"));
  const String package = BuildPackage({{u"link\\x.txt", "escaped"}});
  EXPECT_EQ(Ipk({u"extract", package, u"-C", P(u"target")}), 1);
  EXPECT_NE(err_.str().find("leads outside"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path(u"outside/x.txt")));

  fs::create_symlink(Path(u"outside/victim.txt"), Path(u"target/file.txt"));
  EXPECT_EQ(Ipk({u"extract", BuildPackage({{u"file.txt", "escaped"}}), u"-C", P(u"target")}), 1);
  EXPECT_FALSE(fs::exists(Path(u"outside/victim.txt")));
}

TEST_F(IpkTest, CreateRefusesNamesTheReaderCannotTellApart) {
  WriteFile(u"src/Readme.txt", "1");
  WriteFile(u"src/README.TXT", "2");
  EXPECT_EQ(Ipk({u"create", P(u"p.ipk"), P(u"src")}), 1);
  EXPECT_NE(err_.str().find("same name"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path(u"p.ipk")));
  EXPECT_FALSE(fs::exists(Path(u"p.ipk.part")));
}
#endif

TEST_F(IpkTest, DuplicatesAreShownAndSkipped) {
  const String package =
      BuildPackage({{u"Setup.ini", "first"}, {u"other", "x"}, {u"SETUP.INI", "second"}});
  ASSERT_EQ(Ipk({u"list", package}), 0);
  EXPECT_NE(out_.str().find("SETUP.INI  [duplicate of \"Setup.ini\""), std::string::npos)
      << out_.str();
  EXPECT_NE(err_.str().find("warning"), std::string::npos);
  ASSERT_EQ(Ipk({u"extract", package, u"-C", P(u"out")}), 0) << err_.str();
  EXPECT_NE(err_.str().find("skipping \"SETUP.INI\""), std::string::npos) << err_.str();
  EXPECT_EQ(ReadFile(Path(u"out/Setup.ini")), "first");
}

TEST_F(IpkTest, ErrorsAndExitCodes) {
  WriteFile(u"f.txt", "x");
  WriteFile(u"broken.ipk", "IPK5 but nothing like a package");
  struct Case {
    std::vector<String> args;
    int code;
    const char* message;
  } cases[] = {
      {{}, 2, "usage:"},
      {{u"frobnicate"}, 2, "unknown command"},
      {{u"create", P(u"o.ipk")}, 2, "at least one path"},
      {{u"create", P(u"o.ipk"), u"--level", u"x", P(u"f.txt")}, 2, "--level"},
      {{u"create", P(u"o.ipk"), u"--level", u"10", P(u"f.txt")}, 2, "--level"},
      {{u"create", P(u"o.ipk"), P(u"f.txt"), u"--key"}, 2, "needs a value"},
      {{u"create", P(u"o.ipk"), u"--key=", P(u"f.txt")}, 2, "must not be empty"},
      {{u"create", P(u"o.ipk"), P(u"missing")}, 1, "cannot find"},
      {{u"create", P(u"nodir/o.ipk"), P(u"f.txt")}, 1, "cannot create"},
      {{u"list"}, 2, "exactly one package"},
      {{u"list", P(u"f.txt"), u"--bogus"}, 2, "unknown option"},
      {{u"verify", P(u"missing.ipk")}, 1, "Cannot open file"},
      {{u"verify", P(u"broken.ipk")}, 1, "Package was corrupted"},
      {{u"verify", P(u"f.txt")}, 1, "Stream read error"},
      {{u"extract"}, 2, "needs a package"},
      {{u"cat", P(u"f.txt")}, 2, "one name"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Ipk(c.args), c.code) << (c.args.empty() ? "" : Utf16ToUtf8(c.args[0]));
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
  ASSERT_EQ(Ipk({u"create", P(u"ok.ipk"), P(u"f.txt")}), 0);
  EXPECT_EQ(Ipk({u"cat", P(u"ok.ipk"), u"g.txt"}), 1);
  EXPECT_EQ(Ipk({u"extract", P(u"ok.ipk"), u"f.txt", u"g.txt", u"-C", P(u"out")}), 1);
  EXPECT_NE(err_.str().find("\"g.txt\""), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path(u"out/f.txt")));
}

}  // namespace
