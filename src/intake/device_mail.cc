#include "intake/device_mail.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>

#include "backends/context/run_context.h"
#include "intake/posting_journal.h"
#include "text/lines.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

constexpr int kMessageColumns = 10;
using MessageRow = std::array<std::string, kMessageColumns>;

// Characters 13 to 16 of field 1: any record type that begins with "Mail".
bool IsMailLine(std::string_view field1) {
  return field1.size() >= 16 && field1.substr(12, 4) == "Mail";
}

struct SortedLines {
  std::string kept;  // the rewritten transaction file
  std::vector<std::string> mail;
  bool changed = false;
};

SortedLines SortLines(std::string_view bytes) {
  SortedLines out;
  LineReader reader(bytes);
  std::string_view line;
  std::string rest, field1;
  while (reader.Next(&line)) {
    rest.assign(line);
    SplitField(rest, field1);
    if (field1.empty()) {
      out.changed = true;
    } else if (IsMailLine(field1)) {
      out.mail.emplace_back(line);
      out.changed = true;
    } else {
      AppendLine(&out.kept, line);
    }
  }
  return out;
}

// The ten columns of a message list line, cut as SplitField cuts them
// (every double quote dropped, missing columns empty, columns after the
// tenth not kept).
void CutMessageColumns(std::string_view line, MessageRow* row) {
  bool used_up = false;
  for (std::string& column : *row) {
    column.clear();
    if (used_up) continue;
    size_t tab = line.find('\t');
    std::string_view cut = line.substr(0, tab);
    for (char c : cut) {
      if (c != '"') column.push_back(c);
    }
    if (tab == std::string_view::npos) {
      used_up = true;
    } else {
      line.remove_prefix(tab + 1);
    }
  }
}

std::string MessageKey(std::string_view column2, std::string_view column3) {
  std::string key(column2);
  key.push_back('\t');
  key.append(column3);
  return key;
}

// ---------------------------------------------------------------------------
// The mail hand-over file. A device's mail lines leave its intake file for
// "<device>\transact.xml.mail" before they are logged and applied, and the
// hand-over file says how far that got: the intake file's hash before the
// mail left it, the mail log's size before the lines were appended, and the
// message list's hash before and after the lines were applied. So the work
// can be done again after any failure or kill and each step happens once:
// the intake file is rewritten only while it is still the one the mail came
// from, the lines are appended only where the log does not hold them yet,
// and the list is rewritten only while it does not hold the answers yet.

constexpr std::string_view kMailSuffix = ".mail";
constexpr std::string_view kHandOverMagic = "LUMBRA-MAIL";

struct MailHandOver {
  uint64_t intake_hash = 0;
  uint64_t log_size = 0;
  bool list_applies = false;  // there was a message list with rows
  uint64_t list_before = 0, list_after = 0;
  std::vector<std::string> mail;
};

std::string DevicePath(const RunContext& ctx, int device, std::string_view name) {
  return ctx.Path(std::to_string(device) + "\\" + std::string(name));
}

std::string HandOverPath(const RunContext& ctx, int device) {
  return DevicePath(ctx, device, std::string(kTransactionFile) + std::string(kMailSuffix));
}

std::string FormatHandOver(const MailHandOver& h) {
  std::string text(kHandOverMagic);
  for (uint64_t v : {h.intake_hash, h.log_size, uint64_t{h.list_applies}, h.list_before,
                     h.list_after}) {
    text += ' ' + std::to_string(v);
  }
  AppendLine(&text, "");
  for (const std::string& line : h.mail) AppendLine(&text, line);
  return text;
}

bool ParseHandOver(std::string_view text, MailHandOver* h) {
  LineReader reader(text);
  std::string_view head;
  if (!reader.Next(&head) || head.substr(0, kHandOverMagic.size()) != kHandOverMagic) return false;
  head.remove_prefix(kHandOverMagic.size());
  uint64_t values[5];
  for (uint64_t& v : values) {
    if (head.empty() || head[0] != ' ') return false;
    head.remove_prefix(1);
    auto [end, ec] = std::from_chars(head.data(), head.data() + head.size(), v);
    if (ec != std::errc()) return false;
    head.remove_prefix(static_cast<size_t>(end - head.data()));
  }
  if (!head.empty()) return false;
  h->intake_hash = values[0];
  h->log_size = values[1];
  h->list_applies = values[2] != 0;
  h->list_before = values[3];
  h->list_after = values[4];
  std::string_view line;
  while (reader.Next(&line)) h->mail.emplace_back(line);
  return true;
}

std::string MailBytes(const std::vector<std::string>& mail) {
  std::string bytes;
  for (const std::string& line : mail) AppendLine(&bytes, line);
  return bytes;
}

