// The installer program copied without its product package, on small
// program files put together here: headers, code, resources, relocations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib/stream.h"
#include "resources/program_copy.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
size_t Align(size_t v, size_t a) {
  return (v + a - 1) / a * a;
}

struct TResource {
  uint32_t type;
  std::u16string name;  // empty: the id 1
  Bytes data;
};

constexpr size_t kPe = 0x40, kOpt = kPe + 24, kSections = kOpt + 240;
constexpr uint32_t kFileAlign = 0x200, kSectionAlign = 0x1000;

// A PE32+ program: .text, .rsrc with the resources in the given order of
// their bytes, then a last section (.reloc with one block, unless told
// otherwise), and optionally a certificate table at the end.
Bytes MakeProgram(const std::vector<TResource>& resources, bool checkSum = true,
                  const char* lastName = ".reloc", uint32_t lastFlags = 0x42000040,
                  size_t certificate = 0) {
  // The tree: root, one table per type, one per name, one per language.
  std::vector<uint32_t> types;
  for (const auto& r : resources)
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  std::sort(types.begin(), types.end());
  Bytes tree(16 + 8 * types.size());
  Put16(tree, 14, static_cast<uint32_t>(types.size()));
  std::vector<size_t> dataEntries(resources.size());
  std::vector<std::pair<size_t, size_t>> strings;  // entry position, resource index
  for (size_t t = 0; t < types.size(); ++t) {
    Put32(tree, 16 + 8 * t, types[t]);
    Put32(tree, 16 + 8 * t + 4, 0x80000000u | static_cast<uint32_t>(tree.size()));
    std::vector<size_t> members;
    for (size_t i = 0; i < resources.size(); ++i)
      if (resources[i].type == types[t]) members.push_back(i);
    const size_t table = tree.size();
    tree.resize(table + 16 + 8 * members.size());
    size_t named = 0;
    for (size_t m : members) named += !resources[m].name.empty();
    Put16(tree, table + 12, static_cast<uint32_t>(named));
    Put16(tree, table + 14, static_cast<uint32_t>(members.size() - named));
    for (size_t k = 0; k < members.size(); ++k) {
      const size_t entry = table + 16 + 8 * k;
      if (resources[members[k]].name.empty()) Put32(tree, entry, 1);
      else strings.push_back({entry, members[k]});
      const size_t language = tree.size();
      Put32(tree, entry + 4, 0x80000000u | static_cast<uint32_t>(language));
      tree.resize(language + 24);
      Put16(tree, language + 14, 1);
      Put32(tree, language + 16, 1033);
      dataEntries[members[k]] = language + 16 + 4;  // patched below: data entry offset
    }
  }
  for (auto [entry, index] : strings) {
    Put32(tree, entry, 0x80000000u | static_cast<uint32_t>(tree.size()));
    const auto& name = resources[index].name;
    const size_t at = tree.size();
    tree.resize(at + 2 + 2 * name.size());
    Put16(tree, at, static_cast<uint32_t>(name.size()));
    for (size_t c = 0; c < name.size(); ++c) Put16(tree, at + 2 + 2 * c, name[c]);
  }
  tree.resize(Align(tree.size(), 4));
  std::vector<size_t> records(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    records[i] = tree.size();
    Put32(tree, dataEntries[i], static_cast<uint32_t>(records[i]));
    tree.resize(tree.size() + 16);
  }
  const uint32_t rsrcVa = 0x2000;
  for (size_t i = 0; i < resources.size(); ++i) {
    tree.resize(Align(tree.size(), 8));
    Put32(tree, records[i], static_cast<uint32_t>(rsrcVa + tree.size()));
    Put32(tree, records[i] + 4, static_cast<uint32_t>(resources[i].data.size()));
    tree.insert(tree.end(), resources[i].data.begin(), resources[i].data.end());
  }

  const size_t rsrcRaw = Align(tree.size(), kFileAlign);
  const uint32_t lastVa = static_cast<uint32_t>(rsrcVa + Align(tree.size(), kSectionAlign));
  Bytes file(0x400 + 0x200 + rsrcRaw + 0x200);
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 0x3C, kPe);
  std::memcpy(&file[kPe], "PE\0\0", 4);
  Put16(file, kPe + 4, 0x8664);
  Put16(file, kPe + 6, 3);
  Put16(file, kPe + 20, 240);
  Put16(file, kOpt, 0x20B);
  Put32(file, kOpt + 8, static_cast<uint32_t>(0x200 + rsrcRaw));
  Put32(file, kOpt + 32, kSectionAlign);
  Put32(file, kOpt + 36, kFileAlign);
  Put32(file, kOpt + 56, lastVa + kSectionAlign);
  Put32(file, kOpt + 60, 0x400);
  Put32(file, kOpt + 108, 16);
  const size_t dir = kOpt + 112;
  Put32(file, dir + 2 * 8, rsrcVa);
  Put32(file, dir + 2 * 8 + 4, static_cast<uint32_t>(tree.size()));
  const bool relocations = std::string(lastName) == ".reloc";
  if (relocations) {
    Put32(file, dir + 5 * 8, lastVa);
    Put32(file, dir + 5 * 8 + 4, 12);
  }
  const auto section = [&](int i, const char* name, uint32_t va, size_t vsize, size_t raw,
                           size_t pointer, uint32_t flags) {
    const size_t h = kSections + 40 * i;
    std::memcpy(&file[h], name, std::strlen(name));
    Put32(file, h + 8, static_cast<uint32_t>(vsize));
    Put32(file, h + 12, va);
    Put32(file, h + 16, static_cast<uint32_t>(raw));
    Put32(file, h + 20, static_cast<uint32_t>(pointer));
    Put32(file, h + 36, flags);
  };
  section(0, ".text", 0x1000, 0x100, 0x200, 0x400, 0x60000020);
  section(1, ".rsrc", rsrcVa, tree.size(), rsrcRaw, 0x600, 0x40000040);
  section(2, lastName, lastVa, 12, 0x200, 0x600 + rsrcRaw, lastFlags);
  for (size_t i = 0; i < 0x100; ++i) file[0x400 + i] = static_cast<uint8_t>(0x90 + i % 7);
  std::copy(tree.begin(), tree.end(), file.begin() + 0x600);
  const size_t last = 0x600 + rsrcRaw;
  Put32(file, last, 0x1000);  // a relocation block for the code page
  Put32(file, last + 4, 12);
  Put16(file, last + 8, 0xA010);
  Put16(file, last + 10, 0xA020);
  if (certificate > 0) {
    Put32(file, dir + 4 * 8, static_cast<uint32_t>(file.size()));
    Put32(file, dir + 4 * 8 + 4, static_cast<uint32_t>(certificate));
    file.resize(file.size() + certificate, 0xCE);
  }
  if (checkSum) Put32(file, kOpt + 64, 1);  // any value: the copy gets a right one
  return file;
}

