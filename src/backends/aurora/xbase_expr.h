// The xBase expressions of index tags: a tag's key and FOR expressions,
// compiled once against a table's fields and evaluated for each record
// whose keys the engine keeps.
//
// What is understood is what accounting tables put into their tags: field
// names (with the table's own alias as prefix, "INVIDX.NAME" or
// "Invidx->NAME"), character, numeric, date and logical literals, + and -
// on texts (- moves the left text's trailing blanks to the end), numbers
// and dates, * / % ^, the comparisons = == != <> # < <= > >= $, .AND.
// .OR. .NOT. ! (also written AND, OR, NOT), and the functions UPPER, LOWER, STR, DTOS, DTOC, LEFT,
// RIGHT, SUBSTR, PADL, PADR, PADC, ALLTRIM, LTRIM, RTRIM, TRIM, VAL, IIF,
// DELETED, EMPTY and BINTOC (function names shortened to four letters or
// more, as xBase allows). Texts compare byte by byte ("machine" order);
// "=" compares up to the length of its right-hand text, as with SET EXACT
// OFF. DTOC gives mm/dd/yy (SET DATE AMERICAN, SET CENTURY OFF). UPPER
// and LOWER change the letters of Windows-1252.
//
// Anything else (another table's field, a memory variable, a function not
// listed, a type mismatch) is refused when compiling, naming what was not
// understood: a key the engine cannot compute is a key it cannot keep.
#ifndef LUMBRA_BACKENDS_AURORA_XBASE_EXPR_H_
#define LUMBRA_BACKENDS_AURORA_XBASE_EXPR_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/aurora/dbf_format.h"
#include "platform/status.h"

namespace lumbra::dbf {

// kInteger is an integer field (I) taken as it is, which a key stores in
// four bytes; in arithmetic it is a number.
enum class XType { kChar, kNumber, kDate, kDateTime, kLogical, kInteger };

struct XValue {
  XType type = XType::kChar;
  std::string text;   // kChar
  double number = 0;  // kNumber, kInteger; the Julian day for kDate (0 when
                      // blank) and kDateTime (with the time as a fraction)
  bool logical = false;
};

class XbaseExpr {
 public:
  ~XbaseExpr();
  XbaseExpr(const XbaseExpr&) = delete;
  XbaseExpr& operator=(const XbaseExpr&) = delete;

  // table_name is the table's file name without its extension: the alias
  // prefix a field may carry. NotSupported, saying what, for an
  // expression this evaluator does not handle.
  static Status Compile(std::string_view text, const Header& header, std::string_view table_name,
                        std::unique_ptr<XbaseExpr>* out);

  XType type() const;
  // The length of a character result when it is the same for every
  // record; -1 when it varies (ALLTRIM, TRIM) or the result is no text.
  int width() const;
  // The value for a record (record_length bytes, deletion flag first).
  XValue Evaluate(std::string_view record) const;
  // Whether the value can differ between two versions of a record: a field
  // it reads differs, or the deletion flag when it asks DELETED().
  bool ReadsChange(std::string_view before, std::string_view after) const;

  struct Node;  // the compiled form, private to xbase_expr.cc

 private:
  class Parser;
  explicit XbaseExpr(std::unique_ptr<Node> root);

  std::unique_ptr<Node> root_;
  std::vector<Field> fields_;  // the fields read
  bool reads_deleted_ = false;
};

}  // namespace lumbra::dbf

#endif  // LUMBRA_BACKENDS_AURORA_XBASE_EXPR_H_
