#include "product/setup_classes.h"

#include <map>
#include <mutex>

#include "resources/installer_errors.h"

namespace {

struct TRegistry {
  std::mutex lock;
  std::map<String, TSetupActionClass, std::less<>> actions;
  std::map<String, TSetupPageClass, std::less<>> pages;
};

// Built on first use: registrars run while the program initialises, in any order.
TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void RegisterSetupActionClass(StringView name, TSetupActionClass actionClass) {
  std::lock_guard lock(Registry().lock);
  Registry().actions[String(name)] = std::move(actionClass);
}

void RegisterSetupPageClass(StringView name, TSetupPageClass pageClass) {
  std::lock_guard lock(Registry().lock);
  Registry().pages[String(name)] = pageClass;
}

const TSetupActionClass* FindSetupActionClass(StringView name) {
  std::lock_guard lock(Registry().lock);
  const auto it = Registry().actions.find(name);
  return it == Registry().actions.end() ? nullptr : &it->second;
}

TSetupPageClass FindSetupPageClass(StringView name) {
  std::lock_guard lock(Registry().lock);
  const auto it = Registry().pages.find(name);
  return it == Registry().pages.end() ? nullptr : it->second;
}

void EnumActionClasses(const std::vector<String>& names,
                       const std::function<void(const TSetupActionClass&)>& callback) {
  std::vector<const TSetupActionClass*> classes;
  for (const String& name : names) {
    const TSetupActionClass* actionClass = FindSetupActionClass(name);
    if (!actionClass) throw EInstallerGeneralError(u"Setup is malformed");
    classes.push_back(actionClass);
  }
  for (const TSetupActionClass* actionClass : classes) callback(*actionClass);
}

void UnregisterSetupClass(StringView name) {
  std::lock_guard lock(Registry().lock);
  if (const auto it = Registry().actions.find(name); it != Registry().actions.end())
    Registry().actions.erase(it);
  if (const auto it = Registry().pages.find(name); it != Registry().pages.end())
    Registry().pages.erase(it);
}
