#include "lib/casefold.h"

#include <algorithm>
#include <iterator>

namespace {
struct CaseMapping {
  char16_t from, to;
};
#include "lib/casefold_table.inc"

char16_t Lookup(const CaseMapping* begin, const CaseMapping* end, char16_t c) {
  const auto* it =
      std::lower_bound(begin, end, c, [](const CaseMapping& m, char16_t v) { return m.from < v; });
  return (it != end && it->from == c) ? it->to : c;
}
}  // namespace

char16_t FoldCaseSimple(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
  return Lookup(std::begin(kFoldTable), std::end(kFoldTable), c);
}

char16_t UpperCaseSimple(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 32 : c;
  return Lookup(std::begin(kUpperTable), std::end(kUpperTable), c);
}
