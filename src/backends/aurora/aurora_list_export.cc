// The supplier, activity and freight method tables of the Aurora export.
#include <string>

#include "backends/aurora/aurora_export.h"
#include "backends/aurora/aurora_tables.h"
#include "backends/aurora/flatten_memo.h"
#include "backends/aurora/table_engine.h"
#include "backends/context/run_context.h"

namespace lumbra {

void ExportAuroraSuppliers(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  DeviceRow row;
  ScanTable(engine, AuroraTablePath(ctx, kSupplierTable), "Cmaster", [&] {
    row.Clear();
    row.Add(TrimmedField(engine, "NAME"))
        .Add(TrimmedField(engine, "AKEY"))
        .Add(JoinedAddress(engine, "ADDR1", "ADDR2", "ADDR3"));
    for (const char* field :
         {"CONTACT", "CONTACT2", "PHONE", "FAX", "MOBILE", "EMAIL", "CURRENT"}) {
      row.Add(TrimmedField(engine, field));
    }
    row.Add(FlattenMemo(engine.GetMemo("NOTES", 0)));
    ctx.RowBuffer.Add(row.text());
  });
  WriteAuroraDeviceTable(ctx, "Suppliers",
                         "Name\tAccount\tAddr1\tContact1\tContact2\tPhone\tFax\tMobile\tEmail\t"
                         "Current\tNotes");
}

// TABLES.DBF holds several code lists, told apart by GRP: "S" the
// activities, "M" the freight methods (capitals only).
void ExportAuroraActivities(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  DeviceRow row;
  ScanTable(engine, AuroraTablePath(ctx, kCodeTable), "Activity", [&] {
    if (TrimmedField(engine, "GRP") != "S") return;
    row.Clear();
    ctx.RowBuffer.Add(row.Add(TrimmedField(engine, "CODE")).Add(TrimmedField(engine, "DESC")).text());
  });
  WriteAuroraDeviceTable(ctx, "Activity", "Code\tDescription\tHourlyrate");
}

void ExportAuroraFreightMethods(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  ScanTable(engine, AuroraTablePath(ctx, kCodeTable), "Freight", [&] {
    if (TrimmedField(engine, "GRP") == "M") ctx.RowBuffer.Add(TrimmedField(engine, "DESC"));
  });
  WriteAuroraDeviceTable(ctx, "Freight", "Freighttype");
}

}  // namespace lumbra
