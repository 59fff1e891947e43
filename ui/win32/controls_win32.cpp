#include "ui/win32/controls_win32.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "ui/setup_pages.h"
#include "ui/wizard_theme.h"

namespace {

constexpr UINT_PTR kSubclassId = 0x4D56;  // one subclass per window
// The window property that holds the painting state.
constexpr wchar_t kStateProperty[] = L"MivoOwnPaint";

const wchar_t* W(const String& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::wstring Wide(const String& s) {
  return std::wstring(s.begin(), s.end());
}

// A formatted text in pieces, in the window's characters.
struct TRun {
  std::wstring text;
  std::wstring target;
  int link = -1;  // the index of the link, -1 for plain text
};

std::vector<TRun> ParseFormatted(const std::wstring& text) {
  std::vector<TRun> runs;
  for (const TFormattedRun& run : ParseFormattedText(String(text.begin(), text.end())))
    runs.push_back({Wide(run.Text), Wide(run.Target), run.Link});
  return runs;
}

struct TOwnState {
  TOwnPaint paint;
  bool hot = false;
  // Formatted texts: where each link's words lie, the focused link and
  // the link activated last.
  std::vector<std::pair<int, RECT>> linkRects;
  std::vector<std::wstring> linkTargets;
  int focusedLink = 0;
  std::wstring activated;
  // A formatted text with its links; the window's text is the text as it
  // reads (what screen readers take as the name).
  std::wstring markup;
  HFONT bold = nullptr;
  HFONT boldOf = nullptr;  // the font the bold one was made from
  ~TOwnState() {
    if (bold) DeleteObject(bold);
  }
};

int Scale(int v, int dpi) {
  return MulDiv(v, dpi, 96);
}

void Fill(HDC dc, const RECT& r, uint32_t color) {
  SetDCBrushColor(dc, color);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

HFONT FontOf(HWND window) {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HFONT TextFont(HWND window, TOwnState& state) {
  HFONT font = FontOf(window);
  if (state.paint.Kind != TOwnPaintKind::Warning) return font;
  if (state.bold && state.boldOf == font) return state.bold;
  if (state.bold) DeleteObject(state.bold);
  LOGFONTW log{};
  GetObjectW(font, sizeof(log), &log);
  log.lfWeight = FW_BOLD;
  state.bold = CreateFontIndirectW(&log);
  state.boldOf = font;
  return state.bold;
}

std::wstring TextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

// The colour of a text in the theme: disabled texts are greyed, explicit
// colours are kept readable on the background.
uint32_t TextColor(const TOwnPaint& paint, bool enabled, uint32_t background) {
  const TWizardTheme& theme = CurrentWizardTheme();
  if (!enabled) return theme.DisabledText;
  if (paint.Kind == TOwnPaintKind::Link) return theme.Link;
  return ThemeTextColor((paint.Color & 0xFF000000u) ? kDefaultTextColor : paint.Color, background);
}

void DottedFrame(HDC dc, RECT r, uint32_t color) {
  // Every other pixel, so that the cue shows on any background.
  for (int x = r.left; x < r.right; x += 2) {
    SetPixelV(dc, x, r.top, color);
    SetPixelV(dc, x, r.bottom - 1, color);
  }
  for (int y = r.top; y < r.bottom; y += 2) {
    SetPixelV(dc, r.left, y, color);
    SetPixelV(dc, r.right - 1, y, color);
  }
}

// The icon of a warning line, at the size of the DPI.
HICON WarningIcon(int size) {
  HICON icon = nullptr;
  using TLoad = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static auto load = reinterpret_cast<TLoad>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  if (load && SUCCEEDED(load(nullptr, MAKEINTRESOURCEW(32515) /* IDI_WARNING */, size, size, &icon)))
    return icon;
  return static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(32515), IMAGE_ICON, size, size,
                                       LR_SHARED));
}

int IconSize(int dpi) {
  return Scale(16, dpi);
}
int IconGap(int dpi) {
  return Scale(6, dpi);
}

UINT TextFormat(const TOwnPaint& paint) {
  UINT format = DT_NOPREFIX;
  if (paint.Wrap || paint.Kind == TOwnPaintKind::Warning)
    format |= DT_WORDBREAK;
  else
    format |= DT_SINGLELINE | DT_END_ELLIPSIS;
  if (paint.Centered) format |= DT_CENTER;
  return format;
}

void PaintText(HWND window, HDC dc, TOwnState& state, const RECT& client) {
  const TOwnPaint& paint = state.paint;
  const TWizardTheme& theme = CurrentWizardTheme();
  Fill(dc, client, theme.Background);
  RECT text = client;
  if (paint.Kind == TOwnPaintKind::Warning) {
    const int size = IconSize(paint.Dpi);
    if (HICON icon = WarningIcon(size)) {
      DrawIconEx(dc, client.left, client.top + Scale(1, paint.Dpi), icon, size, size, 0, nullptr,
                 DI_NORMAL);
      DestroyIcon(icon);
    }
    text.left += size + IconGap(paint.Dpi);
  }
  SelectObject(dc, TextFont(window, state));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TextColor(paint, IsWindowEnabled(window) != FALSE, theme.Background));
  const std::wstring caption = TextOf(window);
  DrawTextW(dc, caption.c_str(), -1, &text, TextFormat(paint));
  if (paint.Kind == TOwnPaintKind::Link && GetFocus() == window) DottedFrame(dc, client, theme.HeaderText);
}

// Lays the runs out word by word within the width; with a DC to paint on,
// draws them. Returns the height used and fills the links' rectangles.
int LayoutFormatted(HWND window, HDC dc, TOwnState& state, const RECT& client, bool draw) {
  const TWizardTheme& theme = CurrentWizardTheme();
  const std::vector<TRun> runs = ParseFormatted(state.markup);
  HFONT font = FontOf(window);
  LOGFONTW log{};
  GetObjectW(font, sizeof(log), &log);
  log.lfUnderline = TRUE;
  HFONT underlined = CreateFontIndirectW(&log);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int line = metrics.tmHeight;
  const bool enabled = IsWindowEnabled(window) != FALSE;
  state.linkRects.clear();
  state.linkTargets.clear();
  int x = client.left, y = client.top;
  SetBkMode(dc, TRANSPARENT);
  for (const TRun& run : runs) {
    if (run.link >= 0) state.linkTargets.push_back(run.target);
    SelectObject(dc, run.link >= 0 ? underlined : font);
    SetTextColor(dc, !enabled ? theme.DisabledText : run.link >= 0 ? theme.Link : theme.HeaderText);
    size_t i = 0;
    while (i < run.text.size()) {
      // A word with the spaces after it.
      size_t end = run.text.find(L' ', i);
      end = end == std::wstring::npos ? run.text.size() : run.text.find_first_not_of(L' ', end);
      if (end == std::wstring::npos) end = run.text.size();
      const std::wstring word = run.text.substr(i, end - i);
      SIZE size{};
      GetTextExtentPoint32W(dc, word.c_str(), static_cast<int>(word.size()), &size);
      const std::wstring trimmed = word.substr(0, word.find_last_not_of(L' ') + 1);
      SIZE trimmedSize{};
      GetTextExtentPoint32W(dc, trimmed.c_str(), static_cast<int>(trimmed.size()), &trimmedSize);
      if (x > client.left && x + trimmedSize.cx > client.right) {
        x = client.left;
        y += line;
      }
      if (draw) TextOutW(dc, x, y, trimmed.c_str(), static_cast<int>(trimmed.size()));
      if (run.link >= 0) state.linkRects.push_back({run.link, {x, y, x + trimmedSize.cx, y + line}});
      x += size.cx;
      i = end;
    }
  }
  SelectObject(dc, old);
  DeleteObject(underlined);
  if (draw && GetFocus() == window) {
    for (const auto& [link, r] : state.linkRects)
      if (link == state.focusedLink) DottedFrame(dc, r, theme.HeaderText);
  }
  return y + line - client.top;
}

void PaintFormatted(HWND window, HDC dc, TOwnState& state, const RECT& client) {
  Fill(dc, client, CurrentWizardTheme().Background);
  LayoutFormatted(window, dc, state, client, true);
}

void Activate(HWND window, TOwnState& state, int link) {
  if (link < 0 || link >= static_cast<int>(state.linkTargets.size())) return;
  state.activated = state.linkTargets[static_cast<size_t>(link)];
  SendMessageW(GetParent(window), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(window), STN_CLICKED), reinterpret_cast<LPARAM>(window));
}

