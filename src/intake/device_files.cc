#include "intake/device_files.h"

#include <algorithm>
#include <cstdio>

#include "text/dates.h"
#include "text/lines.h"
#include "backends/context/run_context.h"

namespace lumbra {
namespace {

std::string DeviceFile(const RunContext& ctx, int device, std::string_view suffix) {
  return ctx.Path(std::to_string(device) + "\\" + std::string(kTransactionFile) +
                  std::string(suffix));
}

// Whether the device handed in "transact.xml" spelt exactly so: the folder's
// listing must hold that name, since on Windows a "Transact.xml" would
// answer for it too, and a file of another spelling is not the devices'.
bool HandedInExactly(Env* env, const std::string& handed) {
  if (!env->FileExists(handed)) return false;
  std::vector<DirEntry> entries;
  if (!env->ListDir(handed.substr(0, handed.size() - kTransactionFile.size() - 1), &entries).ok()) {
    return true;  // the open will tell
  }
  return std::any_of(entries.begin(), entries.end(),
                     [](const DirEntry& e) { return !e.is_dir && e.name == kTransactionFile; });
}

size_t CountLines(std::string_view text) {
  LineReader reader(text);
  std::string_view line;
  size_t n = 0;
  while (reader.Next(&line)) ++n;
  return n;
}

Date Today(const RunContext& ctx) {
  LocalTime t = ctx.env->Now();
  return Date{t.year, t.month, t.day};
}

Status ArchiveTakenFile(RunContext& ctx, int device) {
  std::string taken = DeviceFile(ctx, device, kTakenSuffix);
  std::string bytes;
  Status s = ctx.env->ReadFile(taken, &bytes);
  if (!s.ok()) return s;
  std::string name = FreeDatedName(ctx, kArchiveFolder, device);
  s = ctx.env->WriteFile(ctx.Path(name), bytes);
  if (s.ok()) s = ctx.env->SyncFile(ctx.Path(name));
  if (!s.ok()) return s;
  s = ctx.env->RenameFile(taken, DeviceFile(ctx, device, kIntakeSuffix));
  if (s.ok()) {
    ctx.Log("device " + std::to_string(device) + ": " + std::string(kTransactionFile) +
            " taken in, " + std::to_string(CountLines(bytes)) + " lines, archived as " + name);
    ctx.report.HandedIn(device, bytes);
  }
  return s;
}

// Brings one device's file to its archived intake state; false when the
// device has nothing to take in or a step failed. *resumed says whether the
// file was one an earlier pass left.
bool TakeOverDeviceFile(RunContext& ctx, int device, bool* resumed) {
  Env* env = ctx.env;
  const std::string dev = "device " + std::to_string(device) + ": ";
  const std::string handed = DeviceFile(ctx, device, "");
  const std::string taken = DeviceFile(ctx, device, kTakenSuffix);
  const std::string intake = DeviceFile(ctx, device, kIntakeSuffix);
  bool leftover = env->FileExists(intake) || env->FileExists(taken);
  *resumed = leftover;
  if (leftover) {
    ctx.Log(dev + "taking up the transaction file an earlier pass left" +
            (env->FileExists(handed) ? "; the newer transact.xml waits until it is posted" : ""));
  }
  if (env->FileExists(intake)) return true;
  if (!env->FileExists(taken)) {
    if (!HandedInExactly(env, handed)) return false;
    Status s = env->RenameFile(handed, taken);
    if (!s.ok()) {
      ctx.LogFailure(TroubleOf(s, Trouble::kFileNotWritten),
                     dev + "transact.xml not taken over, left for a later pass: " + s.ToString());
      return false;
    }
  }
  Status s = ArchiveTakenFile(ctx, device);
  if (!s.ok()) {
    ctx.LogFailure(TroubleOf(s, Trouble::kFileNotWritten),
                   dev + "transaction file not archived, kept for a later pass: " + s.ToString());
    return false;
  }
  return true;
}

}  // namespace

std::string IntakeFilePath(const RunContext& ctx, int device) {
  return DeviceFile(ctx, device, kIntakeSuffix);
}

std::vector<HandedIn> TakeOverDeviceFiles(RunContext& ctx, const std::vector<int>* only) {
  std::vector<HandedIn> handed_in;
  for (int device = 1; device <= 99; ++device) {
    if (only && std::find(only->begin(), only->end(), device) == only->end()) continue;
    if (!ctx.env->DirExists(ctx.Path(std::to_string(device)))) continue;
    bool resumed = false;
    if (TakeOverDeviceFile(ctx, device, &resumed)) {
      handed_in.push_back(HandedIn{device, true, resumed});
    }
  }
  return handed_in;
}

std::string FreeDatedName(RunContext& ctx, std::string_view folder, int device) {
  // One reading of the clock, so the day folder and the time agree.
  LocalTime t = ctx.env->Now();
  std::string day = std::string(folder) + "\\" + FormatYyyymmdd(Date{t.year, t.month, t.day});
  for (const std::string& f : {std::string(folder), day}) {
    if (!ctx.env->DirExists(ctx.Path(f))) ctx.env->CreateDir(ctx.Path(f));
  }
  char stem[32];
  std::snprintf(stem, sizeof stem, "%d-%02d%02d%02d", device, t.hour, t.minute, t.second);
  std::string name = day + "\\" + stem + "-transact.xml";
  for (int n = 2; ctx.env->FileExists(ctx.Path(name)); ++n) {
    name = day + "\\" + stem + "-" + std::to_string(n) + "-transact.xml";
  }
  return name;
}

void PruneArchive(RunContext& ctx) {
  std::string archive = ctx.Path(kArchiveFolder);
  std::vector<DirEntry> days;
  if (!ctx.env->ListDir(archive, &days).ok()) return;
  long today = DaySerial(Today(ctx));
  for (const DirEntry& day : days) {
    if (!day.is_dir || day.name.size() != 8 ||
        day.name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::optional<Date> date = MakeDate(std::stoi(day.name.substr(0, 4)),
                                        std::stoi(day.name.substr(4, 2)),
                                        std::stoi(day.name.substr(6, 2)));
    if (!date || FormatYyyymmdd(*date) != day.name || today - DaySerial(*date) <= kArchiveKeepDays) {
      continue;
    }
    std::string folder = JoinPath(archive, day.name);
    std::vector<DirEntry> files;
    ctx.env->ListDir(folder, &files);
    for (const DirEntry& f : files) ctx.env->DeleteFile(JoinPath(folder, f.name));
    Status s = ctx.env->RemoveDir(folder);
    ctx.Log(s.ok() ? "archive day " + day.name + " deleted"
                   : "archive day " + day.name + " not deleted: " + s.ToString());
  }
}

}  // namespace lumbra
