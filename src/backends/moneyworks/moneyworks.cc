#include "backends/moneyworks/moneyworks.h"

#include <memory>
#include <string>

#include "backends/moneyworks/application.h"
#include "backends/moneyworks/http_client.h"
#include "text/lines.h"
#include "text/numbers.h"
#include "backends/context/run_context.h"
#include "backends/context/run_buffers.h"
#include "text/text_fields.h"
#include "tables/table_writer.h"

namespace lumbra {
namespace {

using moneyworks::AutomationObject;

// Every step runs whatever happened before it; a section reads its export
// only when no step since the previous section was written failed. Each
// failure is logged once, as it happens; a step that fails only because an
// earlier one did is not logged again.
class Steps {
 public:
  explicit Steps(RunContext& ctx) : ctx_(ctx) {}
  void Check(const Status& s, std::string_view what) {
    if (s.ok()) return;
    ctx_.Log("MoneyWorks: " + std::string(what) + ": " + s.ToString());
    failed_ = true;
  }
  void FailQuietly() { failed_ = true; }
  bool failed() const { return failed_; }
  // A new section: only the failures from here on count.
  void Restart() { failed_ = false; }

 private:
  RunContext& ctx_;
  bool failed_ = false;
};

// The next field of LineBuffer, and the n-th field from here on.
const std::string& Next(RunContext& ctx) {
  SplitField(ctx);
  return ctx.FieldBuffer;
}
const std::string& Skip(RunContext& ctx, int n) {
  SkipFields(ctx, n);
  return ctx.FieldBuffer;
}

// Creates an instance and lets it go, obtains the object to use as a new
// instance, and opens the document DataPath names.
void Connect(RunContext& ctx, moneyworks::HttpClient* http, Steps* steps,
             std::unique_ptr<AutomationObject>* mw) {
  // MoneyWorks over COM writes each export itself, so only the whole call
  // can be limited: by the same setting as the Datacentre's silence.
  const moneyworks::ObjectSource source =
      moneyworks::SourceFor(ctx.DataPath, ctx.env, http, &ctx.com_calls,
                            static_cast<uint64_t>(ctx.time_limits.http_seconds) * 1000);
  {
    std::unique_ptr<AutomationObject> discarded;
    steps->Check(moneyworks::CreateObject(moneyworks::kApplicationClass, source, &discarded),
                 "automation object not created");
  }
  steps->Check(moneyworks::GetObject("", moneyworks::kApplicationClass, source, mw),
               "automation object not obtained");
  if (*mw != nullptr) steps->Check((*mw)->Open(ctx.DataPath), "document not opened");
}

// A scratch file that cannot be deleted costs the next section its export:
// what is in it could be the last section's. After an export that was never
// written there is nothing to delete, which says nothing new.
void DeleteScratch(RunContext& ctx, const std::string& scratch, bool exported, Steps* steps) {
  steps->Restart();
  Status s = ctx.env->DeleteFile(scratch);
  if (!exported && s.IsNotFound()) {
    steps->FailQuietly();
  } else {
    steps->Check(s, "previous export file not deleted");
  }
}

// Has MoneyWorks export table into the scratch file and calls read_line
// with each line after its heading line in LineBuffer. Returns whether the
// export was written.
template <typename ReadLine>
bool ExportAndRead(RunContext& ctx, AutomationObject* mw, std::string_view table,
                   const std::string& scratch, Steps* steps, ReadLine read_line) {
  const std::string name(table);
  bool exported = false;
  if (mw == nullptr || !mw->IsOpen()) {
    steps->FailQuietly();  // the connection's failure is logged already
  } else {
    Status s = mw->Export(table, "", scratch);
    exported = s.ok();
    steps->Check(s, name + " export failed");
  }
  std::string text;
  if (!steps->failed()) {
    steps->Check(ctx.env->ReadFile(scratch, &text), name + " export not opened");
  }
  if (steps->failed()) {
    ctx.LogFailure(Trouble::kDataMissing, "MoneyWorks " + name + " export not read");
    return exported;
  }
  LineReader lines(text);
  std::string_view line;
  int records = 0;
  if (lines.Next(&line)) {  // the heading line
    while (lines.Next(&line)) {
      ctx.LineBuffer.assign(line);
      read_line();
      ++records;
    }
  }
  ctx.Log("MoneyWorks " + name + " export: " + std::to_string(records) + " records");
  return exported;
}

// A name is a customer when field 19 is above 0, otherwise a supplier.
void ReadNameLine(RunContext& ctx) {
  std::string code = Next(ctx);                                // 1
  std::string row = Next(ctx) + "\t" + code + "\t";            // 2, 1
  std::string contact = Next(ctx);                             // 3
  if (contact == "0/0/0") contact.clear();
  row += contact + "\t";
  row += Skip(ctx, 2) + " ";                                   // 5
  row += Next(ctx) + " ";                                      // 6
  row += Next(ctx);                                            // 7
  row = Trim(row) + "\t";
  row += Skip(ctx, 2) + " ";                                   // 9
  row += Next(ctx) + " ";                                      // 10
  row += Next(ctx);                                            // 11
  row = Trim(row) + "\t";
  row += Skip(ctx, 2) + "\t";                                  // 13
  row += Next(ctx) + "\t";                                     // 14
  double customer_type = ValueOf(Skip(ctx, 5));                // 19
  if (customer_type > 0) {
    row += Skip(ctx, 10) + "\t";                               // 29
    row += Skip(ctx, 11) + "\t";                               // 40
    row += Next(ctx) + "\t";                                   // 41
    row += Skip(ctx, 20) + "\t";                               // 61
    ctx.RowBuffer.Add(row);
  } else {
    row += Skip(ctx, 10) + "\t";                               // 29
    row += Skip(ctx, 11) + "\t";                               // 40
    row += Next(ctx);                                          // 41
    ctx.SideBuffer.Add(row);
  }
}

// Only income accounts (type "IN") are kept.
void ReadAccountLine(RunContext& ctx) {
  std::string row = Next(ctx);                                 // 1
  row += "\t" + Next(ctx);                                     // 2
  if (Next(ctx) == "IN") ctx.RowBuffer.Add(row);               // 3
}

// A product is a stock item when field 11 is above 0, otherwise an activity.
void ReadProductLine(RunContext& ctx) {
  std::string code = Next(ctx);                                // 1
  std::string supplier = Next(ctx);                            // 2
  std::string description = Skip(ctx, 2);                      // 4
  std::string notes = Next(ctx);                               // 5
  double stocked = ValueOf(Skip(ctx, 6));                      // 11
  if (stocked > 0) {
    std::string unit = Skip(ctx, 2);                           // 13
    std::string sell = Next(ctx);                              // 14
    std::string latest = Skip(ctx, 19);                        // 33
    std::string instock = Skip(ctx, 11);                       // 44
    ctx.RowBuffer.Add(code + "\t" + description + "\t" + notes + "\t" + unit + "\t" + sell +
                      "\t" + latest + "\t" + supplier + "\t" + instock);
  } else {
    std::string hourly_rate = Skip(ctx, 3);                    // 14
    ctx.SideBuffer.Add(code + "\t" + description + "\t" + hourly_rate + "\t");
  }
}

void ReadJobLine(RunContext& ctx) {
  std::string row = Next(ctx);                                 // 1
  row += "\t" + Next(ctx);                                     // 2
  row += "\t" + Skip(ctx, 2);                                  // 4
  row += "\t" + Next(ctx);                                     // 5
  row += "\t" + Skip(ctx, 5);                                  // 10
  ctx.RowBuffer.Add(row);
}

}  // namespace

void ExportMoneyWorks(RunContext& ctx) {
  moneyworks::HttpLimits limits;
  limits.silence_ms = static_cast<long>(ctx.time_limits.http_seconds) * 1000;
  std::unique_ptr<moneyworks::HttpClient> http = moneyworks::NewHttpClient(limits);
  ExportMoneyWorks(ctx, http.get());
}

void ExportMoneyWorks(RunContext& ctx, moneyworks::HttpClient* http) {
  const std::string scratch = ctx.ProgramPath(kMoneyWorksScratchFile);
  Steps steps(ctx);

  std::unique_ptr<AutomationObject> mw;
  Connect(ctx, http, &steps, &mw);

  // Names: customers and suppliers.
  bool exported = ExportAndRead(ctx, mw.get(), "Name", scratch, &steps, [&] { ReadNameLine(ctx); });
  WriteTable(ctx, "Customers",
             "Name\tAccount\tContact1\tAddress1\tAddress2\tPhone\tFax\tNotes\tEmail\tMobile\t"
             "Current");
  CopySideBuffer(ctx);
  WriteTable(ctx, "Suppliers",
             "Name\tAccount\tContact1\tAddr1\tAddr2\tPhone\tFax\tNotes\tEmail\tMobile");
  ctx.RowBuffer.Clear();
  ctx.SideBuffer.Clear();
  DeleteScratch(ctx, scratch, exported, &steps);

  // Accounts: income accounts.
  exported =
      ExportAndRead(ctx, mw.get(), "Account", scratch, &steps, [&] { ReadAccountLine(ctx); });
  WriteTable(ctx, "Accounts", "Account Number\tAccount Name");
  ctx.RowBuffer.Clear();
  DeleteScratch(ctx, scratch, exported, &steps);

  // Products: stock items and activities.
  exported =
      ExportAndRead(ctx, mw.get(), "Product", scratch, &steps, [&] { ReadProductLine(ctx); });
  WriteTable(ctx, "StockItems", "Code\tDesc\tNotes\tUnit\tSell1\tLatest\tSupplier\tInstock\t");
  CopySideBuffer(ctx);
  WriteTable(ctx, "Activity", "Code\tDescription\tHourlyrate");
  DeleteScratch(ctx, scratch, exported, &steps);
  ctx.RowBuffer.Clear();

  // Jobs. The scratch file stays, holding this export.
  ExportAndRead(ctx, mw.get(), "Job", scratch, &steps, [&] { ReadJobLine(ctx); });
  WriteTable(ctx, "Jobs", "Jobno\tName\tCustomer\tStart\tFinish");

  if (mw != nullptr) mw->Quit();
  mw.reset();
}

}  // namespace lumbra