bool accessKeysShown = false;
bool accessKeysDecided = false;

// DrawText's flags for a caption with an access key.
UINT PrefixFormat() {
  return AccessKeysShown() ? 0 : DT_HIDEPREFIX;
}

void PaintPushButton(HWND window, HDC dc, TOwnState& state, const RECT& client) {
  const TOwnPaint& paint = state.paint;
  const TWizardTheme& theme = CurrentWizardTheme();
  const bool onFooter = paint.Kind != TOwnPaintKind::Button;
  Fill(dc, client, onFooter ? theme.Accent : theme.Background);
  const bool enabled = IsWindowEnabled(window) != FALSE;
  const bool pressed = (SendMessageW(window, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
  uint32_t face = theme.ButtonFace;
  if (!enabled)
    face = theme.ButtonDisabledFace;
  else if (pressed)
    face = theme.ButtonPressed;
  else if (state.hot)
    face = theme.ButtonHot;
  const int radius = Scale(4, paint.Dpi);
  const bool isDefault = paint.Kind == TOwnPaintKind::DefaultButton && enabled;
  const int border = isDefault ? std::max(2, Scale(2, paint.Dpi)) : 1;
  SetDCBrushColor(dc, face);
  SetDCPenColor(dc, isDefault ? theme.ButtonDefaultBorder : theme.ButtonBorder);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HPEN pen = CreatePen(PS_INSIDEFRAME, border, isDefault ? theme.ButtonDefaultBorder : theme.ButtonBorder);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  RoundRect(dc, client.left, client.top, client.right, client.bottom, radius * 2, radius * 2);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pen);
  SelectObject(dc, FontOf(window));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, enabled ? theme.ButtonText : theme.DisabledText);
  RECT text = client;
  const std::wstring caption = TextOf(window);
  DrawTextW(dc, caption.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | PrefixFormat());
  if (GetFocus() == window) {
    RECT cue = client;
    InflateRect(&cue, -(border + Scale(2, paint.Dpi)), -(border + Scale(2, paint.Dpi)));
    DottedFrame(dc, cue, theme.ButtonText);
  }
}

