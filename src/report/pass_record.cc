#include "report/pass_record.h"

#include <charconv>
#include <cstdio>

#include "text/dates.h"
#include "text/lines.h"

namespace lumbra {
namespace {

constexpr std::string_view kFormatLine = "lumbra pass record\t1";

struct TroubleName {
  Trouble trouble;
  std::string_view name;
};
constexpr TroubleName kTroubleNames[] = {
    {Trouble::kKept, "kept"},         {Trouble::kLockHeld, "lock"},
    {Trouble::kRejected, "rejected"}, {Trouble::kDataMissing, "data"},
    {Trouble::kDatabaseSilent, "database"}, {Trouble::kDiskFull, "disk"},
    {Trouble::kTableNotWritten, "table"},   {Trouble::kFileNotWritten, "file"},
    {Trouble::kPassStopped, "stopped"},     {Trouble::kOther, "other"}};

constexpr std::string_view kEndNames[] = {"running", "ended", "stopped"};

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    out.push_back(c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c);
  }
  return out;
}

std::string Stamp(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::string Stamp(const std::optional<LocalTime>& t) { return t ? Stamp(*t) : std::string(); }

template <typename Int>
bool ToNumber(std::string_view text, Int* out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseStamp(std::string_view text, LocalTime* t) {
  int v[6];
  if (text.size() != 14 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    if (!ToNumber(text.substr(at, widths[i]), &v[i])) return false;
    at += widths[i];
  }
  *t = LocalTime{v[0], v[1], v[2], v[3], v[4], v[5]};
  std::optional<Date> date = MakeDate(t->year, t->month, t->day);
  return date && date->year == t->year && date->month == t->month && date->day == t->day &&
         t->hour < 24 && t->minute < 60 && t->second < 61;
}

// An empty field is a time never known.
bool ParseOptionalStamp(std::string_view text, std::optional<LocalTime>* t) {
  if (text.empty()) {
    t->reset();
    return true;
  }
  LocalTime parsed;
  if (!ParseStamp(text, &parsed)) return false;
  *t = parsed;
  return true;
}

bool ParseCounts(const std::vector<std::string>& f, size_t at, LineCounts* c) {
  return ToNumber(f[at], &c->posted) && ToNumber(f[at + 1], &c->kept) &&
         ToNumber(f[at + 2], &c->rejected) && ToNumber(f[at + 3], &c->passed_over);
}

std::string Counts(const LineCounts& c) {
  return std::to_string(c.posted) + "\t" + std::to_string(c.kept) + "\t" +
         std::to_string(c.rejected) + "\t" + std::to_string(c.passed_over);
}

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    fields.push_back(Unescaped(line.substr(start, tab - start)));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

bool ParsePass(const std::vector<std::string>& f, PassEntry* p) {
  if (f.size() != 10 || !ParseStamp(f[1], &p->start) || !ToNumber(f[2], &p->duration_ms) ||
      !ParseCounts(f, 4, &p->totals) || !ToNumber(f[8], &p->failures_left_out)) {
    return false;
  }
  for (size_t i = 0; i < std::size(kEndNames); ++i) {
    if (f[3] == kEndNames[i]) p->end = static_cast<PassEnd>(i);
  }
  p->backend = f[9];
  return f[3] == kEndNames[static_cast<size_t>(p->end)];
}

bool ParseFailure(const std::vector<std::string>& f, Failure* failure) {
  if (f.size() != 3) return false;
  for (const TroubleName& t : kTroubleNames) {
    if (f[1] == t.name) {
      *failure = Failure{t.trouble, f[2]};
      return true;
    }
  }
  return false;
}

bool ParseDevice(const std::vector<std::string>& f, int* number, DeviceEntry* d) {
  if (f.size() != 10 || !ToNumber(f[1], number) || *number < 0 || *number > 99 ||
      !ParseOptionalStamp(f[2], &d->handed_in) || !ParseOptionalStamp(f[3], &d->posted) ||
      !ParseOptionalStamp(f[4], &d->kept_since) || !ParseCounts(f, 5, &d->last)) {
    return false;
  }
  d->kept_reason = f[9];
  return true;
}

bool ParseRejected(const std::vector<std::string>& f, RejectedEntry* r) {
  if (f.size() != 5 || !ToNumber(f[1], &r->device) || !ToNumber(f[2], &r->lines) ||
      !ParseStamp(f[3], &r->written) || f[4].empty()) {
    return false;
  }
  r->path = f[4];
  return true;
}

bool ParseTable(const std::vector<std::string>& f, TableFact* t) {
  if (f.size() != 5 || f[1].empty() || (f[2] != "0" && f[2] != "1")) return false;
  if (!ToNumber(f[3], &t->rows)) return false;
  t->table = f[1];
  t->written = f[2] == "1";
  t->note = f[4];
  return true;
}

// One line into the record; false when it cannot be read.
bool ParseLine(std::string_view line, PassRecord* r) {
  std::vector<std::string> f = Fields(line);
  const std::string& kind = f[0];
  if (kind == "pass") {
    PassEntry p;
    if (!ParsePass(f, &p)) return false;
    r->passes.push_back(std::move(p));
    return true;
  }
  if (kind == "failure") {
    Failure failure;
    if (r->passes.empty() || !ParseFailure(f, &failure)) return false;
    r->passes.back().failures.push_back(std::move(failure));
    return true;
  }
  if (kind == "device") {
    int number = 0;
    DeviceEntry d;
    if (!ParseDevice(f, &number, &d)) return false;
    r->devices[number] = std::move(d);
    return true;
  }
  if (kind == "rejected") {
    RejectedEntry e;
    if (!ParseRejected(f, &e)) return false;
    r->waiting.push_back(std::move(e));
    return true;
  }
  if (kind == "table") {
    TableFact t;
    if (!ParseTable(f, &t)) return false;
    r->tables.push_back(std::move(t));
    return true;
  }
  return false;
}

std::string_view NameOf(Trouble trouble) {
  for (const TroubleName& t : kTroubleNames) {
    if (t.trouble == trouble) return t.name;
  }
  return "other";
}

}  // namespace

bool PassEntry::Failed() const {
  if (end == PassEnd::kStopped) return true;
  for (const Failure& f : failures) {
    if (NeedsAction(f.trouble)) return true;
  }
  return false;
}

const PassEntry* PassRecord::LastDone() const {
  for (auto it = passes.rbegin(); it != passes.rend(); ++it) {
    if (it->end != PassEnd::kRunning) return &*it;
  }
  return nullptr;
}

std::string FormatPassRecord(const PassRecord& record) {
  std::string out;
  AppendLine(&out, kFormatLine);
  for (const PassEntry& p : record.passes) {
    AppendLine(&out, "pass\t" + Stamp(p.start) + "\t" + std::to_string(p.duration_ms) + "\t" +
                         std::string(kEndNames[static_cast<size_t>(p.end)]) + "\t" +
                         Counts(p.totals) + "\t" + std::to_string(p.failures_left_out) + "\t" +
                         Escaped(p.backend));
    for (const Failure& f : p.failures) {
      AppendLine(&out, "failure\t" + std::string(NameOf(f.trouble)) + "\t" + Escaped(f.text));
    }
  }
  for (const auto& [number, d] : record.devices) {
    AppendLine(&out, "device\t" + std::to_string(number) + "\t" + Stamp(d.handed_in) + "\t" +
                         Stamp(d.posted) + "\t" + Stamp(d.kept_since) + "\t" + Counts(d.last) +
                         "\t" + Escaped(d.kept_reason));
  }
  for (const RejectedEntry& e : record.waiting) {
    AppendLine(&out, "rejected\t" + std::to_string(e.device) + "\t" + std::to_string(e.lines) +
                         "\t" + Stamp(e.written) + "\t" + Escaped(e.path));
  }
  for (const TableFact& t : record.tables) {
    AppendLine(&out, "table\t" + Escaped(t.table) + "\t" + (t.written ? "1" : "0") + "\t" +
                         std::to_string(t.rows) + "\t" + Escaped(t.note));
  }
  return out;
}

Status ParsePassRecord(std::string_view text, PassRecord* record, size_t* dropped) {
  *record = PassRecord();
  *dropped = 0;
  LineReader reader(text);
  std::string_view line;
  if (!reader.Next(&line) || line != kFormatLine) {
    return Status::Corruption("not a pass record of this version");
  }
  while (reader.Next(&line)) {
    if (!ParseLine(line, record)) ++*dropped;
  }
  return Status::OK();
}

int64_t SecondsOf(const LocalTime& t) {
  int64_t days = static_cast<int64_t>(DaySerial(Date{t.year, t.month, t.day}));
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

std::string ShownTime(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return buf;
}

std::string ShownTime(const std::optional<LocalTime>& t) {
  return t ? ShownTime(*t) : std::string("never");
}

std::string ShownDuration(uint64_t ms) {
  char buf[48];
  if (ms < 60000) {
    std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000);
  } else if (ms < 3600000) {
    std::snprintf(buf, sizeof buf, "%d min %d s", static_cast<int>(ms / 60000),
                  static_cast<int>(ms / 1000 % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%d h %d min", static_cast<int>(ms / 3600000),
                  static_cast<int>(ms / 60000 % 60));
  }
  return buf;
}

}  // namespace lumbra
