// The function table of the expression language and the routine of every
// row: the internal value steps (fields and constants), the logical
// constants, the operators and the built-in functions.
//
// A routine finds its arguments as the top numArgs entries of the value
// stack, writes its result at the step's offset in the work area and pushes
// it. The type resolver (expr4type.cpp) lays the arguments of a step out
// from the step's own offset upward, so a result may overwrite its arguments:
// every routine reads what it needs before it writes, or moves with memmove.
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/data4.h"
#include "engine/expr4internal.h"
#include "engine/memo4.h"

namespace engine4 {
namespace {

static_assert(std::endian::native == std::endian::little,
              "field values are read in place as little-endian numbers");

inline const char** Args(E4EVAL& ev, const E4STEP& s) { return ev.stack + ev.top - s.numArgs; }
inline char* Result(E4EVAL& ev, const E4STEP& s) { return ev.work + s.resultPos; }
inline void Push(E4EVAL& ev, const E4STEP& s, const char* v) {
  ev.top -= s.numArgs;
  ev.stack[ev.top++] = v;
}
inline void PushInt(E4EVAL& ev, const E4STEP& s, int32_t v) {
  char* r = Result(ev, s);
  e4putInt(r, v);
  Push(ev, s, r);
}
inline void PushDouble(E4EVAL& ev, const E4STEP& s, double v) {
  char* r = Result(ev, s);
  e4putDouble(r, v);
  Push(ev, s, r);
}
inline const char* FieldBytes(const E4STEP& s) { return s.table->record + s.i1; }

// --- fields and constants ----------------------------------------------------

void FieldRef(E4EVAL& ev, const E4STEP& s) { Push(ev, s, FieldBytes(s)); }

void FieldLogical(E4EVAL& ev, const E4STEP& s) {
  char c = FieldBytes(s)[0];
  PushInt(ev, s, c == 'T' || c == 't' || c == 'Y' || c == 'y');
}

void FieldDateNum(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(date4dayNumber(FieldBytes(s))));
}

void FieldNumNum(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, c4textToReal(FieldBytes(s), s.i3));
}

void FieldDouble(E4EVAL& ev, const E4STEP& s) { Push(ev, s, FieldBytes(s)); }

void FieldIntNum(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(e4getInt(FieldBytes(s))));
}

void FieldCurNum(E4EVAL& ev, const E4STEP& s) {
  int64_t v;
  std::memcpy(&v, FieldBytes(s), sizeof v);
  PushDouble(ev, s, static_cast<double>(v) / 10000.0);
}

// The memo text, cut to the step's length or padded with zero bytes.
void FieldMemo(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  const char* text = f4memoPtr(s.field);
  unsigned n = text ? f4memoLen(s.field) : 0;
  if (!text && s.table->c4 && s.table->c4->lastError < 0 && ev.error == 0)
    ev.error = s.table->c4->lastError;
  if (n > static_cast<unsigned>(s.len)) n = s.len;
  if (n) std::memcpy(r, text, n);
  std::memset(r + n, 0, s.len - n);
  Push(ev, s, r);
}

void ConstValue(E4EVAL& ev, const E4STEP& s) { Push(ev, s, ev.constants + s.i1); }

void True(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, 1); }
void False(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, 0); }

// --- logical operators -------------------------------------------------------

void Not(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, e4getInt(Args(ev, s)[0]) == 0); }

void Or(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int v = 0;
  for (int i = 0; i < s.numArgs; ++i) v |= e4getInt(a[i]) != 0;
  PushInt(ev, s, v);
}

void And(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int v = 1;
  for (int i = 0; i < s.numArgs; ++i) v &= e4getInt(a[i]) != 0;
  PushInt(ev, s, v);
}

// --- concatenation and arithmetic --------------------------------------------

// Puts both operands side by side at the result (i1 and i2 are their
// lengths); an operand computed in place is already there.
char* PlaceOperands(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  char* r = Result(ev, s);
  if (a[0] != r) std::memmove(r, a[0], s.i1);
  if (a[1] != r + s.i1) std::memmove(r + s.i1, a[1], s.i2);
  return r;
}

void AddText(E4EVAL& ev, const E4STEP& s) { Push(ev, s, PlaceOperands(ev, s)); }

