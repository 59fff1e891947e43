// The product of the start-up tests and of the test installer executable.
//
// Installation: the first action writes "worker.txt" into the destination
// ("main=0" when it ran on the worker thread); with "fail2.txt" in the
// destination it also records the error "First problem" and goes on. The
// second action fails with "Action failed in <destination>" when "fail.txt"
// or "fail2.txt" is there. The third extracts the script's components.
// Uninstallation: one action writes "uninstalled.txt" into the destination
// with this program's path and the destination.
#pragma once

#include <memory>

#include "core/setup_product_info.h"

std::unique_ptr<TSetupProductInfo> CreateAppTestProduct();
