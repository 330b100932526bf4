#include "backends/aurora/dbf_values.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lumbra::dbf {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading number of a text, taken apart: its sign, its significant
// digits (no leading zeros) and where the decimal point falls among them
// (digits before the point; may be negative or beyond the digits).
struct LeadingNumber {
  bool negative = false;
  std::string digits;
  long point = 0;
};

LeadingNumber ParseLeadingNumber(std::string_view t) {
  LeadingNumber n;
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) n.negative = t[i++] == '-';
  std::string digits;
  long point = -1;
  for (; i < t.size(); ++i) {
    if (IsDigit(t[i])) {
      digits.push_back(t[i]);
    } else if (t[i] == '.' && point < 0) {
      point = static_cast<long>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return LeadingNumber();
  if (point < 0) point = static_cast<long>(digits.size());
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    bool exp_negative = false;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) exp_negative = t[j++] == '-';
    if (j < t.size() && IsDigit(t[j])) {
      long exp = 0;
      for (; j < t.size() && IsDigit(t[j]); ++j) {
        if (exp < 100000) exp = exp * 10 + (t[j] - '0');
      }
      point += exp_negative ? -exp : exp;
    }
  }
  size_t lead = 0;
  while (lead < digits.size() && digits[lead] == '0') ++lead;
  digits.erase(0, lead);
  point -= static_cast<long>(lead);
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return LeadingNumber();
  n.digits = std::move(digits);
  n.point = point;
  return n;
}

// n rounded half away from zero to the given decimals, as text ("-12.50").
// Empty when the number is absurdly large.
std::string FixedText(const LeadingNumber& n, int decimals) {
  if (n.point > 400) return std::string();
  long scaled = n.point + decimals;  // digits of round(|n| * 10^decimals)
  std::string units;
  if (scaled >= 0) {
    long len = static_cast<long>(n.digits.size());
    units = n.digits.substr(0, static_cast<size_t>(scaled < len ? scaled : len));
    if (scaled > len) units.append(static_cast<size_t>(scaled - len), '0');
    if (scaled < len && n.digits[static_cast<size_t>(scaled)] >= '5') {
      long k = static_cast<long>(units.size()) - 1;
      while (k >= 0 && units[static_cast<size_t>(k)] == '9') units[static_cast<size_t>(k--)] = '0';
      if (k < 0) {
        units.insert(units.begin(), '1');
      } else {
        ++units[static_cast<size_t>(k)];
      }
    }
  }
  size_t lead = 0;
  while (lead < units.size() && units[lead] == '0') ++lead;
  units.erase(0, lead);
  bool zero = units.empty();
  if (units.size() < static_cast<size_t>(decimals) + 1) {
    units.insert(0, static_cast<size_t>(decimals) + 1 - units.size(), '0');
  }
  if (decimals > 0) units.insert(units.size() - static_cast<size_t>(decimals), ".");
  if (n.negative && !zero) units.insert(units.begin(), '-');
  return units;
}

bool AllOf(std::string_view s, std::string_view set) {
  return s.find_first_not_of(set) == std::string_view::npos;
}

std::string TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return std::string();
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

int64_t ReadLE64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return static_cast<int64_t>(v);
}

void WriteLE64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

double ReadDouble(const char* p) {
  uint64_t bits = static_cast<uint64_t>(ReadLE64(p));
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::string CurrencyText(int64_t v) {
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%04" PRIu64, v < 0 ? "-" : "", mag / 10000,
                mag % 10000);
  return buf;
}

// The shortest digits that read back to d, written out in full for
// exponents from -4 to 15 (0.0001, 123456, 2.5) and as d.ddde+XX beyond.
std::string DoubleText(double d) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string sci(buf, r.ptr);
  size_t e = sci.find('e');
  if (e == std::string::npos) return sci;  // inf, nan
  int exp = std::atoi(sci.c_str() + e + 1);
  if (exp < -4 || exp > 15) return sci;
  std::string digits;
  bool negative = sci[0] == '-';
  for (size_t i = negative ? 1 : 0; i < e; ++i) {
    if (sci[i] != '.') digits.push_back(sci[i]);
  }
  std::string out = negative ? "-" : "";
  if (exp < 0) {
    out += "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else if (static_cast<size_t>(exp) + 1 >= digits.size()) {
    out += digits + std::string(static_cast<size_t>(exp) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(exp) + 1) + "." +
           digits.substr(static_cast<size_t>(exp) + 1);
  }
  return out;
}

std::string DateTimeText(std::string_view raw) {
  if (AllOf(raw, " ")) return std::string();
  long day = static_cast<long>(ReadLE32(raw.data()));
  uint32_t ms = ReadLE32(raw.data() + 4);
  if (day <= 0) return std::string();
  long seconds = (static_cast<long>(ms) + 500) / 1000;
  day += seconds / 86400;
  seconds %= 86400;
  int y, m, d;
  CivilFromJulian(day, &y, &m, &d);
  if (y < 1 || y > 9999) return std::string();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d %02ld:%02ld:%02ld", y, m, d, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return buf;
}

