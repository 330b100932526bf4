#include "text/cp1252.h"

#include <cstdint>

namespace lumbra {
namespace {

// Code points of 0x80 to 0x9F; the five undefined bytes map to the C1
// control of the same number.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The next character of utf8 from *pos on, or -1 for a byte that does not
// start a well-formed character (then *pos moves past that byte only).
int32_t NextCodePoint(std::string_view utf8, size_t* pos) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(utf8[i]); };
  uint8_t lead = byte(*pos);
  int extra;
  uint32_t cp;
  uint8_t low = 0x80, high = 0xBF;  // bounds of the first continuation byte
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++*pos;
    return -1;
  }
  if (*pos + extra >= utf8.size()) {
    ++*pos;
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    uint8_t b = byte(*pos + k);
    uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) {
      ++*pos;
      return -1;
    }
    cp = cp << 6 | (b & 0x3F);
  }
  *pos += extra + 1;
  return static_cast<int32_t>(cp);
}

// The byte of a code point (-1: no character), or "?" counted in *unmapped.
char Cp1252Byte(int32_t cp, size_t* unmapped) {
  if ((cp >= 0 && cp < 0x80) || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int k = 0; k < 32 && cp >= 0; ++k) {
    if (kHigh[k] == cp) return static_cast<char>(0x80 + k);
  }
  ++*unmapped;
  return '?';
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    uint8_t c = static_cast<uint8_t>(ch);
    AppendUtf8(&out, c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c);
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8, size_t* unmapped) {
  std::string text(utf8);
  Utf8ToCp1252InPlace(&text, unmapped);
  return text;
}

void Utf8ToCp1252InPlace(std::string* text, size_t* unmapped) {
  size_t ignored = 0;
  if (unmapped == nullptr) unmapped = &ignored;
  std::string_view in(*text);
  // Plain ASCII, the common case, stays as it is.
  size_t pos = 0;
  while (pos < in.size() && static_cast<uint8_t>(in[pos]) < 0x80) ++pos;
  size_t out = pos;
  while (pos < in.size()) (*text)[out++] = Cp1252Byte(NextCodePoint(in, &pos), unmapped);
  text->resize(out);
}

void Utf16ToCp1252InPlace(std::string* text, bool big_endian, size_t* unmapped) {
  size_t ignored = 0;
  if (unmapped == nullptr) unmapped = &ignored;
  const size_t units = text->size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    uint32_t a = static_cast<uint8_t>((*text)[2 * i]), b = static_cast<uint8_t>((*text)[2 * i + 1]);
    return big_endian ? (a << 8 | b) : (b << 8 | a);
  };
  size_t out = 0;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    int32_t cp = static_cast<int32_t>(u);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      ++i;  // a pair: beyond the code page whatever it is
      cp = 0x10000;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      cp = -1;  // half a pair
    }
    (*text)[out++] = Cp1252Byte(cp, unmapped);
  }
  if (text->size() % 2 != 0) (*text)[out++] = Cp1252Byte(-1, unmapped);
  text->resize(out);
}

}  // namespace lumbra
