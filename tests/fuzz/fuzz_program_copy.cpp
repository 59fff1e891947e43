// The installer program's copy without its product package, planned on
// hostile program files: a plan either fails or writes exactly the size it
// announced, never more than the program had.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/stream.h"
#include "resources/program_copy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream program(std::vector<uint8_t>(data, data + size));
  TProgramCut cut;
  if (!cut.Plan(program, u"PRODUCT")) return 0;
  TMemoryStream copy;
  cut.Write(program, copy);
  if (copy.Size() != cut.CopySize() || copy.Size() > program.Size()) std::abort();
  return 0;
}
