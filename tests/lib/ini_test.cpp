#include "lib/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "lib/exceptions.h"
#include "lib/system.h"

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

// UTF-16LE bytes of an ASCII text.
std::string Wide(std::string_view ascii) {
  std::string out;
  for (const char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

void LoadText(TVelIniFile& ini, StringView text) {
  TMemoryStream stream;
  WriteEncodedText(stream, text, TVelEncoding::Utf16LE);
  stream.SetPosition(0);
  ini.LoadFromStream(stream);
}

std::vector<uint8_t> Save(const TVelIniFile& ini, TVelEncoding encoding) {
  TMemoryStream stream;
  ini.SaveToStream(stream, encoding);
  return stream.Bytes();
}

String SavedText(const TVelIniFile& ini) {
  TVelEncoding detected;
  return DecodeTextAuto(Save(ini, TVelEncoding::Utf16LE), detected);
}

class IniFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mivo-ini-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  String PathOf(const char* name) const {
    const std::u16string s = (dir_ / name).u16string();
    return String(s.begin(), s.end());
  }
  void WriteFile(const char* name, std::string_view bytes) const {
    std::ofstream(dir_ / name, std::ios::binary).write(bytes.data(), bytes.size());
  }
  std::vector<uint8_t> ReadFile(const char* name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

}  // namespace

TEST(IniFile, ParsingAndLookup) {
  TVelIniFile ini;
  LoadText(ini,
           u"orphan=1\r\n"
           u"[A]\r\nk=1\r\n\r\n[a]\r\nk=2\r\n"  // repeated header continues A
           u"[Spaces]\r\n key = v \r\n"         // nothing is trimmed
           u"[Trail] \r\nx=1\r\n"               // name loses only its last character
           u"[Comments]\r\n;c=1\r\n#d=2\r\nnoequals\r\n"
           u"[=x=y\r\n"  // a header all the same
           u"[Dup]\nK=first\rk=second\u2028other=\u00e4\r\n"
           u"[\u00c4\u0416]\r\n\u0436\u00e4=wide\r\n"
           u"[]\r\n=empty\r\n"
           u"[");
  EXPECT_EQ(ini.SectionCount(), 8);  // "[" alone continues "[]"
  struct Case {
    const char16_t* section;
    const char16_t* key;
    const char16_t* value;  // null: absent
  } cases[] = {
      {u"a", u"K", u"1"},
      {u"A", u"orphan", nullptr},
      {u"spaces", u"key", nullptr},
      {u"spaces", u" key ", u" v "},
      {u"Trail] ", u"x", nullptr},
      {u"Trail]", u"x", u"1"},
      {u"Comments", u";c", u"1"},
      {u"Comments", u"noequals", nullptr},
      {u"DUP", u"k", u"first"},
      {u"dup", u"OTHER", u"\u00e4"},
      {u"\u00e4\u0436", u"\u0416\u00c4", u"wide"},
      {u"", u"", u"empty"},
      {u"Missing", u"k", nullptr},
  };
  for (const auto& c : cases) {
    String value;
    const bool found = ini.TryReadString(c.section, c.key, value);
    const std::string what = Utf16ToUtf8(String(c.section) + u"/" + c.key);
    EXPECT_EQ(found, c.value != nullptr) << what;
    EXPECT_EQ(ini.KeyExists(c.section, c.key), c.value != nullptr) << what;
    EXPECT_EQ(ini.ReadString(c.section, c.key, u"def"), c.value ? c.value : u"def") << what;
  }
  EXPECT_EQ(ini.SectionName(0), u"A");
  EXPECT_EQ(ini.GetSectionText(u"a"), u"k=1\r\nk=2\r\n");
  EXPECT_TRUE(ini.SectionExists(u"=x="));
  EXPECT_TRUE(ini.SectionExists(u""));
}

TEST(IniFile, SaveFormat) {
  TVelIniFile ini;
  ini.WriteString(u"First", u"a", u"1");
  ini.WriteString(u"Empty", u"x", u"1");
  ini.WriteString(u"Second", u"b", u"");
  EXPECT_TRUE(ini.DeleteKey(u"empty", u"X"));  // a section without lines is not written
  EXPECT_TRUE(ini.SectionExists(u"Empty"));
  EXPECT_EQ(Save(ini, TVelEncoding::Utf16LE),
            Bytes("\xFF\xFE" + Wide("[First]\r\na=1\r\n\r\n[Second]\r\nb=\r\n\r\n")));
  EXPECT_EQ(Save(ini, TVelEncoding::Utf8),
            Bytes("\xEF\xBB\xBF[First]\r\na=1\r\n\r\n[Second]\r\nb=\r\n\r\n"));
  EXPECT_EQ(Save(ini, TVelEncoding::Ansi), Bytes("[First]\r\na=1\r\n\r\n[Second]\r\nb=\r\n\r\n"));
  EXPECT_EQ(Save(TVelIniFile(), TVelEncoding::Utf16LE), Bytes("\xFF\xFE"));
}

TEST(IniFile, EncodingsRoundTrip) {
  const String text = u"[S]\r\nk=K\u00e4se \u0416 \U0001F3B5\r\n\r\n";
  for (TVelEncoding e : {TVelEncoding::Utf8, TVelEncoding::Utf16LE, TVelEncoding::Utf16BE}) {
    TVelIniFile ini;
    LoadText(ini, text);
    TMemoryStream stream(Save(ini, e));
    TVelIniFile copy;
    copy.LoadFromStream(stream);
    EXPECT_EQ(copy.Encoding(), e);
    EXPECT_EQ(SavedText(copy), text);
  }
  TVelIniFile ansi;
  TMemoryStream stream(Bytes("[S]\r\nk=K\xE4se\r\n"));
  ansi.LoadFromStream(stream);
  EXPECT_EQ(ansi.Encoding(), TVelEncoding::Ansi);
  EXPECT_EQ(ansi.ReadString(u"s", u"k", u""), u"K\u00e4se");
  EXPECT_EQ(Save(ansi, TVelEncoding::Ansi), Bytes("[S]\r\nk=K\xE4se\r\n\r\n"));
  // A value the code page cannot hold makes the document UTF-16LE rather than '?'.
  ansi.WriteString(u"S", u"path", u"C:\\\u0416");
  TMemoryStream widened(Save(ansi, TVelEncoding::Ansi));
  TVelIniFile reloaded;
  reloaded.LoadFromStream(widened);
  EXPECT_EQ(reloaded.Encoding(), TVelEncoding::Utf16LE);
  EXPECT_EQ(reloaded.ReadString(u"S", u"path", u""), u"C:\\\u0416");
}

TEST(IniFile, WriteStringReplacesFirstMatchInPlace) {
  TVelIniFile ini;
  LoadText(ini, u"[S]\r\n;note\r\nKEY=old\r\nKey=dup\r\nlast=1\r\n");
  ini.WriteString(u"s", u"key", u"new");
  EXPECT_EQ(ini.GetSectionText(u"S"), u";note\r\nkey=new\r\nKey=dup\r\nlast=1\r\n");
  ini.WriteString(u"S", u"added", u"2");
  ini.WriteString(u"New", u"a", u"b");
  EXPECT_EQ(ini.GetSectionText(u"S"), u";note\r\nkey=new\r\nKey=dup\r\nlast=1\r\nadded=2\r\n");
  EXPECT_EQ(ini.SectionName(1), u"New");

  // Deleting a key removes all of its lines, so no duplicate comes to light.
  EXPECT_TRUE(ini.DeleteKey(u"S", u"KEY"));
  EXPECT_FALSE(ini.KeyExists(u"S", u"key"));
  EXPECT_FALSE(ini.DeleteKey(u"S", u"key"));
  EXPECT_FALSE(ini.DeleteKey(u"Missing", u"key"));

  TVelStringList keys;
  keys.Add(u"stale");
  ini.ReadSectionKeys(u"s", keys);
  EXPECT_EQ(keys.Text(), u"last\r\nadded\r\n");
}

TEST(IniFile, WritesRejectWhatALineCannotHold) {
  TVelIniFile ini;
  struct Case {
    const char16_t* section;
    const char16_t* key;
    const char16_t* value;
  } cases[] = {
      {u"S", u"a=b", u"v"},      {u"S", u"[x", u"v"},      {u"S", u"k\r", u"v"},
      {u"S", u"k", u"v\r\n[X]"}, {u"S", u"k", u"v\u2028"}, {u"S\n", u"k", u"v"},
  };
  for (const auto& c : cases)
    EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), EInvalidOperation)
        << Utf16ToUtf8(String(c.section) + u"/" + c.key + u"=" + c.value);
  EXPECT_THROW(ini.SetSectionText(u"S", u"a=1\r\n[Other]\r\n"), EInvalidOperation);
  EXPECT_EQ(ini.SectionCount(), 0);
  EXPECT_FALSE(ini.Modified());
}

