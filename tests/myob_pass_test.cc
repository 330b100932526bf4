// Whole passes over MYOB text-file installations in temporary folders: the
// devices hand in sales, time records, a customer change and mail; the pass
// writes MYOB import files and turns MYOB's export files into the device
// tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "run/lines.h"
#include "run/run_driver.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

// Fields joined by tabs.
std::string Join(std::initializer_list<std::string_view> fields) {
  std::string out;
  for (std::string_view f : fields) (out += f) += '\t';
  if (!out.empty()) out.pop_back();
  return out;
}

// n empty fields, as one element of Join.
std::string E(int n) { return std::string(n - 1, '\t'); }

// Lines ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) AppendLine(&out, line);
  return out;
}

// A device table row: the values, then empty fields up to `fields` in all,
// each field followed by a tab.
std::string Row(std::vector<std::string> values, size_t fields) {
  values.resize(fields);
  std::string out;
  for (const std::string& v : values) out += v + "\t";
  return out;
}

// `count` fields joined by tabs, empty but for those set.
std::string Columns(size_t count, const std::map<int, std::string>& set) {
  std::vector<std::string> fields(count);
  for (const auto& [column, value] : set) fields[column] = value;
  std::string out = Row(fields, count);
  out.pop_back();
  return out;
}

// Stands the clock still at 5 December 2026, 14:30:15 (or another minute).
// Forcing files to the disk matters only when the machine stops, which no
// test here makes happen, so it is skipped unless asked for; it would cost
// most of the time of the many small passes.
class ClockEnv : public EnvWrapper {
 public:
  explicit ClockEnv(int minute = 30, bool sync = false)
      : EnvWrapper(Env::Default()), minute_(minute), sync_(sync) {}
  LocalTime Now() override { return {2026, 12, 5, 14, minute_, 15}; }
  Status SyncFile(const std::string& p) override {
    return sync_ ? EnvWrapper::SyncFile(p) : Status::OK();
  }

 private:
  int minute_;
  bool sync_;
};

// ---------------------------------------------------------------------------
// The installation: MYOB's export files as MYOB writes them, two address
// blocks that repeat their continuation titles (indented), "*None" for
// absent values, empty lines.

const std::string kAddressTitles =
    "  - Line 2\t  - Line 3\t  - Line 4\t  - City\t  - State\t  - Postcode\t  - Phone  No. 1\t"
    "  - Phone  No. 2\t  - Fax  No.\t  - Email\t  - Contact Name";
const std::string kCustTitles =
    "Co./Last Name\tFirst Name\tCard ID\tCard Status\tAddr 1 - Line 1\t" + kAddressTitles +
    "\tAddr 2 - Line 1\t" + kAddressTitles + "\tNotes";

const std::string kCust = Lines(
    {kCustTitles,
     Columns(29, {{0, "Bayside Hardware"}, {2, "CUS001"}, {3, "N"}, {4, "12 Harbour Rd"},
                  {6, "Port Melville"}, {7, "not part of the address"}, {8, "Port Melville"},
                  {11, "03 5550 1234"}, {12, "0412 555 001"}, {13, "03 5550 1235"},
                  {14, "orders@bayside.example"}, {15, "Jim Roberts"}, {16, "PO Box 7"},
                  {23, "03 5550 9999"}, {27, "*None"}, {28, "Pays on the 20th"}}),
     "",
     Columns(29, {{0, "Caf\xE9 Lumi\xE8re"}, {2, "CUS002"}, {3, "N"}, {4, "3 Rue Street"},
                  {11, "*None"}, {13, "*None"}, {14, "hello@lumiere.example"},
                  {23, "03 5550 2000"}, {27, "Am\xE9lie Dubois"}, {28, "\"Deliver, before 7am\""}}),
     "",
     Columns(29, {{0, "O'Brien Plumbing"}, {1, "Sean"}, {2, "*None"}, {3, "N"},
                  {4, " 44 Pipe Lane "}, {5, "Unit 2"}, {8, "Geelong"}, {11, "03 5550 3000"},
                  {12, "0433 555 003"}, {13, "*None"}, {14, "sean@obrien.example"},
                  {15, "Sean O'Brien"}})});

