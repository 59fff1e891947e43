#include "lib/ini_file.h"

#include <utility>

#include "lib/exceptions.h"
#include "lib/system.h"

namespace {

constexpr int64_t kFileChunk = 256 * 1024;

uint32_t UpperHash(StringView name) {
  return VelNameHash(VelSystem().UpperCase(name));
}

// Equal lengths and equal without regard to case; identical texts skip the
// locale comparison.
bool SameName(StringView a, StringView b) {
  return a.size() == b.size() && (a == b || SameTextLocale(a, b));
}

bool HasLineBreak(StringView text) {
  for (const char16_t c : text)
    if (c == u'\r' || c == u'\n' || c == u'\u2028') return true;
  return false;
}

class TUpdateScope {
 public:
  explicit TUpdateScope(TVelIniFile& ini) : ini_(ini) { ini_.BeginUpdate(); }
  ~TUpdateScope() { ini_.EndUpdate(); }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

 private:
  TVelIniFile& ini_;
};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool DecodeHex(StringView text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.resize(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

void CheckSectionName(StringView section) {
  if (HasLineBreak(section))
    throw EInvalidOperation(u"Invalid INI section name \"" + String(section) + u"\"");
}

void CheckKeyAndValue(StringView section, StringView key, StringView value) {
  CheckSectionName(section);
  if (HasLineBreak(key) || key.find(u'=') != StringView::npos || (!key.empty() && key[0] == u'['))
    throw EInvalidOperation(u"Invalid INI key \"" + String(key) + u"\"");
  if (HasLineBreak(value))
    throw EInvalidOperation(u"Invalid INI value of key \"" + String(key) + u"\"");
}

}  // namespace

uint32_t VelNameHash(StringView upperName) {
  uint32_t h = 0;
  for (const char16_t c : upperName) {
    h = (h << 4) + c;
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) {
      h ^= g >> 24;
      h &= ~g;
    }
  }
  return h;
}

// ---------------------------------------------------------------------------
// TVelIniFileSection

TVelIniFileSection::TVelIniFileSection(StringView name, TVelIniFile* owner)
    : name_(name), owner_(owner) {}

uint32_t TVelIniFileSection::NameHash() const {
  if (!hashed_) {
    hash_ = UpperHash(name_);
    hashed_ = true;
  }
  return hash_;
}

void TVelIniFileSection::Changed() {
  if (owner_) owner_->Changed();
}

uint32_t TVelIniFileSection::LineHash(int index) const {
  const Item& item = items_[static_cast<size_t>(index)];
  if (!item.hashed) {
    const size_t p = item.text.find(u'=');
    item.hash = UpperHash(StringView(item.text).substr(0, p == String::npos ? 0 : p));
    item.hashed = true;
  }
  return item.hash;
}

int TVelIniFileSection::IndexOfKey(StringView key) const {
  if (key.find(u'=') != StringView::npos || items_.empty()) return -1;
  return IndexOfKey(key, UpperHash(key));
}

int TVelIniFileSection::IndexOfKey(StringView key, uint32_t keyHash) const {
  const size_t n = key.size();
  for (int i = 0; i < Count(); ++i) {
    const String& text = items_[static_cast<size_t>(i)].text;
    // The name must have the key's length and end at the first "=".
    if (text.size() <= n || text[n] != u'=') continue;
    const StringView name = StringView(text).substr(0, n);
    if (name.find(u'=') != StringView::npos) continue;
    if (LineHash(i) == keyHash && SameName(name, key)) return i;
  }
  return -1;
}

void TVelIniFileSection::WriteKey(StringView key, StringView value) {
  const uint32_t keyHash = UpperHash(key);
  String line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key);
  line.push_back(u'=');
  line.append(value);
  const int i = key.find(u'=') == StringView::npos ? IndexOfKey(key, keyHash) : -1;
  if (i < 0) {
    Add(line);
    return;
  }
  Item& item = items_[static_cast<size_t>(i)];
  item.text = std::move(line);
  item.hash = keyHash;
  item.hashed = true;
  NotifyChanged();
}

