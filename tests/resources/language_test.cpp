// Language information, the language dialog's items and default, and the
// language set-up of the resources.
#include <gtest/gtest.h>

#include "lib/system.h"
#include "resources/language_dialog.h"
#include "resources_test_util.h"

namespace {

using namespace resources_test;

// A 1 x 1 icon: directory, one entry, a PNG image.
std::string IconHex() {
  const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
  std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 32, 0};
  const uint32_t size = sizeof png, offset = 22;
  for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(size >> (8 * i)));
  for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(offset >> (8 * i)));
  ico.insert(ico.end(), std::begin(png), std::end(png));
  std::string hex;
  for (uint8_t b : ico) {
    static const char digits[] = "0123456789abcdef";
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

std::string Lng(const std::string& name, int langId, const std::string& extra = "") {
  return "[File]\r\nName=" + name + "\r\nLangId=" + std::to_string(langId) + "\r\n" + extra;
}

// A dialog fed from a list of language documents.
class TListDialog : public TVelCustomLanguageDialog {
 public:
  explicit TListDialog(std::vector<std::string> documents) : documents_(std::move(documents)) {}
  void Populate(const TLanguageCallback& callback) override {
    for (size_t i = 0; i < documents_.size(); ++i) {
      TVelIniFile document;
      TMemoryStream stream(ToBytes(documents_[i]));
      document.LoadFromStream(stream);
      callback(document, static_cast<int>(i));
    }
  }

 private:
  std::vector<std::string> documents_;
};

std::vector<std::string> Captions(const TVelCustomLanguageDialog& dialog) {
  std::vector<std::string> out;
  for (int i = 0; i < dialog.Count(); ++i) out.push_back(U8(dialog.Items(i).Caption));
  return out;
}

TEST(LangGetInfo, ReadsTheFileSection) {
  TVelIniFile document;
  TMemoryStream stream(
      ToBytes("[File]\r\nAuthor=Someone\r\nLangId=1031\r\nName=Deutsch\r\n"
              "VersionId=7\r\nIcon=" +
              IconHex() + "\r\n"));
  document.LoadFromStream(stream);
  TVelLocalizationInfo info;
  TVelIcon icon;
  LangGetInfo(document, info, &icon);
  EXPECT_EQ(U8(info.Author), "Someone");
  EXPECT_EQ(info.LangID, 1031);
  EXPECT_EQ(U8(info.Name), "Deutsch");
  EXPECT_EQ(info.VersionID, 7);
  EXPECT_FALSE(icon.Empty());

  // Defaults, and an icon that is cleared.
  TVelIniFile empty;
  LangGetInfo(empty, info, &icon);
  EXPECT_EQ(info.LangID, 0);
  EXPECT_EQ(info.VersionID, 0);
  EXPECT_TRUE(info.Name.empty());
  EXPECT_TRUE(icon.Empty());
  LangGetInfo(empty, info, nullptr);
}

TEST(VelIcon, AcceptsOnlyIconDirectories) {
  auto fromHex = [](const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
  };
  const std::vector<uint8_t> good = fromHex(IconHex());
  auto with = [&](size_t at, uint8_t value) {
    auto b = good;
    b[at] = value;
    return b;
  };
  // A bitmap image: a 40-byte header and a little pixel data.
  std::vector<uint8_t> bitmap = {0, 0,  1, 0,  1, 0, 1, 1,  0, 0, 1,
                                 0, 32, 0, 48, 0, 0, 0, 22, 0, 0, 0};
  bitmap.resize(22 + 48, 0);
  bitmap[22] = 40;

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool icon;
  } cases[] = {
      {"png image", good, true},
      {"bitmap image", bitmap, true},
      {"empty", {}, false},
      {"header only", {0, 0, 1, 0, 1, 0}, false},
      {"cursor type", with(2, 2), false},
      {"no images", with(4, 0), false},
      {"image past the end", with(14, 200), false},
      {"image inside the directory", with(18, 6), false},
      {"unknown image data", with(23, 'X'), false},
      {"truncated", std::vector<uint8_t>(good.begin(), good.end() - 1), false},
  };
  for (const Case& c : cases) {
    TVelIcon icon;
    EXPECT_EQ(icon.LoadFromBytes(c.bytes), c.icon) << c.what;
    EXPECT_EQ(icon.Empty(), !c.icon) << c.what;
  }
}

