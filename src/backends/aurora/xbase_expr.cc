#include "backends/aurora/xbase_expr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "backends/aurora/dbf_values.h"
#include "text/numbers.h"

namespace lumbra::dbf {
namespace {

enum class Op {
  kConst, kField, kCall, kNeg, kNot, kAnd, kOr, kAdd, kSub, kMul, kDiv, kMod, kPow,
  kEq, kExactEq, kNe, kLt, kLe, kGt, kGe, kContains,
};

enum class Fn {
  kUpper, kLower, kStr, kDtos, kDtoc, kLeft, kRight, kSubstr, kPadl, kPadr, kPadc,
  kAlltrim, kLtrim, kRtrim, kVal, kIif, kDeleted, kEmpty, kBintoc,
};

struct FnInfo {
  const char* name;
  Fn fn;
  size_t min_args, max_args;
};

constexpr FnInfo kFunctions[] = {
    {"UPPER", Fn::kUpper, 1, 1},     {"LOWER", Fn::kLower, 1, 1},     {"STR", Fn::kStr, 1, 3},
    {"DTOS", Fn::kDtos, 1, 1},       {"DTOC", Fn::kDtoc, 1, 2},       {"LEFT", Fn::kLeft, 2, 2},
    {"RIGHT", Fn::kRight, 2, 2},     {"SUBSTR", Fn::kSubstr, 2, 3},   {"PADL", Fn::kPadl, 2, 3},
    {"PADR", Fn::kPadr, 2, 3},       {"PADC", Fn::kPadc, 2, 3},       {"ALLTRIM", Fn::kAlltrim, 1, 1},
    {"LTRIM", Fn::kLtrim, 1, 1},     {"RTRIM", Fn::kRtrim, 1, 1},     {"TRIM", Fn::kRtrim, 1, 1},
    {"VAL", Fn::kVal, 1, 1},         {"IIF", Fn::kIif, 3, 3},         {"DELETED", Fn::kDeleted, 0, 0},
    {"EMPTY", Fn::kEmpty, 1, 1},     {"BINTOC", Fn::kBintoc, 1, 2},
};

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// xBase lets a function name be shortened to its first four letters or more.
const FnInfo* FindFunction(const std::string& upper) {
  for (const FnInfo& f : kFunctions) {
    if (upper == f.name) return &f;
  }
  if (upper.size() < 4) return nullptr;
  for (const FnInfo& f : kFunctions) {
    if (std::string_view(f.name).substr(0, upper.size()) == upper) return &f;
  }
  return nullptr;
}

bool IsNumeric(XType t) { return t == XType::kNumber || t == XType::kInteger; }
bool IsDate(XType t) { return t == XType::kDate || t == XType::kDateTime; }

const char* TypeName(XType t) {
  switch (t) {
    case XType::kChar: return "a text";
    case XType::kNumber: case XType::kInteger: return "a number";
    case XType::kDate: return "a date";
    case XType::kDateTime: return "a date and time";
    case XType::kLogical: return "a logical value";
  }
  return "a value";
}

// Windows-1252 letters: ASCII, the accented letters from 0xC0 (but the
// multiplication and division signs), and the four letters with their
// case pair in 0x80-0x9F.
char UpperByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) return static_cast<char>(u - 0x20);
  switch (u) {
    case 0x9A: return '\x8A';
    case 0x9C: return '\x8C';
    case 0x9E: return '\x8E';
    case 0xFF: return '\x9F';
    default: return c;
  }
}

char LowerByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) return static_cast<char>(u + 0x20);
  switch (u) {
    case 0x8A: return '\x9A';
    case 0x8C: return '\x9C';
    case 0x8E: return '\x9E';
    case 0x9F: return '\xFF';
    default: return c;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

XValue Text(std::string s) {
  XValue v;
  v.type = XType::kChar;
  v.text = std::move(s);
  return v;
}

XValue Number(double d, XType type = XType::kNumber) {
  XValue v;
  v.type = type;
  v.number = d;
  return v;
}

XValue Logical(bool b) {
  XValue v;
  v.type = XType::kLogical;
  v.logical = b;
  return v;
}

std::string TwoDigits(int v) {
  return std::string{static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
}

// yyyymmdd of a Julian day; blanks for an empty date.
std::string DateDigits(double julian) {
  if (julian < 1) return std::string(8, ' ');
  int y, m, d;
  CivilFromJulian(static_cast<long>(julian), &y, &m, &d);
  return std::to_string(y / 1000 % 10) + std::to_string(y / 100 % 10) + TwoDigits(y % 100) +
         TwoDigits(m) + TwoDigits(d);
}

std::string AmericanDate(double julian) {
  if (julian < 1) return "  /  /  ";
  std::string s = DateDigits(julian);
  return s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2);
}

std::string NumberText(double v, int width, int decimals) {
  if (width <= 0) return std::string();
  std::string out;
  if (!FormatDecimal(DoubleText(v), width, std::max(decimals, 0), &out)) {
    out.assign(static_cast<size_t>(width), '*');
  }
  return out;
}

// How PADL and its kin see a value that is not a text.
std::string AsText(const XValue& v) {
  switch (v.type) {
    case XType::kChar: return v.text;
    case XType::kNumber: case XType::kInteger: return DoubleText(v.number);
    case XType::kDate: case XType::kDateTime: return AmericanDate(v.number);
    case XType::kLogical: return v.logical ? "T" : "F";
  }
  return std::string();
}

// Byte order, the shorter text taken as padded with blanks.
int CompareTexts(std::string_view a, std::string_view b) {
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int CompareValues(const XValue& a, const XValue& b) {
  if (a.type == XType::kChar) return CompareTexts(a.text, b.text);
  if (a.type == XType::kLogical) return static_cast<int>(a.logical) - static_cast<int>(b.logical);
  return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
}

// "=" with SET EXACT OFF: as far as the right-hand text goes.
bool LooseEqual(const XValue& a, const XValue& b) {
  if (a.type != XType::kChar) return CompareValues(a, b) == 0;
  return CompareTexts(std::string_view(a.text).substr(0, b.text.size()), b.text) == 0;
}

std::string Pad(const std::string& s, double n, const std::string& fill, Fn fn) {
  size_t width = n > 0 ? static_cast<size_t>(std::min(n, 65535.0)) : 0;
  if (s.size() >= width) return s.substr(0, width);
  char c = fill.empty() ? ' ' : fill[0];
  size_t room = width - s.size();
  size_t left = fn == Fn::kPadl ? room : fn == Fn::kPadc ? room / 2 : 0;
  return std::string(left, c) + s + std::string(room - left, c);
}

// BINTOC's form: big-endian with the sign bit flipped, so the bytes sort
// as the numbers do.
std::string BinaryKey(double v, int size) {
  int64_t n = static_cast<int64_t>(std::trunc(std::clamp(v, -2147483648.0, 2147483647.0)));
  uint32_t u = static_cast<uint32_t>(n) ^ (1u << (size * 8 - 1));
  std::string out;
  for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<char>(u >> (8 * i)));
  return out;
}

bool EmptyValue(const XValue& v) {
  switch (v.type) {
    case XType::kChar:
      return std::all_of(v.text.begin(), v.text.end(), IsBlank);
    case XType::kLogical:
      return !v.logical;
    default:
      return v.number == 0;
  }
}

// --- Tokens ---------------------------------------------------------------

enum class Tok { kEnd, kIdent, kNumber, kString, kTrue, kFalse, kAnd, kOr, kNot, kSymbol, kError };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // identifier (upper case), string contents, symbol
  double number = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view s) : s_(s) {}

  // A "[" opens a text where an operand is expected: after an operator or
  // an opening parenthesis, not after a name or a value.
  Token Next() {
    Token t = Lex();
    operand_expected_ = t.kind == Tok::kAnd || t.kind == Tok::kOr || t.kind == Tok::kNot ||
                        (t.kind == Tok::kSymbol && t.text != ")");
    return t;
  }

  // A "." right after an identifier, before another: an alias prefix.
  bool AliasDot() {
    if (pos_ + 1 >= s_.size() || s_[pos_] != '.') return false;
    char n = s_[pos_ + 1];
    if (!std::isalpha(static_cast<unsigned char>(n)) && n != '_') return false;
    size_t end = pos_ + 1;
    while (end < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[end])) || s_[end] == '_')) ++end;
    if (end < s_.size() && s_[end] == '.') {
      std::string word = UpperAscii(s_.substr(pos_ + 1, end - pos_ - 1));
      if (word == "AND" || word == "OR" || word == "NOT" || word == "T" || word == "F") return false;
    }
    ++pos_;
    return true;
  }

 private:
  Token Lex() {
    while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    Token t;
    if (pos_ >= s_.size()) return t;
    char c = s_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      t.text = UpperAscii(s_.substr(start, pos_ - start));
      // Visual FoxPro also writes the logical operators without dots.
      t.kind = t.text == "AND" ? Tok::kAnd : t.text == "OR" ? Tok::kOr
               : t.text == "NOT" ? Tok::kNot : Tok::kIdent;
      return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && pos_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])))) {
      size_t start = pos_;
      while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) ++pos_;
      t.kind = Tok::kNumber;
      t.text = std::string(s_.substr(start, pos_ - start));
      t.number = ValueOf(t.text);
      return t;
    }
    if (c == '.') return DotWord();
    if (c == '"' || c == '\'' || (c == '[' && operand_expected_)) {
      char close = c == '[' ? ']' : c;
      size_t end = s_.find(close, pos_ + 1);
      if (end == std::string_view::npos) return Error("a text without its closing " + std::string(1, close));
      t.kind = Tok::kString;
      t.text = std::string(s_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return t;
    }
    static const char* kSymbols[] = {"->", "==", "!=", "<>", "<=", ">=", "**", "+", "-", "*", "/",
                                     "%",  "^",  "=",  "#",  "<",  ">",  "$", "(", ")", ",", "!"};
    for (const char* sym : kSymbols) {
      size_t n = std::strlen(sym);
      if (s_.substr(pos_, n) == sym) {
        pos_ += n;
        t.kind = Tok::kSymbol;
        t.text = sym;
        return t;
      }
    }
    return Error("unexpected character '" + std::string(1, c) + "'");
  }


  Token DotWord() {
    size_t end = s_.find('.', pos_ + 1);
    Token t;
    if (end != std::string_view::npos) {
      std::string word = UpperAscii(s_.substr(pos_ + 1, end - pos_ - 1));
      t.kind = word == "T" || word == "Y" ? Tok::kTrue
               : word == "F" || word == "N" ? Tok::kFalse
               : word == "AND"              ? Tok::kAnd
               : word == "OR"               ? Tok::kOr
               : word == "NOT"              ? Tok::kNot
                                            : Tok::kError;
      if (t.kind != Tok::kError) {
        pos_ = end + 1;
        return t;
      }
    }
    return Error("unexpected '.'");
  }

  Token Error(std::string why) {
    Token t;
    t.kind = Tok::kError;
    t.text = std::move(why);
    pos_ = s_.size();
    return t;
  }

  std::string_view s_;
  size_t pos_ = 0;
  bool operand_expected_ = true;
};

}  // namespace

