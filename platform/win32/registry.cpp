// The registry on advapi32.
#include <windows.h>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/win32/win32_util.h"

namespace platform {

struct TRegKey::Impl {
  HKEY key = nullptr;
  REGSAM view = 0;
  ~Impl() {
    if (key) RegCloseKey(key);
  }
};

namespace {

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegRoot::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::Users:
      return HKEY_USERS;
  }
  return HKEY_LOCAL_MACHINE;
}

constexpr REGSAM kViews = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

uint32_t OpenKey(HKEY parent, REGSAM inheritedView, const String& subKey, uint32_t access,
                 bool create, bool* created, std::unique_ptr<TRegKey::Impl>& out) {
  REGSAM sam = access;
  if (!(sam & kViews)) sam |= inheritedView;
  HKEY key = nullptr;
  LSTATUS rc;
  if (create) {
    DWORD disposition = 0;
    rc = RegCreateKeyExW(parent, win32::W(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE, sam,
                         nullptr, &key, &disposition);
    if (created) *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  } else {
    rc = RegOpenKeyExW(parent, win32::W(subKey), 0, sam, &key);
  }
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  out = std::make_unique<TRegKey::Impl>();
  out->key = key;
  out->view = sam & kViews;
  return ERROR_SUCCESS;
}

}  // namespace

TRegKey::TRegKey() = default;
TRegKey::~TRegKey() = default;
TRegKey::TRegKey(TRegKey&& other) noexcept = default;
TRegKey& TRegKey::operator=(TRegKey&& other) noexcept = default;

uint32_t TRegKey::Open(RegRoot root, const String& subKey, uint32_t access) {
  impl_.reset();
  return OpenKey(RootKey(root), 0, subKey, access, false, nullptr, impl_);
}

uint32_t TRegKey::Open(const TRegKey& parent, const String& subKey, uint32_t access) {
  if (!parent.impl_) return ERROR_INVALID_HANDLE;
  std::unique_ptr<Impl> result;
  const uint32_t rc =
      OpenKey(parent.impl_->key, parent.impl_->view, subKey, access, false, nullptr, result);
  impl_ = std::move(result);
  return rc;
}

uint32_t TRegKey::Create(RegRoot root, const String& subKey, uint32_t access, bool* created) {
  impl_.reset();
  return OpenKey(RootKey(root), 0, subKey, access, true, created, impl_);
}

uint32_t TRegKey::Create(const TRegKey& parent, const String& subKey, uint32_t access,
                         bool* created) {
  if (!parent.impl_) return ERROR_INVALID_HANDLE;
  std::unique_ptr<Impl> result;
  const uint32_t rc =
      OpenKey(parent.impl_->key, parent.impl_->view, subKey, access, true, created, result);
  impl_ = std::move(result);
  return rc;
}

void TRegKey::Close() {
  impl_.reset();
}

uint32_t TRegKey::QueryValue(const String& name, uint32_t& type, std::vector<uint8_t>& data) const {
  if (!impl_) return ERROR_INVALID_HANDLE;
  for (;;) {
    DWORD t = 0, size = 0;
    LSTATUS rc = RegQueryValueExW(impl_->key, win32::W(name), nullptr, &t, nullptr, &size);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    data.resize(size);
    rc = RegQueryValueExW(impl_->key, win32::W(name), nullptr, &t,
                          data.empty() ? nullptr : data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;  // grew meanwhile
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    data.resize(size);
    type = t;
    return ERROR_SUCCESS;
  }
}

uint32_t TRegKey::SetValue(const String& name, uint32_t type, const void* data, uint32_t size) {
  if (!impl_) return ERROR_INVALID_HANDLE;
  return static_cast<uint32_t>(
      RegSetValueExW(impl_->key, win32::W(name), 0, type, static_cast<const BYTE*>(data), size));
}

uint32_t TRegKey::DeleteValue(const String& name) {
  if (!impl_) return ERROR_INVALID_HANDLE;
  return static_cast<uint32_t>(RegDeleteValueW(impl_->key, win32::W(name)));
}

uint32_t TRegKey::EnumKey(uint32_t index, String& name) const {
  if (!impl_) return ERROR_INVALID_HANDLE;
  wchar_t buffer[256];
  DWORD size = 256;
  const LSTATUS rc =
      RegEnumKeyExW(impl_->key, index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name = String(reinterpret_cast<const char16_t*>(buffer), size);
  return static_cast<uint32_t>(rc);
}

uint32_t TRegKey::EnumValue(uint32_t index, String& name) const {
  if (!impl_) return ERROR_INVALID_HANDLE;
  std::vector<wchar_t> buffer(16384);
  DWORD size = static_cast<DWORD>(buffer.size());
  const LSTATUS rc =
      RegEnumValueW(impl_->key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name = String(reinterpret_cast<const char16_t*>(buffer.data()), size);
  return static_cast<uint32_t>(rc);
}

uint32_t TRegKey::QueryInfo(uint32_t& subKeys, uint32_t& values) const {
  if (!impl_) return ERROR_INVALID_HANDLE;
  DWORD k = 0, v = 0;
  const LSTATUS rc = RegQueryInfoKeyW(impl_->key, nullptr, nullptr, nullptr, &k, nullptr, nullptr,
                                      &v, nullptr, nullptr, nullptr, nullptr);
  subKeys = k;
  values = v;
  return static_cast<uint32_t>(rc);
}

uint32_t TRegKey::DeleteSubKey(const String& subKey) {
  if (!impl_) return ERROR_INVALID_HANDLE;
  return static_cast<uint32_t>(RegDeleteKeyExW(impl_->key, win32::W(subKey), impl_->view, 0));
}

}  // namespace platform