void PaintCheck(HWND window, HDC dc, TOwnState& state, const RECT& client) {
  const TOwnPaint& paint = state.paint;
  const TWizardTheme& theme = CurrentWizardTheme();
  Fill(dc, client, theme.Background);
  const bool enabled = IsWindowEnabled(window) != FALSE;
  const bool checked = SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
  const bool radio = paint.Kind == TOwnPaintKind::RadioButton;
  HFONT font = FontOf(window);
  SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int size = Scale(13, paint.Dpi);
  const int lineHeight = std::min<int>(metrics.tmHeight, client.bottom - client.top);
  const int top = client.top + (lineHeight - size) / 2 + ((client.bottom - client.top) - lineHeight) / 2;
  RECT box{client.left, top, client.left + size, top + size};
  const uint32_t border = !enabled ? theme.DisabledText : checked ? theme.Mark : theme.FieldBorder;
  const uint32_t fill = checked && !radio ? (enabled ? theme.Mark : theme.DisabledText) : theme.FieldBackground;
  SetDCBrushColor(dc, fill);
  SetDCPenColor(dc, border);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
  if (radio) {
    Ellipse(dc, box.left, box.top, box.right, box.bottom);
    if (checked) {
      const int inset = (size * 4 + 6) / 13;
      SetDCBrushColor(dc, enabled ? theme.Mark : theme.DisabledText);
      SetDCPenColor(dc, enabled ? theme.Mark : theme.DisabledText);
      Ellipse(dc, box.left + inset, box.top + inset, box.right - inset, box.bottom - inset);
    }
  } else {
    const int radius = Scale(2, paint.Dpi);
    RoundRect(dc, box.left, box.top, box.right, box.bottom, radius * 2, radius * 2);
    if (checked) {
      HPEN tick = CreatePen(PS_SOLID, std::max(1, Scale(2, paint.Dpi)), theme.MarkGlyph);
      SelectObject(dc, tick);
      POINT points[3] = {{box.left + size * 3 / 13, box.top + size * 7 / 13},
                         {box.left + size * 11 / 26, box.top + size * 19 / 26},
                         {box.left + size * 10 / 13, box.top + size * 4 / 13}};
      Polyline(dc, points, 3);
      SelectObject(dc, GetStockObject(DC_PEN));
      DeleteObject(tick);
    }
  }
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TextColor(paint, enabled, theme.Background));
  const std::wstring caption = TextOf(window);
  RECT text{box.right + Scale(6, paint.Dpi), client.top, client.right, client.bottom};
  RECT measured = text;
  DrawTextW(dc, caption.c_str(), -1, &measured, DT_CALCRECT | DT_SINGLELINE | PrefixFormat());
  const int height = measured.bottom - measured.top;
  text.top = client.top + ((client.bottom - client.top) - height) / 2;
  text.bottom = text.top + height;
  DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | PrefixFormat() | DT_END_ELLIPSIS);
  if (GetFocus() == window) {
    RECT cue{text.left - 2, std::max<LONG>(client.top, text.top - 1),
             std::min<LONG>(client.right, text.left + (measured.right - measured.left) + 2),
             std::min<LONG>(client.bottom, text.bottom + 1)};
    DottedFrame(dc, cue, theme.HeaderText);
  }
}

