#include "backends/myob/myob_odbc_export.h"

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

#include "backends/database/connection.h"
#include "backends/database/data_source.h"
#include "backends/database/recordset.h"
#include "backends/myob/myob.h"
#include "text/dates.h"
#include "platform/env.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace {

using database::Connection;
using database::Recordset;
using database::Value;
using database::ValueKind;

// The card table: per address row, CardRecordID, Street, City, Phone1, Fax,
// Email, ContactName, then the customer's Name and CurrentBalance.
enum CardColumn { kCardId, kStreet, kCity, kPhone, kFax, kEmail, kContact, kName, kBalance };
using Card = std::array<std::string, 9>;

constexpr char kCustomersHeader[] =
    "Name\tAccount\tContact\tAddress1\tCity\tPhone\tFax\tEmail\tBalance\tCreditLimit\t"
    "LastPaymentDate\tLastSaleDate\tTotalDeposits\tCustomerSince\tTotalReceivableDays\t"
    "TotalPaidInvoices\tPaymentNotes\tNotes";
constexpr char kPaymentsHeader[] =
    "Customer\tDateCode\tTransactionDate\tAmountPaid\tFinanceCharge\tNotes\tAddress1\tCity\t"
    "Phone\tBalance";

class CardTable {
 public:
  void Add(Card card) {
    first_.emplace(card[kCardId], cards_.size());  // a later address row keeps the first
    cards_.push_back(std::move(card));
  }
  // The first address row of the card, or nothing.
  Card* Find(const std::string& id) {
    auto it = first_.find(id);
    return it == first_.end() ? nullptr : &cards_[it->second];
  }

 private:
  std::vector<Card> cards_;
  std::unordered_map<std::string, size_t> first_;
};

// The named columns of a query's result, looked up once.
class Columns {
 public:
  Columns(const Recordset& rs, const std::string& query) : rs_(rs), query_(query) {}
  // Fails like a field lookup by a name the result lacks.
  Status Find(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      int index = rs_.FieldIndex(name);
      if (index < 0) return Status::NotFound("the result of \"" + query_ + "\" has no column " + name);
      index_[name] = static_cast<size_t>(index);
    }
    return Status::OK();
  }
  const Value& Get(const std::string& name) const { return rs_.FieldValue(index_.at(name)); }
  std::string Text(const std::string& name) const { return database::PlainText(Get(name)); }

 private:
  const Recordset& rs_;
  std::string query_;
  std::unordered_map<std::string, size_t> index_;
};

std::string DateCode(const Value& v) {
  database::DateTime t;
  bool has_time = false;
  if (v.kind == ValueKind::kDate || v.kind == ValueKind::kDateTime) {
    t = v.time;
  } else if (v.kind != ValueKind::kText || !database::ParseDateTime(v.text, &t, &has_time)) {
    return std::string();
  }
  return FormatYymmdd(Date{t.year, t.month, t.day});
}

std::string JoinFields(std::initializer_list<std::string> fields) {
  std::string row;
  bool first = true;
  for (const std::string& f : fields) {
    if (!first) row += '\t';
    row += f;
    first = false;
  }
  return row;
}

