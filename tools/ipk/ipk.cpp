#include "tools/ipk/ipk.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_map>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "platform/crypto.h"

namespace fs = std::filesystem;

namespace ipk {
namespace {

constexpr int kDefaultLevel = 4;

const char kUsageText[] =
    "usage: ipk create OUT [--level 0-9] [--key TEXT] PATHS...\n"
    "       ipk list PKG [--key TEXT]\n"
    "       ipk extract PKG [NAMES...] [-C DIR] [--key TEXT]\n"
    "       ipk cat PKG NAME [--key TEXT]\n"
    "       ipk verify PKG [--key TEXT]\n"
    "       ipk table PKG OUT [DIGEST] [--key TEXT]\n"
    "\n"
    "create   packs files: a folder adds every file below it, stored under its path\n"
    "         relative to that folder with backslashes; a file is stored under its\n"
    "         own name. Default level 4, default key the system's key.\n"
    "list     shows every entry with its size and marks duplicate names.\n"
    "extract  writes all files, or the NAMES given, below DIR (default: the\n"
    "         current folder); names that would leave it are refused.\n"
    "cat      writes one file's bytes to standard output.\n"
    "verify   reads the whole package and checks it.\n"
    "table    writes the package's file table (as stored in its payload) to OUT:\n"
    "         an installer carries it beside its product package, which lets it\n"
    "         look up names while the package is still being decoded. With\n"
    "         DIGEST also the SHA-256 of the package's bytes as stored, written\n"
    "         only after the whole package passed its checks: with it the\n"
    "         installer checks the package at start and writes files while it\n"
    "         decodes.\n";

// A usage error: the message, then the usage text, exit code 2.
struct TUsageError {
  std::string message;
};

// Any other failure: the message, exit code 1.
struct TFailure {
  std::string message;
};

// Names come from packages: control characters are shown as '?' so that a
// hostile name cannot steer the terminal.
std::string U8(StringView s) {
  std::string text = Utf16ToUtf8(s);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}
std::string Quoted(StringView s) {
  return "\"" + U8(s) + "\"";
}

fs::path ToPath(const String& s) {
  return fs::path(s);
}

String PathText(const fs::path& p) {
  return p.u16string();
}

// The command line after the command word: options and plain arguments.
struct TArgs {
  std::vector<String> plain;
  String key = kSetupPackageKey;
  int level = kDefaultLevel;
  bool level_given = false;
  String dir;
  bool dir_given = false;
};

TArgs ParseArgs(const std::vector<String>& args, bool allowLevel, bool allowDir) {
  TArgs parsed;
  bool options = true;
  for (size_t i = 1; i < args.size(); ++i) {
    const String& a = args[i];
    auto value = [&](const char16_t* option) -> String {
      const String prefix = String(option) + u"=";
      if (StartsWith(a, prefix)) return a.substr(prefix.size());
      if (i + 1 >= args.size()) throw TUsageError{"option " + U8(option) + " needs a value"};
      return args[++i];
    };
    auto is = [&](const char16_t* option) {
      return a == option || StartsWith(a, String(option) + u"=");
    };
    if (options && a == u"--") {
      options = false;
    } else if (options && allowLevel && is(u"--level")) {
      const String text = value(u"--level");
      int32_t level = -1;
      if (!TryStrToInt(text, level) || level < 0 || level > 9 || text.size() != 1)
        throw TUsageError{"--level must be a number from 0 to 9, not " + Quoted(text)};
      parsed.level = level;
      parsed.level_given = true;
    } else if (options && is(u"--key")) {
      parsed.key = value(u"--key");
      if (parsed.key.empty()) throw TUsageError{"--key must not be empty"};
    } else if (options && allowDir && (a == u"-C" || is(u"--directory"))) {
      parsed.dir = a == u"-C" ? value(u"-C") : value(u"--directory");
      if (parsed.dir.empty()) throw TUsageError{"-C needs a folder"};
      parsed.dir_given = true;
    } else if (options && a.size() > 1 && a[0] == u'-') {
      throw TUsageError{"unknown option " + Quoted(a)};
    } else {
      parsed.plain.push_back(a);
    }
  }
  return parsed;
}

std::unique_ptr<TSetupPackageReader> OpenPackage(const String& file, const String& key) {
  auto stream = OpenFileStream(file);
  try {
    return std::make_unique<TSetupPackageReader>(*stream, key);
  } catch (const Exception& e) {
    std::string hint;
    if (dynamic_cast<const ESetupPackageReadError*>(&e) ||
        dynamic_cast<const EInvalidOperation*>(&e))
      hint = " (damaged, not a package, or made with another --key)";
    throw TFailure{U8(file) + ": " + e.what() + hint};
  }
}

// ASCII letters without case first, then code units: the same order on
// every system.
bool NameLess(const String& a, const String& b) {
  const String la = LowerAscii(a), lb = LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

// --- create ------------------------------------------------------------------

struct TSourceFile {
  String name;    // as stored
  fs::path path;  // where it is read from
};

String StoredNameBelow(const fs::path& root, const fs::path& file) {
  const fs::path relative = file.lexically_relative(root);
  String name;
  for (const auto& part : relative) {
    const String text = part.u16string();
    if (text.find(u'\\') != String::npos)
      throw TFailure{"the file name " + Quoted(PathText(file)) +
                     " contains a backslash, which packages use as the separator"};
    if (!name.empty()) name += u'\\';
    name += text;
  }
  return name;
}

void CollectFiles(const String& argument, std::vector<TSourceFile>& files) {
  const fs::path path = ToPath(argument);
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) throw TFailure{"cannot find " + Quoted(argument)};
  if (fs::is_regular_file(status)) {
    files.push_back({path.filename().u16string(), path});
    return;
  }
  if (!fs::is_directory(status)) throw TFailure{Quoted(argument) + " is not a file or folder"};
  for (fs::recursive_directory_iterator it(path, fs::directory_options::none), end; it != end;
       ++it) {
    const fs::file_status s = it->status();
    if (fs::is_directory(s)) continue;
    if (!fs::is_regular_file(s))
      throw TFailure{Quoted(PathText(it->path())) + " is not a regular file"};
    files.push_back({StoredNameBelow(path, it->path()), it->path()});
  }
}

// Writes to "OUT.part" and renames it over OUT once complete, so that a
// failure never leaves a damaged package under the wanted name.
class TOutputFile : public TStream {
 public:
  explicit TOutputFile(const fs::path& target) : target_(target), part_(target) {
    part_ += ".part";
    file_.open(part_, std::ios::binary | std::ios::trunc);
    if (!file_) throw TFailure{"cannot create " + Quoted(PathText(part_))};
  }
  ~TOutputFile() override {
    if (!committed_) {
      file_.close();
      std::error_code ec;
      fs::remove(part_, ec);
    }
  }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    file_.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(count));
    if (!file_) return 0;
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return written_; }
  void SetSize(int64_t) override {}
  void Finish() {
    file_.close();
    if (file_.fail()) throw TFailure{"cannot write " + Quoted(PathText(part_))};
    std::error_code ec;
    fs::rename(part_, target_, ec);
    if (ec) throw TFailure{"cannot replace " + Quoted(PathText(target_)) + ": " + ec.message()};
    committed_ = true;
  }