// 28 titles; field 27 is the tax code of a sale, field 15 stands in for the
// shorter file of Business Basics.
const std::string kItemTitles =
    "Item Number\tItem Name\tBuy\tSell\tInventory\tAsset Acct\tIncome Acct\tExpense/COS Acct\t"
    "Item Picture\tDescription\tUse Desc. On Invoice\tCustom List 1\tCustom List 2\t"
    "Custom List 3\tCustom Field 1\tCustom Field 2\tCustom Field 3\tPrimary Supplier\t"
    "Supplier Item Number\tTax Code When Bought\tBuy Unit Measure\tNo. Items/Buy Unit\t"
    "Reorder Quantity\tMinimum Level\tSelling Price\tSell Unit Measure\tTax Code When Sold\t"
    "Inclusive";

std::string ItemLine(const std::string& number, const std::string& name, const std::string& price,
                     const std::string& unit, const std::string& description,
                     const std::string& supplier, const std::string& tax_code) {
  return Columns(28, {{0, number}, {1, name}, {2, "B"}, {3, "S"}, {4, "I"}, {9, description},
                      {14, tax_code}, {17, supplier}, {19, "GST"}, {24, price}, {25, unit},
                      {26, tax_code}});
}

const std::string kItems = Lines(
    {kItemTitles,
     ItemLine("HW-100", "Hammer", "$20.00", "each", "Claw hammer", "Tool Supplies Pty", "S"),
     ItemLine("FD-001", "Bread", "$2.50", "loaf", "Fresh daily", "Bakers Wholesale", "FRE"),
     // The same name again: the first item of a name is the one sold.
     ItemLine("HX-100", "Hammer", "$18.00", "each", "Spare hammer", "Tool Supplies Pty", "N-T")});

void WriteInstallation(const test::TempDir& dir, std::string_view backend) {
  dir.Write("Lumbra.ini", "appname=" + std::string(backend) + "\r\npath=myob\\\r\n");
  dir.Write("devicenames.xml", "North van\t2\r\nSpare\t3\r\nVan 5 (S/E)\t5\r\n");
  dir.Write("Myob1.dat", test::Coded({"Freighttype", "Courier", "Post"}));
  dir.Write("Myob2.dat", test::Coded({"Paymenttype\t", "Cash\t", "Account\t"}));
  dir.MakeDir("3");
  dir.Write("myob\\CUST.TXT", kCust);
  dir.Write("myob\\ITEM.TXT", kItems);
  dir.Write("myob\\NONCONTAXCODE.TXT",
            Lines({"Tax Code\tDescription\tTax Type\tRate", "GST\tGoods and Services Tax\tGST\t15",
                   "S\tStandard\tGST\t12.5", "FRE\tGST Free\tGST\t0"}));
  dir.Write("myob\\ACTIVITY.TXT",
            Lines({"Activity ID\tActivity Name\tDescription\tUse Desc. On Invoice\tActivity Type\t"
                   "Activity Rate\tUnit of Measure",
                   "INST\tInstallation\tOn-site installation\t\tH\t$65.00\tHour",
                   "CALL\tCall-out\tCall-out fee\t\tH\t$45.00\tHour"}));
  dir.Write("myob\\SUPPLIERS.TXT",
            Lines({"Co./Last Name\tFirst Name\tCard ID\tCard Status\tAddr 1 - Line 1\t- Line 2\t"
                   "- Line 3\t- Line 4\t- Phone  No. 1\t- Phone  No. 2\t- Fax  No.\t- Email\t"
                   "- Contact Name\tNotes",
                   "Tool Supplies Pty\t\tSUP001\tN\t9 Forge St\tDandenong\t\t\t03 5550 9000\t\t"
                   "03 5550 9001\tsales@tools.example\tMaria Chen\tNet 30"}));
  dir.Write("myob\\JOBS.TXT",
            Lines({"Job Number\tJob Name\tHeader\tDescription\tStart Date\tFinish Date\t"
                   "Linked Customer\tManager",
                   "J100\tBayside shelving\t\tFit shelving\t1/12/2026\t20/12/2026\tBayside "
                   "Hardware\tJim"}));
  dir.Write("myob\\EMPLOY.TXT", Lines({"Co./Last Name\tFirst Name\tCard ID", "Nguyen\tLinh\tEMP001",
                                       "Walker\tTom\tEMP002"}));
  dir.Write("myob\\ACCOUNTS.TXT",
            Lines({"Account Number\tAccount Name\tHeader\tBalance", "4-0000\tIncome\tH\t$0.00",
                   "4-1000\tSales\t\t$12,000.00", "4-2000\tInstallation income\tD\t$3,400.00",
                   "1-1310\tInventory\t\t$5,000.00"}));
}

