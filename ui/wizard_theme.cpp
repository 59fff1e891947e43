#include "ui/wizard_theme.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/registry.h"
#include "ui/page_control.h"
#include "ui/setup_pages.h"

namespace {

constexpr TWizardTheme kLight{
    .Accent = 0x338CDE,
    .Surface = 0xFFFFFF,
    .Background = 0xFFFFFF,
    .HeaderText = 0x000000,
    .VersionText = 0xF0F0F0,
    .DisabledText = 0x6D6D6D,
    .ButtonFace = 0xFDFDFD,
    .ButtonHot = 0xE8F3FD,
    .ButtonPressed = 0xC4E0F8,
    .ButtonBorder = 0xC8C8C8,
    .ButtonText = 0x000000,
    .ButtonDefaultBorder = 0x0A50A0,
    .ButtonDisabledFace = 0xEEEEEE,
    .FieldBackground = 0xFFFFFF,
    .FieldBorder = 0x8A8A8A,
    .FieldFocusBorder = 0x105FC0,
    .Mark = 0x105FC0,
    .MarkGlyph = 0xFFFFFF,
    .Link = 0xCC6600,
};

constexpr TWizardTheme kDark{
    .Accent = 0x1C67AC,
    .Surface = 0x2A2A2A,
    .Background = 0x262626,
    .HeaderText = 0xFFFFFF,
    .VersionText = 0xF0F0F0,
    .DisabledText = 0xA0A0A0,
    .ButtonFace = 0x3C3C3C,
    .ButtonHot = 0x4A4A4A,
    .ButtonPressed = 0x303030,
    .ButtonBorder = 0x5C5C5C,
    .ButtonText = 0xFFFFFF,
    .ButtonDefaultBorder = 0x5BA6F5,
    .ButtonDisabledFace = 0x333333,
    .FieldBackground = 0x333333,
    .FieldBorder = 0x8C8C8C,
    .FieldFocusBorder = 0x5BA6F5,
    .Mark = 0x5BA6F5,
    .MarkGlyph = 0x1E1E1E,
    .Link = 0xFFB56C,
};

int Red(uint32_t c) { return static_cast<int>(c & 0xFF); }
int Green(uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
int Blue(uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }

double Channel(int value) {
  const double c = value / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(uint32_t c) {
  return 0.2126 * Channel(Red(c)) + 0.7152 * Channel(Green(c)) + 0.0722 * Channel(Blue(c));
}

uint32_t Mix(uint32_t color, uint32_t target, int percent) {
  auto mix = [&](int a, int b) { return (a * (100 - percent) + b * percent + 50) / 100; };
  return static_cast<uint32_t>(mix(Red(color), Red(target))) |
         (static_cast<uint32_t>(mix(Green(color), Green(target))) << 8) |
         (static_cast<uint32_t>(mix(Blue(color), Blue(target))) << 16);
}

}  // namespace

const TWizardTheme& WizardTheme(bool dark) {
  return dark ? kDark : kLight;
}

namespace {

bool highContrast = false;
TWizardTheme highContrastTheme = kLight;

}  // namespace

const TWizardTheme& CurrentWizardTheme() {
  return highContrast ? highContrastTheme : WizardTheme(WizardDarkTheme());
}

TWizardTheme HighContrastTheme(const TSystemColors& c) {
  return TWizardTheme{
      .Accent = c.Highlight,
      .Surface = c.Window,
      .Background = c.Window,
      .HeaderText = c.WindowText,
      .VersionText = c.HighlightText,
      .DisabledText = c.GrayText,
      .ButtonFace = c.ButtonFace,
      .ButtonHot = c.ButtonFace,
      .ButtonPressed = c.ButtonFace,
      .ButtonBorder = c.ButtonText,
      .ButtonText = c.ButtonText,
      .ButtonDefaultBorder = c.ButtonText,
      .ButtonDisabledFace = c.ButtonFace,
      .FieldBackground = c.Window,
      .FieldBorder = c.WindowText,
      .FieldFocusBorder = c.Highlight,
      .Mark = c.Highlight,
      .MarkGlyph = c.HighlightText,
      .Link = c.HotLight,
  };
}

bool SetWizardHighContrast(bool on, const TSystemColors& colors) {
  const TWizardTheme theme = HighContrastTheme(colors);
  auto same = [](const TWizardTheme& a, const TWizardTheme& b) {
    return memcmp(&a, &b, sizeof(TWizardTheme)) == 0;
  };
  const bool changed = on != highContrast || (on && !same(theme, highContrastTheme));
  highContrast = on;
  if (on) highContrastTheme = theme;
  return changed;
}

bool WizardHighContrast() {
  return highContrast;
}

uint32_t ThemeTextColor(uint32_t color, uint32_t background) {
  const TWizardTheme& theme = CurrentWizardTheme();
  if (color == kDefaultTextColor || highContrast) return theme.HeaderText;
  return ReadableColor(color, background);
}

bool IsDarkColor(uint32_t color) {
  const int largest = std::max({Red(color), Green(color), Blue(color)});
  const int smallest = std::min({Red(color), Green(color), Blue(color)});
  // (largest + smallest) / 510 < 0.45, in integers.
  return (largest + smallest) * 100 < 45 * 510;
}

bool DecideDarkTheme(uint32_t windowColor) {
  platform::TRegKey key;
  if (key.Open(platform::RegRoot::CurrentUser,
               u"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
               platform::kKeyRead) == 0) {
    uint32_t light = 1;
    if (!key.ReadDword(u"AppsUseLightTheme", light)) light = 1;
    return light == 0;
  }
  return IsDarkColor(windowColor);
}

bool UpdateWizardTheme(uint32_t windowColor) {
  const bool dark = DecideDarkTheme(windowColor);
  if (dark == WizardDarkTheme()) return false;
  SetWizardDarkTheme(dark);
  return true;
}

bool IsThemeSettingChange(StringView parameter) {
  return parameter == u"ImmersiveColorSet";
}

double ContrastRatio(uint32_t a, uint32_t b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

uint32_t ReadableColor(uint32_t color, uint32_t background) {
  const uint32_t target = IsDarkColor(background) ? 0xFFFFFF : 0x000000;
  for (int percent = 0; percent <= 100; percent += 5) {
    const uint32_t mixed = Mix(color, target, percent);
    if (ContrastRatio(mixed, background) >= 4.5) return mixed;
  }
  return target;
}
