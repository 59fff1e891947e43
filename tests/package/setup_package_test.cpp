// The package container: layout, round trips, lookups and every failure.
#include "package/setup_package.h"

#include <condition_variable>
#include <mutex>

#include "package/package_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "lib/exceptions.h"
#include "lib/system.h"
#include "package_test_util.h"

using namespace package_test;

namespace {

enum class Failure { None, Corrupted, ReadError, LzmaError, Other };

Failure ReadFailure(const Bytes& package, std::string* message = nullptr) {
  try {
    Read(package);
  } catch (const ESetupPackageReadError& e) {
    if (message) *message = e.what();
    return Failure::Corrupted;
  } catch (const EReadError& e) {
    if (message) *message = e.what();
    return Failure::ReadError;
  } catch (const EInvalidOperation& e) {
    if (message) *message = e.what();
    return Failure::LzmaError;
  } catch (const std::exception& e) {
    if (message) *message = e.what();
    return Failure::Other;
  }
  return Failure::None;
}

uint32_t LE32(const Bytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

const String kUninstallIni = u"Uninstall.ini";

}  // namespace

TEST(SetupPackage, EmptyPackage) {
  const Bytes package = Build({});
  EXPECT_EQ(Bytes(package.begin(), package.begin() + 4), ToBytes("IPK5"));
  EXPECT_EQ(LE32(package, 8), 8u);
  const auto reader = Read(package);
  EXPECT_EQ(reader->FileTable().Count(), 0);
  EXPECT_EQ(reader->Payload(), (Bytes{0, 0, 0, 0, 4, 0, 0, 0}));
  EXPECT_EQ(LE32(package, 4), PackageCrc32(reader->Payload().data(), 8));
  EXPECT_FALSE(reader->Exists(u""));
}

TEST(SetupPackage, SingleFileLayout) {
  const Bytes text = Pattern(1234);
  const Bytes package = Build({{kUninstallIni, text}});
  const size_t expected = text.size() + 4 + (2 + 26 + 8 + 8) + 4;
  EXPECT_EQ(LE32(package, 8), expected);

  Bytes plain = package;
  ApplyCipher(plain);
  EXPECT_EQ(Bytes(plain.begin() + 12, plain.begin() + 17), (Bytes{0x5D, 0x00, 0x00, 0x40, 0x00}));
  // The properties byte in the file is 0x5D XOR the first key digit.
  EXPECT_EQ(package[12], 0x5D ^ '9');

  const auto reader = Read(package);
  const Bytes& payload = reader->Payload();
  ASSERT_EQ(payload.size(), expected);
  EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 1234), text);
  EXPECT_EQ(LE32(payload, expected - 4), 4u + 44u);
  ASSERT_EQ(reader->FileTable().Count(), 1);
  const auto& item = reader->FileTable().Items(0);
  EXPECT_EQ(item.Name, kUninstallIni);
  EXPECT_EQ(item.Offset, 0);
  EXPECT_EQ(item.Size, 1234);
}

