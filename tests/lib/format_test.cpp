#include "lib/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "lib/exceptions.h"

namespace {

// Characters and booleans must not turn into numbers silently.
static_assert(!std::is_constructible_v<FormatArg, bool>);
static_assert(!std::is_constructible_v<FormatArg, char16_t>);
static_assert(!std::is_constructible_v<FormatArg, char>);

TEST(Format, Table) {
  const String version = u"5.40";
  struct Case {
    String templ;
    std::vector<FormatArg> args;
    String expected;
  } cases[] = {
      {u"", {}, u""},
      {u"plain text", {}, u"plain text"},
      {u"Cannot install update on v%s", {version}, u"Cannot install update on v5.40"},
      {u"System Error.  Code: %d.\r\n%s%s",
       {5, u"Access is denied.", u""},
       u"System Error.  Code: 5.\r\nAccess is denied."},
      {u"100%%", {}, u"100%"},
      {u"%%s%%d", {}, u"%s%d"},
      {u"%s%s", {u"a", u"b"}, u"ab"},
      {u"%s", {u"a", u"unused", 7}, u"a"},
      {u"%s", {u"%d %s"}, u"%d %s"},  // arguments are not formatted again
      {u"%s", {StringView()}, u""},
      {u"[%d]", {0}, u"[0]"},
      {u"%d", {-17}, u"-17"},
      {u"%d", {std::numeric_limits<int32_t>::min()}, u"-2147483648"},
      {u"%d", {std::numeric_limits<int64_t>::min()}, u"-9223372036854775808"},
      {u"%d", {std::numeric_limits<uint64_t>::max()}, u"18446744073709551615"},
      {u"%d", {static_cast<size_t>(42)}, u"42"},
      {u"\u0416 %s \U0001F3B5", {u"\u00e4"}, u"\u0416 \u00e4 \U0001F3B5"},
  };
  for (const auto& c : cases) {
    // An initializer list cannot be built from a vector; go through a helper
    // call per argument count.
    String actual;
    switch (c.args.size()) {
      case 0:
        actual = Format(c.templ);
        break;
      case 1:
        actual = Format(c.templ, {c.args[0]});
        break;
      case 2:
        actual = Format(c.templ, {c.args[0], c.args[1]});
        break;
      case 3:
        actual = Format(c.templ, {c.args[0], c.args[1], c.args[2]});
        break;
      default:
        FAIL();
    }
    EXPECT_EQ(actual, c.expected) << Utf16ToUtf8(c.templ);
  }
}

TEST(Format, ErrorsNameTheTemplate) {
  struct Case {
    String templ;
    std::vector<FormatArg> args;
    String message;
  } cases[] = {
      {u"%s", {}, u"No argument for format '%s'"},
      {u"%s and %s", {u"one"}, u"No argument for format '%s and %s'"},
      {u"%d", {u"text"}, u"Format '%d' invalid or incompatible with argument"},
      {u"%s", {3}, u"Format '%s' invalid or incompatible with argument"},
      {u"50%", {}, u"Format '50%' invalid or incompatible with argument"},
      {u"%x", {1}, u"Format '%x' invalid or incompatible with argument"},
      {u"%5d", {1}, u"Format '%5d' invalid or incompatible with argument"},
      {u"%0:s", {u"a"}, u"Format '%0:s' invalid or incompatible with argument"},
      {u"%S", {u"a"}, u"Format '%S' invalid or incompatible with argument"},
      {u"% s", {u"a"}, u"Format '% s' invalid or incompatible with argument"},
      // The specifier is checked before the argument list.
      {u"%q", {}, u"Format '%q' invalid or incompatible with argument"},
  };
  for (const auto& c : cases) {
    try {
      if (c.args.empty()) {
        Format(c.templ);
      } else {
        Format(c.templ, {c.args[0]});
      }
      ADD_FAILURE() << "no error for " << Utf16ToUtf8(c.templ);
    } catch (const EFormatError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

}  // namespace
