#include "backends/aurora/dbf_dump.h"

#include <memory>

#include "backends/aurora/dbf_table.h"
#include "backends/aurora/dbf_values.h"
#include "backends/aurora/flatten_memo.h"
#include "text/paths.h"

namespace lumbra {
namespace {

void AppendValue(std::string_view value, std::string* out) {
  for (char c : value) out->push_back(c == '\t' || c == '\r' || c == '\n' ? ' ' : c);
}

constexpr size_t kPieceBytes = 64 << 10;

}  // namespace

Status DumpTable(Env* env, const std::string& path, bool show_deleted, std::string* out) {
  out->clear();
  return DumpTable(env, path, show_deleted, [out](std::string_view piece) { out->append(piece); });
}

Status DumpTable(Env* env, const std::string& path, bool show_deleted,
                 const std::function<void(std::string_view)>& write) {
  std::string text;
  std::string* out = &text;
  std::unique_ptr<dbf::DbfTable> table;
  Status s = dbf::DbfTable::Open(env, NativePath(path), false, &table);
  if (!s.ok()) return s;
  const std::vector<dbf::Field>& fields = table->header().fields;

  bool first = true;
  auto separate = [&first, out]() {
    if (!first) out->push_back('\t');
    first = false;
  };
  if (show_deleted) separate();
  for (const dbf::Field& f : fields) {
    if (f.hidden) continue;
    separate();
    AppendValue(f.name, out);
  }
  out->push_back('\n');

  std::string memo;
  for (uint32_t r = 1; r <= table->record_count(); ++r) {
    std::string_view rec;
    s = table->Record(r, &rec);
    if (!s.ok()) {
      write(text);
      return s;
    }
    bool deleted = rec[0] == '*';
    if (deleted && !show_deleted) continue;
    first = true;
    if (show_deleted) {
      separate();
      if (deleted) out->push_back('*');
    }
    for (const dbf::Field& f : fields) {
      if (f.hidden) continue;
      separate();
      std::string_view raw = rec.substr(f.offset, f.length);
      if (!f.memo) {
        AppendValue(dbf::DumpText(f, raw), out);
        continue;
      }
      bool is_text = true;
      table->ReadMemo(f, raw, &memo, &is_text);  // shows what could be read
      if (is_text) {
        AppendValue(FlattenMemo(MemoWithCrLf(memo)), out);
      } else {
        AppendValue("(" + std::to_string(memo.size()) + " bytes)", out);
      }
    }
    out->push_back('\n');
    if (text.size() >= kPieceBytes) {
      write(text);
      text.clear();
    }
  }
  write(text);
  return Status::OK();
}

}  // namespace lumbra
