// An Aurora installation in a temporary folder for the back-end's tests:
// the working folder with "1\", a data folder "data" with the accounting
// package's tables, written with the project's own DBF writer, and the
// posted tables read back record by record through the engine.
#ifndef LUMBRA_TESTS_SUPPORT_AURORA_INSTALLATION_H_
#define LUMBRA_TESTS_SUPPORT_AURORA_INSTALLATION_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backends/aurora/aurora_dbf_writer.h"
#include "support/test_util.h"

namespace lumbra::test {

// One record: field name and value pairs.
inline DbfRecord Rec(std::vector<std::pair<std::string, std::string>> values,
                     bool deleted = false) {
  return DbfRecord{std::move(values), deleted};
}

// A live record as the engine reads it: every field, trimmed, memos whole.
using RecordValues = std::map<std::string, std::string>;

class AuroraInstallation {
 public:
  // The pass runs on env; the tables are written and read back directly.
  explicit AuroraInstallation(Env* env = Env::Default());
  const TempDir& dir() const { return dir_; }
  RunContext& ctx() { return run_.ctx(); }

  // Writes the table file (one of kAuroraTableFiles) into the data folder.
  void Table(std::string_view file, const std::vector<DbfRecord>& records);
  // The same from rows of values for the fields named, in that order; "\r"
  // and "\n" in a value stand for CR and LF, a field named "*" marks
  // deleted records with "*".
  void Table(std::string_view file, const std::vector<std::string>& fields,
             const std::vector<std::vector<std::string>>& rows);
  // Every table described under tests/data/<folder>/, "DMASTER.tsv" for
  // DMASTER.DBF: a line of field names, then a record a line, its values
  // tab-separated, as above.
  void TablesFrom(std::string_view folder);
  // Every table not in the data folder yet, empty, and Flags.dbf with its
  // counters at link and invoice number.
  void CompleteWith(int link, int invnum);
  // The live records of a table file in the data folder, top to bottom, and
  // one field of each.
  std::vector<RecordValues> Records(std::string_view file) const;
  std::vector<std::string> Column(std::string_view file, const std::string& field) const;
  // The live records, one a line (LF), as their non-empty fields
  // "NAME=value" tab-separated: the form of the expected tables under
  // tests/data/.
  std::string Listing(std::string_view file) const;
  std::string Log() const { return dir_.Read("Lumbra.log"); }
  // What `lumbra dbf --check` finds wrong with the structural indexes of
  // the tables in the data folder; empty when every tag agrees with its
  // table.
  std::string IndexDifferences() const;

 private:
  TempDir dir_;
  TestRun run_;
};

// A device table stored decoded under tests/data/ (one row a line), coded
// as the devices read it.
std::string CodedData(std::string_view relative_path);

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_AURORA_INSTALLATION_H_
