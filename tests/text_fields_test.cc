#include "run/text_fields.h"

#include <gtest/gtest.h>

#include "support/test_util.h"

namespace lumbra {
namespace {

std::vector<std::string> Fields(std::string line, int n) {
  std::string field;
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) {
    SplitField(line, field);
    out.push_back(field);
  }
  return out;
}

TEST(SplitField, CutsTabSeparatedFieldsAndThenEmptyOnes) {
  EXPECT_EQ(Fields("a\t\tb", 4), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(Fields("\tx", 2), (std::vector<std::string>{"", "x"}));
  EXPECT_EQ(Fields("whole line", 3), (std::vector<std::string>{"whole line", "", ""}));
  EXPECT_EQ(Fields("", 2), (std::vector<std::string>{"", ""}));
}

TEST(SplitField, DropsEveryDoubleQuoteAndKeepsBlanks) {
  EXPECT_EQ(Fields("\"Smith, J\"\t say \"hi\" ", 2),
            (std::vector<std::string>{"Smith, J", " say hi "}));
}

TEST(SkipFields, LeavesTheNthFieldAndTheRestWithGatheredTabs) {
  std::string line = "a\tb\tc\td", field;
  SkipFields(line, field, 3);
  EXPECT_EQ(field, "c");
  EXPECT_EQ(line, "d\t\t\t");
  SkipFields(line, field, 0);
  EXPECT_EQ(field, "c");
}

TEST(LineCoding, EncodesTabsSpacesAndShiftsTheRest) {
  EXPECT_EQ(EncodeLine("abc"), "efg");
  EXPECT_EQ(EncodeLine("a b\tc"), "e$f g");
  EXPECT_EQ(EncodeLine(""), "");
  EXPECT_EQ(DecodeLine("e$f g"), "a b\tc");
}

TEST(LineCoding, DecodingUndoesEncodingForEveryCodedByte) {
  std::string all;
  for (int c = 1; c < 252; ++c) {
    if (c != 5 && c != 28) all.push_back(static_cast<char>(c));  // 5 and 28 collide with tab/space
  }
  EXPECT_EQ(DecodeLine(EncodeLine(all)), all);
}

TEST(LineCoding, BytesWithoutCodedCounterpartNeverCutALine) {
  // ü ý þ ÿ become u y t y before coding.
  EXPECT_EQ(EncodeLine("M\xFC\xFD\xFE\xFFz"), EncodeLine("Muytyz"));
  // Bytes 0 to 3 have no decoded form and are dropped; the rest survives.
  EXPECT_EQ(DecodeLine(std::string("e\x00\x01\x02\x03" "f", 6)), "ab");
  EXPECT_EQ(DecodeLine(std::string("\x03xyz", 4)), "tuv");
}

TEST(ShiftLine, CodesTheLineBufferIntoTheFieldBuffer) {
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
}

TEST(CopySideBuffer, ReplacesTheRowBufferBySortedSideRows) {
  test::TempDir dir;
  test::TestRun run(dir);
  RunContext& ctx = run.ctx();
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

}  // namespace
}  // namespace lumbra
