#include "backends/aurora/aurora.h"

#include "backends/aurora/aurora_export.h"
#include "backends/aurora/table_engine.h"
#include "backends/context/run_context.h"

namespace lumbra {

void ExportAuroraData(RunContext& ctx) {
  TableEngine engine(ctx.env, ctx.log);
  if (!ExportAuroraCustomers(ctx, engine)) return;
  ExportAuroraStockItems(ctx, engine);
  ExportAuroraInvoices(ctx, engine);
  ExportAuroraSuppliers(ctx, engine);
  ExportAuroraActivities(ctx, engine);
  ExportAuroraFreightMethods(ctx, engine);
}

}  // namespace lumbra
