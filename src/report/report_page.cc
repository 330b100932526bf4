#include "report/report_page.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "tables/device_tables.h"
#include "text/cp1252.h"

namespace lumbra {
namespace {

constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fff}"
    "h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.1em;margin:1.4em 0 .4em}"
    "p.summary{font-size:1.1em;padding:.5em .8em;border-radius:4px}"
    "p.ok{background:#e3f4e1}p.attention{background:#fde8d0}"
    "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:.25em .6em;"
    "text-align:left;vertical-align:top}th{background:#f0f0f0}td.n{text-align:right}"
    "td.t{white-space:nowrap}"
    "tr.silent td,tr.stuck td{background:#fdecea}span.mark{color:#b00020;font-weight:bold}"
    "svg text{font-size:11px;fill:#555}rect.posted{fill:#3b7dd8}rect.failed{fill:#d0302a}"
    "p.note{color:#666;font-size:.9em}";

// Windows-1252 text as UTF-8 page text. Control characters, which a page
// may not hold, show as blanks.
std::string Html(std::string_view cp1252) {
  std::string out;
  for (char c : cp1252) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
          out.push_back(' ');
        } else if (u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D) {
          out.push_back(' ');  // undefined in Windows-1252
        } else if (u < 0x80) {
          out.push_back(c);
        } else {
          out += Cp1252ToUtf8(std::string_view(&c, 1));
        }
      }
    }
  }
  return out;
}

// A path of the working folder ("Rejected\20261205\3-143015-transact.xml")
// as a link relative to the page, which lies in the same folder.
std::string Href(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out.push_back('/');
    } else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '/') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    }
  }
  return out;
}

