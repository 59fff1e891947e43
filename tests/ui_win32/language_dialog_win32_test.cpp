// The language dialog's window under Windows: geometry, items, icons, and
// the selection taken however the window is closed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/ini_file.h"
#include "lib/stream.h"
#include "tests/test_util.h"
#include "ui/win32/language_dialog_win32.h"

namespace {

// A 16 x 16 icon holding a PNG image of one colour.
const char kIconHex[] =
    "0000010001001010000001002000510000001600000089504e470d0a1a0a0000000d494844520000"
    "00100000001008060000001ff3ff61000000184944415478da636068f8ff9f223c6ac0a801a3060c"
    "17030081e27e1f516e026c0000000049454e44ae426082";

class TListDialog : public TVelCustomLanguageDialog {
 public:
  explicit TListDialog(std::vector<std::string> documents) : documents_(std::move(documents)) {}
  void Populate(const TLanguageCallback& callback) override {
    for (size_t i = 0; i < documents_.size(); ++i) {
      TVelIniFile document;
      TMemoryStream stream(std::vector<uint8_t>(documents_[i].begin(), documents_[i].end()));
      document.LoadFromStream(stream);
      callback(document, static_cast<int>(i));
    }
  }

 private:
  std::vector<std::string> documents_;
};

std::string Lng(const std::string& name, int langId, const std::string& icon = "") {
  return "[File]\r\nName=" + name + "\r\nLangId=" + std::to_string(langId) + "\r\nIcon=" + icon +
         "\r\n";
}

TEST(LanguageDialogWindow, ShowsTheLanguagesAndTakesTheSelection) {
  TListDialog dialog(
      {Lng("Russian", 1049, kIconHex), Lng("English", 1033, kIconHex), Lng("Deutsch", 1031, "00")});
  dialog.Initialize();
  ASSERT_EQ(dialog.Images().size(), 2u);

  TWin32LanguageDialogPresenter presenter;
  bool shown = false;
  presenter.OnShown = [&](ILanguageDialogWindow& window) {
    shown = true;
    EXPECT_EQ(U8(window.Caption()), "Select Language");
    const int dpi = window.Dpi();
    EXPECT_EQ(window.ClientWidth(), (220 * dpi + 48) / 96);
    EXPECT_EQ(window.ClientHeight(), (75 * dpi + 48) / 96);
    EXPECT_TRUE(window.TopMost());
    EXPECT_FALSE(window.HasBorderIcons());
    ASSERT_EQ(window.ItemCount(), 3);
    EXPECT_EQ(U8(window.ItemText(0)), "Deutsch");
    EXPECT_EQ(U8(window.ItemText(2)), "Russian");
    EXPECT_EQ(window.ItemImage(0), -1);
    EXPECT_GE(window.ItemImage(1), 0);
    EXPECT_EQ(window.ImageCount(), 2);
    // The flags at the screen's DPI, not 16 pixels at every DPI.
    EXPECT_EQ(window.ImageSize(), (16 * dpi + 48) / 96);
    EXPECT_EQ(window.SelectedItem(), dialog.ItemIndex());
    window.Select(2);
    window.PressOk();
  };
  presenter.ShowModal(dialog);
  EXPECT_TRUE(shown);
  EXPECT_EQ(dialog.SelectedIndex(), 0);  // "Russian", the first language given

  // Closed without OK: the selection still counts.
  presenter.OnShown = [&](ILanguageDialogWindow& window) {
    window.Select(0);
    window.Close();
  };
  presenter.ShowModal(dialog);
  EXPECT_EQ(dialog.SelectedIndex(), 2);  // "Deutsch"
}

TEST(LanguageDialogWindow, InstalledPresenterShowsDialogs) {
  InstallWin32LanguageDialog();
  EXPECT_NE(LanguageDialogPresenter(), nullptr);
  SetLanguageDialogPresenter(nullptr);
}

}  // namespace
