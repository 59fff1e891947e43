// Reads the wizard window as a screen reader does, through the
// accessibility interfaces from another process.
//   probe_access            one line per visible control of the wizard,
//                           "role|name|states|value" (states: the names of
//                           the state bits that are set, among checked,
//                           unavailable, focused, focusable; value: a
//                           progress bar's value)
//   probe_access events S   listens to what the wizard announces, as a
//                           screen reader does, for S seconds or until a
//                           second after the first alert: "listening" once
//                           it hears, then one line per event,
//                           "focus|class|name", "name|class|name" (a name
//                           changed) or "alert|class|name", the name read
//                           from the event's object
// Exit code 1 when there is no wizard window, 2 when the system answers no
// accessible object (or no event hook).
#include <windows.h>

#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "probe_util.h"

namespace {

// IID_IAccessible (the import library hands out a thunk in its place).
constexpr IID kIAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

std::wstring Take(BSTR text) {
  std::wstring result = text ? text : L"";
  SysFreeString(text);
  return result;
}

std::string States(long state) {
  struct {
    long bit;
    const char* name;
  } const names[] = {{STATE_SYSTEM_CHECKED, "checked"},
                     {STATE_SYSTEM_UNAVAILABLE, "unavailable"},
                     {STATE_SYSTEM_FOCUSED, "focused"},
                     {STATE_SYSTEM_FOCUSABLE, "focusable"}};
  std::string result;
  for (const auto& n : names)
    if (state & n.bit) result += std::string(result.empty() ? "" : ",") + n.name;
  return result;
}

bool alerted = false;

void CALLBACK Announced(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                        DWORD) {
  // The wizard's own announcements name the client object; the system's
  // own name changes (the window's text) are about the window.
  if (!window || object != OBJID_CLIENT) return;
  const char* kind = event == EVENT_OBJECT_FOCUS    ? "focus"
                     : event == EVENT_SYSTEM_ALERT  ? "alert"
                     : event == EVENT_OBJECT_NAMECHANGE ? "name"
                                                    : nullptr;
  if (!kind) return;
  IAccessible* accessible = nullptr;
  VARIANT id;
  VariantInit(&id);
  std::wstring name;
  if (SUCCEEDED(AccessibleObjectFromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child),
                                          &accessible, &id)) &&
      accessible) {
    BSTR text = nullptr;
    accessible->get_accName(id, &text);
    name = Take(text);
    accessible->Release();
  }
  VariantClear(&id);
  wchar_t cls[128] = {};
  GetClassNameW(window, cls, 128);
  std::printf("%s|%s|%s\n", kind, probe::Field(cls).c_str(), probe::Field(name).c_str());
  std::fflush(stdout);
  if (event == EVENT_SYSTEM_ALERT) alerted = true;
}

int Listen(HWND wizard, int seconds) {
  DWORD process = 0;
  GetWindowThreadProcessId(wizard, &process);
  std::vector<HWINEVENTHOOK> hooks;
  for (DWORD event : {EVENT_SYSTEM_ALERT, EVENT_OBJECT_FOCUS, EVENT_OBJECT_NAMECHANGE})
    if (HWINEVENTHOOK hook = SetWinEventHook(event, event, nullptr, &Announced, process, 0,
                                             WINEVENT_OUTOFCONTEXT))
      hooks.push_back(hook);
  if (hooks.empty()) return 2;
  std::printf("listening\n");
  std::fflush(stdout);
  // The events of one change may arrive in another order than they were
  // raised: the listening goes on a little after the alert.
  ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  bool ending = false;
  while (GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (alerted && !ending) {
      ending = true;
      end = std::min(end, GetTickCount64() + 1000);
    }
  }
  for (HWINEVENTHOOK hook : hooks) UnhookWinEvent(hook);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HWND wizard = FindWindowW(L"TWizardForm", nullptr);
  if (!wizard) return 1;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (argc >= 3 && std::wstring(argv[1]) == L"events") {
    const int code = Listen(wizard, _wtoi(argv[2]));
    CoUninitialize();
    return code;
  }
  const std::vector<HWND> children = probe::Children(wizard);
  int answered = 0;
  for (HWND child : children) {
    if (!IsWindowVisible(child)) continue;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), kIAccessible,
                                          reinterpret_cast<void**>(&object))) ||
        !object)
      continue;
    ++answered;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr, value = nullptr;
    object->get_accName(self, &name);
    object->get_accValue(self, &value);
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    object->get_accRole(self, &role);
    object->get_accState(self, &state);
    wchar_t roleText[128] = {};
    if (role.vt == VT_I4) GetRoleTextW(static_cast<DWORD>(role.lVal), roleText, 128);
    std::printf("%s|%s|%s|%s\n", probe::Field(roleText).c_str(), probe::Field(Take(name)).c_str(),
                States(state.vt == VT_I4 ? state.lVal : 0).c_str(), probe::Field(Take(value)).c_str());
    VariantClear(&role);
    VariantClear(&state);
    object->Release();
  }
  CoUninitialize();
  return answered ? 0 : 2;
}