struct XbaseExpr::Node {
  Op op = Op::kConst;
  Fn fn = Fn::kUpper;
  XType type = XType::kChar;
  int width = -1;
  Field field;
  XValue value;
  std::vector<std::unique_ptr<Node>> args;

  bool IsConstNumber() const { return op == Op::kConst && IsNumeric(type); }
};

using NodePtr = std::unique_ptr<XbaseExpr::Node>;

// Recursive descent, lowest precedence first: .OR., .AND., .NOT.,
// comparisons, + -, * / %, ^, unary minus, operands.
class XbaseExpr::Parser {
 public:
  Parser(std::string_view text, const Header& header, std::string_view table_name)
      : lex_(text), header_(header), table_(UpperAscii(table_name)) {
    Advance();
  }

  Status Parse(NodePtr* out) {
    NodePtr n = Or();
    if (error_.empty() && tok_.kind != Tok::kEnd) Fail("unexpected " + Describe(tok_));
    if (!error_.empty()) return Status::NotSupported(error_);
    *out = std::move(n);
    return Status::OK();
  }

  std::vector<Field> fields;
  bool reads_deleted = false;

 private:
  void Advance() {
    tok_ = lex_.Next();
    if (tok_.kind == Tok::kError) Fail(tok_.text);
  }
  bool IsSymbol(const char* s) const { return tok_.kind == Tok::kSymbol && tok_.text == s; }
  void Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }
  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd: return "end of the expression";
      case Tok::kIdent: case Tok::kSymbol: case Tok::kNumber: return "'" + t.text + "'";
      default: return "token";
    }
  }

  NodePtr Make(Op op, XType type, NodePtr a = nullptr, NodePtr b = nullptr) {
    auto n = std::make_unique<Node>();
    n->op = op;
    n->type = type;
    if (a) n->args.push_back(std::move(a));
    if (b) n->args.push_back(std::move(b));
    return n;
  }

  NodePtr Logic(Op op, NodePtr a, NodePtr b) {
    if (a->type != XType::kLogical || b->type != XType::kLogical) {
      Fail(std::string(op == Op::kAnd ? ".AND." : ".OR.") + " needs logical values");
    }
    return Make(op, XType::kLogical, std::move(a), std::move(b));
  }

  NodePtr Or() {
    NodePtr n = And();
    while (error_.empty() && tok_.kind == Tok::kOr) {
      Advance();
      n = Logic(Op::kOr, std::move(n), And());
    }
    return n;
  }

  NodePtr And() {
    NodePtr n = Not();
    while (error_.empty() && tok_.kind == Tok::kAnd) {
      Advance();
      n = Logic(Op::kAnd, std::move(n), Not());
    }
    return n;
  }

  NodePtr Not() {
    if (tok_.kind == Tok::kNot || IsSymbol("!")) {
      Advance();
      NodePtr a = Not();
      if (a->type != XType::kLogical) Fail(".NOT. needs a logical value");
      return Make(Op::kNot, XType::kLogical, std::move(a));
    }
    return Comparison();
  }

  NodePtr Comparison() {
    NodePtr n = Sum();
    static const std::pair<const char*, Op> kOps[] = {
        {"==", Op::kExactEq}, {"=", Op::kEq}, {"!=", Op::kNe}, {"<>", Op::kNe}, {"#", Op::kNe},
        {"<=", Op::kLe},      {">=", Op::kGe}, {"<", Op::kLt},  {">", Op::kGt},  {"$", Op::kContains}};
    for (const auto& [sym, op] : kOps) {
      if (!error_.empty() || !IsSymbol(sym)) continue;
      Advance();
      NodePtr b = Sum();
      bool same = a_kind(n->type) == a_kind(b->type);
      if (!same || (op == Op::kContains && n->type != XType::kChar)) {
        Fail(std::string("cannot compare ") + TypeName(n->type) + " with " + TypeName(b->type));
      }
      return Make(op, XType::kLogical, std::move(n), std::move(b));
    }
    return n;
  }

  // Types that compare with each other.
  static int a_kind(XType t) { return IsNumeric(t) ? 1 : IsDate(t) ? 2 : t == XType::kChar ? 3 : 4; }

  NodePtr Sum() {
    NodePtr n = Product();
    while (error_.empty() && (IsSymbol("+") || IsSymbol("-"))) {
      bool plus = tok_.text == "+";
      Advance();
      NodePtr b = Product();
      XType a = n->type, t = b->type;
      XType result = XType::kNumber;
      if (a == XType::kChar && t == XType::kChar) {
        result = XType::kChar;
      } else if (IsDate(a) && IsNumeric(t)) {
        result = a;
      } else if (plus && IsNumeric(a) && IsDate(t)) {
        result = t;
      } else if (!plus && IsDate(a) && IsDate(t)) {
        result = XType::kNumber;
      } else if (!IsNumeric(a) || !IsNumeric(t)) {
        Fail(std::string("cannot ") + (plus ? "add " : "subtract ") + TypeName(t) +
             (plus ? " to " : " from ") + TypeName(a));
      }
      int width = result == XType::kChar && n->width >= 0 && b->width >= 0 ? n->width + b->width : -1;
      n = Make(plus ? Op::kAdd : Op::kSub, result, std::move(n), std::move(b));
      n->width = width;
    }
    return n;
  }

  NodePtr Product() {
    NodePtr n = Power();
    static const std::pair<const char*, Op> kOps[] = {{"*", Op::kMul}, {"/", Op::kDiv}, {"%", Op::kMod}};
    for (bool more = true; more && error_.empty();) {
      more = false;
      for (const auto& [sym, op] : kOps) {
        if (!IsSymbol(sym)) continue;
        Advance();
        n = Arithmetic(op, std::move(n), Power());
        more = true;
        break;
      }
    }
    return n;
  }

  NodePtr Power() {
    NodePtr n = Unary();
    if (error_.empty() && (IsSymbol("^") || IsSymbol("**"))) {
      Advance();
      n = Arithmetic(Op::kPow, std::move(n), Power());
    }
    return n;
  }

  NodePtr Arithmetic(Op op, NodePtr a, NodePtr b) {
    if (!IsNumeric(a->type) || !IsNumeric(b->type)) Fail("arithmetic needs numbers");
    return Make(op, XType::kNumber, std::move(a), std::move(b));
  }

  NodePtr Unary() {
    if (IsSymbol("-") || IsSymbol("+")) {
      bool minus = tok_.text == "-";
      Advance();
      NodePtr a = Unary();
      if (!IsNumeric(a->type)) Fail("a sign needs a number");
      if (!minus) return a;
      return Make(Op::kNeg, XType::kNumber, std::move(a));
    }
    return Operand();
  }

  NodePtr Constant(XValue v, int width = -1) {
    NodePtr n = Make(Op::kConst, v.type);
    n->value = std::move(v);
    n->width = width;
    return n;
  }

  NodePtr Operand() {
    Token t = tok_;
    if (!error_.empty()) return Constant(Text(""));
    switch (t.kind) {
      case Tok::kNumber:
        Advance();
        return Constant(Number(t.number));
      case Tok::kString:
        Advance();
        return Constant(Text(t.text), static_cast<int>(t.text.size()));
      case Tok::kTrue:
      case Tok::kFalse:
        Advance();
        return Constant(Logical(t.kind == Tok::kTrue));
      case Tok::kIdent:
        return Name(t.text);
      default:
        break;
    }
    if (IsSymbol("(")) {
      Advance();
      NodePtr n = Or();
      Expect(")");
      return n;
    }
    Fail("unexpected " + Describe(t));
    return Constant(Text(""));
  }

  void Expect(const char* symbol) {
    if (error_.empty() && !IsSymbol(symbol)) Fail(std::string("'") + symbol + "' expected");
    if (error_.empty()) Advance();
  }

  // A field, alias.field, alias->field, or a function call.
  NodePtr Name(std::string name) {
    bool dotted = lex_.AliasDot();
    Advance();
    if (!dotted && IsSymbol("(")) return Call(name);
    if (dotted || IsSymbol("->")) {
      if (!dotted) Advance();
      if (tok_.kind != Tok::kIdent) {
        Fail("a field name must follow " + name);
        return Constant(Text(""));
      }
      if (name != table_) {
        Fail(name + "." + tok_.text + " is not a field of this table");
        return Constant(Text(""));
      }
      name = tok_.text;
      Advance();
    }
    return FieldNode(name);
  }

  NodePtr FieldNode(const std::string& name) {
    for (const Field& f : header_.fields) {
      if (f.hidden || UpperAscii(f.name) != name) continue;
      XType type;
      switch (f.type) {
        case 'C': case 'V': type = XType::kChar; break;
        case 'N': case 'F': case 'Y': case 'B': type = XType::kNumber; break;
        case 'I': case '+': type = XType::kInteger; break;
        case 'D': type = XType::kDate; break;
        case 'T': case '@': type = XType::kDateTime; break;
        case 'L': type = XType::kLogical; break;
        default:
          Fail("field " + name + " of type " + std::string(1, f.type) + " cannot be in a key");
          return Constant(Text(""));
      }
      if (f.memo) {
        Fail("field " + name + " of type " + std::string(1, f.type) + " cannot be in a key");
        return Constant(Text(""));
      }
      NodePtr n = Make(Op::kField, type);
      n->field = f;
      n->width = type == XType::kChar ? static_cast<int>(f.length) : -1;
      fields.push_back(f);
      return n;
    }
    Fail("no field " + name + " in the table");
    return Constant(Text(""));
  }

  NodePtr Call(const std::string& name) {
    const FnInfo* info = FindFunction(name);
    if (info == nullptr) {
      Fail("function " + name + "() is not known to the engine");
      return Constant(Text(""));
    }
    Advance();  // "("
    NodePtr n = Make(Op::kCall, XType::kChar);
    n->fn = info->fn;
    if (!IsSymbol(")")) {
      for (;;) {
          n->args.push_back(Or());
        if (!error_.empty() || !IsSymbol(",")) break;
          Advance();
      }
    }
    Expect(")");
    if (error_.empty() && (n->args.size() < info->min_args || n->args.size() > info->max_args)) {
      Fail(std::string(info->name) + "() takes " + std::to_string(info->min_args) +
           (info->max_args != info->min_args ? " to " + std::to_string(info->max_args) : "") +
           " arguments");
    }
    if (error_.empty()) TypeCall(*n, info->name);
    return n;
  }

  void Need(const Node& n, size_t i, bool ok, const char* name, const char* what) {
    if (i < n.args.size() && !ok) Fail(std::string(name) + "() needs " + what);
  }

  // Width of a call from constant arguments; -1 when it varies.
  static int ConstArg(const Node& n, size_t i, int fallback) {
    if (i >= n.args.size()) return fallback;
    return n.args[i]->IsConstNumber() ? static_cast<int>(std::max(0.0, n.args[i]->value.number)) : -1;
  }

  void TypeCall(Node& n, const char* name) {
    auto arg = [&n](size_t i) { return i < n.args.size() ? n.args[i]->type : XType::kNumber; };
    auto text_in = [&] { Need(n, 0, arg(0) == XType::kChar, name, "a text"); };
    int in_width = n.args.empty() ? -1 : n.args[0]->width;
    switch (n.fn) {
      case Fn::kUpper: case Fn::kLower:
        text_in();
        n.width = in_width;
        break;
      case Fn::kAlltrim: case Fn::kLtrim: case Fn::kRtrim:
        text_in();
        break;
      case Fn::kStr:
        Need(n, 0, IsNumeric(arg(0)), name, "a number");
        Need(n, 1, IsNumeric(arg(1)), name, "a number as its length");
        Need(n, 2, IsNumeric(arg(2)), name, "a number of decimals");
        n.width = ConstArg(n, 1, 10);
        break;
      case Fn::kDtos: case Fn::kDtoc:
        Need(n, 0, IsDate(arg(0)), name, "a date");
        Need(n, 1, IsNumeric(arg(1)), name, "a number as its second argument");
        n.width = 8;
        break;
      case Fn::kLeft: case Fn::kRight: {
        text_in();
        Need(n, 1, IsNumeric(arg(1)), name, "a number as its length");
        int len = ConstArg(n, 1, -1);
        n.width = len < 0 || in_width < 0 ? -1 : std::min(len, in_width);
        break;
      }
      case Fn::kSubstr: {
        text_in();
        Need(n, 1, IsNumeric(arg(1)), name, "a number as its start");
        Need(n, 2, IsNumeric(arg(2)), name, "a number as its length");
        int start = ConstArg(n, 1, -1), len = ConstArg(n, 2, in_width);
        n.width = start < 1 || len < 0 || in_width < 0 ? -1 : std::clamp(in_width - start + 1, 0, len);
        break;
      }
      case Fn::kPadl: case Fn::kPadr: case Fn::kPadc:
        Need(n, 1, IsNumeric(arg(1)), name, "a number as its length");
        Need(n, 2, arg(2) == XType::kChar, name, "a text to pad with");
        n.width = ConstArg(n, 1, -1);
        break;
      case Fn::kVal:
        text_in();
        n.type = XType::kNumber;
        break;
      case Fn::kIif: {
        Need(n, 0, arg(0) == XType::kLogical, name, "a logical value first");
        XType a = arg(1), b = arg(2);
        if (a != b && !(IsNumeric(a) && IsNumeric(b))) Fail("IIF() needs two values of one type");
        n.type = a == b ? a : XType::kNumber;
        n.width = n.args[1]->width == n.args[2]->width ? n.args[1]->width : -1;
        break;
      }
      case Fn::kDeleted:
        n.type = XType::kLogical;
        reads_deleted = true;
        break;
      case Fn::kEmpty:
        n.type = XType::kLogical;
        break;
      case Fn::kBintoc: {
        Need(n, 0, IsNumeric(arg(0)), name, "a number");
        int size = ConstArg(n, 1, 4);
        if (size != 1 && size != 2 && size != 4) Fail("BINTOC() of size other than 1, 2 or 4");
        n.width = size;
        break;
      }
    }
  }

  Lexer lex_;
  Token tok_;
  const Header& header_;
  std::string table_;
  std::string error_;
};

