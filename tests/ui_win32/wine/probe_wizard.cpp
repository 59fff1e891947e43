// Looks at the wizard window for the scenario scripts.
//   probe_wizard [FILE.bmp]   one line "caption|close-enabled" (1, 0, or ?
//                             where the system does not hand out another
//                             process's system menu, as Wine), then one line
//                             per visible child window
//                             "class|text|1|enabled|checked" (checked -1 for
//                             controls without a check state; a page's text
//                             is its kind, "PageSetup"); with a file
//                             name it also saves the client area as a BMP
//   probe_wizard click TEXT   clicks the visible button with that text
//   probe_wizard box          prints the text of the question box owned by
//                             the wizard
//   probe_wizard answer ID    presses the box's button (1 OK, 2 Cancel)
//   probe_wizard dialog       the owned dialog's caption, then one line per
//                             visible child "class|text"
//   probe_wizard focus        the control that has the keyboard focus:
//                             "class|text"
//   probe_wizard type TEXT    replaces the text of the visible edit as typing
//                             would: everything selected and deleted, then
//                             the text character by character
//   probe_wizard contrast     turns the white-on-black high-contrast theme
//                             on as the system's settings do
//   probe_wizard theme MODE   sets the user's app mode ("dark" or "light")
//                             and announces the change to every window, as
//                             Windows does when the user switches it
// Exit code 1 when there is no wizard window (or no box, no button).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "probe_util.h"

