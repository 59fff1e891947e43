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

}  // namespace platform
