// Type resolution and layout of a parsed expression. The steps are walked in
// postfix order with a stack of (type, length, step) entries: each step gets
// the first variant of its operation whose parameter types fit (an argument
// may be converted: D to d, N, I and Y to n, by switching the argument's own
// field step), its result length, and the row-dependent integers its
// routine needs. A second walk gives every step its offset in the work area;
// the arguments of a step lie side by side from the step's own offset, so
// that concatenation needs no copying.
//
// Step integers (i1, i2, i3) by row:
//   field steps          record offset, field index, field length
//   constants            offset in the constants area, string length
//   "+" "-" on text, "$" left length, right length
//   text comparisons     compared length, outcome on equal prefixes
//   STR                  length, decimals
//   STRZERO              length
//   SUBSTR LEFT RIGHT    0-based start (the step's length is the count)
//   PADL PADR            argument length (the step's length the target)
//   IIF                  length of each branch
//   DTOC CTOD            offset of the date picture; CTOD i3 argument length
//   STOD VAL             argument length
//   ASCEND DESCEND       argument type, argument length
#include <algorithm>
#include <cstring>

#include "engine/expr4internal.h"

namespace engine4 {
namespace {

struct Entry {
  char type;
  int len;
  int step;
};

// The field row that converts a field pushed as `from` into `to`, or -1.
int ConvertingRow(const E4STEP& s, char from, char to) {
  if (kE4functions[s.fn].code != E4fieldRef) return -1;
  if (from == 'D' && to == 'd') return e4row(E4fieldDateNum);
  if (to != 'n') return -1;
  if (from == 'N') return e4row(E4fieldNumNum);
  if (from == 'I') return e4row(E4fieldIntNum);
  if (from == 'Y') return e4row(E4fieldCurNum);
  return -1;
}

bool Fits(const E4FUNC& f, int n) {
  if (f.numParms == -1) return n >= 1;
  return f.numParms == n;
}

char Wanted(const E4FUNC& f, int k) { return f.numParms == -1 ? f.parms[0] : f.parms[k]; }

// Picks the variant: exact parameter types first, then with conversions.
int PickVariant(E4PROGRAM& p, E4STEP& s, Entry* a, int n) {
  short code = kE4functions[s.fn].code;
  int first = e4row(code);
  for (int pass = 0; pass < 2; ++pass) {
    for (int r = first; r < kE4functionCount && kE4functions[r].code == code; ++r) {
      const E4FUNC& f = kE4functions[r];
      if (!Fits(f, n)) continue;
      bool ok = true;
      for (int k = 0; k < n && ok; ++k) {
        char want = Wanted(f, k);
        if (a[k].type == want) continue;
        ok = pass == 1 && ConvertingRow(p.steps[a[k].step], a[k].type, want) >= 0;
      }
      if (!ok) continue;
      for (int k = 0; k < n; ++k) {
        char want = Wanted(f, k);
        if (a[k].type == want) continue;
        E4STEP& arg = p.steps[a[k].step];
        arg.fn = ConvertingRow(arg, a[k].type, want);
        arg.type = want;
        arg.len = 8;
        a[k].type = want;
        a[k].len = 8;
      }
      s.fn = r;
      return 0;
    }
  }
  return e4typeSub;
}

int FixedLength(char type) {
  switch (type) {
    case 'L': case 'I': case 'P': case 'Q': case 'R':
      return 4;
    case '2': case '3':
      return 6;
    case '4':
      return 16;
    default:
      return 8;
  }
}

// Appends the context's date picture (terminated) to the constants area.
int StorePicture(EXPR4* e, E4PROGRAM& p, int* length) {
  const char* picture = e->c4 ? e->c4->dateFormat : "MM/DD/YY";
  size_t n = strnlen(picture, sizeof e->c4->dateFormat - 1);
  int at = static_cast<int>(p.constants.size());
  p.constants.insert(p.constants.end(), picture, picture + n);
  p.constants.push_back(0);
  *length = static_cast<int>(n);
  return at;
}

int Clamp(int v, int low, int high) { return v < low ? low : (v > high ? high : v); }

// Field and constant steps.
void ValueLength(EXPR4* e, E4STEP& s, bool* varSeen) {
  const E4FUNC& f = kE4functions[s.fn];
  s.type = f.resultType;
  switch (f.code) {
    case E4fieldRef:
      if (s.type == 'C' || s.type == 'W' || s.type == 'N') s.len = s.i3;
      else if (s.type == 'O') s.len = std::max(0, s.i3 - 2);
      else s.len = FixedLength(s.type);
      break;
    case E4fieldMemo:
      if (e->tag) s.len = s.field->null ? kE4tagMemoMax - 1 : kE4tagMemoMax;
      else s.len = e->c4 ? std::max(0, e->c4->memoExprLength) : 1024;
      *varSeen = true;
      break;
    case E4fieldLogical:
      s.len = 4;
      break;
    case E4constStr:
      s.len = s.i2;
      break;
    default:
      s.len = 8;
      break;
  }
}

// Result length and step integers of an operation or function.
int OperationLength(EXPR4* e, E4PROGRAM& p, E4STEP& s, const Entry* a, bool* varSeen) {
  const E4FUNC& f = kE4functions[s.fn];
  s.type = f.resultType;
  bool text = a && (a[0].type == 'C' || a[0].type == 'W' || a[0].type == 'O');
  switch (f.code) {
    case E4true: case E4false: case E4not: case E4or: case E4and: case E4deleted:
      s.len = 4;
      break;
    case E4add:
    case E4sub:
      if (text) {
        s.i1 = a[0].len;
        s.i2 = a[1].len;
        s.len = a[0].len + a[1].len;
      } else {
        s.len = 8;
      }
      break;
    case E4eq: case E4ne: case E4gt: case E4lt: case E4ge: case E4le:
      s.len = 4;
      if (a[0].type == 'C') {
        int l1 = a[0].len, l2 = a[1].len;
        s.i1 = std::min(l1, l2);
        if (f.code == E4gt || f.code == E4le) s.i2 = l1 > l2;
        if (f.code == E4lt || f.code == E4ge) s.i2 = l1 < l2;
      }
      break;
    case E4contain:
      s.len = 4;
      s.i1 = a[0].len;
      s.i2 = a[1].len;
      break;
    case E4chr: case E4del:
      s.len = 1;
      break;
    case E4str:
    case E4strZero:
      s.len = s.i1;
      break;
    case E4substr: {
      int start = Clamp(s.i1 - 1, 0, a[0].len);
      int avail = a[0].len - start;
      s.i1 = start;
      s.len = s.i2 < 0 ? avail : Clamp(s.i2, 0, avail);
      break;
    }
    case E4left:
      s.i1 = 0;
      s.len = Clamp(s.i2, 0, a[0].len);
      break;
    case E4right:
      s.len = Clamp(s.i2, 0, a[0].len);
      s.i1 = a[0].len - s.len;
      break;
    case E4padl:
    case E4padr:
      s.i1 = a[0].len;
      s.len = std::max(0, s.i2);
      break;
    case E4time: case E4dtos:
      s.len = 8;
      break;
    case E4dtoc:
      s.i1 = StorePicture(e, p, &s.len);
      break;
    case E4ctod:
      s.i1 = StorePicture(e, p, &s.i2);
      s.i3 = a[0].len;
      s.len = 8;
      break;
    case E4upper:
      s.len = a[0].len;
      break;
    case E4trim: case E4ltrim: case E4alltrim:
      s.len = a[0].len;
      e->varLength = 1;
      *varSeen = true;
      break;
    case E4iif:
      s.i1 = a[1].len;
      s.i2 = a[2].len;
      s.len = s.type == 'C' ? std::max(a[1].len, a[2].len) : FixedLength(s.type);
      break;
    case E4stod: case E4val:
      s.i1 = a[0].len;
      s.len = 8;
      break;
    case E4l2bin:
      s.len = 4;
      break;
    case E4descend:
    case E4ascend:
      s.i1 = a[0].type;
      s.i2 = a[0].len;
      s.len = collate4ascendLen(a[0].type, a[0].len);
      break;
    default:
      s.len = FixedLength(s.type);
      break;
  }
  return s.len > kE4resultMax ? e4overflow : 0;
}

bool IsValueStep(const E4STEP& s) { return kE4functions[s.fn].code <= E4constStr; }

// The trimming variant of the character "+".
int TrimmingRow() {
  for (int r = e4row(E4add); r < kE4functionCount && kE4functions[r].code == E4add; ++r)
    if (kE4functions[r].resultType == 'C' && r != e4row(E4add)) return r;
  return e4row(E4add);
}

// Offsets in the work area: each value occupies its length after the values
// pending below it; a step's result starts where its first argument starts.
size_t Layout(E4PROGRAM& p) {
  struct Slot {
    int pos, len;
  };
  std::vector<Slot> stack;
  size_t work = 0;
  for (E4STEP& s : p.steps) {
    int n = s.numArgs;
    int base = 0, argsEnd = 0;
    if (n > 0) {
      base = stack[stack.size() - n].pos;
      argsEnd = stack.back().pos + stack.back().len;
    } else if (!stack.empty()) {
      base = argsEnd = stack.back().pos + stack.back().len;
    }
    s.resultPos = base;
    work = std::max(work, static_cast<size_t>(std::max(base + s.len, argsEnd)));
    stack.resize(stack.size() - n);
    stack.push_back(Slot{base, s.len});
  }
  return work;
}

}  // namespace

bool e4isPureCharStep(const E4STEP& s) { return s.type == 'C' || s.type == 'W' || s.type == 'O'; }

int e4resolve(EXPR4* e, E4PROGRAM& p, const char** description) {
  Entry stack[kE4pendingMax];
  int top = 0;
  bool varSeen = false;
  for (size_t i = 0; i < p.steps.size(); ++i) {
    E4STEP& s = p.steps[i];
    int n = s.numArgs;
    if (n > top) {
      *description = "ill-formed expression";
      return e4result;
    }
    Entry* a = stack + top - n;
    int rc;
    if (IsValueStep(s)) {
      ValueLength(e, s, &varSeen);
      rc = 0;
    } else {
      rc = PickVariant(p, s, a, n);
      if (rc) {
        *description = nullptr;
        return rc;
      }
      rc = OperationLength(e, p, s, n ? a : nullptr, &varSeen);
      if (rc) return rc;
      if (s.fn == e4row(E4add) && varSeen) s.fn = TrimmingRow();
    }
    top -= n;
    if (top >= kE4pendingMax) return e4overflow;
    stack[top++] = Entry{s.type, s.len, static_cast<int>(i)};
  }
  if (top != 1) {
    *description = "ill-formed expression";
    return e4result;
  }
  e->type = stack[0].type;
  e->len = stack[0].len;
  e->pureChar = 1;
  e->nullable = 0;
  for (E4STEP& s : p.steps) {
    s.routine = kE4functions[s.fn].routine;
    if (!e4isPureCharStep(s)) e->pureChar = 0;
    if (s.field && s.field->null) e->nullable = 1;
  }
  size_t work = Layout(p);
  p.work.assign(work + 16, 0);
  p.key.assign(2 * static_cast<size_t>(e->len) + 32, 0);
  return 0;
}

}  // namespace engine4
