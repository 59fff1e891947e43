#include "resources/setup_resources.h"

#include <functional>

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
    const String module = platform::ModuleFileName();
    if (SameTextLocale(ExtractFileName(module), u"Uninstall.exe")) {
      productSource = OpenFileStream(ChangeFileExt(module, u".dat"));
    } else {
      productSource = OpenResourceStream(u"PRODUCT");
      // An emptied package (the uninstaller's copy of the program carries
      // none) fails at once, as without a table.
      if (productSource->Size() > 0) productTable = KnownProductTable();
    }
    setupPackage_ = std::make_unique<TSetupPackageReader>(*setupSource);
    if (productTable)
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
  if (productPackage_) return true;
  return productLoader_->Wait(stopped);
}

void TSetupResources::RaisePackageFailure() {
  if (productLoader_ && productLoader_->Failed()) productLoader_->Get();
}

bool TSetupResources::ProductHas(StringView name) {
  if (productPackage_) return productPackage_->Exists(name);
  return productLoader_->Exists(name);
}

std::unique_ptr<TMemoryStream> TSetupResources::OpenFile(StringView name) {
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

void TSetupExtractHelper::ExtractFile(const TSetupScriptFile& entry) {
  const String target = resources_.ExpandPath(entry.Name);
  try {
    const size_t folderEnd = target.find_last_of(u"\\/:");
    ForceFolder(folderEnd == String::npos ? StringView()
                                          : StringView(target).substr(0, folderEnd + 1));
    // Written straight from the decoded package: no copy of the file's bytes.
    std::unique_ptr<TReadOnlyMemoryStream> source = resources_.OpenFileView(entry.PackageName());
    std::unique_ptr<TStream> output;
    if (CreateTargetStream(target, *source, output)) {
      output->WriteBuffer(source->Memory(), source->Size());
      output->Flush();
      output.reset();
      RunLog(u"Written: " + target);
    }
  } catch (const Exception& e) {
    throw EInstallerInstallError(target + u"\r\n" + e.Message());
  } catch (const std::exception& e) {
    throw EInstallerInstallError(target + u"\r\n" + Utf8ToUtf16(e.what()));
  }
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