 private:
  fs::path target_, part_;
  std::ofstream file_;
  int64_t written_ = 0;
  bool committed_ = false;
};

int Create(const std::vector<String>& args, std::ostream& out, std::ostream& err,
           bool showProgress) {
  const TArgs a = ParseArgs(args, true, false);
  if (a.plain.size() < 2) throw TUsageError{"create needs an output file and at least one path"};
  const String& output = a.plain[0];

  std::vector<TSourceFile> files;
  for (size_t i = 1; i < a.plain.size(); ++i) CollectFiles(a.plain[i], files);
  std::stable_sort(files.begin(), files.end(), [](const TSourceFile& x, const TSourceFile& y) {
    return NameLess(x.name, y.name);
  });
  // Refuse what extraction would refuse, and names the reader could not
  // tell apart.
  for (size_t i = 0; i < files.size(); ++i) {
    std::vector<String> parts;
    String reason;
    if (!SplitStoredName(files[i].name, parts, reason))
      throw TFailure{"cannot store " + Quoted(PathText(files[i].path)) + " as " +
                     Quoted(files[i].name) + ": " + U8(reason)};
    if (files[i].name.size() > 65535)
      throw TFailure{"the name of " + Quoted(PathText(files[i].path)) + " is too long"};
  }
  // In the reader's order (without regard to case, in the user's locale),
  // names it cannot tell apart are neighbours.
  std::vector<size_t> order(files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&files](size_t x, size_t y) {
    const int c = CompareTextLocale(files[x].name, files[y].name);
    return c != 0 ? c < 0 : x < y;
  });
  for (size_t k = 1; k < order.size(); ++k) {
    const auto& x = files[order[k - 1]];
    const auto& y = files[order[k]];
    if (SameTextLocale(x.name, y.name))
      throw TFailure{"two files would be stored under the same name " + Quoted(x.name) + ": " +
                     Quoted(PathText(x.path)) + " and " + Quoted(PathText(y.path))};
  }

  TSetupPackageBuilder builder(a.key);
  int64_t total = 0;
  for (const auto& f : files) {
    auto stream = OpenFileStream(PathText(f.path));
    builder.Add(*stream, f.name);
    total += builder.FileTable().Items(builder.FileTable().Count() - 1).Size;
  }
  int last_percent = -1;
  if (showProgress) {
    builder.OnProgress = [&](int64_t done, int64_t all) {
      const int percent = all > 0 ? static_cast<int>(done * 100 / all) : 100;
      if (percent == last_percent) return;
      last_percent = percent;
      err << "\rcompressing " << percent << "%" << std::flush;
    };
  }
  TOutputFile file(ToPath(output));
  builder.Commit(file, a.level);
  if (last_percent >= 0) err << "\r                \r" << std::flush;
  file.Finish();
  out << U8(output) << ": " << files.size() << (files.size() == 1 ? " file, " : " files, ") << total
      << " bytes\n";
  return kOk;
}