// Device 2's hand-in: two orders of one customer, an order of an item MYOB
// does not know, a service sale of two lines, time slips with and without a
// known activity, a new customer (which MYOB's import ignores), mail.
const std::string kHammerLine =
    "20261204abcdInvoiceLines\tCustomer\tBayside Hardware\tOrdnum\tPO-1\tItem\tHammer\tQty\t2\t"
    "Sell1\t$20.00\tExtend\t$40.00\tNote\tBack door && gate && shed\tFreight method\tCourier\t"
    "Paymenttype\tAccount";
const std::string kServiceLine =
    "20261204abcdInvoiceLines\tCustomer\tO'Brien Plumbing\tOrdnum\tS-1\tAccount Number\t4-2000\t"
    "Note\tFit tap washers\tExtend\t$120.00";
const std::string kSlipLine =
    "20261204abcdJobs\tEmployee\tNguyen\tCustomer\tBayside Hardware\tActivity\tInstallation\tQty\t"
    "1.5\tHourlyrate\t65.00\tJobno\tJ100\tNote\tShelving\tStart\t08:30\tFinish\t10:00";
const std::string kMailLine = "20261204abcdMail\tMSG-7\tOffice\tRead";

const std::string kDevice2 = Lines(
    {kHammerLine,
     "20261204abcdInvoiceLines\tCustomer\tBayside Hardware\tOrdnum\tPO-1\tItem\tBread\tQty\t3\t"
     "Sell1\t$2.50\tDiscount\t10\tExtend\t0\tPromised\t06/12/2026",
     kMailLine,
     "20261204abcdInvoiceLines\tCustomer\tBayside Hardware\tOrdnum\tPO-2\tItem\tHammer\tQty\t1\t"
     "Sell1\t1\tExtend\t$1.00\tJobno\tJ100",
     // A job record without an employee or an account is an item sale.
     "20261204abcdJobs\tCustomer\tBayside Hardware\tOrdnum\tPO-2\tJobno\tJ100\tNote\tSite visit\t"
     "Extend\t4",
     "20261204abcdCustomers\tName\tNew Shop\tPhone\t555",
     "20261205abcdInvoiceLines\tCustomer\tCaf\xE9 Lumi\xE8re\tOrdnum\tC-1\tItem\tMallet\tQty\t3\t"
     "Sell1\t1\tPaymenttype\tCash\tAmountpaid\t3.38",
     kServiceLine,
     "20261204abcdInvoiceLines\tCustomer\tO'Brien Plumbing\tOrdnum\tS-1\tAccount Number\t4-2000\t"
     "Note\tCall-out\tExtend\t40\tPaymenttype\tCheque",
     kSlipLine,
     "20261204abcdJobs\tEmployee\tWalker\tCustomer\tCaf\xE9 "
     "Lumi\xE8re\tActivity\tPainting\tQty\t2\t"
     "Sell1\t$30",
     "\tstray line without a date or type", "20261204abcdMailRead\tMSG-8\tOffice\tDone",
     "20261204abcdMail\tMSG-99\tNobody\tRead"});

const std::string kMessages =
    Lines({"1\tMSG-7\tOffice\t2026-12-03\tStock take\tPlease count bins\t\t\t\tN",
           "2\tMSG-8\tOffice\t2026-12-04\tXmas hours\tClosed 25-26\t\t\t\tN"});

const std::string kDevice5 = Lines(
    {"20261204abcdInvoiceLines\tCustomer\tBayside Hardware\tOrdnum\tPO-9\tItem\tHammer\tQty\t1\t"
     "Sell1\t$20.00\tExtend\t$20.00"});

// MYOB's import titles, letter for letter.
const std::string kSaleStart =
    "Co./Last Name\tFirst Name\tAddr 1 - Line 1\t- Line 2\t- Line 3\t- Line 4\tInvoice  No.\tDate\t"
    "Customer PO\tShip Via";
const std::string kLongMiddle =
    "Job\tComment\tJournal Memo\tSalesperson Last Name\tSalesperson First Name\tShipping Date\t"
    "GST Code\tGST Amount\tFreight Amount\tFreight GST Code\tFreight GST Amount\tSale Status";
