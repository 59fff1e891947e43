// Text XML: the document loader (one or several roots, by the first byte)
// and the reader on its own with character checking on. Saving what was
// loaded must work in both forms.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/xml_document.h"
#include "lib/xml_text_reader.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> bytes(data + 1, data + size);

  {
    TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
    TVelXMLReaderSettings settings;
    settings.Conformance = (mode & 1) ? TVelXMLConformance::Fragment : TVelXMLConformance::Document;
    settings.IgnoreWhitespace = (mode & 2) != 0;
    settings.CheckCharacters = (mode & 4) != 0;
    TVelXMLTextReader reader(in, settings);
    int depth = 0;
    try {
      while (reader.Read()) {
        Check(reader.Depth() >= 0);
        if (reader.NodeType() == TVelXMLNodeType::Element && !reader.IsEmptyElement()) ++depth;
        if (reader.NodeType() == TVelXMLNodeType::EndElement) --depth;
        Check(depth >= 0);
      }
      Check(depth == 0);  // a clean end closes every element
    } catch (const EVelXMLException& e) {
      Check(!e.Message().empty());
    }
  }

  // The loader: binary magics are left to the binary targets.
  if (bytes.size() >= 4 && (bytes[0] == 'S' || bytes[0] == 'B') && bytes[1] == 'X') return 0;
  TReadOnlyMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TVelXMLDocument doc;
  doc.SetAllowMultipleRoots((mode & 8) != 0);
  doc.LoadFromStream(in);  // never raises for text
  TMemoryStream text, binary;
  doc.SaveToStream(text, (mode & 16) ? VelXMLSave::Default : VelXMLSave::Text);
  doc.SaveToStream(binary, VelXMLSave::Binary);
  binary.SetPosition(0);
  TVelXMLDocument back;
  back.SetAllowMultipleRoots(true);
  back.LoadFromStream(binary);
  Check(back.Count() == doc.Count());
  return 0;
}
