// The stand-in's registry: one in-memory tree per process. Names of keys and
// values compare without regard to case; sub-keys enumerate in name order,
// values in the order they were first written. HKLM\Software has a separate
// 32-bit view below "Wow6432Node", like on 64-bit Windows; HKCU is the
// current user's hive below HKU.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/internal.h"
#include "platform/registry.h"

namespace platform {
namespace {

using namespace posix_internal;

constexpr const char16_t* kUserSid = u"S-1-5-21-1000000000-1000000000-1000000000-1001";

struct TNode {
  String name;
  TNode* parent = nullptr;
  bool deleted = false;
  bool is_hklm = false;
  std::map<String, std::shared_ptr<TNode>> children;  // folded name -> key
  struct TValue {
    String name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  std::vector<TValue> values;

  TValue* FindValue(const String& n) {
    for (auto& v : values)
      if (SameName(v.name, n)) return &v;
    return nullptr;
  }
};

struct TRegistry {
  std::recursive_mutex mutex;
  std::shared_ptr<TNode> hklm, hku, hkcr;
};

TRegistry& Registry() {
  static TRegistry* r = new TRegistry();
  return *r;
}

std::vector<String> SplitKey(const String& path) {
  std::vector<String> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == String::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

TNode* Child(TNode* node, const String& name, bool create, bool* created) {
  const String key = Fold(name);
  auto it = node->children.find(key);
  if (it != node->children.end()) return it->second.get();
  if (!create) return nullptr;
  auto child = std::make_shared<TNode>();
  child->name = name;
  child->parent = node;
  node->children[key] = child;
  if (created) *created = true;
  return child.get();
}

// Walks the path from a key; the 32-bit view turns HKLM\Software into
// HKLM\Software\Wow6432Node.
TNode* Walk(TNode* node, const String& path, bool view32, bool create, bool* created,
            std::shared_ptr<TNode>* holder) {
  for (const String& part : SplitKey(path)) {
    const bool fromHklm = node->is_hklm;
    node = Child(node, part, create, created);
    if (!node) return nullptr;
    if (fromHklm && view32 && SameName(part, u"Software")) {
      node = Child(node, u"Wow6432Node", create, created);
      if (!node) return nullptr;
    }
  }
  (void)holder;
  return node;
}

std::shared_ptr<TNode> Shared(TNode* node) {
  if (!node->parent) {
    TRegistry& r = Registry();
    for (auto& root : {r.hklm, r.hku, r.hkcr})
      if (root.get() == node) return root;
    return nullptr;
  }
  return node->parent->children.at(Fold(node->name));
}

TNode* RootNode(RegRoot root) {
  TRegistry& r = Registry();
  switch (root) {
    case RegRoot::LocalMachine:
      return r.hklm.get();
    case RegRoot::Users:
      return r.hku.get();
    case RegRoot::ClassesRoot:
      return r.hkcr.get();
    case RegRoot::CurrentUser:
      return Walk(r.hku.get(), kUserSid, false, true, nullptr, nullptr);
  }
  return nullptr;
}

void SetDefaults() {
  TRegistry& r = Registry();
  r.hklm = std::make_shared<TNode>();
  r.hklm->name = u"HKEY_LOCAL_MACHINE";
  r.hklm->is_hklm = true;
  r.hku = std::make_shared<TNode>();
  r.hku->name = u"HKEY_USERS";
  r.hkcr = std::make_shared<TNode>();
  r.hkcr->name = u"HKEY_CLASSES_ROOT";
  for (const char16_t* key : {u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                              u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                              u"SYSTEM\\CurrentControlSet\\Control\\Session Manager"}) {
    Walk(r.hklm.get(), key, false, true, nullptr, nullptr);
    Walk(r.hklm.get(), key, true, true, nullptr, nullptr);
  }
  // The current user in the profile list and in HKU, with the default hive.
  TNode* profile =
      Walk(r.hklm.get(),
           String(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + kUserSid,
           false, true, nullptr, nullptr);
  const String image = u"C:\\Users\\User";
  std::vector<uint8_t> data(reinterpret_cast<const uint8_t*>(image.c_str()),
                            reinterpret_cast<const uint8_t*>(image.c_str() + image.size() + 1));
  profile->values.push_back({u"ProfileImagePath", kRegExpandSz, data});
  const String folders =
      u"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const String appData = u"%USERPROFILE%\\AppData\\Roaming";
  std::vector<uint8_t> appBytes(
      reinterpret_cast<const uint8_t*>(appData.c_str()),
      reinterpret_cast<const uint8_t*>(appData.c_str() + appData.size() + 1));
  for (const String& hive : {String(kUserSid), String(u".DEFAULT")}) {
    TNode* n = Walk(r.hku.get(), hive + folders, false, true, nullptr, nullptr);
    n->values.push_back({u"AppData", kRegExpandSz, appBytes});
  }
  Walk(r.hkcr.get(), u"*", false, true, nullptr, nullptr);
}

void EnsureRegistry() {
  if (!Registry().hklm) SetDefaults();
}

void MarkDeleted(TNode* node) {
  node->deleted = true;
  for (auto& [name, child] : node->children) MarkDeleted(child.get());
}

}  // namespace

struct TRegKey::Impl {
  std::shared_ptr<TNode> node;
  bool view32 = false;
  uint32_t access = 0;
};

TRegKey::TRegKey() = default;
TRegKey::~TRegKey() = default;
TRegKey::TRegKey(TRegKey&& other) noexcept = default;
TRegKey& TRegKey::operator=(TRegKey&& other) noexcept = default;

namespace {

uint32_t OpenFrom(TNode* from, bool view32, const String& subKey, uint32_t access, bool create,
                  bool* created, std::unique_ptr<TRegKey::Impl>& out) {
  if (from->deleted) return kErrorKeyDeleted;
  if (created) *created = false;
  TNode* node = Walk(from, subKey, view32, create, created, nullptr);
  if (!node) return kErrorFileNotFound;
  out = std::make_unique<TRegKey::Impl>();
  out->node = Shared(node);
  out->view32 = view32;
  out->access = access;
  return kErrorSuccess;
}

}  // namespace

namespace {
// The view of a key opened below another: an explicit view flag wins, else
// the parent's view.
bool ChildView(uint32_t access, bool parentView32) {
  if (access & kKeyWow64_32Key) return true;
  if (access & kKeyWow64_64Key) return false;
  return parentView32;
}
}  // namespace

uint32_t TRegKey::Open(RegRoot root, const String& subKey, uint32_t access) {
  std::lock_guard lock(Registry().mutex);
  EnsureRegistry();
  impl_.reset();
  return OpenFrom(RootNode(root), (access & kKeyWow64_32Key) != 0, subKey, access, false, nullptr,
                  impl_);
}

uint32_t TRegKey::Open(const TRegKey& parent, const String& subKey, uint32_t access) {
  std::lock_guard lock(Registry().mutex);
  if (!parent.impl_) return kErrorInvalidHandle;
  std::unique_ptr<Impl> result;
  const bool view32 = ChildView(access, parent.impl_->view32);
  const uint32_t rc =
      OpenFrom(parent.impl_->node.get(), view32, subKey, access, false, nullptr, result);
  impl_ = std::move(result);
  return rc;
}

uint32_t TRegKey::Create(RegRoot root, const String& subKey, uint32_t access, bool* created) {
  std::lock_guard lock(Registry().mutex);
  EnsureRegistry();
  impl_.reset();
  return OpenFrom(RootNode(root), (access & kKeyWow64_32Key) != 0, subKey, access, true, created,
                  impl_);
}

uint32_t TRegKey::Create(const TRegKey& parent, const String& subKey, uint32_t access,
                         bool* created) {
  std::lock_guard lock(Registry().mutex);
  if (!parent.impl_) return kErrorInvalidHandle;
  std::unique_ptr<Impl> result;
  const bool view32 = ChildView(access, parent.impl_->view32);
  const uint32_t rc =
      OpenFrom(parent.impl_->node.get(), view32, subKey, access, true, created, result);
  impl_ = std::move(result);
  return rc;
}

void TRegKey::Close() {
  impl_.reset();
}

uint32_t TRegKey::QueryValue(const String& name, uint32_t& type, std::vector<uint8_t>& data) const {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (!(impl_->access & kKeyQueryValue)) return kErrorAccessDenied;
  const auto* v = impl_->node->FindValue(name);
  if (!v) return kErrorFileNotFound;
  type = v->type;
  data = v->data;
  return kErrorSuccess;
}

uint32_t TRegKey::SetValue(const String& name, uint32_t type, const void* data, uint32_t size) {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (!(impl_->access & kKeySetValue)) return kErrorAccessDenied;
  std::vector<uint8_t> bytes(static_cast<const uint8_t*>(data),
                             static_cast<const uint8_t*>(data) + size);
  if (auto* v = impl_->node->FindValue(name)) {
    v->type = type;
    v->data = std::move(bytes);
  } else {
    impl_->node->values.push_back({name, type, std::move(bytes)});
  }
  return kErrorSuccess;
}

uint32_t TRegKey::DeleteValue(const String& name) {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (!(impl_->access & kKeySetValue)) return kErrorAccessDenied;
  auto& values = impl_->node->values;
  for (size_t i = 0; i < values.size(); ++i)
    if (SameName(values[i].name, name)) {
      values.erase(values.begin() + static_cast<ptrdiff_t>(i));
      return kErrorSuccess;
    }
  return kErrorFileNotFound;
}

uint32_t TRegKey::EnumKey(uint32_t index, String& name) const {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (!(impl_->access & kKeyEnumerateSubKeys)) return kErrorAccessDenied;
  auto& children = impl_->node->children;
  if (index >= children.size()) return kErrorNoMoreItems;
  auto it = children.begin();
  std::advance(it, index);
  name = it->second->name;
  return kErrorSuccess;
}

uint32_t TRegKey::EnumValue(uint32_t index, String& name) const {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (!(impl_->access & kKeyQueryValue)) return kErrorAccessDenied;
  if (index >= impl_->node->values.size()) return kErrorNoMoreItems;
  name = impl_->node->values[index].name;
  return kErrorSuccess;
}

uint32_t TRegKey::QueryInfo(uint32_t& subKeys, uint32_t& values) const {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  subKeys = static_cast<uint32_t>(impl_->node->children.size());
  values = static_cast<uint32_t>(impl_->node->values.size());
  return kErrorSuccess;
}

uint32_t TRegKey::DeleteSubKey(const String& subKey) {
  std::lock_guard lock(Registry().mutex);
  if (!impl_) return kErrorInvalidHandle;
  if (impl_->node->deleted) return kErrorKeyDeleted;
  if (SplitKey(subKey).empty()) return kErrorInvalidParameter;
  TNode* node = Walk(impl_->node.get(), subKey, impl_->view32, false, nullptr, nullptr);
  if (!node) return kErrorFileNotFound;
  if (!node->children.empty()) return kErrorAccessDenied;
  MarkDeleted(node);
  node->parent->children.erase(Fold(node->name));
  return kErrorSuccess;
}

namespace posix_internal {

void ResetRegistry() {
  std::lock_guard lock(Registry().mutex);
  TRegistry& r = Registry();
  for (auto* root : {r.hklm.get(), r.hku.get(), r.hkcr.get()})
    if (root) MarkDeleted(root);
  SetDefaults();
}

void RecordPendingRename(const String& source, const String& target, bool replace) {
  // Like Windows: NT paths ("\??\" + path), the target "" for a deletion and
  // "!" in front of a target that may be replaced; appended to the list.
  TRegKey key;
  if (key.Create(RegRoot::LocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                 kKeyAllAccess) != kErrorSuccess)
    return;
  std::vector<String> entries;
  key.ReadMultiString(u"PendingFileRenameOperations", entries);
  entries.push_back(u"\\??\\" + source);
  entries.push_back(target.empty() ? String() : (replace ? u"!\\??\\" : u"\\??\\") + target);
  key.WriteMultiString(u"PendingFileRenameOperations", entries);
}

}  // namespace posix_internal

}  // namespace platform
