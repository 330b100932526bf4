// The customer and stock item tables of the Aurora export.
#include <string>
#include <unordered_map>

#include "backends/aurora/aurora_export.h"
#include "backends/aurora/aurora_tables.h"
#include "platform/file_case.h"
#include "backends/aurora/flatten_memo.h"
#include "backends/aurora/table_engine.h"
#include "text/numbers.h"
#include "backends/context/run_context.h"

namespace lumbra {
namespace {

// An IMAGE value names a picture inside the images folders only when it
// holds no folder separator, no "..", no drive colon and no control byte.
bool SafeImageName(const std::string& image) {
  if (image.find("..") != std::string::npos) return false;
  for (unsigned char c : image) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

// Copies the item pictures named by the stock items into "Images\" of the
// working folder, counting what could not be copied so the log gets one
// line per kind of problem, not one per item.
class PictureCopier {
 public:
  explicit PictureCopier(RunContext& ctx) : ctx_(ctx) {}
  ~PictureCopier() { Report(); }

  void Copy(const std::string& image) {
    if (!SafeImageName(image)) {
      ctx_.Log("stock item picture \"" + image +
               "\" not copied: the name reaches outside the images folder");
      return;
    }
    if (!target_known_) {
      target_known_ = true;
      target_ok_ = ctx_.env->DirExists(ctx_.Path("Images"));
      if (!target_ok_) ctx_.Log("folder Images is missing; no stock item picture is copied");
    }
    if (!target_ok_) return;
    std::string from;
    if (!FindPathIgnoringCase(ctx_.env, ctx_.Path(ctx_.DataPath + "\\images\\i" + image + ".jpg"),
                              &from)) {
      Note(&missing_, &first_missing_, image);
      return;
    }
    Status s = ctx_.env->CopyFile(from, ctx_.Path("Images\\" + image + ".jpg"));
    if (!s.ok()) {
      Note(&failed_, &first_failed_, image);
      if (first_failure_.empty()) first_failure_ = s.ToString();
    }
  }

 private:
  static void Note(int* count, std::string* first, const std::string& image) {
    if ((*count)++ == 0) *first = "i" + image + ".jpg";
  }

  void Report() {
    if (missing_ > 0) {
      ctx_.Log(std::to_string(missing_) + " stock item pictures not found in the images folder (" +
               first_missing_ + " the first)");
    }
    if (failed_ > 0) {
      ctx_.Log(std::to_string(failed_) + " stock item pictures could not be copied (" +
               first_failed_ + " the first: " + first_failure_ + ")");
    }
  }

  RunContext& ctx_;
  bool target_known_ = false;
  bool target_ok_ = false;
  int missing_ = 0;
  int failed_ = 0;
  std::string first_missing_, first_failed_, first_failure_;
};

}  // namespace

bool ExportAuroraCustomers(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  engine.ClearError();
  std::string path = AuroraTablePath(ctx, kCustomerTable);
  if (engine.Use(path, "Dmaster", TableEngine::kReadOnly, TableEngine::kDriverDbf) == 0 ||
      !engine.last_error().ok()) {
    engine.CloseAll();
    ctx.LogFailure(Trouble::kDataMissing,
                   "Aurora export stopped: the customer table " + path +
                       " cannot be opened; the device tables of earlier passes are kept");
    return false;
  }
  engine.SetDeleted(true);
  DeviceRow row;
  for (engine.GoTop(); !engine.Eof(); engine.Skip(1)) {
    row.Clear();
    row.Add(TrimmedField(engine, "NAME"))
        .Add(TrimmedField(engine, "ACCOUNT"))
        .Add(TrimmedField(engine, "CONTACT"))
        .Add(JoinedAddress(engine, "ADDR1", "ADDR2", "ADDR3"))
        .Add(JoinedAddress(engine, "DADDR1", "DADDR2", "DADDR3"));
    for (const char* field : {"CONTACT2", "PHONE", "FAX", "MOBILE", "EMAIL", "CURRENT", "O30",
                              "O60", "O90"}) {
      row.Add(TrimmedField(engine, field));
    }
    row.Add(FlattenMemo(engine.GetMemo("NOTES", 0)));
    ctx.RowBuffer.Add(row.text());
  }
  engine.Close();
  WriteAuroraDeviceTable(ctx, "Customers",
                         "Name\tAccount\tContact1\tAddress1\tDelivery1\tContact2\tPhone\tFax\t"
                         "Mobile\tEmail\tCurrent\t30 days\t60 days\t90 days\tNotes");
  return true;
}

void ExportAuroraStockItems(RunContext& ctx, TableEngine& engine) {
  ctx.RowBuffer.Clear();
  // Item code to the text of its balance: the first record of a code with
  // a balance other than zero gives it.
  std::unordered_map<std::string, std::string> balances;
  ScanTable(engine, AuroraTablePath(ctx, kBalanceTable), "Stkbals", [&] {
    double balance = Single(Single(ValueOf(TrimmedField(engine, "INSTOCK"))) -
                            Single(ValueOf(TrimmedField(engine, "ALLOC"))));
    if (balance != 0) balances.emplace(TrimmedField(engine, "CODE"), SingleText(balance));
  });

  PictureCopier pictures(ctx);
  DeviceRow row;
  ScanTable(engine, AuroraTablePath(ctx, kStockTable), "Stock", [&] {
    std::string code = TrimmedField(engine, "CODE");
    auto balance = balances.find(code);
    std::string image = TrimmedField(engine, "IMAGE");
    if (ValueOf(image) > 0) {
      pictures.Copy(image);
    } else {
      image.clear();
    }
    row.Clear();
    row.Add(code)
        .Add(TrimmedField(engine, "DESC"))
        .Add(MoneyText(Single(ValueOf(TrimmedField(engine, "SELL1")))))
        .Add(MoneyText(Single(ValueOf(TrimmedField(engine, "LATEST")))))
        .Add(image)
        .Add(balance != balances.end() ? balance->second : std::string());
    ctx.RowBuffer.Add(row.text());
  });
  WriteAuroraDeviceTable(ctx, "StockItems", "Code\tDesc\tSell1\tLatest\tImage\tInstock");
}

}  // namespace lumbra
