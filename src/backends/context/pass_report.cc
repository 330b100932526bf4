#include "backends/context/pass_report.h"

#include "text/lines.h"

namespace lumbra {
namespace {

size_t LineHash(std::string_view line) { return std::hash<std::string_view>()(line); }

std::string Lines(size_t n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); }

}  // namespace

bool NeedsAction(Trouble trouble) {
  return trouble != Trouble::kKept && trouble != Trouble::kLockHeld &&
         trouble != Trouble::kRejected;
}

Trouble TroubleOf(const Status& s, Trouble otherwise) {
  if (s.IsDiskFull()) return Trouble::kDiskFull;
  if (s.IsBusy()) return Trouble::kLockHeld;
  return otherwise;
}

void PassReport::HandedIn(int device, std::string_view bytes) {
  devices_[device].handed_in = true;
  LineReader reader(bytes);
  std::string_view line;
  while (reader.Next(&line)) handed_in_lines_.insert(LineHash(line));
}

void PassReport::LinesPlaced(int device, const PlacedLines& placed) {
  DeviceFacts& d = devices_[device];
  d.counts += placed.counts;
  const std::string dev = "device " + std::to_string(device) + ": ";
  if (placed.counts.kept > 0) {
    d.kept_reason = placed.kept_reason;
    Failed(placed.kept_trouble,
           dev + Lines(placed.counts.kept) + " kept for the next pass: " + placed.kept_reason);
  }
  if (placed.counts.rejected > 0) {
    d.rejected.push_back(RejectedFile{placed.rejected_file, placed.counts.rejected});
    Failed(Trouble::kRejected, dev + Lines(placed.counts.rejected) + " rejected (" +
                                   placed.rejected_file + "): " + placed.rejected_reason);
  }
}

void PassReport::FileRejected(int device, const std::string& path, size_t lines,
                              const std::string& reason) {
  DeviceFacts& d = devices_[device];
  d.counts.rejected += lines;
  d.rejected.push_back(RejectedFile{path, lines});
  Failed(Trouble::kRejected, "device " + std::to_string(device) + ": " + Lines(lines) +
                                 " rejected (" + path + "): " + reason);
}

TableFact& PassReport::Table(std::string_view table) {
  for (TableFact& t : tables_) {
    if (t.table == table) return t;
  }
  TableFact fact;
  fact.table = std::string(table);
  tables_.push_back(std::move(fact));
  return tables_.back();
}

void PassReport::TableWritten(std::string_view table, int64_t rows, std::string_view note) {
  TableFact& t = Table(table);
  t.written = true;
  t.rows = rows;
  t.note = std::string(note);
}

void PassReport::TableLeft(std::string_view table, std::string_view reason,
                           const Status& failure) {
  TableFact& t = Table(table);
  // A table written earlier in the pass stays written: a later step that
  // finds nothing to add leaves it as it is.
  if (!t.written) t.note = std::string(reason);
  if (!failure.ok()) {
    Failed(TroubleOf(failure, Trouble::kTableNotWritten),
           "table " + std::string(table) + " not written: " + failure.ToString());
  }
}

void PassReport::Failed(Trouble trouble, std::string text) {
  failures_.push_back(Failure{trouble, std::move(text)});
}

bool PassReport::WasHandedIn(std::string_view line) const {
  return handed_in_lines_.count(LineHash(line)) != 0;
}

void PassReport::Abandon() {
  std::function<void()> handler = std::move(on_abandon_);
  on_abandon_ = nullptr;
  if (handler) handler();
}

}  // namespace lumbra
