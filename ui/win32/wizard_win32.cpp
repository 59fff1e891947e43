#include "ui/win32/wizard_win32.h"

#include <windows.h>

#include <commctrl.h>
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
#include "ui/wizard_form.h"

namespace {

constexpr wchar_t kFormClass[] = L"TWizardForm";
constexpr wchar_t kPageClass[] = L"TSetupPage";
constexpr int kBackId = 1001;
constexpr int kNextId = 1002;
constexpr int kFirstControlId = 2000;
constexpr UINT kDeferredMessage = WM_APP + 2;

// Theme colours (0x00BBGGRR) of the light theme and the dark one.
struct TThemeColors {
  COLORREF accent, surface, background, headerText;
};
constexpr TThemeColors kLight{0x338CDE, 0xFFFFFF, 0xFFFFFF, 0x000000};
constexpr TThemeColors kDark{0x1C67AC, 0x2A2A2A, 0x262626, 0xFFFFFF};
constexpr COLORREF kVersionText = 0xF0F0F0;

const TThemeColors& Theme() {
  return WizardDarkTheme() ? kDark : kLight;
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
  }
}

// The mirror of one page control.
class TControlPeer : public IPageControlPeer {
 public:
  TControlPeer(TPageControl& control, HWND window) : control_(control), window_(window) {
    control.SetPeer(this);
  }
  ~TControlPeer() override { control_.SetPeer(nullptr); }

  void Changed(TPageControl& control, TPageControlChange change) override;
  void ApplyAll();

  TPageControl& Control() { return control_; }
  HWND Window() const { return window_; }

 private:
  void ApplyText();
  void FitLabel();

  TPageControl& control_;
  HWND window_;
  int maxHeight_ = 0;
};

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
    return;
  }
  SetWindowTextW(window_, W(control_.Text()));
  if (control_.Kind() == TPageControlKind::Label) FitLabel();
}

// A label is only as tall as its text (at most its rectangle), so that a
// label never covers a neighbour that its rectangle overlaps.
void TControlPeer::FitLabel() {
  RECT bounds{};
  GetWindowRect(window_, &bounds);
  MapWindowPoints(nullptr, GetParent(window_), reinterpret_cast<POINT*>(&bounds), 2);
  if (maxHeight_ == 0) maxHeight_ = bounds.bottom - bounds.top;
  HDC dc = GetDC(window_);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0)));
  RECT text{0, 0, bounds.right - bounds.left, 0};
  DrawTextW(dc, W(control_.Text()), -1, &text,
            DT_CALCRECT | DT_NOPREFIX | (control_.Wrap ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  const int height = std::min<int>(maxHeight_, std::max<int>(text.bottom, 1));
  SetWindowPos(window_, nullptr, 0, 0, bounds.right - bounds.left, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControlPeer::Changed(TPageControl&, TPageControlChange change) {
  switch (change) {
    case TPageControlChange::Text:
      ApplyText();
      break;
    case TPageControlChange::Visible:
      ShowWindow(window_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case TPageControlChange::Enabled:
      EnableWindow(window_, control_.Enabled());
      break;
    case TPageControlChange::Checked:
      SendMessageW(window_, BM_SETCHECK, control_.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case TPageControlChange::Position:
      SendMessageW(window_, PBM_SETPOS, static_cast<WPARAM>(control_.Position()), 0);
      break;
    case TPageControlChange::Color:
      InvalidateRect(window_, nullptr, TRUE);
      break;
    case TPageControlChange::Focus:
      if (IsWindowVisible(window_)) SetFocus(window_);
      break;
  }
}

void TControlPeer::ApplyAll() {
  ApplyText();
  Changed(control_, TPageControlChange::Checked);
  Changed(control_, TPageControlChange::Position);
  EnableWindow(window_, control_.Enabled());
}

struct TPagePeer : TSetupCustomPage::TPeer {
  ~TPagePeer() override {
    controls.clear();
    if (window) DestroyWindow(window);
  }
  HWND window = nullptr;
  std::vector<std::unique_ptr<TControlPeer>> controls;
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
  HWND CreateControlWindow(HWND parent, TPageControl& control, int id);
  void PumpMessages();
  bool Dialog(MSG& msg) { return IsDialogMessageW(window_, &msg); }

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
  std::unique_ptr<TWizardForm> form_;
  std::map<HWND, TSetupCustomPage*> pageOfWindow_;
  bool coInitialized_ = false;
};

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

  auto button = [&](const TWizardRect& r, int id, DWORD extra) {
    HWND h = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | extra, r.Left,
                             r.Top, r.Width, r.Height, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font(9)), FALSE);
    return h;
  };
  back_ = button(layout_.BackButton(), kBackId, BS_PUSHBUTTON);
  next_ = button(layout_.NextButton(), kNextId, BS_DEFPUSHBUTTON);
  const TWizardRect v = layout_.VersionLabel();
  version_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE,
                             v.Left, v.Top, v.Width, v.Height, window_, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  SendMessageW(version_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(9)), FALSE);
  accentBrush_ = CreateSolidBrush(Theme().accent);
  backgroundBrush_ = CreateSolidBrush(Theme().background);

  if (coInitialized_ &&
      SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar_)))) {
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
}