TEST(SetupPackage, LookupIgnoresCaseAndFirstDuplicateWins) {
  const auto reader = Read(Build({{u"a.txt", ToBytes("first")},
                                  {kUninstallIni, ToBytes("[General]")},
                                  {u"A.TXT", ToBytes("second")},
                                  {u"\u0424\u0430\u0439\u043b.txt", ToBytes("cyrillic")}}));
  for (const char16_t* name :
       {u"Uninstall.ini", u"UNINSTALL.INI", u"uninstall.ini", u"UnInStAlL.InI"})
    EXPECT_EQ(ExtractBytes(*reader, name), ToBytes("[General]")) << Utf16ToUtf8(name);
  EXPECT_EQ(ExtractBytes(*reader, u"a.txt"), ToBytes("first"));
  EXPECT_EQ(ExtractBytes(*reader, u"A.txt"), ToBytes("first"));
  EXPECT_EQ(ExtractBytes(*reader, u"\u0424\u0410\u0419\u041b.TXT"), ToBytes("cyrillic"));
  // No normalisation of separators or prefixes; lengths must match.
  for (const char16_t* name : {u"Uninstall.in", u"Uninstall.ini ", u".\\a.txt", u"b.txt"}) {
    EXPECT_FALSE(reader->Exists(name)) << Utf16ToUtf8(name);
    std::unique_ptr<TMemoryStream> stream;
    EXPECT_FALSE(reader->Extract(name, stream));
    EXPECT_EQ(stream, nullptr);
  }
  const TSetupPackageFileTableItem* item = nullptr;
  ASSERT_TRUE(reader->FileTable().Find(u"A.TXT", item));
  EXPECT_EQ(item->Offset, 0);

  // A view finds the same file and reads it where it lies in the payload.
  std::unique_ptr<TReadOnlyMemoryStream> view;
  ASSERT_TRUE(reader->View(u"UNINSTALL.INI", view));
  ASSERT_EQ(view->Size(), 9);
  EXPECT_EQ(view->Position(), 0);
  EXPECT_EQ(view->Memory(), reader->Payload().data() + 5);
  EXPECT_EQ(ReadAll(*view), ToBytes("[General]"));
  view.reset();
  EXPECT_FALSE(reader->View(u"b.txt", view));
  EXPECT_EQ(view, nullptr);
}

// Lookups go through an index: they must still give the first entry in
// stored order that the locale calls equal, whatever the table went through.
TEST(SetupPackage, TableLookupFollowsStoredOrderThroughChanges) {
  TSetupPackageFileTable table;
  auto add = [&](const char16_t* name, int64_t offset) {
    auto& item = table.Add();
    item.Name = name;
    item.Offset = offset;
  };
  // A name outside printable ASCII that folds like an ASCII one (KELVIN
  // SIGN folds to "k") comes first and wins.
  add(u"\u212A.txt", 0);
  add(u"k.txt", 1);
  add(u"Dir\\File.dat", 2);
  add(u"dir\\file.DAT", 3);
  auto offset = [&](const char16_t* name) {
    const TSetupPackageFileTableItem* item = table.Find(name);
    return item ? item->Offset : -1;
  };
  EXPECT_EQ(offset(u"K.TXT"), 0);
  EXPECT_EQ(offset(u"DIR\\FILE.DAT"), 2);
  EXPECT_EQ(offset(u"dir\\file.da"), -1);
  EXPECT_EQ(offset(u"\u212a.TXT"), 0);

  table.Delete(0);
  EXPECT_EQ(offset(u"K.TXT"), 1);
  table.Delete(1);
  EXPECT_EQ(offset(u"DIR\\FILE.DAT"), 3);
  add(u"new.bin", 4);
  EXPECT_EQ(offset(u"NEW.BIN"), 4);
  table.Clear();
  EXPECT_EQ(offset(u"k.txt"), -1);
  add(u"k.txt", 5);
  EXPECT_EQ(offset(u"K.txt"), 5);
}

