// The expression parser: reads an expression text into postfix steps
// (value, operator, value, ... with a stack of pending operators), consumes
// the constant arguments of STR, STRZERO, SUBSTR, LEFT, RIGHT, PADL and PADR,
// and hands the steps to the type resolver (expr4type.cpp). expr4parse and
// expr4parseTag are the entry points.
//
// Lexical rules: only the blank is skipped before a value; before an
// operator and around commas and parentheses every byte 0x01-0x20 is
// skipped. Names are ASCII letters, digits and "_". Strings are delimited by
// double quotes, single quotes or "[" and "]", without escapes. Operators,
// function names and logical constants are matched without regard to case.
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/expr4internal.h"

namespace engine4 {
namespace {

inline bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
inline bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A pending operator, or a barrier (opened parenthesis or argument list).
struct PendingOp {
  int row;
  int numArgs;
  int priority;
  short code;
  bool barrier;
};

class Parser {
 public:
  Parser(EXPR4* e, E4PROGRAM& p, const char* text, bool forTag)
      : e_(e), p_(p), src_(text), len_(static_cast<int>(std::strlen(text))), forTag_(forTag) {}

  // 0 or the error code; description() the sentence that goes with it.
  int Run() {
    int rc = ParseExpr();
    if (rc) return rc;
    SkipAll();
    if (pos_ < len_) return e4unrecOperator;  // a ")" or "," with nothing open
    return 0;
  }
  const char* description() const { return description_; }

 private:
  bool AtEnd() const { return pos_ >= len_; }
  char Peek(int ahead = 0) const { return pos_ + ahead < len_ ? src_[pos_ + ahead] : 0; }
  void SkipBlanks() {
    while (pos_ < len_ && src_[pos_] == ' ') ++pos_;
  }
  void SkipAll() {
    while (pos_ < len_ && src_[pos_] >= 0x01 && src_[pos_] <= 0x20) ++pos_;
  }
  // The text at `at` starts with `word` (any case).
  bool StartsWith(int at, const char* word) const {
    int n = static_cast<int>(std::strlen(word));
    if (at + n > len_) return false;
    for (int i = 0; i < n; ++i)
      if (std::toupper(static_cast<unsigned char>(src_[at + i])) != word[i]) return false;
    return true;
  }
  // A "." here begins an operator word or a logical constant.
  bool DotWord(int at) const {
    for (const char* w : {".AND.", ".OR.", ".NOT.", ".T.", ".F.", ".TRUE.", ".FALSE."})
      if (StartsWith(at, w)) return true;
    return false;
  }

  void Emit(int row, int numArgs) {
    E4STEP s;
    s.fn = row;
    s.numArgs = numArgs;
    p_.steps.push_back(s);
  }
  void EmitOp(const PendingOp& op) { Emit(e4row(op.code), op.numArgs); }

  // Nothing pending above the innermost barrier.
  bool NothingPending() const { return ops_.empty() || ops_.back().barrier; }

  int ParseExpr() {
    if (++depth_ > kE4nestMax) return e4overflow;
    ops_.push_back(PendingOp{0, 0, 0, 0, true});
    for (;;) {
      int rc = ParseValue();
      if (rc) return rc;
      SkipAll();
      if (AtEnd() || Peek() == ')' || Peek() == ',') break;
      int row = MatchOperator();
      if (row < 0) return e4unrecOperator;
      const E4FUNC& f = kE4functions[row];
      bool merged = false;
      while (!ops_.back().barrier && ops_.back().priority >= f.priority) {
        if (ops_.back().code == f.code && f.numParms == -1) {
          ++ops_.back().numArgs;  // A .AND. B .AND. C is one .AND. of three
          merged = true;
          break;
        }
        EmitOp(ops_.back());
        ops_.pop_back();
      }
      if (!merged) ops_.push_back(PendingOp{row, 2, f.priority, f.code, false});
    }
    while (!ops_.back().barrier) {
      EmitOp(ops_.back());
      ops_.pop_back();
    }
    ops_.pop_back();
    --depth_;
    return 0;
  }

  int MatchOperator() {
    for (int r = e4firstOperatorRow(); r <= e4lastOperatorRow(); ++r) {
      const E4FUNC& f = kE4functions[r];
      if (f.name && StartsWith(pos_, f.name)) {
        pos_ += f.nameLen;
        return r;
      }
    }
    return -1;
  }