// --- list --------------------------------------------------------------------

// For each entry, the index of the first entry the reader finds under its
// name (itself unless it is a later duplicate).
std::vector<int> FirstIndexes(const TSetupPackageFileTable& table) {
  std::unordered_map<const TSetupPackageFileTableItem*, int> index;
  for (int i = 0; i < table.Count(); ++i) index[&table.Items(i)] = i;
  std::vector<int> first(static_cast<size_t>(table.Count()));
  for (int i = 0; i < table.Count(); ++i)
    first[static_cast<size_t>(i)] = index.at(table.Find(table.Items(i).Name));
  return first;
}

int List(const std::vector<String>& args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, false, false);
  if (a.plain.size() != 1) throw TUsageError{"list needs exactly one package"};
  const auto reader = OpenPackage(a.plain[0], a.key);
  const auto& table = reader->FileTable();
  const std::vector<int> first = FirstIndexes(table);
  int64_t total = 0;
  int duplicates = 0;
  for (int i = 0; i < table.Count(); ++i) {
    const auto& item = table.Items(i);
    total += item.Size;
    std::string size = std::to_string(item.Size);
    if (size.size() < 12) size.insert(0, 12 - size.size(), ' ');
    out << size << "  " << U8(item.Name);
    if (first[static_cast<size_t>(i)] != i) {
      ++duplicates;
      out << "  [duplicate of " << Quoted(table.Items(first[static_cast<size_t>(i)]).Name)
          << ": never found by name]";
    }
    out << "\n";
  }
  out << table.Count() << (table.Count() == 1 ? " file, " : " files, ") << total << " bytes\n";
  if (duplicates > 0)
    err << "ipk: warning: " << duplicates << (duplicates == 1 ? " entry has" : " entries have")
        << " the name of an earlier entry; lookups return the first\n";
  return kOk;
}

// --- extract -------------------------------------------------------------------

bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file)
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw TFailure{"cannot write " + Quoted(PathText(path))};
}

