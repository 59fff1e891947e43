#include <cstring>

#include "lib/stream.h"
#include "platform/crypto.h"
#include "platform/image.h"
#include "platform/resources.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

#include "png_samples.inc"

class SystemTest : public PlatformTest {};

TEST_F(SystemTest, ProgramAndFolders) {
  const String module = ModuleFileName();
  EXPECT_TRUE(SameTextAscii(ExtractFileExt(module), u".exe")) << U8(module);
  EXPECT_EQ(module[1], u':');

  const String temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), u'\\');
  EXPECT_TRUE(DirectoryExists(temp)) << U8(temp);

  for (int csidl : {kCsidlCommonDesktopDirectory, kCsidlProgramFiles, kCsidlCommonPrograms,
                    kCsidlAppData, kCsidlProfile}) {
    String path;
    ASSERT_TRUE(SpecialFolder(csidl, path)) << csidl;
    EXPECT_EQ(path[1], u':') << csidl;
    EXPECT_NE(path.back(), u'\\') << csidl;
    EXPECT_TRUE(DirectoryExists(path)) << csidl << " " << U8(path);
  }
  String path;
  ASSERT_TRUE(SpecialFolder(kCsidlProfile, path));
  String appData;
  ASSERT_TRUE(SpecialFolder(kCsidlAppData, appData));
  EXPECT_TRUE(StartsWith(appData, path + u"\\")) << U8(appData);
}

TEST_F(SystemTest, UserAndSystemFacts) {
  EXPECT_NE(UserDefaultUILanguage(), 0);
  EXPECT_TRUE(IsAdmin());
  EXPECT_GE(WindowsVersion().major, 6u);
#ifndef _WIN32
  EXPECT_FALSE(RunningUnderWine());
#endif
  String root;
  ASSERT_TRUE(EnvironmentVariable(u"SystemRoot", root));
  EXPECT_TRUE(SameTextAscii(ExpandEnvironment(u"%SystemRoot%\\x"), root + u"\\x"));
  EXPECT_TRUE(SameTextAscii(ExpandEnvironment(u"%systemroot%"), root));
  EXPECT_EQ(ExpandEnvironment(u"%MivoNoSuchVariable%\\y"), u"%MivoNoSuchVariable%\\y");
  EXPECT_EQ(ExpandEnvironment(u"100% sure"), u"100% sure");
  EXPECT_FALSE(EnvironmentVariable(u"MivoNoSuchVariable", root));
}

TEST_F(SystemTest, DataResources) {
#ifndef _WIN32
  const std::string text = "Hello, resources";
  standin::SetDataResource(u"PLATFORMTEST", std::vector<uint8_t>(text.begin(), text.end()));
#endif
  TResourceBytes bytes;
  ASSERT_TRUE(FindDataResource(u"PLATFORMTEST", bytes));
  ASSERT_GE(bytes.size, 16u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data), 16), "Hello, resources");
  EXPECT_TRUE(FindDataResource(u"platformtest", bytes));
  EXPECT_FALSE(FindDataResource(u"MIVONOSUCHRESOURCE", bytes));

  // As a stream: the same bytes, in pieces and after seeking. On Windows it
  // reads the program's own file, which it has recognised as such.
  std::unique_ptr<TStream> stream = OpenDataResource(u"platformtest");
  ASSERT_NE(stream, nullptr);
#ifdef _WIN32
  EXPECT_NE(dynamic_cast<TStreamWindow*>(stream.get()), nullptr);
#endif
  ASSERT_EQ(stream->Size(), static_cast<int64_t>(bytes.size));
  char piece[16] = {};
  ASSERT_EQ(stream->Read(piece, 5), 5);
  ASSERT_EQ(stream->Read(piece + 5, 11), 11);
  EXPECT_EQ(std::string(piece, 16), "Hello, resources");
  stream->SetPosition(7);
  ASSERT_EQ(stream->Read(piece, 9), 9);
  EXPECT_EQ(std::string(piece, 9), "resources");
  stream->SetPosition(stream->Size());
  EXPECT_EQ(stream->Read(piece, 1), 0);
  EXPECT_EQ(OpenDataResource(u"MIVONOSUCHRESOURCE"), nullptr);
}

TEST_F(SystemTest, Md5KnownDigests) {
  const std::pair<std::string, const char16_t*> cases[] = {
      {"", u"d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", u"900150983cd24fb0d6963f7d28e17f72"},
      {"The quick brown fox jumps over the lazy dog", u"9e107d9d372bb6826bd81d3542a419d6"},
  };
  for (const auto& [text, digest] : cases)
    EXPECT_EQ(DigestToHex(Md5(text.data(), text.size())), digest) << text;

  // A stream larger than one read chunk, from its current position on.
  std::vector<uint8_t> bytes((1 << 20) + 3, 'a');
  TMemoryStream stream(bytes);
  stream.SetPosition(3);
  EXPECT_EQ(Md5(stream), Md5(bytes.data() + 3, bytes.size() - 3));
  TMd5 md5;
  md5.Update("a", 1);
  md5.Update("bc", 2);
  EXPECT_EQ(DigestToHex(md5.Final()), u"900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestToHex(md5.Final()), u"d41d8cd98f00b204e9800998ecf8427e");  // reset

  THash sha(THashAlgorithm::Sha256);
  sha.Update("a", 1);
  sha.Update("bc", 2);
  std::vector<uint8_t> digest = sha.Final();
  EXPECT_EQ(DigestToHex(digest.data(), digest.size()),
            u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  digest = sha.Final();  // reset
  EXPECT_EQ(DigestToHex(digest.data(), digest.size()),
            u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(SystemTest, PngDecoding) {
  for (const auto& sample : kPngSamples) {
    TImage image;
    ASSERT_TRUE(DecodePng(sample.png, sample.size, image)) << sample.name;
    ASSERT_EQ(image.width, sample.width) << sample.name;
    ASSERT_EQ(image.height, sample.height) << sample.name;
    ASSERT_EQ(image.pixels.size(), size_t{sample.width} * sample.height * 4);
    for (size_t i = 0; i < size_t{sample.width} * sample.height; ++i) {
      const uint8_t* rgba = sample.rgba + i * 4;
      const uint8_t* bgra = image.pixels.data() + i * 4;
      EXPECT_EQ(bgra[3], rgba[3]) << sample.name << " pixel " << i;
      if (rgba[3] == 0) continue;  // colour of transparent pixels is free
      EXPECT_EQ(bgra[0], rgba[2]) << sample.name << " pixel " << i;
      EXPECT_EQ(bgra[1], rgba[1]) << sample.name << " pixel " << i;
      EXPECT_EQ(bgra[2], rgba[0]) << sample.name << " pixel " << i;
    }
  }
  // Broken input is refused.
  TImage image;
  EXPECT_FALSE(DecodePng(kRgbaPng, 40, image));  // cut inside the data
  EXPECT_TRUE(image.pixels.empty());
  EXPECT_FALSE(DecodePng("GIF89a", 6, image));
  EXPECT_FALSE(DecodePng(nullptr, 0, image));
}

}  // namespace
}  // namespace platform_test