// The left string without its trailing pad characters, the right string,
// then the removed pad characters.
void JoinTrimmed(E4EVAL& ev, const E4STEP& s, char pad) {
  char* r = PlaceOperands(ev, s);
  int kept = s.i1;
  while (kept > 0 && r[kept - 1] == pad) --kept;
  if (kept < s.i1) {
    std::memmove(r + kept, r + s.i1, s.i2);
    std::memset(r + kept + s.i2, pad, s.i1 - kept);
  }
  Push(ev, s, r);
}

void SubText(E4EVAL& ev, const E4STEP& s) { JoinTrimmed(ev, s, ' '); }
void AddTrimmed(E4EVAL& ev, const E4STEP& s) { JoinTrimmed(ev, s, 0); }

inline double Arg(E4EVAL& ev, const E4STEP& s, int i) { return e4getDouble(Args(ev, s)[i]); }

void AddNum(E4EVAL& ev, const E4STEP& s) { PushDouble(ev, s, Arg(ev, s, 0) + Arg(ev, s, 1)); }

// Date arithmetic: a blank (0) date stays blank.
void AddNumDate(E4EVAL& ev, const E4STEP& s) {
  double n = Arg(ev, s, 0), d = Arg(ev, s, 1);
  PushDouble(ev, s, d == 0 ? 0 : n + d);
}

void AddDateNum(E4EVAL& ev, const E4STEP& s) {
  double d = Arg(ev, s, 0), n = Arg(ev, s, 1);
  PushDouble(ev, s, d == 0 ? 0 : d + n);
}

void SubNum(E4EVAL& ev, const E4STEP& s) { PushDouble(ev, s, Arg(ev, s, 0) - Arg(ev, s, 1)); }

void SubDateDate(E4EVAL& ev, const E4STEP& s) {
  double a = Arg(ev, s, 0), b = Arg(ev, s, 1);
  PushDouble(ev, s, (a == 0 || b == 0) ? 0 : a - b);
}

void SubDateNum(E4EVAL& ev, const E4STEP& s) {
  double d = Arg(ev, s, 0), n = Arg(ev, s, 1);
  PushDouble(ev, s, d == 0 ? 0 : d - n);
}

void Mul(E4EVAL& ev, const E4STEP& s) { PushDouble(ev, s, Arg(ev, s, 0) * Arg(ev, s, 1)); }

void Div(E4EVAL& ev, const E4STEP& s) {
  double d = Arg(ev, s, 1);
  PushDouble(ev, s, d == 0 ? 0 : Arg(ev, s, 0) / d);
}

void Pow(E4EVAL& ev, const E4STEP& s) { PushDouble(ev, s, std::pow(Arg(ev, s, 0), Arg(ev, s, 1))); }

// --- comparisons -------------------------------------------------------------

// Character comparisons: i1 is the compared length min(len1, len2), i2 the
// outcome of the step's base comparison when the compared prefixes are
// equal.
inline int CompareText(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  return std::memcmp(a[0], a[1], s.i1);
}

void EqText(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, CompareText(ev, s) == 0); }
void NeText(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, CompareText(ev, s) != 0); }
void GtText(E4EVAL& ev, const E4STEP& s) {
  int rc = CompareText(ev, s);
  PushInt(ev, s, rc > 0 || (rc == 0 && s.i2));
}
void LtText(E4EVAL& ev, const E4STEP& s) {
  int rc = CompareText(ev, s);
  PushInt(ev, s, rc < 0 || (rc == 0 && s.i2));
}
// ">=" is "not <" and "<=" is "not >"; i2 holds the "<" / ">" outcome.
void GeText(E4EVAL& ev, const E4STEP& s) {
  int rc = CompareText(ev, s);
  PushInt(ev, s, !(rc < 0 || (rc == 0 && s.i2)));
}
void LeText(E4EVAL& ev, const E4STEP& s) {
  int rc = CompareText(ev, s);
  PushInt(ev, s, !(rc > 0 || (rc == 0 && s.i2)));
}

