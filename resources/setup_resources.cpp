#include "resources/setup_resources.h"

#include <functional>
#include <unordered_map>

#include "lib/run_log.h"
#include "lib/system.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/resources.h"
#include "platform/system_info.h"
#include "resources/language_dialog.h"

namespace {

constexpr size_t kMaxComponentLength = 260;

std::unique_ptr<TStream> OpenResourceStream(const String& name) {
  std::unique_ptr<TStream> stream = platform::OpenDataResource(name);
  if (!stream) throw EResNotFound(name);
  return stream;
}

// The product package's file table that the program carries beside it; null
// when it carries none or one that cannot be read (the package is then
// decoded before anything else, and its own table is used).
std::unique_ptr<TSetupPackageFileTable> KnownProductTable() {
  std::unique_ptr<TStream> stream = platform::OpenDataResource(u"PRODUCTTABLE");
  if (!stream) return nullptr;
  try {
    auto table = std::make_unique<TSetupPackageFileTable>();
    table->LoadFromStream(*stream);
    if (stream->Position() != stream->Size() || table->Count() == 0) return nullptr;
    return table;
  } catch (const Exception&) {
    return nullptr;
  }
}

// The SHA-256 of the product package's bytes that the program carries;
// empty when it carries none (or not one of 32 bytes).
std::vector<uint8_t> CarriedProductDigest() {
  std::unique_ptr<TStream> stream = platform::OpenDataResource(u"PRODUCTDIGEST");
  if (!stream || stream->Size() != 32) return {};
  std::vector<uint8_t> digest(32);
  stream->ReadBuffer(digest.data(), 32);
  return digest;
}

String ChangeFileExt(const String& path, StringView ext) {
  const String current = ExtractFileExt(path);
  return path.substr(0, path.size() - current.size()) + String(ext);
}

// A special folder with a trailing backslash; the temp folder when the
// system has none.
String FolderOrTemp(int csidl) {
  String path;
  if (platform::SpecialFolder(csidl, path) && !path.empty()) return IncludeTrailingBackslash(path);
  return platform::TempFolder();
}

void ReplaceAll(String& text, StringView from, StringView to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != String::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
}

String CleanComponent(StringView part) {
  String out;
  out.reserve(part.size());
  for (char16_t c : part) {
    if (c == u'"') {
      out += u'\'';
    } else if (c < 32 || c == u'\\' || c == u'<' || c == u'>' || c == u'*' || c == u':' ||
               c == u'?' || c == u'|' || c == u'/') {
      continue;
    } else {
      out += c;
    }
  }
  // Trailing spaces and dots go, but never the first character; then the
  // leading spaces.
  auto trimEnd = [&out] {
    size_t end = out.size();
    while (end > 1 && (out[end - 1] == u' ' || out[end - 1] == u'.')) --end;
    out.resize(end);
  };
  trimEnd();
  size_t begin = 0;
  while (begin < out.size() && out[begin] == u' ') ++begin;
  out.erase(0, begin);
  if (out.size() > kMaxComponentLength) {
    // Windows drops trailing dots and spaces of a name: a cut must not leave any.
    out.resize(kMaxComponentLength);
    trimEnd();
  }
  return out;
}

}  // namespace

String SanitizeSetupPath(StringView path) {
  static constexpr StringView kLongPrefix = u"\\\\?\\";
  if (path.substr(0, kLongPrefix.size()) == kLongPrefix) {
    return String(kLongPrefix) + SanitizeSetupPath(path.substr(kLongPrefix.size()));
  }
  StringView root;
  StringView rest = path;
  if (path.size() >= 2 && path[1] == u':') {
    root = path.substr(0, 2);
  } else if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    const size_t pos = path.find(u'\\', 2);
    root = path.substr(0, pos == StringView::npos ? path.size() : pos);
  }
  rest = path.substr(root.size());

  String joined;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(u'\\', start);
    if (end == StringView::npos) end = rest.size();
    const String part = CleanComponent(rest.substr(start, end - start));
    if (!part.empty()) {
      if (!joined.empty()) joined += u'\\';
      joined += part;
    }
    start = end + 1;
  }
  if (!joined.empty() && !rest.empty() && rest.back() == u'\\') joined += u'\\';
  if (root.empty()) return joined;
  // A bare root ("C:") stays as it is.
  if (rest.empty()) return String(root);
  return String(root) + u'\\' + joined;
}

