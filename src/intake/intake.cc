#include "intake/intake.h"

#include "backends/aurora/aurora.h"
#include "backends/database/database.h"
#include "backends/myob/myob.h"
#include "intake/device_files.h"
#include "intake/device_mail.h"
#include "backends/context/backend_names.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "backends/context/run_context.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

// A posting that wrote nothing at all hands the records back to the
// device's folder, so a later pass posts them once the cause is mended.
void PutBackStagedRecords(RunContext& ctx, int device) {
  Status s = UnstageDeviceFile(ctx, device);
  ctx.Log("device " + std::to_string(device) +
          (s.ok() ? ": records not posted, kept for a later pass"
                  : ": records not posted and not put back (the archive holds them): " +
                        s.ToString()));
}

void PostStagedRecords(RunContext& ctx, int device) {
  const std::string& name = ctx.BackendName;
  if (name == kAuroraBackend) {
    PostAuroraTransactions(ctx);
  } else if (int edition = MyobEditionOf(name); edition >= 0) {
    if (!WriteMyobSaleFiles(ctx, device, edition).ok()) PutBackStagedRecords(ctx, device);
  } else {
    ctx.Log("device " + std::to_string(device) +
            ": records taken in and not posted (this back-end takes no postings)");
  }
}

void PostThroughStagingFile(RunContext& ctx, const std::vector<HandedIn>& handed_in) {
  for (const HandedIn& h : handed_in) {
    if (!h.usable) continue;
    Status s = StageDeviceFile(ctx, h.device);
    if (!s.ok()) {
      ctx.Log("device " + std::to_string(h.device) +
              ": transaction file not staged, kept for a later pass: " + s.ToString());
      continue;
    }
    PostStagedRecords(ctx, h.device);
  }
}

// The database posting goes through the device folders itself; it finds
// each device's records in its intake file (IntakeFilePath), which it
// deletes once they are posted.
void PostThroughDatabase(RunContext& ctx) {
  if (ctx.DataPath.empty()) ctx.DataPath = kDefaultDatabaseFile;
  OpenDatabaseConnection(ctx);
  PostDatabaseTransactions(ctx);
}

}  // namespace

void ReadDeviceNames(RunContext& ctx) {
  std::string text;
  if (!ctx.env->ReadFile(ctx.Path(kDeviceNamesFile), &text).ok()) return;
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

void TakeInTransactions(RunContext& ctx) {
  ReadDeviceNames(ctx);
  PruneArchive(ctx);
  std::vector<HandedIn> handed_in = TakeOverDeviceFiles(ctx);
  RouteDeviceMail(ctx, handed_in);
  if (IsDatabaseBackend(ctx.BackendName)) {
    PostThroughDatabase(ctx);
  } else {
    PostThroughStagingFile(ctx, handed_in);
  }
}

}  // namespace lumbra
