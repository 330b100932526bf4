#include "intake/transaction_line.h"

#include <gtest/gtest.h>

namespace lumbra {
namespace {

TEST(TransactionLine, SplitsDateTypeAndPairs) {
  TransactionRecord r =
      ParseTransactionLine("20060305abcdInvoiceLines\tCustomer\t\"Acme\"\tQty\t\tNote\ta&&b&&c");
  EXPECT_EQ(r.type, "InvoiceLines");
  ASSERT_TRUE(r.date.has_value());
  EXPECT_EQ(*r.date, (Date{2006, 3, 5}));
  ASSERT_EQ(r.pairs.size(), 3u);
  EXPECT_EQ(r.pairs[0], (std::pair<std::string, std::string>{"Customer", "Acme"}));
  EXPECT_EQ(r.pairs[1].second, "");  // an empty value is still a pair
  EXPECT_EQ(r.pairs[2].second, "a&b&&c");
}

TEST(TransactionLine, PairsEndAtAnEmptyNameAndAtNineteen) {
  EXPECT_TRUE(ParseTransactionLine("20060305abcdJobs").pairs.empty());
  EXPECT_EQ(ParseTransactionLine("20060305abcdJobs\ta\t1\t\t2\tb\t3").pairs.size(), 1u);
  std::string line = "20060305abcdJobs";
  for (int i = 0; i < 25; ++i) line += "\tn" + std::to_string(i) + "\tv";
  TransactionRecord r = ParseTransactionLine(line);
  ASSERT_EQ(r.pairs.size(), 19u);
  EXPECT_EQ(r.pairs.back().first, "n18");
}

TEST(TransactionLine, DatesRollOverAndShortFieldsAreSafe) {
  EXPECT_EQ(*ParseTransactionLine("20061301xxxxJobs").date, (Date{2007, 1, 1}));
  EXPECT_EQ(*ParseTransactionLine("20060300xxxxJobs").date, (Date{2006, 2, 28}));
  EXPECT_EQ(ParseTransactionLine("2006").type, "");
  EXPECT_TRUE(ParseTransactionLine("").pairs.empty());
  std::string junk;
  for (int c = 0; c < 256; ++c) junk.push_back(static_cast<char>(c));
  ParseTransactionLine(junk);  // must not crash
}

}  // namespace
}  // namespace lumbra