namespace {

// --- Evaluation -----------------------------------------------------------

XValue FieldValue(const Field& f, std::string_view record, XType type) {
  std::string_view raw = record.substr(f.offset, f.length);
  switch (type) {
    case XType::kChar:
      return Text(FieldText(f, raw));
    case XType::kNumber:
    case XType::kInteger:
      return Number(ValueOf(FieldText(f, raw)), type);
    case XType::kLogical:
      return Logical(!raw.empty() && std::strchr("TtYy", raw[0]) != nullptr && raw[0] != '\0');
    case XType::kDate: {
      int y = 0, m = 0, d = 0;
      bool digits = raw.size() == 8 && std::all_of(raw.begin(), raw.end(), [](char c) {
                      return c >= '0' && c <= '9';
                    });
      if (digits) {
        y = std::stoi(std::string(raw.substr(0, 4)));
        m = std::stoi(std::string(raw.substr(4, 2)));
        d = std::stoi(std::string(raw.substr(6, 2)));
      }
      return Number(digits && m >= 1 && m <= 12 && d >= 1 && d <= 31 ? JulianDay(y, m, d) : 0,
                    XType::kDate);
    }
    case XType::kDateTime: {
      uint32_t day = ReadLE32(raw.data());
      uint32_t ms = ReadLE32(raw.data() + 4);
      return Number(day == 0 ? 0 : day + ms / 86400000.0, XType::kDateTime);
    }
  }
  return Text("");
}

}  // namespace