TSetupResources::TSetupResources(ISetupResourcesHost& host)
    : host_(host),
      lang_(std::make_unique<TVelIniFile>()),
      langs_(std::make_unique<TVelStringList>()),
      script_(std::make_unique<TSetupScript>()) {
  {
    std::unique_ptr<TStream> setupSource = OpenResourceStream(u"SETUP");
    std::unique_ptr<TStream> productSource;
    std::unique_ptr<TSetupPackageFileTable> productTable;
    std::vector<uint8_t> productDigest;
    const String module = platform::ModuleFileName();
    if (SameTextLocale(ExtractFileName(module), u"Uninstall.exe")) {
      productSource = OpenFileStream(ChangeFileExt(module, u".dat"));
    } else {
      productSource = OpenResourceStream(u"PRODUCT");
      // An emptied package (the uninstaller's copy of the program carries
      // none) fails at once, as without a table.
      if (productSource->Size() > 0) {
        productTable = KnownProductTable();
        productDigest = CarriedProductDigest();
      }
    }
    setupPackage_ = std::make_unique<TSetupPackageReader>(*setupSource);
    if (productTable && !productDigest.empty() && CanStreamSetupPackage(*productTable))
      streamed_ = std::make_unique<TStreamedPackage>(std::move(productSource), std::move(productTable),
                                                     std::move(productDigest));
    else if (productTable)
      productLoader_ =
          std::make_unique<TSetupPackageLoader>(std::move(productSource), std::move(productTable));
    else
      productPackage_ = std::make_unique<TSetupPackageReader>(*productSource);
  }  // the sources are released here (the uninstall data file is closed)

  script_->Load(*OpenFile(u"Install.xml"));

  const TSetupPackageFileTable& table = setupPackage_->FileTable();
  for (int i = 0; i < table.Count(); ++i) {
    const String& name = table.Items(i).Name;
    if (SameTextLocale(ExtractFileExt(name), u".lng")) langs_->Add(name);
  }
  langs_->SortLogical();

  desktopDir_ = FolderOrTemp(platform::kCsidlCommonDesktopDirectory);
  programFilesDir_ = FolderOrTemp(platform::kCsidlProgramFiles);
  startMenuDir_ = FolderOrTemp(platform::kCsidlCommonPrograms);
  programFilesX86Dir_ = ExcludeTrailingBackslash(programFilesDir_) + u" (x86)\\";
}

TSetupResources::~TSetupResources() = default;

TSetupPackageReader& TSetupResources::ProductPackage() {
  if (productPackage_) return *productPackage_;
  return productLoader_->Get();
}

bool TSetupResources::WaitForPackages(const std::function<bool()>& stopped) {
  if (streamed_) return streamed_->WaitVerified(stopped);
  if (productPackage_) return true;
  return productLoader_->Wait(stopped);
}

void TSetupResources::RaisePackageFailure() {
  if (streamed_ && streamed_->Failed()) streamed_->WaitVerified();
  if (productLoader_ && productLoader_->Failed()) productLoader_->Get();
}

bool TSetupResources::ProductHas(StringView name) {
  if (streamed_) return streamed_->Exists(name);
  if (productPackage_) return productPackage_->Exists(name);
  return productLoader_->Exists(name);
}

const std::vector<uint8_t>* TSetupResources::StreamedFile(StringView name) {
  if (!streamed_) return nullptr;
  const TSetupPackageFileTableItem* item = streamed_->FileTable().Find(name);
  return item ? &streamed_->FileBytes(*item) : nullptr;
}

