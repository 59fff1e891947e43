#include "resources/program_copy.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "lib/exceptions.h"
#include "lib/system.h"

namespace {

constexpr uint32_t kRtRcdata = 10;
constexpr int64_t kMaxHeaders = 64 * 1024;
constexpr int kMaxSections = 96;
constexpr int kMaxResourceEntries = 4096;
constexpr int64_t kMaxRelocations = 16 << 20;
// Later resources keep their alignment: the bytes taken out are a multiple
// of this, and what is left of the removed resource becomes zeros.
constexpr uint32_t kResourceAlignment = 16;
constexpr uint32_t kDiscardable = 0x02000000;
constexpr int kSecurityDirectory = 4;
constexpr int kRelocationDirectory = 5;
constexpr int kDebugDirectory = 6;
constexpr int64_t kChunk = 1 << 20;

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
std::vector<uint8_t> Bytes32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
uint64_t AlignUp(uint64_t v, uint64_t alignment) {
  return (v + alignment - 1) / alignment * alignment;
}
bool IsPowerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

// Reads exactly size bytes at offset; false when they are not all there.
bool ReadAt(TStream& stream, int64_t fileSize, int64_t offset, void* buffer, int64_t size) {
  if (offset < 0 || size < 0 || offset > fileSize || size > fileSize - offset) return false;
  stream.SetPosition(offset);
  int64_t done = 0;
  while (done < size) {
    const int64_t n = stream.Read(static_cast<uint8_t*>(buffer) + done, size - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

struct TSection {
  int64_t header = 0;  // file offset of its header
  uint32_t va = 0;
  uint32_t virtualSize = 0;
  uint32_t rawPointer = 0;
  uint32_t rawSize = 0;
  uint32_t flags = 0;
  uint64_t Span(uint32_t sectionAlignment) const {
    return AlignUp(std::max(virtualSize, rawSize), sectionAlignment);
  }
};

// Whether every debug entry's data lies in the file before the given
// offset, so that it does not move.
bool DebugDataBefore(TStream& program, int64_t fileSize, const std::vector<TSection>& sections,
                     uint32_t rva, uint32_t size, uint64_t limit) {
  if (size % 28 != 0 || size > 28 * 64) return false;
  for (const TSection& s : sections) {
    if (rva < s.va || rva - s.va > s.rawSize || size > s.rawSize - (rva - s.va)) continue;
    std::vector<uint8_t> entries(size);
    if (!ReadAt(program, fileSize, s.rawPointer + int64_t{rva - s.va}, entries.data(), size))
      return false;
    for (uint32_t at = 0; at < size; at += 28) {
      const uint32_t dataSize = Get32(&entries[at + 16]);
      const uint32_t pointer = Get32(&entries[at + 24]);
      if (dataSize > 0 && uint64_t{pointer} + dataSize > limit) return false;
    }
    return true;
  }
  return false;
}

}  // namespace

bool TProgramCut::Plan(TStream& program, StringView resourceName) {
  segments_.clear();
  patches_.clear();
  copySize_ = 0;
  const int64_t fileSize = program.Size();
  std::vector<uint8_t> head(static_cast<size_t>(std::min(fileSize, kMaxHeaders)));
  if (head.size() < 64 || !ReadAt(program, fileSize, 0, head.data(), static_cast<int64_t>(head.size())))
    return false;
  const auto inHead = [&](uint64_t offset, uint64_t size) {
    return offset <= head.size() && size <= head.size() - offset;
  };
  if (head[0] != 'M' || head[1] != 'Z') return false;
  const uint32_t pe = Get32(&head[0x3C]);
  if (!inHead(pe, 24) || std::memcmp(&head[pe], "PE\0\0", 4) != 0) return false;
  const uint32_t sectionCount = Get16(&head[pe + 6]);
  const uint32_t symbolTable = Get32(&head[pe + 12]);
  const uint32_t optionalSize = Get16(&head[pe + 20]);
  const uint32_t opt = pe + 24;
  if (sectionCount == 0 || sectionCount > kMaxSections || !inHead(opt, optionalSize) ||
      optionalSize < 2)
    return false;
  const uint16_t magic = Get16(&head[opt]);
  uint32_t directories = 0, countField = 0;
  if (magic == 0x10B) {
    countField = 92, directories = 96;
  } else if (magic == 0x20B) {
    countField = 108, directories = 112;
  } else {
    return false;
  }
  if (optionalSize < directories) return false;
  const uint32_t directoryCount = Get32(&head[opt + countField]);
  if (directoryCount <= kRelocationDirectory ||
      directoryCount > (optionalSize - directories) / 8)
    return false;
  const uint32_t sectionAlignment = Get32(&head[opt + 32]);
  const uint32_t fileAlignment = Get32(&head[opt + 36]);
  const uint32_t sizeOfImage = Get32(&head[opt + 56]);
  const uint32_t checkSum = Get32(&head[opt + 64]);
  if (!IsPowerOfTwo(sectionAlignment) || !IsPowerOfTwo(fileAlignment)) return false;
  const auto directory = [&](uint32_t i) { return opt + directories + 8 * i; };

  const uint64_t sectionTable = uint64_t{opt} + optionalSize;
  if (!inHead(sectionTable, uint64_t{sectionCount} * 40)) return false;
  std::vector<TSection> sections(sectionCount);
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint8_t* h = &head[sectionTable + 40 * i];
    TSection& s = sections[i];
    s.header = static_cast<int64_t>(sectionTable + 40 * i);
    s.virtualSize = Get32(h + 8);
    s.va = Get32(h + 12);
    s.rawSize = Get32(h + 16);
    s.rawPointer = Get32(h + 20);
    s.flags = Get32(h + 36);
    if (s.rawSize > 0 && (s.rawPointer > fileSize || s.rawSize > fileSize - s.rawPointer))
      return false;
    // In ascending order in memory and, where they have file data, in the file.
    if (i > 0) {
      const TSection& p = sections[i - 1];
      if (uint64_t{p.va} + p.Span(sectionAlignment) > s.va) return false;
    }
  }

  // The resource section and the resource tree.
  const uint32_t resourceRva = Get32(&head[directory(2)]);
  const uint32_t resourceDirectorySize = Get32(&head[directory(2) + 4]);
  int found = -1;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const TSection& s = sections[i];
    if (resourceRva >= s.va && resourceRva - s.va < std::min(s.virtualSize, s.rawSize)) found = int(i);
  }
  if (found < 0) return false;
  const TSection& rsrc = sections[static_cast<size_t>(found)];
  const uint32_t contentSize = std::min(rsrc.virtualSize, rsrc.rawSize);
  const uint64_t contentEnd = uint64_t{rsrc.va} + contentSize;
  // Reads resource bytes by their address.
  const auto readRva = [&](uint64_t rva, void* buffer, uint64_t size) {
    if (rva < rsrc.va || rva > contentEnd || size > contentEnd - rva) return false;
    return ReadAt(program, fileSize, rsrc.rawPointer + static_cast<int64_t>(rva - rsrc.va), buffer,
                  static_cast<int64_t>(size));
  };

  struct TTarget {
    uint64_t entry;  // address of the data entry
    uint64_t rva;
    uint64_t size;
  };
  std::vector<TTarget> targets;
  struct TExtent {
    uint64_t rva;
    uint64_t size;
    uint64_t entry;  // data entry whose address field points here; 0 for structures
  };
  std::vector<TExtent> others;
  int entries = 0;
  // level 0: types, 1: names, 2: languages.
  std::function<bool(uint32_t, int, bool)> walk = [&](uint32_t offset, int level, bool target) {
    uint8_t table[16];
    const uint64_t at = uint64_t{resourceRva} + offset;
    if (!readRva(at, table, sizeof table)) return false;
    const uint32_t count = uint32_t{Get16(table + 12)} + Get16(table + 14);
    entries += static_cast<int>(count);
    if (entries > kMaxResourceEntries) return false;
    std::vector<uint8_t> list(size_t{count} * 8);
    if (!readRva(at + 16, list.data(), list.size())) return false;
    others.push_back({at, 16 + list.size(), 0});
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t name = Get32(&list[8 * i]);
      const uint32_t data = Get32(&list[8 * i + 4]);
      bool match = target;
      if (level == 0) {
        match = !(name & 0x80000000u) && name == kRtRcdata;
      } else if (level == 1) {
        match = false;
        if (name & 0x80000000u) {
          const uint64_t stringAt = uint64_t{resourceRva} + (name & 0x7FFFFFFFu);
          uint8_t lengthBytes[2];
          if (!readRva(stringAt, lengthBytes, 2)) return false;
          const uint16_t length = Get16(lengthBytes);
          std::vector<uint8_t> text(size_t{length} * 2);
          if (!readRva(stringAt + 2, text.data(), text.size())) return false;
          others.push_back({stringAt, 2 + text.size(), 0});
          String entryName(length, u'\0');
          for (size_t c = 0; c < length; ++c)
            entryName[c] = static_cast<char16_t>(Get16(&text[2 * c]));
          match = target && SameTextAscii(entryName, resourceName);
        }
      }
      if (data & 0x80000000u) {
        if (level == 2 || !walk(data & 0x7FFFFFFFu, level + 1, match)) return false;
        continue;
      }
      if (level != 2) return false;
      uint8_t record[16];
      const uint64_t recordAt = uint64_t{resourceRva} + data;
      if (!readRva(recordAt, record, sizeof record)) return false;
      others.push_back({recordAt, sizeof record, 0});
      const uint64_t rva = Get32(record), size = Get32(record + 4);
      if (rva < rsrc.va || rva > contentEnd || size > contentEnd - rva) return false;
      if (match) {
        targets.push_back({recordAt, rva, size});
      } else {
        others.push_back({rva, size, recordAt});
      }
    }
    return true;
  };
  if (!walk(0, 0, true) || targets.size() != 1) return false;
  const TTarget& target = targets[0];