void PaintProgress(HWND window, HDC dc, TOwnState&, const RECT& client) {
  const TWizardTheme& theme = CurrentWizardTheme();
  Fill(dc, client, theme.FieldBackground);
  FrameRectColor(dc, client, theme.FieldBorder);
  PBRANGE range{};
  SendMessageW(window, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int position = static_cast<int>(SendMessageW(window, PBM_GETPOS, 0, 0));
  const int span = range.iHigh - range.iLow;
  if (span <= 0) return;
  RECT inner = client;
  InflateRect(&inner, -2, -2);
  const int width = inner.right - inner.left;
  const int filled = MulDiv(std::clamp(position - range.iLow, 0, span), width, span);
  Fill(dc, {inner.left, inner.top, inner.left + filled, inner.bottom}, theme.Accent);
}

void Paint(HWND window, TOwnState& state) {
  PAINTSTRUCT ps;
  HDC target = BeginPaint(window, &ps);
  RECT client{};
  GetClientRect(window, &client);
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom));
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldFont = SelectObject(dc, FontOf(window));
  switch (state.paint.Kind) {
    case TOwnPaintKind::Button:
    case TOwnPaintKind::FooterButton:
    case TOwnPaintKind::DefaultButton:
      PaintPushButton(window, dc, state, client);
      break;
    case TOwnPaintKind::CheckBox:
    case TOwnPaintKind::RadioButton:
      PaintCheck(window, dc, state, client);
      break;
    case TOwnPaintKind::Progress:
      PaintProgress(window, dc, state, client);
      break;
    case TOwnPaintKind::Formatted:
      PaintFormatted(window, dc, state, client);
      break;
    default:
      PaintText(window, dc, state, client);
      break;
  }
  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EndPaint(window, &ps);
}

