// The product description: everything the installer core asks about the
// product it installs. The core knows only this abstract class; the product
// registers its concrete class before the program's entry point runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "lib/strings.h"

class TSetupAction;

// An action class: creates a new instance of the class (the virtual
// constructor of an action).
using TSetupActionClass = std::function<std::unique_ptr<TSetupAction>()>;

template <typename T>
TSetupActionClass ActionClass() {
  return [] { return std::unique_ptr<TSetupAction>(new T()); };
}

// A page class of the wizard. The wizard defines what the record holds; the
// core only hands references on.
struct TSetupPageClassInfo;
using TSetupPageClass = const TSetupPageClassInfo*;

class TSetupProductInfo {
 public:
  TSetupProductInfo() = default;
  TSetupProductInfo(const TSetupProductInfo&) = delete;
  TSetupProductInfo& operator=(const TSetupProductInfo&) = delete;
  virtual ~TSetupProductInfo() = default;

  // The default destination folder, with a trailing backslash: the
  // program-files folder + product name + "\".
  virtual String GetDefaultPath();
  // The default folder of a portable installation: the user's desktop +
  // product name + "\".
  virtual String GetDefaultPortablePath();
  // Script setting "HomePage".
  virtual String GetHomePage();
  // The installation in the destination folder can be updated in place.
  virtual bool CanUpdate() = 0;
  // The installation in the destination folder is a portable one.
  virtual bool IsPortable() = 0;
  // The installed version (major * 1000 + minor * 10 + last digit), 0 for none.
  virtual int32_t GetInstalledVersion() = 0;
  // The folder of an installation of the product anywhere on the computer;
  // false (none found) by default.
  virtual bool FindInstalledCopy(String& path) {
    path.clear();
    return false;
  }
  // Whether another copy of the product deserves a warning (on the setup
  // page and in the summary): never for an update; an installed version at
  // the destination; else, unless portable, a copy installed anywhere on the
  // computer.
  bool OtherCopyWarning();
  // Script setting "ProductName"; EInstallerGeneralError "Setup has wrong
  // config" when it is empty.
  virtual String GetProductName();
  // Script setting "Publisher".
  virtual String GetPublisher();
  // Script setting "ProductVersion".
  virtual String GetProductVersion();
  // Script setting "ProductVersionId" as a number; 0 when it is none.
  virtual int32_t GetProductVersionId();
  // GetProductVersion + ", " + script setting "BuildDate".
  virtual String GetProductVersionInfo();
  // Reads the installed product's configuration from the destination folder.
  virtual void LoadConfig() = 0;
  // Calls callback once per action class of the run, in order.
  virtual void EnumActions(const std::function<void(const TSetupActionClass&)>& callback) = 0;
  // Calls callback once per page class of the wizard, in order.
  virtual void EnumPages(const std::function<void(TSetupPageClass)>& callback) = 0;

  // Script setting "ProductVersionNo".
  String GetProductVersionNo();
  // GetInstalledVersion as "5.40" (VersionText).
  String GetInstalledVersionText();
};

// A version number as text: v div 1000, ".", (v mod 1000) div 10 with two
// digits. 5402 gives "5.40", 3010 "3.01", 0 "0.00".
String VersionText(int32_t version);

// The class of the product description that the controller creates.
using TSetupProductInfoClass = std::unique_ptr<TSetupProductInfo> (*)();

template <typename T>
std::unique_ptr<TSetupProductInfo> CreateProductInfo() {
  return std::unique_ptr<TSetupProductInfo>(new T());
}

// The registered class; null when none is registered.
TSetupProductInfoClass ProductInfoClass();
void SetProductInfoClass(TSetupProductInfoClass productClass);

// Registers a product class while the program initialises:
//   static TSetupProductInfoRegistrar registrar(&CreateProductInfo<TProductInfoMivo>);
// The installer links product libraries whole, so that such an object is kept.
class TSetupProductInfoRegistrar {
 public:
  explicit TSetupProductInfoRegistrar(TSetupProductInfoClass productClass) {
    SetProductInfoClass(productClass);
  }
};