  // What a missing value means: inside parentheses the bracket is missing,
  // after an operator the expression is incomplete.
  int MissingValue() const {
    if (AtEnd()) {
      if (depth_ > 1) return e4rightMissing;
      if (!NothingPending()) return e4complete;
    }
    return e4unrecValue;
  }

  int ParseValue() {
    if (depth_ + static_cast<int>(ops_.size()) > 4 * kE4nestMax) return e4overflow;
    SkipBlanks();
    if (AtEnd()) return MissingValue();
    char c = Peek();
    if (c == '"' || c == '\'' || c == '[') return ParseString();
    if (c == '(') {
      ++pos_;
      int rc = ParseExpr();
      if (rc) return rc;
      SkipAll();
      if (Peek() != ')') return e4rightMissing;
      ++pos_;
      return 0;
    }
    if (c == '.') {
      if (StartsWith(pos_, ".TRUE.") || StartsWith(pos_, ".T.")) {
        pos_ += StartsWith(pos_, ".TRUE.") ? 6 : 3;
        Emit(e4row(E4true), 0);
        return 0;
      }
      if (StartsWith(pos_, ".FALSE.") || StartsWith(pos_, ".F.")) {
        pos_ += StartsWith(pos_, ".FALSE.") ? 7 : 3;
        Emit(e4row(E4false), 0);
        return 0;
      }
      if (StartsWith(pos_, ".NOT.")) {
        pos_ += 5;
        int row = e4row(E4not);
        ops_.push_back(PendingOp{row, 1, kE4functions[row].priority, E4not, false});
        return ParseValue();
      }
    }
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
      bool isNumber = false;
      int rc = ParseNumber(&isNumber);
      if (isNumber || rc) return rc;
    }
    if (IsNameChar(c)) return ParseName();
    return c == ')' || c == ',' ? MissingValue() : e4unrecValue;
  }

  // Sets *isNumber when the text here is a number (and returns 0 after
  // emitting it); returns -490 for a sign that no number follows.
  int ParseNumber(bool* isNumber) {
    int p = pos_;
    bool sign = src_[p] == '+' || src_[p] == '-';
    if (sign) ++p;
    bool digits = false;
    while (p < len_) {
      char c = src_[p];
      if (IsDigit(c)) {
        digits = true;
        ++p;
      } else if (c == '.' && !DotWord(p) && !(p + 1 < len_ && IsLetter(src_[p + 1]))) {
        ++p;
      } else {
        break;
      }
    }
    if (!digits || (p < len_ && IsLetter(src_[p])))
      return sign ? e4unrecValue : 0;  // not a number; a digit may start a name
    char text[kE4numberTextMax + 1];
    int n = p - pos_ < kE4numberTextMax ? p - pos_ : kE4numberTextMax;
    std::memcpy(text, src_ + pos_, n);
    text[n] = 0;
    double v = std::strtod(text, nullptr);
    pos_ = p;
    *isNumber = true;
    EmitNumber(v);
    return 0;
  }

  void EmitNumber(double v) {
    E4STEP s;
    s.fn = e4row(E4constNum);
    s.i1 = static_cast<int>(p_.constants.size());
    char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    p_.constants.insert(p_.constants.end(), bytes, bytes + sizeof v);
    p_.steps.push_back(s);
  }

  int ParseString() {
    char open = Peek();
    char close = open == '[' ? ']' : open;
    const void* end = std::memchr(src_ + pos_ + 1, close, len_ - pos_ - 1);
    if (!end) return e4unterminated;
    int start = pos_ + 1;
    int n = static_cast<int>(static_cast<const char*>(end) - (src_ + start));
    E4STEP s;
    s.fn = e4row(E4constStr);
    s.i1 = static_cast<int>(p_.constants.size());
    s.i2 = n;
    p_.constants.insert(p_.constants.end(), src_ + start, src_ + start + n);
    p_.steps.push_back(s);
    pos_ = start + n + 1;
    return 0;
  }

