// The text of the ready-to-install page: groups of items, each group under a
// heading that is written only together with its first item.
#pragma once

#include "lib/strings.h"

class TSetupSummaryBuilder {
 public:
  // Remembers the heading of the next group; ":" is appended unless the text
  // ends with one already. A second call before any item replaces it.
  void BeginGroup(StringView text);
  // The same with the language text of section and key.
  void BeginGroup(StringView section, StringView key);
  // Writes the pending heading (after an empty line when text precedes it),
  // then " * ", the text and a line break. Line breaks are CR LF.
  void AddItem(StringView text);
  void AddItem(StringView section, StringView key);
  const String& ToString() const { return text_; }

 private:
  String text_;
  String pending_;
  bool hasPending_ = false;
};