bool ParseDigits(std::string_view s, int* out) {
  int v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return !s.empty();
}

bool ValidDate(int y, int m, int d) {
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

Status EncodeDateTime(std::string_view text, char* raw) {
  std::string t = TrimBlanks(text);
  if (t.empty()) {
    std::memset(raw, 0, 8);
    return Status::OK();
  }
  int y, m, d, hh = 0, mm = 0, ss = 0;
  std::string_view v(t);
  bool ok = v.size() >= 8 && ParseDigits(v.substr(0, 4), &y) && ParseDigits(v.substr(4, 2), &m) &&
            ParseDigits(v.substr(6, 2), &d) && ValidDate(y, m, d);
  v.remove_prefix(ok ? 8 : v.size());
  if (ok && !v.empty()) {
    if (v[0] == ' ' || v[0] == 'T') v.remove_prefix(1);
    if (v.size() == 8 && v[2] == ':' && v[5] == ':') {
      ok = ParseDigits(v.substr(0, 2), &hh) && ParseDigits(v.substr(3, 2), &mm) &&
           ParseDigits(v.substr(6, 2), &ss);
    } else if (v.size() == 6) {
      ok = ParseDigits(v.substr(0, 2), &hh) && ParseDigits(v.substr(2, 2), &mm) &&
           ParseDigits(v.substr(4, 2), &ss);
    } else {
      ok = false;
    }
    ok = ok && hh < 24 && mm < 60 && ss < 60;
  }
  if (!ok) return Status::InvalidArgument("not a date and time: " + t);
  WriteLE32(raw, static_cast<uint32_t>(JulianDay(y, m, d)));
  WriteLE32(raw + 4, static_cast<uint32_t>(((hh * 60 + mm) * 60 + ss) * 1000));
  return Status::OK();
}

// The text's number rounded to a whole multiple of 10^-decimals, scaled to
// an integer (12.34 with 4 decimals gives 123400).
bool ScaledInteger(std::string_view text, int decimals, int64_t* out) {
  std::string fixed = FixedText(ParseLeadingNumber(text), decimals);
  if (fixed.empty()) return false;
  std::string digits;
  for (char c : fixed) {
    if (c != '.') digits.push_back(c);
  }
  const char* b = digits.data();
  auto r = std::from_chars(b, b + digits.size(), *out);
  return r.ec == std::errc() && r.ptr == b + digits.size();
}

}  // namespace

