// The journal of a run from arbitrary bytes: what is read is either the
// whole journal or the records before the damage, and every record read
// is written back to the same line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/setup_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<TJournalRecord> records;
  ParseJournal(text, records);
  std::string again = "Setup journal 1\n";
  for (const TJournalRecord& record : records) again += FormatJournalRecord(record);
  std::vector<TJournalRecord> reread;
  if (!ParseJournal(again, reread) || reread.size() != records.size()) std::abort();
  std::string third = "Setup journal 1\n";
  for (const TJournalRecord& record : reread) third += FormatJournalRecord(record);
  if (third != again) std::abort();
  return 0;
}