void TWin32WizardWindow::CreateForm() {
  SetPageMessagePump([this] { PumpMessages(); });
  form_ = std::make_unique<TWizardForm>(*this);
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
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!Dialog(msg)) {
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
    if (!Dialog(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

HWND TWin32WizardWindow::CreateControlWindow(HWND parent, TPageControl& control, int id) {
  const wchar_t* cls = L"STATIC";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  switch (control.Kind()) {
    case TPageControlKind::Label:
      style |= control.Wrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
      break;
    case TPageControlKind::Link:
      style |= SS_NOTIFY | (control.Centered ? SS_CENTER : SS_LEFT);
      break;
    case TPageControlKind::CheckBox:
      cls = L"BUTTON";
      style |= BS_CHECKBOX | WS_TABSTOP;
      break;
    case TPageControlKind::RadioButton:
      cls = L"BUTTON";
      style |= BS_RADIOBUTTON | WS_TABSTOP;
      break;
    case TPageControlKind::ProgressBar:
      cls = PROGRESS_CLASSW;
      break;
    case TPageControlKind::Viewer:
      cls = RichEditLibrary() ? MSFTEDIT_CLASS : L"EDIT";
      style |= WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case TPageControlKind::ErrorList:
      cls = L"EDIT";
      style |= WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
      exStyle = WS_EX_CLIENTEDGE;
      break;
  }
  if (control.Visible()) style |= WS_VISIBLE;
  const TWizardRect& b = control.Bounds();
  HWND h = CreateWindowExW(exStyle, cls, L"", style, layout_.Scale(b.Left), layout_.Scale(b.Top),
                           layout_.Scale(b.Width), layout_.Scale(b.Height), parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  if (!h) return nullptr;
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font(control.FontSize ? control.FontSize : 9)),
               FALSE);
  if (control.Kind() == TPageControlKind::ProgressBar) SendMessageW(h, PBM_SETRANGE32, 0, 100);
  if (control.Kind() == TPageControlKind::Viewer && RichEditLibrary()) {
    SendMessageW(h, EM_AUTOURLDETECT, TRUE, 0);
    SendMessageW(h, EM_SETEVENTMASK, 0, ENM_LINK);
    SendMessageW(h, EM_SETBKGNDCOLOR, 0, Theme().background);
    // The zoom: 100 % at 96 DPI, in proportion to the DPI.
    const int z = 100 * layout_.Dpi() / 96;
    const int numerator = z <= 100 ? (z * 63 + 50) / 100 + 1 : (z * 64 + 50) / 100;
    if (numerator >= 2 && numerator <= 4095) SendMessageW(h, EM_SETZOOM, numerator, 64);
  }
  return h;
}

TPagePeer& TWin32WizardWindow::CreatePageWindow(TSetupCustomPage& page, const TWizardRect& bounds) {
  auto peer = std::make_unique<TPagePeer>();
  peer->window = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, W(page.Name()),
                                 WS_CHILD | WS_CLIPCHILDREN, layout_.Scale(bounds.Left),
                                 layout_.Scale(bounds.Top), layout_.Scale(bounds.Width),
                                 layout_.Scale(bounds.Height), window_, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(peer->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(peer->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PageProc));
  pageOfWindow_[peer->window] = &page;
  int id = kFirstControlId;
  for (const auto& control : page.Controls()) {
    HWND h = CreateControlWindow(peer->window, *control, id++);
    if (!h) continue;
    peer->controls.push_back(std::make_unique<TControlPeer>(*control, h));
    peer->controls.back()->ApplyAll();
  }
  // Texts lie beneath the other controls, and an earlier one above a later
  // one: where the page's rectangles overlap (the body under the heading,
  // the error list over the body) every text stays readable.
  for (const auto& control : peer->controls) {
    const TPageControlKind kind = control->Control().Kind();
    if (kind == TPageControlKind::Label || kind == TPageControlKind::Link)
      SetWindowPos(control->Window(), HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  TPagePeer& result = *peer;
  page.Peer = std::move(peer);
  return result;
}

void TWin32WizardWindow::ShowPage(TSetupCustomPage& page, const TWizardRect& bounds) {
  auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
  if (!peer)
    peer = &CreatePageWindow(page, bounds);
  else
    SetWindowPos(peer->window, nullptr, layout_.Scale(bounds.Left), layout_.Scale(bounds.Top),
                 layout_.Scale(bounds.Width), layout_.Scale(bounds.Height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(peer->window, SW_SHOW);
}

void TWin32WizardWindow::HidePage(TSetupCustomPage& page) {
  if (auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get())) ShowWindow(peer->window, SW_HIDE);
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
  const TThemeColors& theme = Theme();
  const RECT client = ToRect(layout_.Client());
  Fill(dc, client, theme.background);
  const RECT footer = ToRect(layout_.Footer());
  Fill(dc, footer, theme.accent);
  const RECT header = ToRect(layout_.Header());
  DrawImage(dc, WizardDarkTheme() ? *headerDark_ : *headerLight_, header);
  Fill(dc, {header.left, header.bottom - layout_.Scale(1), header.right, header.bottom},
       theme.accent);
  TSetupCustomPage* page = form_ ? form_->ActivePage() : nullptr;
  if (page && !page->IsFullScreen()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, theme.headerText);
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
  Fill(dc, ToRect(strip_.Bounds()), theme.surface);
  const int index = form_->Pages().IndexOf(page);
  if (index < 0 || strip_.SegmentWidth() == 0) return;
  const TWizardRect segment = strip_.Segment(index);
  for (int i = 0; i < strip_.SegmentWidth() / 6; ++i)
    Fill(dc, {segment.Left + 6 * i, segment.Top, segment.Left + 6 * i + 3, segment.Bottom()},
         theme.accent);
  Fill(dc, ToRect(strip_.Filled(index, page->GetProgress())), theme.accent);
}

void TWin32WizardWindow::PaintPage(TSetupCustomPage& page, HWND window, HDC dc) {
  RECT client{};
  GetClientRect(window, &client);
  Fill(dc, client, Theme().background);
  if (auto* full = dynamic_cast<TSetupPageFullScreen*>(&page))
    DrawImage(dc, full->SideImage(), {0, 0, layout_.Scale(188), layout_.Scale(435)});
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
  return self->HandleForm(msg, wParam, lParam);
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
        SetTextColor(dc, kVersionText);
        SetBkColor(dc, Theme().accent);
        return reinterpret_cast<LRESULT>(accentBrush_);
      }
      break;
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(accentBrush_);
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
        return self->HandlePage(*it->second, window, msg, wParam, lParam);
      }
    }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

LRESULT TWin32WizardWindow::HandlePage(TSetupCustomPage& page, HWND window, UINT msg,
                                       WPARAM wParam, LPARAM lParam) {
  auto* peer = dynamic_cast<TPagePeer*>(page.Peer.get());
  auto find = [&](HWND control) -> TControlPeer* {
    if (!peer) return nullptr;
    for (auto& c : peer->controls)
      if (c->Window() == control) return c.get();
    return nullptr;
  };
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintBuffered(window, [&](HDC dc) { PaintPage(page, window, dc); });
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      TControlPeer* control = find(reinterpret_cast<HWND>(lParam));
      const uint32_t color = control ? control->Control().Color() : kDefaultTextColor;
      SetTextColor(dc, color == kDefaultTextColor ? Theme().headerText : color);
      SetBkColor(dc, Theme().background);
      return reinterpret_cast<LRESULT>(backgroundBrush_);
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
          ShellOpen(control->Control().LinkTarget);
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
          ShellOpen(ViewerLinkTarget(String(text.begin(), text.end())));
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
  TWin32WizardWindow window;
  window.CreateForm();
  window.Run();
}
