#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "backends/quickbooks/qbxml_export.h"
#include "backends/quickbooks/qbxml_round_trip.h"
#include "quickbooks_test_util.h"
#include "text/xml_encoding.h"

namespace lumbra {
namespace {

using test::DecodedTable;
using test::FieldOf;
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

// The export run on that company through the processor of the platform:
// the example command, or on Windows the fake COM component
// (tests/fakes), which answers from the same files and logs its calls.
class QbxmlExportTest : public ::testing::Test {
 protected:
  QbxmlExportTest()
      : run_(dir_),
        com_log_(test::kFakeComLog, dir_.Path("com.log")),
        com_fail_(test::kFakeProcessorFail, "") {
    dir_.MakeDir("1");
    WriteCompany(dir_);
    ctx().DataPath = dir_.Path("company");
    options_.command_line = "sh " + kAnswerScript;
  }
  RunContext& ctx() { return run_.ctx(); }
  Lines Table(const std::string& name) { return DecodedTable(dir_, name); }
  // Makes the processor fail: a command (POSIX), or the fake component's
  // failing step (Windows).
  void FailWith(const std::string& how) {
    if (test::ProcessorCommands()) {
      options_.command_line = how;
    } else {
      com_fail_.Set(how);
    }
  }
  // The fake component's calls, one a line, tab-separated.
  Lines ComCalls() { return SplitLines(dir_.Read("com.log")); }

  // Runs the export and returns what it wrote on standard error.
  std::string Export() {
    ::testing::internal::CaptureStderr();
    ExportQbxml(ctx(), options_);
    return ::testing::internal::GetCapturedStderr();
  }

