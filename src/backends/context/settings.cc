#include "backends/context/settings.h"

#include <charconv>

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

}  // namespace

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

int ParseDbTimeout(std::string_view text) {
  int seconds = kDefaultDbTimeoutSeconds;
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) {
    if (line.substr(0, 10) != "dbtimeout=") continue;
    std::string_view value = line.substr(10);
    int n = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    bool whole = ec == std::errc() && end == value.data() + value.size();
    seconds = whole && n >= 1 && n <= 86400 ? n : kDefaultDbTimeoutSeconds;
  }
  return seconds;
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
  ctx.DbTimeoutSeconds = kDefaultDbTimeoutSeconds;
  std::string text;
  Status s = ctx.env->ReadFile(ctx.Path(kSettingsFile), &text);
  if (s.ok()) {
    ParseSettings(text, &ctx.BackendName, &ctx.DataPath);
    ctx.DbTimeoutSeconds = ParseDbTimeout(text);
  } else {
    ctx.Log("settings: " + std::string(kSettingsFile) + " not read (" + s.ToString() +
            "); no back-end");
  }
  ctx.DataPath = NormaliseDataPath(ctx.BackendName, std::move(ctx.DataPath));
}

}  // namespace lumbra
