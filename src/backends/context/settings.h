// The settings file "Lumbra.ini": "appname=" names the back-end, "path=" its
// data location. The data location is then brought into the form the chosen
// back-end expects.
#ifndef LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_
#define LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_

#include <string>
#include <string_view>

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

// DataPath by the rule of the named back-end: the database and qbXML names
// keep it as read; the Aurora rule strips a DBF file name; MoneyWorks Gold
// completes a folder with its document; every other name keeps the folder.
std::string NormaliseDataPath(std::string_view backend_name, std::string data_path);

}  // namespace lumbra

#endif  // LUMBRA_BACKENDS_CONTEXT_SETTINGS_H_
