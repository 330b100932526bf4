// What a DBF table holds, shown to administrators (the "dbf" command).
#ifndef LUMBRA_BACKENDS_AURORA_DBF_DUMP_H_
#define LUMBRA_BACKENDS_AURORA_DBF_DUMP_H_

#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace lumbra {

class Env;

// Reads the table at path (opened for reading only, taking no locks) into
// *out: a first line of the field names, then one line per live record in
// table order; with show_deleted, deleted records too, and every line then
// begins with one more field: "*" for a deleted record, empty otherwise
// (empty on the first line as well). Values are separated by tabs and every
// line ends with a line feed. Values are the stored bytes: character fields
// without trailing blanks, numeric and float fields without blanks, dates as
// yyyymmdd (empty when blank), logicals as their letter (empty when blank),
// memos flattened as the device tables show them (FlattenMemo), picture and
// object memos as "(N bytes)", I and B fields as decimal numbers, Y fields
// with four decimals (12.3400), T fields as "yyyymmdd hh:mm:ss"; system
// fields such as _NullFlags are left out. A tab, carriage return or line
// feed still left in a value is shown as a blank. NotFound or Corruption
// when the table cannot be read; a memo that cannot be read shows what
// could be read of it.
Status DumpTable(Env* env, const std::string& path, bool show_deleted, std::string* out);

// The same, handed to write piece by piece (whole lines, about 64 KiB at a
// time), so that a table of any size is shown without being held in memory.
Status DumpTable(Env* env, const std::string& path, bool show_deleted,
                 const std::function<void(std::string_view)>& write);

// The table's structural index (.CDX), for `dbf --index`: for each tag a
// line "tag NAME: key EXPR[, for EXPR][, unique][, candidate][, descending]"
// and then its entries in index order, one a line: the record number, a
// tab, the key as people read it (see KeyText in cdx_index.h); an empty
// line after each tag. A table without one gives a line saying so. NotFound
// or Corruption when the table or its index cannot be read.
Status DumpIndex(Env* env, const std::string& path,
                 const std::function<void(std::string_view)>& write);

// Checks every tag of the table's structural index against the table, for
// `dbf --check`: every record (deleted ones too) that the tag's FOR
// expression lets in has exactly one entry, holding the key its
// expression gives, and no other record has one; the keys are in the
// tag's order and the tree holds together. A unique tag holds each key
// once, at a record that has it; keys it does not hold at all (FoxPro
// gives a key up when the record that held it changes), and deleted
// records without keys (an undone append leaves its record deleted), are
// counted in a note, not as a difference. One line per tag ("tag NAME: 120 keys, as the
// table says", or what differs, a line each, at most 20 of a kind) goes to
// write; *agrees is false when anything differs, or a tag's keys cannot
// be computed. A table without a structural index agrees (a line says
// so), unless its header announces one that is missing. NotFound or
// Corruption when the table or its index cannot be read.
Status CheckIndex(Env* env, const std::string& path,
                  const std::function<void(std::string_view)>& write, bool* agrees);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_DBF_DUMP_H_