  // A name: a function call, an aliased field or a field.
  int ParseName() {
    int start = pos_;
    while (pos_ < len_ && IsNameChar(src_[pos_])) ++pos_;
    std::string name(src_ + start, pos_ - start);
    int after = pos_;
    SkipBlanks();
    if (Peek() == '(') {
      ++pos_;
      return ParseCall(name);
    }
    pos_ = after;
    if (Peek() == '-' && Peek(1) == '>') {
      pos_ += 2;
      TABLE4* t = FindAlias(name);
      if (!t) return e4dataName;
      return ParseFieldOf(t);
    }
    if (Peek() == '.' && IsNameChar(Peek(1)) && !DotWord(pos_)) {
      // alias.field only when an open handle has that alias
      TABLE4* t = FindAlias(name);
      if (t) {
        ++pos_;
        return ParseFieldOf(t);
      }
    }
    return EmitField(e_->data, name);
  }

  int ParseFieldOf(TABLE4* t) {
    SkipBlanks();
    int start = pos_;
    while (pos_ < len_ && IsNameChar(src_[pos_])) ++pos_;
    if (pos_ == start) return e4unrecValue;
    return EmitField(t, std::string(src_ + start, pos_ - start));
  }

  TABLE4* FindAlias(const std::string& alias) const {
    if (alias.size() > static_cast<size_t>(kE4aliasMax)) return nullptr;
    CODE4* c4 = e_->c4;
    TABLE4* first = c4 ? c4->tables : nullptr;
    for (TABLE4* t = first; t; t = t->next) {
      if (strcasecmp(t->alias, alias.c_str()) == 0) return t;
      if (t->next == first) break;  // a circular list ends where it began
    }
    return nullptr;
  }

  int EmitField(TABLE4* t, const std::string& name) {
    if (name.size() > static_cast<size_t>(kE4fieldNameMax)) return e4unrecValue;
    if (t != e_->data && forTag_) {
      description_ = "expression for index tag use cannot refer to database alias's";
      return e4tagExpr;
    }
    COLUMN4* f = e4fieldLookup(t, name.c_str());
    if (!f) return e4fieldName;
    char type = e4fieldValueType(f);
    if (!type) {
      description_ = "unknown field type";
      return e4typeSub;
    }
    int row;
    if (e4isMemoField(f)) row = e4row(E4fieldMemo);
    else if (type == 'L') row = e4row(E4fieldLogical);
    else if (f->type == 'B') row = e4row(E4fieldDouble);
    else row = e4fieldRow(E4fieldRef, type);
    E4STEP s;
    s.fn = row;
    s.field = f;
    s.table = t;
    s.own = t == e_->data;
    s.i1 = f->offset;
    s.i2 = static_cast<int>(f - t->fields);
    s.i3 = f->len;
    p_.steps.push_back(s);
    return 0;
  }

  int FindFunction(const std::string& name) const {
    for (int r = e4firstFunctionRow(); r < kE4functionCount; ++r) {
      const E4FUNC& f = kE4functions[r];
      if (f.name && f.nameLen == static_cast<int>(name.size()) &&
          strncasecmp(f.name, name.c_str(), name.size()) == 0)
        return r;
    }
    return -1;
  }

  int ParseCall(const std::string& name) {
    int row = FindFunction(name);
    if (row < 0) return e4unrecFunction;  // no named calculations exist
    if (++depth_ > kE4nestMax) return e4overflow;
    std::vector<size_t> args;
    SkipAll();
    if (Peek() == ')') {
      ++pos_;
    } else {
      for (;;) {
        args.push_back(p_.steps.size());
        int rc = ParseExpr();
        if (rc) return rc;
        SkipAll();
        if (AtEnd()) return e4rightMissing;
        char c = Peek();
        ++pos_;
        if (c == ')') break;
        if (c != ',') return e4commaExpected;
      }
    }
    --depth_;
    return FinishCall(row, args);
  }

  // Takes the last argument off as a numeric constant.
  int TakeConstant(std::vector<size_t>& args, int* value) {
    size_t start = args.back();
    if (p_.steps.size() - start != 1 || p_.steps[start].fn != e4row(E4constNum)) {
      description_ = nullptr;
      return e4notConstant;
    }
    double v;
    std::memcpy(&v, p_.constants.data() + p_.steps[start].i1, sizeof v);
    *value = e4toInt32(v);
    p_.steps.pop_back();
    args.pop_back();
    return 0;
  }

