#include "run/status_command.h"

#include "backends/context/run_context.h"
#include "intake/intake.h"
#include "platform/env.h"
#include "report/pass_record.h"
#include "report/run_overview.h"
#include "report/run_report.h"
#include "report/status_text.h"
#include "run/run_driver.h"
#include "text/cp1252.h"

namespace lumbra {
namespace {

constexpr int kExitNoRecord = 1;

void Put(FILE* f, std::string_view s) { std::fwrite(s.data(), 1, s.size(), f); }

// The devices' names as the intake reads them, without a log.
std::array<std::string, 100> DeviceNamesIn(Env* env, const std::string& work_dir) {
  RunLog silent(env, "");
  RunContext ctx(env, &silent, work_dir, work_dir);
  ReadDeviceNames(ctx);
  return ctx.DeviceNames;
}

}  // namespace

int ShowStatus(Env* env, const std::vector<std::string>& args, const CliStreams& io) {
  RunOptions options;
  if (!args.empty()) {
    if (args.size() != 2 || args[0] != "--dir" || args[1].empty()) {
      Put(io.err, "lumbra: status takes only --dir DIR\n");
      return kExitUsage;
    }
    options.dir = args[1];
  }
  std::string work_dir, program_dir;
  Status s = SettleFolders(env, options, &work_dir, &program_dir);
  if (!s.ok()) {
    Put(io.err, "lumbra: " + s.ToString() + "\n");
    return kExitCannotStart;
  }
  std::string problem;
  PassRecord record = ReadPassRecord(env, work_dir, &problem);
  if (!problem.empty()) Put(io.err, "lumbra: " + problem + "\n");
  RunOverview overview = MakeRunOverview(
      record, DeviceFolders(env, work_dir), DeviceNamesIn(env, work_dir), env->Now(),
      [&](const std::string& path) { return env->FileExists(JoinPath(work_dir, path)); });
  std::string text = RenderStatusText(overview, work_dir);
  Put(io.out, io.out_is_terminal ? Cp1252ToUtf8(text) : text);
  if (overview.last == nullptr) return kExitNoRecord;
  return overview.AttentionBits();
}

}  // namespace lumbra
