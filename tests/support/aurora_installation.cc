#include "support/aurora_installation.h"

#include <stdexcept>

#include "backends/aurora/aurora_layouts.h"
#include "backends/aurora/table_engine.h"
#include "run/text_fields.h"

namespace lumbra::test {

AuroraInstallation::AuroraInstallation(Env* env) : run_(dir_, env) {
  dir_.MakeDir("1");
  dir_.MakeDir("data");
  ctx().DataPath = "data";
}

void AuroraInstallation::Table(std::string_view file, const std::vector<DbfRecord>& records) {
  Status s = WriteAuroraTable(Env::Default(), dir_.Path("data"), file, records);
  if (!s.ok()) throw std::runtime_error(s.ToString());
}

void AuroraInstallation::Table(std::string_view file, const std::vector<std::string>& fields,
                               const std::vector<std::vector<std::string>>& rows) {
  std::vector<DbfRecord> records(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t f = 0; f < fields.size(); ++f) {
      records[r].values.emplace_back(fields[f], rows[r][f]);
    }
  }
  Table(file, records);
}

void AuroraInstallation::CompleteWith(int link, int invnum) {
  for (std::string_view file : kAuroraTableFiles) {
    if (dir_.Exists("data\\" + std::string(file))) continue;
    bool flags = file == "Flags.dbf";
    Table(file, flags ? std::vector<DbfRecord>{Rec({{"LINK", std::to_string(link)},
                                                    {"NEXTINV", std::to_string(invnum)}})}
                      : std::vector<DbfRecord>{});
  }
}

std::vector<RecordValues> AuroraInstallation::Records(std::string_view file) const {
  std::vector<RecordValues> out;
  TableEngine engine(Env::Default(), nullptr);
  engine.Use(dir_.Path("data\\" + std::string(file)), "t", TableEngine::kReadOnly,
             TableEngine::kDriverDbf);
  engine.SetDeleted(true);
  for (engine.GoTop(); !engine.Eof(); engine.Skip(1)) {
    RecordValues& values = out.emplace_back();
    for (const DbfColumn& c : AuroraLayout(file)) {
      values[c.name] = c.type == 'M' ? engine.GetMemo(c.name, 0) : Trim(engine.GetString(c.name));
    }
  }
  return out;
}

std::vector<std::string> AuroraInstallation::Column(std::string_view file,
                                                    const std::string& field) const {
  std::vector<std::string> out;
  for (RecordValues& r : Records(file)) out.push_back(r[field]);
  return out;
}

}  // namespace lumbra::test