TEST(SetupPackage, RoundTripShapes) {
  constexpr size_t kMiB = 1 << 20;
  const String long_name(65535, u'x');
  struct Case {
    const char* what;
    std::vector<TFile> files;
    int level;
  } cases[] = {
      {"zero-length file", {{u"empty.dat", {}}}, 4},
      {"zero-length between others", {{u"a", Pattern(10)}, {u"b", {}}, {u"c", Pattern(20)}}, 4},
      {"chunk - 1", {{u"f", Pattern(kMiB - 1)}}, 4},
      {"chunk", {{u"f", Pattern(kMiB)}}, 4},
      {"chunk + 1", {{u"f", Pattern(kMiB + 1)}}, 4},
      {"around chunks",
       {{u"f1", Pattern(kMiB - 1, 2)}, {u"f2", Pattern(2, 3)}, {u"f3", Pattern(3 * kMiB + 7, 4)}},
       1},
      {"non-ASCII names",
       {{u"Liesmich \u00e4\u00f6\u00fc\u00df.txt", ToBytes("de")},
        {u"\u65e5\u672c\u8a9e\\\u30d5\u30a1\u30a4\u30eb", ToBytes("ja")},
        {u"music \U0001F3B5.lng", ToBytes("emoji")},
        {u"", ToBytes("empty name")},
        {long_name, ToBytes("longest name")}},
       4},
      {"level 0", {{u"x", Pattern(70000)}}, 0},
      {"level 9", {{u"x", Pattern(70000)}}, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto reader = Read(Build(c.files, c.level));
    ASSERT_EQ(reader->FileTable().Count(), static_cast<int>(c.files.size()));
    int64_t offset = 0;
    for (int i = 0; i < reader->FileTable().Count(); ++i) {
      const auto& item = reader->FileTable().Items(i);
      EXPECT_EQ(item.Name, c.files[i].name);
      EXPECT_EQ(item.Offset, offset);
      EXPECT_EQ(item.Size, static_cast<int64_t>(c.files[i].data.size()));
      offset += item.Size;
      std::unique_ptr<TMemoryStream> stream;
      ASSERT_TRUE(reader->Extract(c.files[i].name, stream));
      EXPECT_EQ(stream->Position(), 0);
      EXPECT_EQ(stream->Bytes(), c.files[i].data);
    }
  }
}

TEST(SetupPackage, ThousandsOfFiles) {
  std::vector<TFile> files;
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "dir" + std::to_string(i % 37) + "\\file" + std::to_string(i) + ".bin";
    files.push_back({Utf8ToUtf16(name), Pattern(static_cast<size_t>(i % 300), i)});
  }
  const auto reader = Read(Build(files));
  ASSERT_EQ(reader->FileTable().Count(), 5000);
  for (int i = 0; i < 5000; i += 7)
    ASSERT_EQ(ExtractBytes(*reader, UpperAscii(files[i].name)), files[i].data) << i;
}

TEST(SetupPackage, BuilderRules) {
  TSetupPackageBuilder builder;
  TMemoryStream source(ToBytes("0123456789"));
  EXPECT_THROW(builder.Add(source, String(65536, u'n')), EInvalidOperation);
  // Bytes are taken from the source's position on; the size says how many.
  source.SetPosition(4);
  builder.Add(source, u"tail");
  EXPECT_EQ(builder.FileTable().Items(0).Size, 6);
  TMemoryStream first, second;
  builder.Commit(first, 4);
  builder.Commit(second, 4);  // the same package again, not a second table
  EXPECT_EQ(first.Bytes(), second.Bytes());
  EXPECT_EQ(ExtractBytes(*Read(first.Bytes()), u"tail"), ToBytes("456789"));
  source.SetPosition(0);
  EXPECT_THROW(builder.Add(source, u"late"), EInvalidOperation);
}

TEST(SetupPackage, DeterministicOutput) {
  const std::vector<TFile> files = {{u"a", Pattern(300000, 1)}, {u"b", Pattern(1000, 2)}};
  EXPECT_EQ(Build(files), Build(files));
}

TEST(SetupPackage, OtherKey) {
  const Bytes package = Build({{u"f", ToBytes("secret")}}, 4, u"other key");
  EXPECT_NE(ReadFailure(package), Failure::None);
  EXPECT_EQ(ExtractBytes(*Read(package, u"other key"), u"f"), ToBytes("secret"));
}

TEST(SetupPackage, SaveToFile) {
  const auto dir = std::filesystem::temp_directory_path();
  const String path = (dir / "mivo_pkg_save_test.ipk").u16string();
  TSetupPackageBuilder builder;
  TMemoryStream source(ToBytes("data"));
  builder.Add(source, kUninstallIni);
  builder.SaveToFile(path, 4);
  {
    auto file = OpenFileStream(path);
    TSetupPackageReader reader(*file);
    EXPECT_EQ(ExtractBytes(reader, kUninstallIni), ToBytes("data"));
  }
  std::filesystem::remove(dir / "mivo_pkg_save_test.ipk");

  const String bad = (dir / "mivo-no-such-folder" / "x.ipk").u16string();
  try {
    builder.SaveToFile(bad, 4);
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    const String prefix = u"Cannot open file \"" + bad + u"\". ";
    EXPECT_TRUE(StartsWith(e.Message(), prefix)) << e.what();
    EXPECT_GT(e.Message().size(), prefix.size()) << "no system message";
  }
}

