// The library's string list: an ordered list of texts, each with an attached
// object pointer (not owned), with name-value access, line splitting, text
// loading and saving, and sorting.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"
#include "lib/text_encoding.h"

// Natural order: runs of digits (0-9 and the full-width digits U+FF10-U+FF19)
// compare by numeric value, other runs without regard to case in the user's
// locale. < 0, 0 or > 0.
int CompareLogical(StringView a, StringView b);

// Calls onLine for each line of text. A line ends at CR, LF, CR LF or U+2028;
// a final segment without a line end counts only when it is not empty.
template <typename F>
void ForEachLine(StringView text, F&& onLine) {
  size_t start = 0, i = 0;
  const size_t n = text.size();
  while (i < n) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n' || c == u'\u2028') {
      onLine(text.substr(start, i - start));
      i += (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < n) onLine(text.substr(start));
}

class TVelStringList {
 public:
  TVelStringList() = default;
  TVelStringList(const TVelStringList&) = default;
  TVelStringList& operator=(const TVelStringList&) = default;
  virtual ~TVelStringList() = default;

  int Add(StringView text, void* object = nullptr);
  void Insert(int index, StringView text, void* object = nullptr);
  int Count() const { return static_cast<int>(items_.size()); }
  const String& Strings(int index) const;
  void SetStrings(int index, StringView text);
  void* Objects(int index) const;
  void SetObjects(int index, void* object);
  void Delete(int index);
  void Clear();
  int Capacity() const { return static_cast<int>(items_.capacity()); }
  // Reserves room for capacity items; never drops items.
  void SetCapacity(int capacity);

  // First item whose whole text equals text under the case mode, or -1.
  int IndexOf(StringView text) const;
  // The last item whose text starts with name followed by the separator, or -1.
  int IndexOfName(StringView name) const;
  // Text before the first separator (empty when there is none).
  String Names(int index) const;
  // Text after the first separator (empty when there is none).
  String ValueFromIndex(int index) const;
  String Values(StringView name) const;
  // Replaces the item found by IndexOfName with name + separator + value, or
  // appends one.
  void SetValues(StringView name, StringView value);

  char16_t NameValueSeparator() const { return separator_; }
  void SetNameValueSeparator(char16_t separator) { separator_ = separator; }
  // False (the default): compare without regard to case in the user's locale.
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value) { caseSensitive_ = value; }

  // Every item followed by CR LF.
  String Text() const;
  // Clears the list and adds the lines of text (see ForEachLine).
  void SetText(StringView text);

  // Reads the rest of the stream; the encoding comes from the byte-order mark
  // (ANSI code page without one), or is the given one.
  void LoadFromStream(TStream& stream);
  void LoadFromStream(TStream& stream, TVelEncoding encoding);
  // Writes the encoding's mark and Text. Text that the encoding cannot hold
  // exactly is written as UTF-16LE instead.
  void SaveToStream(TStream& stream, TVelEncoding encoding = TVelEncoding::Utf16LE) const;

  // Case-sensitive order of the user's locale.
  void Sort();
  // Natural order (CompareLogical).
  void SortLogical();

  // Holds back change notifications; the outermost EndUpdate sends one.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  bool Updating() const { return updateCount_ > 0; }

 protected:
  struct Item {
    String text;
    void* object = nullptr;
    // Cache for derived lists (hash of the item's name); reset when the text
    // changes.
    mutable uint32_t hash = 0;
    mutable bool hashed = false;
  };

  // Called after every change while no update is in progress, and by the
  // outermost EndUpdate.
  virtual void Changed() {}
  void NotifyChanged() {
    if (updateCount_ == 0) Changed();
  }
  const Item& ItemAt(int index) const;
  bool SameName(StringView a, StringView b) const;
  // Position of the separator in the item's text, or npos.
  size_t SeparatorPos(int index) const { return items_[index].text.find(separator_); }

  std::vector<Item> items_;

 private:
  void CheckIndex(int index) const;

  char16_t separator_ = u'=';
  bool caseSensitive_ = false;
  int updateCount_ = 0;
};
