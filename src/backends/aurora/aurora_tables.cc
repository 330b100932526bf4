#include "backends/aurora/aurora_tables.h"

#include "backends/aurora/table_engine.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {

std::string AuroraTablePath(const RunContext& ctx, std::string_view file_literal) {
  return ctx.Path(ctx.DataPath + std::string(file_literal));
}

std::string TrimmedField(TableEngine& engine, const char* field) {
  return Trim(engine.GetString(field));
}

std::string JoinedAddress(TableEngine& engine, const char* line1, const char* line2,
                          const char* line3) {
  std::string out = TrimmedField(engine, line1);
  out += ' ';
  out += TrimmedField(engine, line2);
  out += ' ';
  out += TrimmedField(engine, line3);
  return out;
}

bool ScanTable(TableEngine& engine, const std::string& path, const std::string& alias,
               const std::function<void()>& each_record) {
  if (engine.Use(path, alias, TableEngine::kReadOnly, TableEngine::kDriverDbf) == 0) return false;
  engine.SetDeleted(true);
  for (engine.GoTop(); !engine.Eof(); engine.Skip(1)) each_record();
  engine.Close();
  return true;
}

void WriteAuroraDeviceTable(RunContext& ctx, std::string_view name, std::string_view header) {
  DeviceTableFile file;
  file.AddLine(header);
  for (size_t i = 0; i < ctx.RowBuffer.Count(); ++i) file.AddLine(ctx.RowBuffer.At(i));
  std::string table = MasterTablePath(name);
  Status s = file.Save(ctx.env, ctx.Path(table));
  ctx.Log(s.ok() ? "table " + table + " written: " + std::to_string(file.line_count() - 1) + " rows"
                 : "table " + table + " not written: " + s.ToString());
  ReportTable(ctx, table, s, file.line_count() - 1);
}

}  // namespace lumbra
