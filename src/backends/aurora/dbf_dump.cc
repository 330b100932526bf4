#include "backends/aurora/dbf_dump.h"

#include <map>
#include <memory>
#include <vector>

#include "backends/aurora/cdx_index.h"
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
// Lines of one kind of difference shown per tag.
constexpr int kShownPerKind = 20;

// The table and its structural index; *index is null when it has none,
// and a line saying so (or why it is not checked) has gone to write.
Status OpenIndexed(Env* env, const std::string& path,
                   const std::function<void(std::string_view)>& write,
                   std::unique_ptr<dbf::DbfTable>* table, dbf::StructuralIndex** index) {
  Status s = dbf::DbfTable::Open(env, NativePath(path), false, table);
  if (!s.ok()) return s;
  dbf::DbfTable& t = **table;
  *index = t.structural_index();
  if (!t.index_status().ok()) return t.index_status();
  if (*index == nullptr) {
    write(t.path() + (!t.has_structural_index() ? ": no structural index"
                      : t.index_path().empty()
                          ? ": its header announces a structural index, but there is no .CDX"
                          : ": its index " + t.index_path() +
                                " is no FoxPro compound index; not checked") +
          "\n");
  }
  return Status::OK();
}

std::string TagLine(const dbf::IndexTag& tag) {
  std::string line = "tag " + tag.name + ": key " + tag.header.key_expr;
  if (!tag.header.for_expr.empty()) line += ", for " + tag.header.for_expr;
  if (tag.candidate()) {
    line += ", candidate";
  } else if (tag.unique()) {
    line += ", unique";
  }
  if (tag.header.descending) line += ", descending";
  return line + "\n";
}

// Differences of one tag, at most kShownPerKind lines of each kind.
class Differences {
 public:
  void Add(const std::string& kind, const std::string& line) {
    int& n = counts_[kind];
    if (++n <= kShownPerKind) lines_.push_back(line);
  }
  bool empty() const { return counts_.empty(); }
  std::string Text(const std::string& tag) const {
    std::string out;
    for (const std::string& line : lines_) out += "tag " + tag + ": " + line + "\n";
    for (const auto& [kind, n] : counts_) {
      if (n > kShownPerKind) {
        out += "tag " + tag + ": ... and " + std::to_string(n - kShownPerKind) + " more " + kind + "\n";
      }
    }
    return out;
  }

 private:
  std::map<std::string, int> counts_;
  std::vector<std::string> lines_;
};

std::string Quoted(const dbf::IndexTag& tag, std::string_view key) {
  return "\"" + dbf::KeyText(tag, key) + "\"";
}

