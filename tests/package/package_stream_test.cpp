#include "package/package_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/exceptions.h"
#include "package_test_util.h"
#include "tests/test_util.h"

using namespace package_test;

namespace {

// What a sink saw: per file handed out, its index and bytes.
class TCollectingSink : public ISetupPackageFileSink {
 public:
  explicit TCollectingSink(std::vector<int> skipped = {}, int failAt = -1)
      : skipped_(std::move(skipped)), failAt_(failAt) {}
  bool BeginFile(int index) override {
    for (int s : skipped_)
      if (s == index) return false;
    if (index == failAt_) throw EWriteError();
    files.push_back({index, {}});
    return true;
  }
  void FileData(const uint8_t* data, size_t size) override {
    files.back().second.insert(files.back().second.end(), data, data + size);
  }
  void EndFile() override { ++ended; }

  std::vector<std::pair<int, Bytes>> files;
  int ended = 0;

 private:
  std::vector<int> skipped_;
  int failAt_;
};

std::unique_ptr<TSetupPackageFileTable> TableOf(const Bytes& package) {
  auto reader = Read(package);
  auto table = std::make_unique<TSetupPackageFileTable>();
  TMemoryStream bytes;
  reader->FileTable().SaveToStream(bytes);
  bytes.SetPosition(0);
  table->LoadFromStream(bytes);
  return table;
}

const std::vector<TFile> kFiles = {
    {u"Empty first", {}},
    {u"a.txt", ToBytes("alpha")},
    {u"Big.bin", Pattern(3 << 19, 7)},  // spans pieces
    {u"Empty middle", {}},
    {u"b.txt", ToBytes("beta")},
    {u"Empty last", {}},
};

}  // namespace

// Every file comes in stored order with its bytes, skipped ones not at all;
// a partial decoding hands out only the files that end within it.
const Bytes& Package() {
  static const Bytes package = Build(kFiles);
  return package;
}

TEST(PackageStreamTest, FilesComeInOrderAsTheyAreDecoded) {
  const Bytes& package = Package();
  const auto table = TableOf(package);
  ASSERT_TRUE(CanStreamSetupPackage(*table));

  TReadOnlyMemoryStream source(package.data(), static_cast<int64_t>(package.size()));
  TCollectingSink sink({4});
  int64_t last = 0, total = 0;
  TSetupPackageStreamOptions options;
  options.OnProgress = [&](int64_t done, int64_t all) { last = done, total = all; };
  EXPECT_TRUE(StreamSetupPackage(source, *table, kSetupPackageKey, sink, options));
  ASSERT_EQ(sink.files.size(), 5u);
  EXPECT_EQ(sink.ended, 5);
  const int expected[] = {0, 1, 2, 3, 5};
  for (size_t i = 0; i < sink.files.size(); ++i) {
    EXPECT_EQ(sink.files[i].first, expected[i]);
    EXPECT_EQ(sink.files[i].second, kFiles[static_cast<size_t>(expected[i])].data) << i;
  }
  EXPECT_EQ(last, total);
  EXPECT_EQ(total, static_cast<int64_t>(Read(package)->Payload().size()));

  // Through the end of a.txt: the empty first file and a.txt.
  source.SetPosition(0);
  TCollectingSink partial;
  options.Through = table->Items(1).Offset + table->Items(1).Size;
  EXPECT_TRUE(StreamSetupPackage(source, *table, kSetupPackageKey, partial, options));
  ASSERT_EQ(partial.files.size(), 2u);
  EXPECT_EQ(partial.files[1].second, ToBytes("alpha"));
}

// The final checks: a byte that comes out wrong, a package that is not the
// one of the table, a header that disagrees with the table.
TEST(PackageStreamTest, DamageIsFoundByTheFinalChecks) {
  const Bytes& package = Package();
  const auto table = TableOf(package);

  struct Case {
    const char* what;
    Bytes package;
    int64_t fault = -1;
    bool handedOut = true;  // the files came before the failure
  } cases[] = {
      {"a byte flipped after decoding", package, 100},
      {"a byte of the table flipped", package,
       static_cast<int64_t>(Read(package)->Payload().size()) - 10},
      {"a file renamed", Build({{u"Empty first", {}}, {u"A.txt", ToBytes("alpha")},
                                {u"Big.bin", Pattern(3 << 19, 7)}, {u"Empty middle", {}},
                                {u"b.txt", ToBytes("beta")}, {u"Empty last", {}}})},
      {"a shorter package", Build({{u"a.txt", ToBytes("alpha")}}), -1, false},
  };
  for (const Case& c : cases) {
    SetSetupPackageDecodeFaultForTesting(c.fault);
    TReadOnlyMemoryStream source(c.package.data(), static_cast<int64_t>(c.package.size()));
    TCollectingSink sink;
    EXPECT_EQ(MessageOf([&] { StreamSetupPackage(source, *table, kSetupPackageKey, sink); }),
              "Package was corrupted")
        << c.what;
    EXPECT_EQ(sink.files.empty(), !c.handedOut) << c.what;
  }
  SetSetupPackageDecodeFaultForTesting(-1);

  // Damaged compressed data: decoding stops short.
  Bytes cut(package.begin(), package.begin() + static_cast<ptrdiff_t>(package.size() / 2));
  TReadOnlyMemoryStream source(cut.data(), static_cast<int64_t>(cut.size()));
  TCollectingSink sink;
  EXPECT_EQ(MessageOf([&] { StreamSetupPackage(source, *table, kSetupPackageKey, sink); }),
            "Package was corrupted");
}

// A sink that fails stops the decoding and its failure comes through; the
// decoder's thread is gone when the call returns. Stopping returns false.
TEST(PackageStreamTest, FailingOrStoppingSinkEndsTheDecoding) {
  const Bytes& package = Package();
  const auto table = TableOf(package);
  TReadOnlyMemoryStream source(package.data(), static_cast<int64_t>(package.size()));
  TCollectingSink failing({}, 4);
  EXPECT_EQ(MessageOf([&] { StreamSetupPackage(source, *table, kSetupPackageKey, failing); }),
            U8(EWriteError().Message()));
  EXPECT_EQ(failing.files.size(), 4u);

  source.SetPosition(0);
  TCollectingSink stopped;
  TSetupPackageStreamOptions options;
  options.Stopped = [] { return true; };
  EXPECT_FALSE(StreamSetupPackage(source, *table, kSetupPackageKey, stopped, options));
}

TEST(PackageStreamTest, OnlyFilesBackToBackCanBeStreamed) {
  auto table = TableOf(Package());
  EXPECT_TRUE(CanStreamSetupPackage(*table));
  TSetupPackageFileTable gap, overlap, empty;
  for (auto [t, second] : {std::pair{&gap, int64_t{6}}, std::pair{&overlap, int64_t{4}}}) {
    auto& a = t->Add();
    a.Name = u"a", a.Offset = 0, a.Size = 5;
    auto& b = t->Add();
    b.Name = u"b", b.Offset = second, b.Size = 5;
    EXPECT_FALSE(CanStreamSetupPackage(*t));
  }
  EXPECT_FALSE(CanStreamSetupPackage(empty));
}
