// The settings file "Lumbra.ini": "appname=" names the back-end, "path=" its
// data location. The data location is then brought into the form the chosen
// back-end expects.
#ifndef LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_
#define LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_

#include <string>
#include <string_view>
#include <vector>

namespace lumbra {

struct RunContext;

inline constexpr std::string_view kSettingsFile = "Lumbra.ini";

// Sets DataPath and DbTimeoutSeconds, and BackendName when the file names
// one. A missing file leaves BackendName as it was.
void ReadSettings(RunContext& ctx);

// The settings lines applied to *backend_name and *data_path (raw, before
// normalisation); the last line of a key wins.
void ParseSettings(std::string_view text, std::string* backend_name, std::string* data_path);

// The seconds of the last "dbtimeout=" line: a whole number from 1 to
// 86400; anything else, or no such line, gives kDefaultDbTimeoutSeconds.
int ParseDbTimeout(std::string_view text);

// How long, in seconds, an outside server or program may stay silent before
// the pass gives up on it: a MoneyWorks server that sends no byte
// ("httptimeout="), the qbXML processor command that writes nothing
// ("qbxmltimeout="). Silence, not the whole time: a large answer that keeps
// coming is never cut off.
struct TimeLimits {
  static constexpr int kDefaultHttpSeconds = 120;
  static constexpr int kDefaultQbxmlSeconds = 300;
  static constexpr int kMaxSeconds = 86400;
  int http_seconds = kDefaultHttpSeconds;
  int qbxml_seconds = kDefaultQbxmlSeconds;
};

// The "httptimeout=" and "qbxmltimeout=" lines applied to *limits, as
// "dbtimeout=" is read: the last line of a key wins, and a value that is not
// a whole number of seconds from 1 to kMaxSeconds gives the default; each
// such value adds a line saying so to *problems.
void ParseTimeLimits(std::string_view text, TimeLimits* limits, std::vector<std::string>* problems);

// DataPath by the rule of the named back-end: the database and qbXML names
// keep it as read; the Aurora rule strips a DBF file name; MoneyWorks Gold
// completes a folder with its document; every other name keeps the folder.
std::string NormaliseDataPath(std::string_view backend_name, std::string data_path);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_