// The tag's entries against the keys its expressions give the records.
Status CheckTag(dbf::DbfTable& table, dbf::StructuralIndex& index, const dbf::IndexTag& tag,
                Differences* out, size_t* keys, std::string* note) {
  std::vector<std::string> problems;
  std::vector<std::pair<std::string, uint32_t>> entries;
  Status s = index.ScanTag(
      tag, [&entries](const std::string& key, uint32_t recno) { entries.emplace_back(key, recno); },
      &problems);
  if (!s.ok()) return s;
  *keys = entries.size();
  for (const std::string& p : problems) out->Add("tree problems", p);
  const uint32_t count = table.record_count();
  std::vector<std::string> expected(count + 1);
  std::vector<bool> included(count + 1, false);
  std::map<std::string, uint32_t> first_of_key;  // unique tags: the records' distinct keys
  for (uint32_t r = 1; r <= count; ++r) {
    std::string_view record;
    s = table.Record(r, &record);
    if (!s.ok()) return s;
    included[r] = dbf::TagKey(tag, record, &expected[r]);
    if (included[r] && tag.unique()) first_of_key.emplace(expected[r], r);
  }
  std::vector<int> seen(count + 1, 0);
  std::map<std::string, int> keys_seen;
  for (const auto& [key, recno] : entries) {
    std::string record = "record " + std::to_string(recno);
    if (recno < 1 || recno > count) {
      out->Add("keys beyond the table", "key " + Quoted(tag, key) + " for " + record +
                                            ", beyond the table's end");
      continue;
    }
    if (++seen[recno] == 2) out->Add("records keyed twice", record + " has more than one key");
    if (!included[recno]) {
      out->Add("records the FOR expression leaves out",
               record + " has a key, but the FOR expression leaves it out");
    } else if (expected[recno] != key) {
      out->Add("wrong keys", record + " is keyed as " + Quoted(tag, key) + ", its key is " +
                                 Quoted(tag, expected[recno]));
    }
    if (tag.unique() && ++keys_seen[key] == 2) {
      out->Add("keys held twice", "key " + Quoted(tag, key) + " is held more than once");
    }
  }
  size_t unheld = 0, deleted = 0;
  for (uint32_t r = 1; r <= count; ++r) {
    if (!included[r] || seen[r] != 0) continue;
    std::string_view record;
    s = table.Record(r, &record);
    if (!s.ok()) return s;
    if (record[0] == '*') {
      ++deleted;
    } else if (!tag.unique()) {
      out->Add("records without a key", "record " + std::to_string(r) + " has no key");
    } else if (keys_seen.count(expected[r]) == 0 && first_of_key[expected[r]] == r) {
      ++unheld;
    }
  }
  // FoxPro does not look for another record of a key when the one a
  // unique tag held changes; until the table is reindexed, the key is not
  // held at all. And an append that was undone leaves its record behind,
  // deleted and without keys. Neither is out of step with what programs
  // see of the table.
  if (unheld > 0) {
    *note += "tag " + tag.name + ": " + std::to_string(unheld) +
             " keys of the table not held (a unique tag gives them up when their first record "
             "changes; reindexing brings them back)\n";
  }
  if (deleted > 0) {
    *note += "tag " + tag.name + ": " + std::to_string(deleted) +
             " deleted records without a key (left by undone appends; packing or reindexing "
             "the table puts this right)\n";
  }
  return Status::OK();
}

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

Status DumpIndex(Env* env, const std::string& path,
                 const std::function<void(std::string_view)>& write) {
  std::unique_ptr<dbf::DbfTable> table;
  dbf::StructuralIndex* index = nullptr;
  Status s = OpenIndexed(env, path, write, &table, &index);
  if (!s.ok() || index == nullptr) return s;
  for (const dbf::IndexTag& tag : index->tags()) {
    std::string text = TagLine(tag);
    s = index->ScanTag(
        tag,
        [&](const std::string& key, uint32_t recno) {
          text += std::to_string(recno) + "\t";
          AppendValue(dbf::KeyText(tag, key), &text);
          text += "\n";
          if (text.size() >= kPieceBytes) {
            write(text);
            text.clear();
          }
        },
        nullptr);
    write(text + "\n");
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status CheckIndex(Env* env, const std::string& path,
                  const std::function<void(std::string_view)>& write, bool* agrees) {
  *agrees = false;
  std::unique_ptr<dbf::DbfTable> table;
  dbf::StructuralIndex* index = nullptr;
  Status s = OpenIndexed(env, path, write, &table, &index);
  if (!s.ok()) return s;
  if (index == nullptr) {
    *agrees = !table->has_structural_index() || !table->index_path().empty();
    return Status::OK();
  }
  bool all = true;
  for (const dbf::IndexTag& tag : index->tags()) {
    if (!tag.usable.ok()) {
      write("tag " + tag.name + ": key " + tag.header.key_expr + " not checked: " +
            tag.usable.message() + "\n");
      all = false;
      continue;
    }
    Differences differences;
    size_t keys = 0;
    std::string note;
    s = CheckTag(*table, *index, tag, &differences, &keys, &note);
    if (!s.ok()) return s;
    write(note);
    if (differences.empty()) {
      write("tag " + tag.name + ": " + std::to_string(keys) + " keys, as the table says\n");
    } else {
      write(differences.Text(tag.name));
      all = false;
    }
  }
  *agrees = all;
  return Status::OK();
}

}  // namespace lumbra
