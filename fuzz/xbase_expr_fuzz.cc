// The xBase key and FOR expressions that a table's structural index holds,
// compiled against a table's fields and evaluated for records. Input: the
// expression, a NUL byte, then the bytes of a record (cut or padded to the
// record's length).
#include <memory>
#include <string>

#include "backends/aurora/xbase_expr.h"
#include "fuzz_support.h"

namespace {

using namespace lumbra::dbf;

// An invoice table's fields, of every type a key reads.
Header InvoiceTable() {
  Header h;
  h.version = 0x30;
  uint32_t offset = 1;
  auto add = [&](const char* name, char type, uint32_t length, uint8_t decimals = 0) {
    Field f;
    f.name = name;
    f.type = type;
    f.offset = offset;
    f.length = length;
    f.decimals = decimals;
    offset += length;
    h.fields.push_back(f);
  };
  add("NAME", 'C', 20);
  add("INVNUM", 'N', 8);
  add("TOTAL", 'N', 12, 2);
  add("RATE", 'B', 8, 2);
  add("DATE", 'D', 8);
  add("STAMP", 'T', 8);
  add("POSTED", 'L', 1);
  add("LINK", 'I', 4);
  add("PRICE", 'Y', 8);
  h.record_length = offset;
  h.header_length = 32 + 32 * static_cast<uint32_t>(h.fields.size()) + 1;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lumbra;
  static const Header kTable = InvoiceTable();
  auto [text, bytes] = fuzz::SplitAtNul(fuzz::Bytes(data, size));
  std::unique_ptr<XbaseExpr> expr;
  if (!XbaseExpr::Compile(text, kTable, "INVIDX", &expr).ok()) return 0;
  fuzz::Require(expr != nullptr, "a compiled expression is missing");
  std::string record(bytes.substr(0, kTable.record_length));
  record.resize(kTable.record_length, ' ');
  std::string blank(kTable.record_length, ' ');
  XValue value = expr->Evaluate(record);
  expr->Evaluate(blank);
  fuzz::Require(value.type == expr->type() ||
                    (expr->type() == XType::kInteger && value.type == XType::kNumber),
                "an expression gave a value of another type than it said");
  if (expr->type() == XType::kChar && expr->width() >= 0) {
    fuzz::Require(value.text.size() == static_cast<size_t>(expr->width()),
                  "a text key of another length than its expression says");
  }
  expr->ReadsChange(record, blank);
  return 0;
}
