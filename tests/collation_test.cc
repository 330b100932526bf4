#include "text/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "text/sorted_rows.h"

namespace lumbra {
namespace {

// Reads `"..." "..." <- "..."` (escapes \t \\ \" \xHH) into *order and, after
// "<-" when added is given, *added; false on anything malformed.
bool ParseStrings(std::string_view text, std::vector<std::string>* order, std::vector<std::string>* added) {
  std::vector<std::string>* into = order;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') continue;
    if (text.substr(i, 2) == "<-" && added != nullptr && into == order) {
      into = added;
      ++i;
      continue;
    }
    if (text[i] != '"') return false;
    std::string s;
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] != '\\') {
        s.push_back(text[i]);
      } else if (++i < text.size() && (text[i] == '\\' || text[i] == '"' || text[i] == 't')) {
        s.push_back(text[i] == 't' ? '\t' : text[i]);
      } else if (i + 2 < text.size() && text[i] == 'x') {
        unsigned byte = 0;
        const char* end = text.data() + i + 3;
        if (std::from_chars(end - 2, end, byte, 16).ptr != end) return false;
        s.push_back(static_cast<char>(byte));
        i += 2;
      } else {
        return false;
      }
    }
    if (i >= text.size()) return false;
    into->push_back(std::move(s));
  }
  return order->size() >= 2 && (added == nullptr || added->size() == order->size());
}

std::vector<std::string> SortedOrder(const std::vector<std::string>& rows) {
  SortedRows sorted;
  for (const std::string& row : rows) sorted.Add(row);
  std::vector<std::string> out;
  for (size_t i = 0; i < sorted.Count(); ++i) out.emplace_back(sorted.At(i));
  return out;
}

// Each line holds the order a list box gave: "S" lines have no ties, "T" lines
// also hold the order the strings were added in.
TEST(CollationTest, ReproducesMeasuredOrders) {
  std::ifstream in(LUMBRA_SOURCE_DIR "/tests/data/collation/vectors.txt", std::ios::binary);
  ASSERT_TRUE(in) << "cannot open the collation vectors";
  int strict = 0, with_ties = 0, tied_runs = 0;
  std::string text;
  for (int line_no = 1; std::getline(in, text); ++line_no) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    SCOPED_TRACE("vectors.txt line " + std::to_string(line_no));
    const bool ties = text[0] == 'T';
    std::vector<std::string> expected, added;
    if ((!ties && text[0] != 'S') || text.size() < 2 || text[1] != ' ' ||
        !ParseStrings(std::string_view(text).substr(2), &expected, ties ? &added : nullptr)) {
      ADD_FAILURE() << "malformed";
      continue;
    }
    std::vector<std::string> shuffled = expected;
    if (ties) {
      ++with_ties;
      // Where the list box puts equal rows is not ours to copy: ours lie in
      // byte order.
      for (size_t i = 0, j; i < expected.size(); i = j) {
        for (j = i + 1; j < expected.size() && CollationKey(expected[j]) == CollationKey(expected[i]); ++j) {
        }
        tied_runs += j - i > 1;
        std::sort(expected.begin() + i, expected.begin() + j);
      }
      EXPECT_EQ(SortedOrder(added), expected);
    } else {
      ++strict;
    }
    for (unsigned seed : {1u, 7u, 42u}) {
      std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed));
      EXPECT_EQ(SortedOrder(shuffled), expected) << "shuffle seed " << seed;
    }
  }
  // A parser that lost lines or strings must not pass quietly.
  EXPECT_GE(strict, 200);
  EXPECT_GE(with_ties, 60);
  EXPECT_GE(tied_runs, 60);
}

std::string RandomRow(std::mt19937& rng, size_t max_len, bool with_zero) {
  std::string s(std::uniform_int_distribution<size_t>(0, max_len)(rng), ' ');
  for (char& c : s) c = static_cast<char>(std::uniform_int_distribution<int>(with_zero ? 0 : 1, 255)(rng));
  return s;
}