TEST(SetupPackageFailures, HeaderAndLength) {
  const Bytes good = Build({{kUninstallIni, Pattern(500)}});
  std::string message;
  for (size_t cut : {0, 4, 11}) {
    EXPECT_EQ(ReadFailure(Bytes(good.begin(), good.begin() + cut), &message), Failure::ReadError);
    EXPECT_EQ(message, "Stream read error");
  }
  Bytes bad = good;
  bad[3] = '4';
  EXPECT_EQ(ReadFailure(bad, &message), Failure::Corrupted);
  EXPECT_EQ(message, "Package was corrupted");
  for (uint32_t length : {0u, 1u, LE32(good, 8) - 1, LE32(good, 8) + 1, 0xFFFFFFFFu}) {
    bad = good;
    std::memcpy(bad.data() + 8, &length, 4);
    EXPECT_EQ(ReadFailure(bad), Failure::Corrupted) << length;
  }
  bad = good;
  bad[4] ^= 1;
  EXPECT_EQ(ReadFailure(bad), Failure::Corrupted);
  // Only the magic and the 12 header bytes, and just the properties.
  EXPECT_EQ(ReadFailure(Bytes(good.begin(), good.begin() + 12)), Failure::Corrupted);
  EXPECT_EQ(ReadFailure(Bytes(good.begin(), good.begin() + 17)), Failure::Corrupted);
}

TEST(SetupPackageFailures, UnsupportedPropertiesAreCodecErrors) {
  Bytes package = Build({{u"f", Pattern(100)}});
  ApplyCipher(package);
  package[12] = 225;
  ApplyCipher(package);
  std::string message;
  EXPECT_EQ(ReadFailure(package, &message), Failure::LzmaError);
  EXPECT_EQ(message, "LZMA Error (8)");
}

TEST(SetupPackageFailures, HugeClaimOnTinyFileFailsAtOnce) {
  Bytes package = Build({});
  package.resize(100, 0);  // trailing bytes
  ASSERT_EQ(ReadFailure(package), Failure::None);
  const uint32_t huge = 0xFFFFFFFFu;
  std::memcpy(package.data() + 8, &huge, 4);
  EXPECT_EQ(ReadFailure(package), Failure::Corrupted);
}

TEST(SetupPackageFailures, CutShortInsideCompressedData) {
  const Bytes good = Build({{kUninstallIni, Pattern(3000)}, {u"b", Pattern(2000, 5)}});
  for (size_t cut = 12; cut < good.size(); ++cut) {
    const Bytes shorter(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut));
    ASSERT_EQ(ReadFailure(shorter), Failure::Corrupted) << cut << " of " << good.size();
  }
  Bytes longer = good;
  longer.insert(longer.end(), 1000, 0xAB);
  EXPECT_EQ(ExtractBytes(*Read(longer), u"b"), Pattern(2000, 5));
}

TEST(SetupPackageFailures, KeyStreamStartsAtOffsetTwelve) {
  Bytes package = Build({{kUninstallIni, Pattern(2000)}});
  ApplyCipher(package);
  // Encipher the properties from key position 0, then restart at the data.
  TSetupKey key;
  key.Initialize(kSetupPackageKey);
  key.Apply(package.data() + 12, 5);
  key.Initialize(kSetupPackageKey);
  key.Apply(package.data() + 17, package.size() - 17);
  EXPECT_EQ(ReadFailure(package), Failure::Corrupted);
}

