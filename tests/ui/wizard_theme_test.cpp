// The theme rule and the theme's colours.
#include "ui/wizard_theme.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>

#include "platform/registry.h"
#include "ui/page_control.h"
#include "ui/setup_pages.h"

#ifndef _WIN32
#include "platform/posix/standin.h"
#endif

namespace {

const String kPersonalize = u"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

class WizardThemeTest : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the stand-in's registry only";
#else
    platform::standin::ResetWorld();
#endif
  }
  void TearDown() override {
    SetWizardDarkTheme(false);
    SetWizardHighContrast(false, {});
  }
};

TEST_F(WizardThemeTest, TheUsersAppModeElseTheWindowColour) {
  struct TCase {
    const char* what;
    bool key;
    int appsUseLightTheme;  // -1: no value
    uint32_t windowColor;
    bool dark;
  } cases[] = {
      {"no key, white window", false, -1, 0xFFFFFF, false},
      {"no key, black window", false, -1, 0x000000, true},
      {"no key, dark grey window", false, -1, 0x727272, true},
      {"no key, middle grey window", false, -1, 0x737373, false},
      {"no key, dark blue window", false, -1, 0x800000, true},
      {"apps dark, white window", true, 0, 0xFFFFFF, true},
      {"apps light, black window", true, 1, 0x000000, false},
      {"no value, black window", true, -1, 0x000000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
#ifndef _WIN32
    platform::standin::ResetWorld();
#endif
    if (c.key) {
      platform::TRegKey key;
      ASSERT_EQ(key.Create(platform::RegRoot::CurrentUser, kPersonalize, platform::kKeyAllAccess), 0u);
      if (c.appsUseLightTheme >= 0)
        key.WriteDword(u"AppsUseLightTheme", static_cast<uint32_t>(c.appsUseLightTheme));
    }
    EXPECT_EQ(DecideDarkTheme(c.windowColor), c.dark);
  }
}

TEST_F(WizardThemeTest, UpdateReportsAChange) {
  SetWizardDarkTheme(false);
  EXPECT_FALSE(UpdateWizardTheme(0xFFFFFF));
  EXPECT_TRUE(UpdateWizardTheme(0x202020));
  EXPECT_TRUE(WizardDarkTheme());
  EXPECT_EQ(CurrentWizardTheme().Background, 0x262626u);
  EXPECT_FALSE(UpdateWizardTheme(0x202020));
  EXPECT_TRUE(UpdateWizardTheme(0xF0F0F0));
  EXPECT_FALSE(WizardDarkTheme());
  EXPECT_TRUE(IsThemeSettingChange(u"ImmersiveColorSet"));
  EXPECT_FALSE(IsThemeSettingChange(u"Environment"));
}

TEST_F(WizardThemeTest, FrameColours) {
  const TWizardTheme& dark = WizardTheme(true);
  const TWizardTheme& light = WizardTheme(false);
  EXPECT_EQ(dark.Accent, 0x1C67ACu);
  EXPECT_EQ(light.Accent, 0x338CDEu);
  EXPECT_EQ(dark.Surface, 0x2A2A2Au);
  EXPECT_EQ(light.Surface, 0xFFFFFFu);
  EXPECT_EQ(dark.Background, 0x262626u);
  EXPECT_EQ(light.Background, 0xFFFFFFu);
  EXPECT_EQ(dark.HeaderText, 0xFFFFFFu);
  EXPECT_EQ(light.HeaderText, 0x000000u);
  EXPECT_EQ(dark.VersionText, 0xF0F0F0u);
  EXPECT_EQ(light.VersionText, 0xF0F0F0u);
}

// Every text of the controls reads well on what it is drawn on, in both themes.
TEST_F(WizardThemeTest, ControlTextsHaveContrast) {
  for (const bool isDark : {false, true}) {
    SCOPED_TRACE(isDark ? "dark" : "light");
    const TWizardTheme& t = WizardTheme(isDark);
    EXPECT_GE(ContrastRatio(t.HeaderText, t.Background), 7.0);
    EXPECT_GE(ContrastRatio(t.DisabledText, t.Background), 4.5);
    EXPECT_GE(ContrastRatio(t.DisabledText, t.FieldBackground), 3.0);
    EXPECT_GE(ContrastRatio(t.ButtonText, t.ButtonFace), 7.0);
    EXPECT_GE(ContrastRatio(t.ButtonText, t.ButtonHot), 7.0);
    EXPECT_GE(ContrastRatio(t.ButtonText, t.ButtonPressed), 4.5);
    EXPECT_GE(ContrastRatio(t.HeaderText, t.FieldBackground), 7.0);
    EXPECT_GE(ContrastRatio(t.Link, t.Background), 4.5);
    // Borders and marks of controls: 3:1.
    EXPECT_GE(ContrastRatio(t.FieldBorder, t.Background), 3.0);
    EXPECT_GE(ContrastRatio(t.FieldFocusBorder, t.Background), 3.0);
    EXPECT_GE(ContrastRatio(t.Mark, t.Background), 3.0);
    EXPECT_GE(ContrastRatio(t.MarkGlyph, t.Mark), 3.0);
    EXPECT_GE(ContrastRatio(t.ButtonDefaultBorder, t.ButtonFace), 3.0);
  }
}

// The system's colours of a white-on-black and a black-on-white high
// contrast theme.
constexpr TSystemColors kHighContrastBlack{.Window = 0x000000, .WindowText = 0xFFFFFF,
                                           .Highlight = 0xFFEB1A, .HighlightText = 0x000000,
                                           .ButtonFace = 0x000000, .ButtonText = 0xFFFFFF,
                                           .GrayText = 0x3FF23F, .HotLight = 0x00FFFF};
constexpr TSystemColors kHighContrastWhite{.Window = 0xFFFFFF, .WindowText = 0x000000,
                                           .Highlight = 0x6E0037, .HighlightText = 0xFFFFFF,
                                           .ButtonFace = 0xFFFFFF, .ButtonText = 0x000000,
                                           .GrayText = 0x000060, .HotLight = 0x9F0000};

// With high contrast on, every colour the wizard paints is one of the
// system's: each text lies on the background the system pairs it with.
TEST_F(WizardThemeTest, HighContrastTakesTheSystemsColours) {
  for (const TSystemColors& c : {kHighContrastBlack, kHighContrastWhite}) {
    const TWizardTheme t = HighContrastTheme(c);
    const std::pair<uint32_t, uint32_t> pairs[] = {
        {t.HeaderText, c.WindowText},     {t.Background, c.Window},
        {t.Surface, c.Window},            {t.FieldBackground, c.Window},
        {t.FieldBorder, c.WindowText},    {t.DisabledText, c.GrayText},
        {t.Link, c.HotLight},             {t.Accent, c.Highlight},
        {t.VersionText, c.HighlightText}, {t.Mark, c.Highlight},
        {t.MarkGlyph, c.HighlightText},   {t.FieldFocusBorder, c.Highlight},
        {t.ButtonFace, c.ButtonFace},     {t.ButtonHot, c.ButtonFace},
        {t.ButtonPressed, c.ButtonFace},  {t.ButtonDisabledFace, c.ButtonFace},
        {t.ButtonText, c.ButtonText},     {t.ButtonBorder, c.ButtonText},
        {t.ButtonDefaultBorder, c.ButtonText},
    };
    for (size_t i = 0; i < std::size(pairs); ++i)
      EXPECT_EQ(pairs[i].first, pairs[i].second) << "colour " << i;
  }
}

TEST_F(WizardThemeTest, HighContrastSwitchesTheCurrentTheme) {
  SetWizardDarkTheme(true);
  EXPECT_FALSE(SetWizardHighContrast(false, kHighContrastBlack));
  EXPECT_EQ(CurrentWizardTheme().Background, WizardTheme(true).Background);
  // An explicit text colour is kept readable without high contrast ...
  EXPECT_NE(ThemeTextColor(0x0000FF, 0x262626), CurrentWizardTheme().HeaderText);
  EXPECT_TRUE(SetWizardHighContrast(true, kHighContrastBlack));
  EXPECT_TRUE(WizardHighContrast());
  EXPECT_EQ(CurrentWizardTheme().Background, 0x000000u);
  // ... and becomes the window text with it.
  EXPECT_EQ(ThemeTextColor(0x0000FF, 0x000000), 0xFFFFFFu);
  EXPECT_EQ(ThemeTextColor(kDefaultTextColor, 0x000000), 0xFFFFFFu);
  // The same colours again change nothing; other colours do.
  EXPECT_FALSE(SetWizardHighContrast(true, kHighContrastBlack));
  EXPECT_TRUE(SetWizardHighContrast(true, kHighContrastWhite));
  EXPECT_EQ(CurrentWizardTheme().Background, 0xFFFFFFu);
  EXPECT_TRUE(SetWizardHighContrast(false, kHighContrastWhite));
  EXPECT_EQ(CurrentWizardTheme().Background, WizardTheme(true).Background);
}

TEST_F(WizardThemeTest, ReadableColor) {
  EXPECT_NEAR(ContrastRatio(0xFFFFFF, 0x000000), 21.0, 0.01);
  EXPECT_EQ(IsDarkColor(0x262626), true);
  // Good enough as it is.
  EXPECT_EQ(ReadableColor(0xCC6600, 0xFFFFFF), 0xCC6600u);
  EXPECT_EQ(ReadableColor(0xFFFFFF, 0x262626), 0xFFFFFFu);
  // Red and a dark blue on the dark background are lightened.
  for (const uint32_t color : {0x0000FFu, 0xCC6600u, 0x262626u}) {
    const uint32_t readable = ReadableColor(color, 0x262626);
    EXPECT_NE(readable, color);
    EXPECT_GE(ContrastRatio(readable, 0x262626), 4.5) << std::hex << color;
  }
  // A pale colour on white is darkened.
  EXPECT_GE(ContrastRatio(ReadableColor(0xF0F0F0, 0xFFFFFF), 0xFFFFFF), 4.5);
}

}  // namespace