TEST(CollationTest, KeyHoldsOneZeroByteAtItsEnd) {
  std::vector<std::string> rows;
  for (int c = 0; c < 256; ++c) {
    std::string row(1, static_cast<char>(c));
    rows.insert(rows.end(), {row, "ab" + row + "c" + row});
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) rows.push_back(RandomRow(rng, 40, i % 2 == 0));
  // A special at every position up to 70,000 units.
  std::string long_row;
  for (int i = 0; i < 70000; ++i) long_row += "x-";
  rows.push_back(long_row + "\xC6'\xC6\x96");
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string key = CollationKey(rows[i]);
    EXPECT_TRUE(!key.empty() && key.find('\0') == key.size() - 1) << "row " << i;
  }
}

// Within a row, a hyphen further right sorts first, however long the row.
TEST(CollationTest, LaterSpecialSortsFirstInLongRows) {
  const std::string letters(70000, 'k');
  auto with_at = [&](size_t n, const char* special = "-") { return std::string(letters).insert(n, special); };
  for (size_t n : {0, 1, 253, 254, 255, 256, 508, 509, 510, 1000, 65022, 65023}) {
    EXPECT_LT(CompareRows(with_at(n + 1), with_at(n)), 0) << n;
  }
  // At the same place, the weights decide: apostrophe before hyphen.
  EXPECT_LT(CompareRows(with_at(600, "'"), with_at(600)), 0);
}

TEST(CollationTest, OnlyIdenticalRowsCompareEqual) {
  // Pairs the collation ties; plain bytes must still tell them apart.
  const std::vector<std::pair<std::string, std::string>> ties = {
      {"Smith", "SMITH"}, {"\xC6sop", "aesop"}, {"\xC6sop", "AESOP"}, {"\x9C" "uvre", "oeuvre"},
      {"Stra\xDF" "e", "strasse"}, {"\xDEor", "thor"}, {"co\xADop", "coop"}, {"a^b", "a\x88" "b"},
      {"\xC0 la", "\xE0 LA"}};
  std::mt19937 rng(11);
  std::vector<std::pair<std::string, std::string>> pairs = ties;
  for (int i = 0; i < 5000; ++i) {
    std::string a = RandomRow(rng, 6, false);
    pairs.emplace_back(a, i % 4 == 0 ? a : RandomRow(rng, 6, false));
  }
  for (size_t i = 0; i < pairs.size(); ++i) {
    const auto& [a, b] = pairs[i];
    if (i < ties.size()) {
      EXPECT_EQ(CollationKey(a), CollationKey(b)) << a << " / " << b;
    }
    int ab = CompareRows(a, b);
    EXPECT_EQ(ab == 0, a == b) << a << " / " << b;
    EXPECT_EQ(CompareRows(b, a), -ab) << a << " / " << b;
  }
}

// Letter pairs sort as two letters; superscript digits differ from digits
// only in their case mark, which the byte order of these pairs contradicts.
TEST(CollationTest, LetterPairsAndCaseMarks) {
  const std::pair<const char*, const char*> ordered[] = {
      {"ad", "\xC6"}, {"\xE6", "af"}, {"Strasse", "Stra\xDF" "er"}, {"Stra\xDF" "e", "Strast"},
      {"\xFE", "ti"}, {"tg", "\xDE"}, {"a2", "A\xB2"}, {"x1y", "X\xB9Y"}};
  for (const auto& [a, b] : ordered) EXPECT_LT(CompareRows(a, b), 0) << a << " / " << b;
  EXPECT_NE(CollationKey("2"), CollationKey("\xB2"));
}

// SortedRows compares key-and-row strings; CompareRows must give the same
// order.
TEST(CollationTest, SortedRowsAgreesWithCompareRows) {
  std::mt19937 rng(3);
  std::vector<std::string> rows;
  const char* const stems[] = {"smith", "Smith", "SMITH", "sm\xEFth", "smi-th", "smith's", "sm"};
  for (int i = 0; i < 3000; ++i) rows.push_back(stems[rng() % 7] + RandomRow(rng, 3, false));
  std::vector<std::string> expected = rows;
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return CompareRows(a, b) < 0; });
  EXPECT_EQ(SortedOrder(rows), expected);
}

}  // namespace
}  // namespace lumbra
