#include "intake/intake.h"

#include <algorithm>

#include "backends/context/run_context.h"
#include "intake/device_files.h"
#include "intake/device_mail.h"
#include "intake/device_posting.h"
#include "intake/posting.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

// Takes in and posts the files of the devices listed. Returns the devices
// whose file was one an earlier pass left and is now posted to the end, while
// a newer file waits in their folder. *may_post turns false when a posting
// halts: the devices after it keep their records.
std::vector<int> TakeInRound(RunContext& ctx, Posting* posting, const std::vector<int>& devices,
                             bool* may_post) {
  std::vector<HandedIn> handed_in = TakeOverDeviceFiles(ctx, &devices);
  RouteDeviceMail(ctx, handed_in);
  std::vector<int> again;
  for (const HandedIn& h : handed_in) {
    if (!h.usable) continue;
    if (!*may_post) {
      ctx.Log("device " + std::to_string(h.device) + ": records kept for the next pass");
      continue;
    }
    *may_post = PostDeviceFile(ctx, posting, h.device);
    std::string waiting = ctx.Path(std::to_string(h.device) + "\\" + std::string(kTransactionFile));
    if (h.resumed && !ctx.env->FileExists(IntakeFilePath(ctx, h.device)) &&
        ctx.env->FileExists(waiting)) {
      again.push_back(h.device);
    }
  }
  return again;
}

}  // namespace

void ReadDeviceNames(RunContext& ctx) {
  std::string text;
  Status s = ctx.env->ReadFile(ctx.Path(kDeviceNamesFile), &text);
  // Without names the devices' MYOB import files all carry the stamp alone.
  if (!s.ok()) {
    if (!s.IsNotFound()) {
      ctx.Log(std::string(kDeviceNamesFile) + " not read, the devices have no names: " +
              s.ToString());
    }
    return;
  }
  LineReader reader(text);
  std::string_view line;
  std::string rest, name, number;
  while (reader.Next(&line)) {
    rest.assign(line);
    SplitField(rest, name);
    SplitField(rest, number);
    std::optional<int> device = ToInt16(ValueOf(number));
    if (device && *device >= 0 && *device <= 99) ctx.DeviceNames[*device] = name;
  }
}

void TakeInTransactions(RunContext& ctx, Posting* posting) {
  ReadDeviceNames(ctx);
  PruneArchive(ctx);
  if (posting) posting->BeginPass(ctx);
  int resumed = 0;
  bool may_post = ResumePosting(ctx, posting, &resumed);
  if (!may_post) ctx.Log("no device's records are posted in this pass");
  // Lines the resumed posting kept wait for the next pass, as do lines kept
  // in any other way.
  bool resumed_kept = resumed != 0 && ctx.env->FileExists(IntakeFilePath(ctx, resumed));
  std::vector<int> devices;
  for (int device = 1; device <= 99; ++device) {
    if (!(resumed_kept && device == resumed)) devices.push_back(device);
  }
  std::vector<int> again = TakeInRound(ctx, posting, devices, &may_post);
  if (!again.empty()) TakeInRound(ctx, posting, again, &may_post);
}

}  // namespace lumbra