TEST(IniFile, TypedReads) {
  TVelIniFile ini;
  LoadText(ini,
           u"[N]\r\nhex=$ff\r\nhex2=0x10\r\nneg=-5\r\nbad=12a\r\nempty=\r\nspace= 1\r\n"
           u"zero=0\r\ntwo=2\r\nbig=2147483648\r\n");
  struct Case {
    const char16_t* key;
    int32_t integer;  // with default 99
    bool boolean;     // with default true
  } cases[] = {
      {u"hex", 255, true},  {u"hex2", 16, true},    {u"neg", -5, true},  {u"bad", 99, true},
      {u"empty", 99, true}, {u"space", 99, true},   {u"zero", 0, false}, {u"two", 2, true},
      {u"big", 99, true},   {u"missing", 99, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ini.ReadInteger(u"N", c.key, 99), c.integer) << Utf16ToUtf8(c.key);
    EXPECT_EQ(ini.ReadBool(u"N", c.key, true), c.boolean) << Utf16ToUtf8(c.key);
  }
  EXPECT_FALSE(ini.ReadBool(u"N", u"bad", false));
}

TEST(IniFile, TypedWrites) {
  TVelIniFile ini;
  ini.WriteInteger(u"S", u"i", -42);
  ini.WriteBool(u"S", u"t", true);
  ini.WriteBool(u"S", u"f", false);
  ini.WriteBool(u"S", u"d", true, false);
  EXPECT_EQ(ini.GetSectionText(u"S"), u"i=-42\r\nt=1\r\nf=0\r\nd=1\r\n");
  ini.WriteBool(u"S", u"d", false, false);  // the default removes the key
  ini.WriteBool(u"Other", u"x", true, true);
  EXPECT_EQ(ini.GetSectionText(u"S"), u"i=-42\r\nt=1\r\nf=0\r\n");
  EXPECT_FALSE(ini.SectionExists(u"Other"));

  TMemoryStream bytes(Bytes("\x0a\xff\x00"sv));
  bytes.SetPosition(2);
  ini.WriteStream(u"S", u"blob", bytes);
  EXPECT_EQ(ini.ReadString(u"S", u"blob", u""), u"0aff00");
  EXPECT_EQ(bytes.Position(), 2);
  TMemoryStream empty;
  ini.WriteStream(u"S", u"blob", empty);
  EXPECT_FALSE(ini.KeyExists(u"S", u"blob"));
}