// -1, 0, 1 of two values of the step's argument type.
int CompareNum(E4EVAL& ev, const E4STEP& s) {
  double a = Arg(ev, s, 0), b = Arg(ev, s, 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareCurrency(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int64_t x, y;
  std::memcpy(&x, a[0], sizeof x);
  std::memcpy(&y, a[1], sizeof y);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareDateTime(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int32_t d1 = e4getInt(a[0]), d2 = e4getInt(a[1]);
  if (d1 != d2) return d1 < d2 ? -1 : 1;
  int32_t m1 = e4getInt(a[0] + 4), m2 = e4getInt(a[1] + 4);
  return m1 < m2 ? -1 : (m1 > m2 ? 1 : 0);
}

int CompareLogical(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int x = e4getInt(a[0]) != 0, y = e4getInt(a[1]) != 0;
  return x - y;
}

template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Eq(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) == 0); }
template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Ne(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) != 0); }
template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Gt(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) > 0); }
template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Lt(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) < 0); }
template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Ge(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) >= 0); }
template <int (*Cmp)(E4EVAL&, const E4STEP&)>
void Le(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, Cmp(ev, s) <= 0); }

// "$": the left string (i1 bytes) occurs in the right one (i2 bytes).
void Contain(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  int found = 0;
  if (s.i1 <= s.i2) {
    for (int at = 0; at + s.i1 <= s.i2 && !found; ++at)
      found = std::memcmp(a[1] + at, a[0], s.i1) == 0;
  }
  PushInt(ev, s, found);
}

// --- text functions ----------------------------------------------------------

void Chr(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  r[0] = static_cast<char>(e4toInt32(Arg(ev, s, 0)));
  Push(ev, s, r);
}

void Del(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  r[0] = ev.expr->data->record[0];
  Push(ev, s, r);
}

void Stars(char* out, int len) { std::memset(out, '*', len); }

// Decimal text of v in len bytes with dec decimals, right-aligned; "*" when
// it does not fit.
void FormatNumber(double v, int len, int dec, char* out) {
  if (len <= 0) return;
  if (dec > 15) dec = 15;
  if (dec > len - 1) dec = len - 1;
  if (dec < 0) dec = 0;
  if (v == 0) v = 0.0;  // no "-0"
  char text[400];
  int n = -1;
  if (std::isfinite(v) && std::fabs(v) < 1e300) n = std::snprintf(text, sizeof text, "%.*f", dec, v);
  if (n < 0 || n > len) {
    Stars(out, len);
    return;
  }
  std::memset(out, ' ', len - n);
  std::memcpy(out + len - n, text, n);
}

void Str(E4EVAL& ev, const E4STEP& s) {
  double v = Arg(ev, s, 0);
  char* r = Result(ev, s);
  FormatNumber(v, s.i1, s.i2, r);
  Push(ev, s, r);
}

// Digits of the integer part of |v| (at least 1), plus one for a minus sign.
int IntegerWidth(double v) {
  double a = std::fabs(v);
  int digits = 1;
  while (a >= 10 && digits < 400) {
    a /= 10;
    ++digits;
  }
  return v < 0 ? digits + 1 : digits;
}

// STRZERO: STR with as many decimals as fit, trailing zero decimals dropped,
// then zero-filled on the left; the minus sign of a negative number goes in
// front of the zeros.
void StrZero(E4EVAL& ev, const E4STEP& s) {
  double v = Arg(ev, s, 0);
  char* r = Result(ev, s);
  int len = s.i1;
  if (len <= 0) {
    Push(ev, s, r);
    return;
  }
  if (!std::isfinite(v) || IntegerWidth(v) > len) {
    Stars(r, len);
    Push(ev, s, r);
    return;
  }
  int width = IntegerWidth(v);
  int dec = len == width ? 0 : len - width - 1;
  FormatNumber(v, len, dec, r);
  if (r[0] == '*') {
    Push(ev, s, r);
    return;
  }
  if (std::memchr(r, '.', len)) {
    int end = len;
    while (end > 0 && r[end - 1] == '0') --end;
    if (end > 0 && r[end - 1] == '.') --end;
    int shift = len - end;
    std::memmove(r + shift, r, end);
    std::memset(r, ' ', shift);
  }
  bool negative = false;
  for (int i = 0; i < len; ++i) {
    if (r[i] == '-') negative = true;
    if (r[i] == ' ' || r[i] == '-') r[i] = '0';
  }
  if (negative) r[0] = '-';
  Push(ev, s, r);
}

// SUBSTR, LEFT, RIGHT: i1 is the 0-based start, the step's length the count.
void Substr(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  std::memmove(r, Args(ev, s)[0] + s.i1, s.len);
  Push(ev, s, r);
}

void Time(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  time4current(r);
  Push(ev, s, r);
}