TEST(SetupPackageFailures, TableOutsideThePayload) {
  const Bytes data = ToBytes("0123456789");
  struct Case {
    const char* what;
    Bytes payload;
    Failure expected;
  } cases[] = {
      {"payload shorter than the table size field", {1, 2}, Failure::ReadError},
      {"empty payload", {}, Failure::ReadError},
      {"table size negative", TPayloadWriter().Data(data).I32(0).Finish(-1), Failure::ReadError},
      {"table size beyond the payload", TPayloadWriter().Data(data).I32(0).Finish(15),
       Failure::ReadError},
      {"table size too big by one", TPayloadWriter().I32(0).Finish(5), Failure::ReadError},
      {"count beyond the payload", TPayloadWriter().Data(data).I32(0x7FFFFFFF).Finish(),
       Failure::ReadError},
      {"count of one, no entry", TPayloadWriter().I32(1).Finish(), Failure::ReadError},
      {"name runs past the end",
       TPayloadWriter().Data(data).I32(1).I16(60000).I64(0).I64(0).Finish(), Failure::ReadError},
      {"negative offset", TPayloadWriter().Data(data).I32(1).Name(u"f").I64(-1).I64(1).Finish(),
       Failure::ReadError},
      {"negative size", TPayloadWriter().Data(data).I32(1).Name(u"f").I64(0).I64(-5).Finish(),
       Failure::ReadError},
      {"size beyond the payload",
       TPayloadWriter().Data(data).I32(1).Name(u"f").I64(5).I64(1000).Finish(), Failure::ReadError},
      {"offset beyond the payload",
       TPayloadWriter().Data(data).I32(1).Name(u"f").I64(1 << 20).I64(0).Finish(),
       Failure::ReadError},
      {"offset plus size overflows",
       TPayloadWriter().Data(data).I32(1).Name(u"f").I64(8).I64(INT64_MAX).Finish(),
       Failure::ReadError},
      {"negative count is an empty table", TPayloadWriter().Data(data).I32(-3).Finish(),
       Failure::None},
      {"zero table size reads the count from the size field", TPayloadWriter().Finish(0),
       Failure::None},
      {"entry within the payload",
       TPayloadWriter().Data(data).I32(1).Name(u"f").I64(2).I64(8).Finish(), Failure::None},
  };
  for (const auto& c : cases) {
    std::string message;
    EXPECT_EQ(ReadFailure(WrapPayload(c.payload), &message), c.expected)
        << c.what << ": " << message;
    if (c.expected == Failure::ReadError) {
      EXPECT_EQ(message, "Stream read error") << c.what;
    }
  }
  const auto reader =
      Read(WrapPayload(TPayloadWriter().Data(data).I32(1).Name(u"f").I64(2).I64(8).Finish()));
  EXPECT_EQ(ExtractBytes(*reader, u"F"), ToBytes("23456789"));
}

// Every single-byte change of a small package is caught. The only changes
// that pass are those that cannot alter the decoded payload: the dictionary
// size field (any window at least as large as the payload decodes the same)
// and the range coder's five final flush bytes, which the decoder does not
// need once the expected length is reached.
TEST(SetupPackageFailures, EverySingleByteChangeIsDetected) {
  const std::vector<TFile> files = {{kUninstallIni, ToBytes("[Files]\r\nCount=2\r\n")},
                                    {u"a.txt", ToBytes("hello")}};
  const Bytes good = Build(files);
  const auto reference = Read(good);
  std::set<size_t> passed;
  for (size_t at = 0; at < good.size(); ++at) {
    for (int x = 1; x < 256; ++x) {
      Bytes bad = good;
      bad[at] ^= static_cast<uint8_t>(x);
      std::string message;
      const Failure f = ReadFailure(bad, &message);
      if (at < 4) {
        ASSERT_EQ(f, Failure::Corrupted) << at;
      } else if (f == Failure::LzmaError) {
        ASSERT_EQ(at, 12u) << "codec error away from the properties byte: " << message;
        ASSERT_EQ(message, "LZMA Error (8)");
      } else if (f == Failure::None) {
        passed.insert(at);
        const auto reader = Read(bad);
        ASSERT_EQ(reader->Payload(), reference->Payload()) << at;
      } else {
        ASSERT_TRUE(f == Failure::Corrupted || f == Failure::ReadError) << at << ": " << message;
      }
    }
  }
  for (size_t at : passed) EXPECT_TRUE((at >= 13 && at < 17) || at + 5 >= good.size()) << at;
}

