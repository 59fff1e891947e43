// Folders that only administrators may change, and reading back who may
// change a file or folder.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/strings.h"

namespace platform {

// Well-known accounts in their string form.
inline constexpr char16_t kSidAdministrators[] = u"S-1-5-32-544";
inline constexpr char16_t kSidLocalSystem[] = u"S-1-5-18";
inline constexpr char16_t kSidUsers[] = u"S-1-5-32-545";

// Access rights that let a holder change a file or folder, its content or
// its permissions (FILE_WRITE_DATA/ADD_FILE, FILE_APPEND_DATA/ADD_SUBDIRECTORY,
// FILE_WRITE_EA, FILE_DELETE_CHILD, FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL).
constexpr uint32_t kWriteAccessRights = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 |
                                        0x80000 | 0x40000000 | 0x10000000;

// A folder made by CreatePrivateFolder. While the object lives the folder is
// held open without delete sharing, so that nobody can rename, move or
// delete it (or a folder above it) and put another one in its place.
class TPrivateFolder {
 public:
  virtual ~TPrivateFolder() = default;
  // With a trailing backslash.
  const String& Path() const { return path_; }

 protected:
  String path_;
};

// Creates a new folder in parent, named prefix followed by 16 random
// hexadecimal digits, whose access list grants full access to the
// Administrators group and the system account and to nobody else; it does not
// inherit anything from parent, and on Windows it is owned by the
// Administrators group. The folder is created with that descriptor, so there
// is no moment at which anybody else may write it. An existing name is never
// taken over: another is chosen. Null with LastError() on failure.
std::unique_ptr<TPrivateFolder> CreatePrivateFolder(const String& parent, const String& prefix);

// Access lists of folders the installer makes for itself.
enum class TFolderAccess {
  // Only the administrators and the system may read or change it (the
  // backups, which hold every user's data).
  AdministratorsOnly,
  // As the program-files folder: the administrators and the system may
  // change it, users read it and run what is in it (an installation folder
  // made elsewhere).
  LikeProgramFiles,
};

// Gives the folder that access list, protected from inheritance; what is
// put into it later inherits it. A link in the folder's place is not
// followed: false with 4390. Under Wine,
// which keeps no file security descriptors, it succeeds without effect.
bool SetFolderAccess(const String& folder, TFolderAccess access);

// One entry of an access list.
struct TAccessEntry {
  String sid;  // string form, e.g. "S-1-5-32-544"
  bool allow = true;
  uint32_t mask = 0;
};

// What the security descriptor of a file or folder says
// (GetNamedSecurityInfoW): its owner, whether its access list is protected
// from inheritance, and the entries of the list.
struct TSecurityInfo {
  String owner;
  bool protectedAcl = false;
  std::vector<TAccessEntry> entries;
};
bool ReadSecurityInfo(const String& path, TSecurityInfo& info);

// The machine-wide lock that lets one installer run at a time: a mutex in
// the global namespace ("Global\" + name), created owned by the
// Administrators group with an access list that grants the Administrators
// group and the system account alone. An object of that name that somebody
// else made first (a standard user who wants to keep administrators from
// installing) does not count: the run goes on without the lock.
class TRunLock {
 public:
  virtual ~TRunLock() = default;  // releases the lock
  // False when the object of that name is not an installer's (see above):
  // nothing is locked.
  bool Guarded() const { return guarded_; }

 protected:
  bool guarded_ = true;
};
// Takes the lock, waiting at most waitMs while another process holds it;
// null when it was held all that time. A lock whose holder ended without
// releasing it is taken.
std::unique_ptr<TRunLock> AcquireRunLock(const String& name, uint32_t waitMs);

// The accounts that an access list allows to change the object (entries
// granting any of kWriteAccessRights), in order, each once.
std::vector<String> AccountsWithWriteAccess(const TSecurityInfo& info);

// Whether only the Administrators group and the system account may change
// the file or folder (and, with owner, one of them owns it), as its access
// list says. False when that cannot be read, or the list is empty (Wine
// keeps none): whoever asks decides what Wine's answer means.
bool OnlyAdministratorsMayWrite(const String& path, bool owner);

}  // namespace platform
