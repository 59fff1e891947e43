#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "ui/win32/language_dialog_win32.h"

namespace {

constexpr wchar_t kClassName[] = L"MivoLanguageDialog";
constexpr int kComboId = 100;
constexpr int kMargin = 8;
constexpr int kOkSideMargin = 60;
constexpr int kOkBottomMargin = 8;
constexpr int kOkHeight = 25;
constexpr int kDropDownHeight = 200;
constexpr int kIconSize = 16;
constexpr UINT kShownMessage = WM_APP + 1;

const wchar_t* W(const String& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
String S(const wchar_t* s) {
  return String(reinterpret_cast<const char16_t*>(s));
}

uint32_t ReadLE(const uint8_t* p, size_t bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// An icon of size x size pixels from .ico file data (already checked by
// TVelIcon): the best entry for that size, scaled to it. The
// file's directory is rewritten in the resource form that
// LookupIconIdFromDirectoryEx reads, with the entry number as identifier.
HICON FlagIcon(const std::vector<uint8_t>& data, int size) {
  if (data.size() < 6) return nullptr;
  const size_t count = ReadLE(data.data() + 4, 2);
  if (count == 0 || 6 + 16 * count > data.size()) return nullptr;
  std::vector<uint8_t> directory(data.begin(), data.begin() + 6);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = data.data() + 6 + 16 * i;
    directory.insert(directory.end(), entry, entry + 12);  // up to the size
    const uint16_t id = static_cast<uint16_t>(i + 1);
    directory.push_back(static_cast<uint8_t>(id & 0xFF));
    directory.push_back(static_cast<uint8_t>(id >> 8));
  }
  const int id =
      LookupIconIdFromDirectoryEx(directory.data(), TRUE, size, size, LR_DEFAULTCOLOR);
  if (id < 1 || static_cast<size_t>(id) > count) return nullptr;
  const uint8_t* entry = data.data() + 6 + 16 * (id - 1);
  const size_t bytes = ReadLE(entry + 8, 4);
  const size_t offset = ReadLE(entry + 12, 4);
  if (offset > data.size() || bytes > data.size() - offset) return nullptr;
  return CreateIconFromResourceEx(const_cast<uint8_t*>(data.data() + offset),
                                  static_cast<DWORD>(bytes), TRUE, 0x00030000, size, size,
                                  LR_DEFAULTCOLOR);
}

class TWindow : public ILanguageDialogWindow {
 public:
  explicit TWindow(TVelCustomLanguageDialog& dialog) : dialog_(dialog) {}
  ~TWindow() override {
    if (window_) DestroyWindow(window_);
    if (font_) DeleteObject(font_);
    if (images_) ImageList_Destroy(images_);
  }

  bool Create();
  void RunModal(const std::function<void(ILanguageDialogWindow&)>& onShown);

  String Caption() override {
    wchar_t text[256] = {};
    GetWindowTextW(window_, text, 256);
    return S(text);
  }
  int ClientWidth() override {
    RECT r{};
    GetClientRect(window_, &r);
    return r.right - r.left;
  }
  int ClientHeight() override {
    RECT r{};
    GetClientRect(window_, &r);
    return r.bottom - r.top;
  }
  int Dpi() override { return dpi_; }
  bool TopMost() override { return (GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }
  bool HasBorderIcons() override { return (GetWindowLongW(window_, GWL_STYLE) & WS_SYSMENU) != 0; }
  int ItemCount() override { return static_cast<int>(SendMessageW(combo_, CB_GETCOUNT, 0, 0)); }
  String ItemText(int index) override {
    wchar_t text[256] = {};
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(combo_, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return S(text);
  }
  int ItemImage(int index) override {
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_IMAGE;
    item.iItem = index;
    SendMessageW(combo_, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage < 0 ? -1 : item.iImage;
  }
  int ImageCount() override { return images_ ? ImageList_GetImageCount(images_) : 0; }
  int ImageSize() override {
    int width = 0, height = 0;
    if (images_) ImageList_GetIconSize(images_, &width, &height);
    return width;
  }
  int SelectedItem() override { return static_cast<int>(SendMessageW(combo_, CB_GETCURSEL, 0, 0)); }
  void Select(int index) override { SendMessageW(combo_, CB_SETCURSEL, index, 0); }
  void PressOk() override { SendMessageW(ok_, BM_CLICK, 0, 0); }
  void Close() override { SendMessageW(window_, WM_CLOSE, 0, 0); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  int Scale(int value) const { return MulDiv(value, dpi_, 96); }
  // However the window closes, the selection is what counts.
  void Finish() {
    if (done_) return;
    const int index = SelectedItem();
    dialog_.SetItemIndex(index == CB_ERR ? -1 : index);
    done_ = true;
  }

  TVelCustomLanguageDialog& dialog_;
  HWND window_ = nullptr;
  HWND combo_ = nullptr;
  HWND ok_ = nullptr;
  HFONT font_ = nullptr;
  HIMAGELIST images_ = nullptr;
  int dpi_ = 96;
  bool done_ = false;
};

LRESULT CALLBACK TWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // Nothing raised here crosses into the system.
  try {
    if (self) {
      switch (message) {
        case WM_COMMAND:
          if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            self->Finish();
            return 0;
          }
          break;
        case WM_CLOSE:
          self->Finish();
          return 0;
        default:
          break;
      }
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool TWindow::Create() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  if (!GetClassInfoExW(instance, kClassName, &cls)) {
    cls = WNDCLASSEXW{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kClassName;
    if (!RegisterClassExW(&cls)) return false;
  }

  if (HDC screen = GetDC(nullptr)) {
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  if (dpi_ <= 0) dpi_ = 96;

  // A dialog frame without border icons, above all other windows, centred.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
  const int clientWidth = Scale(TVelCustomLanguageDialog::kClientWidth);
  const int clientHeight = Scale(TVelCustomLanguageDialog::kClientHeight);
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;

  window_ = CreateWindowExW(exStyle, kClassName, W(dialog_.Caption()), style, x, y, width, height,
                            nullptr, nullptr, instance, this);
  if (!window_) return false;

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);

  const int margin = Scale(kMargin);
  combo_ = CreateWindowExW(
      0, WC_COMBOBOXEXW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
      margin, margin, clientWidth - 2 * margin, Scale(kDropDownHeight), window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kComboId)), instance, nullptr);
  const int okHeight = Scale(kOkHeight);
  ok_ = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                        Scale(kOkSideMargin), clientHeight - Scale(kOkBottomMargin) - okHeight,
                        clientWidth - 2 * Scale(kOkSideMargin), okHeight, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  if (!combo_ || !ok_) return false;
  if (font_) {
    SendMessageW(combo_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageW(ok_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }

  // The image list; an icon that cannot be made leaves its item without one.
  const auto& icons = dialog_.Images();
  std::vector<int> imageIndex(icons.size(), -1);
  const int iconSize = Scale(kIconSize);
  images_ = ImageList_Create(iconSize, iconSize, ILC_COLOR32 | ILC_MASK,
                             static_cast<int>(icons.size()), 1);
  if (images_) {
    for (size_t i = 0; i < icons.size(); ++i) {
      if (HICON icon = FlagIcon(icons[i].Data(), iconSize)) {
        imageIndex[i] = ImageList_AddIcon(images_, icon);
        DestroyIcon(icon);
      }
    }
    SendMessageW(combo_, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  }

  for (int i = 0; i < dialog_.Count(); ++i) {
    const TVelCustomLanguageDialog::TItem& source = dialog_.Items(i);
    String text = source.Caption;
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    item.iItem = i;
    item.pszText = reinterpret_cast<wchar_t*>(text.data());
    const int image =
        source.ImageIndex >= 0 && source.ImageIndex < static_cast<int>(imageIndex.size())
            ? imageIndex[static_cast<size_t>(source.ImageIndex)]
            : -1;
    item.iImage = item.iSelectedImage = image >= 0 ? image : I_IMAGENONE;
    item.lParam = source.Index;
    SendMessageW(combo_, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  SendMessageW(combo_, CB_SETCURSEL, dialog_.ItemIndex(), 0);
  return true;
}

void TWindow::RunModal(const std::function<void(ILanguageDialogWindow&)>& onShown) {
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  SetFocus(combo_);
  if (onShown) PostMessageW(window_, kShownMessage, 0, 0);
  MSG msg;
  while (!done_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the outer loop
      Finish();
      break;
    }
    if (got < 0) {
      Finish();
      break;
    }
    if (msg.hwnd == window_ && msg.message == kShownMessage) {
      onShown(*this);
      continue;
    }
    if (!IsDialogMessageW(window_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  ShowWindow(window_, SW_HIDE);
}

TWin32LanguageDialogPresenter g_presenter;

}  // namespace

void TWin32LanguageDialogPresenter::ShowModal(TVelCustomLanguageDialog& dialog) {
  TWindow window(dialog);
  if (!window.Create()) return;  // no window: the default selection stands
  window.RunModal(OnShown);
}

void InstallWin32LanguageDialog() {
  SetLanguageDialogPresenter(&g_presenter);
}