const std::string kLongEnd =
    "Terms - Payment is Due\t- Discount Days\t- Balance Due Days\t- % Discount\t"
    "- % Monthly Charge\tReferral Source\tAmount Paid\tPayment Method\tPayment Notes\t"
    "Name on Card\tCard Number\tExpiry Date\tAuthorisation Code\tCheque Number\tInclusive\t"
    "Category";
const std::string kLongItemHeader =
    Join({kSaleStart, "Delivery Status", "Item Number", "Quantity", "Description", "Price",
          "Inc-GST Price", "Discount", "Total", "Inc-GST Total", kLongMiddle, kLongEnd});
const std::string kLongServiceHeader =
    Join({kSaleStart, "Delivery Status", "Description", "Account  No.", "Amount", "Inc-GST Amount",
          kLongMiddle, kLongEnd});
const std::string kShortMiddle =
    "Job\tComment\tJournal Memo\tPromised Date\tGST Code\tGST Amount\tFreight Amount\t"
    "Freight GST Code\tFreight GST Amount\tSale Status\tTerms - Payment is Due\t"
    "- Balance Due Days\tAmount Paid\tPayment Method\tPayment Notes\tName on Card\tCard Number\t"
    "Expiry Date\tAuthorisation Code\tCheque Number\tInclusive";
const std::string kShortItemHeader = Join({kSaleStart, "Already Printed", "Item Number", "Quantity",
                                           "Description", "Price", "Total", kShortMiddle});
const std::string kShortServiceHeader =
    Join({kSaleStart, "Already Printed", "Description", "Account  No.", "Amount", kShortMiddle});
const std::string kSlipHeader =
    "Emp. Co./Last Name\tEmp. First Name\tSlip ID\tDate\tActivity ID\tCust. Co./Last Name\t"
    "Cust. First Name\tUnits\tRate\tJob\tNotes\tAdjustment Dollars\tAdjustment Units\t"
    "Already Billed Dollars\tAlready Billed Units\tStart Time\tStop Time";

// The rows of the hand-in's sales and slips, long layout without currency.
// Only the first "&&" of a value becomes "&".
const std::string kHammerRow =
    Join({"Bayside Hardware", E(6), "04/12/2026", "PO-1", "Courier", "", "HW-100", "2", "Hammer",
          "20.00", "22.50", "", "40.00", "45.00", "", "", "Back door & gate && shed", "", "", "",
          "S", "5.00", E(4), E(6), "", "Account"});
const std::string kServiceRow =
    Join({"O'Brien Plumbing", E(6), "04/12/2026", "S-1", "", "", "Fit tap washers", "4-2000",
          "$120.00", "135.00", "", E(5), "S", "15.00", E(4), E(6), "", "Other"});
const std::string kSlipRow =
    Join({"Nguyen", "", "", "04/12/2026", "INST", "Bayside Hardware", "", "1.5", "65.00", "J100",
          "Shelving", E(4), "08:30:00", "10:00:00"});

