// The product's action and page classes by name. Each class registers
// itself where it is defined (a static TSetupClassRegistrar), so the product
// description can list its steps and pages in order by name and hand out the
// classes that this program contains.
#pragma once

#include "core/setup_product_info.h"
#include <functional>
#include <vector>

#include "lib/strings.h"

// Registers a class under its name; a second registration replaces the first.
void RegisterSetupActionClass(StringView name, TSetupActionClass actionClass);
void RegisterSetupPageClass(StringView name, TSetupPageClass pageClass);
// The class registered under that name (exact spelling); null when none.
const TSetupActionClass* FindSetupActionClass(StringView name);
TSetupPageClass FindSetupPageClass(StringView name);
// Hands out the classes of the named steps, in order. A name without a class
// is a fault of this program, not a step to leave out (a run without its
// steps would report success for work it never did): EInstallerGeneralError
// "Setup is malformed", raised before any class is handed out.
void EnumActionClasses(const std::vector<String>& names,
                       const std::function<void(const TSetupActionClass&)>& callback);
// Removes a registration (tests).
void UnregisterSetupClass(StringView name);

class TSetupClassRegistrar {
 public:
  TSetupClassRegistrar(StringView name, TSetupActionClass actionClass) {
    RegisterSetupActionClass(name, std::move(actionClass));
  }
  TSetupClassRegistrar(StringView name, TSetupPageClass pageClass) {
    RegisterSetupPageClass(name, pageClass);
  }
};
