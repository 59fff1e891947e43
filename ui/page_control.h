// The controls of wizard pages as plain objects: what a control shows
// (bounds at 96 DPI, text, visibility, check state, position, colour) lives
// here, free of any toolkit. A toolkit binding attaches a peer that mirrors
// every change into a real window, and reports the user's clicks back
// through Click().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "lib/strings.h"

// A rectangle in pixels at 96 DPI: left, top, width, height.
struct TWizardRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  bool operator==(const TWizardRect&) const = default;
};

enum class TPageControlKind : uint8_t {
  Label,        // static text; Wrap: word-wrapped and aligned to the top
  CheckBox,
  RadioButton,
  ProgressBar,  // 0..100
  Viewer,       // read-only rich text with a vertical scroll bar
  ErrorList,    // read-only multi-line text with a vertical scroll bar
  Link,         // a label that opens LinkTarget with the shell when clicked
  PathEdit,     // single-line edit with one embedded button (ButtonText)
  Warning,      // a warning line: icon and bold text, kept at its bottom edge
  Formatted,    // a label with inline links: <a href="target">text</a>
};

// What changed, for the peer.
enum class TPageControlChange : uint8_t { Text, Visible, Enabled, Checked, Position, Color, Focus };

// The colour of the theme's text (no colour of its own).
constexpr uint32_t kDefaultTextColor = 0xFF000000u;

class TPageControl;

class IPageControlPeer {
 public:
  virtual ~IPageControlPeer() = default;
  virtual void Changed(TPageControl& control, TPageControlChange change) = 0;
};

class TPageControl {
 public:
  TPageControl(TPageControlKind kind, TWizardRect bounds, String name)
      : kind_(kind), bounds_(bounds), name_(std::move(name)) {}
  TPageControl(const TPageControl&) = delete;
  TPageControl& operator=(const TPageControl&) = delete;

  TPageControlKind Kind() const { return kind_; }
  const TWizardRect& Bounds() const { return bounds_; }
  // Before the page is shown (layout of a derived page).
  void SetBounds(TWizardRect bounds) { bounds_ = bounds; }
  // The language key of the caption; empty for controls without one.
  const String& Name() const { return name_; }
  // Labels, check boxes, radio buttons and links carry a caption.
  bool HasCaption() const;

  const String& Text() const { return text_; }
  void SetText(StringView text);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  int Position() const { return position_; }
  void SetPosition(int position);
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t color);
  // Asks the peer to give the control the input focus.
  void Focus();

  // Viewer content: an RTF document (RichText true) or plain text, in Text.
  bool RichText() const { return richText_; }
  void LoadRichText(StringView rtf);
  void SetPlainText(StringView text);

  // Text layout: word wrap (labels); font size in points, 0 for the default.
  bool Wrap = false;
  int FontSize = 0;
  bool Centered = false;
  String LinkTarget;
  // The label that names the control for screen readers: edits, viewers
  // and progress bars show no caption of their own.
  const TPageControl* Label = nullptr;

  // Called by the binding when the user clicks: a check box toggles (a
  // radio button becomes checked), then OnClick runs.
  void Click();
  std::function<void()> OnClick;

  // An edit's text as the user typed it: stored without being sent back to
  // the peer, then OnChange runs.
  void Edited(StringView text);
  std::function<void()> OnChange;
  // The embedded button of a path edit: its caption, its width at 96 DPI,
  // and what a click on it does.
  String ButtonText;
  int ButtonWidth = 0;
  std::function<void()> OnButtonClick;

  IPageControlPeer* Peer() const { return peer_; }
  void SetPeer(IPageControlPeer* peer) { peer_ = peer; }

 private:
  void Notify(TPageControlChange change) {
    if (peer_) peer_->Changed(*this, change);
  }

  TPageControlKind kind_;
  TWizardRect bounds_;
  String name_;
  String text_;
  bool visible_ = true;
  bool enabled_ = true;
  bool checked_ = false;
  bool richText_ = false;
  int position_ = 0;
  uint32_t color_ = kDefaultTextColor;
  IPageControlPeer* peer_ = nullptr;
};

// A formatted text in pieces: plain text, or a link with its target.
struct TFormattedRun {
  String Text;
  String Target;
  int Link = -1;  // the index of the link, -1 for plain text
  bool operator==(const TFormattedRun&) const = default;
};
// The runs of a formatted text (<a href="target">text</a>; a link without
// href takes its text as the target; an unclosed tag stays text).
std::vector<TFormattedRun> ParseFormattedText(StringView text);
// The text as it reads, without the markup.
String FormattedPlainText(StringView text);

// The link target of a viewer's link text: the text itself when it holds
// "//" or names an existing folder, else "https://" and the text.
String ViewerLinkTarget(StringView link);
