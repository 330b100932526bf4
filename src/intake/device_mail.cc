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

std::vector<MessageRow> ReadMessageRows(std::string_view text) {
  std::vector<MessageRow> rows;
  LineReader reader(text);
  std::string_view line;
  std::string rest;
  while (reader.Next(&line)) {
    rest.assign(line);
    MessageRow row;
    for (std::string& column : row) SplitField(rest, column);
    rows.push_back(std::move(row));
  }
  return rows;
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
  std::vector<MessageRow> rows = ReadMessageRows(messages);
  if (rows.empty()) return false;
  // The first row, in file order, of each pair of columns 2 and 3.
  std::unordered_map<std::string, size_t> first_row;
  for (size_t i = rows.size(); i-- > 0;) first_row[rows[i][1] + '\t' + rows[i][2]] = i;
  std::string rest, f1, f2, f3, f4;
  for (const std::string& line : mail_lines) {
    rest = line;
    SplitField(rest, f1);
    SplitField(rest, f2);
    SplitField(rest, f3);
    auto it = first_row.find(f2 + '\t' + f3);
    if (it == first_row.end()) continue;
    SplitField(rest, f4);
    rows[it->second][8] = f4;
  }
  rewritten->clear();
  for (const MessageRow& row : rows) {
    if (row[0].empty()) continue;
    std::string line = row[0];
    for (int c = 1; c < kMessageColumns; ++c) line += '\t' + row[c];
    AppendLine(rewritten, line);
  }
  return true;
}

void RouteDeviceMail(RunContext& ctx, std::vector<HandedIn>& handed_in) {
  for (HandedIn& h : handed_in) {
    if (h.usable) h.usable = TakeOutMail(ctx, h.device);
  }
}

}  // namespace lumbra