int Extract(const std::vector<String>& args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, false, true);
  if (a.plain.empty()) throw TUsageError{"extract needs a package"};
  const auto reader = OpenPackage(a.plain[0], a.key);
  const auto& table = reader->FileTable();

  // What to write: every entry the reader can return, or those named.
  std::vector<const TSetupPackageFileTableItem*> chosen;
  if (a.plain.size() == 1) {
    const std::vector<int> first = FirstIndexes(table);
    for (int i = 0; i < table.Count(); ++i) {
      if (first[static_cast<size_t>(i)] == i) {
        chosen.push_back(&table.Items(i));
      } else {
        err << "ipk: skipping " << Quoted(table.Items(i).Name) << ": duplicate of "
            << Quoted(table.Items(first[static_cast<size_t>(i)]).Name) << "\n";
      }
    }
  } else {
    std::string missing;
    for (size_t i = 1; i < a.plain.size(); ++i) {
      const TSetupPackageFileTableItem* item = table.Find(a.plain[i]);
      if (!item) {
        missing += (missing.empty() ? "" : ", ") + Quoted(a.plain[i]);
      } else if (std::find(chosen.begin(), chosen.end(), item) == chosen.end()) {
        chosen.push_back(item);
      }
    }
    if (!missing.empty()) throw TFailure{"not in " + U8(a.plain[0]) + ": " + missing};
  }

  // Check every name before anything is written.
  std::vector<std::vector<String>> targets;
  std::vector<String> keys;
  for (const auto* item : chosen) {
    std::vector<String> parts;
    String reason;
    if (!SplitStoredName(item->Name, parts, reason))
      throw TFailure{"refusing to extract " + Quoted(item->Name) + ": " + U8(reason)};
    String key;
    for (const auto& p : parts) key += (key.empty() ? u"" : u"\\") + p;
    for (size_t k = 0; k < keys.size(); ++k)
      if (SameTextLocale(keys[k], key))
        throw TFailure{Quoted(item->Name) + " and " + Quoted(chosen[k]->Name) +
                       " would be written to the same file"};
    keys.push_back(key);
    targets.push_back(std::move(parts));
  }

  const fs::path root = a.dir_given ? ToPath(a.dir) : fs::current_path();
  fs::create_directories(root);
  const fs::path canonical_root = fs::canonical(root);
  for (size_t n = 0; n < chosen.size(); ++n) {
    fs::path target = canonical_root;
    for (const auto& part : targets[n]) target /= ToPath(part);
    const fs::path parent = target.parent_path();
    fs::create_directories(parent);
    // Folders already there may be links to elsewhere: the real folder must
    // still be inside the target.
    if (!IsWithin(fs::canonical(parent), canonical_root))
      throw TFailure{"refusing to extract " + Quoted(chosen[n]->Name) + ": " +
                     Quoted(PathText(parent)) + " leads outside " + Quoted(PathText(root))};
    if (fs::is_symlink(fs::symlink_status(target)))
      throw TFailure{"refusing to extract " + Quoted(chosen[n]->Name) + ": " +
                     Quoted(PathText(target)) + " is a symbolic link"};
    std::unique_ptr<TMemoryStream> data;
    reader->Extract(chosen[n]->Name, data);
    WriteFile(target, data->Bytes());
  }
  out << chosen.size() << (chosen.size() == 1 ? " file" : " files") << " extracted to "
      << U8(PathText(root)) << "\n";
  return kOk;
}

// --- cat, verify -------------------------------------------------------------------

int Cat(const std::vector<String>& args, std::ostream& out) {
  const TArgs a = ParseArgs(args, false, false);
  if (a.plain.size() != 2) throw TUsageError{"cat needs a package and one name"};
  const auto reader = OpenPackage(a.plain[0], a.key);
  std::unique_ptr<TMemoryStream> data;
  if (!reader->Extract(a.plain[1], data))
    throw TFailure{"not in " + U8(a.plain[0]) + ": " + Quoted(a.plain[1])};
  out.write(reinterpret_cast<const char*>(data->Memory()),
            static_cast<std::streamsize>(data->Size()));
  out.flush();
  if (!out) throw TFailure{"cannot write to standard output"};
  return kOk;
}

int Verify(const std::vector<String>& args, std::ostream& out) {
  const TArgs a = ParseArgs(args, false, false);
  if (a.plain.size() != 1) throw TUsageError{"verify needs exactly one package"};
  const auto reader = OpenPackage(a.plain[0], a.key);
  const int count = reader->FileTable().Count();
  out << U8(a.plain[0]) << ": OK, " << count << (count == 1 ? " file, " : " files, ")
      << reader->Payload().size() << " bytes of payload\n";
  return kOk;
}

