#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "backends/quickbooks/qbxml_export.h"
#include "backends/quickbooks/qbxml_round_trip.h"
#include "quickbooks_test_util.h"
#include "text/xml_encoding.h"

namespace lumbra {
namespace {

using test::DecodedTable;
using test::Lines;

// The example processor of the README: answers each request with
// "<query>.xml" from the folder named by the company file.
const std::string kAnswerScript =
    std::string(LUMBRA_SOURCE_DIR) + "/tests/data/quickbooks/qbxml-answer.sh";

// The answers of the company "company" (tests/data/quickbooks/company), in
// QuickBooks' wire form: one element a line, no indentation. The answer to
// the invoice query also carries the customer list and has no line feed
// after its last line.
void WriteCompany(const test::TempDir& dir) {
  for (const char* query : {"ItemQueryRq", "VendorQueryRq", "InvoiceQueryRq"}) {
    std::string file = std::string(query) + ".xml";
    dir.Write("company\\" + file, test::QuickBooksTestData("company/" + file));
  }
}

// The export run on that company through the example processor.
class QbxmlExportTest : public ::testing::Test {
 protected:
  QbxmlExportTest() : run_(dir_) {
    dir_.MakeDir("1");
    WriteCompany(dir_);
    ctx().DataPath = "company";
    options_.command_line = "sh " + kAnswerScript;
  }
  RunContext& ctx() { return run_.ctx(); }
  Lines Table(const std::string& name) { return DecodedTable(dir_, name); }

  // Runs the export and returns what it wrote on standard error.
  std::string Export() {
    ::testing::internal::CaptureStderr();
    ExportQbxml(ctx(), options_);
    return ::testing::internal::GetCapturedStderr();
  }

