#include "support/aurora_installation.h"

#include <stdexcept>

#include "backends/aurora/aurora_layouts.h"
#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/table_engine.h"
#include "text/lines.h"
#include "text/text_fields.h"

namespace lumbra::test {
namespace {

// "\r" and "\n" in a fixture's value stand for CR and LF.
std::string Unescaped(std::string value) {
  for (auto [code, byte] : {std::pair{"\\r", "\r"}, {"\\n", "\n"}}) {
    for (size_t at = value.find(code); at != std::string::npos; at = value.find(code, at + 1)) {
      value.replace(at, 2, byte);
    }
  }
  return value;
}

std::vector<std::string> TabFields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

}  // namespace

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
    for (size_t f = 0; f < fields.size() && f < rows[r].size(); ++f) {
      if (fields[f] == "*") {
        records[r].deleted = rows[r][f] == "*";
      } else {
        records[r].values.emplace_back(fields[f], Unescaped(rows[r][f]));
      }
    }
  }
  Table(file, records);
}

void AuroraInstallation::TablesFrom(std::string_view folder) {
  for (std::string_view file : kAuroraTableFiles) {
    std::string data = std::string(folder) + "/" + std::string(file.substr(0, file.find('.')));
    std::string path = std::string(LUMBRA_SOURCE_DIR) + "/tests/data/" + data + ".tsv";
    if (!Env::Default()->FileExists(path)) continue;
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : SplitLines(TestData(data + ".tsv"))) {
      rows.push_back(TabFields(line));
    }
    Table(file, rows.at(0), std::vector(rows.begin() + 1, rows.end()));
  }
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

std::string AuroraInstallation::Listing(std::string_view file) const {
  std::string out;
  for (const RecordValues& values : Records(file)) {
    std::string line;
    for (const DbfColumn& c : AuroraLayout(file)) {
      const std::string& value = values.at(c.name);
      if (!value.empty()) line += (line.empty() ? "" : "\t") + c.name + "=" + value;
    }
    out += line + "\n";
  }
  return out;
}

std::string AuroraInstallation::IndexDifferences() const {
  std::string out;
  for (std::string_view file : kAuroraTableFiles) {
    std::string path = dir_.Path("data\\" + std::string(file)), text;
    if (!Env::Default()->FileExists(path)) continue;
    bool agrees = false;
    Status s = CheckIndex(Env::Default(), path, [&text](std::string_view p) { text += p; }, &agrees);
    if (!s.ok()) out += s.ToString() + "\n";
    if (!agrees) out += text;
  }
  return out;
}

std::string CodedData(std::string_view relative_path) {
  return Coded(SplitLines(TestData(relative_path)));
}

}  // namespace lumbra::test