void Repaint(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
}

LRESULT OwnPaintHandle(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DWORD_PTR data);

// Nothing raised while a control paints or reacts crosses into the system.
LRESULT CALLBACK OwnPaintProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR data) {
  try {
    return OwnPaintHandle(window, msg, wParam, lParam, data);
  } catch (...) {
    return msg == WM_NCDESTROY ? 0 : DefSubclassProc(window, msg, wParam, lParam);
  }
}

LRESULT OwnPaintHandle(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DWORD_PTR data) {
  auto* state = reinterpret_cast<TOwnState*>(data);
  switch (msg) {
    case WM_PAINT:
      Paint(window, *state);
      return 0;
    case WM_PRINTCLIENT:
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY: {
      RemoveWindowSubclass(window, &OwnPaintProc, kSubclassId);
      RemovePropW(window, kStateProperty);
      delete state;
      return DefSubclassProc(window, msg, wParam, lParam);
    }
    case WM_MOUSEMOVE:
      if (!state->hot) {
        state->hot = true;
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        InvalidateRect(window, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      state->hot = false;
      InvalidateRect(window, nullptr, FALSE);
      break;
    default:
      break;
  }
  if (state->paint.Kind == TOwnPaintKind::Formatted) {
    switch (msg) {
      case WM_SETTEXT: {
        state->markup = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        const std::wstring plain =
            Wide(FormattedPlainText(String(state->markup.begin(), state->markup.end())));
        const LRESULT result =
            DefSubclassProc(window, msg, wParam, reinterpret_cast<LPARAM>(plain.c_str()));
        if (IsWindowVisible(window)) Repaint(window);
        return result;
      }
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
      case WM_SETCURSOR: {
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(window, &p);
        for (const auto& [link, r] : state->linkRects)
          if (PtInRect(&r, p)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
          }
        break;
      }
      case WM_LBUTTONUP: {
        const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        for (const auto& [link, r] : state->linkRects)
          if (PtInRect(&r, p)) {
            state->focusedLink = link;
            Activate(window, *state, link);
            break;
          }
        return 0;
      }
      case WM_LBUTTONDOWN:
        SetFocus(window);
        return 0;
      case WM_KEYDOWN:
        // The arrows move between the links; Space opens the focused one.
        if (wParam == VK_LEFT || wParam == VK_UP || wParam == VK_RIGHT || wParam == VK_DOWN) {
          const int count = static_cast<int>(state->linkTargets.size());
          if (count > 0) {
            const int step = wParam == VK_LEFT || wParam == VK_UP ? count - 1 : 1;
            state->focusedLink = (state->focusedLink + step) % count;
            Repaint(window);
          }
          return 0;
        }
        break;
      case WM_CHAR:
        if (wParam == L' ') Activate(window, *state, state->focusedLink);
        return 0;
      default:
        break;
    }
  }
  switch (msg) {
    // The system's controls paint at once on these; the own painting
    // follows immediately.
    case BM_SETCHECK:
    case BM_SETSTATE:
    case BM_SETSTYLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CAPTURECHANGED:
    case WM_UPDATEUISTATE:
    case PBM_SETPOS:
    case PBM_DELTAPOS:
    case PBM_STEPIT: {
      const LRESULT result = DefSubclassProc(window, msg, wParam, lParam);
      if (IsWindowVisible(window)) Repaint(window);
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(window, msg, wParam, lParam);
}

}  // namespace

void PaintOwnControl(HWND window, const TOwnPaint& paint) {
  if (TOwnPaint* existing = OwnPaintOf(window)) {
    *existing = paint;
    InvalidateRect(window, nullptr, FALSE);
    return;
  }
  auto state = std::make_unique<TOwnState>();
  state->paint = paint;
  if (!SetPropW(window, kStateProperty, state.get())) return;
  if (SetWindowSubclass(window, &OwnPaintProc, kSubclassId, reinterpret_cast<DWORD_PTR>(state.get())))
    state.release();
  else
    RemovePropW(window, kStateProperty);
}

TOwnPaint* OwnPaintOf(HWND window) {
  auto* state = static_cast<TOwnState*>(GetPropW(window, kStateProperty));
  return state ? &state->paint : nullptr;
}

int OwnTextHeight(HWND window, int width) {
  auto* found = static_cast<TOwnState*>(GetPropW(window, kStateProperty));
  if (!found) return 0;
  auto& state = *found;
  if (state.paint.Kind == TOwnPaintKind::Formatted) {
    HDC dc = GetDC(window);
    const int height = LayoutFormatted(window, dc, state, {0, 0, width, 0}, false);
    ReleaseDC(window, dc);
    return height;
  }
  if (state.paint.Kind == TOwnPaintKind::Warning)
    width -= IconSize(state.paint.Dpi) + IconGap(state.paint.Dpi);
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, TextFont(window, state));
  RECT text{0, 0, std::max(1, width), 0};
  const std::wstring caption = TextOf(window);
  DrawTextW(dc, caption.c_str(), -1, &text, DT_CALCRECT | (TextFormat(state.paint) & ~DT_END_ELLIPSIS));
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  int height = text.bottom;
  if (state.paint.Kind == TOwnPaintKind::Warning)
    height = std::max(height, IconSize(state.paint.Dpi) + Scale(2, state.paint.Dpi));
  return height;
}

String OwnActivatedLink(HWND window) {
  auto* state = static_cast<TOwnState*>(GetPropW(window, kStateProperty));
  if (!state) return String();
  return String(state->activated.begin(), state->activated.end());
}

wchar_t AccessKeyOf(const wchar_t* caption) {
  for (const wchar_t* c = caption; c && *c; ++c) {
    if (*c != L'&') continue;
    if (c[1] == L'&') {
      ++c;
      continue;
    }
    return c[1] ? UpperKey(c[1]) : 0;
  }
  return 0;
}

wchar_t UpperKey(wchar_t key) {
  wchar_t text[2] = {key, 0};
  CharUpperW(text);
  return text[0];
}

bool AccessKeysShown() {
  if (!accessKeysDecided) {
    accessKeysDecided = true;
    BOOL cues = FALSE;
    if (SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0) && cues) accessKeysShown = true;
  }
  return accessKeysShown;
}

void ShowAccessKeys() {
  if (AccessKeysShown()) return;
  accessKeysShown = true;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM) -> BOOL {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return TRUE;
      },
      0);
}

