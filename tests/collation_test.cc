#include "run/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "run/sorted_rows.h"

namespace lumbra {
namespace {

// One line of the measured orders: the strings in list order and, for a
// line with ties, the order they were added in.
struct OrderLine {
  int line_no = 0;
  bool has_ties = false;
  std::vector<std::string> order;
  std::vector<std::string> added;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads `"..." "..." <- "..."` from text; false on anything malformed.
bool ParseStrings(const std::string& text, OrderLine* out) {
  std::vector<std::string>* into = &out->order;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ') {
      ++i;
    } else if (text.compare(i, 2, "<-") == 0) {
      if (!out->has_ties || into == &out->added) return false;
      into = &out->added;
      i += 2;
    } else if (c == '"') {
      std::string s;
      for (++i;; ++i) {
        if (i >= text.size()) return false;
        char d = text[i];
        if (d == '"') break;
        if (d != '\\') {
          s.push_back(d);
          continue;
        }
        if (++i >= text.size()) return false;
        char e = text[i];
        if (e == 't') {
          s.push_back('\t');
        } else if (e == '\\' || e == '"') {
          s.push_back(e);
        } else if (e == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
          s.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
          i += 2;
        } else {
          return false;
        }
      }
      into->push_back(std::move(s));
      ++i;
    } else {
      return false;
    }
  }
  return out->order.size() >= 2 && (!out->has_ties || out->added.size() == out->order.size());
}

std::vector<OrderLine> ReadVectors() {
  std::ifstream in(LUMBRA_SOURCE_DIR "/tests/data/collation/vectors.txt", std::ios::binary);
  EXPECT_TRUE(in) << "cannot open the collation vectors";
  std::vector<OrderLine> lines;
  std::string text;
  for (int line_no = 1; std::getline(in, text); ++line_no) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    OrderLine line;
    line.line_no = line_no;
    line.has_ties = text[0] == 'T';
    if ((text[0] != 'S' && text[0] != 'T') || text.size() < 2 || text[1] != ' ' ||
        !ParseStrings(text.substr(2), &line)) {
      ADD_FAILURE() << "vectors.txt line " << line_no << " is malformed";
      continue;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> SortedOrder(const std::vector<std::string>& rows) {
  SortedRows sorted;
  for (const std::string& row : rows) sorted.Add(row);
  std::vector<std::string> out;
  for (size_t i = 0; i < sorted.Count(); ++i) out.emplace_back(sorted.At(i));
  return out;
}

TEST(CollationTest, ReproducesMeasuredOrders) {
  std::vector<OrderLine> lines = ReadVectors();
  int strict = 0, with_ties = 0, tied_runs = 0;
  for (const OrderLine& line : lines) {
    std::vector<std::string> expected = line.order;
    if (line.has_ties) {
      ++with_ties;
      // Where the list box puts equal rows is not ours to copy: ours lie in
      // byte order.
      for (size_t i = 0; i < expected.size();) {
        size_t j = i + 1;
        while (j < expected.size() && CollationKey(expected[j]) == CollationKey(expected[i])) ++j;
        if (j - i > 1) ++tied_runs;
        std::sort(expected.begin() + i, expected.begin() + j);
        i = j;
      }
      std::vector<std::string> added = line.added;
      EXPECT_EQ(SortedOrder(added), expected) << "vectors.txt line " << line.line_no;
    } else {
      ++strict;
    }
    std::vector<std::string> shuffled = line.order;
    for (unsigned seed : {1u, 7u, 42u}) {
      std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed));
      EXPECT_EQ(SortedOrder(shuffled), expected)
          << "vectors.txt line " << line.line_no << ", shuffle seed " << seed;
    }
  }
  // A parser that lost lines or strings must not pass quietly.
  EXPECT_GE(strict, 200);
  EXPECT_GE(with_ties, 60);
  EXPECT_GE(tied_runs, 60);
}

std::string RandomRow(std::mt19937& rng, size_t max_len, bool with_zero) {
  std::uniform_int_distribution<size_t> len(0, max_len);
  std::uniform_int_distribution<int> byte(with_zero ? 0 : 1, 255);
  std::string s(len(rng), ' ');
  for (char& c : s) c = static_cast<char>(byte(rng));
  return s;
}

void ExpectOneZeroAtEnd(const std::string& key, const std::string& what) {
  ASSERT_FALSE(key.empty()) << what;
  EXPECT_EQ(key.back(), '\0') << what;
  EXPECT_EQ(key.find('\0'), key.size() - 1) << what;
}

TEST(CollationTest, KeyHoldsOneZeroByteAtItsEnd) {
  for (int c = 0; c < 256; ++c) {
    std::string row(1, static_cast<char>(c));
    ExpectOneZeroAtEnd(CollationKey(row), "byte " + std::to_string(c));
    ExpectOneZeroAtEnd(CollationKey("ab" + row + "c" + row), "byte " + std::to_string(c));
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    std::string row = RandomRow(rng, 40, i % 2 == 0);
    ExpectOneZeroAtEnd(CollationKey(row), "random row " + std::to_string(i));
  }
  // A special at every position up to 70,000 units.
  std::string long_row;
  for (int i = 0; i < 70000; ++i) long_row += "x-";
  long_row += "\xC6'\xC6\x96";
  ExpectOneZeroAtEnd(CollationKey(long_row), "long row");
}

// Within a row, a hyphen further right sorts first, however long the row.
TEST(CollationTest, LaterSpecialSortsFirstInLongRows) {
  const std::string letters(70000, 'k');
  auto with_hyphen_at = [&](size_t n) {
    std::string s = letters;
    s.insert(n, "-");
    return s;
  };
  for (size_t n : {0, 1, 253, 254, 255, 256, 508, 509, 510, 1000, 65022, 65023}) {
    EXPECT_LT(CompareRows(with_hyphen_at(n + 1), with_hyphen_at(n)), 0) << n;
  }
  // At the same place, the weights decide: apostrophe before hyphen.
  std::string apostrophe = letters;
  apostrophe.insert(600, "'");
  EXPECT_LT(CompareRows(apostrophe, with_hyphen_at(600)), 0);
}

TEST(CollationTest, OnlyIdenticalRowsCompareEqual) {
  // Pairs the collation ties; plain bytes must still tell them apart.
  const std::vector<std::pair<std::string, std::string>> ties = {
      {"Smith", "SMITH"},       {"\xC6sop", "aesop"},   {"\xC6sop", "AESOP"},
      {"\x9C" "uvre", "oeuvre"}, {"Stra\xDF" "e", "strasse"}, {"\xDEor", "thor"},
      {"co\xADop", "coop"},     {"a^b", "a\x88" "b"},   {"\xC0 la", "\xE0 LA"},
  };
  for (const auto& [a, b] : ties) {
    EXPECT_EQ(CollationKey(a), CollationKey(b)) << a << " / " << b;
    int ab = CompareRows(a, b);
    EXPECT_NE(ab, 0) << a << " / " << b;
    EXPECT_EQ(CompareRows(b, a), -ab) << a << " / " << b;
    EXPECT_EQ(CompareRows(a, a), 0) << a;
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 5000; ++i) {
    std::string a = RandomRow(rng, 6, false);
    std::string b = i % 4 == 0 ? a : RandomRow(rng, 6, false);
    int ab = CompareRows(a, b);
    EXPECT_EQ(ab == 0, a == b);
    EXPECT_EQ(CompareRows(b, a), -ab);
  }
}

TEST(CollationTest, LetterPairsSortAsTwoLetters) {
  EXPECT_LT(CompareRows("ad", "\xC6"), 0);
  EXPECT_LT(CompareRows("\xE6", "af"), 0);
  EXPECT_LT(CompareRows("Strasse", "Stra\xDF" "er"), 0);
  EXPECT_LT(CompareRows("Stra\xDF" "e", "Strast"), 0);
  EXPECT_LT(CompareRows("\xFE", "ti"), 0);
  EXPECT_LT(CompareRows("tg", "\xDE"), 0);
}

// Superscript digits differ from digits only in their case mark, which the
// byte order of these pairs contradicts.
TEST(CollationTest, CaseMarksOutrankBytes) {
  EXPECT_LT(CompareRows("a2", "A\xB2"), 0);
  EXPECT_LT(CompareRows("x1y", "X\xB9Y"), 0);
  EXPECT_NE(CollationKey("2"), CollationKey("\xB2"));
}

// SortedRows compares key-and-row strings; CompareRows must give the same
// order.
TEST(CollationTest, SortedRowsAgreesWithCompareRows) {
  std::mt19937 rng(3);
  std::vector<std::string> rows;
  const char* const stems[] = {"smith", "Smith", "SMITH", "sm\xEFth", "smi-th", "smith's", "sm"};
  for (int i = 0; i < 3000; ++i) {
    std::string row = stems[rng() % 7];
    row += RandomRow(rng, 3, false);
    rows.push_back(row);
  }
  std::vector<std::string> expected = rows;
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return CompareRows(a, b) < 0; });
  EXPECT_EQ(SortedOrder(rows), expected);
}

}  // namespace
}  // namespace lumbra
