// The installer's error classes. Each carries only its message.
#pragma once

#include "lib/exceptions.h"

class EInstallerGeneralError : public Exception {
 public:
  using Exception::Exception;
};

class EInstallerBackupError : public EInstallerGeneralError {
 public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

class EInstallerInstallError : public EInstallerGeneralError {
 public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

// "Cannot install update on v%s"
class EInstallerUpdateError : public EInstallerInstallError {
 public:
  using EInstallerInstallError::EInstallerInstallError;
};

class EInstallerMysteryError : public EInstallerGeneralError {
 public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

// "Administrator rights are required to process this operation."
class EInstallerNoAdminRightsError : public EInstallerGeneralError {
 public:
  EInstallerNoAdminRightsError();
};
