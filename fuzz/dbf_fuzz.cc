// DBF tables with their FPT or DBT memo files and their structural index
// (.CDX), read as `lumbra dbf` shows and checks them, and changed as the
// Aurora posting changes them. Input: the lengths of the table and of the
// memo file as four bytes each (least significant first), the table, the
// memo file, then the index. The memo file stands as both T.FPT and T.DBT,
// so every table version finds it.
//
// A table that could be read must still be readable after the engine has
// changed a record and added one, and an index that agreed with its table
// must still agree: the engine leaves alone what does not look right, and
// whatever it writes keeps the table and its index whole.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "backends/aurora/dbf_dump.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/table_engine.h"
#include "fuzz_support.h"

namespace {

using namespace lumbra;

// A value every field type takes, as the posting hands values over.
std::string ValueFor(char type) {
  switch (type) {
    case 'N': case 'F': case 'Y': case 'B': return "-1234.5678";
    case 'I': return "42";
    case 'D': return "20240229";
    case 'T': return "20240229 23:59:59";
    case 'L': return "T";
    case 'M': return "a memo\r\nof two lines";
    default: return "Caf\xE9 \xFF\"quoted\"";
  }
}

void ChangeAndAppend(const std::string& path, const std::vector<dbf::Field>& fields) {
  TableEngine engine(fuzz::FuzzEnv(), nullptr);
  engine.SetLockTimeout(0);
  engine.SetDeferredSync(true);
  if (engine.Use(path, "T", TableEngine::kReadWrite, TableEngine::kDriverDbf) == 0) return;
  engine.SetDeleted(true);
  engine.GoTop();
  for (int n = 0; n < 50 && !engine.Eof(); ++n, engine.Skip(1)) {
    for (const dbf::Field& f : fields) engine.GetString(f.name);
  }
  engine.GoTop();
  for (bool append : {false, true}) {
    for (const dbf::Field& f : fields) {
      if (f.hidden) continue;
      int type = f.memo ? TableEngine::kValueMemo : TableEngine::kValueOrdinary;
      engine.Replace(f.name, type, ValueFor(f.type));
    }
    if (append) engine.Append();
    engine.Commit();
    engine.GoBottom();
    engine.Skip(1);
  }
  engine.CloseAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input = fuzz::Bytes(data, size);
  if (input.size() < 8) return 0;
  size_t table_size = dbf::ReadLE32(input.data());
  size_t memo_size = dbf::ReadLE32(input.data() + 4);
  input.remove_prefix(8);
  std::string_view table = input.substr(0, std::min(table_size, input.size()));
  input.remove_prefix(table.size());
  std::string_view memo = input.substr(0, std::min(memo_size, input.size()));
  input.remove_prefix(memo.size());
  fuzz::Run run;
  run.scratch().Write("T.DBF", table);
  run.scratch().Write("T.FPT", memo);
  run.scratch().Write("T.DBT", memo);
  if (!input.empty()) run.scratch().Write("T.CDX", input);
  const std::string path = run.scratch().Path("T.DBF");
  Env* env = fuzz::FuzzEnv();

  std::string shown;
  auto ignore = [](std::string_view) {};
  if (!DumpTable(env, path, /*show_deleted=*/true, &shown).ok()) return 0;
  bool agreed = false;
  bool checked = CheckIndex(env, path, ignore, &agreed).ok() && agreed;
  DumpIndex(env, path, ignore);
  std::vector<dbf::Field> fields;
  {
    std::unique_ptr<dbf::DbfTable> t;
    if (dbf::DbfTable::Open(env, path, false, &t).ok()) fields = t->header().fields;
  }
  ChangeAndAppend(path, fields);
  fuzz::Require(DumpTable(env, path, true, &shown).ok(),
                "the engine's changes left a table unreadable");
  if (checked) {
    bool agrees = false;
    fuzz::Require(CheckIndex(env, path, ignore, &agrees).ok() && agrees,
                  "the engine's changes left an index that no longer agrees with its table");
  }
  return 0;
}
