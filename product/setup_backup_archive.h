// The backup archive: a standard ZIP file with Deflate entries whose names
// are stored as given (backslashes as separators) and marked as UTF-8
// (general-purpose flag bit 11) in every header.
//
// The archive is written under a temporary name beside its final name and
// renamed only when it is complete, so a failed or cancelled backup never
// leaves a partial archive under the final name (nor under the temporary
// one).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "lib/strings.h"
#include "product/setup_helper.h"

class TSetupBackupArchive {
 public:
  TSetupBackupArchive() = delete;

  // The temporary name of an archive while it is written.
  static String TempName(const String& path) { return path + u".part"; }

  // Called after each item has been read into the archive (index in list
  // order).
  using TOnItem = std::function<void(int index)>;

  // The texts of the errors, by key of the language's "Common" section; an
  // empty text (or no source) stands for the English one.
  using TTexts = std::function<String(StringView key)>;

  // Writes the files of the list (each must have its size in sizes, same
  // order) into a new archive at path, replacing an archive of that name.
  // A file that cannot be read raises EInstallerBackupError with a message
  // that names it and says what to do: "E5" (another program uses it, with
  // the file), "E6" (with the file and the system's reason); a failure to
  // write the archive raises "E7" with the archive's name and the reason. When
  // cancel becomes true the writing stops with EInstallerBackupError
  // "Backup cancelled". In every failure no file is left behind.
  // beforeWriting, when given, is called once, before anything is written
  // to disk: the archive is held in memory until then (up to a few MiB,
  // beyond which the writing waits for it, or to its end). What it raises
  // ends the writing, with nothing written, and is raised as it is.
  static void Write(const String& path, const TSetupFileList& files,
                    const std::vector<uint64_t>& sizes, const TOnItem& onItem,
                    const std::atomic<bool>* cancel = nullptr,
                    const std::function<void()>& beforeWriting = nullptr,
                    const TTexts& texts = nullptr);
};