std::vector<std::string> FilesIn(const test::TempDir& dir, std::string_view folder) {
  std::vector<DirEntry> entries;
  Env::Default()->ListDir(dir.Path(folder), &entries);
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

void Pass(const test::TempDir& dir, Env* env) {
  test::TestRun run(dir, env);
  RunPass(run.ctx());
}

TEST(MyobPass, SalesSlipsAndMailBecomeImportFilesAndTheExportReachesEveryDevice) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Accounting Plus v15 (text files)");
  dir.Write("2\\transact.xml", kDevice2);
  dir.Write("2\\messages.txt", kMessages);
  dir.Write("5\\transact.xml", kDevice5);
  ClockEnv clock;
  Pass(dir, &clock);

  // What the devices handed in is gone from their folders and archived.
  for (const char* d : {"2", "5"}) {
    for (const char* f : {"\\transact.xml", "\\transact.xml.taken", "\\transact.xml.intake"}) {
      EXPECT_FALSE(dir.Exists(std::string(d) + f)) << d << f;
    }
  }
  EXPECT_EQ(dir.Read("Archive\\20261205\\2-143015-transact.xml"), kDevice2);
  EXPECT_EQ(dir.Read("Archive\\20261205\\5-143015-transact.xml"), kDevice5);
  EXPECT_EQ(dir.Read("tempdb.dat"), kDevice5);  // the last device staged

  // Mail: logged as written, applied to the message list.
  EXPECT_EQ(dir.Read("2\\mailX.txt"), Lines({kMailLine, "20261204abcdMailRead\tMSG-8\tOffice\tDone",
                                             "20261204abcdMail\tMSG-99\tNobody\tRead"}));
  EXPECT_EQ(dir.Read("2\\messages.txt"),
            Lines({"1\tMSG-7\tOffice\t2026-12-03\tStock take\tPlease count bins\t\t\tRead\tN",
                   "2\tMSG-8\tOffice\t2026-12-04\tXmas hours\tClosed 25-26\t\t\tDone\tN"}));

  // The import files. The rate is 12.5 %; GST ties go to the even cent
  // (1.125 to 1.12, 3.375 to 3.38); an item of a non-standard tax code has
  // no GST; an empty line separates sales.
  EXPECT_EQ(dir.Read("myob\\TamselITEMSALE202612051430North van.TXT"),
            Lines({kLongItemHeader, kHammerRow,
                   Join({"Bayside Hardware", E(6), "04/12/2026", "PO-1", "", "", "FD-001", "3",
                         "Bread", "2.50", "2.50", "10", "6.75", "6.75", "", "", "", "", "",
                         "06/12/2026", "FRE", "0.00", E(4), E(6), "", ""}),
                   "",
                   Join({"Bayside Hardware", E(6), "04/12/2026", "PO-2", "", "", "HW-100", "1",
                         "Hammer", "1", "1.12", "", "1.00", "1.12", "J100", "", "", "", "", "",
                         "S", "0.12", E(4), E(6), "", ""}),
                   Join({"Bayside Hardware", E(6), "04/12/2026", "PO-2", "", "", "", "", "", "",
                         "0.00", "", "4", "4.50", "J100", "", "Site visit", "", "", "", "S", "0.50",
                         E(4), E(6), "", ""}),
                   "",
                   Join({"Caf\xE9 Lumi\xE8re", E(6), "05/12/2026", "C-1", "", "", "", "3",
                         "Mallet", "1", "1.12", "", "3.00", "3.38", "", "", "", "", "", "", "S",
                         "0.38", E(4), E(6), "3.38", "Cash"})}));
  EXPECT_EQ(
      dir.Read("myob\\TamselSERVSALE202612051430North van.TXT"),
      Lines({kLongServiceHeader, kServiceRow,
             Join({"O'Brien Plumbing", E(6), "04/12/2026", "S-1", "", "", "Call-out", "4-2000",
                   "40", "45.00", "", E(5), "S", "5.00", E(4), E(6), "", "Cheque"})}));
  EXPECT_EQ(dir.Read("myob\\TamselSLIPS202612051430North van.TXT"),
            Lines({kSlipHeader, kSlipRow,
                   Join({"Walker", "", "", "04/12/2026", "", "Caf\xE9 Lumi\xE8re", "", "2", "30",
                         "", "", E(4), "00:00:00", "00:00:00"})}));
  // Device 5 sold items only; its name is made safe for a file name.
  EXPECT_EQ(dir.Read("myob\\TamselITEMSALE202612051430Van 5 (S_E).TXT"),
            Lines({kLongItemHeader, Join({"Bayside Hardware", E(6), "04/12/2026", "PO-9", "", "",
                                          "HW-100", "1", "Hammer", "20.00", "22.50", "", "20.00",
                                          "22.50", "", "", "", "", "", "", "S", "2.50", E(4), E(6),
                                          "", ""})}));
  const std::vector<std::string> myob_files = {
      "ACCOUNTS.TXT", "ACTIVITY.TXT", "CUST.TXT", "EMPLOY.TXT", "ITEM.TXT", "JOBS.TXT",
      "NONCONTAXCODE.TXT", "SUPPLIERS.TXT", "TamselITEMSALE202612051430North van.TXT",
      "TamselITEMSALE202612051430Van 5 (S_E).TXT", "TamselSERVSALE202612051430North van.TXT",
      "TamselSLIPS202612051430North van.TXT"};
  EXPECT_EQ(FilesIn(dir, "myob"), myob_files);

  // The device tables: chosen by title, rows of H + 1 fields.
  const std::map<std::string, std::string> tables = {
      {"Customers",
       test::Coded({"Name\tAccount\tContact1\tAddress Delivery\tPhone\tFax\tMobile\tEmail\tNotes",
                    Row({"", "", "", "  "}, 30),  // the empty lines, once
                    Row({"Bayside Hardware", "CUS001", "Jim Roberts",
                         "12 Harbour Rd  Port Melville", "03 5550 1234", "03 5550 1235",
                         "0412 555 001", "orders@bayside.example", "Pays on the 20th"}, 30),
                    Row({"Caf\xE9 Lumi\xE8re", "CUS002", "Am\xE9lie Dubois", "3 Rue Street  ",
                         "03 5550 2000", "", "", "hello@lumiere.example", "Deliver, before 7am"},
                        30),
                    Row({"O'Brien Plumbing", "", "Sean O'Brien", "44 Pipe Lane Unit 2 ",
                         "03 5550 3000", "", "0433 555 003", "sean@obrien.example"}, 30)})},
      {"StockItems",
       test::Coded({"Code\tDesc\tSell1\tUnit\tNotes\tSupplier",
            Row({"FD-001", "Bread", "$2.50", "loaf", "Fresh daily", "Bakers Wholesale"}, 29),
            Row({"HW-100", "Hammer", "$20.00", "each", "Claw hammer", "Tool Supplies Pty"}, 29),
            Row({"HX-100", "Hammer", "$18.00", "each", "Spare hammer", "Tool Supplies Pty"}, 29)})},
      {"Suppliers",
       test::Coded({"Name\tAccount\tAddr1\tContact1\tPhone\tFax\tMobile\tEmail\tNotes",
                    Row({"Tool Supplies Pty", "SUP001", "9 Forge St Dandenong ", "Maria Chen",
                         "03 5550 9000", "03 5550 9001", "", "sales@tools.example", "Net 30"},
                        15)})},
      {"Activity",
       test::Coded({"Code\tDescription\tHourlyrate", Row({"CALL", "Call-out", "$45.00"}, 8),
                    Row({"INST", "Installation", "$65.00"}, 8)})},
      {"Jobs",
       test::Coded({"Jobno\tName\tStart\tFinish\tCustomer",
            Row({"J100", "Bayside shelving", "1/12/2026", "20/12/2026", "Bayside Hardware"}, 9)})},
      {"Employee", test::Coded({"Employee\t", Row({"Nguyen"}, 4), Row({"Walker"}, 4)})},
      {"Accounts", test::Coded({"Account Number\tAccount Name", Row({"4-1000", "Sales", ""}, 5),
                                Row({"4-2000", "Installation income", "D"}, 5)})},
      {"InvoiceHeader", test::Coded({"Invnum\tCustomer"})},
      {"InvoiceLines",
       test::Coded({"Invnum\tCustomer\tAccount Number\tItem\tDescription\tQty\tSell1\tOrdnum\t"
                    "Invdate\tDiscount\tExtend\tNote\tPromised\tJobno\tAddress Delivery\t"
                    "Freight method\tPaymenttype\tAmountpaid"})},
      {"Freight", test::Coded({"Freighttype", "Courier", "Post"})},
      {"PaymentType", test::Coded({"Paymenttype\t", "Cash\t", "Account\t"})},
  };
  for (const auto& [table, bytes] : tables) {
    for (const char* folder : {"1", "2", "3", "5"}) {
      EXPECT_EQ(dir.Read(std::string(folder) + "\\" + table + ".dat"), bytes) << folder << table;
    }
  }
  EXPECT_NE(dir.Read("Lumbra.log").find("1\\Customers.dat written"), std::string::npos);

  // A later pass with nothing handed in writes no import file.
  ClockEnv later(31);
  Pass(dir, &later);
  EXPECT_EQ(FilesIn(dir, "myob"), myob_files);
}