// Windows ANSI upper-casing of one byte.
unsigned char UpperAnsi(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
  }
}

// Upper-casing of the C library in its "C" locale, which programs of this
// system never change: ASCII letters only.
void Upper(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  std::memmove(r, Args(ev, s)[0], s.len);
  bool ansi = ev.expr->dataFile && ev.expr->dataFile->codePage == 3;
  for (int i = 0; i < s.len; ++i) {
    unsigned char c = static_cast<unsigned char>(r[i]);
    if (ansi) r[i] = static_cast<char>(UpperAnsi(c));
    else if (c >= 'a' && c <= 'z') r[i] = static_cast<char>(c - 32);
  }
  Push(ev, s, r);
}

void DtosText(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  const char* d = Args(ev, s)[0];
  if (std::memcmp(d, "       0", 8) == 0) std::memset(r, ' ', 8);
  else std::memmove(r, d, 8);
  Push(ev, s, r);
}

void DtosNum(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  long day = e4toInt32(Arg(ev, s, 0));
  date4assign(r, day);
  Push(ev, s, r);
}

// DTOC: i1 is the offset of the date picture in the constants area.
void Pictured(E4EVAL& ev, const E4STEP& s, const char* date8) {
  char* r = Result(ev, s);
  char text[32];
  date4picture(date8, text, ev.constants + s.i1);
  std::memcpy(r, text, s.len);
  Push(ev, s, r);
}

void DtocText(E4EVAL& ev, const E4STEP& s) {
  char date[8];
  std::memcpy(date, Args(ev, s)[0], 8);
  Pictured(ev, s, date);
}

void DtocNum(E4EVAL& ev, const E4STEP& s) {
  char date[8];
  date4assign(date, e4toInt32(Arg(ev, s, 0)));
  Pictured(ev, s, date);
}

inline bool Blankish(char c) { return c == ' ' || c == 0; }

void TrimEnd(char* r, int len) {
  for (int i = len; i > 0 && Blankish(r[i - 1]); --i) r[i - 1] = 0;
}

void TrimStart(char* r, const char* a, int len) {
  int skip = 0;
  while (skip < len && Blankish(a[skip])) ++skip;
  std::memmove(r, a + skip, len - skip);
  std::memset(r + len - skip, 0, skip);
}

void Trim(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  std::memmove(r, Args(ev, s)[0], s.len);
  TrimEnd(r, s.len);
  Push(ev, s, r);
}

void Ltrim(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  TrimStart(r, Args(ev, s)[0], s.len);
  Push(ev, s, r);
}

void Alltrim(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  TrimStart(r, Args(ev, s)[0], s.len);
  TrimEnd(r, s.len);
  Push(ev, s, r);
}

// Length of a text without its trailing zero bytes.
int WithoutZeros(const char* a, int len) {
  while (len > 0 && a[len - 1] == 0) --len;
  return len;
}

// PADL and PADR: i1 is the argument's length, the step's length the target.
// A longer text keeps its first bytes.
void Padl(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  const char* a = Args(ev, s)[0];
  int n = WithoutZeros(a, s.i1);
  if (n >= s.len) {
    std::memmove(r, a, s.len);
  } else {
    std::memmove(r + s.len - n, a, n);
    std::memset(r, ' ', s.len - n);
  }
  Push(ev, s, r);
}

void Padr(E4EVAL& ev, const E4STEP& s) {
  char* r = Result(ev, s);
  const char* a = Args(ev, s)[0];
  int n = WithoutZeros(a, s.i1);
  if (n > s.len) n = s.len;
  std::memmove(r, a, n);
  std::memset(r + n, ' ', s.len - n);
  Push(ev, s, r);
}

// IIF: i1 and i2 are the lengths of the two branches.
void Iif(E4EVAL& ev, const E4STEP& s) {
  const char** a = Args(ev, s);
  char* r = Result(ev, s);
  bool yes = e4getInt(a[0]) != 0;
  int n = yes ? s.i1 : s.i2;
  std::memmove(r, yes ? a[1] : a[2], n);
  if (s.type == 'C' && n < s.len) std::memset(r + n, ' ', s.len - n);
  Push(ev, s, r);
}

// --- dates and numbers -------------------------------------------------------

