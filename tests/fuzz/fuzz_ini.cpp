// INI documents from arbitrary bytes: loading, every kind of read, writes,
// merging and saving. The input is the file itself; the keys and values that
// are written come from the document's own lines, so the seeds stay plain
// INI files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/exceptions.h"
#include "lib/ini_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<uint8_t> Save(const TVelIniFile& ini, TVelEncoding encoding) {
  TMemoryStream stream;
  ini.SaveToStream(stream, encoding);
  return stream.Bytes();
}

// A document saved and loaded again saves to the same bytes.
void CheckRoundTrip(const TVelIniFile& ini) {
  for (TVelEncoding e : {ini.Encoding(), TVelEncoding::Utf16LE, TVelEncoding::Utf8}) {
    const std::vector<uint8_t> first = Save(ini, e);
    TMemoryStream stream(first);
    TVelIniFile reloaded;
    reloaded.LoadFromStream(stream);
    Check(Save(reloaded, reloaded.Encoding()) == first);
    Check(Save(reloaded, TVelEncoding::Utf16LE) == Save(ini, TVelEncoding::Utf16LE));
  }
}

void ExerciseReads(const TVelIniFile& ini) {
  TVelStringList keys;
  for (int s = 0; s < ini.SectionCount(); ++s) {
    const String& section = ini.SectionName(s);
    Check(ini.SectionExists(section));
    ini.ReadSectionKeys(section, keys);
    for (int k = 0; k < keys.Count(); ++k) {
      const String& key = keys.Strings(k);
      String value;
      Check(ini.TryReadString(section, key, value));
      Check(ini.KeyExists(section, key));
      Check(ini.ReadString(section, key, u"\uFFFF") == value);
      (void)ini.ReadInteger(section, key, 0);
      (void)ini.ReadBool(section, key, false);
      TMemoryStream bytes;
      if (ini.ReadStream(section, key, bytes)) Check(bytes.Size() * 2 == int64_t(value.size()));
      (void)ini.ReadStream(section, key, [](TStream& s) { Check(s.Size() > 0); });
    }
    (void)ini.GetSectionText(section);
  }
}

void ExerciseWrites(TVelIniFile& ini) {
  for (int s = 0; s < ini.SectionCount() && s < 8; ++s) {
    const String section = ini.SectionName(s);
    const TVelIniFileSection& lines = ini.Sections(s);
    for (int i = 0; i < lines.Count() && i < 8; ++i) {
      // Whatever the line holds, used once as a key and once as a value.
      const String line = lines.Strings(i);
      try {
        ini.WriteString(section, line, u"v");
        Check(ini.ReadString(section, line, u"") == u"v");
      } catch (const EInvalidOperation&) {
        Check(line.find(u'=') != String::npos || line[0] == u'[');
      }
      ini.WriteString(section, u"copy", line);
      Check(ini.ReadString(section, u"COPY", u"") == line);
      std::vector<uint8_t> raw;
      for (const char16_t c : line) raw.push_back(static_cast<uint8_t>(c));
      TMemoryStream bytes(raw);
      ini.WriteStream(section, u"blob", bytes);
      TMemoryStream back;
      Check(ini.ReadStream(section, u"blob", back) && back.Bytes() == bytes.Bytes());
      ini.WriteInteger(section, u"n", static_cast<int32_t>(line.size()) - 8);
      Check(ini.ReadInteger(section, u"n", 1000) == static_cast<int32_t>(line.size()) - 8);
      ini.WriteBool(section, u"b", line.size() % 2 == 0, true);
    }
    if (s % 3 == 1) ini.DeleteKey(section, u"copy");
    if (s % 5 == 4) ini.EraseSection(section);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TVelIniFile ini;
  ini.LoadFromStream(stream);
  CheckRoundTrip(ini);
  ExerciseReads(ini);

  // A copy and a merge into an empty document give the same document.
  TVelIniFile copy, merged;
  copy.Assign(ini);
  merged.Merge(ini, false);
  const std::vector<uint8_t> saved = Save(ini, TVelEncoding::Utf16LE);
  Check(Save(copy, TVelEncoding::Utf16LE) == saved);
  Check(Save(merged, TVelEncoding::Utf16LE) == saved);

  ExerciseWrites(ini);
  ExerciseReads(ini);
  CheckRoundTrip(ini);

  // Merging the changed document back over its copy either way.
  copy.Merge(ini, true);
  merged.Merge(ini, false);
  ExerciseReads(copy);
  CheckRoundTrip(copy);
  CheckRoundTrip(merged);
  return 0;
}