TEST(LanguageDialog, ItemsSortedByNameWithoutCaseKeepingOrderOfEqualNames) {
  TListDialog dialog({Lng("russian", 1049), Lng("English", 1033, "Icon=" + IconHex() + "\r\n"),
                      Lng("Deutsch", 1031, "Icon=00ff\r\n"), Lng("ENGLISH", 2057),
                      "\xEF\xBB\xBF" + Lng("Español", 3082)});
  dialog.Initialize();
  EXPECT_EQ(Captions(dialog),
            (std::vector<std::string>{"Deutsch", "English", "ENGLISH", "Español", "russian"}));
  EXPECT_EQ(dialog.Items(1).Index, 1);
  EXPECT_EQ(dialog.Items(2).Index, 3);
  EXPECT_EQ(dialog.Items(2).LangID, 2057);
  // Only the decodable icon is in the image list.
  ASSERT_EQ(dialog.Images().size(), 1u);
  EXPECT_EQ(dialog.Items(1).ImageIndex, 0);
  EXPECT_EQ(dialog.Items(0).ImageIndex, -1);
  EXPECT_EQ(U8(dialog.Caption()), "Select Language");
}

TEST(LanguageDialog, DefaultByUserLanguageThen1033ThenFirst) {
  const int user = platform::UserDefaultUILanguage();
  const int other = user == 1049 ? 1050 : 1049;
  struct Case {
    const char* what;
    std::vector<std::string> documents;
    int selected;
  } cases[] = {
      {"user language", {Lng("A", other), Lng("B", user), Lng("C", user)}, 1},
      {"then 1033", {Lng("A", other), Lng("B", 1033)}, 1},
      {"then the first by name", {Lng("Z", other), Lng("M", 0)}, 1},
      {"nothing", {}, -1},
  };
  for (const Case& c : cases) {
    if (user == 1033 && std::string(c.what) == "then 1033") continue;
    TListDialog dialog(c.documents);
    dialog.Initialize();
    EXPECT_EQ(dialog.SelectedIndex(), c.selected) << c.what;
  }
  TListDialog dialog({Lng("A", other), Lng("B", other)});
  dialog.Initialize();
  dialog.SetItemIndex(5);
  EXPECT_EQ(dialog.SelectedIndex(), -1);
  dialog.SetItemIndex(1);
  EXPECT_EQ(dialog.SelectedIndex(), 1);
}

#ifndef _WIN32
namespace standin = platform::standin;

// Records that it was shown and picks an item by caption.
class TPickPresenter : public ILanguageDialogPresenter {
 public:
  void ShowModal(TVelCustomLanguageDialog& dialog) override {
    ++shown;
    for (int i = 0; i < dialog.Count(); ++i)
      if (U8(dialog.Items(i).Caption) == pick) dialog.SetItemIndex(i);
  }
  std::string pick;
  int shown = 0;
};

class LanguagesTest : public ResourcesTest {
 protected:
  void TearDown() override {
    SetLanguageDialogPresenter(nullptr);
    ResourcesTest::TearDown();
  }
  void UseLanguages() {
    SetPackages(
        {{u"English.lng", Lng("English", 1033,
                              "[Common]\r\nCaption=$NAME Setup\r\nOnlyEnglish=English only\r\n"
                              "[PageWelcome]\r\nTitle=Welcome\r\n")},
         {u"lang\\Russian.LNG",
          "\xEF\xBB\xBF" +
              Lng("Russian", 1049, "[Common]\r\nCaption=Установка $NAME\r\n[PageNew]\r\nA=b\r\n")},
         {u"German10.lng", Lng("Deutsch", 1031, "Family=DE\r\n[Common]\r\nCaption=X\r\n")},
         {u"German9.lng", Lng("Deutsch", 1031, "Family=DE\r\n[Common]\r\nCaption=Y\r\n")},
         {u"readme.txt", ""}},
        {{u"Install.xml", kScript}, {u"Product.lng", Lng("Product", 1033)}});
  }
};

