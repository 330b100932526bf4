#include "backends/context/run_buffers.h"
#include "text/paths.h"
#include "text/text_fields.h"

#include <gtest/gtest.h>

#include "support/test_util.h"
#include "text/lines.h"

namespace lumbra {
namespace {

// Tabs separate fields, every double quote goes, blanks stay, and fields past
// the end are empty.
TEST(FieldCutting, SplitDropsQuotesAndPadsWithEmptyFieldsSkipGathersTabs) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\t\tb", {"a", "", "b", ""}},
      {"\tx", {"", "x"}},
      {"whole line", {"whole line", "", ""}},
      {"", {"", ""}},
      {"\"Smith, J\"\t say \"hi\" ", {"Smith, J", " say hi "}}};
  for (const auto& [text, fields] : cases) {
    std::string line = text, field;
    for (const std::string& expected : fields) {
      SplitField(line, field);
      EXPECT_EQ(field, expected) << text;
    }
  }
  // Skipping leaves the nth field and the rest of the line with gathered tabs.
  std::string line = "a\tb\tc\td", field;
  SkipFields(line, field, 3);
  EXPECT_EQ(field, "c");
  EXPECT_EQ(line, "d\t\t\t");
  SkipFields(line, field, 0);
  EXPECT_EQ(field, "c");
}

TEST(LineCoding, EncodesTabsSpacesShiftsTheRestAndDecodesBack) {
  EXPECT_EQ(EncodeLine("abc"), "efg");
  EXPECT_EQ(EncodeLine("a b\tc"), "e$f g");
  EXPECT_EQ(EncodeLine(""), "");
  std::string all;
  for (int c = 1; c < 252; ++c) {
    // 5 collides with the tab; 6 and 28 are coded as blanks.
    if (c != 5 && c != 6 && c != 28) all.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(DecodeLine(EncodeLine(all)), all);
}

TEST(LineCoding, BytesWithoutCodedCounterpartNeverCutALine) {
  // ü ý þ ÿ become u y t y before coding.
  EXPECT_EQ(EncodeLine("M\xFC\xFD\xFE\xFFz"), EncodeLine("Muytyz"));
  // A byte that would code to a line feed or to the coded tab is a blank:
  // the row keeps its line and its fields on the device.
  EXPECT_EQ(EncodeLine("a\x06" "b\x1C" "c\td"), "e$f$g h");
  // Bytes 0 to 3 have no decoded form and are dropped; the rest survives.
  EXPECT_EQ(DecodeLine(std::string("e\x00\x01\x02\x03" "f", 6)), "ab");
  EXPECT_EQ(DecodeLine(std::string("\x03xyz", 4)), "tuv");
}

// A text with any carriage return ends its lines there only, so a lone line
// feed stays inside its line; a text without one (edited on Linux) ends its
// lines at line feeds.
TEST(LineReading, ATextWithAnyCarriageReturnEndsLinesOnlyAtIt) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\r\nb\nc\rd", {"a", "b\nc", "d"}},
      {"notes\nmore\r\n\r\n", {"notes\nmore", ""}},
      {"a\n\r", {"a\n"}},
      {"a\nb\n\nc", {"a", "b", "", "c"}},
      {"last without an end", {"last without an end"}},
      {"", {}}};
  for (const auto& [text, lines] : cases) EXPECT_EQ(SplitLines(text), lines) << text;
}

TEST(RunBuffers, ShiftLineCodesAndCopySideBufferReplacesTheRowsBySortedSideRows) {
  test::TempDir dir;
  test::TestRun run(dir);
  RunContext& ctx = run.ctx();
  ctx.LineBuffer = "a b";
  ShiftLine(ctx, true);
  EXPECT_EQ(ctx.FieldBuffer, "e$f");
  EXPECT_TRUE(ctx.LineBuffer.empty());
  ctx.LineBuffer = "e$f";
  ShiftLine(ctx, false);
  EXPECT_EQ(ctx.FieldBuffer, "a b");

  ctx.RowBuffer.Add("old");
  CopySideBuffer(ctx);
  EXPECT_EQ(ctx.RowBuffer.Count(), 0u);
  ctx.SideBuffer.Add("b");
  ctx.SideBuffer.Add("a");
  CopySideBuffer(ctx);
  ASSERT_EQ(ctx.RowBuffer.Count(), 2u);
  EXPECT_EQ(ctx.RowBuffer.At(0), "a");
  EXPECT_EQ(ctx.SideBuffer.Count(), 2u);
}

TEST(Trim, RemovesBlanksOnlyAtBothEnds) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(Trim("   "), "");
}

// The system builds paths with "\"; each platform's own rules then decide
// what is absolute and where folders end.
TEST(Paths, AbsoluteJoinedAndParentOnThisPlatform) {
  struct Case {
    const char* dir;
    const char* rel;
    const char* joined;
    const char* parent;  // of joined
  };
#ifdef _WIN32
  const Case cases[] = {
      {"C:\\Lumbra", "1/Customers.dat", "C:\\Lumbra\\1\\Customers.dat", "C:\\Lumbra\\1"},
      {"C:/Lumbra/", "Lumbra.ini", "C:\\Lumbra\\Lumbra.ini", "C:\\Lumbra"},
      {"C:\\Lumbra", "D:\\Books\\DMASTER.DBF", "D:\\Books\\DMASTER.DBF", "D:\\Books"},
      {"C:\\Lumbra", "d:/x", "d:\\x", "d:\\"},
      {"C:\\Lumbra", "\\\\server\\share\\x", "\\\\server\\share\\x", "\\\\server\\share"},
      {"C:\\Lumbra", "\\x", "\\x", "\\"},
      {"C:\\Lumbra", "C:x", "C:\\Lumbra\\C:x", "C:\\Lumbra"},
      {"", "a\\b", "a\\b", "a"},
      {"", "x", "x", "."}};
#else
  const Case cases[] = {
      {"/srv/lumbra", "1\\Customers.dat", "/srv/lumbra/1/Customers.dat", "/srv/lumbra/1"},
      {"/srv/lumbra/", "Lumbra.ini", "/srv/lumbra/Lumbra.ini", "/srv/lumbra"},
      {"/srv/lumbra", "\\books\\x", "/books/x", "/books"},
      {"/srv/lumbra", "/x", "/x", "/"},
      {"/srv/lumbra", "C:\\x", "/srv/lumbra/C:/x", "/srv/lumbra/C:"},
      {"", "a\\b", "a/b", "a"},
      {"", "x", "x", "."}};
#endif
  for (const Case& c : cases) {
    EXPECT_EQ(JoinPath(c.dir, c.rel), c.joined) << c.rel;
    EXPECT_TRUE(IsAbsolutePath(c.joined) == (c.dir[0] != '\0')) << c.joined;
    EXPECT_EQ(ParentDir(c.joined), c.parent) << c.joined;
  }
}

}  // namespace
}  // namespace lumbra
