// The destination folder of arbitrary text (UTF-16LE code units; a trailing
// odd byte is dropped): a folder that is accepted is one folder, which the
// path cleaning of the product's files leaves exactly as it is, so that
// every file, the record and the registry entry name that folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/dest_folder.h"
#include "resources/setup_resources.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  String text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

  if (!DestPathProblem(text).empty()) return 0;
  const String folder = NormalizeDestPath(text);
  Check(!folder.empty() && folder.back() == u'\\');
  Check(DestPathProblem(folder).empty());
  Check(NormalizeDestPath(folder) == folder);
  Check(SanitizeSetupPath(folder) == folder);
  Check(SanitizeSetupPath(folder + u"Mivo.exe") == folder + u"Mivo.exe");
  return 0;
}