TEST_F(LanguagesTest, LanguagesOfTheSetupPackageInNaturalOrder) {
  UseLanguages();
  auto res = Create();
  std::vector<std::string> langs;
  for (int i = 0; i < res->Langs().Count(); ++i) langs.push_back(U8(res->Langs().Strings(i)));
  EXPECT_EQ(langs, (std::vector<std::string>{"English.lng", "German9.lng", "German10.lng",
                                             "lang\\Russian.LNG"}));
}

TEST_F(LanguagesTest, ChosenLanguageIsLaidOverEnglish) {
  UseLanguages();
  standin::SetUserDefaultUILanguage(1049);
  auto res = Create();
  res->InitializeLanguages();
  EXPECT_EQ(U8(res->LangName()), "Russian");
  EXPECT_EQ(U8(res->GetText(u"Common", u"Caption")), "Установка Mivo");
  EXPECT_EQ(U8(res->GetText(u"Common", u"OnlyEnglish")), "English only");
  EXPECT_EQ(U8(res->GetText(u"PageWelcome", u"Title")), "Welcome");
  EXPECT_EQ(U8(res->GetText(u"PageNew", u"A")), "b");
  EXPECT_EQ(U8(res->GetText(u"Common", u"Nothing")), "");
  EXPECT_EQ(U8(res->GetLanguageFamily()), "EN");
}

TEST_F(LanguagesTest, AutomaticChoiceNeedsNoDialog) {
  UseLanguages();
  TPickPresenter presenter;
  presenter.pick = "Russian";
  SetLanguageDialogPresenter(&presenter);
  struct Case {
    uint16_t user;
    const char* name;
  } cases[] = {{1049, "Russian"}, {2057, "English"}, {1031, "German9"}};
  for (const Case& c : cases) {
    standin::SetUserDefaultUILanguage(c.user);
    auto res = Create();
    res->InitializeLanguages();
    EXPECT_EQ(U8(res->LangName()), c.name) << c.user;
  }
  EXPECT_EQ(presenter.shown, 0);

  // Without the automatic switch the dialog decides.
  host_.autoRun = false;
  standin::SetUserDefaultUILanguage(1031);
  auto res = Create();
  res->InitializeLanguages();
  EXPECT_EQ(presenter.shown, 1);
  EXPECT_EQ(U8(res->LangName()), "Russian");
  EXPECT_EQ(U8(res->GetLanguageFamily()), "EN");
}

TEST_F(LanguagesTest, FirstByDisplayNameWhenNoIdentifierMatches) {
  SetPackages({{u"English.lng", Lng("English", 0)},
               {u"Alpha.lng", Lng("Zulu", 0)},
               {u"Beta.lng", Lng("Afrikaans", 0, "Family=AF\r\n")}},
              {{u"Install.xml", kScript}});
  auto res = Create();
  res->InitializeLanguages();
  EXPECT_EQ(U8(res->LangName()), "Beta");
  EXPECT_EQ(U8(res->GetLanguageFamily()), "AF");
}

TEST_F(LanguagesTest, WithoutLanguageFilesEnglishIsTakenFromAnyPackage) {
  SetPackages({{u"Readme.txt", ""}},
              {{u"Install.xml", kScript}, {u"English.lng", Lng("English", 1033)}});
  auto res = Create();
  EXPECT_EQ(res->Langs().Count(), 0);
  res->InitializeLanguages();
  EXPECT_EQ(U8(res->LangName()), "English");
}

TEST_F(LanguagesTest, DataPackagesMakeAWorkingSetup) {
  UseDataPackages();
  standin::SetUserDefaultUILanguage(1031);
  auto res = Create();
  res->InitializeLanguages();
  EXPECT_EQ(U8(res->LangName()), "German");
  EXPECT_EQ(U8(res->GetText(u"Common", u"Greeting")), "Willkommen bei Mivo");
  EXPECT_EQ(U8(res->GetText(u"Common", u"OnlyEnglish")), "English only");
  EXPECT_EQ(ReadStream(*res->OpenFile(u"Shared.txt")), "product\n");
  EXPECT_EQ(U8(res->Script().GetSetting(u"ProductName")), "Mivo");
  // Both flags of the data packages are icons.
  TSetupLanguageDialog dialog(*res);
  dialog.Initialize();
  EXPECT_EQ(Captions(dialog), (std::vector<std::string>{"Deutsch", "English"}));
  EXPECT_EQ(dialog.Images().size(), 2u);
}
#endif

}  // namespace
