#include "resources/installer_errors.h"

EInstallerNoAdminRightsError::EInstallerNoAdminRightsError()
    : EInstallerGeneralError(u"Administrator rights are required to process this operation.") {}
