#include "lib/string_list.h"

#include <algorithm>

#include "lib/exceptions.h"
#include "lib/system.h"

namespace {

// Value of a decimal digit (ASCII or full-width), or -1.
int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= 0xFF10 && c <= 0xFF19) return c - 0xFF10;
  return -1;
}

size_t RunEnd(StringView s, size_t i, bool digits) {
  while (i < s.size() && (DigitValue(s[i]) >= 0) == digits) ++i;
  return i;
}

// Compares two digit runs by value; equal values with different leading
// zeros compare equal here.
int CompareNumbers(StringView a, StringView b) {
  size_t i = 0, j = 0;
  while (i < a.size() && DigitValue(a[i]) == 0) ++i;
  while (j < b.size() && DigitValue(b[j]) == 0) ++j;
  const size_t la = a.size() - i, lb = b.size() - j;
  if (la != lb) return la < lb ? -1 : 1;
  for (; i < a.size(); ++i, ++j) {
    const int x = DigitValue(a[i]), y = DigitValue(b[j]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

String IndexError(int index) {
  return u"List index out of bounds (" + IntToStr(index) + u")";
}

}  // namespace

int CompareLogical(StringView a, StringView b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = DigitValue(a[i]) >= 0, db = DigitValue(b[j]) >= 0;
    if (da != db) return da ? -1 : 1;  // numbers before other text
    const size_t ei = RunEnd(a, i, da), ej = RunEnd(b, j, db);
    const StringView ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
    const int r = da ? CompareNumbers(ra, rb) : CompareTextLocale(ra, rb);
    if (r != 0) return r < 0 ? -1 : 1;
    i = ei;
    j = ej;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  // Equal run by run ("a01" and "a1", "A" and "a"): a fixed order all the same.
  const int r = CompareTextLocale(a, b);
  if (r != 0) return r < 0 ? -1 : 1;
  return a == b ? 0 : (a < b ? -1 : 1);
}

void TVelStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EInvalidOperation(IndexError(index));
}

const TVelStringList::Item& TVelStringList::ItemAt(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

int TVelStringList::Add(StringView text, void* object) {
  items_.push_back(Item{String(text), object});
  NotifyChanged();
  return Count() - 1;
}

void TVelStringList::Insert(int index, StringView text, void* object) {
  if (index < 0 || index > Count()) throw EInvalidOperation(IndexError(index));
  items_.insert(items_.begin() + index, Item{String(text), object});
  NotifyChanged();
}

const String& TVelStringList::Strings(int index) const {
  return ItemAt(index).text;
}

void TVelStringList::SetStrings(int index, StringView text) {
  CheckIndex(index);
  Item& item = items_[static_cast<size_t>(index)];
  item.text.assign(text);
  item.hashed = false;
  NotifyChanged();
}

void* TVelStringList::Objects(int index) const {
  return ItemAt(index).object;
}

void TVelStringList::SetObjects(int index, void* object) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)].object = object;
  NotifyChanged();
}

void TVelStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  NotifyChanged();
}

void TVelStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  NotifyChanged();
}

void TVelStringList::SetCapacity(int capacity) {
  if (capacity > Count()) items_.reserve(static_cast<size_t>(capacity));
}

bool TVelStringList::SameName(StringView a, StringView b) const {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  return !caseSensitive_ && SameTextLocale(a, b);
}

int TVelStringList::IndexOf(StringView text) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(items_[static_cast<size_t>(i)].text, text)) return i;
  return -1;
}

int TVelStringList::IndexOfName(StringView name) const {
  for (int i = Count() - 1; i >= 0; --i) {
    const String& text = items_[static_cast<size_t>(i)].text;
    if (text.size() > name.size() && text[name.size()] == separator_ &&
        SameName(StringView(text).substr(0, name.size()), name))
      return i;
  }
  return -1;
}

String TVelStringList::Names(int index) const {
  const String& text = ItemAt(index).text;
  const size_t p = text.find(separator_);
  return p == String::npos ? String() : text.substr(0, p);
}

String TVelStringList::ValueFromIndex(int index) const {
  const String& text = ItemAt(index).text;
  const size_t p = text.find(separator_);
  return p == String::npos ? String() : text.substr(p + 1);
}

String TVelStringList::Values(StringView name) const {
  const int i = IndexOfName(name);
  return i < 0 ? String() : ValueFromIndex(i);
}

void TVelStringList::SetValues(StringView name, StringView value) {
  String line(name);
  line.push_back(separator_);
  line.append(value);
  const int i = IndexOfName(name);
  if (i < 0) {
    Add(line);
  } else {
    SetStrings(i, line);
  }
}

String TVelStringList::Text() const {
  size_t size = 0;
  for (const Item& item : items_) size += item.text.size() + 2;
  String out;
  out.reserve(size);
  for (const Item& item : items_) {
    out.append(item.text);
    out.append(u"\r\n");
  }
  return out;
}

void TVelStringList::SetText(StringView text) {
  BeginUpdate();
  items_.clear();
  ForEachLine(text, [this](StringView line) { items_.push_back(Item{String(line)}); });
  EndUpdate();
}

void TVelStringList::LoadFromStream(TStream& stream) {
  TVelEncoding detected;
  SetText(DecodeTextAuto(ReadAll(stream), detected));
}

void TVelStringList::LoadFromStream(TStream& stream, TVelEncoding encoding) {
  SetText(DecodeTextAs(ReadAll(stream), encoding));
}

void TVelStringList::SaveToStream(TStream& stream, TVelEncoding encoding) const {
  WriteEncodedText(stream, Text(), encoding);
}

void TVelStringList::Sort() {
  if (items_.size() < 2) return;
  TVelSystemServices& system = VelSystem();
  std::stable_sort(items_.begin(), items_.end(), [&system](const Item& a, const Item& b) {
    return system.CompareStr(a.text, b.text) < 0;
  });
  NotifyChanged();
}

void TVelStringList::SortLogical() {
  if (items_.size() < 2) return;
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) { return CompareLogical(a.text, b.text) < 0; });
  NotifyChanged();
}

void TVelStringList::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}
