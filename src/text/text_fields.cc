#include "text/text_fields.h"

#include <algorithm>


namespace lumbra {

void SplitField(std::string& line, std::string& field) {
  // The line always gets a tab appended first, so a used-up line gathers
  // tabs and keeps yielding empty fields.
  line.push_back('\t');
  size_t tab = line.find('\t');
  field.assign(line, 0, tab);
  line.erase(0, tab + 1);
  field.erase(std::remove(field.begin(), field.end(), '"'), field.end());
}

void SkipFields(std::string& line, std::string& field, int n) {
  for (int i = 0; i < n; ++i) SplitField(line, field);
}

namespace {

unsigned char Unaccented(unsigned char c) {
  switch (c) {
    case 0xFC: return 'u';
    case 0xFD: return 'y';
    case 0xFE: return 't';
    case 0xFF: return 'y';
    default: return c;
  }
}

// Shifted, these would become a line feed, which ends the row on the device,
// and the coded tab, which starts a new field there: they are coded as the
// blank they stand for.
constexpr unsigned char kCodesToLineFeed = 0x06;
constexpr unsigned char kCodesToFieldBreak = 0x1C;

}  // namespace

std::string EncodeLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char ch : line) {
    unsigned char c = Unaccented(static_cast<unsigned char>(ch));
    if (c == '\t') {
      out.push_back(' ');
    } else if (c == ' ' || c == kCodesToLineFeed || c == kCodesToFieldBreak) {
      out.push_back('$');
    } else {
      out.push_back(static_cast<char>(c + 4));
    }
  }
  return out;
}

std::string FoldedAsDevicesSee(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(Unaccented(static_cast<unsigned char>(c)));
  return out;
}

bool HasFoldedBytes(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0xFC) return true;
  }
  return false;
}

std::string DecodeLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char ch : line) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\t') {
      out.push_back(' ');
    } else if (c == ' ') {
      out.push_back('\t');
    } else if (c >= 4) {
      out.push_back(static_cast<char>(c - 4));
    }
  }
  return out;
}

std::string Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace lumbra