  int FinishCall(int row, std::vector<size_t>& args) {
    short code = kE4functions[row].code;
    E4STEP s;
    s.fn = row;
    int rc = 0;
    switch (code) {
      case E4str: {
        int len = 10, dec = 0;
        if (args.size() >= 3 && (rc = TakeConstant(args, &dec))) return rc;
        if (args.size() >= 2 && (rc = TakeConstant(args, &len))) return rc;
        if (len < 0) len = 10;
        if (dec + 1 >= len) dec = len - 2;
        if (dec < 0) dec = 0;
        s.i1 = len;
        s.i2 = dec;
        break;
      }
      case E4strZero: {
        int len = 0;
        if (args.size() >= 2 && (rc = TakeConstant(args, &len))) return rc;
        s.i1 = len < 0 ? 0 : len;
        break;
      }
      case E4substr: {
        int start = 1, len = -1;  // -1: the rest of the string
        if (args.size() >= 3) {
          if ((rc = TakeConstant(args, &len))) return rc;
          if (len < 0) len = 0;
        }
        if (args.size() >= 2 && (rc = TakeConstant(args, &start))) return rc;
        s.i1 = start;
        s.i2 = len;
        break;
      }
      case E4left:
      case E4right:
      case E4padl:
      case E4padr: {
        int n = 0;
        if (args.size() >= 2 && (rc = TakeConstant(args, &n))) return rc;
        s.i2 = n;
        break;
      }
      case E4dtoc:
        if (args.size() == 2) {  // DTOC(d, 1) is DTOS(d)
          p_.steps.resize(args[1]);
          args.pop_back();
          s.fn = e4row(E4dtos);
        }
        break;
      default:
        break;
    }
    const E4FUNC& f = kE4functions[s.fn];
    if (f.numParms != -1 && static_cast<int>(args.size()) != f.numParms) {
      description_ = "function";
      return e4numParms;
    }
    s.numArgs = static_cast<int>(args.size());
    p_.steps.push_back(s);
    return 0;
  }

  EXPR4* e_;
  E4PROGRAM& p_;
  const char* src_;
  int len_;
  int pos_ = 0;
  bool forTag_;
  int depth_ = 0;
  std::vector<PendingOp> ops_;
  const char* description_ = nullptr;
};

// Reports a parse error when the context asks for it.
void ReportParse(CODE4* c4, int code, const char* description, const char* text) {
  if (!c4 || !c4->failExpression) return;
  error4reportAt(c4, code, LOC4expr4parse, description ? description : "expr4parse", text);
}

}  // namespace

int e4parseInto(EXPR4* e, const char* text, bool forTag, const char** description) {
  Parser parser(e, *e->program, text, forTag);
  int rc = parser.Run();
  *description = parser.description();
  if (rc) return rc;
  return e4resolve(e, *e->program, description);
}

}  // namespace engine4

using engine4::E4PROGRAM;

EXPR4* expr4parseTag(TABLE4* data, const char* text, const void* tag, int* errOut) {
  if (errOut) *errOut = 0;
  if (!data || !text) {
    error4reportAt(data ? data->c4 : nullptr, e4parmNull, LOC4expr4parse, "expr4parse");
    if (errOut) *errOut = e4parmNull;
    return nullptr;
  }
  CODE4* c4 = data->c4;
  if (c4 && c4->lastError < 0) {
    if (errOut) *errOut = -1;
    return nullptr;
  }
  EXPR4* e = nullptr;
  int rc = 0;
  const char* description = nullptr;
  try {
    std::unique_ptr<E4PROGRAM> program(new E4PROGRAM);
    size_t n = std::strlen(text);
    std::unique_ptr<char[]> source(new char[n + 1]);
    std::memcpy(source.get(), text, n + 1);
    e = new EXPR4{};
    e->source = source.release();
    e->program = program.release();
    e->data = data;
    e->bound = data;
    e->dataFile = data->dataFile;
    e->tag = tag;
    e->c4 = c4;
    rc = engine4::e4parseInto(e, e->source, tag != nullptr, &description);
  } catch (const std::bad_alloc&) {
    rc = e4memory;
    description = nullptr;
  }
  if (rc == 0) return e;
  expr4free(e);
  if (errOut) *errOut = rc;
  if (rc == e4memory) error4reportAt(c4, e4memory, LOC4expr4parse, "expr4parse", text);
  else engine4::ReportParse(c4, rc, description, text);
  return nullptr;
}

EXPR4* expr4parse(TABLE4* data, const char* text) { return expr4parseTag(data, text, nullptr); }
