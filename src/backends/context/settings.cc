#include "backends/context/settings.h"

#include "backends/context/backend_names.h"
#include "text/lines.h"
#include "backends/context/run_context.h"

namespace lumbra {
namespace {

// "/" separates folders as "\" does.
bool EndsWithSeparator(const std::string& s) {
  return !s.empty() && (s.back() == '\\' || s.back() == '/');
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithDbf(const std::string& s) {
  if (s.size() < 3) return false;
  std::string tail = s.substr(s.size() - 3);
  for (char& c : tail) c = LowerAscii(c);
  return tail == "dbf";
}

std::string AuroraRule(std::string path) {
  if (EndsWithDbf(path)) {
    while (!path.empty() && !EndsWithSeparator(path)) path.pop_back();
  }
  if (EndsWithSeparator(path)) path.pop_back();
  if (path.empty()) path = "C:\\Aurora\\Standard";
  return path;
}

std::string FolderRule(std::string path) {
  while (!path.empty() && !EndsWithSeparator(path)) {
    path.pop_back();
    if (path.size() < 2) {
      path.clear();
      break;
    }
  }
  if (EndsWithSeparator(path)) path.pop_back();
  if (path.empty()) path = "C:\\Premier9";
  return path;
}

// A whole number of seconds within the limits, blanks around it allowed.
bool ParseSeconds(std::string_view text, int* seconds) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > TimeLimits::kMaxSeconds) return false;
  *seconds = value;
  return true;
}

}  // namespace

void ParseTimeLimits(std::string_view text, TimeLimits* limits,
                     std::vector<std::string>* problems) {
  struct Key {
    std::string_view name;
    int* seconds;
  };
  const Key keys[] = {{"httptimeout=", &limits->http_seconds},
                      {"qbxmltimeout=", &limits->qbxml_seconds}};
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) {
    for (const Key& key : keys) {
      if (!line.starts_with(key.name)) continue;
      std::string_view value = line.substr(key.name.size());
      if (!ParseSeconds(value, key.seconds)) {
        problems->push_back(std::string(key.name) + std::string(value) +
                            " is not a number of seconds from 1 to " +
                            std::to_string(TimeLimits::kMaxSeconds) + "; " +
                            std::to_string(*key.seconds) + " s holds");
      }
    }
  }
}

void ParseSettings(std::string_view text, std::string* backend_name, std::string* data_path) {
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) {
    if (line.substr(0, 8) == "appname=") {
      *backend_name = std::string(line.substr(8));
    } else if (line.substr(0, 5) == "path=") {
      *data_path = std::string(line.substr(5));
    }
  }
}

std::string NormaliseDataPath(std::string_view backend_name, std::string data_path) {
  if (IsDatabaseBackend(backend_name) || backend_name == kQuickBooksDatabaseBackend) {
    return data_path;
  }
  if (backend_name == kAuroraBackend) return AuroraRule(std::move(data_path));
  if (backend_name == kMoneyWorksGoldBackend) {
    if (EndsWithSeparator(data_path)) data_path += "Acme Widgets.mwd3";
    return data_path;
  }
  return FolderRule(std::move(data_path));
}

void ReadSettings(RunContext& ctx) {
  ctx.DataPath.clear();
  ctx.time_limits = TimeLimits();
  std::string text;
  Status s = ctx.env->ReadFile(ctx.Path(kSettingsFile), &text);
  if (s.ok()) {
    ParseSettings(text, &ctx.BackendName, &ctx.DataPath);
    std::vector<std::string> problems;
    ParseTimeLimits(text, &ctx.time_limits, &problems);
    for (const std::string& problem : problems) ctx.Log("settings: " + problem);
  } else {
    ctx.Log("settings: " + std::string(kSettingsFile) + " not read (" + s.ToString() +
            "); no back-end");
  }
  ctx.DataPath = NormaliseDataPath(ctx.BackendName, std::move(ctx.DataPath));
}

}  // namespace lumbra
