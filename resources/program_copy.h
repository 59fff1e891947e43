// A copy of the installer program without its product package, for the
// uninstaller: an uninstallation reads its data package beside it and never
// the product package, which is most of the installer's size.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"

// How a Windows program file (PE32 or PE32+) is written without the bytes of
// one of its RT_RCDATA resources. The resource stays listed, with no bytes.
// Possible only when that resource's bytes are the last ones of the resource
// section (the installer's link puts the product package there) and the
// sections that follow it hold nothing but base relocations or data that is
// not loaded: they move down by the bytes taken out. A certificate table is
// dropped, since the signature no longer holds for the copy.
class TProgramCut {
 public:
  // Reads the program's headers and resource directory from the stream
  // (whole file from position 0). False when the file is not laid out as
  // described or is damaged; nothing is raised for a malformed file.
  bool Plan(TStream& program, StringView resourceName);
  // Writes the copy; only after a successful Plan on the same stream.
  // Raises the stream errors of reading and writing.
  void Write(TStream& program, TStream& target) const;
  // The copy's size in bytes.
  int64_t CopySize() const { return copySize_; }

 private:
  struct TSegment {
    int64_t source = 0;  // where the bytes come from
    int64_t size = 0;    // how many (zeros when source < 0)
  };
  std::vector<TSegment> segments_;
  // Changed bytes, by offset in the copy.
  std::map<int64_t, std::vector<uint8_t>> patches_;
  int64_t copySize_ = 0;
  int64_t checkSumAt_ = -1;  // where the check sum goes; -1: the program has none
};
