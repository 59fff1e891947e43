// The wizard's colours in the light and the dark theme, the rule that picks
// the theme (the user's app mode, else the lightness of the window colour),
// and the colours of the controls, which follow the same flag.
#pragma once

#include <cstdint>

#include "lib/strings.h"

// Colours are 0x00BBGGRR values.
struct TWizardTheme {
  // The frame: the line under the header, the footer, the strip's stripes.
  uint32_t Accent;
  // The strip's background.
  uint32_t Surface;
  // The form's and every page's background.
  uint32_t Background;
  // Title and description in the header; the pages' text.
  uint32_t HeaderText;
  // The version label on the footer.
  uint32_t VersionText;
  // Controls: greyed text (hints, disabled controls).
  uint32_t DisabledText;
  // Buttons: face, face under the mouse, pressed face, border, text; the
  // default button's border.
  uint32_t ButtonFace;
  uint32_t ButtonHot;
  uint32_t ButtonPressed;
  uint32_t ButtonBorder;
  uint32_t ButtonText;
  uint32_t ButtonDefaultBorder;
  uint32_t ButtonDisabledFace;
  // Edits, viewers, check boxes and radio buttons: the field's background,
  // its border, and its border while it has the focus.
  uint32_t FieldBackground;
  uint32_t FieldBorder;
  uint32_t FieldFocusBorder;
  // The mark of a ticked box or a chosen radio button, and what lies on it.
  uint32_t Mark;
  uint32_t MarkGlyph;
  // Links in labels.
  uint32_t Link;
};

const TWizardTheme& WizardTheme(bool dark);
// The theme now in effect: the high-contrast one while high contrast is
// on, else the one of the dark flag.
const TWizardTheme& CurrentWizardTheme();

// The system's colours that a high-contrast theme sets.
struct TSystemColors {
  uint32_t Window;
  uint32_t WindowText;
  uint32_t Highlight;
  uint32_t HighlightText;
  uint32_t ButtonFace;
  uint32_t ButtonText;
  uint32_t GrayText;
  uint32_t HotLight;
  bool operator==(const TSystemColors&) const = default;
};
// The wizard's colours taken from the system's colours alone: window and
// window text for the pages, highlight and highlight text for the frame
// (footer, strip, marks, focus), button face and text, grey text, hot
// light for links.
TWizardTheme HighContrastTheme(const TSystemColors& colors);
// High contrast on with the system's colours, or off; true when the
// wizard's colours change.
bool SetWizardHighContrast(bool on, const TSystemColors& colors);
// While high contrast is on the wizard paints no picture and no explicit
// colour, only the system's colours.
bool WizardHighContrast();
// The colour of a text with an explicit colour (kDefaultTextColor for the
// theme's) on the background, in the theme now in effect.
uint32_t ThemeTextColor(uint32_t color, uint32_t background);

// The HSL lightness of the colour, (largest + smallest component) / 510,
// is below 0.45.
bool IsDarkColor(uint32_t color);

// The theme rule: when the current user's key
// "Software\Microsoft\Windows\CurrentVersion\Themes\Personalize" opens, dark
// when its DWORD "AppsUseLightTheme" is 0 (light when it is missing);
// otherwise dark when the system's window colour is dark.
bool DecideDarkTheme(uint32_t windowColor);
// Decides the theme again and sets the wizard's dark flag; true when the
// flag changed.
bool UpdateWizardTheme(uint32_t windowColor);
// The parameter of a setting change that asks for the theme to be decided
// again ("ImmersiveColorSet").
bool IsThemeSettingChange(StringView parameter);

// The contrast ratio of two colours (1 to 21), as the accessibility
// guidelines compute it from the relative luminance.
double ContrastRatio(uint32_t a, uint32_t b);
// The colour itself when it reads well on the background (4.5:1), else the
// colour mixed towards white (dark background) or black (light background)
// just far enough.
uint32_t ReadableColor(uint32_t color, uint32_t background);