namespace {

// The runtime's identifiers (the import libraries hand out thunks or
// nothing for them).
constexpr CLSID kAccPropServices = {0xB5F8350B, 0x0548, 0x48B1, {0xA6, 0xEE, 0x88, 0xBD, 0x00, 0xB4, 0xA5, 0xE7}};
constexpr IID kIAccPropServices = {0x6E26E776, 0x04F0, 0x495D, {0x80, 0xE4, 0x33, 0x30, 0x35, 0x2E, 0x31, 0x69}};
constexpr GUID kPropName = {0x608D3DF8, 0x8128, 0x4AA7, {0xA4, 0x28, 0xF5, 0x5E, 0x49, 0x26, 0x72, 0x91}};
constexpr GUID kPropRole = {0xCB905FF2, 0x7BD1, 0x4C05, {0xB3, 0xC8, 0xE6, 0xC2, 0x41, 0x36, 0x4D, 0x70}};

IAccPropServices* PropServices() {
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIAccPropServices,
                              reinterpret_cast<void**>(&services))))
    return nullptr;
  return services;
}

}  // namespace

void AnnotateAccessible(HWND window, const String& name, long role) {
  if (!window || (name.empty() && role == 0)) return;
  IAccPropServices* services = PropServices();
  if (!services) return;
  const DWORD object = static_cast<DWORD>(OBJID_CLIENT);
  if (!name.empty()) services->SetHwndPropStr(window, object, CHILDID_SELF, kPropName, W(name));
  if (role != 0) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = role;
    services->SetHwndProp(window, object, CHILDID_SELF, kPropRole, value);
  }
  services->Release();
}

