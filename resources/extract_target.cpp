// What the extraction does with a target file that cannot be written: skip
// it when it already holds the right bytes, move it aside, or ask the user.
#include <algorithm>
#include <cstring>
#include <vector>

#include "lib/exceptions.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/crypto.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/setup_helpers.h"
#include "resources/setup_resources.h"

namespace {

// The MD5 digest of the existing file as hexadecimal text. Raises the open
// error when it cannot be read.
String FileDigest(const String& path) {
  std::unique_ptr<TStream> file = platform::OpenFileShared(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting);
  if (!file) throw EFOpenError(path, platform::SystemErrorText(platform::LastError()));
  return platform::DigestToHex(platform::Md5(*file));
}

}  // namespace

// Unbuffered: each file is written in large pieces, and a write the file
// does not take is reported at once.
std::unique_ptr<TStream> TSetupExtractHelper::OpenTarget(const String& path) {
  // A link at the name is replaced, never written through.
  if (platform::IsLink(path) && !platform::RemoveFile(path)) platform::RemoveFolder(path);
  return platform::OpenFileShared(path, platform::kGenericWrite,
                                  platform::kFileShareRead | platform::kFileShareWrite,
                                  platform::kCreateAlways);
}

bool TSetupExtractHelper::CreateTargetStream(const String& targetPath, TStream& source,
                                             std::unique_ptr<TStream>& target) {
  target = OpenTarget(targetPath);
  if (target) return true;

  // Held open by someone else (a running program, say): nothing to do when
  // it already is what would be written.
  const int64_t start = source.Position();
  const String existing = FileDigest(targetPath);
  const String wanted = platform::DigestToHex(platform::Md5(source));
  source.SetPosition(start);
  if (SameTextLocale(existing, wanted)) {
    RunLog(u"Kept (in use, same content): " + targetPath);
    return false;
  }

  // A file in use can often still be renamed; the new one takes its place.
  // A ".bak" left by an earlier run would stop the rename: it goes first
  // (deferred to the restart when it is still in use itself).
  const String backup = targetPath + u".bak";
  if (platform::FileExists(backup)) {
    DeleteFileOrDefer(backup);
    RunLog(platform::FileExists(backup) ? u"Cannot remove earlier copy: " + backup
                                        : u"Removed earlier copy: " + backup);
  }
  if (platform::MoveFileTo(targetPath, backup)) {
    // The renamed file is still in use: the system deletes it at restart.
    DeleteOnReboot(backup);
    RunLog(u"Renamed (in use): " + targetPath + u" -> " + backup +
           u", to be deleted at the next restart");
  }

  for (;;) {
    target = OpenTarget(targetPath);
    if (target) return true;
    const int answer = AskUser(FormatText(u"QM2", {targetPath}),
                               kMbAbortRetryIgnore | kMbIconWarning | kMbDefButton2);
    if (answer == kIdRetry) continue;
    if (answer == kIdIgnore) {
      RunLog(u"Skipped (in use, ignored by the user): " + targetPath);
      return false;
    }
    // Abort, and every answer that nobody gave (no box could be shown, a
    // desktop nobody sees, suppressed boxes): skipping the file unasked
    // would report an incomplete installation as a success.
    throw EInstallerInstallError(FormatText(u"E1", {targetPath}));
  }
}

int TSetupExtractHelper::AskUser(const String& text, uint32_t flags) {
  if (!messageBox_) return kIdAbort;
  return messageBox_(text, String(), flags);
}