  test::TempDir dir_;
  test::TestRun run_;
  QbxmlProcessorOptions options_;
  test::ScopedEnvVar com_log_, com_fail_;
};

TEST_F(QbxmlExportTest, WireResponsesBecomeTables) {
  // Around the example processor: keep each request and what the
  // environment told the command.
  options_.command_line =
      "n=$(ls req.* 2>/dev/null | wc -l); cat > req.$n; "
      "printf '%s|%s' \"$QBXML_COMPANY_FILE\" \"$QBXML_APP_NAME\" > env.$n; "
      "sh " + kAnswerScript + " < req.$n";
  EXPECT_EQ(Export(), "");

  // The requests exactly as written, no line break added, one round trip
  // each.
  const std::string requests[] = {std::string(kItemQueryRequest),
                                  std::string(kVendorQueryRequest),
                                  std::string(kInvoiceQueryRequest)};
  if (test::ProcessorCommands()) {
    for (int n = 0; n < 3; ++n) EXPECT_EQ(dir_.Read("req." + std::to_string(n)), requests[n]);
    EXPECT_FALSE(dir_.Exists("req.3"));
    EXPECT_EQ(dir_.Read("env.0"), ctx().DataPath + "|Lumbra");
  } else {
    // A new object each time, with its own session; the fake refuses a
    // ticket that did not come back as it gave it.
    Lines calls = ComCalls();
    ASSERT_EQ(calls.size(), 21u);
    std::set<std::string> tickets;
    for (int n = 0; n < 3; ++n) {
      Lines trip(calls.begin() + 7 * n, calls.begin() + 7 * n + 7);
      std::string ticket = FieldOf(trip[3], 2);
      tickets.insert(ticket);
      EXPECT_EQ(trip, (Lines{"Create\tRequestProcessor", "OpenConnection\t\tLumbra",
                             "BeginSession\t" + ctx().DataPath + "\t2",
                             "ProcessRequest\t" + ticket + "\t" + requests[n],
                             "EndSession\t" + ticket, "CloseConnection",
                             "Release\tRequestProcessor"}));
    }
    EXPECT_EQ(tickets.size(), 3u);
  }

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
  if (!test::ProcessorCommands()) GTEST_SKIP() << "the COM component answers in UTF-16 text, not bytes";
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
  EXPECT_EQ(calls, (Lines{"open /Lumbra", "begin " + ctx().DataPath + " 2", "process T1 Q1",
                          "end T1", "close"}));

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

// A failure's description is the one line shown. A command's is its first
// line of standard error; a command that says nothing, or never answers, or
// answers too much, is "not available", and the log tells why. The COM
// component's is its error information, or else the system's text for its
// error code, which the log names; nothing after the failing call is tried.
TEST_F(QbxmlExportTest, ProcessorFailures) {
  const std::string kNotAvailable = std::string(kProcessorNotAvailable) + "\n";
  struct Case {
    // err: the exact text when it ends with a line feed, else what its one
    // line holds ("": anything).
    std::string how, err, logged;
    uint64_t silence_limit_ms = 60000;
  };
  const std::vector<Case> cases =
      test::ProcessorCommands()
          ? std::vector<Case>{
                {"echo 'Company file in use' >&2; echo more >&2; exit 1", "Company file in use\n",
                 "(exit status 1)"},
                {"cat >/dev/null; printf 'partial'; exit 3", kNotAvailable, "(exit status 3)"},
                {"no-such-processor-command", "not found", ""},
                {"sleep 20", kNotAvailable, "(no output for 200 ms, killed)", 200},
                {"yes", kNotAvailable, "(output larger than 4096 bytes, killed)"},
                {"", kNotAvailable, "failed at creating the request processor"}}
          : std::vector<Case>{
                {"BeginSession:Could not open company", "Could not open company\n",
                 "failed at begin session, no answer taken: Could not open company "
                 "(HRESULT 0x80040408)"},
                {"ProcessRequest", "", "(HRESULT 0x80070005)"},
                {"OpenConnection:QuickBooks is not running", "QuickBooks is not running\n",
                 "failed at open connection"},
                {"CloseConnection:busy", "busy\n", "failed at close connection"},
                {"Create", "", "failed at creating the request processor"},
                // Last: the call that never returns holds the pass's COM thread.
                {"BeginSession:hang", "QuickBooks did not answer within 200 ms\n",
                 "failed at begin session, no answer taken: QuickBooks did not answer within "
                 "200 ms (the call has not returned)",
                 200}};
  options_.response_limit = 4096;
  for (const Case& c : cases) {
    FailWith(c.how);
    options_.silence_limit_ms = c.silence_limit_ms;
    dir_.Write("com.log", "");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_), "") << c.how;
    std::string err = ::testing::internal::GetCapturedStderr();
    if (c.err.ends_with("\n")) {
      EXPECT_EQ(err, c.err) << c.how;
    } else {
      EXPECT_TRUE(err.size() > 1 && err.find('\n') == err.size() - 1) << c.how << ": " << err;
      EXPECT_NE(err.find(c.err), std::string::npos) << c.how << ": " << err;
    }
    EXPECT_NE(dir_.Read("Lumbra.log").find(c.logged), std::string::npos) << c.logged;
    if (!test::ProcessorCommands() && c.how != "Create") {
      // The failing call is the last one before the object is let go; one
      // still inside a call is left alone.
      Lines calls = ComCalls();
      const bool held = c.how.ends_with(":hang");
      ASSERT_GE(calls.size(), 2u);
      EXPECT_EQ(FieldOf(calls[calls.size() - (held ? 1 : 2)], 1), c.how.substr(0, c.how.find(':')));
      if (!held) {
        EXPECT_EQ(calls.back(), "Release\tRequestProcessor");
      }
    }
  }
  // Every later exchange of the pass fails at once, without a call.
  if (!test::ProcessorCommands()) {
    FailWith("");
    dir_.Write("com.log", "");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "QuickBooks did not answer an earlier call within 200 ms, and is not called again\n");
    EXPECT_EQ(dir_.Read("com.log"), "");
  }

  // A slow answer is taken as long as it keeps coming: only silence counts.
  if (test::ProcessorCommands()) {
    options_.command_line = "for i in 1 2 3 4 5; do echo \"<Line$i/>\"; sleep 0.3; done";
    options_.silence_limit_ms = 1200;
    EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_).size(), 45u);
  }
}

