// Helpers of the QuickBooks tests.
#ifndef LUMBRA_TESTS_QUICKBOOKS_TEST_UTIL_H_
#define LUMBRA_TESTS_QUICKBOOKS_TEST_UTIL_H_

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "text/lines.h"
#include "text/text_fields.h"
#include "support/test_util.h"

namespace lumbra::test {

using Lines = std::vector<std::string>;

// The Windows program reaches the request processor through COM, never
// through a command: there the tests use the fake COM component instead.
inline bool ProcessorCommands() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

// Field n (from 1) of a tab-separated line; empty past its last field.
inline std::string FieldOf(std::string_view line, int n) {
  for (; n > 1; --n) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::string();
    line.remove_prefix(tab + 1);
  }
  return std::string(line.substr(0, line.find('\t')));
}

// The decoded lines of the device table "<folder>\<name>.dat": the header
// row, then the data rows in byte order (their order on the devices is the
// table writer's business). Empty when there is no such table.
inline Lines DecodedTable(const TempDir& dir, std::string_view name, std::string_view folder = "1") {
  Lines lines;
  std::string bytes = dir.Read(std::string(folder) + "\\" + std::string(name) + ".dat");
  for (const std::string& line : SplitLines(bytes)) lines.push_back(DecodeLine(line));
  if (!lines.empty()) std::sort(lines.begin() + 1, lines.end());
  return lines;
}

// The bytes of a file under tests/data/quickbooks.
inline std::string QuickBooksTestData(std::string_view name) {
  return TestData("quickbooks/" + std::string(name));
}

// A device table as stored under tests/data/quickbooks: decoded, one row a
// line, the data rows in byte order as DecodedTable gives them.
inline Lines ExpectedTable(std::string_view name) { return SplitLines(QuickBooksTestData(name)); }

// `count` copies of a record from tests/data/quickbooks, each "#" in the
// n-th copy replaced by n (from 0).
inline std::string Numbered(std::string_view record_file, int count) {
  std::string record = QuickBooksTestData(record_file), out;
  for (int n = 0; n < count; ++n) {
    for (char c : record) out += c == '#' ? std::to_string(n) : std::string(1, c);
  }
  return out;
}

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_QUICKBOOKS_TEST_UTIL_H_
