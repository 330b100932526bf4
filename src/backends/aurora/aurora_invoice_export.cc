// The invoice tables of the Aurora export: the invoices not yet posted in
// the back-end, with their lines.
#include <string>
#include <unordered_map>

#include "backends/aurora/aurora_export.h"
#include "backends/aurora/aurora_tables.h"
#include "backends/aurora/flatten_memo.h"
#include "backends/aurora/table_engine.h"
#include "intake/transaction_line.h"
#include "text/dates.h"
#include "text/numbers.h"
#include "backends/context/run_context.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace {

// What a line repeats of its invoice.
struct OpenInvoice {
  std::string invnum;
  std::string customer;
  std::string ordnum;
  std::string date;  // "dd mmm yy"
  std::string deliver_to;
};

// A DATE text (yyyymmdd as the engine gives it) as "dd mmm yy"; other texts
// give whatever date their digits roll over to, or nothing out of range.
std::string InvoiceDate(const std::string& date) {
  std::optional<Date> d = RecordDate(date);
  return d ? FormatDdMmmYy(*d) : std::string();
}

std::string DiscountText(double discount) {
  return discount == 0 ? std::string() : SingleText(discount) + "%";
}

}  // namespace

void ExportAuroraInvoices(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  // The header table lists the open invoices in table order, repeats
  // included; the lines find their invoice by LINK, the first one wins.
  DeviceTableFile header;
  header.AddLine("Invnum\tCustomer");
  std::unordered_map<std::string, OpenInvoice> invoices;
  DeviceRow row;
  ScanTable(engine, AuroraTablePath(ctx, kInvoiceTable), "Invidx", [&] {
    if (ValueOf(TrimmedField(engine, "POSTED")) == 1) return;
    OpenInvoice inv{TrimmedField(engine, "INVNUM"), TrimmedField(engine, "NAME"),
                    TrimmedField(engine, "ORDNUM"), InvoiceDate(engine.GetString("DATE")),
                    JoinedAddress(engine, "DELADD1", "DELADD2", "DELADD3")};
    row.Clear();
    header.AddLine(row.Add(inv.invnum).Add(inv.customer).text());
    invoices.emplace(TrimmedField(engine, "LINK"), std::move(inv));
  });
  std::string path = ctx.Path(MasterTablePath("InvoiceHeader"));
  Status s = header.Save(ctx.env, path);
  ctx.Log(s.ok() ? "table 1\\InvoiceHeader.dat written: " + std::to_string(header.line_count() - 1) +
                       " rows"
                 : "table 1\\InvoiceHeader.dat not written: " + s.ToString());
  ReportTable(ctx, MasterTablePath("InvoiceHeader"), s, header.line_count() - 1);

  ScanTable(engine, AuroraTablePath(ctx, kInvoiceLineTable), "Oldinv", [&] {
    auto it = invoices.find(TrimmedField(engine, "LINK"));
    if (it == invoices.end()) return;  // a line of a posted invoice, or an orphan
    const OpenInvoice& inv = it->second;
    row.Clear();
    row.Add(inv.invnum)
        .Add(inv.customer)
        .Add(inv.deliver_to)
        .Add(TrimmedField(engine, "CODE"))
        .Add(TrimmedField(engine, "DESC"))
        .Add(DoubleText(ValueOf(TrimmedField(engine, "QTY"))))
        .Add(MoneyText(Single(ValueOf(TrimmedField(engine, "RATE")))))
        .Add(inv.ordnum)
        .Add(inv.date)
        .Add(DiscountText(Single(ValueOf(TrimmedField(engine, "DISC")))))
        .Add(MoneyText(Single(ValueOf(TrimmedField(engine, "EXTEND")))))
        .Add(FlattenMemo(engine.GetMemo("NOTE", 0)));
    ctx.RowBuffer.Add(row.text());
  });
  WriteAuroraDeviceTable(ctx, "InvoiceLines",
                         "Invnum\tCustomer\tDeliver to\tItem\tDescription\tQty\tRate\tOrdnum\t"
                         "Invdate\tDiscount\tExtend\tNote");
}

}  // namespace lumbra