TEST(SetupPackage, ExtractFromTwoThreads) {
  std::vector<TFile> files;
  for (int i = 0; i < 40; ++i)
    files.push_back({u"file" + IntToStr(i), Pattern(static_cast<size_t>(1000 + 977 * i), i)});
  const auto reader = Read(Build(files, 1));
  std::atomic<int> mismatches{0};
  auto work = [&](int start) {
    for (int round = 0; round < 200; ++round) {
      const auto& f = files[static_cast<size_t>((start + round * 3) % 40)];
      std::unique_ptr<TMemoryStream> stream;
      if (!reader->Extract(f.name, stream) || stream->Bytes() != f.data || stream->Position() != 0)
        ++mismatches;
      if (!reader->Exists(f.name)) ++mismatches;
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(mismatches, 0);
}

// ---- decoding on a thread of its own ----

// A source whose bytes arrive only once the gate opens.
class TGatedStream : public TStream {
 public:
  explicit TGatedStream(const Bytes& bytes) : inner_(bytes) {}
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    opened_.notify_all();
  }
  int64_t Read(void* buffer, int64_t count) override {
    std::unique_lock<std::mutex> guard(lock_);
    opened_.wait(guard, [this] { return open_; });
    return inner_.Read(buffer, count);
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }
  void SetSize(int64_t) override {}

 private:
  TMemoryStream inner_;
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
};

std::unique_ptr<TSetupPackageFileTable> TableOf(const Bytes& package) {
  TMemoryStream bytes;
  Read(package)->FileTable().SaveToStream(bytes);
  bytes.SetPosition(0);
  auto table = std::make_unique<TSetupPackageFileTable>();
  table->LoadFromStream(bytes);
  return table;
}

TEST(SetupPackageLoader, NamesAtOnceBytesAfterTheDecodingAndAWaitThatGivesUp) {
  const Bytes package = Build({{u"a.txt", ToBytes("alpha")}, {u"Dir\\b.bin", Pattern(1 << 16)}});
  auto source = std::make_unique<TGatedStream>(package);
  TGatedStream& gate = *source;
  TSetupPackageLoader loader(std::move(source), TableOf(package));
  // Still held at the gate: names are known, a wait that gives up says so.
  EXPECT_TRUE(loader.Exists(u"DIR\\B.BIN"));
  EXPECT_FALSE(loader.Exists(u"c.txt"));
  EXPECT_FALSE(loader.Wait([] { return true; }));
  EXPECT_FALSE(loader.Failed());
  gate.Open();
  EXPECT_TRUE(loader.Wait([] { return false; }));
  EXPECT_EQ(ExtractBytes(loader.Get(), u"a.txt"), ToBytes("alpha"));
}

TEST(SetupPackageLoader, DamageAndAnotherTableFailEveryWait) {
  const Bytes package = Build({{u"a.txt", ToBytes("alpha")}, {u"b.txt", Pattern(5000)}});
  Bytes damaged = package;
  damaged[damaged.size() / 2] ^= 0x55;
  const Bytes other = Build({{u"a.txt", ToBytes("alphabet")}, {u"b.txt", Pattern(5000)}});
  const Bytes renamed = Build({{u"A.txt", ToBytes("alpha")}, {u"b.txt", Pattern(5000)}});
  struct Case {
    const char* what;
    const Bytes* package;
    const Bytes* table;
  } cases[] = {
      {"damaged package", &damaged, &package},
      {"same sizes, other names", &package, &renamed},
      {"a file of another size", &other, &package},
  };
  for (const Case& c : cases) {
    TSetupPackageLoader loader(std::make_unique<TMemoryStream>(*c.package), TableOf(*c.table));
    for (int i = 0; i < 2; ++i) {
      EXPECT_THROW(loader.Get(), ESetupPackageReadError) << c.what;
      EXPECT_THROW(loader.Wait(nullptr), ESetupPackageReadError) << c.what;
    }
    EXPECT_TRUE(loader.Failed()) << c.what;
  }
  // Let go while still decoding: the thread stops and is waited for.
  auto source = std::make_unique<TGatedStream>(package);
  TGatedStream& gate = *source;
  {
    TSetupPackageLoader loader(std::move(source), TableOf(package));
    gate.Open();
  }
}