  test::TempDir dir_;
  test::TestRun run_;
  QbxmlProcessorOptions options_;
};

TEST_F(QbxmlExportTest, WireResponsesBecomeTables) {
  if (!test::ProcessorCommands()) GTEST_SKIP() << test::kNoProcessorCommands;
  // Around the example processor: keep each request and what the
  // environment told the command.
  options_.command_line =
      "n=$(ls req.* 2>/dev/null | wc -l); cat > req.$n; "
      "printf '%s|%s' \"$QBXML_COMPANY_FILE\" \"$QBXML_APP_NAME\" > env.$n; "
      "sh " + kAnswerScript + " < req.$n";
  EXPECT_EQ(Export(), "");

  // The requests exactly as written, no line break added, one command each.
  EXPECT_EQ(dir_.Read("req.0"), kItemQueryRequest);
  EXPECT_EQ(dir_.Read("req.1"), kVendorQueryRequest);
  EXPECT_EQ(dir_.Read("req.2"), kInvoiceQueryRequest);
  EXPECT_FALSE(dir_.Exists("req.3"));
  EXPECT_EQ(dir_.Read("env.0"), "company|Lumbra");

  // Expected in tests/data/quickbooks/company-tables. StockItems:
  // inventory and non-inventory items only; sales values before general
  // ones, the preferred vendor from the line after next, escapes kept.
  // Suppliers: city and county join; a county alone follows a blank.
  // Customers: nesting is never looked at, so the shipping address
  // overwrites the billing address's lines and city.
  for (std::string table : {"StockItems", "Suppliers", "Customers"}) {
    EXPECT_EQ(Table(table), test::ExpectedTable("company-tables/" + table + ".txt")) << table;
  }
  // The lines of the invoice answer ended by a line feed, each ended by CR
  // LF instead; the last line, which has none, is left out.
  EXPECT_EQ(dir_.Read("1\\salesorder.txt"), test::QuickBooksTestData("company-tables/salesorder.txt"));
  EXPECT_NE(dir_.Read("Lumbra.log").find("qbXML VendorQueryRq answered"), std::string::npos);
}

TEST_F(QbxmlExportTest, IndentedResponsesGiveNoRows) {
  if (!test::ProcessorCommands()) GTEST_SKIP() << test::kNoProcessorCommands;
  for (const char* query : {"ItemQueryRq", "VendorQueryRq", "InvoiceQueryRq"}) {
    std::string file = "company\\" + std::string(query) + ".xml";
    std::string indented;
    for (char c : dir_.Read(file)) indented += c == '\n' ? std::string("\n  ") : std::string(1, c);
    dir_.Write(file, indented);
  }
  dir_.Write("1\\Customers.dat", "older");
  EXPECT_EQ(Export(), "");
  EXPECT_FALSE(dir_.Exists("1\\StockItems.dat"));
  EXPECT_FALSE(dir_.Exists("1\\Suppliers.dat"));
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older");
  EXPECT_NE(dir_.Read("1\\salesorder.txt").find("\r\n  <Name>Acme Hardware</Name>\r\n"),
            std::string::npos);
}

TEST(QbxmlScanTest, LineTestsSlotsAndFallbacks) {
  test::TempDir dir;
  test::TestRun run(dir);
  RunContext& ctx = run.ctx();
  auto items = [&](const std::string& file) {
    ctx.RowBuffer.Clear();
    ScanItemResponse(ctx, test::QuickBooksTestData("scan/" + file));
    Lines rows;
    for (size_t i = 0; i < ctx.RowBuffer.Count(); ++i) rows.emplace_back(ctx.RowBuffer.At(i));
    return rows;
  };
  // The general values come second whichever line comes first.
  EXPECT_EQ(items("general-values-second.xml"), (Lines{"A\ts\t1\tp\t\t", "B\ts\t1\tp\t\t"}));
  // Only lines that begin with "<" count; the vendor reference takes the
  // line after next, whatever the two lines hold; a record without a name
  // and an item of another type give nothing.
  EXPECT_EQ(items("line-tests.xml"), (Lines{"B\t\t\t\tV\t"}));
  // A line too short for its tags sets nothing; a row left without its end
  // tag, or with its end tag after the last line feed, is not written.
  EXPECT_EQ(items("short-lines.xml"), (Lines{"C\t\t\t\t\t"}));
  ctx.RowBuffer.Clear();
  ScanItemResponse(ctx, "<ItemInventoryRet>\n<Name>E</Name>\n</ItemInventoryRet>");
  ScanItemResponse(ctx, "<ItemInventoryRet>\n<Name>F</Name>\n<PrefVendorRef>\n<ListID>1</ListID>\n"
                        "</ItemInventoryRet>\n");
  EXPECT_EQ(ctx.RowBuffer.Count(), 0u);

  // Vendor and customer lines are tested whatever their first character,
  // and the customer scan keeps every line it takes.
  ctx.RowBuffer.Clear();
  ScanVendorResponse(ctx, "<VendorRet>\n<Name>V</Name>\n<City>Perth</City>\n<County>WA</County>\n"
                          "<County>AU</County>\n</VendorRet>\n");
  std::string sales_order;
  ScanCustomerResponse(ctx, "<CustomerRet>\n<Name>C</Name>\n\n</CustomerRet>\r\n</CustomerRet>\nrest",
                       &sales_order);
  EXPECT_EQ(ctx.RowBuffer.Count(), 2u);
  EXPECT_EQ(ctx.RowBuffer.At(0), "C\t\t\t\t\t\t\t\t\t\t\t");
  EXPECT_EQ(ctx.RowBuffer.At(1), "V\t\t\t\t\tPerth WA AU\t\t\t");
  EXPECT_EQ(sales_order, "<CustomerRet>\r\n<Name>C</Name>\r\n\r\n</CustomerRet>\r\r\n</CustomerRet>\r\n");
}

// A processor may answer in UTF-8, XML's default, or in UTF-16 (by its
// byte-order mark): the devices get Windows-1252, and the characters it
// lacks become "?", counted in one line of the log per answer.
TEST_F(QbxmlExportTest, AnswersAreDecodedByTheirEncoding) {
  int answers = 0;
  for (std::string file : {"VendorQueryRq-utf8.xml", "VendorQueryRq-utf16.xml"}) {
    dir_.Write("company\\VendorQueryRq.xml", test::QuickBooksTestData("encodings/" + file));
    EXPECT_EQ(Export(), "");
    EXPECT_EQ(Table("Suppliers"), test::ExpectedTable("encodings/Suppliers.txt")) << file;
    std::string log = dir_.Read("Lumbra.log");
    int lines = 0;
    for (size_t at = 0; (at = log.find("VendorQueryRq answer: 2 characters", at)) != std::string::npos; ++at) {
      ++lines;
    }
    EXPECT_EQ(lines, ++answers) << file;
  }
  // An answer in an encoding that is not known is no answer.
  dir_.Write("company\\VendorQueryRq.xml", "<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?>\n");
  EXPECT_EQ(Export(), "encoding \"EBCDIC-US\" not known\n");
  EXPECT_EQ(Table("Suppliers"), test::ExpectedTable("encodings/Suppliers.txt"));  // as it was
}

TEST(QbxmlDecodeTest, ByteOrderMarkThenDeclarationThenUtf8) {
  struct Case {
    std::string in, out, encoding;
    size_t unmapped;
  } const cases[] = {
      {"<a>Caf\xC3\xA9 \xE2\x82\xAC</a>", "<a>Caf\xE9 \x80</a>", "UTF-8", 0},
      {"\xEF\xBB\xBF<?xml version='1.0' encoding='windows-1252'?>\xC3\xA9\xE9",
       "<?xml version='1.0' encoding='windows-1252'?>\xE9?", "UTF-8", 1},
      {"<?xml version=\"1.0\" encoding = \"Windows-1252\" ?>\n\xE9\x80", "", "Windows-1252", 0},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\x93q\x94", "", "ISO-8859-1", 0},
      {"<?xml version=\"1.0\" encoding=\"us-ascii\"?>\xE9", "<?xml version=\"1.0\" encoding=\"us-ascii\"?>?",
       "us-ascii", 1},
      // Says UTF-16, written in single bytes.
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\xC3\xA9", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\xE9",
       "UTF-8", 0},
      // Only the declaration names the encoding.
      {"<a encoding=\"latin1\">\xE9</a>", "<a encoding=\"latin1\">?</a>", "UTF-8", 1},
      {std::string("\xFF\xFE<\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\x00\xDC!\0\x01", 17), "<\xE9\x80?" "?!?",
       "UTF-16LE", 3},
      {std::string("\0<\0?\0x\x4E\x2D", 8), "<?x?", "UTF-16BE", 1},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    XmlDecoding how;
    ASSERT_TRUE(DecodeXmlDocument(&text, &how).ok()) << c.in;
    EXPECT_EQ(text, c.out.empty() ? c.in : c.out) << c.in;
    EXPECT_EQ(how.encoding, c.encoding) << c.in;
    EXPECT_EQ(how.unmapped, c.unmapped) << c.in;
  }
  std::string text = "<?xml version=\"1.0\" encoding=\"EBCDIC\"?>\xC1";
  XmlDecoding how;
  EXPECT_TRUE(DecodeXmlDocument(&text, &how).IsNotSupported());
  EXPECT_EQ(text, "<?xml version=\"1.0\" encoding=\"EBCDIC\"?>\xC1");
}

// A processor that records its calls and fails at one of them.
struct FakeProcessor : RequestProcessor {
  FakeProcessor(Lines* calls, std::string fail_at) : calls_(calls), fail_at_(std::move(fail_at)) {}
  Status OpenConnection(const std::string& id, const std::string& name) override {
    return Call("open " + id + "/" + name);
  }
  Status BeginSession(const std::string& file, int mode, std::string* ticket) override {
    *ticket = "T" + std::to_string(calls_->size());
    return Call("begin " + file + " " + std::to_string(mode));
  }
  Status ProcessRequest(const std::string& ticket, const std::string& request,
                        std::string* response) override {
    *response = "answer to " + request;
    return Call("process " + ticket + " " + request);
  }
  Status EndSession(const std::string& ticket) override { return Call("end " + ticket); }
  Status CloseConnection() override { return Call("close"); }
  std::string FailureDetail() const override { return "detail of " + fail_at_; }
  Status Call(const std::string& what) {
    calls_->push_back(what);
    return what.rfind(fail_at_, 0) == 0 ? Status::IOError(fail_at_ + " refused\r\n") : Status::OK();
  }
  Lines* calls_;
  std::string fail_at_;
};

TEST_F(QbxmlExportTest, RoundTripCallsInOrderAndStopsAtTheFirstFailure) {
  Lines calls;
  std::string fail_at = "none";
  int created = 0;
  RequestProcessorFactory fake = [&](std::unique_ptr<RequestProcessor>* p) {
    ++created;
    p->reset(new FakeProcessor(&calls, fail_at));
    return Status::OK();
  };
  EXPECT_EQ(QbxmlRoundTrip(ctx(), "Q1", fake), "answer to Q1");
  EXPECT_EQ(calls, (Lines{"open /Lumbra", "begin company 2", "process T1 Q1", "end T1", "close"}));

  for (std::string step : {"begin", "process"}) {
    calls.clear();
    fail_at = step;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QbxmlRoundTrip(ctx(), "Q2", fake), "");
    // The description alone, on one line.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), step + " refused\n");
    EXPECT_EQ(calls.back().substr(0, step.size()), step);  // nothing after the failure
  }
  EXPECT_EQ(created, 3);
  EXPECT_NE(dir_.Read("Lumbra.log").find("failed at process request, no answer taken: process "
                                         "refused (detail of process)"),
            std::string::npos);
}

