// Format with hostile templates: the first byte chooses the arguments (count
// and kind of each), the rest is the template as UTF-16LE code units.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lib/exceptions.h"
#include "lib/format.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

String Run(StringView templ, uint8_t selector) {
  const String text = u"arg%s%d%";
  const FormatArg pick[2] = {FormatArg(text), FormatArg(-42)};
  const FormatArg& a = pick[(selector >> 2) & 1];
  const FormatArg& b = pick[(selector >> 3) & 1];
  const FormatArg& c = pick[(selector >> 4) & 1];
  switch (selector & 3) {
    case 0:
      return Format(templ);
    case 1:
      return Format(templ, {a});
    case 2:
      return Format(templ, {a, b});
    default:
      return Format(templ, {a, b, c});
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  String templ;
  for (size_t i = 1; i + 1 < size; i += 2) {
    templ.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  try {
    const String result = Run(templ, selector);
    if (templ.find(u'%') == String::npos) Check(result == templ);
    // Every specifier is two characters and stands for at most one argument.
    Check(result.size() <= templ.size() + 3 * 8 + 3 * 20);
  } catch (const EFormatError& e) {
    Check(!e.Message().empty());
  }
  return 0;
}
