#include "report/status_text.h"

#include <algorithm>
#include <vector>

namespace lumbra {
namespace {

std::string Padded(std::string text, size_t width, bool right) {
  if (text.size() >= width) return text;
  std::string pad(width - text.size(), ' ');
  return right ? pad + text : text + pad;
}

std::string Note(const DeviceStanding& r) {
  std::string note;
  if (r.silent) note += "SILENT for more than a day; ";
  if (r.stuck) note += "KEPT for more than a day; ";
  for (const std::string& f : r.rejected_files) note += f + "; ";
  if (r.last.kept > 0 || r.stuck) note += "kept: " + r.kept_reason + "; ";
  if (note.size() >= 2) note.resize(note.size() - 2);
  return note;
}

}  // namespace

std::string RenderStatusText(const RunOverview& overview, std::string_view work_dir) {
  std::string out = "Lumbra in " + std::string(work_dir) + "\n" + overview.Summary() + "\n";
  for (const std::string& item : overview.Attention()) out += "  ! " + item + "\n";
  if (overview.devices.empty()) return out + "No device folders.\n";
  const std::vector<std::string> titles = {"Device", "Name",   "Last handed in", "Last posted",
                                           "Posted", "Kept",   "Rejected",       "Note"};
  std::vector<std::vector<std::string>> rows = {titles};
  for (const DeviceStanding& r : overview.devices) {
    rows.push_back({std::to_string(r.device), r.name, ShownTime(r.handed_in), ShownTime(r.posted),
                    std::to_string(r.last.posted), std::to_string(r.last.kept),
                    std::to_string(r.last.rejected), Note(r)});
  }
  std::vector<size_t> widths(titles.size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  out += "\n";
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      bool number = i == 0 || (i >= 4 && i <= 6);
      bool last = i + 1 == row.size();
      line += last ? row[i] : Padded(row[i], widths[i], number) + "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

}  // namespace lumbra
