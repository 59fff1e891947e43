// The binary XML forms' fuzz body: the magic is prepended, so every input
// reaches that form's parser. A stream that loads must survive a binary round
// trip unchanged (names come from the ANSI code page, which the round trip
// preserves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/xml_document.h"

inline int FuzzBinaryXml(const char (&magic)[5], const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(size + 4);
  std::memcpy(bytes.data(), magic, 4);
  if (size) std::memcpy(bytes.data() + 4, data, size);
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TVelXMLDocument doc;
  doc.SetAllowMultipleRoots(true);
  try {
    doc.LoadFromStream(in);
  } catch (const EReadError&) {
    return 0;
  }
  // Saving, loading and saving again gives the same bytes (Equals is no
  // test here: attributes with duplicate names make it fail on itself).
  TMemoryStream out;
  doc.SaveToStream(out, VelXMLSave::Binary);
  out.SetPosition(0);
  TVelXMLDocument back;
  back.SetAllowMultipleRoots(true);
  back.LoadFromStream(out);
  TMemoryStream again;
  back.SaveToStream(again, VelXMLSave::Binary);
  if (again.Bytes() != out.Bytes()) std::abort();
  TMemoryStream text;
  doc.SaveToStream(text);
  return 0;
}
