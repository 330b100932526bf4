#include "backends/aurora/cdx_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "backends/aurora/cdx_file.h"
#include "backends/aurora/cdx_index.h"
#include "backends/aurora/dbf_table.h"
#include "platform/env.h"

namespace lumbra {

using dbf::CdxHeader;
using dbf::CdxNode;
using dbf::kCdxPageSize;

namespace {

struct Entry {
  std::string key;
  uint32_t recno;
};

std::string TableName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return name.substr(0, name.rfind('.'));
}

// The tree of a tag's sorted entries: leaves filled as far as they go,
// then each level of interior nodes over the one below, up to a single
// root; pages numbered from first_page on, the root last.
std::vector<CdxNode> BuildTree(const std::vector<Entry>& entries, uint16_t key_length, char pad,
                               uint32_t first_page, uint32_t* root) {
  std::vector<CdxNode> nodes;
  std::vector<CdxNode> level;
  auto new_leaf = [key_length] {
    CdxNode n;
    n.attributes = dbf::kNodeLeaf;
    n.key_length = key_length;
    return n;
  };
  CdxNode leaf = new_leaf();
  size_t used = 0;
  uint32_t max_recno = 0;
  for (const Entry& e : entries) {
    std::string_view previous = leaf.size() == 0 ? std::string_view() : leaf.last_key();
    size_t key_bytes = dbf::LeafKeyBytes(previous, e.key, pad);
    uint32_t max = std::max(max_recno, e.recno);
    if (leaf.size() != 0 &&
        (leaf.size() + 1) * dbf::LeafEntryBytes(max, key_length) + used + key_bytes >
            dbf::kCdxLeafSpace) {
      level.push_back(std::move(leaf));
      leaf = new_leaf();
      used = 0;
      max = e.recno;
      key_bytes = dbf::LeafKeyBytes(std::string_view(), e.key, pad);
    }
    leaf.Insert(leaf.size(), e.key, e.recno);
    used += key_bytes;
    max_recno = max;
  }
  level.push_back(std::move(leaf));
  uint32_t next = first_page;
  for (;;) {
    for (size_t i = 0; i < level.size(); ++i) {
      level[i].left = i == 0 ? dbf::kCdxNoPage : next + static_cast<uint32_t>(i - 1) * kCdxPageSize;
      level[i].right = i + 1 == level.size() ? dbf::kCdxNoPage
                                             : next + static_cast<uint32_t>(i + 1) * kCdxPageSize;
    }
    uint32_t level_first = next;
    next += static_cast<uint32_t>(level.size()) * kCdxPageSize;
    if (level.size() == 1) {
      level[0].attributes |= dbf::kNodeRoot;
      *root = level_first;
      nodes.push_back(std::move(level[0]));
      return nodes;
    }
    std::vector<CdxNode> above;
    const size_t capacity = dbf::InteriorCapacity(key_length);
    for (size_t i = 0; i < level.size(); ++i) {
      if (i % capacity == 0) above.emplace_back().key_length = key_length;
      CdxNode& parent = above.back();
      parent.Insert(parent.size(), level[i].last_key(), level[i].recnos.back(),
                    level_first + static_cast<uint32_t>(i) * kCdxPageSize);
    }
    for (CdxNode& n : level) nodes.push_back(std::move(n));
    level = std::move(above);
  }
}

Status TagEntries(dbf::DbfTable& table, const dbf::IndexTag& tag, std::vector<Entry>* entries) {
  std::string key;
  for (uint32_t r = 1; r <= table.record_count(); ++r) {
    std::string_view record;
    Status s = table.Record(r, &record);
    if (!s.ok()) return s;
    if (dbf::TagKey(tag, record, &key)) entries->push_back(Entry{key, r});
  }
  const bool descending = tag.header.descending;
  std::stable_sort(entries->begin(), entries->end(), [descending](const Entry& a, const Entry& b) {
    return descending ? b.key < a.key : a.key < b.key;
  });
  if (tag.unique()) {
    entries->erase(std::unique(entries->begin(), entries->end(),
                               [](const Entry& a, const Entry& b) { return a.key == b.key; }),
                   entries->end());
  }
  return Status::OK();
}

uint16_t KeyLength(const dbf::XbaseExpr& key) {
  switch (key.type()) {
    case dbf::XType::kChar: return static_cast<uint16_t>(std::max(key.width(), 0));
    case dbf::XType::kInteger: return 4;
    case dbf::XType::kLogical: return 1;
    default: return 8;
  }
}

Status MarkTableIndexed(Env* env, const std::string& table_path) {
  std::unique_ptr<RandomRWFile> file;
  Status s = env->OpenRandomRW(table_path, true, &file);
  std::string flags;
  if (s.ok()) s = file->Read(dbf::kTableFlagsOffset, 1, &flags);
  if (s.ok() && flags.size() != 1) s = Status::Corruption(table_path + ": header cut short");
  if (s.ok()) s = file->Write(dbf::kTableFlagsOffset, std::string(1, static_cast<char>(flags[0] | 0x01)));
  return s;
}

}  // namespace

