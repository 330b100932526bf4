#include "intake/device_mail.h"

#include <array>
#include <string>
#include <unordered_map>

#include "text/lines.h"
#include "backends/context/run_context.h"
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

void UpdateMessageList(RunContext& ctx, int device, const std::vector<std::string>& mail) {
  std::string path = ctx.Path(std::to_string(device) + "\\" + std::string(kMessagesFile));
  std::string text, rewritten;
  if (!ctx.env->FileExists(path)) return;
  Status s = ctx.env->ReadFile(path, &text);
  if (s.ok() && ApplyMailToMessages(text, mail, &rewritten)) {
    s = ctx.env->WriteFile(path, rewritten);
  }
  if (!s.ok()) {
    ctx.Log("device " + std::to_string(device) + ": messages.txt not updated: " + s.ToString());
  }
}

// Logs the device's mail, applies it to the message list and only then
// rewrites the intake file without it; false when the log or the rewrite
// failed, with the intake file then as it was. Until the rewrite the mail
// stays in the intake file, so a pass that stops anywhere in between leaves
// it to be routed again (the log then holds those lines twice).
bool TakeOutMail(RunContext& ctx, int device) {
  const std::string dev = "device " + std::to_string(device) + ": ";
  std::string path = IntakeFilePath(ctx, device);
  std::string bytes;
  Status s = ctx.env->ReadFile(path, &bytes);
  if (!s.ok()) {
    ctx.Log(dev + "transaction file not read, kept for a later pass: " + s.ToString());
    return false;
  }
  SortedLines lines = SortLines(bytes);
  if (!lines.mail.empty()) {
    std::string log;
    for (const std::string& line : lines.mail) AppendLine(&log, line);
    std::string mail_log = ctx.Path(std::to_string(device) + "\\" + std::string(kMailLogFile));
    s = ctx.env->AppendFile(mail_log, log);
    if (!s.ok()) {
      ctx.Log(dev + "mail not logged, transaction file kept for a later pass: " + s.ToString());
      return false;
    }
    ctx.Log(dev + std::to_string(lines.mail.size()) + " mail lines logged");
    UpdateMessageList(ctx, device, lines.mail);
  }
  if (lines.changed) {
    s = ctx.env->WriteFile(path, lines.kept);
    if (!s.ok()) {
      ctx.Log(dev + "transaction file not rewritten, kept for a later pass: " + s.ToString());
      return false;
    }
  }
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
  while (reader.Next(&line)) {
    any_row = true;
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
}

}  // namespace lumbra
