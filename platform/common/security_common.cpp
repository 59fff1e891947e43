// Reading access lists, on the platform interfaces.
#include <algorithm>

#include "platform/security.h"

namespace platform {

std::vector<String> AccountsWithWriteAccess(const TSecurityInfo& info) {
  std::vector<String> accounts;
  for (const TAccessEntry& entry : info.entries)
    if (entry.allow && (entry.mask & kWriteAccessRights) &&
        std::find(accounts.begin(), accounts.end(), entry.sid) == accounts.end())
      accounts.push_back(entry.sid);
  return accounts;
}

bool OnlyAdministratorsMayWrite(const String& path, bool owner) {
  TSecurityInfo info;
  if (!ReadSecurityInfo(path, info) || info.entries.empty()) return false;
  const auto administrative = [](const String& sid) {
    return sid == kSidAdministrators || sid == kSidLocalSystem;
  };
  if (owner && !administrative(info.owner)) return false;
  for (const String& account : AccountsWithWriteAccess(info))
    if (!administrative(account)) return false;
  return true;
}

}  // namespace platform
