// Reads the wizard window as a screen reader does, through the
// accessibility interfaces from another process: one line per visible
// control of the wizard, "role|name|states|value" (states: the names of
// the state bits that are set, among checked, unavailable, focused,
// focusable; value: a progress bar's value). Exit code 1 when there is no
// wizard window, 2 when the system answers no accessible object.
#include <windows.h>

#include <oleacc.h>

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

}  // namespace

int wmain() {
  HWND wizard = FindWindowW(L"TWizardForm", nullptr);
  if (!wizard) return 1;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
