// The journal of a run: every change that a run makes to files, folders, the
// registry and the product's registration goes through it, recorded on disk
// before it is made. A run that fails or is cancelled undoes its changes in
// reverse order; one that was killed (or lost its power) is undone when the
// installer or the uninstaller starts next. Files that a run replaces or
// deletes are moved aside into the journal's folder (renamed, not copied)
// and deleted only when the whole run has succeeded.
//
// Without Begin the journal is idle and every call makes its change at once,
// as it would without undoing (steps run alone, in tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"
#include "platform/registry.h"

// One value of a registry key, as recorded.
struct TJournalValue {
  String Name;
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

// One change, as the journal records it.
struct TJournalRecord {
  enum class TKind : uint8_t {
    Moved,          // Path was moved aside to Other (file or folder)
    Copied,         // Path's content was copied to Other (the file stayed)
    Created,        // Path is a file the run creates
    Archive,        // Path is the run's backup archive: kept when undoing fails
    FolderCreated,  // Path is a folder the run creates
    FolderRemoved,  // Path was an empty folder the run removed
    Renamed,        // Path was renamed to Other
    Key,            // the registry key Path (Root, View) had Values (or none: !Existed)
    Run,            // undoing runs the command line Other at this point
    RunAfter,       // undoing runs the command line Other when the files are back
    Register,       // undoing registers the library Path when the files are back
    Committed,      // the run succeeded: what was moved aside may go
  };
  TKind Kind = TKind::Created;
  String Path;
  String Other;
  String Base;  // the folder from which Path is reached without links; empty: by path
  uint32_t Root = 0;
  uint32_t View = 0;
  bool Existed = false;
  std::vector<TJournalValue> Values;
};

// The text of the record (one line, UTF-8, with its line end).
std::string FormatJournalRecord(const TJournalRecord& record);
// Reads a journal's text: its first line names the format, then one record
// per line. A journal cut short by a kill ends in a partial line, which is
// ignored. False for a text that is not a journal or a line that is no
// record; the records up to it are in `records`.
bool ParseJournal(std::string_view text, std::vector<TJournalRecord>& records);

class TSetupJournal {
 public:
  // The journal of runs whose files lie in folder (with trailing backslash).
  explicit TSetupJournal(String folder);
  TSetupJournal(const TSetupJournal&) = delete;
  TSetupJournal& operator=(const TSetupJournal&) = delete;
  ~TSetupJournal();

  // The folder of the product's journal: "<program data>\<product> Setup\".
  static String FolderFor(const String& productName);

  // Starts recording. Raises EInstallerInstallError when the journal cannot
  // be written (nothing has changed then).
  void Begin();
  bool Active() const { return file_ != nullptr; }
  // Whether the run has recorded any change.
  bool HasChanges() const;

  // ---- files ----
  // Removes the file (a link at its name is removed itself): moved aside.
  // With base, its folder is reached from base without following a link;
  // false when it cannot be (nothing removed). A missing file is no failure.
  // A file that cannot be moved (held open) has its content copied aside
  // and is deleted as far as it can be, or at the next restart.
  bool RemoveFile(const String& path, const String& base = {});
  // The same for many files, recorded in one write.
  // onEach, when given, is called after each file.
  void RemoveFiles(const std::vector<String>& paths, const std::vector<String>& bases,
                   const std::function<void()>& onEach = {});
  // Removes the folder with everything in it: moved aside whole; when that
  // cannot be (held, another drive), deleted as far as it can be (named in
  // the log: that part cannot be undone).
  void RemoveFolder(const String& folder, const String& base = {});
  // Removes the folder when it is empty.
  void RemoveEmptyFolder(const String& folder, const String& base = {});
  // The same for many folders, in their order, recorded in one write;
  // onEach, when given, is called after each folder.
  void RemoveEmptyFolders(const std::vector<String>& folders, const std::vector<String>& bases,
                          const std::function<void()>& onEach = {});
  // Before the files are written: those that exist are moved aside, the
  // others (and their missing folders) recorded as the run's.
  void WillWrite(const std::vector<String>& paths, const String& base = {});
  // Before files are replaced in one step (written beside, then renamed
  // over the old one): the old ones stay in place until then, their content
  // copied aside; those that do not exist are recorded as the run's.
  void WillReplace(const std::vector<String>& paths, const String& base = {});
  // Before a folder and its missing parents are made.
  void WillCreateFolder(const String& folder);
  // Before the run's backup archive is written (and its partial file).
  void WillWriteArchive(const String& archive, const String& partial);
  // Before a file is renamed in its folder.
  void WillRename(const String& from, const String& to, const String& base = {});
  // Where the content that the file had before the run is now: its aside
  // copy when the run moved it aside, else the path itself.
  String OldContentOf(const String& path) const;

  // ---- registry and registration ----
  // Before the key's values change (or the key goes): they are recorded.
  void WillChangeKey(platform::RegRoot root, const String& subKey, uint32_t view);
  // Undoing runs the command line (a registration program with its choices)
  // at this point of the undoing, or with afterFiles when every file is back.
  void UndoByRunning(const String& commandLine, bool afterFiles);
  // Undoing registers the library again once the files are back.
  void UndoByRegistering(const String& library);

  // ---- the end of a run ----
  // The run succeeded: what was moved aside is deleted, the journal too.
  void Commit();
  // Undoes the run's changes in reverse order; true when everything was
  // restored. The log names each thing restored and each thing left.
  bool Rollback();
  // A journal left by a run that ended without Commit or Rollback (killed)
  // is undone (a committed one only cleaned up); nothing happens while
  // another run holds it. True when something was undone.
  static bool Recover(const String& folder);

 private:
  void Append(const std::vector<TJournalRecord>& records);
  String NextAside();
  bool MoveAside(const String& path, const String& base, const String& aside);
  bool CopyAside(const String& path, const String& base, const String& aside);
  static bool Undo(const std::vector<TJournalRecord>& records);
  static void Cleanup(const String& folder);

  String folder_;
  std::unique_ptr<TStream> file_;
  uint32_t counter_ = 0;
  std::vector<TJournalRecord> records_;
  mutable std::mutex lock_;
};
