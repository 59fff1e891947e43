// The registry: HKLM, HKCU, HKU and HKCR, the 64-bit and 32-bit views, keys
// and typed values. Functions return the Win32 error code (0 on success).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/strings.h"

namespace platform {

enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users };

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kKeyWow64_64Key = 0x0100;  // the 64-bit view
constexpr uint32_t kKeyWow64_32Key = 0x0200;  // the 32-bit view ("Wow6432Node")

class TRegKey {
 public:
  TRegKey();
  ~TRegKey();
  TRegKey(TRegKey&& other) noexcept;
  TRegKey& operator=(TRegKey&& other) noexcept;
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;

  // RegOpenKeyExW / RegCreateKeyExW (non-volatile). The access mask may carry
  // a view flag; keys opened below an open key keep its view.
  uint32_t Open(RegRoot root, const String& subKey, uint32_t access);
  uint32_t Open(const TRegKey& parent, const String& subKey, uint32_t access);
  uint32_t Create(RegRoot root, const String& subKey, uint32_t access, bool* created = nullptr);
  uint32_t Create(const TRegKey& parent, const String& subKey, uint32_t access,
                  bool* created = nullptr);
  void Close();
  bool IsOpen() const { return impl_ != nullptr; }

  // RegQueryValueExW: the stored type and bytes, exactly.
  uint32_t QueryValue(const String& name, uint32_t& type, std::vector<uint8_t>& data) const;
  // RegSetValueExW.
  uint32_t SetValue(const String& name, uint32_t type, const void* data, uint32_t size);
  uint32_t DeleteValue(const String& name);
  // RegEnumKeyExW / RegEnumValueW; kErrorNoMoreItems (259) past the end.
  uint32_t EnumKey(uint32_t index, String& name) const;
  uint32_t EnumValue(uint32_t index, String& name) const;
  // RegQueryInfoKeyW: counts of sub-keys and values.
  uint32_t QueryInfo(uint32_t& subKeys, uint32_t& values) const;
  // RegDeleteKeyExW of a sub-key without sub-keys of its own, in this key's view.
  uint32_t DeleteSubKey(const String& subKey);

  // Typed helpers. Strings are stored with their terminating zero:
  // (characters + 1) x 2 bytes; REG_MULTI_SZ ends with an extra zero.
  uint32_t WriteString(const String& name, const String& value, uint32_t type = kRegSz);
  uint32_t WriteDword(const String& name, uint32_t value);
  uint32_t WriteMultiString(const String& name, const std::vector<String>& values);
  uint32_t WriteBinary(const String& name, const std::vector<uint8_t>& bytes);
  // REG_SZ or REG_EXPAND_SZ only, taken as stored (up to the first zero).
  bool ReadString(const String& name, String& value) const;
  bool ReadDword(const String& name, uint32_t& value) const;
  bool ReadMultiString(const String& name, std::vector<String>& values) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Deletes the key and everything below it, depth first, sub-keys from the
// last index down. A key that does not exist is no error (returns 0).
uint32_t DeleteKeyTree(RegRoot root, const String& subKey, uint32_t viewFlags = 0);

}  // namespace platform
