// Installation scripts from arbitrary bytes: parsing into the groups and
// settings, the entries' package names and families, and the cleaning of
// every path the script names. A cleaned path is stable: cleaning it again
// changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/exceptions.h"
#include "lib/xml_document.h"
#include "resources/setup_resources.h"
#include "resources/setup_script.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckPath(StringView path) {
  const String clean = SanitizeSetupPath(path);
  Check(SanitizeSetupPath(clean) == clean);
  // Past a drive root every character is allowed in file names.
  if (clean.size() >= 2 && clean[0] == u'\\' && clean[1] == u'\\') return;
  const size_t start = clean.size() >= 2 && clean[1] == u':' ? 2 : 0;
  for (size_t i = start; i < clean.size(); ++i) {
    const char16_t c = clean[i];
    Check(c >= 32 && c != u'*' && c != u'?' && c != u'|' && c != u'"' && c != u':');
  }
}

void Exercise(const TSetupScriptGroup& group) {
  for (int i = 0; i < group.Count(); ++i) {
    const TSetupScriptFile& entry = group.Items(i);
    entry.PackageName();
    entry.MatchesFamily(u"EN");
    CheckPath(entry.Name);
    CheckPath(entry.Text);
  }
  TSetupScriptFile* found = group.FindByFamily(u"EN");
  Check(!found || found->MatchesFamily(u"EN"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TVelXMLDocument document;
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  try {
    document.LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;  // a truncated binary form
  }
  TSetupScript script;
  script.LoadDocument(document);
  Exercise(script.Actions);
  Exercise(script.Components);
  Exercise(script.License);
  Exercise(script.Shortcuts);
  for (int i = 0; i < script.Settings.Count(); ++i) script.GetSetting(script.Settings.Names(i));
  return 0;
}
