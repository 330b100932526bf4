// TableEngine: the DBF tables of the Aurora back-end as its export and
// posting reach them: one current table at a time, moved through record by
// record, read as text and changed field by field.
//
// Use opens a table in a new work area and makes it current, with its
// first record current; every other call acts on the current table. While
// no table is current (before Use, after Close, after a failed Use) the
// engine acts as on an empty table: Eof and Bof are true, texts are empty,
// changes are ignored.
//
// Moving past the last record (Skip(1) from the last record, or any move on
// an empty table) leaves the new-record buffer current: a blank record that
// Replace fills and Append adds to the end of the table. A table without a
// record to show (empty, or every record deleted and passed over) is at its
// end and at its beginning at once, whatever the moves. Replace on an
// existing record changes the record buffer; the change is written by
// Commit, by the next move, or by Close, under the record's lock. Memo texts
// are written as new memo blocks; the blocks they replace are left unused.
//
// Tables are shared with the accounting package: changes are made under the
// byte-range locks FoxPro-style programs use (see dbf_format.h), waiting at
// most the lock timeout; a change that cannot be locked in time is not made
// and the run log says so. Once a table has kept a change out for the whole
// timeout, later changes to it (until this engine is destroyed) try its
// locks once without waiting, so a table held for hours by another program
// does not hold up the pass for hours. A failed call leaves its reason in
// last_error().
//
// Commit and Close force what was written to the disk. With deferred syncing
// on, they only write it (other programs see it at once, and a process that
// stops keeps it), and SyncAll or CloseAll force every table written since
// to the disk in one go.
#ifndef LUMBRA_BACKENDS_AURORA_TABLE_ENGINE_H_
#define LUMBRA_BACKENDS_AURORA_TABLE_ENGINE_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/status.h"

namespace lumbra {

class Env;
class RunLog;

namespace dbf {
class DbfTable;
}

class TableEngine {
 public:
  static constexpr int kReadWrite = 0;
  static constexpr int kReadOnly = 1;
  static constexpr int kDriverDbf = 2;
  static constexpr int kValueOrdinary = 1024;
  static constexpr int kValueMemo = 3072;
  static constexpr int kDefaultLockTimeoutMs = 3000;

  // log may be null: nothing is logged then.
  TableEngine(Env* env, RunLog* log);
  // Closes every table, writing pending changes.
  ~TableEngine();
  TableEngine(const TableEngine&) = delete;
  TableEngine& operator=(const TableEngine&) = delete;

  // How long a change waits for a lock held by another program.
  void SetLockTimeout(int ms) { lock_timeout_ms_ = ms; }
  // Off by default: Commit and Close sync at once.
  void SetDeferredSync(bool on) { deferred_sync_ = on; }
  // Forces every table written and not yet forced to the disk, open or
  // closed.
  void SyncAll();

  // Opens the table at path (a backslash separates folders; a name missing
  // as given is looked up case-insensitively) for reading and changing
  // (open_mode 0) or reading only (1). The driver type is accepted as given
  // (always 2, DBF tables). Returns the work-area number, 0 when the table
  // could not be opened.
  int Use(const std::string& path, const std::string& alias, int open_mode, int driver);
  // Whether the moves of the current table pass over deleted records.
  void SetDeleted(bool skip_deleted);
  void GoTop();
  void GoBottom();
  // Moves n records forward (n > 0) or back (n < 0).
  void Skip(int n);
  // Makes record recno current, read afresh from the file together with
  // the record count, so that changes and records other programs have
  // written since are seen; a deleted record too, whatever SetDeleted says.
  // A number outside 1 to RecCount() leaves the new-record buffer current
  // (Eof). False then, and with no table.
  bool Goto(long recno);
  bool Eof();
  bool Bof();
  // Whether the current record is marked deleted.
  bool Deleted();
  // The current record's number (the record count + 1 at the new-record
  // buffer), and the number of records; 0 with no table.
  long RecNo();
  long RecCount();

  // The field of the current record as text: a date as 8 digits yyyymmdd
  // (blanks when empty), a memo field as its memo, every other field as
  // dbf_values.h's FieldText gives it. Empty for an unknown field.
  std::string GetString(const std::string& field);
  // The whole memo, line breaks as carriage return and line feed (a lone
  // carriage return or line feed becomes the pair). line_width 0 is the
  // only width used; any other width gives the same text.
  std::string GetMemo(const std::string& field, int line_width);
  // Stores value into the field of the record buffer (see EncodeText in
  // dbf_values.h); memo fields (whatever the value type) take the text as
  // their new memo.
  void Replace(const std::string& field, int value_type, const std::string& value);
  // Adds the record buffer to the end of the table as a new record, which
  // becomes current. On an existing record, a copy of it with its pending
  // changes is added and the record itself is left as stored.
  void Append();
  // Writes the pending changes of the current record and forces the
  // table's writes to the disk.
  void Commit();
  void Close();
  // Closes every table and forces every written table to the disk.
  void CloseAll();

  const Status& last_error() const { return last_error_; }
  void ClearError() { last_error_ = Status::OK(); }

 private:
  struct WorkArea;

  WorkArea* Current();
  void Fail(Status s, bool log);
  void Log(const std::string& message);
  void WarnOnce(const std::string& key, const std::string& message);
  void NoteWrite(WorkArea& a);
  void Load(WorkArea& a, unsigned long recno);
  bool Visible(WorkArea& a, unsigned long recno);
  void Flush(WorkArea& a);
  void SyncArea(WorkArea& a, bool now);
  void CloseArea(WorkArea& a);
  int FieldOf(WorkArea& a, const std::string& name);
  int LockTimeout(const dbf::DbfTable& t) const;
  void NoteLockFailure(const dbf::DbfTable& t, const Status& s);

  Env* env_;
  RunLog* log_;
  int lock_timeout_ms_ = kDefaultLockTimeoutMs;
  bool deferred_sync_ = false;
  std::set<std::string> unsynced_;   // files of closed tables, still to be synced
  std::set<std::string> lock_lost_;  // tables that kept a change out
  std::map<int, std::unique_ptr<WorkArea>> areas_;
  int current_ = 0;
  Status last_error_;
  std::set<std::string> warned_;
};

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_AURORA_TABLE_ENGINE_H_
