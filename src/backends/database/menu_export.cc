#include "backends/database/menu_export.h"

#include <algorithm>

#include "backends/database/connection.h"
#include "backends/database/database.h"
#include "backends/database/recordset.h"
#include "platform/env.h"
#include "text/lines.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"
#include "tables/device_tables.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace database {
namespace {

std::string TableFile(std::string_view folder, const std::string& table) {
  return std::string(folder) + "\\" + table + ".dat";
}

// A value as one field of a device table line: a tab inside it would start
// another column on the device, so it becomes a blank.
std::string FieldText(const Column& column, const Value& value) {
  std::string text = ExportText(column, value);
  std::replace(text.begin(), text.end(), '\t', ' ');
  return text;
}

void CopyToDevices(RunContext& ctx, const std::string& table) {
  std::string master = ctx.Path(TableFile("1", table));
  if (!ctx.env->FileExists(master)) return;
  for (int device = 2; device <= kLastDevice; ++device) {
    std::string folder = std::to_string(device);
    if (!ctx.env->DirExists(ctx.Path(folder))) continue;
    Status s = ctx.env->CopyFile(master, ctx.Path(TableFile(folder, table)));
    if (!s.ok()) {
      ctx.Log("device folder " + folder + ": copy of " + table + ".dat failed, older copy kept: " +
              s.ToString());
    }
  }
}

}  // namespace

std::vector<std::string> ReadMenuTables(std::string_view menu_text) {
  std::vector<std::string> tables;
  LineReader reader(menu_text);
  std::string_view line;
  std::string rest, level_field, field;
  while (reader.Next(&line)) {
    rest.assign(line);
    SplitField(rest, level_field);
    int level = !level_field.empty() && level_field[0] >= '0' && level_field[0] <= '9'
                    ? level_field[0] - '0'
                    : 0;
    SplitField(rest, field);
    SplitField(rest, field);
    std::string name = level > 0 ? (field.size() > 2 ? field.substr(2) : std::string()) : field;
    if (name.empty()) continue;
    if (std::find(tables.begin(), tables.end(), name) != tables.end()) continue;
    if (tables.size() < kMaxMenuTables) tables.push_back(std::move(name));
  }
  return tables;
}

bool IsSafeTableFileName(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\") == std::string_view::npos &&
         name.find("..") == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool ExportTable(RunContext& ctx, Connection* connection, const std::string& table) {
  const std::string path = TableFile("1", table);
  auto keep_older = [&](const Status& s) {
    ctx.Log("table " + path + " not written, the devices keep theirs: " + s.message());
    ctx.report.TableLeft(path, "the database did not answer: " + s.message());
    return false;
  };
  DeviceTableFile file;
  Recordset rs;
  size_t records = 0;
  std::string note;
  Status s = rs.Open(connection, table, CursorType::kForwardOnly);
  if (!s.ok()) {
    if (s.IsBusy() || connection == nullptr || !connection->IsOpen()) return keep_older(s);
    // The devices then see the table as having nothing in it, as they do for
    // any table whose query fails.
    note = " (query failed, header line left empty: " + s.message() + ")";
    file.AddLine("");
  } else {
    std::string line;
    for (size_t i = 0; i < rs.FieldCount(); ++i) line += rs.FieldName(i) + "\t";
    file.AddLine(line);
    while (!rs.Eof()) {
      line.clear();
      for (size_t i = 0; i < rs.FieldCount(); ++i) {
        line += FieldText(rs.FieldColumn(i), rs.FieldValue(i));
        line += '\t';
      }
      file.AddLine(line);
      ++records;
      s = rs.MoveNext();
      if (!s.ok()) {
        if (s.IsBusy() || !connection->IsOpen()) return keep_older(s);
        note = " (reading stopped early: " + s.message() + ")";
        break;
      }
    }
  }
  rs.Close();
  s = file.Save(ctx.env, ctx.Path(path));
  ReportTable(ctx, path, s, records);
  if (!s.ok()) {
    ctx.Log("table " + path + " not written, older copy kept: " + s.ToString());
    return false;
  }
  ctx.Log("table " + path + " written: " + std::to_string(records) + " records" + note);
  return true;
}

}  // namespace database

void ExportDatabaseByMenu(RunContext& ctx) {
  std::string menu;
  Status s = ctx.env->ReadFile(ctx.Path(database::kMenuFile), &menu);
  if (!s.ok()) {
    ctx.Log("menu 1\\menu.xml not read, no database table exported: " + s.ToString());
    return;
  }
  database::Connection* connection = ctx.DbConnection.get();
  if (connection == nullptr || !connection->IsOpen()) {
    ctx.LogFailure(Trouble::kDatabaseSilent,
                   "no database connection: no menu table is written, the devices keep theirs");
    return;
  }
  // A catalogue that cannot be read was logged when the connection opened.
  if (!connection->ReadCatalogue().ok()) return;
  for (const std::string& table : database::ReadMenuTables(menu)) {
    if (!database::IsSafeTableFileName(table)) {
      ctx.Log("menu table \"" + table + "\" skipped: its name would put a file outside the "
              "device folders");
      continue;
    }
    if (database::ExportTable(ctx, connection, table)) database::CopyToDevices(ctx, table);
  }
}

}  // namespace lumbra