TEST(IniFile, ReadStream) {
  TVelIniFile ini;
  LoadText(ini, u"[S]\r\nok=0aFF\r\nodd=0aF\r\nbad=0g\r\nempty=\r\n");
  struct Case {
    const char16_t* key;
    bool ok;
    std::string bytes;  // the stream afterwards; it starts as "pre"
  } cases[] = {
      {u"ok", true, std::string("pre\x0a\xff")},
      {u"odd", false, "pre"},
      {u"bad", false, "pre"},
      {u"missing", false, "pre"},
      {u"empty", true, "pre"},
  };
  for (const auto& c : cases) {
    TMemoryStream stream(Bytes("pre"));
    stream.SetPosition(3);
    EXPECT_EQ(ini.ReadStream(u"S", c.key, stream), c.ok) << Utf16ToUtf8(c.key);
    EXPECT_EQ(stream.Bytes(), Bytes(c.bytes)) << Utf16ToUtf8(c.key);
    EXPECT_EQ(stream.Position(), c.ok ? 0 : 3) << Utf16ToUtf8(c.key);
  }

  std::vector<uint8_t> loaded;
  auto loader = [&loaded](TStream& s) { loaded = ReadAll(s); };
  EXPECT_TRUE(ini.ReadStream(u"S", u"ok", loader));
  EXPECT_EQ(loaded, Bytes("\x0a\xff"));
  EXPECT_FALSE(ini.ReadStream(u"S", u"empty", loader));
  EXPECT_FALSE(ini.ReadStream(u"S", u"odd", loader));
  EXPECT_FALSE(ini.ReadStream(u"S", u"ok", [](TStream&) { throw EReadError(); }));
}

