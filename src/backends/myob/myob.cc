#include "backends/myob/myob.h"

#include <optional>

#include "backends/context/run_context.h"
#include "backends/myob/myob_sale_files.h"
#include "intake/posting.h"

namespace lumbra {
namespace {

// The text-file back-ends' posting: a device's sales and time records become
// MYOB import files (myob_sale_files.h); records MYOB does not import are
// passed over. MYOB's reference files are read once per pass, when the first
// device hands something in.
class MyobPosting : public Posting {
 public:
  explicit MyobPosting(int edition) : edition_(edition) {}

  void BeginPass(RunContext&) override { reference_.reset(); }

  void PostDevice(RunContext& ctx, DeviceLines& lines) override {
    if (!reference_) reference_ = ReadMyobReference(ctx, edition_);
    WriteMyobSaleFiles(ctx, *reference_, lines);
  }

 private:
  int edition_;
  std::optional<MyobReference> reference_;
};

}  // namespace

std::unique_ptr<Posting> NewMyobPosting(int edition) {
  return std::make_unique<MyobPosting>(edition);
}

}  // namespace lumbra
