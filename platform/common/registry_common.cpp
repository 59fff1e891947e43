// Typed registry helpers and the depth-first delete, on top of TRegKey.
#include <cstring>

#include "platform/errors.h"
#include "platform/registry.h"

namespace platform {
namespace {

std::vector<uint8_t> Utf16Bytes(const String& s) {
  std::vector<uint8_t> data((s.size() + 1) * 2);
  std::memcpy(data.data(), s.c_str(), data.size());
  return data;
}

String FromBytes(const std::vector<uint8_t>& data) {
  String s(data.size() / 2, u'\0');
  if (!s.empty()) std::memcpy(s.data(), data.data(), s.size() * 2);
  return s;
}

}  // namespace

uint32_t TRegKey::WriteString(const String& name, const String& value, uint32_t type) {
  const auto data = Utf16Bytes(value);
  return SetValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t TRegKey::WriteDword(const String& name, uint32_t value) {
  uint8_t data[4];
  for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
  return SetValue(name, kRegDword, data, 4);
}

uint32_t TRegKey::WriteMultiString(const String& name, const std::vector<String>& values) {
  String all;
  for (const auto& v : values) {
    all += v;
    all.push_back(u'\0');
  }
  const auto data = Utf16Bytes(all);  // adds the list's final zero
  return SetValue(name, kRegMultiSz, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t TRegKey::WriteBinary(const String& name, const std::vector<uint8_t>& bytes) {
  return SetValue(name, kRegBinary, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool TRegKey::ReadString(const String& name, String& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (QueryValue(name, type, data) != kErrorSuccess) return false;
  if (type != kRegSz && type != kRegExpandSz) return false;
  value = FromBytes(data);
  const size_t zero = value.find(u'\0');
  if (zero != String::npos) value.resize(zero);
  return true;
}

bool TRegKey::ReadDword(const String& name, uint32_t& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (QueryValue(name, type, data) != kErrorSuccess || type != kRegDword || data.size() != 4)
    return false;
  value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  return true;
}

bool TRegKey::ReadMultiString(const String& name, std::vector<String>& values) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  values.clear();
  if (QueryValue(name, type, data) != kErrorSuccess || type != kRegMultiSz) return false;
  // Zero-terminated strings; empty ones inside the list are kept (Windows'
  // own rename list has them), the empty one that ends the list is not.
  const String all = FromBytes(data);
  size_t i = 0;
  while (i < all.size()) {
    size_t j = all.find(u'\0', i);
    if (j == String::npos) j = all.size();
    values.push_back(all.substr(i, j - i));
    i = j + 1;
  }
  if (!values.empty() && values.back().empty()) values.pop_back();
  return true;
}

uint32_t DeleteKeyTree(RegRoot root, const String& subKey, uint32_t viewFlags) {
  // Split off the last component: it is deleted through its parent.
  const size_t slash = subKey.find_last_of(u'\\');
  const String parentPath = slash == String::npos ? String() : subKey.substr(0, slash);
  const String leaf = slash == String::npos ? subKey : subKey.substr(slash + 1);
  TRegKey key;
  uint32_t rc = key.Open(root, subKey, kKeyRead | viewFlags);
  if (rc == kErrorFileNotFound) return kErrorSuccess;
  if (rc != kErrorSuccess) return rc;
  uint32_t subKeys = 0, values = 0;
  if ((rc = key.QueryInfo(subKeys, values)) != kErrorSuccess) return rc;
  for (uint32_t i = subKeys; i-- > 0;) {
    String name;
    if (key.EnumKey(i, name) != kErrorSuccess) continue;
    rc = DeleteKeyTree(root, subKey + u"\\" + name, viewFlags);
    if (rc != kErrorSuccess) return rc;
  }
  key.Close();
  TRegKey parent;
  if ((rc = parent.Open(root, parentPath, kKeyRead | kKeySetValue | viewFlags)) != kErrorSuccess)
    return rc;
  rc = parent.DeleteSubKey(leaf);
  return rc == kErrorFileNotFound ? kErrorSuccess : rc;
}

}  // namespace platform
