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
DbfRecord Rec(std::vector<std::pair<std::string, std::string>> values, bool deleted = false);

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
  // Every table that was not written yet, empty, and Flags.dbf with its
  // counters at link and invoice number.
  void CompleteWith(int link, int invnum);
  // The live records of a table file in the data folder, top to bottom;
  // only the fields named when some are.
  std::vector<RecordValues> Records(std::string_view file,
                                    const std::vector<std::string>& only = {}) const;
  // The run log so far.
  std::string Log() const { return dir_.Read("Lumbra.log"); }
  std::string DataFile(std::string_view name) const { return dir_.Path("data\\" + std::string(name)); }

 private:
  TempDir dir_;
  TestRun run_;
  std::vector<std::string> written_;
};

}  // namespace lumbra::test

#endif  // LUMBRA_TESTS_SUPPORT_AURORA_INSTALLATION_H_
