// The bytes of an XML document brought into Windows-1252, by the document's
// own account of its encoding.
#ifndef LUMBRA_TEXT_XML_ENCODING_H_
#define LUMBRA_TEXT_XML_ENCODING_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

struct XmlDecoding {
  std::string encoding;  // as read: "UTF-8", "UTF-16LE", "windows-1252", ...
  size_t unmapped = 0;   // characters and stray bytes written as "?"
};

// Decodes *document in place. The encoding is, first to apply:
//   - a byte-order mark: UTF-8, UTF-16 big- or little-endian (the mark is
//     removed);
//   - "<?" in UTF-16 without a mark (either byte order);
//   - the encoding the declaration names (compared without regard to case):
//     UTF-8; Windows-1252 and ISO-8859-1, both kept as they are (a document
//     that says ISO-8859-1 and holds bytes 0x80-0x9F means Windows-1252);
//     US-ASCII, whose bytes above 0x7F become "?"; UTF-16 named by a
//     document written in single bytes is read as UTF-8;
//   - UTF-8, XML's default, when there is no declaration or it names none.
// A character Windows-1252 cannot hold becomes "?", counted in
// how->unmapped. NotSupported, and the document unchanged, for any other
// encoding the declaration names.
Status DecodeXmlDocument(std::string* document, XmlDecoding* how);

}  // namespace lumbra

#endif  // LUMBRA_TEXT_XML_ENCODING_H_
