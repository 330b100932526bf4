#include "text/xml_encoding.h"

#include "text/cp1252.h"

namespace lumbra {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeStart = std::string_view("\0<\0?", 4);
constexpr std::string_view kUtf16LeStart = std::string_view("<\0?\0", 4);

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of the declaration's encoding attribute; empty when the text
// does not begin with a declaration or the declaration names no encoding.
std::string DeclaredEncoding(std::string_view text) {
  if (!text.starts_with("<?xml") || text.size() < 6 || !IsXmlSpace(text[5])) return {};
  std::string_view declaration = text.substr(0, text.find("?>"));
  for (size_t at = declaration.find("encoding"); at != std::string_view::npos;
       at = declaration.find("encoding", at + 1)) {
    if (!IsXmlSpace(declaration[at - 1])) continue;
    size_t pos = at + 8;
    while (pos < declaration.size() && IsXmlSpace(declaration[pos])) ++pos;
    if (pos >= declaration.size() || declaration[pos] != '=') continue;
    ++pos;
    while (pos < declaration.size() && IsXmlSpace(declaration[pos])) ++pos;
    if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\'')) continue;
    size_t end = declaration.find(declaration[pos], pos + 1);
    if (end == std::string_view::npos) return {};
    return std::string(declaration.substr(pos + 1, end - pos - 1));
  }
  return {};
}

void AsciiToCp1252InPlace(std::string* text, size_t* unmapped) {
  for (char& c : *text) {
    if (static_cast<uint8_t>(c) >= 0x80) {
      c = '?';
      ++*unmapped;
    }
  }
}

}  // namespace

Status DecodeXmlDocument(std::string* document, XmlDecoding* how) {
  *how = XmlDecoding();
  std::string_view text(*document);
  if (text.starts_with(kUtf8Bom)) {
    how->encoding = "UTF-8";
    document->erase(0, kUtf8Bom.size());
    Utf8ToCp1252InPlace(document, &how->unmapped);
    return Status::OK();
  }
  const bool be_bom = text.starts_with(kUtf16BeBom), le_bom = text.starts_with(kUtf16LeBom);
  if (be_bom || le_bom || text.starts_with(kUtf16BeStart) || text.starts_with(kUtf16LeStart)) {
    const bool big_endian = be_bom || text.starts_with(kUtf16BeStart);
    how->encoding = big_endian ? "UTF-16BE" : "UTF-16LE";
    if (be_bom || le_bom) document->erase(0, 2);
    Utf16ToCp1252InPlace(document, big_endian, &how->unmapped);
    return Status::OK();
  }
  std::string declared = DeclaredEncoding(text);
  std::string name = Upper(declared);
  if (name.empty() || name == "UTF-8" || name == "UTF8" || name.starts_with("UTF-16")) {
    how->encoding = "UTF-8";
    Utf8ToCp1252InPlace(document, &how->unmapped);
  } else if (name == "WINDOWS-1252" || name == "CP1252" || name == "ISO-8859-1" ||
             name == "ISO_8859-1" || name == "LATIN1") {
    how->encoding = declared;
  } else if (name == "US-ASCII" || name == "ASCII") {
    how->encoding = declared;
    AsciiToCp1252InPlace(document, &how->unmapped);
  } else {
    return Status::NotSupported("encoding \"" + declared.substr(0, 40) + "\" not known");
  }
  return Status::OK();
}

}  // namespace lumbra
