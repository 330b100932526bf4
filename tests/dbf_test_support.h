// Helpers of the DBF engine tests: scratch folders, tables built byte by
// byte, the engine's reading of a whole table, files that call a hook on
// each write, and the cross-check script tests/tools/dbf_crosscheck.py
// (Debian's python3 with python3-dbfread and python3-dbf).
#ifndef LUMBRA_TESTS_DBF_TEST_SUPPORT_H_
#define LUMBRA_TESTS_DBF_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backends/aurora/cdx_file.h"
#include "backends/aurora/cdx_index.h"
#include "backends/aurora/dbf_table.h"
#include "backends/aurora/table_engine.h"
#include "platform/env.h"
#include "support/hooked_env.h"
#include "support/test_util.h"

namespace lumbra::dbftest {

// A temporary folder whose files are named as dir / "T.DBF".
class ScratchDir : public test::TempDir {
 public:
  std::string operator/(const std::string& name) const { return Path(name); }
};

inline std::string ReadAll(const std::string& path) {
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string SourcePath(const std::string& rel) {
  return std::string(LUMBRA_SOURCE_DIR) + "/" + rel;
}

inline std::string LE(uint32_t v, int bytes = 4) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

// A number right-aligned in width, as numeric fields and memo pointers
// written as text hold it.
inline std::string Num(long v, size_t width) {
  std::string s = std::to_string(v);
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

struct FieldSpec {
  std::string name;
  char type;
  int length;
  int decimals = 0;
  uint8_t flags = 0;
};

struct Row {
  bool deleted;
  std::vector<std::string> values;  // stored bytes, padded with blanks to the field's length
};

// A table as other programs write one (Visual FoxPro versions with the
// 263-byte back-link area), dated 2006-03-05.
inline std::string BuildDbf(uint8_t version, const std::vector<FieldSpec>& fields,
                            const std::vector<Row>& rows, bool end_marker = true,
                            uint8_t table_flags = 0) {
  size_t header = 32 + 32 * fields.size() + 1 + (version == 0x30 || version == 0x31 ? 263 : 0);
  size_t record = 1;
  for (const FieldSpec& f : fields) record += static_cast<size_t>(f.length);
  std::string out = std::string(1, static_cast<char>(version)) + "\x6A\x03\x05" +
                    LE(static_cast<uint32_t>(rows.size())) + LE(header, 2) + LE(record, 2) +
                    std::string(16, '\0') + static_cast<char>(table_flags) + "\x03" +
                    std::string(2, '\0');
  for (const FieldSpec& f : fields) {
    std::string d = f.name;
    d.resize(11, '\0');
    d += std::string(1, f.type) + LE(0) + static_cast<char>(f.length) +
         static_cast<char>(f.decimals) + static_cast<char>(f.flags) +
         ((f.flags & 0x0C) == 0x0C ? LE(1) + '\x01' : std::string(5, '\0'));
    out += d + std::string(8, '\0');
  }
  out += '\r';
  out.resize(header, '\0');
  for (const Row& r : rows) {
    out += r.deleted ? '*' : ' ';
    for (size_t i = 0; i < fields.size(); ++i) {
      std::string v = i < r.values.size() ? r.values[i] : "";
      v.resize(static_cast<size_t>(fields[i].length), ' ');
      out += v;
    }
  }
  return end_marker ? out + '\x1A' : out;
}

// A FoxPro memo file holding the texts; (*blocks)[i] is where text i starts.
inline std::string BuildFpt(uint32_t block_size, const std::vector<std::string>& memos,
                            std::vector<uint32_t>* blocks) {
  auto be = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  std::string body;
  uint32_t next = (512 + block_size - 1) / block_size;
  for (const std::string& m : memos) {
    blocks->push_back(next);
    std::string b = be(1) + be(static_cast<uint32_t>(m.size())) + m;
    b.resize((b.size() + block_size - 1) / block_size * block_size, '\0');
    body += b;
    next += static_cast<uint32_t>(b.size() / block_size);
  }
  std::string head = be(next) + '\0' + '\0' + be(block_size).substr(2);
  head.resize(next * block_size - body.size(), '\0');
  return head + body;
}

// The engine's reading of a whole table, deleted records included, in the
// form the cross-check script compares: the field names, then per record
// "*" or "-" and each field's text (GetMemo for memos), tab-separated;
// bytes below 0x20, from 0x7F and "%" as %XX. Empty when it cannot be opened.
inline std::string ReadingOf(const std::string& path) {
  auto escape = [](const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += c < 0x20 || c >= 0x7F || c == '%' ? std::string(hex) : std::string(1, c);
    }
    return out;
  };
  std::unique_ptr<dbf::DbfTable> table;
  if (!dbf::DbfTable::Open(Env::Default(), path, false, &table).ok()) return "";
  std::vector<dbf::Field> fields;
  for (const dbf::Field& f : table->header().fields) {
    if (!f.hidden) fields.push_back(f);
  }
  TableEngine engine(Env::Default(), nullptr);
  if (engine.Use(path, "t", TableEngine::kReadOnly, TableEngine::kDriverDbf) == 0) return "";
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "\t" : "") + escape(fields[i].name);
  out += "\n";
  for (engine.GoTop(); !engine.Eof(); engine.Skip(1)) {
    out += engine.Deleted() ? "*" : "-";
    for (const dbf::Field& f : fields) {
      out += "\t" + escape(f.memo ? engine.GetMemo(f.name, 0) : engine.GetString(f.name));
    }
    out += "\n";
  }
  return out;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The cross-check scripts need Linux's python3 and perl with their DBF and
// index readers, which a Windows build (under Wine) cannot run.
inline bool CrossCheckAvailable() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

// Runs the cross-check script; its exit status, its output (with its
// errors) in *output. The readers are Debian's packages, installed for the
// system's python3, which another python3 earlier on the PATH may lack.
inline int RunCrossCheck(const std::string& args, std::string* output) {
#ifdef _WIN32
  *output = "no cross-check script on Windows: " + args;
  return -1;
#else
  std::string python = test::FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  return test::RunShell(python + " " + Quote(SourcePath("tests/tools/dbf_crosscheck.py")) + " " +
                            args + " 2>&1",
                        output);
#endif
}

// Runs the XBase::Index reader of structural indexes
// (tests/tools/cdx_crosscheck.pl, Debian's perl with libdbd-xbase-perl).
// Linux only, as the cross-check script.
inline int RunIndexReader(const std::string& args, std::string* output) {
#ifdef _WIN32
  *output = "no index reader on Windows: " + args;
  return -1;
#else
  return test::RunShell("/usr/bin/perl " + Quote(SourcePath("tests/tools/cdx_crosscheck.pl")) + " " +
                            args + " 2>&1",
                        output);
#endif
}

// The levels of a tag's tree, counted down its first children; 0 when the
// table has no such tag.
inline int TagDepth(const std::string& table, const std::string& tag_name) {
  std::unique_ptr<dbf::DbfTable> t;
  if (!dbf::DbfTable::Open(Env::Default(), table, false, &t).ok() || !t->structural_index()) return 0;
  std::unique_ptr<dbf::CdxFile> file;
  if (!dbf::CdxFile::Open(Env::Default(), t->index_path(), false, &file).ok()) return 0;
  for (const dbf::IndexTag& tag : t->structural_index()->tags()) {
    if (tag.name != tag_name) continue;
    uint32_t page = tag.header.root;
    for (int depth = 1; depth < 64; ++depth) {
      std::string bytes;
      dbf::CdxNode node;
      if (!file->Read(page, dbf::kCdxPageSize, &bytes).ok() ||
          !dbf::DecodeNode(bytes, tag.header.key_length, tag.pad(), &node).ok()) {
        return 0;
      }
      if (node.leaf()) return depth;
      page = node.children[0];
    }
  }
  return 0;
}

// The engine reads the table as each reader named ("dbfread", "dbf") does.
inline void ExpectSameReading(const std::string& table, const std::vector<std::string>& readers) {
  ScratchDir scratch;
  std::string reading = ReadingOf(table), output;
  ASSERT_FALSE(reading.empty()) << table;
  WriteAll(scratch / "reading", reading);
  for (const std::string& r : readers) {
    EXPECT_EQ(RunCrossCheck("compare " + r + " " + Quote(table) + " " + Quote(scratch / "reading"),
                            &output),
              0)
        << r << " on " << table << ":\n"
        << output;
  }
}

}  // namespace lumbra::dbftest

#endif  // LUMBRA_TESTS_DBF_TEST_SUPPORT_H_
