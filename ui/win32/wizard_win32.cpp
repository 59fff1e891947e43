#include "ui/win32/wizard_win32.h"

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>
#include <richedit.h>
#include <shobjidl.h>

// The resources have a LoadImage of their own.
#undef LoadImage

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/setup.h"
#include "lib/exceptions.h"
#include "platform/setup_helpers.h"
#include "platform/spawn_service.h"
#include "ui/product_pages.h"
#include "ui/win32/controls_win32.h"
#include "ui/wizard_accessibility.h"
#include "ui/wizard_form.h"
#include "ui/wizard_theme.h"

namespace {

constexpr wchar_t kFormClass[] = L"TWizardForm";
constexpr wchar_t kPageClass[] = L"TSetupPage";
constexpr int kBackId = 1001;
constexpr int kNextId = 1002;
constexpr int kFirstControlId = 2000;
constexpr UINT kDeferredMessage = WM_APP + 2;

const TWizardTheme& Theme() {
  return CurrentWizardTheme();
}

const wchar_t* W(const String& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

RECT ToRect(const TWizardRect& r) {
  return {r.Left, r.Top, r.Right(), r.Bottom()};
}

void Fill(HDC dc, const RECT& r, COLORREF color) {
  SetDCBrushColor(dc, color);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// The image's pixels laid over a background colour (images with
// transparent parts on a plain page).
TSetupImage OverBackground(const TSetupImage& image, uint32_t background) {
  TSetupImage result = image;
  const uint8_t back[3] = {static_cast<uint8_t>((background >> 16) & 0xFF),
                           static_cast<uint8_t>((background >> 8) & 0xFF),
                           static_cast<uint8_t>(background & 0xFF)};  // B, G, R
  for (size_t i = 0; i + 3 < result.Pixels.size(); i += 4) {
    const int alpha = result.Pixels[i + 3];
    for (int c = 0; c < 3; ++c)
      result.Pixels[i + c] = static_cast<uint8_t>(
          (result.Pixels[i + c] * alpha + back[c] * (255 - alpha) + 127) / 255);
    result.Pixels[i + 3] = 255;
  }
  return result;
}

void DrawImage(HDC dc, const TSetupImage& image, const RECT& target) {
  if (image.Width == 0 || image.Height == 0) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(image.Width);
  info.bmiHeader.biHeight = -static_cast<LONG>(image.Height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchDIBits(dc, target.left, target.top, target.right - target.left,
                target.bottom - target.top, 0, 0, static_cast<int>(image.Width),
                static_cast<int>(image.Height), image.Pixels.data(), &info, DIB_RGB_COLORS,
                SRCCOPY);
}

// Runs a reaction to the user or the system; no error escapes into the
// system's callback. Before the run an error is shown in the error box;
// during the run it joins the run's errors and stops the run.
void Protect(HWND owner, const std::function<void()>& reaction) {
  if (Setup && Setup->State() != TSetupState::Idle) {
    GuardWizardReaction(reaction);
    return;
  }
  try {
    reaction();
  } catch (const Exception& e) {
    MessageBoxW(owner, W(e.Message()), L"Setup", MB_ICONERROR);
  } catch (const std::exception& e) {
    MessageBoxW(owner, W(Utf8ToUtf16(e.what())), L"Setup", MB_ICONERROR);
  } catch (...) {
    MessageBoxW(owner, L"Unknown error", L"Setup", MB_ICONERROR);
  }
}

// Opens a link the person chose as the interactive user, never with this
// process's rights: through the first process, or the desktop shell.
void OpenAsUser(const String& target) {
  TSetupSpawnService::Spawn(target);
}

HMODULE RichEditLibrary();

// The mirror of one page control.
class TControlPeer : public IPageControlPeer {
 public:
  TControlPeer(TPageControl& control, HWND window, HWND button = nullptr)
      : control_(control), window_(window), button_(button) {
    control.SetPeer(this);
  }
  ~TControlPeer() override { control_.SetPeer(nullptr); }

  void Changed(TPageControl& control, TPageControlChange change) override;
  void ApplyAll();

  TPageControl& Control() { return control_; }
  const TPageControl& Control() const { return control_; }
  HWND Window() const { return window_; }
  // The embedded button of a path edit.
  HWND Button() const { return button_; }
  // True while the peer itself sets the edit's text.
  bool Applying() const { return applying_; }
  // The rectangle of the frame the page draws around an edit or a viewer,
  // in the page's client coordinates; empty for other controls.
  RECT Frame() const;
  void SetFrame(const RECT& frame) { frame_ = frame; }
  // The theme's colours for controls the system paints (viewers, edits).
  void ApplyTheme();

 private:
  void ApplyText();
  void FitLabel();

  TPageControl& control_;
  HWND window_;
  HWND button_;
  bool applying_ = false;
  RECT frame_{};
  int maxHeight_ = 0;
  int bottom_ = 0;
};

RECT TControlPeer::Frame() const {
  if (!control_.Visible()) return {};
  return frame_;
}

void TControlPeer::ApplyTheme() {
  const TWizardTheme& theme = Theme();
  const TPageControlKind kind = control_.Kind();
  if (kind == TPageControlKind::Viewer || kind == TPageControlKind::ErrorList)
    ApplyWindowTheme(window_, WizardDarkTheme());
  if (kind == TPageControlKind::Viewer && RichEditLibrary()) {
    SendMessageW(window_, EM_SETBKGNDCOLOR, 0, theme.FieldBackground);
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_COLOR;
    format.crTextColor = theme.HeaderText;
    SendMessageW(window_, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    SendMessageW(window_, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
  }
  InvalidateRect(window_, nullptr, TRUE);
  if (button_) InvalidateRect(button_, nullptr, FALSE);
}

void TControlPeer::ApplyText() {
  if (control_.Kind() == TPageControlKind::Viewer && control_.RichText()) {
    struct TSource {
      std::string bytes;
      size_t offset = 0;
    } source;
    for (char16_t c : control_.Text()) source.bytes.push_back(static_cast<char>(c & 0xFF));
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = [](DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) -> DWORD {
      auto* s = reinterpret_cast<TSource*>(cookie);
      const size_t n = std::min(static_cast<size_t>(size), s->bytes.size() - s->offset);
      memcpy(buffer, s->bytes.data() + s->offset, n);
      s->offset += n;
      *read = static_cast<LONG>(n);
      return 0;
    };
    SendMessageW(window_, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    ApplyTheme();
    return;
  }
  applying_ = true;
  SetWindowTextW(window_, W(control_.Text()));
  applying_ = false;
  const TPageControlKind kind = control_.Kind();
  if (kind == TPageControlKind::Label || kind == TPageControlKind::Warning) FitLabel();
  if (kind == TPageControlKind::Viewer) ApplyTheme();
}

// A label is only as tall as its text (at most its rectangle), so that a
// label never covers a neighbour that its rectangle overlaps.
// A warning line keeps its bottom edge instead (it is docked to the
// bottom of the page).
void TControlPeer::FitLabel() {
  RECT bounds{};
  GetWindowRect(window_, &bounds);
  MapWindowPoints(nullptr, GetParent(window_), reinterpret_cast<POINT*>(&bounds), 2);
  if (maxHeight_ == 0) {
    maxHeight_ = bounds.bottom - bounds.top;
    bottom_ = bounds.bottom;
  }
  const int width = bounds.right - bounds.left;
  const int height = std::min<int>(maxHeight_, std::max<int>(OwnTextHeight(window_, width), 1));
  const int top = control_.Kind() == TPageControlKind::Warning ? bottom_ - height : bounds.top;
  SetWindowPos(window_, nullptr, bounds.left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, FALSE);
}

void TControlPeer::Changed(TPageControl&, TPageControlChange change) {
  switch (change) {
    case TPageControlChange::Text:
      ApplyText();
      break;
    case TPageControlChange::Visible:
      ShowWindow(window_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      if (button_) ShowWindow(button_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      InvalidateRect(GetParent(window_), nullptr, FALSE);
      break;
    case TPageControlChange::Enabled:
      EnableWindow(window_, control_.Enabled());
      if (button_) EnableWindow(button_, control_.Enabled());
      break;
    case TPageControlChange::Checked:
      SendMessageW(window_, BM_SETCHECK, control_.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TPageControlChange::Position:
      SendMessageW(window_, PBM_SETPOS, static_cast<WPARAM>(control_.Position()), 0);
      break;
    case TPageControlChange::Color:
      if (TOwnPaint* paint = OwnPaintOf(window_)) paint->Color = control_.Color();
      InvalidateRect(window_, nullptr, TRUE);
      break;
    case TPageControlChange::Focus:
      if (IsWindowVisible(window_)) SetFocus(window_);
      break;
  }
}

void TControlPeer::ApplyAll() {
  if (button_) SetWindowTextW(button_, W(control_.ButtonText));
  ApplyText();
  Changed(control_, TPageControlChange::Checked);
  Changed(control_, TPageControlChange::Position);
  EnableWindow(window_, control_.Enabled());
}

// The property of a page's window that names the page's kind ("PageSetup")
// as a global atom, for tools that look at the wizard; the window's text is
// what a person reads as the page's caption.
constexpr wchar_t kPageKindProperty[] = L"MivoPageKind";

struct TPagePeer : TSetupCustomPage::TPeer {
  ~TPagePeer() override {
    for (const auto& control : controls) ClearAccessibleAnnotation(control->Window());
    controls.clear();
    if (window) {
      if (const auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(RemovePropW(window, kPageKindProperty))))
        GlobalDeleteAtom(atom);
      DestroyWindow(window);
    }
  }
  HWND window = nullptr;
  // Where the form placed the page (96 DPI).
  TWizardRect bounds;
  std::vector<std::unique_ptr<TControlPeer>> controls;

  TControlPeer* Find(const TPageControl* control) const {
    for (const auto& c : controls)
      if (&c->Control() == control) return c.get();
    return nullptr;
  }
};

class TWin32WizardWindow : public IWizardWindow {
 public:
  TWin32WizardWindow();
  ~TWin32WizardWindow() override;

  // Builds the pages and shows the first one (the run of an automatic
  // installation starts here).
  void CreateForm();
  void Run();

  // IWizardWindow
  void SetCaption(const String& text) override { SetWindowTextW(window_, W(text)); }
  String Caption() const override {
    wchar_t text[512] = {};
    GetWindowTextW(window_, text, 512);
    return String(reinterpret_cast<const char16_t*>(text));
  }
  void SetBackCaption(const String& text) override { SetWindowTextW(back_, W(text)); }
  void SetNextCaption(const String& text) override { SetWindowTextW(next_, W(text)); }
  void SetVersionText(const String& text) override { SetWindowTextW(version_, W(text)); }
  void SetBackVisible(bool visible) override { ShowWindow(back_, visible ? SW_SHOWNA : SW_HIDE); }
  void SetNextEnabled(bool enabled) override { EnableWindow(next_, enabled); }
  void ShowPage(TSetupCustomPage& page, const TWizardRect& bounds) override;
  void HidePage(TSetupCustomPage& page) override;
  void FocusNextWhenNoFocus() override;
  void AnnouncePage(TSetupCustomPage& page) override;
  void DisableCloseCommand() override {
    EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
  }
  bool CloseCommandDisabled() const {
    const UINT state = GetMenuState(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & (MF_DISABLED | MF_GRAYED)) != 0;
  }
  void Close() override { PostMessageW(window_, WM_CLOSE, 0, 0); }
  int Ask(const String& text, const String& caption, uint32_t flags) override {
    return MessageBoxW(window_, W(text), W(caption), flags);
  }
  void SetTaskbarProgress(int value, int maximum, TTaskbarState state) override;
  void Repaint() override { InvalidateRect(window_, nullptr, FALSE); }
  void Defer(std::function<void()> call) override {
    PostMessageW(window_, kDeferredMessage, 0,
                 reinterpret_cast<LPARAM>(new std::function<void()>(std::move(call))));
  }

 private:
  static LRESULT CALLBACK FormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleForm(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandlePage(TSetupCustomPage& page, HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc);
  void PaintPage(TSetupCustomPage& page, HWND window, HDC dc);
  HFONT Font(int points);
  TPagePeer& CreatePageWindow(TSetupCustomPage& page, const TWizardRect& bounds);
  // Names the page's controls that show no caption of their own and gives
  // links their role, for screen readers (see DescribePage).
  void Annotate(TSetupCustomPage& page, TPagePeer& peer);
  // The control's window; a path edit's button goes to button.
  // The control's window; a path edit's button goes to button, the frame
  // the page draws around an edit or a viewer to frame.
  HWND CreateControlWindow(HWND parent, TPageControl& control, int id, HWND& button, RECT& frame);
  void CreateBrushes();
  // The system's app mode or colours changed: decide the theme again and
  // repaint everything in it.
  void ThemeChanged();
  // The window moved to a screen of another DPI: fonts and layout anew.
  void DpiChanged(int dpi, const RECT& suggested);
  void PlaceFooter();
  bool BrowseFolder(const String& start, String& chosen);
  void PumpMessages();
  // The wizard's keyboard, before a message is dispatched: Tab and
  // Shift+Tab through the page's controls and the footer's buttons in
  // reading order, Enter for the focused push button or else the default
  // button (Ctrl+Enter in a viewer), Escape for the close question as
  // Alt+F4, the arrows within a group of radio buttons, access keys with
  // and without Alt. True when the message was used up.
  bool Keyboard(const MSG& msg);
  // The controls that take the focus with Tab, in reading order: the active
  // page's (a group of radio buttons as one stop, its checked button), then
  // Back and Next.
  std::vector<HWND> TabOrder() const;
  TControlPeer* PeerOf(HWND window) const;
  void MoveFocus(bool forward);
  void MoveInRadioGroup(HWND radio, bool forward);
  void FocusControl(HWND target);
  // The first control of the active page that takes the focus, else Next
  // (or Back).
  void FocusFirstControl();
  // Presses a button as a click does.
  void Press(HWND button);
  bool PressAccessKey(wchar_t key);

  HWND window_ = nullptr;
  HWND back_ = nullptr;
  HWND next_ = nullptr;
  HWND version_ = nullptr;
  TWizardLayout layout_;
  TWizardProgressLayout strip_;
  std::unique_ptr<TSetupImage> headerLight_;
  std::unique_ptr<TSetupImage> headerDark_;
  std::map<int, HFONT> fonts_;
  ITaskbarList3* taskbar_ = nullptr;
  HBRUSH accentBrush_ = nullptr;
  HBRUSH backgroundBrush_ = nullptr;
  HBRUSH fieldBrush_ = nullptr;
  std::unique_ptr<TWizardForm> form_;
  std::map<HWND, TSetupCustomPage*> pageOfWindow_;
  // The control that had the focus when the window was deactivated.
  HWND lastFocus_ = nullptr;
  // The control that had the focus when the last page was hidden.
  HWND focusWhenHidden_ = nullptr;
  bool coInitialized_ = false;
};

// The system's high-contrast flag: SPI_GETHIGHCONTRAST, or where the
// system does not keep it there (Wine), the user's setting it is stored in.
bool SystemHighContrast() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
      (contrast.dwFlags & HCF_HIGHCONTRASTON))
    return true;
  wchar_t flags[32] = {};
  DWORD size = sizeof(flags);
  if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags",
                   RRF_RT_REG_SZ, nullptr, flags, &size) != ERROR_SUCCESS)
    return false;
  return (_wtoi(flags) & HCF_HIGHCONTRASTON) != 0;
}

bool UpdateHighContrast() {
  const TSystemColors colors{
      .Window = GetSysColor(COLOR_WINDOW),
      .WindowText = GetSysColor(COLOR_WINDOWTEXT),
      .Highlight = GetSysColor(COLOR_HIGHLIGHT),
      .HighlightText = GetSysColor(COLOR_HIGHLIGHTTEXT),
      .ButtonFace = GetSysColor(COLOR_BTNFACE),
      .ButtonText = GetSysColor(COLOR_BTNTEXT),
      .GrayText = GetSysColor(COLOR_GRAYTEXT),
      .HotLight = GetSysColor(COLOR_HOTLIGHT),
  };
  return SetWizardHighContrast(SystemHighContrast(), colors);
}

HMODULE RichEditLibrary() {
  static HMODULE library = LoadLibraryExW(L"msftedit.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return library;
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  WNDCLASSEXW form{};
  form.cbSize = sizeof(form);
  form.lpfnWndProc = DefWindowProcW;
  form.hInstance = GetModuleHandleW(nullptr);
  form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  form.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  form.lpszClassName = kFormClass;
  RegisterClassExW(&form);
  WNDCLASSEXW page = form;
  page.hIcon = nullptr;
  page.lpszClassName = kPageClass;
  RegisterClassExW(&page);
}

TWin32WizardWindow::TWin32WizardWindow() {
  RegisterClasses();
  RichEditLibrary();
  coInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  headerLight_ = Setup->Resources().LoadImage(u"header.png");
  headerDark_ = Setup->Resources().LoadImage(u"header_dark.png");

  const int dpi = static_cast<int>(GetDpiForSystem());
  layout_.SetDpi(dpi);
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_CONTROLPARENT;
  const TWizardRect client = layout_.Client();
  RECT frame{0, 0, client.Width, client.Height};
  AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  window_ = CreateWindowExW(exStyle, kFormClass, L"", style,
                            work.left + (work.right - work.left - width) / 2,
                            work.top + (work.bottom - work.top - height) / 2, width, height,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) throw EInstallerGeneralError(u"Cannot create the wizard window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormProc));
  const int actual = static_cast<int>(GetDpiForWindow(window_));
  if (actual != dpi && actual > 0) layout_.SetDpi(actual);

  auto button = [&](int id, DWORD extra, TOwnPaintKind kind) {
    HWND h = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | extra, 0, 0, 0,
                             0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    TOwnPaint paint;
    paint.Kind = kind;
    PaintOwnControl(h, paint);
    return h;
  };
  back_ = button(kBackId, BS_PUSHBUTTON, TOwnPaintKind::FooterButton);
  next_ = button(kNextId, BS_DEFPUSHBUTTON, TOwnPaintKind::DefaultButton);
  version_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE,
                             0, 0, 0, 0, window_, nullptr, GetModuleHandleW(nullptr), nullptr);
  PlaceFooter();
  CreateBrushes();
  ApplyFrameTheme(window_, WizardDarkTheme());

  if (coInitialized_ &&
      SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar_)))) {
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
}

void TWin32WizardWindow::PlaceFooter() {
  auto place = [&](HWND h, const TWizardRect& r) {
    SetWindowPos(h, nullptr, r.Left, r.Top, r.Width, r.Height, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font(9)), TRUE);
    if (TOwnPaint* paint = OwnPaintOf(h)) paint->Dpi = layout_.Dpi();
  };
  place(back_, layout_.BackButton());
  place(next_, layout_.NextButton());
  place(version_, layout_.VersionLabel());
}

void TWin32WizardWindow::CreateBrushes() {
  for (HBRUSH* brush : {&accentBrush_, &backgroundBrush_, &fieldBrush_})
    if (*brush) DeleteObject(*brush);
  accentBrush_ = CreateSolidBrush(Theme().Accent);
  backgroundBrush_ = CreateSolidBrush(Theme().Background);
  fieldBrush_ = CreateSolidBrush(Theme().FieldBackground);
}

void TWin32WizardWindow::CreateForm() {
  SetPageMessagePump([this] { PumpMessages(); });
  SetFolderBrowser([this](const String& start, String& chosen) { return BrowseFolder(start, chosen); });
  form_ = std::make_unique<TWizardForm>(*this);
}

bool TWin32WizardWindow::BrowseFolder(const String& start, String& chosen) {
  TSetupResources& texts = Setup->Resources();
  return BrowseForFolder(window_, start, texts.GetText(u"Common", u"lBrowse"),
                         texts.GetText(u"Common", u"lNewFolder"), texts.GetText(u"Common", u"lOk"),
                         texts.GetText(u"Common", u"lCancel"), chosen);
}

void TWin32WizardWindow::ThemeChanged() {
  const bool dark = UpdateWizardTheme(GetSysColor(COLOR_WINDOW));
  if (!UpdateHighContrast() && !dark) return;
  CreateBrushes();
  ApplyFrameTheme(window_, WizardDarkTheme());
  if (form_) {
    for (int i = 0; i < form_->Pages().Count(); ++i)
      if (auto* peer = dynamic_cast<TPagePeer*>(form_->Pages().Items(i)->Peer.get()))
        for (auto& control : peer->controls) control->ApplyTheme();
  }
  RedrawWindow(window_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TWin32WizardWindow::DpiChanged(int dpi, const RECT& suggested) {
  if (dpi <= 0) return;
  layout_.SetDpi(dpi);
  // The pages' windows are built again at the new DPI: the active one now
  // (with the focus on the same control), the others when they are shown.
  TSetupCustomPage* active = form_ ? form_->ActivePage() : nullptr;
  TWizardRect activeBounds;
  int focused = -1;
  bool focusOnButton = false;
  if (form_) {
    for (int i = 0; i < form_->Pages().Count(); ++i) {
      TSetupCustomPage& page = *form_->Pages().Items(i);
      auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
      if (!peer) continue;
      if (&page == active) {
        activeBounds = peer->bounds;
        HWND focus = GetFocus();
        for (size_t c = 0; c < peer->controls.size(); ++c)
          if (peer->controls[c]->Window() == focus || peer->controls[c]->Button() == focus) {
            focused = static_cast<int>(c);
            focusOnButton = peer->controls[c]->Button() == focus;
          }
      }
      page.Peer.reset();
    }
  }
  std::map<int, HFONT> oldFonts;
  oldFonts.swap(fonts_);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceFooter();
  if (active) {
    ShowPage(*active, activeBounds);
    auto* peer = dynamic_cast<TPagePeer*>(active->Peer.get());
    if (peer && focused >= 0 && focused < static_cast<int>(peer->controls.size())) {
      const TControlPeer& control = *peer->controls[static_cast<size_t>(focused)];
      SetFocus(focusOnButton ? control.Button() : control.Window());
    }
  }
  for (auto& [size, font] : oldFonts) DeleteObject(font);
  InvalidateRect(window_, nullptr, FALSE);
}

TWin32WizardWindow::~TWin32WizardWindow() {
  SetPageMessagePump(nullptr);
  // The form first: it asks the controller to start the chosen programs,
  // then its pages (and with them their windows) go.
  form_.reset();
  if (window_) DestroyWindow(window_);
  for (auto& [size, font] : fonts_) DeleteObject(font);
  if (accentBrush_) DeleteObject(accentBrush_);
  if (backgroundBrush_) DeleteObject(backgroundBrush_);
  if (fieldBrush_) DeleteObject(fieldBrush_);
  SetFolderBrowser(nullptr);
  if (taskbar_) taskbar_->Release();
  if (coInitialized_) CoUninitialize();
}

HFONT TWin32WizardWindow::Font(int points) {
  auto it = fonts_.find(points);
  if (it != fonts_.end()) return it->second;
  LOGFONTW font{};
  font.lfHeight = -MulDiv(points, layout_.Dpi(), 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  wcscpy(font.lfFaceName, L"Segoe UI");
  HFONT handle = CreateFontIndirectW(&font);
  fonts_[points] = handle;
  return handle;
}

void TWin32WizardWindow::Run() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  MSG msg;
  FocusFirstControl();
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!Keyboard(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

void TWin32WizardWindow::PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (!Keyboard(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

namespace {

bool HasClass(HWND window, const wchar_t* name) {
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  return lstrcmpiW(cls, name) == 0;
}

// The kind of a BUTTON window (BS_PUSHBUTTON, BS_CHECKBOX, ...), or -1.
LONG ButtonType(HWND window) {
  if (!window || !HasClass(window, L"Button")) return -1;
  return GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
}

bool IsRadio(HWND window) {
  const LONG type = ButtonType(window);
  return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

bool IsPushButton(HWND window) {
  const LONG type = ButtonType(window);
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// Radio buttons count whatever their WS_TABSTOP says: the system gives it
// to the checked one of a group only.
bool TakesFocus(HWND window) {
  return window && IsWindowVisible(window) && IsWindowEnabled(window) &&
         ((GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP) != 0 || IsRadio(window));
}

bool KeyDown(int key) {
  return (GetKeyState(key) & 0x8000) != 0;
}

}  // namespace

TControlPeer* TWin32WizardWindow::PeerOf(HWND window) const {
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  auto* peer = page ? dynamic_cast<TPagePeer*>(page->Peer.get()) : nullptr;
  if (!peer || !window) return nullptr;
  for (const auto& control : peer->controls)
    if (control->Window() == window || control->Button() == window) return control.get();
  return nullptr;
}

std::vector<HWND> TWin32WizardWindow::TabOrder() const {
  std::vector<HWND> order;
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  if (auto* peer = page ? dynamic_cast<TPagePeer*>(page->Peer.get()) : nullptr) {
    // Reading order: by the rows of the page, then from left to right; an
    // edit's button after its edit.
    std::vector<const TControlPeer*> controls;
    for (const auto& control : peer->controls) {
      // A formatted text takes the focus only for its links.
      if (control->Control().Kind() == TPageControlKind::Formatted &&
          control->Control().Text().find(u"<a") == String::npos)
        continue;
      controls.push_back(control.get());
    }
    std::stable_sort(controls.begin(), controls.end(),
                     [](const TControlPeer* a, const TControlPeer* b) {
                       const TWizardRect& ra = a->Control().Bounds();
                       const TWizardRect& rb = b->Control().Bounds();
                       return ra.Top != rb.Top ? ra.Top < rb.Top : ra.Left < rb.Left;
                     });
    std::vector<HWND> windows;
    for (const TControlPeer* control : controls)
      for (HWND h : {control->Window(), control->Button()})
        if (TakesFocus(h)) windows.push_back(h);
    for (size_t i = 0; i < windows.size();) {
      if (!IsRadio(windows[i])) {
        order.push_back(windows[i++]);
        continue;
      }
      HWND chosen = windows[i];
      for (; i < windows.size() && IsRadio(windows[i]); ++i)
        if (SendMessageW(windows[i], BM_GETCHECK, 0, 0) == BST_CHECKED) chosen = windows[i];
      order.push_back(chosen);
    }
  }
  for (HWND h : {back_, next_})
    if (TakesFocus(h)) order.push_back(h);
  return order;
}

void TWin32WizardWindow::FocusControl(HWND target) {
  if (!target) return;
  HWND previous = GetFocus();
  SetFocus(target);
  if (HasClass(target, L"Edit") && !(GetWindowLongW(target, GWL_STYLE) & ES_MULTILINE))
    SendMessageW(target, EM_SETSEL, 0, -1);
  // The page draws the frames of edits and viewers in the focus colour.
  for (HWND h : {previous, target})
    if (h && IsChild(window_, h)) InvalidateRect(GetParent(h), nullptr, FALSE);
}

void TWin32WizardWindow::MoveFocus(bool forward) {
  const std::vector<HWND> order = TabOrder();
  if (order.empty()) return;
  HWND focus = GetFocus();
  auto at = std::find(order.begin(), order.end(), focus);
  if (at == order.end() && IsRadio(focus)) {
    // An unchecked button of a group: the group's stop.
    at = std::find_if(order.begin(), order.end(), [](HWND h) { return IsRadio(h); });
  }
  const int count = static_cast<int>(order.size());
  int index = at == order.end() ? (forward ? -1 : count) : static_cast<int>(at - order.begin());
  index = (index + (forward ? 1 : -1) + count) % count;
  FocusControl(order[static_cast<size_t>(index)]);
}

void TWin32WizardWindow::MoveInRadioGroup(HWND radio, bool forward) {
  // The group: the radio buttons of the page that follow each other in
  // reading order, the focused one among them.
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  auto* peer = page ? dynamic_cast<TPagePeer*>(page->Peer.get()) : nullptr;
  if (!peer) return;
  std::vector<const TControlPeer*> controls;
  for (const auto& control : peer->controls)
    if (TakesFocus(control->Window())) controls.push_back(control.get());
  std::stable_sort(controls.begin(), controls.end(), [](const TControlPeer* a, const TControlPeer* b) {
    return a->Control().Bounds().Top < b->Control().Bounds().Top;
  });
  std::vector<HWND> group;
  bool found = false;
  for (const TControlPeer* control : controls) {
    if (!IsRadio(control->Window())) {
      if (found) break;
      group.clear();
      continue;
    }
    group.push_back(control->Window());
    if (control->Window() == radio) found = true;
  }
  if (!found || group.size() < 2) return;
  const auto at = std::find(group.begin(), group.end(), radio);
  const int count = static_cast<int>(group.size());
  const int index = (static_cast<int>(at - group.begin()) + (forward ? 1 : -1) + count) % count;
  HWND target = group[static_cast<size_t>(index)];
  FocusControl(target);
  Press(target);
}

void TWin32WizardWindow::FocusFirstControl() {
  for (HWND h : TabOrder())
    if (h != back_ && h != next_) {
      FocusControl(h);
      return;
    }
  FocusNextWhenNoFocus();
}

void TWin32WizardWindow::Press(HWND button) {
  if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return;
  SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

bool TWin32WizardWindow::PressAccessKey(wchar_t key) {
  const wchar_t wanted = UpperKey(key);
  if (!wanted) return false;
  std::vector<HWND> candidates;
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  if (auto* peer = page ? dynamic_cast<TPagePeer*>(page->Peer.get()) : nullptr)
    for (const auto& control : peer->controls)
      for (HWND h : {control->Window(), control->Button()})
        if (ButtonType(h) >= 0) candidates.push_back(h);
  candidates.push_back(back_);
  candidates.push_back(next_);
  for (HWND h : candidates) {
    if (!h || !IsWindowVisible(h) || !IsWindowEnabled(h)) continue;
    wchar_t text[512] = {};
    GetWindowTextW(h, text, 512);
    if (AccessKeyOf(text) != wanted) continue;
    ShowAccessKeys();
    if (h != back_ && h != next_) FocusControl(h);
    Press(h);
    return true;
  }
  return false;
}

bool TWin32WizardWindow::Keyboard(const MSG& msg) {
  if (!window_ || !msg.hwnd || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd))) return false;
  const bool repeated = (msg.lParam & (1 << 30)) != 0;
  HWND focus = GetFocus();
  TControlPeer* focused = PeerOf(focus);
  const TPageControlKind kind = focused ? focused->Control().Kind() : TPageControlKind::Label;
  const bool inViewer =
      focused && focused->Window() == focus &&
      (kind == TPageControlKind::Viewer || kind == TPageControlKind::ErrorList);
  switch (msg.message) {
    case WM_KEYDOWN:
      switch (msg.wParam) {
        case VK_TAB:
          // Ctrl+Tab too: the viewers are read-only, a tab is never typed.
          MoveFocus(!KeyDown(VK_SHIFT));
          return true;
        case VK_RETURN:
          if (repeated) return true;
          if (inViewer && !KeyDown(VK_CONTROL)) return false;
          if (focused && kind == TPageControlKind::Link) {
            SendMessageW(GetParent(focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), STN_CLICKED),
                         reinterpret_cast<LPARAM>(focus));
          } else if (IsPushButton(focus)) {
            Press(focus);
          } else {
            Press(next_);
          }
          return true;
        case VK_ESCAPE:
          if (!repeated) PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
          return true;
        case VK_SPACE:
          if (focused && kind == TPageControlKind::Link && !repeated) {
            SendMessageW(GetParent(focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), STN_CLICKED),
                         reinterpret_cast<LPARAM>(focus));
            return true;
          }
          return false;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
          if (IsRadio(focus)) {
            MoveInRadioGroup(focus, msg.wParam == VK_RIGHT || msg.wParam == VK_DOWN);
            return true;
          }
          return false;
        default:
          return false;
      }
    case WM_SYSKEYDOWN:
      if (msg.wParam == VK_MENU) ShowAccessKeys();
      return false;
    case WM_SYSCHAR:
      return PressAccessKey(static_cast<wchar_t>(msg.wParam));
    case WM_CHAR:
      // Without Alt where typing means nothing: on a button or a box.
      if (ButtonType(focus) >= 0 && msg.wParam > L' ')
        return PressAccessKey(static_cast<wchar_t>(msg.wParam));
      return false;
    default:
      return false;
  }
}

HWND TWin32WizardWindow::CreateControlWindow(HWND parent, TPageControl& control, int id,
                                             HWND& button, RECT& frame) {
  button = nullptr;
  frame = {};
  const wchar_t* cls = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  TOwnPaint paint;
  paint.Dpi = layout_.Dpi();
  paint.Color = control.Color();
  paint.Wrap = control.Wrap;
  paint.Centered = control.Centered;
  bool ownPaint = true;
  switch (control.Kind()) {
    case TPageControlKind::Label:
      style |= control.Wrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
      paint.Kind = TOwnPaintKind::Label;
      break;
    case TPageControlKind::Warning:
      style |= SS_LEFT;
      paint.Kind = TOwnPaintKind::Warning;
      break;
    case TPageControlKind::Link:
      style |= WS_TABSTOP | SS_NOTIFY | (control.Centered ? SS_CENTER : SS_LEFT);
      paint.Kind = TOwnPaintKind::Link;
      break;
    case TPageControlKind::CheckBox:
      cls = L"BUTTON";
      style |= BS_CHECKBOX | WS_TABSTOP;
      paint.Kind = TOwnPaintKind::CheckBox;
      break;
    case TPageControlKind::RadioButton:
      cls = L"BUTTON";
      style |= BS_RADIOBUTTON | WS_TABSTOP;
      paint.Kind = TOwnPaintKind::RadioButton;
      break;
    case TPageControlKind::ProgressBar:
      cls = PROGRESS_CLASSW;
      paint.Kind = TOwnPaintKind::Progress;
      break;
    case TPageControlKind::Viewer:
      cls = RichEditLibrary() ? MSFTEDIT_CLASS : L"EDIT";
      style |= WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
      ownPaint = false;
      break;
    case TPageControlKind::ErrorList:
      cls = L"EDIT";
      style |= WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
      ownPaint = false;
      break;
    case TPageControlKind::PathEdit:
      cls = L"EDIT";
      style |= WS_TABSTOP | ES_AUTOHSCROLL;
      ownPaint = false;
      break;
    case TPageControlKind::Formatted:
      style |= WS_TABSTOP | SS_NOTIFY;
      paint.Kind = TOwnPaintKind::Formatted;
      break;
  }
  if (control.Visible()) style |= WS_VISIBLE;
  const TWizardRect& b = control.Bounds();
  RECT r{layout_.Scale(b.Left), layout_.Scale(b.Top), layout_.Scale(b.Right()),
         layout_.Scale(b.Bottom())};
  HFONT font = Font(control.FontSize ? control.FontSize : 9);
  const TPageControlKind kind = control.Kind();
  RECT buttonRect{};
  if (kind == TPageControlKind::PathEdit) {
    // The button at the right end; the edit one pixel inside its frame,
    // as high as a line of its text, centred.
    const int buttonWidth = layout_.Scale(control.ButtonWidth);
    const int gap = layout_.Scale(6);
    buttonRect = {r.right - buttonWidth, r.top, r.right, r.bottom};
    r.right -= buttonWidth + gap;
    frame = r;
    HDC dc = GetDC(parent);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(parent, dc);
    const int height = std::min<int>(metrics.tmHeight, r.bottom - r.top - 2);
    const int top = r.top + (r.bottom - r.top - height) / 2;
    r = {r.left + layout_.Scale(4), top, r.right - layout_.Scale(2), top + height};
  } else if (kind == TPageControlKind::Viewer || kind == TPageControlKind::ErrorList) {
    frame = r;
    InflateRect(&r, -1, -1);
  }
  HWND h = CreateWindowExW(0, cls, L"", style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  if (!h) return nullptr;
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (ownPaint) PaintOwnControl(h, paint);
  if (kind == TPageControlKind::PathEdit) {
    // After the edit: the tab order goes from the edit to its button.
    button = CreateWindowExW(0, L"BUTTON", L"", (style & ~ES_AUTOHSCROLL) | BS_PUSHBUTTON,
                             buttonRect.left, buttonRect.top, buttonRect.right - buttonRect.left,
                             buttonRect.bottom - buttonRect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id + 1000)),
                             GetModuleHandleW(nullptr), nullptr);
    if (button) {
      SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      TOwnPaint buttonPaint;
      buttonPaint.Kind = TOwnPaintKind::Button;
      buttonPaint.Dpi = layout_.Dpi();
      PaintOwnControl(button, buttonPaint);
    }
  }
  if (kind == TPageControlKind::ProgressBar) SendMessageW(h, PBM_SETRANGE32, 0, 100);
  if (kind == TPageControlKind::ErrorList) {
    const int margin = layout_.Scale(4);
    SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
  }
  if (kind == TPageControlKind::Viewer && RichEditLibrary()) {
    const int margin = layout_.Scale(4);
    SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
    SendMessageW(h, EM_AUTOURLDETECT, TRUE, 0);
    SendMessageW(h, EM_SETEVENTMASK, 0, ENM_LINK);
    // The zoom: 100 % at 96 DPI, in proportion to the DPI.
    const int z = 100 * layout_.Dpi() / 96;
    const int numerator = z <= 100 ? (z * 63 + 50) / 100 + 1 : (z * 64 + 50) / 100;
    if (numerator >= 2 && numerator <= 4095) SendMessageW(h, EM_SETZOOM, numerator, 64);
  }
  return h;
}

TPagePeer& TWin32WizardWindow::CreatePageWindow(TSetupCustomPage& page, const TWizardRect& bounds) {
  auto peer = std::make_unique<TPagePeer>();
  peer->window = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                                 WS_CHILD | WS_CLIPCHILDREN, layout_.Scale(bounds.Left),
                                 layout_.Scale(bounds.Top), layout_.Scale(bounds.Width),
                                 layout_.Scale(bounds.Height), window_, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(peer->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(peer->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PageProc));
  if (const ATOM kind = GlobalAddAtomW(W(page.Name())))
    SetPropW(peer->window, kPageKindProperty, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(kind)));
  pageOfWindow_[peer->window] = &page;
  int id = kFirstControlId;
  peer->bounds = bounds;
  for (const auto& control : page.Controls()) {
    HWND button = nullptr;
    RECT frame{};
    HWND h = CreateControlWindow(peer->window, *control, id++, button, frame);
    if (!h) continue;
    peer->controls.push_back(std::make_unique<TControlPeer>(*control, h, button));
    peer->controls.back()->SetFrame(frame);
    peer->controls.back()->ApplyAll();
    peer->controls.back()->ApplyTheme();
  }
  // Texts lie beneath the other controls, and an earlier one above a later
  // one: where the page's rectangles overlap (the body under the heading,
  // the error list over the body) every text stays readable.
  for (const auto& control : peer->controls) {
    const TPageControlKind kind = control->Control().Kind();
    if (kind == TPageControlKind::Label || kind == TPageControlKind::Link ||
        kind == TPageControlKind::Warning || kind == TPageControlKind::Formatted)
      SetWindowPos(control->Window(), HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // Screen readers name an edit after the label just before it in this
  // order: a label goes right before the control it names, where it
  // overlaps no other control (the order then changes nothing that shows;
  // elsewhere the name is annotated, see Annotate).
  auto overlapsAnother = [&page](const TPageControl& label) {
    const TWizardRect& a = label.Bounds();
    for (const auto& other : page.Controls()) {
      const TWizardRect& b = other->Bounds();
      if (other.get() != &label && a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() &&
          b.Top < a.Bottom())
        return true;
    }
    return false;
  };
  for (const auto& control : peer->controls) {
    const TControlPeer* label = peer->Find(control->Control().Label);
    if (!label || overlapsAnother(label->Control())) continue;
    HWND before = GetWindow(control->Window(), GW_HWNDPREV);
    if (before == label->Window()) continue;
    SetWindowPos(label->Window(), before ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  TPagePeer& result = *peer;
  page.Peer = std::move(peer);
  return result;
}

void TWin32WizardWindow::ShowPage(TSetupCustomPage& page, const TWizardRect& bounds) {
  auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
  if (!peer) {
    peer = &CreatePageWindow(page, bounds);
  } else {
    peer->bounds = bounds;
    SetWindowPos(peer->window, nullptr, layout_.Scale(bounds.Left), layout_.Scale(bounds.Top),
                 layout_.Scale(bounds.Width), layout_.Scale(bounds.Height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The page's caption is its window's text: screen readers announce it
  // as the name of the group the focus moves into (a finish page's heading
  // tells the run's result).
  SetWindowTextW(peer->window, W(page.Caption()));
  Annotate(page, *peer);
  ShowWindow(peer->window, SW_SHOW);
  // The focus starts on the page's first control (a page without one
  // leaves it to the form: Next, else Back).
  FocusFirstControl();
}

void TWin32WizardWindow::HidePage(TSetupCustomPage& page) {
  if (auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get())) {
    focusWhenHidden_ = GetFocus();
    ShowWindow(peer->window, SW_HIDE);
  }
}

void TWin32WizardWindow::AnnouncePage(TSetupCustomPage& page) {
  auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
  if (!peer) return;
  // The page's caption is its window's name.
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, peer->window, OBJID_CLIENT, CHILDID_SELF);
  // Moving into the page's first control makes screen readers read the
  // page with it; where the focus stayed (on Next), it is reported again.
  HWND focus = GetFocus();
  if (focus && focus == focusWhenHidden_ && IsChild(window_, focus))
    NotifyWinEvent(EVENT_OBJECT_FOCUS, focus, OBJID_CLIENT, CHILDID_SELF);
  focusWhenHidden_ = nullptr;
  // A finish page states the run's result: an alert.
  if (const TControlPeer* result = peer->Find(page.Result()); result && IsWindowVisible(result->Window()))
    NotifyWinEvent(EVENT_SYSTEM_ALERT, result->Window(), OBJID_CLIENT, CHILDID_SELF);
}

void TWin32WizardWindow::Annotate(TSetupCustomPage& page, TPagePeer& peer) {
  for (const TAccessibleControl& item : DescribePage(page)) {
    const TControlPeer* control = peer.Find(item.Control);
    if (!control || item.EmbeddedButton) continue;
    // Edits, viewers and progress bars show no caption: their name is
    // their label's (or their page's), not their text.
    const TPageControlKind kind = item.Control->Kind();
    const bool captionless = kind == TPageControlKind::PathEdit || kind == TPageControlKind::Viewer ||
                             kind == TPageControlKind::ErrorList ||
                             kind == TPageControlKind::ProgressBar;
    AnnotateAccessible(control->Window(), captionless ? item.Name : String(),
                       item.Role == TAccessibleRole::Link ? ROLE_SYSTEM_LINK : 0);
  }
}

void TWin32WizardWindow::FocusNextWhenNoFocus() {
  HWND focus = GetFocus();
  if (focus && IsChild(window_, focus) && IsWindowVisible(focus) && IsWindowEnabled(focus)) return;
  if (IsWindowEnabled(next_))
    SetFocus(next_);
  else if (IsWindowVisible(back_))
    SetFocus(back_);
}

void TWin32WizardWindow::SetTaskbarProgress(int value, int maximum, TTaskbarState state) {
  if (!taskbar_) return;
  TBPFLAG flag = TBPF_NORMAL;
  if (maximum == 0)
    flag = TBPF_INDETERMINATE;
  else if (state == TTaskbarState::Paused)
    flag = TBPF_PAUSED;
  else if (state == TTaskbarState::Error)
    flag = TBPF_ERROR;
  taskbar_->SetProgressState(window_, flag);
  taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(value), static_cast<ULONGLONG>(maximum));
}

void TWin32WizardWindow::Paint(HDC dc) {
  const TWizardTheme& theme = Theme();
  const RECT client = ToRect(layout_.Client());
  Fill(dc, client, theme.Background);
  const RECT footer = ToRect(layout_.Footer());
  Fill(dc, footer, theme.Accent);
  const RECT header = ToRect(layout_.Header());
  // High contrast: no picture behind the title, only the system's colours.
  if (!WizardHighContrast()) DrawImage(dc, WizardDarkTheme() ? *headerDark_ : *headerLight_, header);
  Fill(dc, {header.left, header.bottom - layout_.Scale(1), header.right, header.bottom},
       theme.Accent);
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  if (page && !page->IsFullScreen()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, theme.HeaderText);
    const RECT area = ToRect(layout_.HeaderText());
    HGDIOBJ old = SelectObject(dc, Font(11));
    RECT title = area;
    DrawTextW(dc, W(page->Title), -1, &title, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    title = {area.left, area.top, area.right, area.top + (title.bottom - title.top)};
    DrawTextW(dc, W(page->Title), -1, &title, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, Font(8));
    RECT description = area;
    DrawTextW(dc, W(page->Description), -1, &description, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    description = {area.left, area.bottom - (description.bottom - description.top), area.right,
                   area.bottom};
    DrawTextW(dc, W(page->Description), -1, &description,
              DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
  }
  // The page-progress strip.
  if (!form_) return;
  strip_.SetBounds(layout_.Strip(), form_->Pages().Count(), layout_.Dpi());
  Fill(dc, ToRect(strip_.Bounds()), theme.Surface);
  const int index = form_->Pages().IndexOf(page);
  if (index < 0 || strip_.SegmentWidth() == 0) return;
  const TWizardRect segment = strip_.Segment(index);
  for (int i = 0; i < strip_.SegmentWidth() / 6; ++i)
    Fill(dc, {segment.Left + 6 * i, segment.Top, segment.Left + 6 * i + 3, segment.Bottom()},
         theme.Accent);
  Fill(dc, ToRect(strip_.Filled(index, page->GetProgress())), theme.Accent);
}

void TWin32WizardWindow::PaintPage(TSetupCustomPage& page, HWND window, HDC dc) {
  const TWizardTheme& theme = Theme();
  RECT client{};
  GetClientRect(window, &client);
  Fill(dc, client, theme.Background);
  auto* full = dynamic_cast<TSetupPageFullScreen*>(&page);
  if (full && !WizardHighContrast())
    DrawImage(dc, full->SideImage(), {0, 0, layout_.Scale(188), layout_.Scale(435)});
  auto* addons = dynamic_cast<TSetupPageAddons*>(&page);
  if (addons && !WizardHighContrast()) {
    const TSetupImage& image = addons->Image();
    const int width = layout_.Scale(static_cast<int>(image.Width));
    const int right = client.right - layout_.Scale(TSetupPageAddons::kImageMargin);
    DrawImage(dc, OverBackground(image, theme.Background),
              {right - width, 0, right, layout_.Scale(static_cast<int>(image.Height))});
  }
  // The frames of edits and viewers, in the focus colour while they have
  // the focus.
  if (auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get())) {
    HWND focus = GetFocus();
    for (const auto& control : peer->controls) {
      const RECT frame = control->Frame();
      if (IsRectEmpty(&frame)) continue;
      Fill(dc, frame, theme.FieldBackground);
      const bool focused = focus && focus == control->Window();
      FrameRectColor(dc, frame, focused ? theme.FieldFocusBorder : theme.FieldBorder);
      if (focused) {
        RECT inner = frame;
        InflateRect(&inner, -1, -1);
        FrameRectColor(dc, inner, theme.FieldFocusBorder);
      }
    }
  }
}

// Paints through an off-screen bitmap: nothing flickers.
template <typename F>
void PaintBuffered(HWND window, F&& paint) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client{};
  GetClientRect(window, &client);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  paint(memory);
  BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(window, &ps);
}

LRESULT CALLBACK TWin32WizardWindow::FormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TWin32WizardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, msg, wParam, lParam);
  // Nothing raised while a message is handled (painting, a change of DPI or
  // theme included) crosses into the system.
  LRESULT result = 0;
  Protect(window, [&] { result = self->HandleForm(msg, wParam, lParam); });
  return result;
}

LRESULT TWin32WizardWindow::HandleForm(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBuffered(window_, [this](HDC dc) { Paint(dc); });
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == version_) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, Theme().VersionText);
        SetBkColor(dc, Theme().Accent);
        return reinterpret_cast<LRESULT>(accentBrush_);
      }
      break;
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(accentBrush_);
    case WM_SETTINGCHANGE:
      if (wParam == SPI_SETHIGHCONTRAST ||
          (lParam && IsThemeSettingChange(reinterpret_cast<const char16_t*>(lParam))))
        ThemeChanged();
      break;
    case WM_SYSCOLORCHANGE:
      ThemeChanged();
      break;
    case WM_DPICHANGED:
      DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_ACTIVATE:
      // As a dialog: the focused control is kept while another window (the
      // close question) is active, and gets the focus back afterwards.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        lastFocus_ = focus && IsChild(window_, focus) ? focus : nullptr;
      } else if (lastFocus_ && IsWindowVisible(lastFocus_) && IsWindowEnabled(lastFocus_)) {
        FocusControl(lastFocus_);
      } else {
        FocusFirstControl();
      }
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(kNextId, DC_HASDEFID);
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && form_) {
        const int id = LOWORD(wParam);
        if (id == kNextId && IsWindowEnabled(next_)) Protect(window_, [this] { form_->bNextClick(); });
        if (id == kBackId && IsWindowVisible(back_)) Protect(window_, [this] { form_->bBackClick(); });
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      // Windows leaves a disabled Close command alone (system menu, title-bar
      // button, Alt+F4); Wine closes all the same, so the state is checked
      // here too. After the run the wizard is left through Finish.
      if ((wParam & 0xFFF0) == SC_CLOSE && CloseCommandDisabled()) return 0;
      break;
    case WM_CLOSE: {
      bool canClose = true;
      if (form_) Protect(window_, [&] { canClose = form_->FormCloseQuery(); });
      if (canClose) DestroyWindow(window_);
      return 0;
    }
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    case kDeferredMessage: {
      std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lParam));
      Protect(window_, *call);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window_, msg, wParam, lParam);
}

LRESULT CALLBACK TWin32WizardWindow::PageProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TWin32WizardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) {
    auto it = self->pageOfWindow_.find(window);
    if (it != self->pageOfWindow_.end()) {
      if (msg == WM_NCDESTROY) {
        self->pageOfWindow_.erase(it);
      } else {
        LRESULT result = 0;
        Protect(self->window_, [&] {
          result = self->HandlePage(*it->second, window, msg, wParam, lParam);
        });
        return result;
      }
    }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

LRESULT TWin32WizardWindow::HandlePage(TSetupCustomPage& page, HWND window, UINT msg,
                                       WPARAM wParam, LPARAM lParam) {
  auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
  auto find = [&](HWND control) -> TControlPeer* {
    if (!peer || !control) return nullptr;
    for (auto& c : peer->controls)
      if (c->Window() == control || c->Button() == control) return c.get();
    return nullptr;
  };
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBuffered(window, [&](HDC dc) { PaintPage(page, window, dc); });
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const TWizardTheme& theme = Theme();
      TControlPeer* control = find(reinterpret_cast<HWND>(lParam));
      const uint32_t color = control ? control->Control().Color() : kDefaultTextColor;
      // Edits and the error list lie on the field colour.
      const TPageControlKind kind = control ? control->Control().Kind() : TPageControlKind::Label;
      const bool field = kind == TPageControlKind::PathEdit || kind == TPageControlKind::ErrorList;
      const uint32_t background = field ? theme.FieldBackground : theme.Background;
      SetTextColor(dc, ThemeTextColor(color, background));
      SetBkColor(dc, background);
      return reinterpret_cast<LRESULT>(field ? fieldBrush_ : backgroundBrush_);
    }
    case WM_SETCURSOR:
      if (TControlPeer* control = find(reinterpret_cast<HWND>(wParam));
          control && control->Control().Kind() == TPageControlKind::Link) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (TControlPeer* control = find(reinterpret_cast<HWND>(lParam))) {
        const UINT code = HIWORD(wParam);
        if (control->Control().Kind() == TPageControlKind::Link && code == STN_CLICKED) {
          OpenAsUser(control->Control().LinkTarget);
          return 0;
        }
        if (control->Control().Kind() == TPageControlKind::Formatted && code == STN_CLICKED) {
          // Only web addresses: the text comes from the packages, but
          // nothing else is started from a label.
          const String target = OwnActivatedLink(control->Window());
          if (StartsWith(target, u"https://") || StartsWith(target, u"http://")) OpenAsUser(target);
          return 0;
        }
        const TPageControlKind kind = control->Control().Kind();
        if ((kind == TPageControlKind::Viewer || kind == TPageControlKind::ErrorList) &&
            (code == EN_SETFOCUS || code == EN_KILLFOCUS)) {
          const RECT frame = control->Frame();
          InvalidateRect(window, &frame, FALSE);
          return 0;
        }
        if (control->Control().Kind() == TPageControlKind::PathEdit) {
          HWND from = reinterpret_cast<HWND>(lParam);
          if (from == control->Button() && code == BN_CLICKED) {
            TPageControl& edit = control->Control();
            Protect(window_, [&edit] {
              if (edit.OnButtonClick) edit.OnButtonClick();
            });
          } else if (from == control->Window() && code == EN_CHANGE && !control->Applying()) {
            const int length = GetWindowTextLengthW(from);
            std::wstring text(static_cast<size_t>(length) + 1, L'\0');
            GetWindowTextW(from, text.data(), length + 1);
            text.resize(static_cast<size_t>(length));
            TPageControl& edit = control->Control();
            Protect(window_, [&edit, &text] { edit.Edited(String(text.begin(), text.end())); });
          } else if (code == EN_SETFOCUS || code == EN_KILLFOCUS) {
            // The frame shows the focus.
            const RECT frame = control->Frame();
            InvalidateRect(window, &frame, FALSE);
          }
          return 0;
        }
        if (code == BN_CLICKED) {
          Protect(window_, [control] { control->Control().Click(); });
          return 0;
        }
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == EN_LINK) {
        const auto* link = reinterpret_cast<const ENLINK*>(lParam);
        if (link->msg == WM_LBUTTONUP) {
          std::wstring text(static_cast<size_t>(link->chrg.cpMax - link->chrg.cpMin) + 1, L'\0');
          TEXTRANGEW range{link->chrg, text.data()};
          SendMessageW(header->hwndFrom, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
          text.resize(wcslen(text.c_str()));
          OpenAsUser(ViewerLinkTarget(String(text.begin(), text.end())));
          return 1;
        }
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

void RunWin32Wizard(TSetup&) {
  // The theme is decided before any window exists: the full-screen pages
  // take their side image from it when they are created.
  UpdateWizardTheme(GetSysColor(COLOR_WINDOW));
  UpdateHighContrast();
  TWin32WizardWindow window;
  window.CreateForm();
  window.Run();
}