// The component's answer is converted to Windows-1252; what that cannot
// hold becomes "?", and the log says so once.
TEST_F(QbxmlExportTest, ComAnswerOutsideWindows1252) {
  if (test::ProcessorCommands()) GTEST_SKIP() << "only the COM component answers in UTF-16";
  dir_.Write("company\\ItemQueryRq.xml",
             "\xEF\xBB\xBF<ItemInventoryRet>\n<Name>Caf\xC3\xA9 \xCE\xA9\xE2\x82\xAC</Name>\n"
             "</ItemInventoryRet>\n");
  EXPECT_EQ(QbxmlRoundTrip(ctx(), std::string(kItemQueryRequest), options_),
            "<ItemInventoryRet>\n<Name>Caf\xE9 ?\x80</Name>\n</ItemInventoryRet>\n");
  std::string log = dir_.Read("Lumbra.log");
  EXPECT_NE(log.find("answered: 122 bytes (UTF-16LE)"), std::string::npos) << log;
  EXPECT_NE(log.find("answer: 1 characters that Windows-1252 cannot hold written as \"?\""),
            std::string::npos) << log;
}

// Whole passes of the program, the processor named by the environment as
// an administrator would set it (on Windows: the fake component, told how
// to fail).
TEST(QbxmlPassTest, FailingProcessorLeavesTheTablesOfEarlierPasses) {
  test::TempDir dir;
  dir.Write("Lumbra.ini", "appname=QuickBooks\xAE Premier (database)\r\npath=" +
                              dir.Path("company") + "\r\n");
  WriteCompany(dir);
  dir.MakeDir("2");
  auto pass = [&](const std::string& command, const std::string& com_failure) {
    CommandSpec run = test::Lumbra({"--dir", dir.path(), "--no-dialogs"});
    run.environment = {{kProcessorCommandVariable, command},
                       {test::kFakeProcessorFail, com_failure}};
    std::string err;
    size_t logged = dir.Read("Lumbra.log").size();
    EXPECT_EQ(test::RunProgram(run, nullptr, &err), 0) << dir.Read("Lumbra.log").substr(logged);
    return std::make_pair(err, dir.Read("Lumbra.log").substr(logged));
  };
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(pass("sh " + kAnswerScript, "").first, "");
  std::string stock = dir.Read("1\\StockItems.dat");
  EXPECT_EQ(DecodedTable(dir, "StockItems", "2").size(), 4u);
  EXPECT_EQ(DecodedTable(dir, "Customers", "2").size(), 3u);

  // QuickBooks refuses: one line each, the pass goes on; the tables stay
  // as the last pass wrote them, and "1\salesorder.txt" is left empty.
  auto [err, log] = pass("echo \"Could not open company\" >&2; exit 2",
                         "BeginSession:Could not open company");
  EXPECT_EQ(err, "Could not open company");
  EXPECT_EQ(count(log, "no answer taken: Could not open company"), 3u);
  EXPECT_EQ(dir.Read("1\\StockItems.dat"), stock);
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);
  EXPECT_EQ(DecodedTable(dir, "Suppliers", "2").size(), 3u);
  EXPECT_EQ(dir.Read("1\\salesorder.txt"), "");

  // No processor at all.
  std::tie(err, log) = pass("", "Create");
  if (test::ProcessorCommands()) {
    EXPECT_EQ(err, kProcessorNotAvailable);
  }
  EXPECT_EQ(count(log, "failed at creating the request processor"), 3u);
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);

  // One that falls silent is given up after "qbxmltimeout=" seconds. The
  // COM component that never answers (for a minute here) is not called
  // again in the pass, and the program does not wait for it at its end.
  dir.Write("Lumbra.ini", "appname=QuickBooks\xAE Premier (database)\r\npath=" +
                              dir.Path("company") + "\r\nqbxmltimeout=1\r\n");
  auto start = std::chrono::steady_clock::now();
  std::tie(err, log) = pass("sleep 60", "OpenConnection:hang");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  if (test::ProcessorCommands()) {
    EXPECT_NE(log.find("(no output for 1 s, killed)"), std::string::npos) << log;
  } else {
    EXPECT_NE(log.find("failed at open connection, no answer taken: QuickBooks did not answer "
                       "within 1 s"),
              std::string::npos) << log;
    EXPECT_EQ(count(log, "QuickBooks did not answer an earlier call within 1 s"), 2u) << log;
    EXPECT_NE(log.find("the program ends without waiting for it"), std::string::npos) << log;
  }
  EXPECT_EQ(dir.Read("2\\StockItems.dat"), stock);
}

TEST_F(QbxmlExportTest, LargeResponseIsReadWhole) {
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
