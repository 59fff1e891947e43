// Native stand-in: the library's portable text services (Unicode simple case
// folding, Windows-1252 as the ANSI code page) with files reached through the
// stand-in's mapped drives and sharing rules. Only paths with a drive letter or
// a leading backslash are Windows paths; others (host paths such as the
// tests' data folders, relative host paths of native tools) go to the C library.
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

bool IsHostPath(const String& path) {
  const bool drive = path.size() >= 2 && path[1] == u':';
  const bool rooted = !path.empty() && path[0] == u'\\';
  return !drive && !rooted;
}

class TStandInSystemServices : public TVelSystemServices {
 public:
  std::unique_ptr<TStream> OpenFileRead(const String& path, String& error) override {
    if (IsHostPath(path)) return TVelSystemServices::OpenFileRead(path, error);
    auto s = platform::OpenFileShared(path, platform::kGenericRead,
                                      platform::kFileShareRead | platform::kFileShareWrite,
                                      platform::kOpenExisting);
    if (!s) error = platform::SystemErrorText(platform::LastError());
    return s;
  }
  std::unique_ptr<TStream> CreateFileWrite(const String& path, String& error) override {
    if (IsHostPath(path)) return TVelSystemServices::CreateFileWrite(path, error);
    auto s = platform::OpenFileShared(path, platform::kGenericRead | platform::kGenericWrite,
                                      platform::kFileShareRead, platform::kCreateAlways);
    if (!s) error = platform::SystemErrorText(platform::LastError());
    return s;
  }
  bool ClearFileAttributes(const String& path) override {
    if (IsHostPath(path)) return TVelSystemServices::ClearFileAttributes(path);
    return platform::SetAttributes(path, platform::kFileAttributeNormal);
  }
};

TStandInSystemServices g_services;

}  // namespace

namespace platform {
void Initialize() {
  posix_internal::MarkMainThread();
  SetVelSystem(&g_services);
}
}  // namespace platform