namespace {

std::wstring ClassOf(HWND window);

// A window's text as a person reads it: the "&" that marks the access key
// of a button is not shown ("&&" shows one).
std::wstring Text(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  if (ClassOf(window) != L"Button") return text;
  std::wstring shown;
  for (const wchar_t* c = text; *c; ++c) {
    if (*c == L'&' && c[1]) ++c;
    shown += *c;
  }
  return shown;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool SaveBitmap(HWND window, const wchar_t* path) {
  RECT client{};
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(path, L"wb");
  if (!out) return false;
  fwrite(&file, sizeof(file), 1, out);
  fwrite(&header, sizeof(header), 1, out);
  fwrite(pixels.data(), 1, pixels.size(), out);
  fclose(out);
  return true;
}

// The first visible child of that class (and with that text, unless null).
HWND FindChild(HWND parent, const wchar_t* cls, const wchar_t* text) {
  struct TSearch {
    const wchar_t* cls;
    const wchar_t* text;
    HWND found;
  } search{cls, text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        if (IsWindowVisible(child) && ClassOf(child) == s->cls && (!s->text || Text(child) == s->text)) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

HWND FindBox(HWND wizard) {
  struct TSearch {
    HWND owner, box;
  } search{wizard, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        if (ClassOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == s->owner) {
          s->box = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.box;
}

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"theme") {
    if (argc < 3) return 1;
    const DWORD light = std::wstring(argv[2]) == L"dark" ? 0 : 1;
    if (RegSetKeyValueW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                        L"AppsUseLightTheme", REG_DWORD, &light, sizeof(light)) != ERROR_SUCCESS)
      return 1;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"ImmersiveColorSet"), SMTO_ABORTIFHUNG, 5000,
                        &result);
    return 0;
  }
  if (mode == L"contrast") {
    // The white-on-black high-contrast theme: the flag where the system
    // keeps it, the system's colours, and the announcements of both.
    wchar_t flags[] = L"127";  // HCF_HIGHCONTRASTON and the availability bits
    if (RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags",
                        REG_SZ, flags, sizeof(flags)) != ERROR_SUCCESS)
      return 1;
    const int elements[] = {COLOR_WINDOW,     COLOR_WINDOWTEXT, COLOR_HIGHLIGHT,
                            COLOR_HIGHLIGHTTEXT, COLOR_BTNFACE,  COLOR_BTNTEXT,
                            COLOR_GRAYTEXT,   COLOR_HOTLIGHT,   COLOR_3DFACE};
    const COLORREF colors[] = {RGB(0, 0, 0),       RGB(255, 255, 255), RGB(26, 235, 255),
                               RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(255, 255, 255),
                               RGB(63, 242, 63),   RGB(255, 255, 0),   RGB(0, 0, 0)};
    if (!SetSysColors(static_cast<int>(std::size(elements)), elements, colors)) return 1;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0, SMTO_ABORTIFHUNG,
                        5000, &result);
    return 0;
  }
  HWND wizard = FindWindowW(L"TWizardForm", nullptr);
  if (!wizard) return 1;
  if (mode == L"focus") {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(wizard, nullptr), &info) || !info.hwndFocus)
      return 1;
    std::printf("%s|%s\n", probe::Field(ClassOf(info.hwndFocus)).c_str(), probe::Field(Text(info.hwndFocus)).c_str());
    return 0;
  }
  if (mode == L"type") {
    const std::wstring text = argc > 2 ? argv[2] : L"";
    HWND edit = FindChild(wizard, L"Edit", nullptr);
    if (!edit) return 1;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 2000, &result);
    SendMessageTimeoutW(edit, WM_CHAR, VK_BACK, 0, SMTO_ABORTIFHUNG, 2000, &result);
    for (wchar_t c : text)
      SendMessageTimeoutW(edit, WM_CHAR, c, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return 0;
  }
  if (mode == L"dialog") {
    HWND box = FindBox(wizard);
    if (!box) return 1;
    std::printf("%s\n", probe::Field(Text(box)).c_str());
    const std::vector<HWND> children = probe::Children(box);
    for (HWND child : children)
      if (IsWindowVisible(child))
        std::printf("%s|%s\n", probe::Field(ClassOf(child)).c_str(), probe::Field(Text(child)).c_str());
    return 0;
  }
  if (mode == L"box" || mode == L"answer") {
    HWND box = FindBox(wizard);
    if (!box) return 1;
    if (mode == L"box") {
      wchar_t text[4096] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 4096);
      std::printf("%s\n", probe::Field(text).c_str());
      return 0;
    }
    if (argc < 3) return 1;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(_wtoi(argv[2]), BN_CLICKED), 0);
    return 0;
  }
  if (mode == L"click") {
    if (argc < 3) return 1;
    HWND button = FindChild(wizard, L"Button", argv[2]);
    if (!button) return 1;
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  const HMENU menu = GetSystemMenu(wizard, FALSE);
  const UINT state = menu ? GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) : static_cast<UINT>(-1);
  const char* close = state == static_cast<UINT>(-1)       ? "?"
                      : (state & (MF_DISABLED | MF_GRAYED)) ? "0"
                                                            : "1";
  std::printf("%s|%s\n", probe::Field(Text(wizard)).c_str(), close);
  const std::vector<HWND> children = probe::Children(wizard);
  for (HWND child : children) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring cls = ClassOf(child);
    int checked = -1;
    if (cls == L"Button") {
      const LONG style = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
      if (style == BS_CHECKBOX || style == BS_AUTOCHECKBOX || style == BS_RADIOBUTTON ||
          style == BS_AUTORADIOBUTTON)
        checked = SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    }
    std::wstring text = Text(child);
    // Of another process's edit, GetWindowText reads the caption, not the text.
    if (cls == L"Edit") {
      wchar_t buffer[2048] = {};
      DWORD_PTR copied = 0;
      if (SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                              SMTO_ABORTIFHUNG, 2000, &copied))
        text = buffer;
    }
    if (cls == L"msctls_progress32") text = std::to_wstring(SendMessageW(child, PBM_GETPOS, 0, 0));
    // A page by its kind ("PageSetup"); its text is the caption people read.
    if (cls == L"TSetupPage") {
      wchar_t kind[64] = {};
      if (const auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(GetPropW(child, L"MivoPageKind"))))
        GlobalGetAtomNameW(atom, kind, 64);
      text = kind;
    }
    std::printf("%s|%s|1|%d|%d\n", probe::Field(cls).c_str(), probe::Field(text).c_str(),
                IsWindowEnabled(child) ? 1 : 0, checked);
  }
  if (!mode.empty() && !SaveBitmap(wizard, argv[1])) return 2;
  return 0;
}
