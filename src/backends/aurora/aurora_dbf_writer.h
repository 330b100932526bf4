// Builds a new DBF table file (and its FPT memo file) in one go, with the
// engine's own field encoding. The demo installation, the benchmark and the
// tests create the back-end's tables with it; the pass itself never creates
// a table.
#ifndef LUMBRA_BACKENDS_AURORA_AURORA_DBF_WRITER_H_
#define LUMBRA_BACKENDS_AURORA_AURORA_DBF_WRITER_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace lumbra {

class Env;

struct DbfColumn {
  std::string name;  // at most 10 characters
  char type = 'C';   // C, N, F, D, L or M
  int length = 10;   // ignored for D (8), L (1) and M (10)
  int decimals = 0;
};

// One record: values by field name (case-insensitive); fields not named
// stay blank. Numbers, dates (yyyymmdd) and logicals are given as text.
struct DbfRecord {
  std::vector<std::pair<std::string, std::string>> values;
  bool deleted = false;
};

// Writes a FoxPro 2.x table (version 0xF5 with memo fields, else 0x03, code
// page Windows-1252) at path, replacing any file there; with memo fields
// the FPT file beside it (same name, extension ".FPT" or ".fpt" as the
// table's extension is written). InvalidArgument for a value that does not
// fit its field or a field name that is unknown.
Status WriteDbfTable(Env* env, const std::string& path, const std::vector<DbfColumn>& columns,
                     const std::vector<DbfRecord>& records);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_AURORA_DBF_WRITER_H_