// i1 is the argument's length for the text readers below.
void Stod(E4EVAL& ev, const E4STEP& s) {
  char date[8];
  std::memset(date, ' ', 8);
  std::memcpy(date, Args(ev, s)[0], s.i1 < 8 ? s.i1 : 8);
  PushDouble(ev, s, static_cast<double>(date4dayNumber(date)));
}

// CTOD: i1 the offset of the picture, i3 the argument's length.
void Ctod(E4EVAL& ev, const E4STEP& s) {
  char text[256];
  int n = s.i3 < 255 ? s.i3 : 255;
  std::memcpy(text, Args(ev, s)[0], n);
  text[n] = 0;
  char date[8];
  date4parse(date, text, ev.constants + s.i1);
  PushDouble(ev, s, static_cast<double>(date4dayNumber(date)));
}

void Date(E4EVAL& ev, const E4STEP& s) {
  char date[8];
  date4current(date);
  PushDouble(ev, s, static_cast<double>(date4dayNumber(date)));
}

// DAY, MONTH, YEAR read the digits of the CCYYMMDD text.
template <int kPos, int kLen>
void DatePartText(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(c4textToLong(Args(ev, s)[0] + kPos, kLen)));
}

template <int kPos, int kLen>
void DatePartNum(E4EVAL& ev, const E4STEP& s) {
  char date[8];
  date4assign(date, e4toInt32(Arg(ev, s, 0)));
  PushDouble(ev, s, static_cast<double>(c4textToLong(date + kPos, kLen)));
}

void Deleted(E4EVAL& ev, const E4STEP& s) { PushInt(ev, s, ev.expr->data->record[0] == '*'); }

void RecCount(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(d4recCount(ev.expr->data)));
}

void RecNo(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(d4recNo(ev.expr->data)));
}

void Val(E4EVAL& ev, const E4STEP& s) { PushDouble(ev, s, c4textToReal(Args(ev, s)[0], s.i1)); }

void L2bin(E4EVAL& ev, const E4STEP& s) {
  uint32_t v = static_cast<uint32_t>(e4toInt32(Arg(ev, s, 0)));
  char* r = Result(ev, s);
  for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(v >> (8 * i));
  Push(ev, s, r);
}

void PageNo(E4EVAL& ev, const E4STEP& s) {
  PushDouble(ev, s, static_cast<double>(expr4pageNo(ev.expr->c4)));
}

// ASCEND and DESCEND: i1 is the argument's type, i2 its length.
void KeyLike(E4EVAL& ev, const E4STEP& s, bool complement) {
  const char* a = Args(ev, s)[0];
  char* r = Result(ev, s);
  char local[512];
  std::vector<char> heap;
  char* copy = local;
  if (s.i2 > static_cast<int>(sizeof local)) {
    heap.resize(s.i2);
    copy = heap.data();
  }
  std::memcpy(copy, a, s.i2);
  collate4ascend(static_cast<char>(s.i1), copy, s.i2, r);
  if (complement)
    for (int i = 0; i < s.len; ++i) r[i] = static_cast<char>(~r[i]);
  Push(ev, s, r);
}

void Ascend(E4EVAL& ev, const E4STEP& s) { KeyLike(ev, s, false); }
void Descend(E4EVAL& ev, const E4STEP& s) { KeyLike(ev, s, true); }

}  // namespace

// --- the table -----------------------------------------------------------------

#define E4ROW(routine, name, code, prio, result, n, ...) \
  {routine, name, code, static_cast<signed char>(name ? sizeof(name) - 1 : 0), prio, result, n, {__VA_ARGS__}}
#define E4VAR(routine, code, result, n, ...) {routine, nullptr, code, 0, 0, result, n, {__VA_ARGS__}}