namespace {
XValue Eval(const XbaseExpr::Node& n, std::string_view record);

XValue CallValue(const XbaseExpr::Node& n, std::string_view record) {
  std::vector<XValue> a;
  a.reserve(n.args.size());
  if (n.fn == Fn::kIif) {
    return Eval(*n.args[Eval(*n.args[0], record).logical ? 1 : 2], record);
  }
  for (const auto& arg : n.args) a.push_back(Eval(*arg, record));
  auto num = [&a](size_t i, double fallback) { return i < a.size() ? a[i].number : fallback; };
  switch (n.fn) {
    case Fn::kUpper: {
      std::string s = a[0].text;
      for (char& c : s) c = UpperByte(c);
      return Text(std::move(s));
    }
    case Fn::kLower: {
      std::string s = a[0].text;
      for (char& c : s) c = LowerByte(c);
      return Text(std::move(s));
    }
    case Fn::kStr:
      return Text(NumberText(a[0].number, static_cast<int>(std::min(num(1, 10), 255.0)),
                             static_cast<int>(std::min(num(2, 0), 18.0))));
    case Fn::kDtos:
      return Text(DateDigits(a[0].number));
    case Fn::kDtoc:
      return Text(num(1, 0) == 1 ? DateDigits(a[0].number) : AmericanDate(a[0].number));
    case Fn::kLeft:
    case Fn::kRight: {
      const std::string& s = a[0].text;
      size_t len = a[1].number > 0 ? std::min(static_cast<size_t>(a[1].number), s.size()) : 0;
      return Text(n.fn == Fn::kLeft ? s.substr(0, len) : s.substr(s.size() - len));
    }
    case Fn::kSubstr: {
      const std::string& s = a[0].text;
      double start = a[1].number;
      if (start < 1 || start > static_cast<double>(s.size())) return Text("");
      size_t from = static_cast<size_t>(start) - 1;
      double len = num(2, static_cast<double>(s.size()));
      return Text(s.substr(from, len > 0 ? static_cast<size_t>(std::min(len, 1e9)) : 0));
    }
    case Fn::kPadl:
    case Fn::kPadr:
    case Fn::kPadc:
      return Text(Pad(AsText(a[0]), a[1].number, a.size() > 2 ? a[2].text : " ", n.fn));
    case Fn::kAlltrim:
      return Text(std::string(TrimLeft(TrimRight(a[0].text))));
    case Fn::kLtrim:
      return Text(std::string(TrimLeft(a[0].text)));
    case Fn::kRtrim:
      return Text(std::string(TrimRight(a[0].text)));
    case Fn::kVal:
      return Number(ValueOf(a[0].text));
    case Fn::kDeleted:
      return Logical(!record.empty() && record[0] == '*');
    case Fn::kEmpty:
      return Logical(EmptyValue(a[0]));
    case Fn::kBintoc:
      return Text(BinaryKey(a[0].number, n.width));
    case Fn::kIif:
      break;
  }
  return Text("");
}

XValue Eval(const XbaseExpr::Node& n, std::string_view record) {
  switch (n.op) {
    case Op::kConst:
      return n.value;
    case Op::kField:
      return FieldValue(n.field, record, n.type);
    case Op::kCall:
      return CallValue(n, record);
    case Op::kNeg:
      return Number(-Eval(*n.args[0], record).number);
    case Op::kNot:
      return Logical(!Eval(*n.args[0], record).logical);
    case Op::kAnd:
      return Logical(Eval(*n.args[0], record).logical && Eval(*n.args[1], record).logical);
    case Op::kOr:
      return Logical(Eval(*n.args[0], record).logical || Eval(*n.args[1], record).logical);
    default:
      break;
  }
  XValue a = Eval(*n.args[0], record);
  XValue b = Eval(*n.args[1], record);
  switch (n.op) {
    case Op::kAdd:
      if (n.type == XType::kChar) return Text(a.text + b.text);
      return Number(a.number + b.number, n.type);
    case Op::kSub:
      if (n.type == XType::kChar) {
        std::string_view kept = TrimRight(a.text);
        return Text(std::string(kept) + b.text + std::string(a.text.size() - kept.size(), ' '));
      }
      return Number(a.number - b.number, n.type);
    case Op::kMul: return Number(a.number * b.number);
    case Op::kDiv: return Number(b.number == 0 ? 0 : a.number / b.number);
    case Op::kMod: return Number(b.number == 0 ? 0 : a.number - b.number * std::floor(a.number / b.number));
    case Op::kPow: return Number(std::pow(a.number, b.number));
    case Op::kEq: return Logical(LooseEqual(a, b));
    case Op::kExactEq: return Logical(a.type == XType::kChar ? a.text == b.text : CompareValues(a, b) == 0);
    case Op::kNe: return Logical(!LooseEqual(a, b));
    case Op::kLt: return Logical(CompareValues(a, b) < 0);
    case Op::kLe: return Logical(CompareValues(a, b) <= 0);
    case Op::kGt: return Logical(CompareValues(a, b) > 0);
    case Op::kGe: return Logical(CompareValues(a, b) >= 0);
    case Op::kContains: return Logical(b.text.find(a.text) != std::string::npos);
    default: return Text("");
  }
}

}  // namespace