std::string FileName(std::string_view path) {
  size_t sep = path.find_last_of("\\/");
  return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string Cell(std::string_view html, std::string_view cls = {}) {
  return cls.empty() ? "<td>" + std::string(html) + "</td>"
                     : "<td class=\"" + std::string(cls) + "\">" + std::string(html) + "</td>";
}

std::string Number(size_t n) { return Cell(std::to_string(n), "n"); }
std::string Time(const std::optional<LocalTime>& t) { return Cell(ShownTime(t), "t"); }

void Summary(const RunOverview& o, std::string* out) {
  const bool attention = o.AttentionBits() != 0;
  *out += "<p id=\"summary\" class=\"summary " + std::string(attention ? "attention" : "ok") +
          "\">" + Html(o.Summary()) + "</p>\n";
  std::vector<std::string> items = o.Attention();
  if (items.empty()) return;
  *out += "<ul id=\"attention\">\n";
  for (const std::string& item : items) *out += "<li>" + Html(item) + "</li>\n";
  *out += "</ul>\n";
}

std::string DeviceNote(const DeviceStanding& r) {
  std::string note;
  if (r.silent) note += "<span class=\"mark\">Silent for more than a day.</span> ";
  if (r.stuck) note += "<span class=\"mark\">Lines kept for more than a day.</span> ";
  if (r.last.kept > 0 || r.stuck) note += Html("Kept: " + r.kept_reason);
  return note;
}

void Devices(const RunOverview& o, std::string* out) {
  *out += "<h2>Devices</h2>\n<table id=\"devices\">\n<thead><tr><th>Device</th><th>Name</th>"
          "<th>Last handed in</th><th>Lines last posted</th><th>Posted</th><th>Kept</th>"
          "<th>Rejected</th><th>Note</th></tr></thead>\n<tbody>\n";
  for (const DeviceStanding& r : o.devices) {
    std::string cls = r.silent ? " class=\"silent\"" : r.stuck ? " class=\"stuck\"" : "";
    std::string rejected = std::to_string(r.last.rejected);
    for (const std::string& f : r.rejected_files) {
      rejected += " <a href=\"" + Href(f) + "\">" + Html(FileName(f)) + "</a>";
    }
    *out += "<tr" + cls + ">" + Cell(std::to_string(r.device), "n") + Cell(Html(r.name)) +
            Time(r.handed_in) + Time(r.posted) + Number(r.last.posted) +
            Number(r.last.kept) + Cell(rejected, "n") + Cell(DeviceNote(r)) + "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
}

void Waiting(const RunOverview& o, std::string* out) {
  if (o.waiting.empty()) return;
  *out += "<h2>Rejected lines not yet handed back</h2>\n<table id=\"rejected\">\n<thead><tr>"
          "<th>File</th><th>Device</th><th>Lines</th><th>Written</th></tr></thead>\n<tbody>\n";
  for (auto it = o.waiting.rbegin(); it != o.waiting.rend(); ++it) {
    *out += "<tr>" + Cell("<a href=\"" + Href(it->path) + "\">" + Html(it->path) + "</a>") +
            Number(static_cast<size_t>(it->device)) + Number(it->lines) +
            Time(it->written) + "</tr>\n";
  }
  *out += "</tbody>\n</table>\n<p class=\"note\">" +
          Html("A rejected file counts as handed back once its lines are handed in again (the "
               "file copied into a device's folder as transact.xml) or once it is deleted or "
               "moved out of its folder.") +
          "</p>\n";
}

void Tables(const PassRecord& record, std::string* out) {
  *out += "<h2>Tables of the last pass</h2>\n<table id=\"tables\">\n<thead><tr><th>Table</th>"
          "<th>This pass</th><th>Rows</th><th>Why, or how</th></tr></thead>\n<tbody>\n";
  std::set<std::string> seen;
  for (const TableFact& t : record.tables) {
    seen.insert(t.table);
    *out += "<tr>" + Cell(Html(t.table)) + Cell(t.written ? "written" : "left as it was") +
            (t.written && t.rows >= 0 ? Number(static_cast<size_t>(t.rows)) : Cell("")) +
            Cell(Html(t.note)) + "</tr>\n";
  }
  for (std::string_view name : kStandardTables) {
    std::string table = MasterTablePath(name);
    if (seen.count(table)) continue;
    *out += "<tr>" + Cell(Html(table)) + Cell("left as it was") + Cell("") +
            Cell("not written by this back-end's export") + "</tr>\n";
  }
  *out += "</tbody>\n</table>\n";
}

void Failures(const PassRecord& record, std::string* out) {
  *out += "<h2>Failures of the last passes</h2>\n";
  std::string rows;
  size_t shown = 0, more = 0;
  for (auto p = record.passes.rbegin(); p != record.passes.rend(); ++p) {
    for (const Failure& f : p->failures) {
      if (shown == kFailuresShown) {
        ++more;
        continue;
      }
      ++shown;
      rows += "<tr>" + Time(p->start) +
              Cell("<b>" + Html(TroubleTitle(f.trouble)) + "</b><br>" + Html(f.text)) +
              Cell(Html(TroubleHint(f.trouble))) + "</tr>\n";
    }
    more += p->failures_left_out;
  }
  if (shown == 0) {
    *out += "<p id=\"failures\">None in the recorded passes.</p>\n";
    return;
  }
  *out += "<table id=\"failures\">\n<thead><tr><th>Pass</th><th>What happened</th>"
          "<th>What to do</th></tr></thead>\n<tbody>\n" + rows + "</tbody>\n</table>\n";
  if (more > 0) {
    *out += "<p class=\"note\">" + std::to_string(more) +
            " older failures are not shown; Lumbra.log has them.</p>\n";
  }
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// Lines posted per recorded pass, oldest on the left; a pass that failed is
// drawn in red, at least as a sliver.
void Chart(const PassRecord& record, std::string* out) {
  *out += "<h2>Lines posted per pass</h2>\n";
  std::vector<const PassEntry*> passes;
  for (const PassEntry& p : record.passes) {
    if (p.end != PassEnd::kRunning) passes.push_back(&p);
  }
  constexpr double kLeft = 50, kTop = 10, kWidth = 700, kHeight = 140;
  size_t most = 1;
  for (const PassEntry* p : passes) most = std::max(most, p->totals.posted);
  *out += "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"780\" height=\"180\" "
          "role=\"img\" aria-label=\"lines posted per pass\">\n";
  *out += "<line x1=\"" + Num(kLeft) + "\" y1=\"" + Num(kTop + kHeight) + "\" x2=\"" +
          Num(kLeft + kWidth) + "\" y2=\"" + Num(kTop + kHeight) + "\" stroke=\"#999\"/>\n";
  *out += "<text x=\"" + Num(kLeft - 6) + "\" y=\"" + Num(kTop + 10) + "\" text-anchor=\"end\">" +
          std::to_string(most) + "</text>\n<text x=\"" + Num(kLeft - 6) + "\" y=\"" +
          Num(kTop + kHeight) + "\" text-anchor=\"end\">0</text>\n";
  // A few passes get bars of a readable width, not the whole chart.
  const double step =
      passes.empty() ? 0 : std::min(16.0, kWidth / static_cast<double>(passes.size()));
  for (size_t i = 0; i < passes.size(); ++i) {
    const PassEntry& p = *passes[i];
    double h = kHeight * static_cast<double>(p.totals.posted) / static_cast<double>(most);
    bool failed = p.Failed();
    if (failed) h = std::max(h, 3.0);
    *out += "<rect class=\"" + std::string(failed ? "failed" : "posted") + "\" x=\"" +
            Num(kLeft + step * static_cast<double>(i)) + "\" y=\"" + Num(kTop + kHeight - h) +
            "\" width=\"" + Num(std::max(step * 0.8, 0.5)) + "\" height=\"" + Num(h) +
            "\"><title>" + ShownTime(p.start) + ": " + std::to_string(p.totals.posted) +
            " lines posted" + (failed ? ", failed" : "") + "</title></rect>\n";
  }
  if (!passes.empty()) {
    // The newest pass's time under its bar, clear of the oldest's.
    double right = std::max(kLeft + step * static_cast<double>(passes.size()), kLeft + 220);
    *out += "<text x=\"" + Num(kLeft) + "\" y=\"" + Num(kTop + kHeight + 16) + "\">" +
            ShownTime(passes.front()->start) + "</text>\n<text x=\"" + Num(right) + "\" y=\"" +
            Num(kTop + kHeight + 16) + "\" text-anchor=\"end\">" +
            ShownTime(passes.back()->start) + "</text>\n";
  }
  *out += "</svg>\n";
}

}  // namespace

std::string RenderReportPage(const PassRecord& record, const RunOverview& overview,
                             std::string_view work_dir) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n<title>Lumbra: " +
      Html(work_dir) + "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n" +
      "<h1>Lumbra: " + Html(work_dir) + "</h1>\n";
  Summary(overview, &out);
  Devices(overview, &out);
  Waiting(overview, &out);
  Tables(record, &out);
  Failures(record, &out);
  Chart(record, &out);
  out += "<p class=\"note\">Written " + ShownTime(overview.now) +
         " by lumbra " LUMBRA_VERSION "; the record of the last " +
         std::to_string(kRecordedPasses) + " passes is " + std::string(kPassRecordFile) +
         ", every detail is in Lumbra.log.</p>\n</body>\n</html>\n";
  return out;
}

}  // namespace lumbra
