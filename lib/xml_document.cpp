#include "lib/xml_document.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <utility>

#include "lib/system.h"

namespace {

// --- binary input ------------------------------------------------------------

// Reads at most limit bytes of a stream. Every count and length is checked
// against what is left before anything is allocated for it; running short is
// the stream layer's read error.
class BinaryInput {
 public:
  BinaryInput(TStream& stream, int64_t limit) : stream_(stream), remaining_(limit) {}

  void Bytes(void* buffer, int64_t count) {
    if (count > remaining_) throw EReadError();
    stream_.ReadBuffer(buffer, count);
    remaining_ -= count;
  }
  uint8_t Byte() {
    uint8_t b;
    Bytes(&b, 1);
    return b;
  }
  uint16_t UInt16() {
    uint8_t b[2];
    Bytes(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  int32_t Int32() {
    uint8_t b[4];
    Bytes(b, 4);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
  }
  // A non-negative signed 32-bit count.
  uint64_t Count32() {
    const int32_t v = Int32();
    if (v < 0) throw EReadError();
    return static_cast<uint64_t>(v);
  }
  // Unsigned base-128, least significant group first.
  uint64_t VarUInt() {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      const uint8_t b = Byte();
      if (shift == 63 && (b & 0x7E) != 0) throw EReadError();  // more than 64 bits
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return value;
      if (shift == 63) throw EReadError();
    }
  }
  // A count of items of at least minBytes each.
  uint64_t Items(uint64_t count, int64_t minBytes) {
    if (count > static_cast<uint64_t>(remaining_ / minBytes)) throw EReadError();
    return count;
  }
  String Utf16(uint64_t units) {
    Items(units, 2);
    std::vector<uint8_t> bytes(static_cast<size_t>(units) * 2);
    if (!bytes.empty()) Bytes(bytes.data(), static_cast<int64_t>(bytes.size()));
    String s(static_cast<size_t>(units), u'\0');
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return s;
  }
  String Ansi(uint64_t length) {
    Items(length, 1);
    std::string bytes(static_cast<size_t>(length), '\0');
    if (!bytes.empty()) Bytes(bytes.data(), static_cast<int64_t>(bytes.size()));
    return AnsiToUnicode(bytes);
  }

 private:
  TStream& stream_;
  int64_t remaining_;
};

int64_t Remaining(TStream& stream) {
  return std::max<int64_t>(0, stream.Size() - stream.Position());
}

// --- binary output -----------------------------------------------------------

void PutVarUInt(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

void PutUtf16Le(std::string& out, const String& s) {
  for (const char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}

void PutInt64Le(TStream& stream, int64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
  stream.WriteBuffer(b, 8);
}

int64_t GetInt64Le(TStream& stream) {
  uint8_t b[8];
  stream.ReadBuffer(b, 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return static_cast<int64_t>(v);
}

void Flush(TStream& stream, std::string& buffer) {
  if (!buffer.empty()) stream.WriteBuffer(buffer.data(), static_cast<int64_t>(buffer.size()));
  buffer.clear();
}

constexpr size_t kFlushSize = 64 * 1024;

// --- text output -------------------------------------------------------------

void PutAttributeValue(String& out, StringView value) {
  for (const char16_t c : value) {
    switch (c) {
      case u'&':
        out += u"&amp;";
        break;
      case u'<':
        out += u"&lt;";
        break;
      case u'>':
        out += u"&gt;";
        break;
      case u'"':
        out += u"&quot;";
        break;
      case u'\t':
        out += u"&#x9;";
        break;
      case u'\n':
        out += u"&#xA;";
        break;
      case u'\r':
        out += u"&#xD;";
        break;
      default:
        out.push_back(c);
    }
  }
}

void PutText(String& out, StringView text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'&':
        out += u"&amp;";
        break;
      case u'<':
        out += u"&lt;";
        break;
      case u'>':
        out += u"&gt;";
        break;
      case u'\r':
        if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        out += u"\r\n";
        break;
      case u'\n':
        out += u"\r\n";
        break;
      default:
        out.push_back(c);
    }
  }
}

}  // namespace

// --- attributes --------------------------------------------------------------

TVelXMLAttribute* TVelXMLAttributes::Add(const String& name, const String& value) {
  items_.push_back(std::make_unique<TVelXMLAttribute>(name, value));
  return items_.back().get();
}

TVelXMLAttribute* TVelXMLAttributes::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

bool TVelXMLAttributes::Find(StringView name, TVelXMLAttribute*& attribute) const {
  for (const auto& a : items_) {
    if (SameTextAscii(a->Name, name)) {
      attribute = a.get();
      return true;
    }
  }
  attribute = nullptr;
  return false;
}

bool TVelXMLAttributes::GetValue(StringView name, String& value) const {
  TVelXMLAttribute* a;
  if (!Find(name, a)) return false;
  value = a->Value;
  return true;
}

String TVelXMLAttributes::GetValueDef(StringView name) const {
  String value;
  GetValue(name, value);
  return value;
}

void TVelXMLAttributes::Assign(const TVelXMLAttributes& other) {
  if (&other == this) return;
  items_.clear();
  for (const auto& a : other.items_) Add(a->Name, a->Value);
}

bool TVelXMLAttributes::Equals(const TVelXMLAttributes& other) const {
  if (Count() != other.Count()) return false;
  for (const auto& a : items_) {
    TVelXMLAttribute* b;
    if (!other.Find(a->Name, b) || b->Value != a->Value) return false;
  }
  return true;
}

// --- nodes -------------------------------------------------------------------

TVelXMLNode::~TVelXMLNode() {
  DestroyChildren();
}

// Frees the subtree without recursion, so that depth does not matter.
void TVelXMLNode::DestroyChildren() {
  if (!children_) return;
  std::vector<std::unique_ptr<TVelXMLNode>> work = std::move(*children_);
  children_.reset();
  while (!work.empty()) {
    std::unique_ptr<TVelXMLNode> node = std::move(work.back());
    work.pop_back();
    if (node->children_) {
      for (auto& c : *node->children_) work.push_back(std::move(c));
      node->children_.reset();
    }
  }
}

TVelXMLNode* TVelXMLNode::AcceptChild() {
  return this;
}

TVelXMLNode* TVelXMLNode::AppendChild(std::unique_ptr<TVelXMLNode> child, TVelXMLNode* parent) {
  if (!children_) children_ = std::make_unique<std::vector<std::unique_ptr<TVelXMLNode>>>();
  child->parent_ = parent;
  child->owner_ = this;
  children_->push_back(std::move(child));
  return children_->back().get();
}

TVelXMLNode* TVelXMLNode::Add(const String& name) {
  TVelXMLNode* parent = AcceptChild();
  return AppendChild(std::make_unique<TVelXMLNode>(name), parent);
}

void TVelXMLNode::Clear() {
  DestroyChildren();
}

TVelXMLNode* TVelXMLNode::Nodes(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return (*children_)[static_cast<size_t>(index)].get();
}

bool TVelXMLNode::FindNode(StringView name, TVelXMLNode*& node) const {
  if (children_) {
    for (const auto& c : *children_) {
      if (SameTextAscii(c->name_, name)) {
        node = c.get();
        return true;
      }
    }
  }
  node = nullptr;
  return false;
}

bool TVelXMLNode::FindNode(const std::vector<String>& path, TVelXMLNode*& node, bool create) {
  TVelXMLNode* at = this;
  for (const String& name : path) {
    TVelXMLNode* next;
    if (!at->FindNode(name, next)) {
      if (!create) {
        node = nullptr;
        return false;
      }
      next = at->Add(name);
    }
    at = next;
  }
  node = at;
  return true;
}

void TVelXMLNode::SetParent(TVelXMLNode* newParent) {
  if (!newParent || newParent == this || newParent == owner_ || !owner_) return;
  for (const TVelXMLNode* p = newParent; p; p = p->owner_)
    if (p == this) return;
  TVelXMLNode* parent = newParent->AcceptChild();  // may refuse before anything moves
  auto& list = *owner_->children_;
  auto it =
      std::find_if(list.begin(), list.end(), [this](const auto& c) { return c.get() == this; });
  std::unique_ptr<TVelXMLNode> self = std::move(*it);
  list.erase(it);
  if (list.empty()) owner_->children_.reset();
  newParent->AppendChild(std::move(self), parent);
}

void TVelXMLNode::Assign(const TVelXMLNode& source) {
  if (&source == this) return;
  for (const TVelXMLNode* p = source.owner_; p; p = p->owner_) {
    if (p == this) {
      // source lives below this node: copy it out before clearing.
      TVelXMLNode copy;
      copy.Assign(source);
      Assign(copy);
      return;
    }
  }
  Clear();
  attributes_.Assign(source.attributes_);
  name_ = source.name_;
  value_ = source.value_;
  std::vector<std::pair<TVelXMLNode*, const TVelXMLNode*>> work{{this, &source}};
  while (!work.empty()) {
    auto [to, from] = work.back();
    work.pop_back();
    for (int i = 0; i < from->Count(); ++i) {
      const TVelXMLNode* c = from->Nodes(i);
      TVelXMLNode* n = to->Add(c->name_);
      n->attributes_.Assign(c->attributes_);
      n->value_ = c->value_;
      if (c->Count()) work.emplace_back(n, c);
    }
  }
}

bool TVelXMLNode::Equals(const TVelXMLNode& other) const {
  std::vector<std::pair<const TVelXMLNode*, const TVelXMLNode*>> work{{this, &other}};
  while (!work.empty()) {
    auto [a, b] = work.back();
    work.pop_back();
    if (typeid(*a) != typeid(*b) || !a->attributes_.Equals(b->attributes_) ||
        a->name_ != b->name_ || a->value_ != b->value_ || a->Count() != b->Count())
      return false;
    for (int i = 0; i < a->Count(); ++i) work.emplace_back(a->Nodes(i), b->Nodes(i));
  }
  return true;
}

// --- document ----------------------------------------------------------------

TVelXMLDocument::TVelXMLDocument(TStream& stream) {
  LoadFromStream(stream);
}

TVelXMLNode* TVelXMLDocument::AcceptChild() {
  if (!multipleRoots_ && Count() > 0) throw EVelXMLDocument(u"Only one Root available");
  return nullptr;  // top-level nodes have no parent
}

TVelXMLNode* TVelXMLDocument::Add(const String& name) {
  return TVelXMLNode::Add(name);
}

void TVelXMLDocument::LoadFromStream(TStream& stream, uint32_t /*settings*/) {
  Clear();
  if (Remaining(stream) < 4) return;
  char magic[4];
  stream.ReadBuffer(magic, 4);
  if (std::memcmp(magic, "SXML", 4) == 0) {
    TVelBinaryXMLParser(stream).Parse(*this);
    return;
  }
  if (std::memcmp(magic, "BXML", 4) == 0) {
    TVelLegacyBinaryXMLParser(stream).Parse(*this);
    return;
  }
  stream.Seek(-4, SeekOrigin::Current);

  TVelXMLReaderSettings settings;
  settings.CheckCharacters = false;
  settings.IgnoreComments = true;
  settings.IgnoreWhitespace = true;
  settings.Conformance =
      multipleRoots_ ? TVelXMLConformance::Fragment : TVelXMLConformance::Document;
  TVelXMLTextReader reader(stream, settings);
  std::vector<TVelXMLNode*> path{this};
  try {
    while (reader.Read()) {
      switch (reader.NodeType()) {
        case TVelXMLNodeType::Element: {
          TVelXMLNode* node = path.back()->Add(reader.Name());
          for (const auto& a : reader.Attributes()) node->Attributes().Add(a.Name, a.Value);
          if (!reader.IsEmptyElement()) path.push_back(node);
          break;
        }
        case TVelXMLNodeType::Text:
        case TVelXMLNodeType::CDATA:
        case TVelXMLNodeType::SignificantWhitespace:
          path.back()->SetNodeValue(reader.Value());
          break;
        case TVelXMLNodeType::EndElement:
          if (path.size() > 1) path.pop_back();
          break;
        default:
          break;
      }
    }
  } catch (const EVelXMLException&) {
    // Not well-formed: keep what was read up to the fault.
  }
}

void TVelXMLDocument::SaveToStream(TStream& stream, uint32_t settings) {
  switch (settings >> 24) {
    case 0:
      TVelBinaryXMLBuilder(stream).Build(*this);
      break;
    case 1:
      TVelTextXMLBuilder(stream, ((settings >> 16) & 0xFF) != 0, ((settings >> 8) & 0xFF) != 0)
          .Build(*this);
      break;
    default:
      throw EInvalidOperation(u"Unknown XML builder " + IntToStr(settings >> 24));
  }
}

void TVelXMLDocument::SaveToFile(const String& fileName, uint32_t settings) {
  std::unique_ptr<TStream> file = CreateFileStream(fileName);
  SaveToStream(*file, settings);
}

// --- text builder ------------------------------------------------------------

void TVelTextXMLBuilder::Build(const TVelXMLNode& root) {
  String out = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  auto flush = [&](bool force) {
    if (out.empty()) return;
    if (!force && (out.size() < kFlushSize || (out.back() >= 0xD800 && out.back() <= 0xDBFF)))
      return;
    const std::string bytes = Utf16ToUtf8(out);
    stream_.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    out.clear();
  };
  auto newLine = [&](size_t level) {
    out += u"\r\n";
    out.append(level, u'\t');
  };

  struct Frame {
    const TVelXMLNode* node;
    int next;
  };
  std::vector<Frame> stack;
  for (int t = 0; t < root.Count(); ++t) {
    stack.push_back({root.Nodes(t), -1});
    while (!stack.empty()) {
      const size_t level = stack.size() - 1;
      Frame& f = stack.back();
      const TVelXMLNode& n = *f.node;
      if (f.next < 0) {
        // The start tag and the text.
        if (indent_) newLine(level);
        out += u'<';
        out += n.NodeName();
        for (int i = 0; i < n.Attributes().Count(); ++i) {
          const TVelXMLAttribute& a = *n.Attributes().Items(i);
          if (newLineOnAttributes_) {
            out += u"\r\n";
            if (indent_) out.append(level + 1, u'\t');
          } else {
            out += u' ';
          }
          out += a.Name;
          out += u"=\"";
          PutAttributeValue(out, a.Value);
          out += u'"';
        }
        if (!n.NodeValue().empty()) {
          out += u'>';
          PutText(out, n.NodeValue());
        }
        f.next = 0;
      }
      if (f.next < n.Count()) {
        if (f.next == 0 && n.NodeValue().empty()) out += u'>';
        const TVelXMLNode* child = n.Nodes(f.next++);
        stack.push_back({child, -1});  // f is not used after this
        flush(false);
        continue;
      }
      if (n.Count() == 0 && n.NodeValue().empty()) {
        out += u"/>";
      } else {
        if (n.Count() > 0 && indent_) newLine(level);
        out += u"</";
        out += n.NodeName();
        out += u'>';
      }
      stack.pop_back();
    }
  }
  flush(true);
}

// --- binary builder ----------------------------------------------------------

void TVelBinaryXMLBuilder::Build(const TVelXMLNode& root) {
  std::unordered_map<String, uint64_t> index;
  std::vector<const String*> table;
  auto nameIndex = [&](const String& name) {
    auto it = index.find(name);
    if (it != index.end()) return it->second;
    const uint64_t i = table.size();
    table.push_back(&index.emplace(name, i).first->first);
    return i;
  };

  stream_.WriteBuffer("SXML", 4);
  const int64_t lengthAt = stream_.Position();
  PutInt64Le(stream_, 0);
  const int64_t treeStart = stream_.Position();

  std::string out;
  PutVarUInt(out, static_cast<uint64_t>(root.Count()));
  std::vector<std::pair<const TVelXMLNode*, int>> stack{{&root, 0}};
  while (!stack.empty()) {
    auto& top = stack.back();
    if (top.second >= top.first->Count()) {
      stack.pop_back();
      continue;
    }
    const TVelXMLNode& n = *top.first->Nodes(top.second++);
    PutVarUInt(out, nameIndex(n.NodeName()));
    const int attributes = n.Attributes().Count();
    const uint8_t flags =
        (attributes ? 1 : 0) | (n.Count() ? 2 : 0) | (n.NodeValue().empty() ? 0 : 4);
    out.push_back(static_cast<char>(flags));
    if (flags & 4) {
      PutVarUInt(out, n.NodeValue().size());
      PutUtf16Le(out, n.NodeValue());
    }
    if (flags & 1) {
      PutVarUInt(out, static_cast<uint64_t>(attributes));
      for (int i = 0; i < attributes; ++i) {
        const TVelXMLAttribute& a = *n.Attributes().Items(i);
        PutVarUInt(out, nameIndex(a.Name));
        PutVarUInt(out, a.Value.size());
        PutUtf16Le(out, a.Value);
      }
    }
    if (flags & 2) {
      PutVarUInt(out, static_cast<uint64_t>(n.Count()));
      stack.emplace_back(&n, 0);
    }
    if (out.size() >= kFlushSize) Flush(stream_, out);
  }
  Flush(stream_, out);
  const int64_t treeEnd = stream_.Position();

  PutVarUInt(out, table.size());
  for (const String* s : table) {
    const std::string ansi = UnicodeToAnsi(*s);
    PutVarUInt(out, ansi.size());
    out += ansi;
    if (out.size() >= kFlushSize) Flush(stream_, out);
  }
  Flush(stream_, out);
  const int64_t end = stream_.Position();
  stream_.Seek(lengthAt, SeekOrigin::Begin);
  PutInt64Le(stream_, treeEnd - treeStart);
  stream_.Seek(end, SeekOrigin::Begin);
}

// --- binary parsers ----------------------------------------------------------

void TVelBinaryXMLParser::Parse(TVelXMLNode& root) {
  const int64_t treeLength = GetInt64Le(stream_);
  const int64_t treeStart = stream_.Position();
  const int64_t available = Remaining(stream_);
  if (treeLength < 0 || treeLength > available) throw EReadError();

  // The string table follows the tree.
  stream_.Seek(treeStart + treeLength, SeekOrigin::Begin);
  BinaryInput tableInput(stream_, available - treeLength);
  std::vector<String> table(static_cast<size_t>(tableInput.Items(tableInput.VarUInt(), 1)));
  for (String& s : table) s = tableInput.Ansi(tableInput.VarUInt());
  const int64_t end = stream_.Position();

  stream_.Seek(treeStart, SeekOrigin::Begin);
  BinaryInput in(stream_, treeLength);
  auto name = [&]() -> const String& {
    const uint64_t i = in.VarUInt();
    if (i >= table.size()) throw EReadError();
    return table[static_cast<size_t>(i)];
  };
  // Each node takes at least a name index and a flags byte.
  std::vector<std::pair<TVelXMLNode*, uint64_t>> stack{{&root, in.Items(in.VarUInt(), 2)}};
  while (!stack.empty()) {
    if (stack.back().second == 0) {
      stack.pop_back();
      continue;
    }
    --stack.back().second;
    TVelXMLNode* parent = stack.back().first;
    const String& nodeName = name();
    const uint8_t flags = in.Byte();
    TVelXMLNode* n = parent->Add(nodeName);
    if (flags & 4) n->SetNodeValue(in.Utf16(in.VarUInt()));
    if (flags & 1) {
      for (uint64_t k = in.Items(in.VarUInt(), 2); k > 0; --k) {
        const String& attributeName = name();
        n->Attributes().Add(attributeName, in.Utf16(in.VarUInt()));
      }
    }
    if (flags & 2) stack.emplace_back(n, in.Items(in.VarUInt(), 2));
  }
  stream_.Seek(end, SeekOrigin::Begin);
}

void TVelLegacyBinaryXMLParser::Parse(TVelXMLNode& root) {
  BinaryInput in(stream_, Remaining(stream_));
  // Each node takes at least a name length and a flags byte.
  std::vector<std::pair<TVelXMLNode*, uint64_t>> stack{{&root, in.Items(in.Count32(), 3)}};
  while (!stack.empty()) {
    if (stack.back().second == 0) {
      stack.pop_back();
      continue;
    }
    --stack.back().second;
    TVelXMLNode* parent = stack.back().first;
    const String nodeName = in.Ansi(in.UInt16());
    const uint8_t flags = in.Byte();
    TVelXMLNode* n = parent->Add(nodeName);
    if (flags & 4) n->SetNodeValue(in.Utf16(in.Count32()));
    if (flags & 1) {
      for (uint64_t k = in.Items(in.Count32(), 4); k > 0; --k) {
        const String attributeName = in.Ansi(in.UInt16());
        n->Attributes().Add(attributeName, in.Utf16(in.UInt16()));
      }
    }
    if (flags & 2) stack.emplace_back(n, in.Items(in.Count32(), 3));
  }
}