XbaseExpr::XbaseExpr(std::unique_ptr<Node> root) : root_(std::move(root)) {}
XbaseExpr::~XbaseExpr() = default;

Status XbaseExpr::Compile(std::string_view text, const Header& header, std::string_view table_name,
                          std::unique_ptr<XbaseExpr>* out) {
  out->reset();
  if (TrimLeft(TrimRight(text)).empty()) return Status::NotSupported("empty expression");
  Parser parser(text, header, table_name);
  std::unique_ptr<Node> root;
  Status s = parser.Parse(&root);
  if (!s.ok()) return s;
  out->reset(new XbaseExpr(std::move(root)));
  (*out)->fields_ = std::move(parser.fields);
  (*out)->reads_deleted_ = parser.reads_deleted;
  return Status::OK();
}

XType XbaseExpr::type() const { return root_->type; }

int XbaseExpr::width() const { return root_->type == XType::kChar ? root_->width : -1; }

XValue XbaseExpr::Evaluate(std::string_view record) const { return Eval(*root_, record); }

bool XbaseExpr::ReadsChange(std::string_view before, std::string_view after) const {
  if (reads_deleted_ && before.substr(0, 1) != after.substr(0, 1)) return true;
  for (const Field& f : fields_) {
    if (before.substr(f.offset, f.length) != after.substr(f.offset, f.length)) return true;
  }
  return false;
}

}  // namespace lumbra::dbf
