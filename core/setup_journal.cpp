#include "core/setup_journal.h"

#include <algorithm>
#include <map>
#include <set>

#include "lib/exceptions.h"
#include "lib/run_log.h"
#include "lib/string_list.h"
#include "lib/system.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "resources/installer_errors.h"

namespace {

using TKind = TJournalRecord::TKind;
using THeld = std::unique_ptr<platform::TFolderHandle>;

constexpr std::string_view kHeader = "Setup journal 1";
constexpr char16_t kJournalName[] = u"Journal.txt";
constexpr char16_t kAsideFolder[] = u"Undo\\";

struct TKindName {
  TKind kind;
  std::string_view name;
};
constexpr TKindName kKindNames[] = {
    {TKind::Moved, "moved"},           {TKind::Copied, "copied"},
    {TKind::Created, "created"},       {TKind::Archive, "archive"},
    {TKind::FolderCreated, "mkdir"},   {TKind::FolderRemoved, "rmdir"},
    {TKind::Renamed, "renamed"},       {TKind::Key, "key"},
    {TKind::Run, "run"},               {TKind::RunAfter, "run-after"},
    {TKind::Register, "register"},     {TKind::Committed, "committed"},
};

// Fields are UTF-8 with '%', control characters and DEL written as %XX: a
// field never holds the tab or line end that separate them.
void AppendField(std::string& line, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  line += '\t';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '%') {
      line += '%';
      line += kHex[u >> 4];
      line += kHex[u & 15];
    } else {
      line += c;
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool DecodeField(std::string_view field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return false;
    const int high = HexDigit(field[i + 1]), low = HexDigit(field[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool DecodeText(std::string_view field, String& out) {
  std::string bytes;
  if (!DecodeField(field, bytes)) return false;
  out = Utf8ToUtf16(bytes);
  return true;
}

bool DecodeNumber(std::string_view field, uint32_t& value) {
  if (field.empty() || field.size() > 10) return false;
  uint64_t n = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > UINT32_MAX) return false;
  value = static_cast<uint32_t>(n);
  return true;
}

bool DecodeHex(std::string_view field, std::vector<uint8_t>& data) {
  if (field.size() % 2) return false;
  data.clear();
  for (size_t i = 0; i < field.size(); i += 2) {
    const int high = HexDigit(field[i]), low = HexDigit(field[i + 1]);
    if (high < 0 || low < 0) return false;
    data.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i)
    if (i == line.size() || line[i] == '\t') {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  return fields;
}

bool ParseRecord(std::string_view line, TJournalRecord& record) {
  const std::vector<std::string_view> f = SplitTabs(line);
  if (f.size() < 8) return false;
  const auto* kind = std::find_if(std::begin(kKindNames), std::end(kKindNames),
                                  [&](const TKindName& k) { return k.name == f[0]; });
  if (kind == std::end(kKindNames)) return false;
  record = TJournalRecord{};
  record.Kind = kind->kind;
  uint32_t existed = 0, count = 0;
  if (!DecodeText(f[1], record.Path) || !DecodeText(f[2], record.Other) ||
      !DecodeText(f[3], record.Base) || !DecodeNumber(f[4], record.Root) ||
      !DecodeNumber(f[5], record.View) || !DecodeNumber(f[6], existed) || existed > 1 ||
      !DecodeNumber(f[7], count) || count > (f.size() - 8) / 3 || f.size() != 8 + 3 * size_t{count})
    return false;
  record.Existed = existed == 1;
  for (size_t i = 8; i < f.size(); i += 3) {
    TJournalValue value;
    if (!DecodeText(f[i], value.Name) || !DecodeNumber(f[i + 1], value.Type) ||
        !DecodeHex(f[i + 2], value.Data))
      return false;
    record.Values.push_back(std::move(value));
  }
  return true;
}

TJournalRecord Record(TKind kind, String path = {}, String other = {}, String base = {}) {
  TJournalRecord record;
  record.Kind = kind;
  record.Path = std::move(path);
  record.Other = std::move(other);
  record.Base = std::move(base);
  return record;
}

uint32_t Attributes(const String& path) {
  return platform::GetAttributes(ExcludeTrailingBackslash(path));
}

bool Exists(const String& path) {
  return Attributes(path) != platform::kInvalidFileAttributes;
}

bool IsFolder(uint32_t attributes) {
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory);
}

// The folder that holds path, reached from base without links (from the
// folder itself, taken as it is, without a base); made where missing with
// force.
THeld HoldParent(const String& path, const String& base, bool force) {
  const String folder = ExtractFilePath(ExcludeTrailingBackslash(path));
  if (folder.empty()) return nullptr;
  String from = base.empty() ? folder : IncludeTrailingBackslash(base);
  if (!StartsTextLocale(folder, from)) from = folder;
  if (force) {
    if (from == folder && !platform::DirectoryExists(folder)) {
      // Made from the nearest folder that exists.
      String existing = ExcludeTrailingBackslash(folder);
      while (!existing.empty() && !platform::DirectoryExists(existing)) {
        const String up = ExcludeTrailingBackslash(ExtractFilePath(existing));
        if (up.size() >= existing.size()) return nullptr;
        existing = up;
      }
      from = IncludeTrailingBackslash(existing);
    }
    return ForceFolderBelow(from, folder);
  }
  return platform::OpenFolderBelow(from, folder);
}

// Deletes what is at the path: a file, a link, or a folder when empty.
bool DeleteEntry(const String& path, const String& base) {
  const String name = ExtractFileName(ExcludeTrailingBackslash(path));
  THeld parent = HoldParent(path, base, false);
  if (!parent) return !Exists(path);
  return platform::DeleteEntryIn(*parent, name, true) || !Exists(path);
}

bool SameContent(const String& a, const String& b) {
  auto x = platform::OpenFileShared(a, platform::kGenericRead,
                                    platform::kFileShareRead | platform::kFileShareWrite,
                                    platform::kOpenExisting);
  auto y = platform::OpenFileShared(b, platform::kGenericRead,
                                    platform::kFileShareRead | platform::kFileShareWrite,
                                    platform::kOpenExisting);
  if (!x || !y || x->Size() != y->Size()) return false;
  // As far as the sizes say: a device behind a name never ends.
  std::vector<char> p(1 << 16), q(1 << 16);
  for (int64_t left = x->Size(); left > 0;) {
    const int64_t n = x->Read(p.data(), std::min<int64_t>(left, static_cast<int64_t>(p.size())));
    if (n <= 0 || y->Read(q.data(), n) != n || !std::equal(p.begin(), p.begin() + n, q.begin()))
      return false;
    left -= n;
  }
  return true;
}

// Deletes the file at once: reached from base without following a link
// (false when a link is in the way), or by path without a base, where one
// in use goes at the next restart.
bool RemoveNow(const String& path, const String& base) {
  if (!base.empty()) return DeleteFileBelow(base, path);
  DeleteFileOrDefer(path);
  return true;
}

// Whether the file is the program that runs (which may be the run's own new
// copy of the uninstaller, undoing the run that wrote it).
bool IsThisProgram(const String& path) {
  return platform::SameFile(path, platform::ModuleFileName());
}

// Moves what is at the record's path to a name beside its copy aside.
bool MoveOutOfTheWay(const TJournalRecord& r) {
  THeld parent = HoldParent(r.Path, r.Base, false);
  return parent && platform::MoveEntryFrom(*parent, ExtractFileName(ExcludeTrailingBackslash(r.Path)),
                                           r.Other + u".new");
}

// Deletes the tree at path, a folder of the journal's own that only
// administrators can write: by path, one call a file, as fast as the
// deletion it stands for. Links are removed themselves; what cannot be
// deleted now (a running program) goes at the next restart.
void DeleteOwnTree(const String& path) {
  const String folder = IncludeTrailingBackslash(path);
  std::vector<platform::TFolderEntry> entries;
  if (platform::IsLink(ExcludeTrailingBackslash(folder))) {
    platform::RemoveFolder(ExcludeTrailingBackslash(folder));
    return;
  }
  if (!platform::ListFolder(folder, entries)) return;
  for (const platform::TFolderEntry& e : entries) {
    const String item = folder + e.name;
    if (e.attributes & platform::kFileAttributeDirectory) {
      if (e.link)
        platform::RemoveFolder(item);
      else
        DeleteOwnTree(item);
      continue;
    }
    if (e.attributes & platform::kFileAttributeReadOnly)
      platform::SetAttributes(item, e.attributes & ~platform::kFileAttributeReadOnly);
    // One that is in use (a running program's image) goes at the next
    // restart, which then completes the run.
    if (!platform::RemoveFile(item)) DeleteFileOrDefer(item);
  }
  if (!platform::RemoveFolder(ExcludeTrailingBackslash(folder)))
    DeleteOnReboot(ExcludeTrailingBackslash(folder));
}

}  // namespace

std::string FormatJournalRecord(const TJournalRecord& record) {
  std::string line;
  for (const TKindName& k : kKindNames)
    if (k.kind == record.Kind) line = k.name;
  AppendField(line, Utf16ToUtf8(record.Path));
  AppendField(line, Utf16ToUtf8(record.Other));
  AppendField(line, Utf16ToUtf8(record.Base));
  AppendField(line, std::to_string(record.Root));
  AppendField(line, std::to_string(record.View));
  AppendField(line, record.Existed ? "1" : "0");
  AppendField(line, std::to_string(record.Values.size()));
  static const char kHex[] = "0123456789ABCDEF";
  for (const TJournalValue& value : record.Values) {
    AppendField(line, Utf16ToUtf8(value.Name));
    AppendField(line, std::to_string(value.Type));
    std::string hex;
    for (const uint8_t b : value.Data) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    AppendField(line, hex);
  }
  line += '\n';
  return line;
}

bool ParseJournal(std::string_view text, std::vector<TJournalRecord>& records) {
  records.clear();
  size_t end = text.find('\n');
  if (end == std::string_view::npos) return text.empty();
  std::string_view header = text.substr(0, end);
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  if (header != kHeader) return false;
  for (size_t start = end + 1; (end = text.find('\n', start)) != std::string_view::npos;
       start = end + 1) {
    TJournalRecord record;
    if (!ParseRecord(text.substr(start, end - start), record)) return false;
    records.push_back(std::move(record));
  }
  // What follows the last line end is a line that a kill cut short.
  return true;
}

// ---- TSetupJournal ----

TSetupJournal::TSetupJournal(String folder) : folder_(IncludeTrailingBackslash(folder)) {}

TSetupJournal::~TSetupJournal() = default;

String TSetupJournal::FolderFor(const String& productName) {
  String data;
  if (!platform::SpecialFolder(platform::kCsidlCommonAppData, data) || data.empty()) return {};
  return IncludeTrailingBackslash(data) + productName + u" Setup\\";
}

void TSetupJournal::Begin() {
  std::lock_guard lock(lock_);
  if (file_) return;
  if (folder_.size() <= 1) throw EInstallerInstallError(u"No folder for the journal of the run");
  // A run that could not be undone keeps its journal and what it moved
  // aside: nothing of it is overwritten.
  Recover(folder_);
  const String journal = folder_ + kJournalName;
  const auto fail = [&](const String& what) {
    throw EInstallerInstallError(
        u"The journal of the run cannot be written (" + what + u"): " +
        platform::SystemErrorText(platform::LastError()));
  };
  if (Exists(journal))
    throw EInstallerInstallError(u"An earlier run could not be undone completely; what it "
                                 u"changed is listed in \"" + journal +
                                 u"\", the old files are in \"" + folder_ + kAsideFolder + u"\".");
  const String folder = ExcludeTrailingBackslash(folder_);
  // Only administrators may write the journal's folder: a folder of that
  // name made by somebody else, or a link there, is replaced.
  if (platform::IsLink(folder) ||
      (platform::DirectoryExists(folder) && !platform::RunningUnderWine() &&
       !platform::OnlyAdministratorsMayWrite(folder, true)))
    DeleteFolderBelow(folder, false);
  if (!platform::DirectoryExists(folder) && !platform::CreateFolder(folder)) fail(folder);
  if (!platform::SetFolderAccess(folder_, platform::TFolderAccess::AdministratorsOnly)) fail(folder);
  DeleteOwnTree(folder_ + kAsideFolder);
  if (!platform::CreateFolder(folder_ + kAsideFolder)) fail(folder_ + kAsideFolder);
  platform::RemoveFile(journal);
  file_ = platform::OpenFileShared(journal, platform::kGenericRead | platform::kGenericWrite, 0,
                                   platform::kCreateNew);
  if (!file_) fail(journal);
  const std::string header = std::string(kHeader) + "\n";
  file_->WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
  if (!file_->FlushToDisk()) fail(journal);
  counter_ = 0;
  records_.clear();
}

void TSetupJournal::Append(const std::vector<TJournalRecord>& records) {
  if (records.empty()) return;
  std::string text;
  for (const TJournalRecord& record : records) text += FormatJournalRecord(record);
  // Recorded on the disk before the change is made.
  try {
    file_->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  } catch (const Exception& e) {
    throw EInstallerInstallError(u"The journal of the run cannot be written: " + e.Message());
  }
  if (!file_->FlushToDisk())
    throw EInstallerInstallError(u"The journal of the run cannot be written: " +
                                 platform::SystemErrorText(platform::LastError()));
  records_.insert(records_.end(), records.begin(), records.end());
}

String TSetupJournal::NextAside() {
  String name = u"00000000";
  for (uint32_t n = ++counter_, i = 8; i > 0; n >>= 4) name[--i] = u"0123456789ABCDEF"[n & 15];
  return folder_ + kAsideFolder + name;
}

bool TSetupJournal::MoveAside(const String& path, const String& base, const String& aside) {
  THeld parent = HoldParent(path, base, false);
  return parent && platform::MoveEntryFrom(*parent, ExtractFileName(ExcludeTrailingBackslash(path)),
                                           aside);
}

bool TSetupJournal::CopyAside(const String& path, const String& base, const String& aside) {
  std::unique_ptr<TStream> in =
      base.empty() ? platform::OpenFileShared(path, platform::kGenericRead,
                                              platform::kFileShareRead | platform::kFileShareWrite,
                                              platform::kOpenExisting)
                   : OpenFileBelow(base, path, platform::kFileShareRead | platform::kFileShareWrite);
  if (!in) return false;
  std::unique_ptr<TStream> out =
      platform::OpenFileShared(aside, platform::kGenericWrite, 0, platform::kCreateNew);
  if (!out) return false;
  try {
    // As many bytes as the file says it has: a device behind a name never ends.
    const int64_t size = in->Size();
    if (size > 0) out->CopyFrom(*in, size);
  } catch (const Exception&) {
    return false;
  }
  return out->FlushToDisk();
}

bool TSetupJournal::RemoveFile(const String& path, const String& base) {
  std::lock_guard lock(lock_);
  if (!file_) return RemoveNow(path, base);
  if (!Exists(path)) return true;
  TJournalRecord moved = Record(TKind::Moved, path, NextAside(), base);
  Append({moved});
  if (MoveAside(path, base, moved.Other)) return true;
  if (platform::LastError() == platform::kErrorStoppedOnSymlink) return false;
  // Held open without sharing its deletion, or on another drive: its
  // content is kept aside, and the file removed as far as it can be.
  TJournalRecord copied = Record(TKind::Copied, path, NextAside(), base);
  Append({copied});
  if (!CopyAside(path, base, copied.Other))
    RunLog(u"Cannot keep a copy of \"" + path + u"\" for undoing the run: " +
           platform::SystemErrorText(platform::LastError()));
  RemoveNow(path, base);
  return true;
}

bool TSetupJournal::HasChanges() const {
  std::lock_guard lock(lock_);
  return !records_.empty();
}

void TSetupJournal::RemoveFiles(const std::vector<String>& paths, const std::vector<String>& bases,
                                const std::function<void()>& onEach) {
  std::unique_lock lock(lock_);
  if (!file_) {
    for (size_t i = 0; i < paths.size(); ++i) {
      RemoveNow(paths[i], bases[i]);
      if (onEach) onEach();
    }
    return;
  }
  // A folder whose every entry goes (its files, and its folders that go
  // whole) is moved aside in one step: one rename instead of one a file.
  // Only folders below their base, never the base itself.
  struct TCandidate {
    String folder, base;
    std::vector<size_t> files;
  };
  std::map<String, TCandidate> candidates;  // by upper-case folder
  for (size_t i = 0; i < paths.size(); ++i) {
    const String base = IncludeTrailingBackslash(bases[i]);
    String folder = ExtractFilePath(paths[i]);
    if (bases[i].empty() || folder.size() <= base.size() || !StartsTextLocale(folder, base)) continue;
    candidates[UpperAscii(folder)].files.push_back(i);
    for (; folder.size() > base.size() && StartsTextLocale(folder, base);
         folder = ExtractFilePath(ExcludeTrailingBackslash(folder))) {
      TCandidate& c = candidates[UpperAscii(folder)];
      c.folder = folder;
      c.base = bases[i];
    }
  }
  std::vector<const TCandidate*> order;
  for (const auto& [key, c] : candidates) order.push_back(&c);
  std::sort(order.begin(), order.end(), [](const TCandidate* a, const TCandidate* b) {
    return a->folder.size() > b->folder.size();
  });
  std::set<String> whole;
  std::vector<bool> covered(paths.size());
  std::vector<TJournalRecord> folderMoves;
  for (const TCandidate* c : order) {
    std::set<String> going;
    for (size_t i : c->files) going.insert(UpperAscii(ExtractFileName(paths[i])));
    std::vector<platform::TFolderEntry> entries;
    if (!platform::ListFolder(c->folder, entries) || entries.empty()) continue;
    const String upper = UpperAscii(c->folder);
    const bool all = std::all_of(entries.begin(), entries.end(), [&](const platform::TFolderEntry& e) {
      if (e.attributes & platform::kFileAttributeDirectory)
        return !e.link && whole.count(upper + UpperAscii(e.name) + u"\\") > 0;
      return going.count(UpperAscii(e.name)) > 0;
    });
    if (!all) continue;
    whole.insert(upper);
    for (size_t i : c->files) covered[i] = true;
    folderMoves.push_back(Record(TKind::Moved, ExcludeTrailingBackslash(c->folder), {}, c->base));
  }
  // Only the outermost of the folders that go whole is moved.
  std::vector<TJournalRecord> records;
  for (TJournalRecord& r : folderMoves) {
    if (whole.count(UpperAscii(ExtractFilePath(r.Path)))) continue;
    r.Other = NextAside();
    records.push_back(r);
  }
  const size_t foldersMoved = records.size();
  std::vector<bool> exists(paths.size());
  std::vector<size_t> recordOf(paths.size());
  for (size_t i = 0; i < paths.size(); ++i)
    if (!covered[i] && (exists[i] = Exists(paths[i]))) {
      recordOf[i] = records.size();
      records.push_back(Record(TKind::Moved, paths[i], NextAside(), bases[i]));
    }
  // One write for all of them: a record whose file was not moved yet when
  // the run ended finds no copy aside, and is passed over.
  Append(records);
  lock.unlock();
  std::vector<String> failedFolders;
  for (size_t k = 0; k < foldersMoved; ++k)
    if (!MoveAside(records[k].Path, records[k].Base, records[k].Other))
      failedFolders.push_back(UpperAscii(IncludeTrailingBackslash(records[k].Path)));
  // A folder that could not be moved (a file in it held open) has its
  // files moved one by one.
  const auto inFailedFolder = [&](const String& path) {
    return std::any_of(failedFolders.begin(), failedFolders.end(),
                       [&](const String& f) { return StartsTextLocale(path, f); });
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    if (covered[i]) {
      if (!failedFolders.empty() && inFailedFolder(paths[i])) RemoveFile(paths[i], bases[i]);
    } else if (exists[i]) {
      const TJournalRecord& r = records[recordOf[i]];
      if (!MoveAside(r.Path, r.Base, r.Other) &&
          platform::LastError() != platform::kErrorStoppedOnSymlink)
        RemoveFile(r.Path, r.Base);
    }
    if (onEach) onEach();
  }
}

void TSetupJournal::RemoveFolder(const String& folder, const String& base) {
  std::lock_guard lock(lock_);
  if (file_ && IsFolder(Attributes(folder))) {
    TJournalRecord moved = Record(TKind::Moved, ExcludeTrailingBackslash(folder), NextAside(), base);
    Append({moved});
    if (MoveAside(moved.Path, base, moved.Other)) return;
    RunLog(u"Cannot move \"" + folder + u"\" aside (" +
           platform::SystemErrorText(platform::LastError()) +
           u"); it is deleted, which cannot be undone");
  }
  DeleteFolderBelow(folder, false, base);
}

void TSetupJournal::RemoveEmptyFolder(const String& folder, const String& base) {
  RemoveEmptyFolders({folder}, {base});
}

void TSetupJournal::RemoveEmptyFolders(const std::vector<String>& folders,
                                       const std::vector<String>& bases,
                                       const std::function<void()>& onEach) {
  {
    // Recorded first, all in one write: undoing makes each one that is
    // missing, and one that was not empty is still there.
    std::lock_guard lock(lock_);
    std::vector<TJournalRecord> records;
    if (file_)
      for (size_t i = 0; i < folders.size(); ++i)
        if (IsFolder(Attributes(folders[i])))
          records.push_back(Record(TKind::FolderRemoved, ExcludeTrailingBackslash(folders[i]), {}, bases[i]));
    if (!records.empty()) Append(records);
  }
  for (size_t i = 0; i < folders.size(); ++i) {
    DeleteFolderBelow(folders[i], true, bases[i]);
    if (onEach) onEach();
  }
}

void TSetupJournal::WillWrite(const std::vector<String>& paths, const String& base) {
  std::vector<String> copyAside;
  {
    std::lock_guard lock(lock_);
    if (!file_) return;
    std::vector<TJournalRecord> records, moves;
    std::set<String> folders;
    for (const String& path : paths) {
      // Missing folders, outermost first.
      std::vector<String> missing;
      for (String f = ExcludeTrailingBackslash(ExtractFilePath(path));
           !f.empty() && !folders.count(UpperAscii(f)) && !platform::DirectoryExists(f);) {
        missing.push_back(f);
        folders.insert(UpperAscii(f));
        const String up = ExcludeTrailingBackslash(ExtractFilePath(f));
        if (up.size() >= f.size()) break;
        f = up;
      }
      for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        records.push_back(Record(TKind::FolderCreated, *it, {}, base));
      // A folder (only its missing parents were wanted) is no file to write.
      const uint32_t attributes = Attributes(path);
      if (path.empty() || path.back() == u'\\' || IsFolder(attributes)) continue;
      if (attributes != platform::kInvalidFileAttributes)
        moves.push_back(Record(TKind::Moved, path, NextAside(), base));
      else
        records.push_back(Record(TKind::Created, path, {}, base));
    }
    records.insert(records.end(), moves.begin(), moves.end());
    Append(records);
    for (const TJournalRecord& r : moves)
      if (!MoveAside(r.Path, r.Base, r.Other)) copyAside.push_back(r.Path);
    // Held open: it stays, and is written over if it can be; its content
    // is kept aside first.
    for (const String& path : copyAside) {
      TJournalRecord copied = Record(TKind::Copied, path, NextAside(), base);
      Append({copied});
      CopyAside(path, base, copied.Other);
    }
  }
}

void TSetupJournal::WillReplace(const std::vector<String>& paths, const String& base) {
  std::lock_guard lock(lock_);
  if (!file_) return;
  for (const String& path : paths) {
    if (!platform::FileExists(path)) {
      Append({Record(TKind::Created, path, {}, base)});
      continue;
    }
    TJournalRecord copied = Record(TKind::Copied, path, NextAside(), base);
    Append({copied});
    if (!CopyAside(path, base, copied.Other))
      throw EInstallerInstallError(u"\"" + path + u"\" cannot be kept for undoing the run: " +
                                   platform::SystemErrorText(platform::LastError()));
  }
}

void TSetupJournal::WillCreateFolder(const String& folder) {
  WillWrite({IncludeTrailingBackslash(folder)});
}

void TSetupJournal::WillWriteArchive(const String& archive, const String& partial) {
  std::lock_guard lock(lock_);
  if (!file_) return;
  Append({Record(TKind::Archive, archive), Record(TKind::Created, partial)});
}

void TSetupJournal::WillRename(const String& from, const String& to, const String& base) {
  std::lock_guard lock(lock_);
  if (file_) Append({Record(TKind::Renamed, from, to, base)});
}

String TSetupJournal::OldContentOf(const String& path) const {
  std::lock_guard lock(lock_);
  for (auto it = records_.rbegin(); it != records_.rend(); ++it)
    if ((it->Kind == TKind::Moved || it->Kind == TKind::Copied) &&
        SameTextLocale(it->Path, path) && Exists(it->Other))
      return it->Other;
  return path;
}

void TSetupJournal::WillChangeKey(platform::RegRoot root, const String& subKey, uint32_t view) {
  std::lock_guard lock(lock_);
  if (!file_) return;
  TJournalRecord record = Record(TKind::Key, subKey);
  record.Root = static_cast<uint32_t>(root);
  record.View = view;
  platform::TRegKey key;
  if (key.Open(root, subKey, platform::kKeyRead | view) == 0) {
    record.Existed = true;
    String name;
    for (uint32_t i = 0; key.EnumValue(i, name) == 0; ++i) {
      TJournalValue value;
      value.Name = name;
      if (key.QueryValue(name, value.Type, value.Data) == 0) record.Values.push_back(value);
    }
  }
  Append({record});
}

void TSetupJournal::UndoByRunning(const String& commandLine, bool afterFiles) {
  std::lock_guard lock(lock_);
  if (file_ && !commandLine.empty())
    Append({Record(afterFiles ? TKind::RunAfter : TKind::Run, {}, commandLine)});
}

void TSetupJournal::UndoByRegistering(const String& library) {
  std::lock_guard lock(lock_);
  if (file_) Append({Record(TKind::Register, library)});
}

void TSetupJournal::Commit() {
  std::lock_guard lock(lock_);
  if (!file_) return;
  Append({Record(TKind::Committed)});
  file_.reset();
  Cleanup(folder_);
  records_.clear();
}

bool TSetupJournal::Rollback() {
  std::lock_guard lock(lock_);
  if (!file_) return true;
  const bool done = Undo(records_);
  file_.reset();
  if (done) Cleanup(folder_);
  records_.clear();
  return done;
}

void TSetupJournal::Cleanup(const String& folder) {
  DeleteOwnTree(folder + kAsideFolder);
  platform::RemoveFile(folder + kJournalName);
  platform::RemoveFolder(ExcludeTrailingBackslash(folder));
}

bool TSetupJournal::Recover(const String& folder) {
  const String base = IncludeTrailingBackslash(folder);
  const String journal = base + kJournalName;
  if (folder.empty() || !platform::FileExists(journal)) return false;
  // Only a journal that administrators alone could have written is undone.
  if (platform::IsLink(ExcludeTrailingBackslash(base)) ||
      (!platform::RunningUnderWine() && !platform::OnlyAdministratorsMayWrite(base, true))) {
    RunLog(u"Not undone (the folder may be changed by users): " + journal);
    return false;
  }
  // Held by a run that is still going on: that run ends it.
  std::unique_ptr<TStream> file =
      platform::OpenFileShared(journal, platform::kGenericRead, 0, platform::kOpenExisting);
  if (!file) return false;
  std::string text(static_cast<size_t>(std::max<int64_t>(file->Size(), 0)), '\0');
  text.resize(static_cast<size_t>(file->Read(text.data(), static_cast<int64_t>(text.size()))));
  std::vector<TJournalRecord> records;
  const bool whole = ParseJournal(text, records);
  const bool committed = !records.empty() && records.back().Kind == TKind::Committed;
  if (committed) {
    RunLog(u"An earlier run ended before it had cleaned up: " + journal);
    file.reset();
    Cleanup(base);
    return false;
  }
  RunLog(u"An earlier run was interrupted; undoing its changes (" + journal + u")");
  bool done = Undo(records) && whole;
  if (!whole) RunLog(u"The journal is damaged after its record " + IntToStr(static_cast<int>(records.size())));
  file.reset();
  if (done) Cleanup(base);
  RunLog(done ? String(u"The earlier run was undone") : u"The earlier run could not be undone completely");
  return true;
}

bool TSetupJournal::Undo(const std::vector<TJournalRecord>& records) {
  bool done = true;
  const auto left = [&](const TJournalRecord& r, const String& why) {
    done = false;
    RunLog(u"Not restored: " + r.Path +
           (r.Other.empty() || r.Kind == TKind::Renamed ? String() : u" (its old content is in \"" + r.Other + u"\")") +
           u": " + why);
  };
  std::vector<const TJournalRecord*> after;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const TJournalRecord& r = *it;
    switch (r.Kind) {
      case TKind::Moved: {
        if (!Exists(r.Other)) break;  // never moved, or back already
        // The program that undoes the run may be the run's own new copy of
        // itself (an uninstaller): it stays, and does the old one's work.
        if (IsThisProgram(r.Path)) {
          RunLog(u"Kept, since it is running: " + r.Path);
          break;
        }
        const uint32_t now = Attributes(r.Path);
        // What the run put there goes; a running program, which cannot be
        // deleted, is moved out of the way into the journal's folder.
        if (now != platform::kInvalidFileAttributes && !DeleteEntry(r.Path, r.Base) &&
            !MoveOutOfTheWay(r)) {
          left(r, u"something else is in its place");
          break;
        }
        const String asideFolder = ExtractFilePath(r.Other);
        THeld aside = platform::OpenFolderBelow(asideFolder, asideFolder);
        THeld parent = HoldParent(r.Path, r.Base, true);
        if (!aside || !parent ||
            !platform::MoveEntryFrom(*aside, ExtractFileName(r.Other),
                                     parent->Path() + ExtractFileName(ExcludeTrailingBackslash(r.Path)))) {
          left(r, platform::SystemErrorText(platform::LastError()));
          break;
        }
        RunLog(u"Restored: " + r.Path);
        break;
      }
      case TKind::Copied: {
        if (!platform::FileExists(r.Other) || SameContent(r.Other, r.Path)) break;
        if (IsThisProgram(r.Path)) {
          RunLog(u"Kept, since it is running: " + r.Path);
          break;
        }
        THeld parent = HoldParent(r.Path, r.Base, true);
        const String name = ExtractFileName(r.Path);
        std::unique_ptr<TStream> in = platform::OpenFileShared(
            r.Other, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting);
        std::unique_ptr<TStream> out;
        // A running program in its place is moved out of the way.
        if (parent && in &&
            (platform::DeleteEntryIn(*parent, name, true) || !Exists(r.Path) || MoveOutOfTheWay(r)))
          out = platform::OpenFileIn(*parent, name, platform::kGenericWrite, 0, platform::kCreateNew);
        bool written = false;
        if (out) try {
            if (in->Size() > 0) out->CopyFrom(*in, in->Size());
            written = out->FlushToDisk();
          } catch (const Exception&) {
          }
        if (!written) {
          left(r, platform::SystemErrorText(platform::LastError()));
          break;
        }
        RunLog(u"Restored: " + r.Path);
        break;
      }
      case TKind::Created:
        if (Exists(r.Path) && !IsFolder(Attributes(r.Path))) {
          RemoveNow(r.Path, r.Base);
          RunLog(u"Removed: " + r.Path);
        }
        break;
      case TKind::Archive:
        if (!Exists(r.Path)) break;
        if (!done) {
          RunLog(u"Kept, since not everything was restored: " + r.Path);
          break;
        }
        DeleteFileOrDefer(r.Path);
        RunLog(u"Removed: " + r.Path);
        break;
      case TKind::FolderCreated:
        if (IsFolder(Attributes(r.Path))) DeleteFolderBelow(r.Path, true, r.Base);
        break;
      case TKind::FolderRemoved:
        if (!Exists(r.Path) && !HoldParent(IncludeTrailingBackslash(r.Path) + u"x", r.Base, true))
          left(r, platform::SystemErrorText(platform::LastError()));
        break;
      case TKind::Renamed: {
        if (!Exists(r.Other) || Exists(r.Path)) break;
        THeld parent = HoldParent(r.Other, r.Base, false);
        if (!parent || !platform::MoveEntryFrom(*parent, ExtractFileName(r.Other), r.Path))
          left(r, platform::SystemErrorText(platform::LastError()));
        else
          RunLog(u"Renamed back: " + r.Other + u" -> " + r.Path);
        break;
      }
      case TKind::Key: {
        const auto root = static_cast<platform::RegRoot>(r.Root);
        platform::DeleteKeyTree(root, r.Path, r.View);
        if (r.Existed) {
          platform::TRegKey key;
          uint32_t error = key.Create(root, r.Path, platform::kKeyWrite | r.View);
          for (const TJournalValue& v : r.Values)
            if (error == 0)
              error = key.SetValue(v.Name, v.Type, v.Data.data(), static_cast<uint32_t>(v.Data.size()));
          if (error != 0) {
            left(r, platform::SystemErrorText(error));
            break;
          }
        }
        RunLog(u"Registry key restored: " + r.Path);
        break;
      }
      case TKind::Run:
        RunLog(u"Run: " + r.Other);
        RunAndWait(r.Other);
        break;
      case TKind::RunAfter:
      case TKind::Register:
        after.push_back(&r);
        break;
      case TKind::Committed:
        break;
    }
  }
  // The registration of the restored files, in the order it was recorded.
  for (auto it = after.rbegin(); it != after.rend(); ++it) {
    const TJournalRecord& r = **it;
    if (r.Kind == TKind::Register) {
      if (platform::FileExists(r.Path)) {
        RunLog(u"Registered again: " + r.Path);
        TSetupActiveX::CallExport(r.Path, "DllRegisterServer");
      }
    } else {
      RunLog(u"Run: " + r.Other);
      RunAndWait(r.Other);
    }
  }
  return done;
}