std::unique_ptr<TMemoryStream> TSetupResources::OpenFile(StringView name) {
  if (const std::vector<uint8_t>* bytes = StreamedFile(name))
    return std::make_unique<TMemoryStream>(*bytes);
  std::unique_ptr<TMemoryStream> stream;
  // Only a file of the product package waits for its decoding.
  TSetupPackageReader& package = ProductHas(name) ? ProductPackage() : *setupPackage_;
  {
    std::lock_guard lock(openLock_);
    if (package.Extract(name, stream)) return stream;
  }
  throw EInstallerInstallError(Format(u"Cannot locate \"%s\" file in setup archive", {name}));
}

std::unique_ptr<TReadOnlyMemoryStream> TSetupResources::OpenFileView(StringView name) {
  if (const std::vector<uint8_t>* bytes = StreamedFile(name))
    return std::make_unique<TReadOnlyMemoryStream>(bytes->data(), static_cast<int64_t>(bytes->size()));
  std::unique_ptr<TReadOnlyMemoryStream> stream;
  TSetupPackageReader& package = ProductHas(name) ? ProductPackage() : *setupPackage_;
  {
    std::lock_guard lock(openLock_);
    if (package.View(name, stream)) return stream;
  }
  throw EInstallerInstallError(Format(u"Cannot locate \"%s\" file in setup archive", {name}));
}

std::unique_ptr<TSetupImage> TSetupResources::LoadImage(StringView name) {
  const std::unique_ptr<TMemoryStream> stream = OpenFile(name);
  platform::TImage decoded;
  if (!platform::DecodePng(stream->Memory(), static_cast<size_t>(stream->Size()), decoded)) {
    throw EInstallerInstallError(Format(u"Cannot decode \"%s\" image", {name}));
  }
  auto image = std::make_unique<TSetupImage>();
  image->Width = decoded.width;
  image->Height = decoded.height;
  image->Pixels = std::move(decoded.pixels);
  return image;
}

std::unique_ptr<TVelStringList> TSetupResources::LoadStringList(StringView name) {
  const std::unique_ptr<TMemoryStream> stream = OpenFile(name);
  auto list = std::make_unique<TVelStringList>();
  list->LoadFromStream(*stream);
  return list;
}

String TSetupResources::GetLanguageFamily() const {
  return lang_->ReadString(u"File", u"Family", u"EN");
}

String TSetupResources::GetText(StringView section, StringView key) {
  return ExpandText(lang_->ReadString(section, key, u""));
}

String TSetupResources::ExpandText(StringView text) {
  String source(text);
  ReplaceAll(source, u"\\n", u"\r\n");
  // One pass over the text: a value is never searched again, so a "$" in
  // the destination folder or in the product name stays what it is. Where
  // several names could start, the first of this order wins. A value is
  // asked for only when its variable occurs.
  struct TVariable {
    TVariable(StringView n, std::function<String()> v) : name(n), value(std::move(v)) {}
    StringView name;
    std::function<String()> value;
    String cached;
    bool known = false;
  };
  TVariable variables[] = {
      {u"$DEST", [this] { return host_.DestPath(); }},
      {u"$TEMP", [] { return platform::TempFolder(); }},
      {u"$LINK", [this] { return host_.ProductHomePage(); }},
      {u"$NAME", [this] { return host_.ProductName(); }},
      {u"$VERSION", [this] { return host_.ProductVersionText(); }},
      {u"$DESKTOP", [this] { return desktopDir_; }},
      {u"$STARTMENU", [this] { return startMenuDir_; }},
      {u"$PROGRAMS", [this] { return programFilesDir_; }},
  };
  String result;
  result.reserve(source.size());
  size_t pos = 0;
  while (pos < source.size()) {
    const size_t dollar = source.find(u'$', pos);
    if (dollar == String::npos) break;
    result.append(source, pos, dollar - pos);
    pos = dollar;
    TVariable* match = nullptr;
    for (TVariable& variable : variables)
      if (StringView(source).substr(dollar, variable.name.size()) == variable.name) {
        match = &variable;
        break;
      }
    if (!match) {
      result += u'$';
      ++pos;
      continue;
    }
    if (!match->known) {
      match->cached = match->value();
      match->known = true;
    }
    result += match->cached;
    pos += match->name.size();
  }
  result.append(source, pos, String::npos);
  return result;
}