// The command's first line of standard error describes its failure; a
// command that says nothing, or never answers, or answers too much, is "not
// available", and the log tells why.
TEST_F(QbxmlExportTest, ProcessorCommandFailures) {
  if (!test::ProcessorCommands()) GTEST_SKIP() << test::kNoProcessorCommands;
  const std::string kNotAvailable = std::string(kProcessorNotAvailable) + "\n";
  struct Case {
    const char* command;
    std::string err, logged;
    uint64_t silence_limit_ms = 60000;
  } const cases[] = {
      {"echo 'Company file in use' >&2; echo more >&2; exit 1", "Company file in use\n",
       "(exit status 1)"},
      {"cat >/dev/null; printf 'partial'; exit 3", kNotAvailable, "(exit status 3)"},
      {"no-such-processor-command", "not found", ""},
      {"sleep 20", kNotAvailable, "(no output for 200 ms, killed)", 200},
      {"yes", kNotAvailable, "(output larger than 4096 bytes, killed)"},
      {"", kNotAvailable, "failed at creating the request processor"},
  };
  options_.response_limit = 4096;
  for (const Case& c : cases) {
    options_.command_line = c.command;
    options_.silence_limit_ms = c.silence_limit_ms;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_), "") << c.command;
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err == c.err || (c.logged.empty() && err.find(c.err) != std::string::npos))
        << c.command << ": " << err;
    EXPECT_NE(dir_.Read("Lumbra.log").find(c.logged), std::string::npos) << c.logged;
  }

  // A slow answer is taken as long as it keeps coming: only silence counts.
  options_.command_line = "for i in 1 2 3 4 5; do echo \"<Line$i/>\"; sleep 0.3; done";
  options_.silence_limit_ms = 1200;
  EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_).size(), 45u);
}