void ClearAccessibleAnnotation(HWND window) {
  if (!window) return;
  IAccPropServices* services = PropServices();
  if (!services) return;
  const MSAAPROPID props[] = {kPropName, kPropRole};
  services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, props, 2);
  services->Release();
}

void FrameRectColor(HDC dc, const RECT& r, uint32_t color) {
  Fill(dc, {r.left, r.top, r.right, r.top + 1}, color);
  Fill(dc, {r.left, r.bottom - 1, r.right, r.bottom}, color);
  Fill(dc, {r.left, r.top, r.left + 1, r.bottom}, color);
  Fill(dc, {r.right - 1, r.top, r.right, r.bottom}, color);
}

void ApplyWindowTheme(HWND window, bool dark) {
  // uxtheme.dll is not a known system library: imported, it would be looked
  // for beside the program first (a Downloads folder), so it is loaded from
  // the system folder only.
  using TSet = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  static HMODULE uxtheme = LoadLibraryExW(L"uxtheme.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!uxtheme) return;
  static auto set = reinterpret_cast<TSet>(
      reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")));
  if (!set) return;
  set(window, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
}

void ApplyFrameTheme(HWND window, bool dark) {
  // DWMWA_USE_IMMERSIVE_DARK_MODE (Windows 10 20H1 and later); elsewhere
  // the call fails and the frame stays as it is.
  using TSet = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  static HMODULE dwm = LoadLibraryExW(L"dwmapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dwm) return;
  static auto set = reinterpret_cast<TSet>(
      reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
  if (!set) return;
  const BOOL value = dark ? TRUE : FALSE;
  set(window, 20, &value, sizeof(value));
}

namespace {

struct TBrowseTexts {
  String start, title, newFolder, ok, cancel;
};

int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM, LPARAM data) {
  if (msg != BFFM_INITIALIZED) return 0;
  const auto& texts = *reinterpret_cast<const TBrowseTexts*>(data);
  if (!texts.title.empty()) SetWindowTextW(dialog, W(texts.title));
  if (!texts.ok.empty()) SetDlgItemTextW(dialog, IDOK, W(texts.ok));
  if (!texts.cancel.empty()) SetDlgItemTextW(dialog, IDCANCEL, W(texts.cancel));
  // The "Make New Folder" button of the dialog.
  if (!texts.newFolder.empty()) SetDlgItemTextW(dialog, 0x3746, W(texts.newFolder));
  if (!texts.start.empty())
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(W(texts.start)));
  return 0;
}

}  // namespace

bool BrowseForFolder(HWND owner, const String& start, const String& title, const String& newFolder,
                     const String& ok, const String& cancel, String& chosen) {
  TBrowseTexts texts{start, title, newFolder, ok, cancel};
  // The destination need not exist yet: start at its nearest existing folder.
  String folder = ExcludeTrailingBackslash(start);
  while (!folder.empty() && !platform::DirectoryExists(folder)) {
    const size_t slash = folder.find_last_of(u'\\');
    folder = slash == String::npos ? String() : folder.substr(0, slash);
  }
  if (folder.size() == 2 && folder[1] == u':') folder += u'\\';
  texts.start = folder;
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = W(texts.title);
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = &BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&texts);
  PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info);
  if (!list) return false;
  wchar_t path[MAX_PATH] = {};
  const bool found = SHGetPathFromIDListW(list, path) != FALSE;
  CoTaskMemFree(list);
  if (!found || !path[0]) return false;
  chosen = String(reinterpret_cast<const char16_t*>(path));
  return true;
}
