#include "report/run_overview.h"

#include "platform/env.h"
#include "text/paths.h"

namespace lumbra {
namespace {

struct TroubleText {
  Trouble trouble;
  std::string_view title;
  std::string_view hint;
};

constexpr TroubleText kTroubleTexts[] = {
    {Trouble::kKept, "Lines kept for the next pass",
     "Nothing to do: the next pass posts them before anything newer of the device; if they "
     "stay kept for hours, mend what the reason names."},
    {Trouble::kLockHeld, "A lock held by another program",
     "Another program (the accounting package on some desk) had that record or table open; "
     "the lines go in by themselves once it lets go, or close it there."},
    {Trouble::kRejected, "Lines rejected",
     "Mend what the reason names, then copy the file into the device's folder as "
     "transact.xml to hand the lines in again (or delete it to give them up)."},
    {Trouble::kDataMissing, "The back-end's data is missing",
     "Check that path= in Lumbra.ini names the back-end's data and that its drive or share "
     "is connected; the devices keep their tables meanwhile."},
    {Trouble::kDatabaseSilent, "The database did not answer",
     "Check that the database (or the accounting package) is running and reachable from "
     "this computer; nothing is lost, the next pass posts the lines that wait."},
    {Trouble::kDiskFull, "A disk is full",
     "Free space on the disk of the installation folder or of the back-end's data; nothing "
     "is lost, the next pass finishes the work."},
    {Trouble::kTableNotWritten, "A device table was not written",
     "Check that folder 1\\ and the device folders can be written and that no program holds "
     "the table open; the devices keep their older copy meanwhile."},
    {Trouble::kFileNotWritten, "A file was not written",
     "Check that the folder named can be written and has room; the lines stay in the "
     "device's folder and are tried again by the next pass."},
    {Trouble::kPassStopped, "A pass stopped before its end",
     "Nothing is lost, the next pass takes up the work; if passes keep stopping, look in "
     "Lumbra.log at that time."},
    {Trouble::kOther, "A failure", "Look in Lumbra.log at that time for the details."},
};

const TroubleText& TextOf(Trouble trouble) {
  for (const TroubleText& t : kTroubleTexts) {
    if (t.trouble == trouble) return t;
  }
  return kTroubleTexts[std::size(kTroubleTexts) - 1];
}

std::string Lines(size_t n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); }

std::string DeviceName(const DeviceStanding& row) {
  std::string out = "Device " + std::to_string(row.device);
  return row.name.empty() ? out : out + " (" + row.name + ")";
}

bool Older(const LocalTime& t, const LocalTime& now, int64_t seconds) {
  return SecondsOf(now) - SecondsOf(t) > seconds;
}

bool Same(const LocalTime& a, const LocalTime& b) { return SecondsOf(a) == SecondsOf(b); }

void MarkSilentDevices(std::vector<DeviceStanding>* rows, const LocalTime& now) {
  bool others_handed_in = false;
  for (const DeviceStanding& r : *rows) {
    if (r.handed_in && !Older(*r.handed_in, now, kSilentSeconds)) others_handed_in = true;
  }
  if (!others_handed_in) return;
  // A device that never handed anything in (folder 1 holding only the
  // master tables, a device not in use yet) is not missed.
  for (DeviceStanding& r : *rows) r.silent = r.handed_in && Older(*r.handed_in, now, kSilentSeconds);
}

}  // namespace

RunOverview MakeRunOverview(const PassRecord& record, const std::vector<int>& device_folders,
                            const std::array<std::string, 100>& names, const LocalTime& now,
                            const std::function<bool(const std::string&)>& still_there) {
  RunOverview o;
  o.now = now;
  o.last = record.LastDone();
  if (!record.passes.empty() && record.passes.back().end == PassEnd::kRunning) {
    o.running = &record.passes.back();
  }
  for (const RejectedEntry& e : record.waiting) {
    if (!still_there(e.path)) continue;
    o.waiting.push_back(e);
    o.waiting_lines += e.lines;
  }
  for (int device : device_folders) {
    DeviceStanding row;
    row.device = device;
    if (device >= 0 && device < static_cast<int>(names.size())) row.name = names[device];
    auto it = record.devices.find(device);
    if (it != record.devices.end()) {
      const DeviceEntry& d = it->second;
      row.handed_in = d.handed_in;
      row.posted = d.posted;
      row.kept_since = d.kept_since;
      row.last = d.last;
      row.kept_reason = d.kept_reason;
      row.stuck = d.kept_since && Older(*d.kept_since, now, kSilentSeconds);
    }
    for (const RejectedEntry& e : o.waiting) {
      if (e.device == device && o.last && Same(e.written, o.last->start)) {
        row.rejected_files.push_back(e.path);
      }
    }
    o.devices.push_back(std::move(row));
  }
  MarkSilentDevices(&o.devices, now);
  return o;
}

int RunOverview::AttentionBits() const {
  int bits = 0;
  if (last && last->Failed()) bits |= kAttentionFailedPass;
  if (!waiting.empty()) bits |= kAttentionRejectedLines;
  for (const DeviceStanding& r : devices) {
    if (r.silent) bits |= kAttentionSilentDevice;
    if (r.stuck) bits |= kAttentionStuckLines;
  }
  return bits;
}

std::vector<std::string> RunOverview::Attention() const {
  std::vector<std::string> out;
  if (last && last->Failed()) {
    std::string first;
    for (const Failure& f : last->failures) {
      if (NeedsAction(f.trouble)) {
        first = f.text;
        break;
      }
    }
    out.push_back("The last pass failed: " + first);
  }
  if (!waiting.empty()) {
    out.push_back(Lines(waiting_lines) + " rejected and not yet handed back, in " +
                  std::to_string(waiting.size()) +
                  (waiting.size() == 1 ? " file" : " files") + " of Rejected\\ (the oldest from " +
                  ShownTime(waiting.front().written) + ").");
  }
  for (const DeviceStanding& r : devices) {
    if (r.silent) {
      out.push_back(DeviceName(r) + " has handed in nothing since " + ShownTime(*r.handed_in) +
                    ", while other devices have.");
    }
    if (r.stuck) {
      out.push_back(DeviceName(r) + ": lines kept for the next pass since " +
                    ShownTime(*r.kept_since) +
                    (r.kept_reason.empty() ? "." : ": " + r.kept_reason));
    }
  }
  return out;
}

std::string RunOverview::Summary() const {
  std::string out;
  if (last == nullptr) {
    out = "No pass has ended here yet.";
  } else {
    out = "Last pass " + ShownTime(last->start) + ", took " + ShownDuration(last->duration_ms) +
          ", back-end " + (last->backend.empty() ? "none" : "\"" + last->backend + "\"") + ": ";
    size_t n = Attention().size();
    out += n == 0 ? "nothing needs attention."
                  : std::to_string(n) + (n == 1 ? " thing needs" : " things need") + " attention.";
  }
  if (running) {
    out += " A pass started at " + ShownTime(running->start) +
           " has not ended: it is running, or was stopped (the next pass will tell).";
  }
  return out;
}

std::vector<int> DeviceFolders(Env* env, const std::string& work_dir) {
  std::vector<int> folders;
  for (int device = 1; device <= 99; ++device) {
    if (env->DirExists(JoinPath(work_dir, std::to_string(device)))) folders.push_back(device);
  }
  return folders;
}

std::string_view TroubleTitle(Trouble trouble) { return TextOf(trouble).title; }
std::string_view TroubleHint(Trouble trouble) { return TextOf(trouble).hint; }

}  // namespace lumbra
