// INI documents: an ordered list of sections, each an ordered list of raw
// lines, with typed reads and writes. Section and key names compare without
// regard to case in the user's locale; every section and line caches a hash
// of its upper-cased name so that lookups compare integers first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "lib/stream.h"
#include "lib/string_list.h"
#include "lib/strings.h"
#include "lib/text_encoding.h"

class TVelIniFile;

// One section: its lines are the items of the list, kept verbatim.
class TVelIniFileSection : public TVelStringList {
 public:
  TVelIniFileSection(StringView name, TVelIniFile* owner);
  TVelIniFileSection(const TVelIniFileSection&) = delete;
  TVelIniFileSection& operator=(const TVelIniFileSection&) = delete;

  const String& Name() const { return name_; }
  uint32_t NameHash() const;
  // The first line whose name (text before the first "=") matches key, or -1.
  int IndexOfKey(StringView key) const;
  // The same with the hash of the upper-cased key (VelNameHash) at hand.
  int IndexOfKey(StringView key, uint32_t keyHash) const;

 protected:
  void Changed() override;

 private:
  friend class TVelIniFile;

  uint32_t LineHash(int index) const;
  // Replaces the first line of key by key=value, or appends one.
  void WriteKey(StringView key, StringView value);

  String name_;
  mutable uint32_t hash_ = 0;
  mutable bool hashed_ = false;
  TVelIniFile* owner_;
};

class TVelIniFile {
 public:
  // An empty document.
  TVelIniFile();
  // Loads fileName at once (a missing file gives an empty document). With
  // autoSave the document saves itself on destruction when modified.
  explicit TVelIniFile(const String& fileName, bool autoSave = false);
  TVelIniFile(const TVelIniFile&) = delete;
  TVelIniFile& operator=(const TVelIniFile&) = delete;
  virtual ~TVelIniFile();

  const String& FileName() const { return fileName_; }
  void SetFileName(const String& fileName) { fileName_ = fileName; }
  bool AutoSave() const { return autoSave_; }
  void SetAutoSave(bool value) { autoSave_ = value; }
  // The encoding used when saving: UTF-16LE for a new document, the detected
  // one after loading.
  TVelEncoding Encoding() const { return encoding_; }
  void SetEncoding(TVelEncoding encoding) { encoding_ = encoding; }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  // Called after every change while no update is in progress, and by the
  // outermost EndUpdate.
  void SetOnChange(std::function<void(TVelIniFile&)> onChange) { onChange_ = std::move(onChange); }

  // Clears the document and loads the file when it can be opened; a file
  // that cannot be opened leaves the document empty. Never raises for the
  // file; the document is unmodified afterwards.
  void LoadFromFile(const String& fileName);
  // Detects the encoding (stored in Encoding), decodes the rest of the stream
  // and parses it.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream, TVelEncoding encoding) const;
  void SaveToStream(TStream& stream) const { SaveToStream(stream, encoding_); }
  // Replaces the file (read-only attributes are cleared first). False when
  // the file cannot be created or written; never raises.
  bool SaveToFile(const String& fileName, TVelEncoding encoding) const;
  bool SaveToFile(const String& fileName) const { return SaveToFile(fileName, encoding_); }
  // Saves to FileName in Encoding when a file name is set and the document is
  // modified, and clears the modified flag on success. False only when the
  // save failed.
  bool UpdateFile();

  // Makes this document an independent copy of other.
  void Assign(const TVelIniFile& other);
  // Adds source's sections and keys; existing keys take source's values
  // only with overwrite.
  void Merge(const TVelIniFile& source, bool overwrite);
  void MergeFile(const String& fileName, bool overwrite);

  int SectionCount() const { return static_cast<int>(sections_.size()); }
  const String& SectionName(int index) const;
  // Direct access to a section's lines; changes made there notify the
  // document like all others.
  TVelIniFileSection& Sections(int index);
  const TVelIniFileSection& Sections(int index) const;
  // The section of that name, or null.
  TVelIniFileSection* FindSection(StringView name);
  const TVelIniFileSection* FindSection(StringView name) const;
  bool SectionExists(StringView name) const { return FindSection(name) != nullptr; }
  // The section's lines, each followed by CR LF; empty when absent.
  String GetSectionText(StringView name) const;
  void SetSectionText(StringView name, StringView text);
  bool EraseSection(StringView name);
  void Clear();

  bool KeyExists(StringView section, StringView key) const;
  // Deletes every line of the key. False when there was none.
  bool DeleteKey(StringView section, StringView key);
  // Clears list and adds the non-empty names of the section's lines, in order.
  void ReadSectionKeys(StringView section, TVelStringList& list) const;

  String ReadString(StringView section, StringView key, StringView defaultValue) const;
  bool TryReadString(StringView section, StringView key, String& value) const;
  int32_t ReadInteger(StringView section, StringView key, int32_t defaultValue) const;
  bool ReadBool(StringView section, StringView key, bool defaultValue) const;
  // Decodes the value's hexadecimal text into stream at its position and
  // rewinds stream to 0. False (stream untouched) when the key is absent or
  // the text is not hexadecimal.
  bool ReadStream(StringView section, StringView key, TStream& stream) const;
  // Decodes into a temporary stream and hands it to loader when it is not
  // empty. False when nothing was loaded or anything failed, loader included.
  bool ReadStream(StringView section, StringView key,
                  const std::function<void(TStream&)>& loader) const;

  // Writes raise EInvalidOperation for what a line cannot hold: line breaks
  // in any part, a key with "=" or starting with "[".
  void WriteString(StringView section, StringView key, StringView value);
  void WriteInteger(StringView section, StringView key, int32_t value);
  void WriteBool(StringView section, StringView key, bool value);
  // Deletes the key when value equals defaultValue.
  void WriteBool(StringView section, StringView key, bool value, bool defaultValue);
  // The whole stream as lower-case hexadecimal; an empty stream deletes the key.
  void WriteStream(StringView section, StringView key, TStream& stream);

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();

 private:
  friend class TVelIniFileSection;

  void Changed();
  TVelIniFileSection* FindSection(StringView name, uint32_t hash) const;
  TVelIniFileSection& AddSection(StringView name);
  TVelIniFileSection& RequireSection(StringView name);
  void Parse(StringView text);

  bool autoSave_ = false;
  int updateCount_ = 0;
  TVelEncoding encoding_ = TVelEncoding::Utf16LE;
  String fileName_;
  mutable TVelIniFileSection* lastSection_ = nullptr;
  std::function<void(TVelIniFile&)> onChange_;
  bool modified_ = false;
  std::vector<std::unique_ptr<TVelIniFileSection>> sections_;
};

// ELF-style hash of an (upper-cased) name, as cached by sections and lines.
uint32_t VelNameHash(StringView upperName);
