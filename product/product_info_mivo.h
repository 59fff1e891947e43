// The product description of the Mivo player: where it is installed, which
// version is installed there, whether that copy can be updated, and the
// steps and pages of a run.
#pragma once

#include <functional>

#include "core/setup_product_info.h"
#include "lib/ini_file.h"
#include "lib/strings.h"

class TProductInfoMivo : public TSetupProductInfo {
 public:
  TProductInfoMivo();
  ~TProductInfoMivo() override;

  // The folder of an installed copy when one is found, else the default.
  String GetDefaultPath() override;
  // Installed version 3.50 up to, not including, 5.50.
  bool CanUpdate() override;
  // "UserMode" 0 in the configuration: settings kept in the program folder.
  bool IsPortable() override;
  // "Version" of section "System" of the configuration; 0 without one.
  int32_t GetInstalledVersion() override;
  // Loads "Mivo.ini" (else "Mivo3.ini") of the destination into Config and
  // gives its section "Integration" to the controller's settings.
  void LoadConfig() override;
  void EnumActions(const std::function<void(const TSetupActionClass&)>& callback) override;
  void EnumPages(const std::function<void(TSetupPageClass)>& callback) override;

  // The names of the action and page classes of the run, in order, whether
  // or not this program contains them. EnumActions hands out their classes
  // ("Setup is malformed" when one is missing), EnumPages the registered
  // pages of these.
  void EnumActionNames(const std::function<void(const String&)>& callback);
  void EnumPageNames(const std::function<void(const String&)>& callback);

  // The folder (with a trailing backslash) of an installed copy anywhere on
  // the machine: the uninstall entries "Mivo" and "Mivo3", then the folder
  // of a running player when it HoldsProtectedInstallation. False with an
  // empty path when none is found.
  static bool FindInstalledPath(String& path);
  // The folder holds an installation (its uninstall record and player) that
  // only administrators can have put there
  // (TSetupHelper::OnlyAdministratorsCanChange).
  static bool HoldsProtectedInstallation(const String& folder);
  bool FindInstalledCopy(String& path) override { return FindInstalledPath(path); }
  // The add-ons page and step are offered: an interactive, visible run in
  // the language "Russian".
  static bool AddonsAvailable();

  // The configuration of the destination as last loaded (empty for none).
  TVelIniFile Config;
};