// ---------------------------------------------------------------------------
// TVelIniFile

TVelIniFile::TVelIniFile() = default;

TVelIniFile::TVelIniFile(const String& fileName, bool autoSave)
    : autoSave_(autoSave), fileName_(fileName) {
  LoadFromFile(fileName);
}

TVelIniFile::~TVelIniFile() {
  if (autoSave_) UpdateFile();
}

void TVelIniFile::Changed() {
  if (updateCount_ > 0) return;
  modified_ = true;
  if (onChange_) onChange_(*this);
}

void TVelIniFile::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TVelIniFile::LoadFromFile(const String& fileName) {
  {
    TUpdateScope update(*this);
    Clear();
    encoding_ = TVelEncoding::Utf16LE;
    String error;
    std::unique_ptr<TStream> file = VelSystem().OpenFileRead(fileName, error);
    if (file) {
      try {
        TMemoryStream buffer;
        std::vector<uint8_t> chunk(static_cast<size_t>(kFileChunk));
        for (;;) {
          const int64_t n = file->Read(chunk.data(), kFileChunk);
          if (n <= 0) break;
          buffer.WriteBuffer(chunk.data(), n);
        }
        file.reset();
        buffer.SetPosition(0);
        LoadFromStream(buffer);
      } catch (const std::exception&) {
        // An unreadable file reads as an empty document.
        Clear();
        encoding_ = TVelEncoding::Utf16LE;
      }
    }
  }
  modified_ = false;
}

void TVelIniFile::LoadFromStream(TStream& stream) {
  TVelEncoding encoding;
  const String text = DecodeTextAuto(ReadAll(stream), encoding);
  encoding_ = encoding;
  Parse(text);
}

void TVelIniFile::Parse(StringView text) {
  TUpdateScope update(*this);
  Clear();
  TVelIniFileSection* current = nullptr;
  ForEachLine(text, [&](StringView line) {
    if (line.empty()) return;
    if (line[0] == u'[') {
      const StringView name = line.size() >= 2 ? line.substr(1, line.size() - 2) : StringView();
      current = FindSection(name, UpperHash(name));
      if (!current) current = &AddSection(name);
    } else if (current) {
      current->Add(line);
    }
  });
}

void TVelIniFile::SaveToStream(TStream& stream, TVelEncoding encoding) const {
  size_t size = 0;
  for (const auto& section : sections_) {
    if (section->Count() == 0) continue;
    size += section->Name().size() + 6;
    for (int i = 0; i < section->Count(); ++i) size += section->Strings(i).size() + 2;
  }
  String text;
  text.reserve(size);
  for (const auto& section : sections_) {
    if (section->Count() == 0) continue;
    text.push_back(u'[');
    text.append(section->Name());
    text.append(u"]\r\n");
    for (int i = 0; i < section->Count(); ++i) {
      text.append(section->Strings(i));
      text.append(u"\r\n");
    }
    text.append(u"\r\n");
  }
  WriteEncodedText(stream, text, encoding);
}