// The bytes of a resource read the way the loader finds them.
bool FindResource(const Bytes& file, uint32_t type, const std::u16string& name, Bytes& data) {
  const uint32_t sections = file[kPe + 6] | (file[kPe + 7] << 8);
  const auto toFile = [&](uint32_t rva) -> size_t {
    for (uint32_t i = 0; i < sections; ++i) {
      const size_t h = kSections + 40 * i;
      const uint32_t va = Get32(file, h + 12), raw = Get32(file, h + 16);
      if (rva >= va && rva < va + raw) return Get32(file, h + 20) + (rva - va);
    }
    return SIZE_MAX;
  };
  const uint32_t root = Get32(file, kOpt + 112 + 16);
  const size_t base = toFile(root);
  const auto find = [&](size_t table, auto matches) -> size_t {
    const size_t count = (file[base + table + 12] | (file[base + table + 13] << 8)) +
                         (file[base + table + 14] | (file[base + table + 15] << 8));
    for (size_t k = 0; k < count; ++k)
      if (matches(Get32(file, base + table + 16 + 8 * k)))
        return Get32(file, base + table + 16 + 8 * k + 4) & 0x7FFFFFFF;
    return SIZE_MAX;
  };
  const size_t names = find(0, [&](uint32_t id) { return id == type; });
  if (names == SIZE_MAX) return false;
  const size_t languages = find(names, [&](uint32_t id) {
    if (name.empty()) return id == 1;
    if (!(id & 0x80000000u)) return false;
    const size_t s = base + (id & 0x7FFFFFFF);
    std::u16string text(file[s] | (file[s + 1] << 8), u'\0');
    for (size_t c = 0; c < text.size(); ++c)
      text[c] = static_cast<char16_t>(file[s + 2 + 2 * c] | (file[s + 3 + 2 * c] << 8));
    return text == name;
  });
  if (languages == SIZE_MAX) return false;
  const size_t record = base + (Get32(file, base + languages + 20));
  const uint32_t size = Get32(file, record + 4);
  const size_t at = size ? toFile(Get32(file, record)) : 0;
  if (at == SIZE_MAX) return false;
  data.assign(file.begin() + static_cast<ptrdiff_t>(at), file.begin() + static_cast<ptrdiff_t>(at + size));
  return true;
}