TEST(IniFile, Merge) {
  TVelIniFile target, source;
  LoadText(target, u"[Common]\r\nA1=old\r\nkeep=1\r\n");
  LoadText(source,
           u"[common]\r\na1=new\r\n;comment\r\nA2=added\r\nA2=second\r\n"
           u"[Page]\r\n;kept verbatim\r\nx=1\r\n");
  TVelIniFile keep;
  keep.Assign(target);
  keep.Merge(source, false);
  EXPECT_EQ(keep.GetSectionText(u"Common"), u"A1=old\r\nkeep=1\r\nA2=added\r\n");
  EXPECT_EQ(keep.GetSectionText(u"Page"), u";kept verbatim\r\nx=1\r\n");

  target.Merge(source, true);
  EXPECT_EQ(target.GetSectionText(u"Common"), u"a1=new\r\nkeep=1\r\nA2=added\r\n");
  EXPECT_EQ(target.SectionName(1), u"Page");
}

TEST(IniFile, AssignMakesAnIndependentCopy) {
  TVelIniFile a;
  a.SetEncoding(TVelEncoding::Ansi);
  a.WriteString(u"S", u"k", u"1");
  TVelIniFile b;
  b.WriteString(u"Old", u"x", u"y");
  b.Assign(a);
  a.WriteString(u"S", u"k", u"2");
  EXPECT_EQ(b.ReadString(u"S", u"k", u""), u"1");
  EXPECT_FALSE(b.SectionExists(u"Old"));
  EXPECT_EQ(b.Encoding(), TVelEncoding::Utf16LE);
}

TEST(IniFile, SectionsAndText) {
  TVelIniFile ini;
  ini.SetSectionText(u"B", u"x=1\ny=2");
  ini.SetSectionText(u"A", u"z=3\r\n");
  ini.SetSectionText(u"b", u"w=4\r\n");  // replaces B's lines
  EXPECT_EQ(SavedText(ini), u"[B]\r\nw=4\r\n\r\n[A]\r\nz=3\r\n\r\n");
  EXPECT_EQ(ini.GetSectionText(u"missing"), u"");
  EXPECT_TRUE(ini.EraseSection(u"b"));
  EXPECT_FALSE(ini.EraseSection(u"B"));
  EXPECT_FALSE(ini.SectionExists(u"B"));  // not found through the last-found cache
  EXPECT_EQ(ini.SectionCount(), 1);
  ini.Clear();
  EXPECT_EQ(ini.SectionCount(), 0);
  EXPECT_FALSE(ini.KeyExists(u"A", u"z"));
}

TEST(IniFile, UpdatesAndNotifications) {
  TVelIniFile ini;
  int calls = 0;
  ini.SetOnChange([&calls](TVelIniFile&) { ++calls; });
  ini.WriteString(u"S", u"a", u"1");  // a new section and a line: one change
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(ini.Modified());
  ini.SetModified(false);

  ini.BeginUpdate();
  ini.BeginUpdate();
  ini.WriteString(u"S", u"a", u"2");
  ini.Sections(0).Add(u"direct=1");
  ini.EraseSection(u"S");
  ini.EndUpdate();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(ini.Modified());
  ini.EndUpdate();
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(ini.Modified());

  ini.SetModified(false);
  EXPECT_FALSE(ini.DeleteKey(u"S", u"a"));  // nothing changed
  EXPECT_FALSE(ini.Modified());
  ini.SetSectionText(u"T", u"a=1\r\nb=2\r\n");
  EXPECT_EQ(calls, 3);
}

TEST_F(IniFiles, AnsiFileKeepsItsEncoding) {
  WriteFile("lang.ini", "[S]\r\nk=\xE4\r\n");
  {
    TVelIniFile ini(PathOf("lang.ini"), true);
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(ini.Encoding(), TVelEncoding::Ansi);
    EXPECT_EQ(ini.ReadString(u"s", u"K", u""), u"\u00e4");
    ini.WriteString(u"S", u"n", u"\u00f6");
  }  // saved on destruction
  EXPECT_EQ(ReadFile("lang.ini"), Bytes("[S]\r\nk=\xE4\r\nn=\xF6\r\n\r\n"));
}