bool TVelIniFile::SaveToFile(const String& fileName, TVelEncoding encoding) const {
  try {
    // The whole text is prepared first, so that nothing can fail between
    // truncating the file and writing it.
    TMemoryStream buffer;
    SaveToStream(buffer, encoding);
    VelSystem().ClearFileAttributes(fileName);
    String error;
    std::unique_ptr<TStream> file = VelSystem().CreateFileWrite(fileName, error);
    if (!file) return false;
    file->WriteBuffer(buffer.Bytes().data(), buffer.Size());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TVelIniFile::UpdateFile() {
  if (fileName_.empty() || !modified_) return true;
  if (!SaveToFile(fileName_, encoding_)) return false;
  modified_ = false;
  return true;
}

void TVelIniFile::Assign(const TVelIniFile& other) {
  if (&other == this) return;
  TMemoryStream buffer;
  other.SaveToStream(buffer, TVelEncoding::Utf16LE);
  buffer.SetPosition(0);
  LoadFromStream(buffer);
}

void TVelIniFile::Merge(const TVelIniFile& source, bool overwrite) {
  if (&source == this) return;
  TUpdateScope update(*this);
  for (const auto& from : source.sections_) {
    TVelIniFileSection* to = FindSection(from->Name(), from->NameHash());
    if (!to) {
      to = &AddSection(from->Name());
      to->SetCapacity(from->Count());
      for (int i = 0; i < from->Count(); ++i) to->Add(from->Strings(i));
      continue;
    }
    for (int i = 0; i < from->Count(); ++i) {
      const String& line = from->Strings(i);
      const size_t p = line.find(u'=');
      if (p == String::npos || p == 0) continue;
      const StringView key = StringView(line).substr(0, p);
      const uint32_t keyHash = UpperHash(key);
      if (!overwrite && to->IndexOfKey(key, keyHash) >= 0) continue;
      // The source's value of the key is that of its first line.
      const int first = from->IndexOfKey(key, keyHash);
      to->WriteKey(key, StringView(from->Strings(first < 0 ? i : first)).substr(p + 1));
    }
  }
}

void TVelIniFile::MergeFile(const String& fileName, bool overwrite) {
  TVelIniFile source(fileName);
  Merge(source, overwrite);
}

const String& TVelIniFile::SectionName(int index) const {
  return Sections(index).Name();
}

TVelIniFileSection& TVelIniFile::Sections(int index) {
  if (index < 0 || index >= SectionCount())
    throw EInvalidOperation(u"List index out of bounds (" + IntToStr(index) + u")");
  return *sections_[static_cast<size_t>(index)];
}

const TVelIniFileSection& TVelIniFile::Sections(int index) const {
  return const_cast<TVelIniFile*>(this)->Sections(index);
}

TVelIniFileSection* TVelIniFile::FindSection(StringView name) {
  if (lastSection_ && lastSection_->Name() == name) return lastSection_;
  return FindSection(name, UpperHash(name));
}

const TVelIniFileSection* TVelIniFile::FindSection(StringView name) const {
  return const_cast<TVelIniFile*>(this)->FindSection(name);
}

TVelIniFileSection* TVelIniFile::FindSection(StringView name, uint32_t hash) const {
  if (lastSection_ && lastSection_->NameHash() == hash && SameName(lastSection_->Name(), name))
    return lastSection_;
  for (const auto& section : sections_) {
    if (section->NameHash() == hash && SameName(section->Name(), name)) {
      lastSection_ = section.get();
      return lastSection_;
    }
  }
  return nullptr;
}

TVelIniFileSection& TVelIniFile::AddSection(StringView name) {
  sections_.push_back(std::make_unique<TVelIniFileSection>(name, this));
  lastSection_ = sections_.back().get();
  Changed();
  return *lastSection_;
}

TVelIniFileSection& TVelIniFile::RequireSection(StringView name) {
  TVelIniFileSection* section = FindSection(name);
  return section ? *section : AddSection(name);
}

String TVelIniFile::GetSectionText(StringView name) const {
  const TVelIniFileSection* section = FindSection(name);
  return section ? section->Text() : String();
}

void TVelIniFile::SetSectionText(StringView name, StringView text) {
  CheckSectionName(name);
  ForEachLine(text, [](StringView line) {
    if (!line.empty() && line[0] == u'[')
      throw EInvalidOperation(u"Invalid INI line \"" + String(line) + u"\"");
  });
  TUpdateScope update(*this);
  RequireSection(name).SetText(text);
}

bool TVelIniFile::EraseSection(StringView name) {
  TVelIniFileSection* section = FindSection(name);
  if (!section) return false;
  if (lastSection_ == section) lastSection_ = nullptr;
  for (auto it = sections_.begin(); it != sections_.end(); ++it) {
    if (it->get() == section) {
      sections_.erase(it);
      break;
    }
  }
  Changed();
  return true;
}

void TVelIniFile::Clear() {
  lastSection_ = nullptr;
  if (sections_.empty()) return;
  sections_.clear();
  Changed();
}

bool TVelIniFile::KeyExists(StringView section, StringView key) const {
  const TVelIniFileSection* s = FindSection(section);
  return s && s->IndexOfKey(key) >= 0;
}

bool TVelIniFile::DeleteKey(StringView section, StringView key) {
  TVelIniFileSection* s = FindSection(section);
  if (!s) return false;
  int i = s->IndexOfKey(key);
  if (i < 0) return false;
  // Later lines of the same key would otherwise come to light.
  TUpdateScope update(*this);
  const uint32_t keyHash = UpperHash(key);
  do {
    s->Delete(i);
    i = s->IndexOfKey(key, keyHash);
  } while (i >= 0);
  return true;
}

void TVelIniFile::ReadSectionKeys(StringView section, TVelStringList& list) const {
  list.BeginUpdate();
  list.Clear();
  if (const TVelIniFileSection* s = FindSection(section)) {
    for (int i = 0; i < s->Count(); ++i) {
      const String& line = s->Strings(i);
      const size_t p = line.find(u'=');
      if (p != String::npos && p > 0) list.Add(StringView(line).substr(0, p));
    }
  }
  list.EndUpdate();
}

bool TVelIniFile::TryReadString(StringView section, StringView key, String& value) const {
  const TVelIniFileSection* s = FindSection(section);
  if (!s) return false;
  const int i = s->IndexOfKey(key);
  if (i < 0) return false;
  value = s->Strings(i).substr(key.size() + 1);
  return true;
}

String TVelIniFile::ReadString(StringView section, StringView key, StringView defaultValue) const {
  String value;
  return TryReadString(section, key, value) ? value : String(defaultValue);
}

int32_t TVelIniFile::ReadInteger(StringView section, StringView key, int32_t defaultValue) const {
  String text;
  int32_t value;
  return TryReadString(section, key, text) && TryStrToInt(text, value) ? value : defaultValue;
}

bool TVelIniFile::ReadBool(StringView section, StringView key, bool defaultValue) const {
  String text;
  int32_t value;
  return TryReadString(section, key, text) && TryStrToInt(text, value) ? value != 0 : defaultValue;
}

bool TVelIniFile::ReadStream(StringView section, StringView key, TStream& stream) const {
  String text;
  std::vector<uint8_t> bytes;
  if (!TryReadString(section, key, text) || !DecodeHex(text, bytes)) return false;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(0);
  return true;
}

bool TVelIniFile::ReadStream(StringView section, StringView key,
                             const std::function<void(TStream&)>& loader) const {
  try {
    TMemoryStream buffer;
    if (!ReadStream(section, key, buffer) || buffer.Size() == 0) return false;
    loader(buffer);
    return true;
  } catch (...) {
    return false;
  }
}

void TVelIniFile::WriteString(StringView section, StringView key, StringView value) {
  CheckKeyAndValue(section, key, value);
  TUpdateScope update(*this);
  RequireSection(section).WriteKey(key, value);
}

void TVelIniFile::WriteInteger(StringView section, StringView key, int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TVelIniFile::WriteBool(StringView section, StringView key, bool value) {
  WriteString(section, key, value ? u"1" : u"0");
}

void TVelIniFile::WriteBool(StringView section, StringView key, bool value, bool defaultValue) {
  if (value == defaultValue) {
    CheckKeyAndValue(section, key, {});
    DeleteKey(section, key);
  } else {
    WriteBool(section, key, value);
  }
}

void TVelIniFile::WriteStream(StringView section, StringView key, TStream& stream) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  const int64_t position = stream.Position();
  stream.SetPosition(0);
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadAll(stream);
  } catch (...) {
    stream.SetPosition(position);
    throw;
  }
  stream.SetPosition(position);
  if (bytes.empty()) {
    CheckKeyAndValue(section, key, {});
    DeleteKey(section, key);
    return;
  }
  String text(bytes.size() * 2, u'0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  WriteString(section, key, text);
}