// Rows of one code follow each other; the parser finds an operation by its
// named rows, the type resolver picks the first variant that fits.
const E4FUNC kE4functions[] = {
    // Internal value steps.
    E4VAR(FieldRef, E4fieldRef, 'C', 0),
    E4VAR(FieldRef, E4fieldRef, 'W', 0),
    E4VAR(FieldRef, E4fieldRef, 'O', 0),
    E4VAR(FieldRef, E4fieldRef, 'D', 0),
    E4VAR(FieldRef, E4fieldRef, 'N', 0),
    E4VAR(FieldRef, E4fieldRef, 'Y', 0),
    E4VAR(FieldRef, E4fieldRef, 'I', 0),
    E4VAR(FieldRef, E4fieldRef, 'P', 0),
    E4VAR(FieldRef, E4fieldRef, 'Q', 0),
    E4VAR(FieldRef, E4fieldRef, 'R', 0),
    E4VAR(FieldRef, E4fieldRef, 'T', 0),
    E4VAR(FieldRef, E4fieldRef, '1', 0),
    E4VAR(FieldRef, E4fieldRef, '2', 0),
    E4VAR(FieldRef, E4fieldRef, '3', 0),
    E4VAR(FieldRef, E4fieldRef, '4', 0),
    E4VAR(FieldLogical, E4fieldLogical, 'L', 0),
    E4VAR(FieldDateNum, E4fieldDateNum, 'd', 0),
    E4VAR(FieldNumNum, E4fieldNumNum, 'n', 0),
    E4VAR(FieldDouble, E4fieldDouble, 'n', 0),
    E4VAR(FieldIntNum, E4fieldIntNum, 'n', 0),
    E4VAR(FieldCurNum, E4fieldCurNum, 'n', 0),
    E4VAR(FieldMemo, E4fieldMemo, 'C', 0),
    E4VAR(ConstValue, E4constNum, 'n', 0),
    E4VAR(ConstValue, E4constStr, 'C', 0),

    // Logical constants and .NOT.
    E4ROW(True, ".TRUE.", E4true, 0, 'L', 0),
    E4ROW(True, ".T.", E4true, 0, 'L', 0),
    E4ROW(False, ".FALSE.", E4false, 0, 'L', 0),
    E4ROW(False, ".F.", E4false, 0, 'L', 0),
    E4ROW(Not, ".NOT.", E4not, 5, 'L', 1, 'L'),

    // Operators, in the order the parser tries them.
    E4ROW(Or, ".OR.", E4or, 3, 'L', -1, 'L'),
    E4ROW(And, ".AND.", E4and, 4, 'L', -1, 'L'),
    E4ROW(AddText, "+", E4add, 7, 'C', 2, 'C', 'C'),
    E4VAR(AddText, E4add, 'W', 2, 'W', 'W'),
    E4VAR(AddText, E4add, 'O', 2, 'O', 'O'),
    E4VAR(AddTrimmed, E4add, 'C', 2, 'C', 'C'),
    E4VAR(AddNum, E4add, 'n', 2, 'n', 'n'),
    E4VAR(AddNumDate, E4add, 'd', 2, 'n', 'd'),
    E4VAR(AddDateNum, E4add, 'd', 2, 'd', 'n'),
    E4ROW(SubText, "-", E4sub, 7, 'C', 2, 'C', 'C'),
    E4VAR(SubNum, E4sub, 'n', 2, 'n', 'n'),
    E4VAR(SubDateDate, E4sub, 'n', 2, 'd', 'd'),
    E4VAR(SubDateNum, E4sub, 'd', 2, 'd', 'n'),
    E4ROW(NeText, "#", E4ne, 6, 'L', 2, 'C', 'C'),
    E4ROW(NeText, "<>", E4ne, 6, 'L', 2, 'C', 'C'),
    E4VAR(Ne<CompareNum>, E4ne, 'L', 2, 'n', 'n'),
    E4VAR(Ne<CompareNum>, E4ne, 'L', 2, 'd', 'd'),
    E4VAR(Ne<CompareLogical>, E4ne, 'L', 2, 'L', 'L'),
    E4VAR(Ne<CompareCurrency>, E4ne, 'L', 2, 'Y', 'Y'),
    E4VAR(Ne<CompareDateTime>, E4ne, 'L', 2, 'T', 'T'),
    E4ROW(GeText, ">=", E4ge, 6, 'L', 2, 'C', 'C'),
    E4ROW(GeText, "=>", E4ge, 6, 'L', 2, 'C', 'C'),
    E4VAR(Ge<CompareNum>, E4ge, 'L', 2, 'n', 'n'),
    E4VAR(Ge<CompareNum>, E4ge, 'L', 2, 'd', 'd'),
    E4VAR(Ge<CompareCurrency>, E4ge, 'L', 2, 'Y', 'Y'),
    E4VAR(Ge<CompareDateTime>, E4ge, 'L', 2, 'T', 'T'),
    E4ROW(LeText, "<=", E4le, 6, 'L', 2, 'C', 'C'),
    E4ROW(LeText, "=<", E4le, 6, 'L', 2, 'C', 'C'),
    E4VAR(Le<CompareNum>, E4le, 'L', 2, 'n', 'n'),
    E4VAR(Le<CompareNum>, E4le, 'L', 2, 'd', 'd'),
    E4VAR(Le<CompareCurrency>, E4le, 'L', 2, 'Y', 'Y'),
    E4VAR(Le<CompareDateTime>, E4le, 'L', 2, 'T', 'T'),
    E4ROW(EqText, "=", E4eq, 6, 'L', 2, 'C', 'C'),
    E4VAR(Eq<CompareLogical>, E4eq, 'L', 2, 'L', 'L'),
    E4VAR(Eq<CompareNum>, E4eq, 'L', 2, 'n', 'n'),
    E4VAR(Eq<CompareNum>, E4eq, 'L', 2, 'd', 'd'),
    E4VAR(Eq<CompareCurrency>, E4eq, 'L', 2, 'Y', 'Y'),
    E4VAR(Eq<CompareDateTime>, E4eq, 'L', 2, 'T', 'T'),
    E4ROW(GtText, ">", E4gt, 6, 'L', 2, 'C', 'C'),
    E4VAR(Gt<CompareNum>, E4gt, 'L', 2, 'n', 'n'),
    E4VAR(Gt<CompareNum>, E4gt, 'L', 2, 'd', 'd'),
    E4VAR(Gt<CompareCurrency>, E4gt, 'L', 2, 'Y', 'Y'),
    E4VAR(Gt<CompareDateTime>, E4gt, 'L', 2, 'T', 'T'),
    E4ROW(LtText, "<", E4lt, 6, 'L', 2, 'C', 'C'),
    E4VAR(Lt<CompareNum>, E4lt, 'L', 2, 'n', 'n'),
    E4VAR(Lt<CompareNum>, E4lt, 'L', 2, 'd', 'd'),
    E4VAR(Lt<CompareCurrency>, E4lt, 'L', 2, 'Y', 'Y'),
    E4VAR(Lt<CompareDateTime>, E4lt, 'L', 2, 'T', 'T'),
    E4ROW(Pow, "^", E4pow, 9, 'n', 2, 'n', 'n'),
    E4ROW(Pow, "**", E4pow, 9, 'n', 2, 'n', 'n'),
    E4ROW(Mul, "*", E4mul, 8, 'n', 2, 'n', 'n'),
    E4ROW(Div, "/", E4div, 8, 'n', 2, 'n', 'n'),
    E4ROW(Contain, "$", E4contain, 6, 'L', 2, 'C', 'C'),

    // Functions.
    E4ROW(Chr, "CHR", E4chr, 0, 'C', 1, 'n'),
    E4ROW(Del, "DEL", E4del, 0, 'C', 0),
    E4ROW(Str, "STR", E4str, 0, 'C', 1, 'n'),
    E4ROW(StrZero, "STRZERO", E4strZero, 0, 'C', 1, 'n'),
    E4ROW(Substr, "SUBSTR", E4substr, 0, 'C', 1, 'C'),
    E4ROW(Time, "TIME", E4time, 0, 'C', 0),
    E4ROW(Upper, "UPPER", E4upper, 0, 'C', 1, 'C'),
    E4ROW(DtosText, "DTOS", E4dtos, 0, 'C', 1, 'D'),
    E4VAR(DtosNum, E4dtos, 'C', 1, 'd'),
    E4ROW(DtocText, "DTOC", E4dtoc, 0, 'C', 1, 'D'),
    E4VAR(DtocNum, E4dtoc, 'C', 1, 'd'),
    E4ROW(Trim, "TRIM", E4trim, 0, 'C', 1, 'C'),
    E4ROW(Ltrim, "LTRIM", E4ltrim, 0, 'C', 1, 'C'),
    E4ROW(Alltrim, "ALLTRIM", E4alltrim, 0, 'C', 1, 'C'),
    E4ROW(Substr, "LEFT", E4left, 0, 'C', 1, 'C'),
    E4ROW(Substr, "RIGHT", E4right, 0, 'C', 1, 'C'),
    E4ROW(Padl, "PADL", E4padl, 0, 'C', 1, 'C'),
    E4ROW(Padr, "PADR", E4padr, 0, 'C', 1, 'C'),
    E4ROW(Iif, "IIF", E4iif, 0, 'C', 3, 'L', 'C', 'C'),
    E4VAR(Iif, E4iif, 'n', 3, 'L', 'n', 'n'),
    E4VAR(Iif, E4iif, 'd', 3, 'L', 'd', 'd'),
    E4VAR(Iif, E4iif, 'L', 3, 'L', 'L', 'L'),
    E4ROW(Stod, "STOD", E4stod, 0, 'd', 1, 'C'),
    E4ROW(Ctod, "CTOD", E4ctod, 0, 'd', 1, 'C'),
    E4ROW(Date, "DATE", E4date, 0, 'd', 0),
    E4ROW((DatePartText<6, 2>), "DAY", E4day, 0, 'n', 1, 'D'),
    E4VAR((DatePartNum<6, 2>), E4day, 'n', 1, 'd'),
    E4ROW((DatePartText<4, 2>), "MONTH", E4month, 0, 'n', 1, 'D'),
    E4VAR((DatePartNum<4, 2>), E4month, 'n', 1, 'd'),
    E4ROW((DatePartText<0, 4>), "YEAR", E4year, 0, 'n', 1, 'D'),
    E4VAR((DatePartNum<0, 4>), E4year, 'n', 1, 'd'),
    E4ROW(Deleted, "DELETED", E4deleted, 0, 'L', 0),
    E4ROW(RecCount, "RECCOUNT", E4recCount, 0, 'n', 0),
    E4ROW(RecNo, "RECNO", E4recNo, 0, 'n', 0),
    E4ROW(Val, "VAL", E4val, 0, 'n', 1, 'C'),
    E4ROW(L2bin, "L2BIN", E4l2bin, 0, 'C', 1, 'n'),
    E4ROW(PageNo, "PAGENO", E4pageNo, 0, 'n', 0),
    E4ROW(Descend, "DESCEND", E4descend, 0, 'C', 1, 'C'),
    E4VAR(Descend, E4descend, 'C', 1, 'N'),
    E4VAR(Descend, E4descend, 'C', 1, 'd'),
    E4VAR(Descend, E4descend, 'C', 1, 'L'),
    E4VAR(Descend, E4descend, 'C', 1, 'T'),
    E4VAR(Descend, E4descend, 'C', 1, 'I'),
    E4VAR(Descend, E4descend, 'C', 1, 'Y'),
    E4VAR(Descend, E4descend, 'C', 1, 'W'),
    E4VAR(Descend, E4descend, 'C', 1, 'O'),
    E4VAR(Descend, E4descend, 'C', 1, 'n'),
    E4VAR(Descend, E4descend, 'C', 1, '1'),
    E4VAR(Descend, E4descend, 'C', 1, 'P'),
    E4VAR(Descend, E4descend, 'C', 1, 'R'),
    E4VAR(Descend, E4descend, 'C', 1, 'Q'),
    E4VAR(Descend, E4descend, 'C', 1, '2'),
    E4VAR(Descend, E4descend, 'C', 1, '3'),
    E4VAR(Descend, E4descend, 'C', 1, '4'),
    E4ROW(Ascend, "ASCEND", E4ascend, 0, 'C', 1, 'C'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'W'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'O'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'N'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'D'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'd'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'L'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'I'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'T'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'Y'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'n'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'P'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'R'),
    E4VAR(Ascend, E4ascend, 'C', 1, 'Q'),
    E4VAR(Ascend, E4ascend, 'C', 1, '1'),
    E4VAR(Ascend, E4ascend, 'C', 1, '2'),
    E4VAR(Ascend, E4ascend, 'C', 1, '3'),
    E4VAR(Ascend, E4ascend, 'C', 1, '4'),
};

#undef E4ROW
#undef E4VAR

const int kE4functionCount = static_cast<int>(sizeof kE4functions / sizeof kE4functions[0]);

int e4row(short code) {
  for (int i = 0; i < kE4functionCount; ++i)
    if (kE4functions[i].code == code) return i;
  return -1;
}

int e4fieldRow(short code, char type) {
  for (int i = 0; i < kE4functionCount; ++i)
    if (kE4functions[i].code == code && kE4functions[i].resultType == type) return i;
  return -1;
}

int e4firstOperatorRow() { return e4row(E4or); }
int e4lastOperatorRow() { return e4row(E4contain); }
int e4firstFunctionRow() { return e4row(E4chr); }

}  // namespace engine4