TEST_F(IniFiles, NewDocumentIsSavedAsUtf16LE) {
  TVelIniFile ini(PathOf("new.ini"));
  EXPECT_EQ(ini.SectionCount(), 0);
  EXPECT_TRUE(ini.UpdateFile());  // not modified: nothing to write
  EXPECT_FALSE(fs::exists(dir_ / "new.ini"));
  ini.WriteString(u"S", u"k", u"v");
  EXPECT_TRUE(ini.UpdateFile());
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(ReadFile("new.ini"), Bytes("\xFF\xFE" + Wide("[S]\r\nk=v\r\n\r\n")));
}

TEST_F(IniFiles, SaveToFileReplacesReadOnlyAndReportsFailure) {
  WriteFile("ro.ini", "old");
  fs::permissions(dir_ / "ro.ini", fs::perms::owner_read, fs::perm_options::replace);
  TVelIniFile ini;
  ini.WriteString(u"S", u"k", u"v");
  EXPECT_TRUE(ini.SaveToFile(PathOf("ro.ini"), TVelEncoding::Utf8));
  EXPECT_EQ(ReadFile("ro.ini"), Bytes("\xEF\xBB\xBF[S]\r\nk=v\r\n\r\n"));

  EXPECT_FALSE(ini.SaveToFile(PathOf("no-such-folder/x.ini"), TVelEncoding::Utf16LE));
  ini.SetFileName(PathOf("no-such-folder/x.ini"));
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_TRUE(ini.Modified());
}

// Stands in for a file system where a read-only file cannot be replaced
// (the test may run as a user whom permissions do not stop).
class TReadOnlyFileServices : public TVelSystemServices {
 public:
  bool ClearFileAttributes(const String& path) override {
    readOnly_ = false;
    return inner_.ClearFileAttributes(path);
  }
  std::unique_ptr<TStream> CreateFileWrite(const String& path, String& error) override {
    if (readOnly_) {
      error = u"Access is denied.";
      return nullptr;
    }
    return inner_.CreateFileWrite(path, error);
  }

 private:
  TVelSystemServices& inner_ = VelSystem();
  bool readOnly_ = true;
};

TEST_F(IniFiles, SaveToFileClearsAttributesFirst) {
  TVelSystemServices& previous = VelSystem();
  TReadOnlyFileServices services;
  SetVelSystem(&services);
  TVelIniFile ini;
  ini.WriteString(u"S", u"k", u"v");
  const bool saved = ini.SaveToFile(PathOf("ro.ini"), TVelEncoding::Ansi);
  SetVelSystem(&previous);
  EXPECT_TRUE(saved);
  EXPECT_EQ(ReadFile("ro.ini"), Bytes("[S]\r\nk=v\r\n\r\n"));
}

TEST_F(IniFiles, LoadFromFileAndMergeFile) {
  WriteFile("en.lng", "\xEF\xBB\xBF[Common]\r\nA1=Hello\r\nA2=Bye\r\n");
  WriteFile("de.lng", "\xFF\xFE" + Wide("[COMMON]\r\nA1=Hallo\r\n"));
  TVelIniFile lang;
  int calls = 0;
  lang.SetOnChange([&calls](TVelIniFile&) { ++calls; });
  lang.WriteString(u"Stale", u"x", u"1");
  lang.LoadFromFile(PathOf("en.lng"));
  EXPECT_FALSE(lang.Modified());
  EXPECT_FALSE(lang.SectionExists(u"Stale"));
  EXPECT_EQ(lang.Encoding(), TVelEncoding::Utf8);
  lang.MergeFile(PathOf("de.lng"), true);
  lang.MergeFile(PathOf("missing.lng"), true);
  EXPECT_EQ(lang.GetSectionText(u"common"), u"A1=Hallo\r\nA2=Bye\r\n");
  EXPECT_EQ(lang.FileName(), u"");

  lang.LoadFromFile(PathOf("missing.lng"));  // no error, an empty document
  EXPECT_EQ(lang.SectionCount(), 0);
  EXPECT_FALSE(lang.Modified());
  EXPECT_EQ(lang.Encoding(), TVelEncoding::Utf16LE);
}
