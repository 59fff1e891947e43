// XML documents: a small in-memory tree of nodes with a name, a text,
// attributes and child nodes, loaded from text XML or the binary forms
// "SXML" and "BXML" and saved as text XML or "SXML".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "lib/strings.h"
#include "lib/xml_text_reader.h"

// "Only one Root available"
class EVelXMLDocument : public Exception {
 public:
  using Exception::Exception;
};

class TVelXMLAttribute {
 public:
  TVelXMLAttribute(String name, String value) : Name(std::move(name)), Value(std::move(value)) {}
  String Name;
  String Value;
};

// An owning, ordered list of attributes.
class TVelXMLAttributes {
 public:
  TVelXMLAttributes() = default;
  TVelXMLAttributes(const TVelXMLAttributes&) = delete;
  TVelXMLAttributes& operator=(const TVelXMLAttributes&) = delete;

  TVelXMLAttribute* Add(const String& name, const String& value);
  int Count() const { return static_cast<int>(items_.size()); }
  // Null when index is out of range.
  TVelXMLAttribute* Items(int index) const;
  // The first attribute whose name equals name, ASCII letters compared
  // without regard to case.
  bool Find(StringView name, TVelXMLAttribute*& attribute) const;
  bool GetValue(StringView name, String& value) const;
  String GetValueDef(StringView name) const;  // the value or an empty string
  void Assign(const TVelXMLAttributes& other);
  // Same count, and every name found in other with an exactly equal value.
  bool Equals(const TVelXMLAttributes& other) const;
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TVelXMLAttribute>> items_;
};

class TVelXMLNode {
 public:
  TVelXMLNode() = default;
  explicit TVelXMLNode(String name) : name_(std::move(name)) {}
  virtual ~TVelXMLNode();
  TVelXMLNode(const TVelXMLNode&) = delete;
  TVelXMLNode& operator=(const TVelXMLNode&) = delete;

  // Appends a new child named name and returns it.
  virtual TVelXMLNode* Add(const String& name);
  // Deep copy of source's attributes, children, name and text.
  virtual void Assign(const TVelXMLNode& source);
  // Removes all children.
  virtual void Clear();

  int Count() const { return children_ ? static_cast<int>(children_->size()) : 0; }
  // Null when index is out of range.
  TVelXMLNode* Nodes(int index) const;
  // The first child whose name equals name, ASCII letters compared without
  // regard to case.
  bool FindNode(StringView name, TVelXMLNode*& node) const;
  // Follows path from this node, one FindNode per level; with create,
  // missing levels are added. True when a node was reached (an empty path
  // reaches this node).
  bool FindNode(const std::vector<String>& path, TVelXMLNode*& node, bool create);
  // Moves this node to the end of newParent's children. Nothing happens when
  // newParent is null, this node, its current parent or one of its
  // descendants, or when this node belongs to no list (a document).
  void SetParent(TVelXMLNode* newParent);
  // Same class, attributes, name, text and children (pairwise).
  bool Equals(const TVelXMLNode& other) const;

  TVelXMLAttributes& Attributes() { return attributes_; }
  const TVelXMLAttributes& Attributes() const { return attributes_; }
  const String& NodeName() const { return name_; }
  void SetNodeName(String name) { name_ = std::move(name); }
  const String& NodeValue() const { return value_; }
  void SetNodeValue(String value) { value_ = std::move(value); }
  // Null for top-level nodes of a document and for free nodes.
  TVelXMLNode* Parent() const { return parent_; }

 protected:
  // Appends child to this node's list; parent is what its Parent() reports.
  TVelXMLNode* AppendChild(std::unique_ptr<TVelXMLNode> child, TVelXMLNode* parent);
  // Called before a node is added or moved here; may refuse by raising.
  // Returns what the new child's Parent() reports.
  virtual TVelXMLNode* AcceptChild();

 private:
  void DestroyChildren();

  std::unique_ptr<std::vector<std::unique_ptr<TVelXMLNode>>> children_;
  TVelXMLAttributes attributes_;
  String name_;
  String value_;
  TVelXMLNode* parent_ = nullptr;
  TVelXMLNode* owner_ = nullptr;  // the node whose child list holds this one
};

// Save settings: the top byte selects the builder, byte 1 puts each
// attribute on a new line, byte 2 indents.
namespace VelXMLSave {
constexpr uint32_t Binary = 0x00000000;
constexpr uint32_t Text = 0x01000000;
constexpr uint32_t NewLineOnAttributes = 0x00000100;
constexpr uint32_t Indent = 0x00010000;
constexpr uint32_t Default = Text | Indent;
}  // namespace VelXMLSave

class TVelXMLDocument : public TVelXMLNode {
 public:
  TVelXMLDocument() = default;
  // Creates the document and loads it from stream.
  explicit TVelXMLDocument(TStream& stream);

  // Raises EVelXMLDocument "Only one Root available" when the document
  // already has a top-level element and does not allow several.
  TVelXMLNode* Add(const String& name) override;

  // Loads text XML, "SXML" or "BXML" from the current position. Text that is
  // not well-formed ends loading quietly, keeping what was read; errors of
  // the binary forms (a truncated stream: EReadError) propagate.
  virtual void LoadFromStream(TStream& stream, uint32_t settings = 0);
  virtual void SaveToStream(TStream& stream, uint32_t settings = VelXMLSave::Default);
  // Creates the file (EFCreateError on failure) and saves into it.
  void SaveToFile(const String& fileName, uint32_t settings = VelXMLSave::Default);

  bool AllowMultipleRoots() const { return multipleRoots_; }
  void SetAllowMultipleRoots(bool value) { multipleRoots_ = value; }

 protected:
  TVelXMLNode* AcceptChild() override;

 private:
  bool multipleRoots_ = false;
};

// Writes the children of a node (a document's top-level nodes) as text XML
// in UTF-8 without a byte-order mark.
class TVelTextXMLBuilder {
 public:
  TVelTextXMLBuilder(TStream& stream, bool indent, bool newLineOnAttributes)
      : stream_(stream), indent_(indent), newLineOnAttributes_(newLineOnAttributes) {}
  void Build(const TVelXMLNode& root);

 private:
  TStream& stream_;
  bool indent_;
  bool newLineOnAttributes_;
};

// Writes "SXML".
class TVelBinaryXMLBuilder {
 public:
  explicit TVelBinaryXMLBuilder(TStream& stream) : stream_(stream) {}
  void Build(const TVelXMLNode& root);

 private:
  TStream& stream_;
};

// Reads "SXML" after its magic into root's children.
class TVelBinaryXMLParser {
 public:
  explicit TVelBinaryXMLParser(TStream& stream) : stream_(stream) {}
  void Parse(TVelXMLNode& root);

 private:
  TStream& stream_;
};

// Reads "BXML" after its magic into root's children.
class TVelLegacyBinaryXMLParser {
 public:
  explicit TVelLegacyBinaryXMLParser(TStream& stream) : stream_(stream) {}
  void Parse(TVelXMLNode& root);

 private:
  TStream& stream_;
};