String TSetupResources::ExpandPath(StringView text) {
  return SanitizeSetupPath(ExpandText(text));
}

std::unique_ptr<TMemoryStream> TSetupResources::GetLicense() {
  TSetupScriptFile* entry = script_->License.FindByFamily(GetLanguageFamily());
  if (!entry) entry = script_->License.FindByFamily(u"EN");
  if (!entry) return nullptr;
  return OpenFile(entry->Name);
}

String TSetupResources::ChooseLanguage() {
  TSetupLanguageDialog dialog(*this);
  dialog.Initialize();
  if (!host_.IsAutoRun()) dialog.ShowModal();
  const int index = dialog.SelectedIndex();
  if (index < 0 || index >= langs_->Count()) return u"English.lng";
  return langs_->Strings(index);
}

void TSetupResources::InitializeLanguages() {
  lang_->Clear();
  lang_->LoadFromStream(*OpenFile(u"English.lng"));
  String name = ChooseLanguage();
  TVelIniFile chosen;
  chosen.LoadFromStream(*OpenFile(name));
  name = ExtractFileName(name);
  langName_ = name.substr(0, name.size() - ExtractFileExt(name).size());
  lang_->Merge(chosen, true);
}

// ---- TSetupExtractHelper ----

namespace {

// Runs fn; a failure becomes EInstallerInstallError naming the target.
template <typename F>
void ForTarget(const String& target, F&& fn) {
  try {
    fn();
  } catch (const Exception& e) {
    throw EInstallerInstallError(target + u"\r\n" + e.Message());
  } catch (const std::exception& e) {
    throw EInstallerInstallError(target + u"\r\n" + Utf8ToUtf16(e.what()));
  }
}

// Writes each file of a streamed package to its targets as its bytes come.
// A target that cannot be created at once (held by a running program, say)
// gets the file's bytes collected, and is then handled as a single file
// (compared, moved aside, or the user asked).
class TTargetWriter : public ISetupPackageFileSink {
 public:
  // starting: told before each target is written.
  TTargetWriter(TSetupExtractHelper& helper, const std::vector<std::vector<String>>& targets,
                std::function<void()> starting)
      : helper_(helper), targets_(targets), starting_(std::move(starting)) {}

  bool BeginFile(int index) override {
    current_ = &targets_[static_cast<size_t>(index)];
    if (current_->empty()) return false;
    for (size_t k = 0; k < current_->size(); ++k) starting_();
    outputs_.clear();
    held_ = false;
    collected_.clear();
    for (const String& target : *current_) {
      std::unique_ptr<TStream> output;
      ForTarget(target, [&] {
        helper_.ForceTargetFolder(target);
        output = TSetupExtractHelper::OpenTarget(target);
      });
      held_ = held_ || !output;
      outputs_.push_back(std::move(output));
    }
    return true;
  }
  void FileData(const uint8_t* data, size_t size) override {
    for (size_t k = 0; k < outputs_.size(); ++k)
      if (outputs_[k])
        ForTarget((*current_)[k], [&] { outputs_[k]->WriteBuffer(data, static_cast<int64_t>(size)); });
    if (held_) collected_.insert(collected_.end(), data, data + size);
  }
  void EndFile() override {
    for (size_t k = 0; k < outputs_.size(); ++k) {
      const String& target = (*current_)[k];
      ForTarget(target, [&] {
        if (!outputs_[k]) {
          TReadOnlyMemoryStream source(collected_.data(), static_cast<int64_t>(collected_.size()));
          if (!helper_.CreateTargetStream(target, source, outputs_[k])) return;
          outputs_[k]->WriteBuffer(collected_.data(), static_cast<int64_t>(collected_.size()));
        }
        outputs_[k]->Flush();
        outputs_[k].reset();
        RunLog(u"Written: " + target);
      });
    }
    outputs_.clear();
    collected_.clear();
  }