TEST(MyobPass, BusinessBasicsWritesTheShortLayout) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Business Basics v1 (text files)");
  dir.Write("2\\transact.xml",
            Lines({"20261204abcdInvoiceLines\tCustomer\tBayside Hardware\tOrdnum\tPO-1\tItem\t"
                   "Bread\tQty\t3\tSell1\t$2.50\tDiscount\t10\tPromised\t06/12/2026",
                   kServiceLine, kSlipLine}));
  ClockEnv clock;
  Pass(dir, &clock);
  // The short layout charges GST whatever the item's tax code.
  EXPECT_EQ(dir.Read("myob\\TamselITEMSALE202612051430North van.TXT"),
            Lines({kShortItemHeader, Join({"Bayside Hardware", E(6), "04/12/2026", "PO-1", "", "",
                                           "FD-001", "3", "Bread", "2.50", "6.75", "", "", "",
                                           "06/12/2026", "FRE", "0.84", E(4), E(2), "", ""})}));
  EXPECT_EQ(dir.Read("myob\\TamselSERVSALE202612051430North van.TXT"),
            Lines({kShortServiceHeader, Join({"O'Brien Plumbing", E(6), "04/12/2026", "S-1", "", "",
                                              "Fit tap washers", "4-2000", "$120.00", "", "", "",
                                              "", "S", "15.00", E(4), E(2), "", "Other"})}));
  EXPECT_EQ(dir.Read("myob\\TamselSLIPS202612051430North van.TXT"), Lines({kSlipHeader, kSlipRow}));
}

