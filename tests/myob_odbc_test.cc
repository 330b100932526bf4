// The MYOB ODBC export against an SQLite company file served by the SQLite3
// driver under the driver name MYOB_ODBC (registered by the test support).
#include <gtest/gtest.h>

#include "backends/myob/myob.h"
#include "backends/myob/myob_odbc_export.h"
#include "backends/context/run_context.h"
#include "platform/driver_path.h"
#include "text/text_fields.h"
#include "support/odbc_test_util.h"
#include "support/test_util.h"

namespace lumbra {
namespace {

class MyobOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TestDriversAvailable()) GTEST_SKIP() << test::kNoTestDrivers;
    if (!test::DriverInstalled("MYOB_ODBC")) {
      GTEST_SKIP() << "no driver MYOB_ODBC: under Wine tools/wine-test.sh registers it";
    }
    company_ = dir_.Path("company.myo");
    ASSERT_TRUE(test::MakeSqliteFile(
                    company_,
                    {"CREATE TABLE Address (CardRecordID INTEGER, Street TEXT, City TEXT, Phone1 TEXT, Fax TEXT, "
                     "Email TEXT, ContactName TEXT)",
                     "INSERT INTO Address VALUES (1, '1 Main St' || char(13) || char(10) || 'Level 2 ', 'Perth', "
                     "'111', NULL, 'a@x', 'Ann'), (1, 'PO Box 9', 'Mail', '999', NULL, NULL, 'Other'), "
                     "(2, 'Gone Rd', 'Nowhere', '222', NULL, NULL, 'Ben')",
                     "CREATE TABLE Customers (CardRecordID INTEGER, IsInactive TEXT, Name TEXT, CurrentBalance "
                     "REAL, CustomerID TEXT, CreditLimit REAL, LastPaymentDate DATE, LastSaleDate DATE, "
                     "TotalDeposits REAL, CustomerSince DATE, TotalReceivableDays INTEGER, TotalPaidInvoices "
                     "INTEGER, PaymentNotes TEXT, Notes TEXT)",
                     "INSERT INTO Customers VALUES (1, 'N', 'Acme', 120.5, 'C001', 1000, '2006-03-05', NULL, 0, "
                     "'2001-01-31', 30, 4, 'cheque', NULL), (2, 'Y', 'Old Co', 5, 'C002', 0, NULL, NULL, 0, NULL, "
                     "0, 0, NULL, NULL), (3, 'N', 'No Address', 7.25, 'C003', 0, NULL, NULL, 0, NULL, 0, 0, NULL, "
                     "NULL)",
                     "CREATE TABLE CustomerPayments (CardRecordID INTEGER, TransactionDate DATE, "
                     "TotalCustomerPayment REAL, FinanceCharge REAL, PaymentNotes TEXT)",
                     "INSERT INTO CustomerPayments VALUES (1, '2006-03-05', 50, 0, 'thanks'), "
                     "(2, '2007-12-31', 9.5, 1.5, NULL)"})
                    .ok());
    dir_.Write("filestats.dat", test::Coded({PathForDrivers(company_), "Administrator", "secret"}));
    dir_.Write("1\\Customers.dat", "older customers");
    dir_.Write("1\\Payments.dat", "older payments");
  }
  // Runs the export; returns what it wrote to standard error.
  std::string Export() {
    test::TestRun run(dir_);
    testing::internal::CaptureStderr();
    ExportMyobOdbc(run.ctx());
    return testing::internal::GetCapturedStderr();
  }

  test::TempDir dir_;
  std::string company_;
};

TEST_F(MyobOdbcTest, WritesActiveCustomersAndEveryPayment) {
  Export();
  EXPECT_EQ(dir_.Read("1\\Customers.dat"),
            test::Coded({"Name\tAccount\tContact\tAddress1\tCity\tPhone\tFax\tEmail\tBalance\t"
                         "CreditLimit\tLastPaymentDate\tLastSaleDate\tTotalDeposits\tCustomerSince"
                         "\tTotalReceivableDays\tTotalPaidInvoices\tPaymentNotes\tNotes",
                         // A customer without an address row keeps its own figures.
                         "\tC003\t\t\t\t\t\t\t\t0\t\t\t0\t\t0\t0\t\t",
                         "Acme\tC001\tAnn\t1 Main St Level 2\tPerth\t111\t\ta@x\t120.5\t1000\t"
                         "2006-03-05\t\t0\t2001-01-31\t30\t4\tcheque\t"}));
  EXPECT_EQ(dir_.Read("1\\Payments.dat"),
            test::Coded({"Customer\tDateCode\tTransactionDate\tAmountPaid\tFinanceCharge\tNotes\t"
                         "Address1\tCity\tPhone\tBalance",
                         // The inactive customer's payment has no customer name.
                         "\t071231\t2007-12-31\t9.5\t1.5\t\tGone Rd\tNowhere\t222\t",
                         "Acme\t060305\t2006-03-05\t50\t0\tthanks\t1 Main St Level 2\tPerth\t111\t"
                         "120.5"}));
  EXPECT_FALSE(dir_.Exists("1\\Cust.dat"));
  // The parts of the connection the SQLite stand-in does not check.
  EXPECT_EQ(MyobConnectionString("C:\\Co.myo", "Admin", "pw"),
            "Driver={MYOB_ODBC};Database=C:\\Co.myo;TYPE=MYOB;UID=Admin;PWD=pw;KEY=lumbra.key;"
            "ACCESS_TYPE=READ;DRIVER_COMPLETION=DRIVER_PROMPT;SQL_LOGIN_TIMEOUT=30;");
  EXPECT_EQ(OneLineStreet(" a\r\nb\nc "), "a b c");
}

TEST_F(MyobOdbcTest, FailureKeepsTheOlderTables) {
  // Every customer inactive: the payments are written, the customer table
  // stays as it was.
  ASSERT_TRUE(test::MakeSqliteFile(company_, {"UPDATE Customers SET IsInactive = 'Y'"}).ok());
  std::string err = Export();
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older customers");
  EXPECT_NE(err.find("Cust.dat not copied"), std::string::npos) << err;
  EXPECT_NE(dir_.Read("1\\Payments.dat"), "older payments");

  // A company file that cannot be opened ends the export at once.
  dir_.Write("1\\Payments.dat", "older payments");
  dir_.Write("filestats.dat", test::Coded({dir_.Path("no/such/folder/company.myo"), "u"}));
  err = Export();
  EXPECT_EQ(dir_.Read("1\\Customers.dat"), "older customers");
  EXPECT_EQ(dir_.Read("1\\Payments.dat"), "older payments");
  EXPECT_NE(err.find("MYOB ODBC export stopped"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  EXPECT_NE(dir_.Read("Lumbra.log").find("MYOB ODBC export stopped"), std::string::npos);
}

}  // namespace
}  // namespace lumbra
