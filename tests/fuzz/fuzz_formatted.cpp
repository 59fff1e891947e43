// The wizard's formatted texts (<a href="target">text</a>) from any UTF-8
// input: the runs read as the text without its markup, never longer than
// the input, with their links numbered in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/page_control.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const String text = Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<TFormattedRun> runs = ParseFormattedText(text);
  String plain;
  int links = 0;
  for (const TFormattedRun& run : runs) {
    plain += run.Text;
    if (run.Link < 0) {
      Check(run.Target.empty());
      continue;
    }
    Check(run.Link == links++);
    Check(run.Text.find(u"</a>") == String::npos);
  }
  Check(plain == FormattedPlainText(text));
  Check(plain.size() <= text.size());
  if (text.find(u"<a") == String::npos) Check(plain == text);
  return 0;
}