TEST(MyobPass, RecordsWaitWhileTheDataFolderIsMissing) {
  test::TempDir dir;
  dir.Write("Lumbra.ini", "appname=MYOB\xAE Accounting v15 (text files)\r\npath=myob\\\r\n");
  dir.Write("devicenames.xml", "North van\t2\r\n");
  const std::string hand_in = Lines({kMailLine, kServiceLine});
  dir.Write("2\\transact.xml", hand_in);
  ClockEnv clock;
  Pass(dir, &clock);
  // The mail is routed; the sale waits in the device's folder.
  EXPECT_EQ(dir.Read("2\\mailX.txt"), Lines({kMailLine}));
  EXPECT_EQ(dir.Read("2\\transact.xml.intake"), Lines({kServiceLine}));
  EXPECT_NE(dir.Read("Lumbra.log").find("device 2: records not posted, kept for a later pass"),
            std::string::npos);

  dir.MakeDir("myob");
  ClockEnv later(31);
  Pass(dir, &later);
  EXPECT_FALSE(dir.Exists("2\\transact.xml.intake"));
  EXPECT_EQ(dir.Read("myob\\TamselSERVSALE202612051431North van.TXT"),
            Lines({kLongServiceHeader, kServiceRow}));
  EXPECT_EQ(dir.Read("2\\mailX.txt"), Lines({kMailLine}));  // logged once
}

// ---------------------------------------------------------------------------
// A pass that stops dead at any point: from its k-th change to the disk on,
// nothing it does reaches the disk any more.

int CountLine(const test::TempDir& dir, const std::string& line) {
  int n = 0;
  for (const std::string& name : FilesIn(dir, "myob")) {
    if (!name.starts_with("Tamsel")) continue;
    for (const std::string& l : SplitLines(dir.Read("myob\\" + name))) n += l == line;
  }
  return n;
}

TEST(MyobPass, APassKilledAnywhereLosesNothing) {
  const std::string hand_in = Lines({kHammerLine, kMailLine, kServiceLine, kSlipLine});
  const char* device_files[] = {"2\\transact.xml", "2\\transact.xml.taken",
                                "2\\transact.xml.intake"};
  int deaths = 0, deaths_after_staging = 0;
  for (int k = 0; k < 1000; ++k) {
    SCOPED_TRACE("killed at change " + std::to_string(k));
    // Only what the sale files read: the export has nothing to lose.
    test::TempDir dir;
    dir.Write("Lumbra.ini", "appname=MYOB\xAE Accounting v15 (text files)\r\npath=myob\\\r\n");
    dir.Write("devicenames.xml", "North van\t2\r\n");
    dir.Write("myob\\ITEM.TXT", kItems);
    dir.Write("myob\\ACTIVITY.TXT", "Activity ID\tActivity Name\r\nINST\tInstallation\r\n");
    dir.Write("2\\transact.xml", hand_in);
    dir.Write("2\\messages.txt", kMessages);
    // Whether device 2's records were still in its folder, under any name,
    // when the pass died.
    int left = k;
    bool died = false, device_file_at_death = false;
    ClockEnv clock;
    test::FaultEnv killed(
        [&](std::string_view op, const std::string&) {
          if (op == "ReadFile" || (!died && left-- > 0)) return false;
          for (const char* f : device_files) device_file_at_death |= !died && dir.Exists(f);
          return died = true;
        },
        &clock);
    Pass(dir, &killed);
    if (!died) break;
    ++deaths;

    ClockEnv next_minute(31);
    Pass(dir, &next_minute);
    for (const char* f : device_files) EXPECT_FALSE(dir.Exists(f)) << f;
    EXPECT_NE(dir.Read("2\\mailX.txt").find(kMailLine + "\r\n"), std::string::npos);
    EXPECT_NE(dir.Read("2\\messages.txt").find("\tPlease count bins\t\t\tRead\tN\r\n"),
              std::string::npos);
    for (const std::string* row : {&kHammerRow, &kServiceRow, &kSlipRow}) {
      // Never posted twice; still in the device folder, the next pass posts it.
      EXPECT_LE(CountLine(dir, *row), 1) << *row;
      if (device_file_at_death) {
        EXPECT_EQ(CountLine(dir, *row), 1) << *row;
      }
    }
    if (!device_file_at_death) {
      // Staged already: the archive holds it for the administrator.
      ++deaths_after_staging;
      EXPECT_EQ(dir.Read("Archive\\20261205\\2-143015-transact.xml"), hand_in);
    }
  }
  std::printf("[ deaths   ] %d, %d of them after staging\n", deaths, deaths_after_staging);
  EXPECT_GT(deaths, 10);
  EXPECT_GT(deaths_after_staging, 0);
}

