// The installation script: document shape, name matching, groups, settings
// and the dump beside the running program.
#include <gtest/gtest.h>

#include "lib/xml_document.h"
#include "resources/setup_script.h"
#include "resources_test_util.h"

namespace {

using namespace resources_test;

void Parse(TSetupScript& script, const std::string& xml) {
  TMemoryStream stream(ToBytes(xml));
  TVelXMLDocument document;
  document.LoadFromStream(stream);
  script.LoadDocument(document);
}

std::vector<std::string> Names(const TSetupScriptGroup& group) {
  std::vector<std::string> names;
  for (int i = 0; i < group.Count(); ++i) names.push_back(U8(group.Items(i).Name));
  return names;
}

TEST(SetupScript, ReadsEveryGroupOfTheDocument) {
  TSetupScript script;
  Parse(script, R"(<?xml version="1.0"?>
<anything>
  <SETUP><License>
    <File name="License_EN.txt" lang-family="EN"/>
    <file NAME="License_DE.txt" Lang-Family="DE">ignored text</file>
  </License></SETUP>
  <Product>
    <components>
      <File name="$DEST\Mivo.exe"/>
      <file name="$DEST\Lang\German.lng" lang-family="DE">German.lng</file>
      <Item name="$DEST\ignored.txt"/>
    </components>
    <Actions><File name="$DEST\Mivo.exe">CB_RUN</File></Actions>
    <Settings>
      <A name="ProductName" value="Mivo"/>
      <B value="5.50" name="ProductVersion"/>
      <C name="productname" value="Mivo Player"/>
    </Settings>
    <Shortcuts><File name="$DESKTOP$NAME.lnk">$DEST\Mivo.exe</File></Shortcuts>
    <Unknown><File name="nowhere"/></Unknown>
    <COMPONENTS><File name="$DEST\Second.dll"/></COMPONENTS>
  </Product>
  <product><Components><File name="$DEST\never.txt"/></Components></product>
</anything>)");

  EXPECT_EQ(Names(script.License), (std::vector<std::string>{"License_EN.txt", "License_DE.txt"}));
  EXPECT_EQ(U8(script.License.Items(1).LangFamily), "DE");
  EXPECT_EQ(U8(script.License.Items(1).Text), "ignored text");
  // "Item" is not a file entry; the second group element appends; the second
  // "product" is never read.
  EXPECT_EQ(Names(script.Components),
            (std::vector<std::string>{"$DEST\\Mivo.exe", "$DEST\\Lang\\German.lng",
                                      "$DEST\\Second.dll"}));
  EXPECT_EQ(U8(script.Components.Items(0).PackageName()), "Mivo.exe");
  EXPECT_EQ(U8(script.Components.Items(1).PackageName()), "German.lng");
  ASSERT_EQ(script.Actions.Count(), 1);
  EXPECT_EQ(U8(script.Actions.Items(0).PackageName()), "CB_RUN");
  ASSERT_EQ(script.Shortcuts.Count(), 1);
  EXPECT_EQ(U8(script.Shortcuts.Items(0).Text), "$DEST\\Mivo.exe");
  // The last line of a name wins, names compared without regard to case.
  EXPECT_EQ(U8(script.GetSetting(u"PRODUCTNAME")), "Mivo Player");
  EXPECT_EQ(U8(script.GetSetting(u"ProductVersion")), "5.50");
  EXPECT_EQ(U8(script.GetSetting(u"HomePage")), "");
  EXPECT_EQ(script.Settings.Count(), 3);
}

TEST(SetupScript, LicenseTextFormMatchesEveryFamily) {
  TSetupScript script;
  Parse(script, "<r><setup><license>License.rtf</license></setup></r>");
  ASSERT_EQ(script.License.Count(), 1);
  const TSetupScriptFile& entry = script.License.Items(0);
  EXPECT_EQ(U8(entry.Name), "License.rtf");
  EXPECT_TRUE(entry.Text.empty());
  EXPECT_TRUE(entry.LangFamily.empty());
  EXPECT_TRUE(entry.MatchesFamily(u"RU"));
}

TEST(SetupScript, FindByFamilyTakesTheFirstMatchingEntry) {
  TSetupScript script;
  Parse(script,
        "<r><setup><license><File name='de.txt' lang-family='DE'/><File name='en.txt' "
        "lang-family='EN'/></license></setup></r>");
  EXPECT_EQ(script.License.FindByFamily(u"RU"), nullptr);
  ASSERT_NE(script.License.FindByFamily(u"en"), nullptr);
  EXPECT_EQ(U8(script.License.FindByFamily(u"en")->Name), "en.txt");

  TSetupScript withDefault;
  Parse(withDefault,
        "<r><setup><license><File name='all.txt'/><File name='de.txt' "
        "lang-family='DE'/></license></setup></r>");
  EXPECT_EQ(U8(withDefault.License.FindByFamily(u"DE")->Name), "all.txt");
}

TEST(SetupScript, PackageNameAndFamilyOfAnEntry) {
  struct Case {
    const char16_t* name;
    const char16_t* text;
    const char* package;
  } cases[] = {
      {u"$DEST\\Sub\\Mivo.exe", u"", "Mivo.exe"},
      {u"$DESTMivo.exe", u"", "Mivo.exe"},
      {u"$DESTSub\\B.dll", u"", "B.dll"},
      {u"$DESKTOP$NAME.lnk", u"", "$NAME.lnk"},
      {u"a/b/c.txt", u"", "c.txt"},
      {u"C:Mivo.exe", u"", "Mivo.exe"},
      {u"$DEST\\Sub\\", u"", ""},
      {u"$DEST\\Sub\\Mivo.exe", u"Source.bin", "Source.bin"},
  };
  for (const Case& c : cases) {
    TSetupScriptFile entry;
    entry.Name = c.name;
    entry.Text = c.text;
    EXPECT_EQ(U8(entry.PackageName()), c.package) << U8(c.name);
  }
  TSetupScriptFile entry;
  entry.LangFamily = u"Ru";
  EXPECT_TRUE(entry.MatchesFamily(u"RU"));
  EXPECT_FALSE(entry.MatchesFamily(u"EN"));
  EXPECT_FALSE(entry.MatchesFamily(u""));
}

TEST(SetupScript, MalformedDocumentKeepsWhatWasRead) {
  TSetupScript script;
  Parse(script,
        "<r><product><Components><File name='a.txt'/><File name='b.txt'/>"
        "<File name='c.txt' oops></Components><Settings><s name='ProductName' value='X'/>"
        "</Settings></product></r>");
  EXPECT_EQ(Names(script.Components), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(script.Settings.Count(), 0);
}

TEST(SetupScript, EmptyOrForeignDocumentsLeaveEverythingEmpty) {
  for (const char* xml : {"", "not xml at all", "<r/>", "<r><setup/><other/></r>"}) {
    TSetupScript script;
    Parse(script, xml);
    EXPECT_EQ(script.Components.Count() + script.Actions.Count() + script.License.Count() +
                  script.Shortcuts.Count() + script.Settings.Count(),
              0)
        << xml;
  }
}

#ifndef _WIN32
class SetupScriptDump : public ResourcesTest {};

TEST_F(SetupScriptDump, LoadWritesNothingBesideTheProgram) {
  platform::standin::SetModuleFileName(u"C:\\Setup\\Setup.exe");
  ASSERT_TRUE(WriteFile(u"C:\\Setup\\dump.xml", ToBytes("old contents")));
  TSetupScript script;
  TMemoryStream stream(ToBytes("<r a='1'><product/><broken"));
  script.Load(stream);
  EXPECT_EQ(ReadFile(u"C:\\Setup\\dump.xml"), "old contents");

  // A name that could not be written is no reason to stop.
  ASSERT_TRUE(platform::RemoveFile(u"C:\\Setup\\dump.xml"));
  ASSERT_TRUE(platform::CreateFolder(u"C:\\Setup\\dump.xml"));
  TMemoryStream again(ToBytes("<r/>"));
  EXPECT_EQ(MessageOf([&] { script.Load(again); }), "<no error>");
}
#endif

}  // namespace