long JulianDay(int year, int month, int day) {
  long a = (14 - month) / 12;
  long y = year + 4800L - a;
  long m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilFromJulian(long jd, int* year, int* month, int* day) {
  long a = jd + 32044;
  long b = (4 * a + 3) / 146097;
  long c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461;
  long e = c - 1461 * d / 4;
  long m = (5 * e + 2) / 153;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * (m / 10));
  *year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

bool FormatDecimal(std::string_view text, int width, int decimals, std::string* out) {
  LeadingNumber n = ParseLeadingNumber(text);
  for (int dec = decimals; dec >= 0; --dec) {
    std::string s = FixedText(n, dec);
    if (s.empty()) return false;
    if (s.size() <= static_cast<size_t>(width)) {
      *out = std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
      return true;
    }
  }
  return false;
}

std::string FieldText(const Field& field, std::string_view raw) {
  switch (field.type) {
    case 'C':
    case 'V': {
      std::string s(raw);
      for (size_t i = s.size(); i > 0 && s[i - 1] == '\0'; --i) s[i - 1] = ' ';
      return s;
    }
    case 'I':
    case '+':
      return std::to_string(static_cast<int32_t>(ReadLE32(raw.data())));
    case 'Y':
      return CurrencyText(ReadLE64(raw.data()));
    case 'O':
      return DoubleText(ReadDouble(raw.data()));
    case 'B':
      return field.memo ? std::string() : DoubleText(ReadDouble(raw.data()));
    case 'T':
    case '@':
      return DateTimeText(raw);
    case '0':
      return std::string();
    default:
      return std::string(raw);
  }
}

std::string DumpText(const Field& field, std::string_view raw) {
  switch (field.type) {
    case 'C':
    case 'V': {
      size_t end = raw.find_last_not_of(std::string_view(" \0", 2));
      return std::string(raw.substr(0, end == std::string_view::npos ? 0 : end + 1));
    }
    case 'N':
    case 'F': {
      std::string_view blanks(" \0", 2);
      size_t b = raw.find_first_not_of(blanks);
      if (b == std::string_view::npos) return std::string();
      return std::string(raw.substr(b, raw.find_last_not_of(blanks) - b + 1));
    }
    case 'D':
      return AllOf(raw, std::string_view(" 0\0", 3)) ? std::string() : std::string(raw);
    case 'L':
      return AllOf(raw, std::string_view(" \0", 2)) ? std::string() : std::string(raw);
    case 'I': case '+': case 'Y': case 'O': case 'B': case 'T': case '@': case '0':
      return FieldText(field, raw);
    default: {
      size_t end = raw.find_last_not_of(' ');
      return std::string(raw.substr(0, end == std::string_view::npos ? 0 : end + 1));
    }
  }
}

Status EncodeText(const Field& field, std::string_view text, char* raw) {
  const size_t len = field.length;
  switch (field.type) {
    case 'C':
    case 'V': {
      size_t n = text.size() < len ? text.size() : len;
      std::memcpy(raw, text.data(), n);
      std::memset(raw + n, ' ', len - n);
      return Status::OK();
    }
    case 'N':
    case 'F': {
      std::string s;
      if (!FormatDecimal(text, static_cast<int>(len), field.decimals, &s)) {
        return Status::InvalidArgument("number " + TrimBlanks(text) + " too wide for field " +
                                       field.name);
      }
      std::memcpy(raw, s.data(), len);
      return Status::OK();
    }
    case 'D': {
      std::string t = TrimBlanks(text);
      int y, m, d;
      if (t.empty()) {
        std::memset(raw, ' ', len);
      } else if (t.size() == 8 && ParseDigits(t.substr(0, 4), &y) &&
                 ParseDigits(t.substr(4, 2), &m) && ParseDigits(t.substr(6, 2), &d) &&
                 ValidDate(y, m, d)) {
        std::memcpy(raw, t.data(), 8);
      } else {
        return Status::InvalidArgument("not a date yyyymmdd: " + t);
      }
      return Status::OK();
    }
    case 'L': {
      std::string t;
      for (char c : text) {
        if (c != ' ' && c != '.') t.push_back(c);
      }
      char v;
      if (t.empty() || t == "?") {
        v = ' ';
      } else if (t == "1" || t == "-1" || (t.size() == 1 && std::strchr("TtYy", t[0]))) {
        v = 'T';
      } else if (t == "0" || (t.size() == 1 && std::strchr("FfNn", t[0]))) {
        v = 'F';
      } else {
        return Status::InvalidArgument("not a logical value: " + t);
      }
      raw[0] = v;
      return Status::OK();
    }
    case 'I':
    case '+': {
      int64_t v;
      if (!ScaledInteger(text, 0, &v) || v < std::numeric_limits<int32_t>::min() ||
          v > std::numeric_limits<int32_t>::max()) {
        return Status::InvalidArgument("integer out of range for field " + field.name);
      }
      WriteLE32(raw, static_cast<uint32_t>(static_cast<int32_t>(v)));
      return Status::OK();
    }
    case 'Y': {
      int64_t v;
      if (!ScaledInteger(text, 4, &v)) {
        return Status::InvalidArgument("currency out of range for field " + field.name);
      }
      WriteLE64(raw, static_cast<uint64_t>(v));
      return Status::OK();
    }
    case 'B':
    case 'O': {
      if (field.memo) break;
      LeadingNumber n = ParseLeadingNumber(text);
      // Rebuilt as "0.<digits>e<point>" so strtod sees exactly the number.
      std::string s = n.digits.empty() ? std::string("0")
                                        : std::string(n.negative ? "-" : "") + "0." + n.digits +
                                              "e" + std::to_string(n.point);
      double d = std::strtod(s.c_str(), nullptr);
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      WriteLE64(raw, bits);
      return Status::OK();
    }
    case 'T':
    case '@':
      return EncodeDateTime(text, raw);
    default:
      break;
  }
  return Status::InvalidArgument("field " + field.name + " of type " +
                                 std::string(1, field.type) + " cannot be stored as text");
}

void BlankField(const Field& field, char* raw) {
  char fill = ' ';
  switch (field.type) {
    case 'I': case '+': case 'Y': case 'O': case 'T': case '@': case '0':
      fill = '\0';
      break;
    case 'B':
      fill = field.memo && field.length == 10 ? ' ' : '\0';
      break;
    default:
      if (field.memo && field.length == 4) fill = '\0';
      break;
  }
  std::memset(raw, fill, field.length);
}

uint32_t MemoBlockOf(const Field& field, std::string_view raw) {
  if (field.length == 4) return ReadLE32(raw.data());
  uint64_t v = 0;
  bool any = false;
  for (char c : raw) {
    if (c == ' ' || c == '\0') {
      if (any) break;
      continue;
    }
    if (!IsDigit(c)) return 0;
    any = true;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu) return 0;
  }
  return static_cast<uint32_t>(v);
}

void EncodeMemoBlock(const Field& field, uint32_t block, char* raw) {
  if (field.length == 4) {
    WriteLE32(raw, block);
    return;
  }
  std::memset(raw, ' ', field.length);
  if (block == 0) return;
  std::string s = std::to_string(block);
  if (s.size() <= field.length) std::memcpy(raw + field.length - s.size(), s.data(), s.size());
}

}  // namespace lumbra::dbf