// A device file of 100,000 lines selling from an item file of 100,000
// items. Well under a second of processor time in an optimised build; the
// bound catches a pass that grows faster than its input. Processor time,
// unlike the time on the clock, hardly grows when other work shares the
// machine.
TEST(MyobPassSize, HundredThousandLineDeviceFileAndItemFile) {
  test::TempDir dir;
  WriteInstallation(dir, "MYOB\xAE Premier v9 (text files)");
  std::string items = kItemTitles + "\r\n", hand_in, messages;
  for (int i = 0; i < 100000; ++i) {
    const std::string n = std::to_string(i);
    AppendLine(&items,
               ItemLine("C" + n, "Item " + n, "$1.00", "each", "", "", i % 2 ? "S" : "FRE"));
  }
  for (int i = 0; i < 2000; ++i) {
    messages += std::to_string(i + 1) + "\tMSG-" + std::to_string(i) + "\tOffice\r\n";
  }
  for (int i = 0; i < 100000; ++i) {
    const std::string n = std::to_string(i);
    if (i % 20 == 0) {
      hand_in += "20261204abcdMail\tMSG-" + std::to_string(i / 20 % 2000) + "\tOffice\tRead\r\n";
    } else if (i % 20 < 3) {
      hand_in += (i % 20 == 1 ? kServiceLine : kSlipLine) + "\r\n";
    } else {
      hand_in += "20261204abcdInvoiceLines\tCustomer\tShop " + std::to_string(i / 40) +
                 "\tOrdnum\t" + n + "\tItem\tItem " + n + "\tQty\t" + n + "\tSell1\t$19.95\r\n";
    }
  }
  dir.Write("myob\\ITEM.TXT", items);
  dir.Write("2\\transact.xml", hand_in);
  dir.Write("2\\messages.txt", messages);
  ClockEnv clock(30, true);
  const std::clock_t start = std::clock();
  Pass(dir, &clock);
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("[ timing   ] %.3f s processor time\n", seconds);

  std::string sales = dir.Read("myob\\TamselITEMSALE202612051430North van.TXT");
  EXPECT_EQ(SplitLines(sales).size(), 1u + 85000u + 84999u);  // every sale of one line
  EXPECT_NE(sales.find("\tC99999\t"), std::string::npos);
  EXPECT_EQ(SplitLines(dir.Read("myob\\TamselSLIPS202612051430North van.TXT")).size(), 5001u);
  EXPECT_EQ(SplitLines(dir.Read("2\\mailX.txt")).size(), 5000u);
  EXPECT_NE(dir.Read("2\\messages.txt").find("2000\tMSG-1999\tOffice\t\t\t\t\t\tRead\t\r\n"),
            std::string::npos);
  EXPECT_EQ(SplitLines(dir.Read("1\\StockItems.dat")).size(), 100001u);
  if (!test::TimingIsMeaningful()) GTEST_SKIP() << "checked all but the time";
  EXPECT_LT(seconds, 5.0);
}

}  // namespace
}  // namespace lumbra
