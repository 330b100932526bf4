#include "backends/myob/myob.h"

#include "backends/context/run_context.h"
#include "intake/posting.h"
#include "intake/transaction_line.h"

namespace lumbra {
namespace {

// The text-file back-ends' posting: a device's sales and time records become
// MYOB import files (myob_sale_files.cc), written from the staging file as
// one set per device; records MYOB does not import are passed over.
class MyobPosting : public Posting {
 public:
  explicit MyobPosting(int edition) : edition_(edition) {}

  // The staging file holds the pending lines, in order. A line whose import
  // file was written is posted, even when another of the device's files
  // failed: each file is imported on its own.
  void PostDevice(RunContext& ctx, DeviceLines& lines) override {
    std::vector<SaleLineFile> files;
    Status s = WriteMyobSaleFiles(ctx, lines.device(), edition_, &files);
    if (!s.ok()) return lines.KeepRest("no MYOB import file written: " + s.ToString());
    size_t staged = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines.fate(i) != LineFate::kUnreported || staged >= files.size()) continue;
      switch (files[staged++]) {
        case SaleLineFile::kWritten:
          lines.Posted(i);
          break;
        case SaleLineFile::kNotWritten:
          lines.Kept(i, "its MYOB import file could not be written");
          break;
        case SaleLineFile::kNone:
          lines.PassedOver(i, "MYOB imports no " + ParseTransactionLine(lines.line(i)).type +
                                  " records");
          break;
      }
    }
  }

 private:
  int edition_;
};

}  // namespace

std::unique_ptr<Posting> NewMyobPosting(int edition) {
  return std::make_unique<MyobPosting>(edition);
}

}  // namespace lumbra
