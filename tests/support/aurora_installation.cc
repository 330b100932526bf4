#include "support/aurora_installation.h"

#include <algorithm>
#include <stdexcept>

#include "backends/aurora/aurora_layouts.h"
#include "backends/aurora/table_engine.h"
#include "run/text_fields.h"

namespace lumbra::test {

DbfRecord Rec(std::vector<std::pair<std::string, std::string>> values, bool deleted) {
  return DbfRecord{std::move(values), deleted};
}

AuroraInstallation::AuroraInstallation(Env* env) : run_(dir_, env) {
  dir_.MakeDir("1");
  dir_.MakeDir("data");
  ctx().DataPath = "data";
}

void AuroraInstallation::Table(std::string_view file, const std::vector<DbfRecord>& records) {
  Status s = WriteAuroraTable(Env::Default(), dir_.Path("data"), file, records);
  if (!s.ok()) throw std::runtime_error(s.ToString());
  written_.emplace_back(file);
}

void AuroraInstallation::CompleteWith(int link, int invnum) {
  for (std::string_view file : kAuroraTableFiles) {
    if (std::find(written_.begin(), written_.end(), file) != written_.end()) continue;
    if (file == "Flags.dbf") {
      Table(file, {Rec({{"LINK", std::to_string(link)}, {"NEXTINV", std::to_string(invnum)}})});
    } else {
      Table(file, {});
    }
  }
}

std::vector<RecordValues> AuroraInstallation::Records(std::string_view file,
                                                      const std::vector<std::string>& only) const {
  std::vector<RecordValues> out;
  TableEngine engine(Env::Default(), nullptr);
  if (engine.Use(DataFile(file), "t", TableEngine::kReadOnly, TableEngine::kDriverDbf) == 0) {
    return out;
  }
  engine.SetDeleted(true);
  for (engine.GoTop(); !engine.Eof(); engine.Skip(1)) {
    RecordValues values;
    for (const DbfColumn& c : AuroraLayout(file)) {
      if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
      values[c.name] = c.type == 'M' ? engine.GetMemo(c.name, 0) : Trim(engine.GetString(c.name));
    }
    out.push_back(std::move(values));
  }
  return out;
}

}  // namespace lumbra::test
