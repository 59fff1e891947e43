// Controls the wizard paints itself so that they follow its light or dark
// theme: push buttons, check boxes, radio buttons, labels, warning lines and
// progress bars keep their standard classes (state, keyboard, messages)
// and only their painting is replaced. Also the folder chooser of the
// destination page and the window frame's dark mode.
#pragma once

#include <windows.h>

#include <cstdint>

#include "lib/strings.h"

enum class TOwnPaintKind : uint8_t {
  Button,         // a push button on the page
  FooterButton,   // a push button on the footer
  DefaultButton,  // the footer's default button
  CheckBox,
  RadioButton,
  Label,
  Link,
  Warning,  // warning icon and bold text
  Progress,
  Formatted,  // wrapping text with inline links <a href="target">text</a>;
              // the window's text is the text without the markup
};

// What the painting needs beyond the window's own state.
struct TOwnPaint {
  TOwnPaintKind Kind = TOwnPaintKind::Label;
  // An explicit text colour (0x00BBGGRR), or the theme's when it has the
  // high byte set.
  uint32_t Color = 0xFF000000u;
  bool Wrap = false;
  bool Centered = false;
  int Dpi = 96;
};

// Takes over the painting of the window; the settings stay with it until
// it is destroyed.
void PaintOwnControl(HWND window, const TOwnPaint& paint);
// The window's settings (null for windows painted by the system).
TOwnPaint* OwnPaintOf(HWND window);

// The height a wrapping label, link or warning needs for its text at the
// given width (pixels).
int OwnTextHeight(HWND window, int width);

// The target of the link of a formatted text that the user activated last
// (a click, or Space on the focused link); the control then sends
// STN_CLICKED to its parent.
String OwnActivatedLink(HWND window);

// The access key of a caption: the letter after a single "&", upper case;
// 0 when there is none. "&&" stands for an ampersand.
wchar_t AccessKeyOf(const wchar_t* caption);
// A typed character as it is compared with access keys.
wchar_t UpperKey(wchar_t key);
// Underlines the access keys of buttons, check boxes and radio buttons from
// now on (after Alt was pressed; from the start when the system's keyboard
// cues are on) and repaints the controls of the process.
void ShowAccessKeys();
bool AccessKeysShown();

// Tells screen readers what the window's class does not: its name where
// the window's text is not (an edit or a viewer named by its label, or by
// its page), and a role of its own (a label that is a link), through the
// accessibility runtime's annotation of the window (Dynamic Annotation).
// An empty name or a role of 0 leaves that property to the class. Needs
// COM on the thread; where the runtime offers no annotation (Wine) the
// class's properties stay.
void AnnotateAccessible(HWND window, const String& name, long role);
// Removes the window's annotations (before it is destroyed).
void ClearAccessibleAnnotation(HWND window);

// A one-pixel frame around the rectangle.
void FrameRectColor(HDC dc, const RECT& r, uint32_t color);

// The scroll bars (and where supported the frame) of a window in the
// theme's mode.
void ApplyWindowTheme(HWND window, bool dark);
// The title bar of a top-level window in the theme's mode, where the system
// offers it.
void ApplyFrameTheme(HWND window, bool dark);

// The modal folder chooser: starts at the nearest existing folder of start,
// offers a new folder, carries the texts of the language; true with the
// chosen folder.
bool BrowseForFolder(HWND owner, const String& start, const String& title,
                     const String& newFolder, const String& ok, const String& cancel,
                     String& chosen);