  // What is taken out: the resource's bytes, down to the alignment kept.
  const uint64_t cutSize = target.size / kResourceAlignment * kResourceAlignment;
  if (cutSize == 0) return false;
  const uint64_t cutStart = target.rva + (target.size - cutSize);
  const uint64_t cutEnd = target.rva + target.size;
  // The tree itself must lie before the resource; other resources may lie
  // on either side and move down when they follow it.
  for (const TExtent& e : others) {
    if (e.entry == 0 && e.rva + e.size > target.rva) return false;
    if (e.entry != 0 && e.rva < cutEnd && e.rva + e.size > target.rva) return false;
  }
  const uint64_t newVirtualSize = rsrc.virtualSize - cutSize;
  const uint64_t newRawSize = AlignUp(contentSize - cutSize, fileAlignment);
  if (newRawSize > rsrc.rawSize || rsrc.virtualSize < cutSize) return false;
  const uint64_t fileShift = rsrc.rawSize - newRawSize;
  const uint64_t memoryShift =
      rsrc.Span(sectionAlignment) -
      AlignUp(std::max<uint64_t>(newVirtualSize, newRawSize), sectionAlignment);
  const uint64_t rsrcFileEnd = uint64_t{rsrc.rawPointer} + rsrc.rawSize;

  // The sections after it: in the file after it too, and holding nothing the
  // program refers to by address except the base relocations.
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const TSection& s = sections[i];
    if (int(i) == found || s.rawSize == 0) continue;
    const bool after = int(i) > found;
    if (after ? s.rawPointer < rsrcFileEnd : uint64_t{s.rawPointer} + s.rawSize > rsrc.rawPointer)
      return false;
  }
  uint32_t relocationSection = sectionCount;
  for (uint32_t d = 0; d < directoryCount; ++d) {
    if (d == kSecurityDirectory) continue;
    const uint32_t rva = Get32(&head[directory(d)]);
    const uint32_t size = Get32(&head[directory(d) + 4]);
    if (rva == 0 && size == 0) continue;
    // Nothing but the tree refers to the resource section's moving part.
    if (d != 2 && rva < rsrc.va + rsrc.Span(sectionAlignment) && uint64_t{rva} + size > cutStart)
      return false;
    if (d == kDebugDirectory && !DebugDataBefore(program, fileSize, sections, rva, size,
                                                 rsrc.rawPointer))
      return false;
    for (uint32_t i = static_cast<uint32_t>(found) + 1; i < sectionCount; ++i) {
      const TSection& s = sections[i];
      if (rva < s.va || rva - s.va >= s.Span(sectionAlignment)) continue;
      if (d != kRelocationDirectory || size > s.rawSize || rva - s.va > s.rawSize - size)
        return false;
      relocationSection = i;
    }
  }
  for (uint32_t i = static_cast<uint32_t>(found) + 1; i < sectionCount; ++i) {
    if (i != relocationSection && !(sections[i].flags & kDiscardable)) return false;
  }
  // No relocation may fall on a section that moves.
  {
    const uint32_t rva = Get32(&head[directory(kRelocationDirectory)]);
    const uint32_t size = Get32(&head[directory(kRelocationDirectory) + 4]);
    if (size > kMaxRelocations) return false;
    if (size > 0) {
      int holder = -1;
      for (uint32_t i = 0; i < sectionCount; ++i) {
        const TSection& s = sections[i];
        if (rva >= s.va && rva - s.va <= s.rawSize && size <= s.rawSize - (rva - s.va)) holder = int(i);
      }
      if (holder < 0) return false;
      const TSection& s = sections[static_cast<size_t>(holder)];
      std::vector<uint8_t> blocks(size);
      if (!ReadAt(program, fileSize, s.rawPointer + int64_t{rva - s.va}, blocks.data(), size))
        return false;
      for (uint32_t at = 0; at + 8 <= size;) {
        const uint32_t page = Get32(&blocks[at]);
        const uint32_t blockSize = Get32(&blocks[at + 4]);
        if (blockSize < 8 || blockSize > size - at) return false;
        if (uint64_t{page} + 0x1000 > rsrc.va && blockSize > 8) return false;
        at += blockSize;
      }
    }
  }

  // The file: up to the bytes taken out, zeros to the section's new end,
  // the rest of the section moved down, then what follows it (minus the
  // certificate table).
  const uint64_t keepInSection = cutStart - rsrc.va;
  const uint64_t afterCut = cutEnd - rsrc.va;
  segments_.push_back({0, static_cast<int64_t>(rsrc.rawPointer + keepInSection)});
  segments_.push_back(
      {static_cast<int64_t>(rsrc.rawPointer + afterCut), static_cast<int64_t>(contentSize - afterCut)});
  segments_.push_back({-1, static_cast<int64_t>(newRawSize - (contentSize - cutSize))});
  const uint32_t certificates = Get32(&head[directory(kSecurityDirectory)]);
  const uint32_t certificatesSize = Get32(&head[directory(kSecurityDirectory) + 4]);
  int64_t tailEnd = fileSize;
  if (certificatesSize > 0) {
    if (certificates < rsrcFileEnd || certificates > fileSize ||
        certificatesSize != fileSize - certificates)
      return false;
    tailEnd = certificates;
  }
  if (static_cast<int64_t>(rsrcFileEnd) > tailEnd) return false;
  segments_.push_back({static_cast<int64_t>(rsrcFileEnd), tailEnd - static_cast<int64_t>(rsrcFileEnd)});
  for (const TSegment& s : segments_) copySize_ += s.size;

  // Headers and tree: all of them lie before the bytes taken out, at the
  // same place in the copy.
  const auto patch = [&](uint64_t offset, uint32_t value) {
    patches_[static_cast<int64_t>(offset)] = Bytes32(value);
  };
  const auto rvaToFile = [&](uint64_t rva) { return rsrc.rawPointer + (rva - rsrc.va); };
  patch(rvaToFile(target.entry), static_cast<uint32_t>(cutStart));
  patch(rvaToFile(target.entry) + 4, 0);
  for (const TExtent& e : others)
    if (e.entry != 0 && e.rva >= cutEnd)
      patch(rvaToFile(e.entry), static_cast<uint32_t>(e.rva - cutSize));
  if (uint64_t{resourceRva} + resourceDirectorySize > cutStart)
    patch(directory(2) + 4, static_cast<uint32_t>(
                                resourceDirectorySize > cutSize ? resourceDirectorySize - cutSize : 0));
  patch(rsrc.header + 8, static_cast<uint32_t>(newVirtualSize));
  patch(rsrc.header + 16, static_cast<uint32_t>(newRawSize));
  for (uint32_t i = static_cast<uint32_t>(found) + 1; i < sectionCount; ++i) {
    const TSection& s = sections[i];
    patch(s.header + 12, static_cast<uint32_t>(s.va - memoryShift));
    if (s.rawSize > 0) patch(s.header + 20, static_cast<uint32_t>(s.rawPointer - fileShift));
  }
  if (relocationSection < sectionCount)
    patch(directory(kRelocationDirectory),
          static_cast<uint32_t>(Get32(&head[directory(kRelocationDirectory)]) - memoryShift));
  if (certificatesSize > 0) {
    patch(directory(kSecurityDirectory), 0);
    patch(directory(kSecurityDirectory) + 4, 0);
  }
  if (symbolTable != 0) {
    if (symbolTable < rsrcFileEnd) return false;
    patch(pe + 12, static_cast<uint32_t>(symbolTable - fileShift));
  }
  if (sizeOfImage < memoryShift) return false;
  patch(opt + 56, static_cast<uint32_t>(sizeOfImage - memoryShift));
  const uint32_t initialized = Get32(&head[opt + 8]);
  patch(opt + 8, static_cast<uint32_t>(initialized > fileShift ? initialized - fileShift : 0));
  // A check sum, when there is one, is computed over the copy as it is
  // written (the field counts as zero).
  checkSumAt_ = checkSum != 0 ? static_cast<int64_t>(opt + 64) : -1;
  if (checkSumAt_ >= 0) patch(opt + 64, 0);
  return true;
}