int Table(const std::vector<String>& args) {
  const TArgs a = ParseArgs(args, false, false);
  if (a.plain.size() != 2 && a.plain.size() != 3)
    throw TUsageError{"table needs a package and one or two output files"};
  const auto reader = OpenPackage(a.plain[0], a.key);
  TOutputFile file(ToPath(a.plain[1]));
  reader->FileTable().SaveToStream(file);
  file.Finish();
  if (a.plain.size() == 3) {
    auto stream = OpenFileStream(a.plain[0]);
    platform::THash sha(platform::THashAlgorithm::Sha256);
    platform::HashStream(sha, *stream);
    const std::vector<uint8_t> digest = sha.Final();
    TOutputFile out(ToPath(a.plain[2]));
    out.WriteBuffer(digest.data(), static_cast<int64_t>(digest.size()));
    out.Finish();
  }
  return kOk;
}

bool IsDeviceName(StringView part) {
  const String base = UpperAscii(part.substr(0, part.find(u'.')));
  for (const char16_t* name : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (base == name) return true;
  if (base.size() == 4 && (StartsWith(base, u"COM") || StartsWith(base, u"LPT")) &&
      base[3] >= u'1' && base[3] <= u'9')
    return true;
  return false;
}

}  // namespace

bool SplitStoredName(StringView name, std::vector<String>& parts, String& reason) {
  parts.clear();
  if (name.empty()) {
    reason = u"the name is empty";
    return false;
  }
  if (name.size() >= 2 && (name[0] == u'\\' || name[0] == u'/') &&
      (name[1] == u'\\' || name[1] == u'/')) {
    reason = u"it is a network (UNC) or device path";
    return false;
  }
  if (name[0] == u'\\' || name[0] == u'/') {
    reason = u"it is an absolute path";
    return false;
  }
  if (name.find(u':') != StringView::npos) {
    reason = u"it contains a drive letter or a colon";
    return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of(u"\\/", start);
    const StringView part = name.substr(start, end == StringView::npos ? end : end - start);
    if (part.empty()) {
      reason = u"it has an empty path component";
      return false;
    }
    if (part == u"..") {
      reason = u"it refers to a parent folder (\"..\")";
      return false;
    }
    if (part == u".") {
      reason = u"it has a \".\" component";
      return false;
    }
    for (const char16_t c : part)
      if (c < 0x20 || String(u"<>\"|?*").find(c) != String::npos) {
        reason = u"it contains a character that Windows file names cannot hold";
        return false;
      }
    if (part.back() == u'.' || part.back() == u' ') {
      reason = u"a component ends in a dot or a space";
      return false;
    }
    if (IsDeviceName(part)) {
      reason = u"it names a Windows device";
      return false;
    }
    parts.emplace_back(part);
    if (end == StringView::npos) break;
    start = end + 1;
  }
  return true;
}

int Run(const std::vector<String>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  if (args.empty()) {
    err << kUsageText;
    return kUsage;
  }
  const String& command = args[0];
  try {
    if (command == u"help" || command == u"--help" || command == u"-h") {
      out << kUsageText;
      return kOk;
    }
    if (command == u"create") return Create(args, out, err, showProgress);
    if (command == u"list") return List(args, out, err);
    if (command == u"extract") return Extract(args, out, err);
    if (command == u"cat") return Cat(args, out);
    if (command == u"verify") return Verify(args, out);
    if (command == u"table") return Table(args);
    throw TUsageError{"unknown command " + Quoted(command)};
  } catch (const TUsageError& e) {
    err << "ipk: " << e.message << "\n\n" << kUsageText;
    return kUsage;
  } catch (const TFailure& e) {
    err << "ipk: " << e.message << "\n";
  } catch (const fs::filesystem_error& e) {
    err << "ipk: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    err << "ipk: out of memory\n";
  } catch (const std::exception& e) {
    err << "ipk: " << e.what() << "\n";
  }
  return kFailed;
}

}  // namespace ipk
