// A streaming, well-formedness-checking XML 1.0 reader that delivers the
// document one node at a time. Names are delivered as written (no namespace
// processing); entity references are expanded and attribute values
// normalised. Built on expat.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "lib/strings.h"

// An error of the reader. The message carries the reader's text followed by
// " Line %d, position %d" when the position is known.
class EVelXMLException : public Exception {
 public:
  // lineNumber 0 means the position is unknown.
  EVelXMLException(const String& text, int lineNumber, int linePosition);
  explicit EVelXMLException(const String& text) : EVelXMLException(text, 0, 0) {}
  // The text without the position.
  const String& Text() const { return text_; }
  int LineNumber() const { return line_; }
  int LinePosition() const { return position_; }

 private:
  String text_;
  int line_;
  int position_;
};

enum class TVelXMLNodeType {
  None,
  Element,
  Text,
  CDATA,
  ProcessingInstruction,
  Comment,
  DocumentType,
  Whitespace,
  SignificantWhitespace,
  EndElement,
  XmlDeclaration,
};

enum class TVelXMLConformance {
  Document,  // exactly one root element
  Fragment,  // any number of top-level elements and text
};

struct TVelXMLReaderSettings {
  // Off: characters outside the XML character range (control characters,
  // U+FFFE, U+FFFF) are accepted in text and attribute values. NUL and
  // character references are always checked.
  bool CheckCharacters = true;
  bool IgnoreComments = false;
  // Skips white space between markup, except inside an xml:space="preserve"
  // scope, where it is delivered as significant white space.
  bool IgnoreWhitespace = false;
  bool IgnoreProcessingInstructions = false;
  TVelXMLConformance Conformance = TVelXMLConformance::Document;
  // 0 = no limit on the number of characters in the document.
  int64_t MaxCharactersInDocument = 0;
};

struct TVelXMLReaderAttribute {
  String Name;
  String Value;
};

class TVelXMLTextReader {
 public:
  // The stream is read from its current position; it must outlive the reader.
  explicit TVelXMLTextReader(TStream& stream,
                             const TVelXMLReaderSettings& settings = TVelXMLReaderSettings());
  ~TVelXMLTextReader();
  TVelXMLTextReader(const TVelXMLTextReader&) = delete;
  TVelXMLTextReader& operator=(const TVelXMLTextReader&) = delete;

  // Moves to the next node: false at the end of the document. Raises
  // EVelXMLException at the first error, and again on every later call.
  bool Read();

  TVelXMLNodeType NodeType() const;
  // Element and end tag: the name as written; processing instruction: the
  // target; XML declaration: "xml".
  const String& Name() const;
  // Text, CDATA, white space, comment: the text; processing instruction: its
  // data; XML declaration: its pseudo-attributes.
  const String& Value() const;
  // True for an element written as a self-closing tag (no end tag follows).
  bool IsEmptyElement() const;
  // Nesting depth: 0 for top-level nodes.
  int Depth() const;
  // The element's attributes in document order.
  const std::vector<TVelXMLReaderAttribute>& Attributes() const;
  // Where the current node starts (1-based; 0 when unknown).
  int LineNumber() const;
  int LinePosition() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
