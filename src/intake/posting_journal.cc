#include "intake/posting_journal.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "backends/context/run_context.h"
#include "platform/lock_set.h"

namespace lumbra {
namespace {

constexpr std::string_view kMagic = "LUMBRA-JOURNAL-1\n";

// Record types.
constexpr char kHeader = 'H';
constexpr char kLineBegins = 'B';
constexpr char kChange = 'C';
constexpr char kLineEnded = 'R';
constexpr char kEnd = 'E';
constexpr char kFileBegins = 'F';
constexpr char kFileReady = 'P';

uint32_t Crc32(std::string_view a, std::string_view b) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (std::string_view part : {a, b}) {
    for (char ch : part) c = table[(c ^ static_cast<uint8_t>(ch)) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}

void PutStr(std::string* out, std::string_view s) {
  PutU32(out, static_cast<uint32_t>(s.size()));
  out->append(s);
}

// Reads what the Put functions wrote; every read fails once the bytes run out.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : in_(bytes) {}
  bool U32(uint32_t* v) {
    uint64_t w;
    if (!Bytes(4, &w)) return false;
    *v = static_cast<uint32_t>(w);
    return true;
  }
  bool U64(uint64_t* v) { return Bytes(8, v); }
  bool Str(std::string* s) {
    uint32_t n;
    if (!U32(&n) || n > in_.size()) return false;
    s->assign(in_.substr(0, n));
    in_.remove_prefix(n);
    return true;
  }
  bool done() const { return in_.empty(); }

 private:
  bool Bytes(int n, uint64_t* v) {
    if (in_.size() < static_cast<size_t>(n)) return false;
    *v = 0;
    for (int i = 0; i < n; ++i) *v |= static_cast<uint64_t>(static_cast<uint8_t>(in_[i])) << (8 * i);
    in_.remove_prefix(static_cast<size_t>(n));
    return true;
  }
  std::string_view in_;
};

std::string Record(char type, std::string_view payload) {
  std::string rec(1, type);
  PutU32(&rec, static_cast<uint32_t>(payload.size()));
  rec.append(payload);
  PutU32(&rec, Crc32(std::string_view(&type, 1), payload));
  return rec;
}

std::string HeaderPayload(const JournalState& s) {
  std::string p;
  PutU32(&p, static_cast<uint32_t>(s.device));
  PutStr(&p, s.source);
  PutU64(&p, s.source_hash);
  PutU64(&p, s.line_count);
  return p;
}

std::string LineEndedPayload(size_t index, LineFate fate, std::string_view reason) {
  std::string p;
  PutU64(&p, index);
  p.push_back(static_cast<char>(fate));
  PutStr(&p, reason);
  return p;
}

std::string ChangePayload(const FileChange& c) {
  std::string p;
  PutStr(&p, c.path);
  PutU64(&p, c.lock_offset);
  PutU64(&p, c.offset);
  PutStr(&p, c.before);
  PutStr(&p, c.after);
  PutStr(&p, c.undo);
  PutU32(&p, static_cast<uint32_t>(c.group));
  return p;
}

std::string PlacedFilePayload(const PlacedFile& f) {
  std::string p;
  PutStr(&p, f.temp_path);
  PutStr(&p, f.path);
  PutU64(&p, f.lines.size());
  for (size_t i : f.lines) PutU64(&p, i);
  return p;
}

bool ReadPlacedFile(std::string_view payload, size_t line_count, PlacedFile* f) {
  Reader r(payload);
  uint64_t count;
  if (!r.Str(&f->temp_path) || !r.Str(&f->path) || !r.U64(&count) || count > line_count) {
    return false;
  }
  for (uint64_t k = 0, i; k < count; ++k) {
    if (!r.U64(&i) || i >= line_count) return false;
    f->lines.push_back(static_cast<size_t>(i));
  }
  return true;
}

// Applies one record to the state; false when it makes no sense.
bool ApplyRecord(char type, std::string_view payload, JournalState* s) {
  Reader r(payload);
  switch (type) {
    case kHeader: {
      uint32_t device;
      uint64_t count;
      if (!r.U32(&device) || !r.Str(&s->source) || !r.U64(&s->source_hash) || !r.U64(&count) ||
          count > (1u << 30)) {
        return false;
      }
      s->device = static_cast<int>(device);
      s->line_count = static_cast<size_t>(count);
      s->fates.assign(s->line_count, LineFate::kUnreported);
      s->reasons.assign(s->line_count, std::string());
      return true;
    }
    case kLineBegins: {
      uint64_t index;
      if (!r.U64(&index) || index >= s->line_count) return false;
      s->line_open = true;
      s->open_line = static_cast<size_t>(index);
      s->open_changes.clear();
      return true;
    }
    case kChange: {
      FileChange c;
      uint32_t group;
      if (!r.Str(&c.path) || !r.U64(&c.lock_offset) || !r.U64(&c.offset) || !r.Str(&c.before) ||
          !r.Str(&c.after) || !r.Str(&c.undo) || !r.U32(&group)) {
        return false;
      }
      c.group = static_cast<int>(group);
      if (s->line_open) s->open_changes.push_back(std::move(c));
      return true;
    }
    case kLineEnded: {
      uint64_t index;
      if (!r.U64(&index) || index >= s->line_count || payload.size() < 9) return false;
      auto fate = static_cast<LineFate>(payload[8]);
      Reader rest(payload.substr(9));
      std::string reason;
      if (!rest.Str(&reason)) return false;
      s->fates[index] = fate;
      s->reasons[index] = std::move(reason);
      if (s->line_open && s->open_line == index) {
        s->line_open = false;
        s->open_changes.clear();
      }
      return true;
    }
    case kEnd:
      s->ended = true;
      return r.Str(&s->rejected_name);
    case kFileBegins:
    case kFileReady: {
      PlacedFile f;
      if (!ReadPlacedFile(payload, s->line_count, &f)) return false;
      auto known = std::find_if(s->placed.begin(), s->placed.end(), [&](const auto& p) {
        return p.file.temp_path == f.temp_path;
      });
      if (known == s->placed.end()) known = s->placed.insert(s->placed.end(), {std::move(f)});
      // A file begun again after it was ready is one the pass gave up.
      known->ready = type == kFileReady;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

uint64_t SourceHash(std::string_view bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (char c : bytes) {
    h ^= static_cast<uint8_t>(c);
    h *= 0x100000001b3ull;
  }
  return h ^ bytes.size();
}

Status PostingJournal::Start(RunContext& ctx, const JournalState& state,
                             std::unique_ptr<PostingJournal>* out) {
  std::string bytes(kMagic);
  bytes += Record(kHeader, HeaderPayload(state));
  for (size_t i = 0; i < state.fates.size(); ++i) {
    if (state.fates[i] == LineFate::kUnreported) continue;
    bytes += Record(kLineEnded, LineEndedPayload(i, state.fates[i], state.reasons[i]));
  }
  // Not forced to the disk yet: a kill loses nothing written, and what must
  // survive a power cut asks for it (Sync) before its change is made.
  std::string path = ctx.Path(kJournalFile);
  Status s = ctx.env->WriteFile(path, bytes);
  std::unique_ptr<RandomRWFile> file;
  if (s.ok()) s = ctx.env->OpenRandomRW(path, true, &file);
  if (!s.ok()) return s;
  out->reset(new PostingJournal(ctx, std::move(file), bytes.size()));
  return Status::OK();
}

Status PostingJournal::Append(char type, std::string_view payload) {
  std::string rec = Record(type, payload);
  Status s = file_->Write(end_, rec);
  if (s.ok()) end_ += rec.size();
  return s;
}

Status PostingJournal::LineBegins(size_t index) {
  std::string p;
  PutU64(&p, index);
  return Append(kLineBegins, p);
}

Status PostingJournal::LineEnded(size_t index, LineFate fate, const std::string& reason) {
  return Append(kLineEnded, LineEndedPayload(index, fate, reason));
}

Status PostingJournal::WillChange(const FileChange& change) {
  return Append(kChange, ChangePayload(change));
}

Status PostingJournal::FileBegins(const PlacedFile& file) {
  return Append(kFileBegins, PlacedFilePayload(file));
}

Status PostingJournal::FilesReady(const std::vector<PlacedFile>& files) {
  for (const PlacedFile& file : files) {
    Status s = Append(kFileReady, PlacedFilePayload(file));
    if (!s.ok()) return s;
  }
  return Sync();
}

Status PostingJournal::Sync() { return file_->Sync(); }

Status PostingJournal::End(const std::string& rejected_name) {
  std::string p;
  PutStr(&p, rejected_name);
  Status s = Append(kEnd, p);
  return s.ok() ? Sync() : s;
}

Status PostingJournal::Remove() {
  file_.reset();
  return ctx_.env->DeleteFile(ctx_.Path(kJournalFile));
}

bool ReadJournal(RunContext& ctx, JournalState* state) {
  *state = JournalState();
  std::string bytes;
  if (!ctx.env->ReadFile(ctx.Path(kJournalFile), &bytes).ok()) return false;
  if (bytes.compare(0, kMagic.size(), kMagic) != 0) return false;
  std::string_view rest = std::string_view(bytes).substr(kMagic.size());
  bool headed = false;
  while (rest.size() >= 9) {
    char type = rest[0];
    Reader r(rest.substr(1));
    uint32_t length, crc;
    if (!r.U32(&length) || rest.size() < 9 + static_cast<size_t>(length)) break;
    std::string_view payload = rest.substr(5, length);
    Reader tail(rest.substr(5 + length));
    if (!tail.U32(&crc) || crc != Crc32(std::string_view(&type, 1), payload)) break;
    if (headed != (type != kHeader) || !ApplyRecord(type, payload, state)) break;
    headed = true;
    rest.remove_prefix(9 + length);
  }
  return headed;
}

namespace {

enum class ChangeState { kOurs, kNotThere, kOverwritten };

// The changes undone as one: a group's members, or a change of its own.
std::vector<std::vector<const FileChange*>> UndoUnits(const std::vector<FileChange>& changes) {
  std::vector<std::vector<const FileChange*>> units;
  std::map<int, size_t> unit_of_group;
  for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
    if (it->group == 0) {
      units.push_back({&*it});
      continue;
    }
    auto [g, added] = unit_of_group.emplace(it->group, units.size());
    if (added) units.emplace_back();
    units[g->second].push_back(&*it);
  }
  return units;
}

std::string Where(const FileChange& c) {
  return c.path + " at byte " + std::to_string(c.offset);
}

}  // namespace

Status UndoChanges(Env* env, const std::vector<FileChange>& changes, int timeout_ms,
                   std::vector<std::string>* notes) {
  std::map<std::string, std::unique_ptr<RandomRWFile>> files;
  for (const FileChange& c : changes) {
    if (files.count(c.path) != 0) continue;
    std::unique_ptr<RandomRWFile> f;
    Status s = env->OpenRandomRW(c.path, true, &f);
    if (s.IsNotFound()) {
      notes->push_back(c.path + " is gone; its changes cannot be undone");
    } else if (!s.ok()) {
      return s;
    }
    files[c.path] = std::move(f);
  }
  for (const auto& unit : UndoUnits(changes)) {
    LockSet locks(env);
    for (const FileChange* c : unit) {
      if (files[c->path]) locks.Add(files[c->path].get(), c->lock_offset, Where(*c));
    }
    Status s = locks.AcquireAll(timeout_ms);
    if (!s.ok()) return s;
    std::vector<ChangeState> states;
    bool overwritten = false;
    for (const FileChange* c : unit) {
      RandomRWFile* f = files[c->path].get();
      std::string now;
      if (f != nullptr) {
        s = f->Read(c->offset, c->after.size(), &now);
        if (!s.ok()) return s;
      }
      std::string undone = c->after;
      undone.replace(0, c->undo.size(), c->undo);
      ChangeState state = f != nullptr && now == c->after ? ChangeState::kOurs
                          : f == nullptr || now == undone ||
                                  now == c->before.substr(0, now.size())
                              ? ChangeState::kNotThere
                              : ChangeState::kOverwritten;
      overwritten = overwritten || state == ChangeState::kOverwritten;
      states.push_back(state);
    }
    for (size_t i = 0; i < unit.size(); ++i) {
      const FileChange& c = *unit[i];
      if (states[i] == ChangeState::kNotThere) continue;
      if (overwritten) {
        notes->push_back(Where(c) + " left as it is: " +
                         (states[i] == ChangeState::kOverwritten
                              ? "another program has changed it since"
                              : "it goes with a change another program has overwritten"));
        continue;
      }
      s = files[c.path]->Write(c.offset, c.undo);
      if (!s.ok()) return s;
      notes->push_back(Where(c) + " undone");
    }
  }
  return Status::OK();
}

}  // namespace lumbra