// Whole passes of the program, the processor named by the environment as
// an administrator would set it.
TEST(QbxmlPassTest, FailingProcessorLeavesTheTablesOfEarlierPasses) {
  if (!test::ProcessorCommands()) GTEST_SKIP() << test::kNoProcessorCommands;
#ifndef _WIN32
  test::TempDir dir;
  dir.Write("Lumbra.ini", "appname=QuickBooks\xAE Premier (database)\r\npath=company\r\n");
  WriteCompany(dir);
  dir.MakeDir("2");
  const std::string pass = std::string(LUMBRA_BINARY) + " --dir " + dir.path() + " 2>" +
                           dir.Path("err.txt");
  ASSERT_EQ(test::RunShell("LUMBRA_QBXML_PROCESSOR='sh " + kAnswerScript + "' " + pass), 0);
  EXPECT_EQ(dir.Read("err.txt"), "");
  std::string stock = dir.Read("1\\StockItems.dat");
  EXPECT_EQ(DecodedTable(dir, "StockItems", "2").size(), 4u);
  EXPECT_EQ(DecodedTable(dir, "Customers", "2").size(), 3u);

  // QuickBooks refuses: one line each, the pass goes on; the tables stay
  // as the last pass wrote them, and "1\salesorder.txt" is left empty.
  ASSERT_EQ(test::RunShell("LUMBRA_QBXML_PROCESSOR='echo \"Could not open company\" >&2; exit 2' " +
                           pass),
            0);
  EXPECT_EQ(dir.Read("err.txt"),
            "Could not open company\nCould not open company\nCould not open company\n");
  EXPECT_EQ(dir.Read("1\\StockItems.dat"), stock);
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);
  EXPECT_EQ(DecodedTable(dir, "Suppliers", "2").size(), 3u);
  EXPECT_EQ(dir.Read("1\\salesorder.txt"), "");

  // No processor at all.
  ASSERT_EQ(test::RunShell("unset LUMBRA_QBXML_PROCESSOR; " + pass), 0);
  std::string line = std::string(kProcessorNotAvailable) + "\n";
  EXPECT_EQ(dir.Read("err.txt"), line + line + line);
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);

  // One that falls silent is given up after "qbxmltimeout=" seconds.
  dir.Write("Lumbra.ini",
            "appname=QuickBooks\xAE Premier (database)\r\npath=company\r\nqbxmltimeout=1\r\n");
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(test::RunShell("LUMBRA_QBXML_PROCESSOR='sleep 60' " + pass), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(dir.Read("Lumbra.log").find("(no output for 1 s, killed)"), std::string::npos);
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);
#endif
}

TEST_F(QbxmlExportTest, LargeResponseIsReadWhole) {
  if (!test::ProcessorCommands()) GTEST_SKIP() << test::kNoProcessorCommands;
  std::string items = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n"
                      "<ItemQueryRs requestID=\"2\" statusCode=\"0\">\n" +
                      test::Numbered("large/ItemInventoryRet.xml", 100000) +
                      "</ItemQueryRs>\n</QBXMLMsgsRs>\n</QBXML>\n";
  dir_.Write("company\\ItemQueryRq.xml", items);
  EXPECT_EQ(Export(), "");
  EXPECT_EQ(Table("StockItems").size(), 100001u);
}

}  // namespace
}  // namespace lumbra