std::vector<std::string> ExistingFiles(RunContext& ctx, int device,
                                       std::initializer_list<std::string_view> names) {
  std::vector<std::string> paths;
  for (std::string_view name : names) {
    std::string path = DevicePath(ctx, device, name);
    if (ctx.env->FileExists(path)) paths.push_back(std::move(path));
  }
  return paths;
}

// Rewrites the intake file without its mail while it is still the file the
// mail came from. Lost to a power cut, the rewrite is done again: the
// hand-over file stays until the mail is logged and applied.
Status FinishIntakeRewrite(RunContext& ctx, int device, const MailHandOver& h) {
  std::string path = IntakeFilePath(ctx, device), bytes;
  Status s = ctx.env->ReadFile(path, &bytes);
  if (s.IsNotFound()) return Status::OK();
  if (!s.ok()) return s;
  if (SourceHash(bytes) != h.intake_hash) return Status::OK();
  return ctx.env->WriteFile(path, SortLines(bytes).kept);
}

// Appends the mail to the log unless the log holds it, whole or in part,
// where it was appended.
Status FinishMailLog(RunContext& ctx, int device, const MailHandOver& h) {
  const std::string path = DevicePath(ctx, device, kMailLogFile);
  const std::string mail = MailBytes(h.mail);
  uint64_t size = 0;
  Status s = ctx.env->GetFileSize(path, &size);
  if (!s.ok() && !s.IsNotFound()) return s;
  std::string_view missing = mail;
  if (s.ok() && size > h.log_size) {
    std::string log;
    s = ctx.env->ReadFile(path, &log);
    if (!s.ok()) return s;
    const size_t from = static_cast<size_t>(std::min<uint64_t>(h.log_size, log.size()));
    std::string_view appended = std::string_view(log).substr(from, mail.size());
    if (appended == mail) return Status::OK();
    if (appended.size() < mail.size() && missing.starts_with(appended)) {
      missing.remove_prefix(appended.size());  // a write cut short
    }
  }
  s = ctx.env->AppendFile(path, missing);
  if (s.ok()) {
    ctx.Log("device " + std::to_string(device) + ": " + std::to_string(h.mail.size()) +
            " mail lines logged");
  }
  return s;
}

// Applies the mail to the message list unless the list holds its answers.
Status FinishMessageList(RunContext& ctx, int device, const MailHandOver& h) {
  if (!h.list_applies) return Status::OK();
  const std::string path = DevicePath(ctx, device, kMessagesFile);
  std::string text, rewritten;
  Status s = ctx.env->ReadFile(path, &text);
  if (s.IsNotFound()) return Status::OK();
  if (!s.ok()) return s;
  const uint64_t hash = SourceHash(text);
  if (hash == h.list_after && hash != h.list_before) return Status::OK();
  if (!ApplyMailToMessages(text, h.mail, &rewritten) || rewritten == text) return Status::OK();
  return ctx.env->WriteFile(path, rewritten);
}

// Finishes the hand-over a pass left in the device's folder; true when there
// is none (any more).
bool FinishHandOver(RunContext& ctx, int device) {
  const std::string dev = "device " + std::to_string(device) + ": ";
  const std::string path = HandOverPath(ctx, device);
  std::string text;
  Status s = ctx.env->ReadFile(path, &text);
  if (s.IsNotFound()) return true;
  MailHandOver h;
  if (s.ok() && !ParseHandOver(text, &h)) s = Status::Corruption(path + ": not a mail hand-over");
  if (s.ok()) s = FinishIntakeRewrite(ctx, device, h);
  if (s.ok()) s = FinishMailLog(ctx, device, h);
  if (s.ok()) s = FinishMessageList(ctx, device, h);
  // The log, the list and the rewritten intake file reach the disk before
  // the hand-over file goes.
  const std::string intake = std::string(kTransactionFile) + std::string(kIntakeSuffix);
  if (s.ok()) {
    s = ctx.env->SyncFiles(ExistingFiles(ctx, device, {kMailLogFile, kMessagesFile, intake}));
  }
  if (s.ok()) s = ctx.env->DeleteFile(path);
  if (!s.ok()) {
    ctx.Log(dev + "mail not yet logged and applied, tried again by the next pass: " +
            s.ToString());
  }
  return s.ok();
}

