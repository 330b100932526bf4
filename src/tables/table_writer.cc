#include "tables/table_writer.h"

#include "backends/context/run_context.h"
#include "tables/device_tables.h"

namespace lumbra {

void ReportTable(RunContext& ctx, const std::string& table, const Status& s, size_t rows) {
  if (s.ok()) {
    ctx.report.TableWritten(table, static_cast<int64_t>(rows));
  } else {
    ctx.report.TableLeft(table, s.ToString(), s);
  }
}

Status WriteTable(RunContext& ctx, const std::string& name, const std::string& header) {
  const SortedRows& rows = ctx.RowBuffer;
  if (rows.Count() == 0) {
    ctx.report.TableLeft(MasterTablePath(name), "the export gave no rows");
    return Status::OK();
  }

  DeviceTableFile file;
  file.AddLine(header);
  // Equal rows lie next to each other, so comparing with the previous row
  // written drops every repeat. The empty row equals the starting "previous"
  // and is never written.
  std::string_view previous;
  for (size_t i = 0; i < rows.Count(); ++i) {
    std::string_view row = rows.At(i);
    if (row == previous) continue;
    file.AddLine(row);
    previous = row;
  }
  std::string path = ctx.ProgramPath(MasterTablePath(name));
  Status s = file.Save(ctx.env, path);
  if (s.ok()) {
    ctx.Log("table " + MasterTablePath(name) + " written: " + std::to_string(file.line_count() - 1) +
            " rows");
  } else {
    ctx.Log("table " + MasterTablePath(name) + " not written: " + s.ToString());
  }
  ReportTable(ctx, MasterTablePath(name), s, file.line_count() - 1);
  return s;
}

namespace {

void WriteHeaderOnlyTable(RunContext& ctx, std::string_view table, std::string_view header) {
  DeviceTableFile file;
  file.AddLine(header);
  std::string target = MasterTablePath(table);
  Status s = file.Save(ctx.env, ctx.Path(target));
  ctx.Log(s.ok() ? "table " + target + " written: header row only"
                 : "table " + target + " not written: " + s.ToString());
  ReportTable(ctx, target, s, 0);
}

}  // namespace

void WriteHeaderOnlyInvoiceTables(RunContext& ctx) {
  WriteHeaderOnlyTable(ctx, "InvoiceHeader", "Invnum\tCustomer");
  WriteHeaderOnlyTable(ctx, "InvoiceLines",
                       "Invnum\tCustomer\tAccount Number\tItem\tDescription\tQty\tSell1\tOrdnum\t"
                       "Invdate\tDiscount\tExtend\tNote\tPromised\tJobno\tAddress Delivery\t"
                       "Freight method\tPaymenttype\tAmountpaid");
}

}  // namespace lumbra
