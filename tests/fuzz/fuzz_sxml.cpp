// The binary form "SXML" (see binary_xml_fuzz.h).
#include "tests/fuzz/binary_xml_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzBinaryXml("SXML", data, size);
}