 private:
  TSetupExtractHelper& helper_;
  const std::vector<std::vector<String>>& targets_;
  std::function<void()> starting_;
  const std::vector<String>* current_ = nullptr;
  std::vector<std::unique_ptr<TStream>> outputs_;
  bool held_ = false;
  std::vector<uint8_t> collected_;
};

}  // namespace

void TSetupExtractHelper::ExtractFile(const TSetupScriptFile& entry) {
  const String target = resources_.ExpandPath(entry.Name);
  ForTarget(target, [&] {
    ForceTargetFolder(target);
    // Written straight from the decoded package: no copy of the file's bytes.
    std::unique_ptr<TReadOnlyMemoryStream> source = resources_.OpenFileView(entry.PackageName());
    std::unique_ptr<TStream> output;
    if (CreateTargetStream(target, *source, output)) {
      output->WriteBuffer(source->Memory(), source->Size());
      output->Flush();
      output.reset();
      RunLog(u"Written: " + target);
    }
  });
}

void TSetupExtractHelper::ExtractFiles(const std::vector<const TSetupScriptFile*>& entries,
                                       const std::function<void(int percent)>& progress) {
  // The share is set before each file is written, so it reaches 100 when
  // the last one starts.
  const size_t count = entries.size();
  size_t started = 0;
  const auto starting = [&] {
    ++started;
    if (progress) progress(static_cast<int>(started * 100 / count));
  };
  TStreamedPackage* package = resources_.StreamedProduct();
  if (!package) {
    for (const TSetupScriptFile* entry : entries) {
      starting();
      ExtractFile(*entry);
    }
    return;
  }
  // The targets of each file of the package, written in the package's
  // order; entries of files it lacks (from the setup package) are written
  // one by one afterwards.
  const TSetupPackageFileTable& table = package->FileTable();
  std::unordered_map<const TSetupPackageFileTableItem*, size_t> indexes;
  for (int i = 0; i < table.Count(); ++i) indexes[&table.Items(i)] = static_cast<size_t>(i);
  std::vector<std::vector<String>> targets(static_cast<size_t>(table.Count()));
  std::vector<const TSetupScriptFile*> others;
  for (const TSetupScriptFile* entry : entries) {
    if (const TSetupPackageFileTableItem* item = table.Find(entry->PackageName()))
      targets[indexes.at(item)].push_back(resources_.ExpandPath(entry->Name));
    else
      others.push_back(entry);
  }
  TTargetWriter writer(*this, targets, starting);
  package->Stream(writer, {});
  for (const TSetupScriptFile* entry : others) {
    starting();
    ExtractFile(*entry);
  }
}

void TSetupExtractHelper::ForceTargetFolder(const String& target) {
  const size_t folderEnd = target.find_last_of(u"\\/:");
  ForceFolder(folderEnd == String::npos ? StringView()
                                        : StringView(target).substr(0, folderEnd + 1));
}

void TSetupExtractHelper::ForceFolder(StringView path) {
  const String folder = ExcludeTrailingBackslash(path);
  const auto fail = [&] { throw EInstallerInstallError(FormatText(u"E3", {path})); };
  if (folder.empty()) fail();

  // Walk up to the first folder that exists, then create the rest downwards.
  std::vector<String> missing;
  String current = folder;
  while (
      !current.empty() && !platform::DirectoryExists(current) &&
      !(current.size() == 2 && current[1] == u':' && platform::DirectoryExists(current + u"\\"))) {
    missing.push_back(current);
    const String parent = ExcludeTrailingBackslash(ExtractFilePath(current));
    if (parent.size() >= current.size()) break;
    current = parent;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!platform::CreateFolder(*it) && !platform::DirectoryExists(*it)) fail();
  }
}

String TSetupExtractHelper::FormatText(StringView key, std::initializer_list<FormatArg> arguments) {
  return Format(resources_.GetText(u"Common", key), arguments);
}