std::string StructuralIndexPath(const std::string& table_path) {
  size_t dot = table_path.rfind('.');
  size_t slash = table_path.find_last_of("/\\");
  std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                         ? table_path
                         : table_path.substr(0, dot);
  bool lower = dot != std::string::npos && dot + 1 < table_path.size() &&
               std::islower(static_cast<unsigned char>(table_path[dot + 1]));
  return stem + (lower ? ".cdx" : ".CDX");
}

Status WriteStructuralIndex(Env* env, const std::string& table_path,
                            const std::vector<IndexTagSpec>& wanted) {
  std::unique_ptr<dbf::DbfTable> table;
  Status s = dbf::DbfTable::Open(env, table_path, false, &table);
  if (!s.ok()) return s;
  std::vector<dbf::IndexTag> tags(wanted.size());
  for (size_t i = 0; i < wanted.size(); ++i) {
    dbf::IndexTag& tag = tags[i];
    tag.name = wanted[i].name;
    for (char& c : tag.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tag.header.key_expr = wanted[i].key;
    tag.header.for_expr = wanted[i].filter;
    tag.header.descending = wanted[i].descending;
    tag.header.options = static_cast<uint8_t>(dbf::kCdxCompact | dbf::kCdxCompound |
                                              (wanted[i].unique ? dbf::kCdxUnique : 0) |
                                              (wanted[i].candidate ? dbf::kCdxCandidate : 0) |
                                              (wanted[i].filter.empty() ? 0 : dbf::kCdxHasFor));
    std::unique_ptr<dbf::XbaseExpr> key;
    s = dbf::XbaseExpr::Compile(wanted[i].key, table->header(), TableName(table_path), &key);
    if (s.ok()) tag.header.key_length = KeyLength(*key);
    if (s.ok()) dbf::CompileTag(table->header(), TableName(table_path), &tag);
    if (s.ok()) s = tag.usable;
    if (s.ok() && (tag.header.key_length == 0 || tag.header.key_length > dbf::kCdxMaxKey ||
                   tag.name.empty() || tag.name.size() > 10)) {
      s = Status::InvalidArgument("bad length of key or name");
    }
    if (!s.ok()) return Status::InvalidArgument("tag " + tag.name + ": " + s.message());
  }
  std::sort(tags.begin(), tags.end(),
            [](const dbf::IndexTag& a, const dbf::IndexTag& b) { return a.name < b.name; });

  // The file header, the directory's root, then each tag: its header and
  // its tree.
  std::string out = std::string(dbf::kCdxHeaderSize + kCdxPageSize, '\0');
  CdxNode directory;
  directory.attributes = dbf::kNodeRoot | dbf::kNodeLeaf;
  directory.key_length = 10;
  for (dbf::IndexTag& tag : tags) {
    std::vector<Entry> entries;
    s = TagEntries(*table, tag, &entries);
    if (!s.ok()) return s;
    uint32_t header_at = static_cast<uint32_t>(out.size());
    std::vector<CdxNode> nodes = BuildTree(entries, tag.header.key_length, tag.pad(),
                                           header_at + dbf::kCdxHeaderSize, &tag.header.root);
    out += dbf::FormatCdxHeader(tag.header);
    for (const CdxNode& n : nodes) {
      std::string page;
      if (!dbf::EncodeNode(n, tag.header.key_length, tag.pad(), &page)) {
        return Status::InvalidArgument("tag " + tag.name + ": keys too long for a page");
      }
      out += page;
    }
    std::string name = tag.name;
    name.resize(10, ' ');
    directory.Insert(directory.size(), name, header_at);
  }
  CdxHeader file_header;
  file_header.root = dbf::kCdxHeaderSize;
  file_header.key_length = 10;
  file_header.options = dbf::kCdxCompact | dbf::kCdxCompound | dbf::kCdxStructural;
  std::string head = dbf::FormatCdxHeader(file_header), root;
  if (!dbf::EncodeNode(directory, 10, ' ', &root)) return Status::InvalidArgument("too many tags");
  out.replace(0, head.size(), head);
  out.replace(dbf::kCdxHeaderSize, root.size(), root);
  table.reset();
  s = env->WriteFile(StructuralIndexPath(table_path), out);
  return s.ok() ? MarkTableIndexed(env, table_path) : s;
}

}  // namespace lumbra