uint32_t CheckSum(Bytes file) {
  Put32(file, kOpt + 64, 0);
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

Bytes Filled(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

bool Cut(const Bytes& program, Bytes& copy, const std::u16string& name = u"PRODUCT") {
  TMemoryStream source(program);
  TProgramCut cut;
  if (!cut.Plan(source, name)) return false;
  TMemoryStream target;
  cut.Write(source, target);
  copy = target.Bytes();
  EXPECT_EQ(cut.CopySize(), static_cast<int64_t>(copy.size()));
  return true;
}

TEST(ProgramCutTest, TheProductPackageGoesAndEverythingElseStaysUsable) {
  const Bytes product = Filled(100003, 1), setup = Filled(5001, 2), manifest = Filled(301, 3);
  // The product's bytes first (as the linker lays them out), or last.
  for (bool productFirst : {true, false}) {
    std::vector<TResource> resources = {{10, u"SETUP", setup}, {24, u"", manifest}};
    resources.insert(productFirst ? resources.begin() : resources.end(), {10, u"PRODUCT", product});
    const Bytes program = MakeProgram(resources);
    Bytes copy;
    ASSERT_TRUE(Cut(program, copy)) << productFirst;
    EXPECT_LT(copy.size(), program.size() - product.size() + 2 * kFileAlign);
    Bytes data;
    ASSERT_TRUE(FindResource(copy, 10, u"SETUP", data));
    EXPECT_EQ(data, setup);
    ASSERT_TRUE(FindResource(copy, 24, u"", data));
    EXPECT_EQ(data, manifest);
    ASSERT_TRUE(FindResource(copy, 10, u"PRODUCT", data));
    EXPECT_TRUE(data.empty());
    // The code is where it was; the relocations moved down with their
    // section, in the file and in memory, and the image size follows.
    EXPECT_TRUE(std::equal(program.begin() + 0x400, program.begin() + 0x600, copy.begin() + 0x400));
    const size_t reloc = kSections + 80;
    const uint32_t relocVa = Get32(copy, reloc + 12), relocRaw = Get32(copy, reloc + 20);
    EXPECT_EQ(relocVa % kSectionAlign, 0u);
    EXPECT_EQ(Get32(copy, kOpt + 112 + 5 * 8), relocVa);
    EXPECT_EQ(Get32(copy, kOpt + 56), relocVa + kSectionAlign);
    EXPECT_EQ(relocRaw + 0x200, copy.size());
    EXPECT_TRUE(std::equal(copy.begin() + relocRaw, copy.end(),
                           program.begin() + Get32(program, reloc + 20)));
    EXPECT_EQ(Get32(copy, kSections + 40 + 16) % kFileAlign, 0u);
    EXPECT_EQ(Get32(copy, kOpt + 64), CheckSum(copy));
  }
}

TEST(ProgramCutTest, NoCheckSumStaysNoneAndACertificateIsDropped) {
  const Bytes program =
      MakeProgram({{10, u"PRODUCT", Filled(70000, 4)}, {10, u"SETUP", Filled(900, 5)}}, false,
                  ".reloc", 0x42000040, 256);
  Bytes copy;
  ASSERT_TRUE(Cut(program, copy, u"product"));
  EXPECT_EQ(Get32(copy, kOpt + 64), 0u);
  EXPECT_EQ(Get32(copy, kOpt + 112 + 4 * 8), 0u);
  EXPECT_EQ(Get32(copy, kOpt + 112 + 4 * 8 + 4), 0u);
  EXPECT_EQ(Get32(copy, kSections + 80 + 20) + 0x200, copy.size());
}

TEST(ProgramCutTest, ProgramsItCannotCutAreLeftAlone) {
  const std::vector<TResource> usual = {{10, u"PRODUCT", Filled(70000, 6)}, {10, u"SETUP", Filled(90, 7)}};
  Bytes copy;
  // No such resource, only a tiny one, or none of that name in RT_RCDATA.
  EXPECT_FALSE(Cut(MakeProgram(usual), copy, u"OTHER"));
  EXPECT_FALSE(Cut(MakeProgram({{10, u"PRODUCT", Filled(8, 1)}}), copy));
  EXPECT_FALSE(Cut(MakeProgram({{3, u"PRODUCT", Filled(70000, 1)}}), copy));
  // A loaded section after the resources that the relocations do not explain.
  EXPECT_FALSE(Cut(MakeProgram(usual, true, ".data", 0xC0000040), copy));
  // Not a program, or a program cut short anywhere.
  const std::string text = "MZ, but nothing more of a program";
  EXPECT_FALSE(Cut(Bytes(text.begin(), text.end()), copy));
  const Bytes program = MakeProgram(usual);
  for (size_t size : {size_t{0x40}, size_t{0x100}, size_t{0x500}, size_t{0x610}, size_t{0x700}}) {
    EXPECT_FALSE(Cut(Bytes(program.begin(), program.begin() + static_cast<ptrdiff_t>(size)), copy))
        << size;
  }
}

}  // namespace