// Runs a query and calls each_row on every row. A result without columns is
// passed over.
template <typename EachRow>
Status ForEachRow(Connection* connection, const std::string& query,
                  std::initializer_list<const char*> names, EachRow each_row) {
  Recordset rs;
  Status s = connection->Execute(query, &rs);
  if (!s.ok()) return s;
  if (rs.FieldCount() < 1) return Status::OK();
  Columns columns(rs, query);
  s = columns.Find(names);
  if (!s.ok()) return s;
  while (!rs.Eof()) {
    each_row(columns);
    s = rs.MoveNext();
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status ExportThroughOdbc(RunContext& ctx) {
  std::string text;
  ctx.env->ReadFile(ctx.Path(kMyobConnectionFile), &text);  // a missing line stays empty
  std::vector<std::string> lines = SplitLines(text);
  lines.resize(std::max<size_t>(lines.size(), 3));
  std::unique_ptr<Connection> connection;
  Status s = Connection::Open(
      MyobConnectionString(DecodeLine(lines[0]), DecodeLine(lines[1]), DecodeLine(lines[2])),
      database::PassConnectionOptions(ctx), &connection);
  if (!s.ok()) return Status::IOError("MYOB ODBC " + s.message());

  CardTable cards;
  s = ForEachRow(connection.get(), "Select * From Address",
                 {"CardRecordID", "Street", "City", "Phone1", "Fax", "Email", "ContactName"},
                 [&](const Columns& c) {
                   cards.Add(Card{c.Text("CardRecordID"), OneLineStreet(c.Text("Street")),
                                  c.Text("City"), c.Text("Phone1"), c.Text("Fax"), c.Text("Email"),
                                  c.Text("ContactName"), "", ""});
                 });
  if (!s.ok()) return s;

  ctx.RowBuffer.Clear();
  const Card no_card{};
  s = ForEachRow(
      connection.get(), "Select * From Customers",
      {"IsInactive", "CardRecordID", "Name", "CurrentBalance", "CustomerID", "CreditLimit",
       "LastPaymentDate", "LastSaleDate", "TotalDeposits", "CustomerSince",
       "TotalReceivableDays", "TotalPaidInvoices", "PaymentNotes", "Notes"},
      [&](const Columns& c) {
        if (c.Text("IsInactive") == "Y") return;
        Card* found = cards.Find(c.Text("CardRecordID"));
        if (found != nullptr) {
          (*found)[kName] = c.Text("Name");
          (*found)[kBalance] = c.Text("CurrentBalance");
        }
        const Card& card = found ? *found : no_card;
        ctx.RowBuffer.Add(JoinFields(
            {card[kName], c.Text("CustomerID"), card[kContact], card[kStreet], card[kCity],
             card[kPhone], card[kFax], card[kEmail], card[kBalance], c.Text("CreditLimit"),
             c.Text("LastPaymentDate"), c.Text("LastSaleDate"), c.Text("TotalDeposits"),
             c.Text("CustomerSince"), c.Text("TotalReceivableDays"),
             c.Text("TotalPaidInvoices"), c.Text("PaymentNotes"), c.Text("Notes")}));
      });
  if (!s.ok()) return s;
  WriteTable(ctx, "Cust", kCustomersHeader);

  ctx.RowBuffer.Clear();
  s = ForEachRow(connection.get(), "Select * From CustomerPayments",
                 {"CardRecordID", "TransactionDate", "TotalCustomerPayment", "FinanceCharge",
                  "PaymentNotes"},
                 [&](const Columns& c) {
                   Card* found = cards.Find(c.Text("CardRecordID"));
                   const Card& card = found ? *found : no_card;
                   ctx.RowBuffer.Add(JoinFields(
                       {card[kName], DateCode(c.Get("TransactionDate")),
                        c.Text("TransactionDate"), c.Text("TotalCustomerPayment"),
                        c.Text("FinanceCharge"), c.Text("PaymentNotes"), card[kStreet],
                        card[kCity], card[kPhone], card[kBalance]}));
                 });
  if (!s.ok()) return s;
  WriteTable(ctx, "Payments", kPaymentsHeader);

  std::string cust = ctx.ProgramPath(MasterTablePath("Cust"));
  s = ctx.env->CopyFile(cust, ctx.ProgramPath(MasterTablePath("Customers")));
  if (!s.ok()) return Status::IOError("1\\Cust.dat not copied to 1\\Customers.dat: " + s.ToString());
  s = ctx.env->DeleteFile(cust);
  if (!s.ok()) return Status::IOError("1\\Cust.dat not deleted: " + s.ToString());
  ctx.Log("MYOB ODBC export done");
  return Status::OK();
}

}  // namespace

std::string MyobConnectionString(std::string_view company_file, std::string_view user,
                                 std::string_view password) {
  std::string s = "Driver={MYOB_ODBC};";
  s += "Database=" + std::string(company_file) + ";";
  s += "TYPE=MYOB;UID=" + std::string(user) + ";PWD=" + std::string(password) + ";";
  s += "KEY=" + std::string(kMyobKeyFile) + ";";
  s += "ACCESS_TYPE=READ;";
  s += "DRIVER_COMPLETION=DRIVER_PROMPT;SQL_LOGIN_TIMEOUT=30;";
  return s;
}

std::string OneLineStreet(std::string_view street) {
  std::string out;
  out.reserve(street.size());
  for (size_t i = 0; i < street.size(); ++i) {
    if (street[i] == '\r') {
      out.push_back(' ');
      ++i;  // the line feed after it goes too
    } else if (street[i] == '\n') {
      out.push_back(' ');
    } else {
      out.push_back(street[i]);
    }
  }
  return Trim(out);
}

void ExportMyobOdbc(RunContext& ctx) {
  Status s = ExportThroughOdbc(ctx);
  if (s.ok()) return;
  ctx.ShowError("MYOB ODBC export stopped: " + s.message());
  ctx.Log("MYOB ODBC export stopped: " + s.message());
  ctx.report.Failed(TroubleOf(s, Trouble::kDatabaseSilent),
                    "MYOB ODBC export stopped: " + s.message());
}

}  // namespace lumbra
