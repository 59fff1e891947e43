// The demo product's packages hold what the installer reads: every language
// text, a license per family, the pictures and the add-on description.
#include <map>

#include "lib/format.h"
#include "lib/strings.h"
#include "product_test_util.h"
#include "resources/language_dialog.h"

namespace product_test {
namespace {

struct TSection {
  const char16_t* name;
  std::vector<const char16_t*> keys;
};

const std::vector<TSection>& RequiredTexts() {
  static const std::vector<TSection> sections = {
      {u"File", {u"Name", u"LangId", u"Author", u"VersionId", u"Family", u"Icon"}},
      {u"Common", {u"Caption", u"bBack",      u"bNext",   u"bInstall", u"bUninstall", u"bFinish",
                   u"lBrowse", u"lNewFolder", u"lCancel", u"lOk",      u"QM",         u"QM2",
                   u"E1",      u"E3",         u"E4",      u"A1",       u"A2",         u"A3",
                   u"A4",      u"A5",         u"A6",      u"A7",       u"A8",         u"A9"}},
      {u"PageWelcome", {u"Title", u"Description", u"L1", u"L2"}},
      {u"PageLicense", {u"Title", u"Description", u"L1"}},
      {u"PageSetup",
       {u"Title", u"Description", u"LB1", u"Browse", u"CB1", u"CB4", u"LB2", u"CB3", u"CB3Hint",
        u"CB2", u"W1", u"W3"}},
      {u"PageAddons", {u"Title", u"Description", u"L0", u"CB1", u"CB2", u"CB3", u"L1", u"L2"}},
      {u"PageIntegration",
       {u"Title", u"Description", u"LB1", u"CB1", u"CB2", u"LB2", u"CB4", u"CB4Hint", u"CB3",
        u"CB5"}},
      {u"PageReadyToInstall", {u"Title", u"Description"}},
      {u"PageInstall", {u"Title", u"Description", u"L1"}},
      {u"PageFinish",
       {u"Title", u"Description", u"L1", u"L2", u"L3", u"E1", u"E2", u"RunPlayer", u"ShowReadme"}},
      {u"PageUninstallParams", {u"Title", u"Description", u"CB1", u"CB2"}},
      {u"PageUninstall", {u"Title", u"Description", u"L1"}},
      {u"PageUninstallFinish", {u"Title", u"Description", u"L1", u"L2", u"E1", u"E2"}},
  };
  return sections;
}

TEST_F(ProductTest, DemoLanguagesHaveEveryText) {
  CreateAuto(work_);
  TSetupResources& resources = setup_->Resources();
  ASSERT_EQ(resources.Langs().Count(), 3);
  std::vector<std::string> families;
  for (int i = 0; i < resources.Langs().Count(); ++i) {
    const String name = resources.Langs().Strings(i);
    TVelIniFile lang;
    lang.LoadFromStream(*resources.OpenFile(name));
    for (const auto& section : RequiredTexts())
      for (const char16_t* key : section.keys)
        EXPECT_NE(lang.ReadString(section.name, key, u""), u"")
            << U8(name) << " [" << U8(section.name) << "] " << U8(key);
    TVelLocalizationInfo info;
    TVelIcon icon;
    LangGetInfo(lang, info, &icon);
    EXPECT_FALSE(icon.Empty()) << U8(name);
    families.push_back(U8(lang.ReadString(u"File", u"Family", u"EN")));
    // Texts filled in with arguments take exactly their arguments.
    EXPECT_NO_THROW(Format(lang.ReadString(u"PageAddons", u"L1", u""), {u"x"})) << U8(name);
    EXPECT_NO_THROW(Format(lang.ReadString(u"PageAddons", u"L2", u""), {u"x", u"y"})) << U8(name);
    EXPECT_NO_THROW(Format(lang.ReadString(u"Common", u"QM2", u""), {u"x"})) << U8(name);
  }
  EXPECT_EQ(families, (std::vector<std::string>{"EN", "DE", "RU"}));
}

// The letter of an access key as the keyboard gives it in either case:
// Latin, Latin-1 and Cyrillic letters of the demo languages.
char16_t FoldKey(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

// Every button, check box and radio button of a page has an access key,
// and no two of them (the footer's Back and Next included) share one.
TEST_F(ProductTest, DemoAccessKeysAreUniqueOnEveryPage) {
  struct TPageKeys {
    const char16_t* section;
    std::vector<const char16_t*> keys;
    std::vector<const char16_t*> footer;  // from "Common"
  };
  const std::vector<TPageKeys> pages = {
      {u"PageWelcome", {}, {u"bBack", u"bNext"}},
      {u"PageLicense", {u"L1"}, {u"bBack", u"bNext"}},
      {u"PageSetup", {u"Browse", u"CB1", u"CB4", u"CB3", u"CB2"}, {u"bBack", u"bNext"}},
      {u"PageAddons", {u"CB1", u"CB2", u"CB3"}, {u"bBack", u"bNext"}},
      {u"PageIntegration", {u"CB1", u"CB2", u"CB4", u"CB3", u"CB5"}, {u"bBack", u"bNext"}},
      {u"PageReadyToInstall", {}, {u"bBack", u"bInstall"}},
      {u"PageFinish", {u"RunPlayer", u"ShowReadme"}, {u"bBack", u"bFinish"}},
      {u"PageUninstallParams", {u"CB1", u"CB2"}, {u"bBack", u"bUninstall"}},
      {u"PageUninstallFinish", {}, {u"bBack", u"bFinish"}},
  };
  CreateAuto(work_);
  TSetupResources& resources = setup_->Resources();
  for (int i = 0; i < resources.Langs().Count(); ++i) {
    const String name = resources.Langs().Strings(i);
    TVelIniFile lang;
    lang.LoadFromStream(*resources.OpenFile(name));
    for (const TPageKeys& page : pages) {
      std::map<char16_t, std::string> used;
      auto check = [&](const char16_t* section, const char16_t* key) {
        const String caption = lang.ReadString(section, key, u"");
        const char16_t letter = FoldKey(CaptionAccessKey(caption));
        const std::string where = U8(name) + " [" + U8(page.section) + "] " + U8(key);
        EXPECT_NE(letter, 0) << where << ": no access key in \"" << U8(caption) << "\"";
        if (!letter) return;
        auto [at, added] = used.emplace(letter, U8(key));
        EXPECT_TRUE(added) << where << ": the access key of " << at->second;
      };
      for (const char16_t* key : page.keys) check(page.section, key);
      for (const char16_t* key : page.footer) check(u"Common", key);
    }
  }
}

TEST_F(ProductTest, DemoPackagesHoldLicensesPicturesAndAddons) {
  CreateAuto(work_);
  TSetupResources& resources = setup_->Resources();
  const TSetupScript& script = resources.Script();
  ASSERT_EQ(script.License.Count(), 3);
  for (int i = 0; i < script.License.Count(); ++i) {
    auto license = resources.OpenFile(script.License.Items(i).Name);
    std::string head(5, '\0');
    license->Read(head.data(), 5);
    EXPECT_EQ(head, "{\\rtf");
  }
  for (const char16_t* image :
       {u"header.png", u"header_dark.png", u"wizard_light.png", u"wizard_dark.png"})
    EXPECT_GT(resources.LoadImage(image)->Width, 0u) << U8(image);

  auto addons = resources.LoadStringList(u"addons.ini");
  for (const char16_t* name : {u"P1", u"P2", u"P3", u"P4", u"CL", u"I0", u"L0", u"L1", u"L2"})
    EXPECT_NE(addons->Values(name), u"") << U8(name);
  EXPECT_EQ(resources.LoadImage(addons->Values(u"I0"))->Width, 96u);
  EXPECT_NO_THROW(Format(addons->Values(u"CL"), {u"/VIEWER "}));

  // Every component exists in the packages; the player's programs are built
  // only for Windows.
  int russianOnly = 0;
  for (int i = 0; i < script.Components.Count(); ++i) {
    const TSetupScriptFile& entry = script.Components.Items(i);
    if (SameTextAscii(entry.LangFamily, u"RU") && !StartsWith(entry.PackageName(), u"Readme"))
      ++russianOnly;
#ifndef _WIN32
    if (EndsWith(entry.PackageName(), u".exe")) {
      EXPECT_TRUE(entry.PackageName() == u"Mivo.exe" || entry.PackageName() == u"Rivadavi.exe")
          << U8(entry.PackageName());
      continue;
    }
#endif
    EXPECT_NO_THROW(resources.OpenFile(entry.PackageName())) << U8(entry.PackageName());
  }
  EXPECT_EQ(russianOnly, 1);
#ifdef _WIN32
  EXPECT_NO_THROW(resources.OpenFile(addons->Values(u"P4")));
#endif
}

}  // namespace
}  // namespace product_test