void TProgramCut::Write(TStream& program, TStream& target) const {
  std::vector<uint8_t> buffer(static_cast<size_t>(kChunk));
  int64_t out = 0;
  uint64_t sum = 0;
  for (const TSegment& segment : segments_) {
    int64_t left = segment.size;
    int64_t from = segment.source;
    while (left > 0) {
      const int64_t n = std::min(left, kChunk);
      if (from < 0) {
        std::fill(buffer.begin(), buffer.begin() + n, uint8_t{0});
      } else {
        program.SetPosition(from);
        program.ReadBuffer(buffer.data(), n);
        from += n;
      }
      // The changed bytes that fall into this piece.
      for (auto it = patches_.lower_bound(out - 8); it != patches_.end() && it->first < out + n; ++it) {
        for (size_t i = 0; i < it->second.size(); ++i) {
          const int64_t at = it->first + static_cast<int64_t>(i);
          if (at >= out && at < out + n) buffer[static_cast<size_t>(at - out)] = it->second[i];
        }
      }
      if (checkSumAt_ >= 0) {
        // The sum of the copy's 16-bit words, folded to 16 bits.
        for (int64_t i = 0; i < n; ++i) {
          sum += uint32_t{buffer[static_cast<size_t>(i)]} << (((out + i) & 1) * 8);
          sum = (sum & 0xFFFF) + (sum >> 16);
        }
      }
      target.WriteBuffer(buffer.data(), n);
      out += n;
      left -= n;
    }
  }
  if (checkSumAt_ >= 0) {
    sum = (sum & 0xFFFF) + (sum >> 16);
    const std::vector<uint8_t> value = Bytes32(static_cast<uint32_t>(sum + static_cast<uint64_t>(out)));
    target.Flush();
    target.SetPosition(checkSumAt_);
    target.WriteBuffer(value.data(), 4);
    target.SetPosition(out);
  }
}