// Writes the hand-over file for the mail of the intake file's bytes, then
// the intake file without it. Nothing is changed when this fails.
Status HandOverMail(RunContext& ctx, int device, std::string_view bytes,
                    const SortedLines& lines) {
  MailHandOver h;
  h.intake_hash = SourceHash(bytes);
  h.mail = lines.mail;
  Status s = ctx.env->GetFileSize(DevicePath(ctx, device, kMailLogFile), &h.log_size);
  if (s.IsNotFound()) s = Status::OK();
  if (!s.ok()) return s;
  std::string list, applied;
  s = ctx.env->ReadFile(DevicePath(ctx, device, kMessagesFile), &list);
  if (s.ok()) {
    h.list_applies = ApplyMailToMessages(list, h.mail, &applied);
    h.list_before = SourceHash(list);
    h.list_after = SourceHash(applied);
  } else if (!s.IsNotFound()) {
    return s;
  }
  const std::string hand_over = HandOverPath(ctx, device);
  // On the disk before the intake file without the mail can be.
  s = ctx.env->WriteFile(hand_over, FormatHandOver(h));
  if (s.ok()) s = ctx.env->SyncFile(hand_over);
  if (!s.ok()) return s;
  s = ctx.env->WriteFile(IntakeFilePath(ctx, device), lines.kept);
  // A hand-over file left behind finds the intake file unchanged next time
  // and takes the mail out then: still once.
  if (!s.ok()) ctx.env->DeleteFile(hand_over);
  return s;
}

// Hands the mail of the device's intake file over and routes it. False when
// the intake file still holds mail that could not be handed over: it is kept
// as it is for a later pass.
bool TakeOutMail(RunContext& ctx, int device) {
  const std::string dev = "device " + std::to_string(device) + ": ";
  const bool earlier_done = FinishHandOver(ctx, device);
  const std::string path = IntakeFilePath(ctx, device);
  std::string bytes;
  Status s = ctx.env->ReadFile(path, &bytes);
  if (!s.ok()) {
    ctx.Log(dev + "transaction file not read, kept for a later pass: " + s.ToString());
    return false;
  }
  SortedLines lines = SortLines(bytes);
  if (!lines.changed) return true;
  if (lines.mail.empty()) {
    s = ctx.env->WriteFile(path, lines.kept);
  } else if (!earlier_done) {
    ctx.Log(dev + "its mail waits behind earlier mail; transaction file kept for a later pass");
    return false;
  } else {
    s = HandOverMail(ctx, device, bytes, lines);
  }
  if (!s.ok()) {
    ctx.Log(dev + "mail not taken out, transaction file kept for a later pass: " + s.ToString());
    return false;
  }
  if (!lines.mail.empty()) FinishHandOver(ctx, device);
  return true;
}

}  // namespace

bool ApplyMailToMessages(std::string_view messages, const std::vector<std::string>& mail_lines,
                         std::string* rewritten) {
  // The answer each message gets: the last mail line's, for the first row
  // of its columns 2 and 3. Only the mail is held by key, and the list is
  // read line by line, so memory follows the list's bytes, not its lines.
  std::unordered_map<std::string, std::string> answers;
  std::string rest, f1, f2, f3, f4;
  for (const std::string& line : mail_lines) {
    rest = line;
    SplitField(rest, f1);
    SplitField(rest, f2);
    SplitField(rest, f3);
    SplitField(rest, f4);
    answers[MessageKey(f2, f3)] = f4;
  }
  rewritten->clear();
  LineReader reader(messages);
  std::string_view line;
  bool any_row = false;
  MessageRow row;
  const bool answers_empty_key = answers.count(MessageKey("", "")) != 0;
  while (reader.Next(&line)) {
    any_row = true;
    // An empty line is a row with every column empty: dropped, unless the
    // first answer for empty columns 2 and 3 is its.
    if (line.empty() && !answers_empty_key) continue;
    CutMessageColumns(line, &row);
    if (!answers.empty()) {
      auto it = answers.find(MessageKey(row[1], row[2]));
      if (it != answers.end()) {
        row[8] = std::move(it->second);
        answers.erase(it);
      }
    }
    if (row[0].empty()) continue;
    for (int c = 0; c < kMessageColumns; ++c) {
      if (c > 0) rewritten->push_back('\t');
      rewritten->append(row[c]);
    }
    rewritten->append("\r\n");
  }
  return any_row;
}

void RouteDeviceMail(RunContext& ctx, std::vector<HandedIn>& handed_in) {
  for (HandedIn& h : handed_in) {
    if (h.usable) h.usable = TakeOutMail(ctx, h.device);
  }
  // Mail an earlier pass took out of a file that is posted and gone since.
  for (int device = 1; device <= 99; ++device) {
    if (!ctx.env->FileExists(HandOverPath(ctx, device))) continue;
    bool handed = false;
    for (const HandedIn& h : handed_in) handed = handed || h.device == device;
    if (!handed) FinishHandOver(ctx, device);
  }
}

}  // namespace lumbra
