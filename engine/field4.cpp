// Field operations on the current record buffer: the type rules, text and
// number formats, blanking and null-bit rules of every f4 operation except
// the memo ones. Every store goes through f4assignPtr, which marks the record
// changed and clears the field's null bit; the record reaches the disk when
// the record operations write it.
//
// Binary layouts inside the record (little-endian):
//   TYPE  SIZE  MEANING
//   I     4     signed 32-bit integer
//   B     8     IEEE double
//   Y     8     signed 64-bit integer, value x 10000
//   T     4+4   Julian day number (<= 0: no date), milliseconds since midnight
//   M/G/X 4     memo block number (version-0x30 tables; classic: 10-char text)
//   P     4     signed 32-bit integer (internal type)
//   Q, R  2     signed 16-bit integer (internal types)
#include "engine/field4.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "engine/c4util.h"
#include "engine/data4.h"
#include "engine/date4.h"

namespace {

// Location numbers of the operations that the shared table does not name.
constexpr long kLocF4assignPtr = 90550;
constexpr long kLocF4assignDouble = 90551;
constexpr long kLocF4assignCurrency = 90552;
constexpr long kLocF4dateTimeAssign = 90553;
constexpr long kLocF4currency = 90554;
constexpr long kLocF4ptr = 90555;
constexpr long kLocF4number = 90556;
constexpr long kLocF4double = 90557;
constexpr long kLocF4null = 90558;
constexpr long kLocF4type = 90559;
constexpr long kLocF4decimals = 90560;
constexpr long kLocF4name = 90561;

const char kTypeError[] = "field function not supported for given field type";

// A usable field: it belongs to an open table with a record buffer.
bool usable(const COLUMN4* f) {
  return f != nullptr && f->data != nullptr && f->data->record != nullptr &&
         f->data->c4 != nullptr;
}

CODE4* codeOf(const COLUMN4* f) { return f->data->c4; }

int reportNull(long location, const char* name) {
  return error4reportAt(nullptr, e4parmNull, location, name);
}

int reportType(const COLUMN4* f, long location) {
  return error4reportAt(codeOf(f), e4parm, location, kTypeError);
}

int reportedType(const COLUMN4* f) {
  if (f->type == 'C' && f->binary == 1) return 'Z';
  if (f->type == 'F') return 'N';
  if (f->type == 'M' && f->binary == 1) return 'X';
  return f->type;
}

// True when the stored or the reported type letter is one of `letters`.
// A type that is not a printable letter is refused as well.
bool typeIn(const COLUMN4* f, const char* letters) {
  if (f->type == 0 || f->type > 0x7F) return true;
  size_t n = strlen(letters);
  return memchr(letters, f->type, n) != nullptr || memchr(letters, reportedType(f), n) != nullptr;
}

bool isMemoBlock4(const COLUMN4* f) {
  return (f->type == 'M' || f->type == 'G') && f->len == 4;
}

// With requireRecordLock, a change of the current record needs its lock.
bool lockMissing(const COLUMN4* f) {
  TABLE4* t = f->data;
  return codeOf(f)->requireRecordLock && t->recNum > 0 && d4lockTest(t, t->recNum) != 1;
}

// Gate of the public changing operations: 0 to go on, else the result.
// A type is refused when it is in `refusedTypes`, or when `onlyType` is
// given and the field is of another type.
int beginChange(COLUMN4* f, long location, const char* name, const char* refusedTypes,
                int onlyType = 0) {
  if (!usable(f)) return reportNull(location, name);
  CODE4* c4 = codeOf(f);
  if (c4->lastError < 0) return -1;
  if (refusedTypes && typeIn(f, refusedTypes)) return reportType(f, location);
  if (onlyType && f->type != onlyType) return reportType(f, location);
  if (lockMissing(f)) return error4reportAt(c4, e4lock, location, name);
  return 0;
}

// Little-endian stores and loads.
void put16(char* p, int16_t v) {
  uint16_t u = static_cast<uint16_t>(v);
  p[0] = static_cast<char>(u & 0xFF);
  p[1] = static_cast<char>(u >> 8);
}
void put32(char* p, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
void put64(char* p, int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
int16_t get16(const char* p) {
  return static_cast<int16_t>(static_cast<unsigned char>(p[0]) |
                              (static_cast<unsigned char>(p[1]) << 8));
}
int32_t get32(const char* p) {
  uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<int32_t>(u);
}
int64_t get64(const char* p) {
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(p[i]);
  return static_cast<int64_t>(u);
}
void putDouble(char* p, double v) {
  uint64_t u;
  memcpy(&u, &v, 8);
  put64(p, static_cast<int64_t>(u));
}
double getDouble(const char* p) {
  uint64_t u = static_cast<uint64_t>(get64(p));
  double v;
  memcpy(&v, &u, 8);
  return v;
}

// Truncation towards zero that stays inside the target range (a double
// beyond it gives the nearest limit, NaN gives 0).
long truncToLong(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9.2233720368547758e18) return LONG_MAX;
  if (x <= -9.2233720368547758e18) return LONG_MIN;
  return static_cast<long>(x);
}
int32_t clamp32(long v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Reads a D field's 8 characters (blank padded if the field is shorter).
long dayOfDateField(const COLUMN4* f) {
  char text[8];
  memset(text, ' ', 8);
  memcpy(text, f4ptr(const_cast<COLUMN4*>(f)), f->len < 8 ? f->len : 8);
  return date4dayNumber(text);
}

// --- stores without the gate (routing between the typed operations) ---

void blankLow(COLUMN4* f) {
  char* p = f4assignPtr(f);
  memset(p, f->binary != 0 ? 0 : ' ', f->len);
}

void assignNLow(COLUMN4* f, const char* bytes, unsigned len) {
  if (len >= f->len) {
    memcpy(f4assignPtr(f), bytes, f->len);
    return;
  }
  blankLow(f);
  if (len) memcpy(f4assignPtr(f), bytes, len);
}

void assignRightLow(COLUMN4* f, const char* text) {
  size_t len = strlen(text);
  if (len >= f->len) {
    memcpy(f4assignPtr(f), text, f->len);
    return;
  }
  blankLow(f);
  memcpy(f4assignPtr(f) + (f->len - len), text, len);
}

void assignDateLow(COLUMN4* f, long day) {
  char text[8];
  date4assign(text, day);
  blankLow(f);
  memcpy(f4assignPtr(f), text, f->len < 8 ? f->len : 8);
}

// Parses currency text into value x 10000; false when it breaks the limits.
bool parseCurrency(const char* text, int64_t* out) {
  const char* p = text;
  while (*p == ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  while (*p == '0') ++p;
  uint64_t whole = 0;
  int nWhole = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (++nWhole > 16) return false;
    whole = whole * 10 + static_cast<uint64_t>(*p - '0');
  }
  uint64_t frac = 0;
  int nFrac = 0;
  if (*p == '.') {
    for (++p; *p >= '0' && *p <= '9'; ++p) {
      if (++nFrac > 4) return false;
      frac = frac * 10 + static_cast<uint64_t>(*p - '0');
    }
  }
  for (; nFrac < 4; ++nFrac) frac *= 10;
  // 16 digits would pass 64 bits once scaled: such values are refused.
  constexpr uint64_t kMax = static_cast<uint64_t>(INT64_MAX);
  uint64_t limit = negative ? kMax + 1 : kMax;
  if (whole > limit / 10000) return false;
  uint64_t magnitude = whole * 10000 + frac;
  if (magnitude > limit) return false;
  *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int assignCurrencyLow(COLUMN4* f, const char* text) {
  int64_t value;
  if (!parseCurrency(text, &value)) return -1;
  put64(f4assignPtr(f), value);
  return 0;
}

int assignIntLow(COLUMN4* f, int value);

int assignDoubleLow(COLUMN4* f, double value) {
  switch (f->type) {
    case 'B':
      putDouble(f4assignPtr(f), value);
      return 0;
    case 'D': {
      long day = truncToLong(value);
      assignDateLow(f, day);
      return 0;
    }
    case 'I':
      put32(f4assignPtr(f), clamp32(truncToLong(value)));
      return 0;
    case 'Y': {
      char text[21];
      int rc = c4dtoa45(value, text, 20, 4);
      if (rc < 0) return rc;  // does not fit: the field stays as it was
      text[20] = 0;
      return assignCurrencyLow(f, text);
    }
    default:
      break;
  }
  if (isMemoBlock4(f)) {
    // A binary block number holds no text: store the number itself.
    put32(f4assignPtr(f), clamp32(truncToLong(value)));
    return 0;
  }
  return c4dtoa45(value, f4assignPtr(f), f->len, f->dec);
}

int assignIntLow(COLUMN4* f, int value) {
  switch (f->type) {
    case 'I':
    case 'P':
      put32(f4assignPtr(f), value);
      return 0;
    case 'Q':
    case 'R':
      put16(f4assignPtr(f), static_cast<int16_t>(value));
      return 0;
    case 'B':
    case 'Y':
      return assignDoubleLow(f, value);
    default:
      break;
  }
  if (f->dec > 0) return assignDoubleLow(f, value);
  c4itoaRight(value, f4assignPtr(f), f->len);
  return 0;
}

// The scratch text of the context, grown to hold `size` bytes.
char* scratch(CODE4* c4, unsigned size) {
  if (c4->fieldBuffer && c4->fieldBufferLen >= size) return c4->fieldBuffer;
  unsigned want = size < 64 ? 64 : size;
  if (u4allocAgainDefault(c4, &c4->fieldBuffer, &c4->fieldBufferLen, want) != 0) {
    error4reportAt(c4, e4memory, LOC4f4str, "f4str");  // fatal
    return nullptr;
  }
  return c4->fieldBuffer;
}

// Currency text of value x 10000 with k decimals (cut, not rounded).
void currencyText(int64_t value, int k, char* out) {
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag);
  while (n < 5) digits[n++] = '0';  // at least one digit before the point
  char* p = out;
  if (value < 0) *p++ = '-';
  for (int i = n - 1; i >= 4; --i) *p++ = digits[i];
  if (k > 0) {
    *p++ = '.';
    for (int i = 3; i >= 4 - k; --i) *p++ = digits[i];
  }
  *p = 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Changing operations.

char* f4assignPtr(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(kLocF4assignPtr, "f4assignPtr");
    return nullptr;
  }
  TABLE4* t = f->data;
  t->recordChanged = true;
  if (f->null && t->nullFlags) {
    unsigned char* flags = reinterpret_cast<unsigned char*>(t->record + t->nullFlags->offset);
    unsigned byte = f->nullBit / 8u;
    if (byte < t->nullFlags->len) flags[byte] &= static_cast<unsigned char>(~(1u << (f->nullBit % 8u)));
  }
  return t->record + f->offset;
}

int f4blank(COLUMN4* f) {
  int rc = beginChange(f, LOC4f4blank, "f4blank", nullptr);
  if (rc) return rc;
  blankLow(f);
  return 0;
}

int f4assign(COLUMN4* f, const char* text) {
  int rc = beginChange(f, LOC4f4assign, "f4assign", nullptr);
  if (rc) return rc;
  if (!text) return reportNull(LOC4f4assign, "f4assign");
  if (f->type == 'N' || f->type == 'F') {
    assignRightLow(f, text);
    return 0;
  }
  assignNLow(f, text, static_cast<unsigned>(strlen(text)));
  return 0;
}

int f4assignN(COLUMN4* f, const char* bytes, unsigned len) {
  int rc = beginChange(f, LOC4f4assignN, "f4assignN", nullptr);
  if (rc) return rc;
  if (!bytes && len) return reportNull(LOC4f4assignN, "f4assignN");
  assignNLow(f, bytes, len);
  return 0;
}

int f4assignChar(COLUMN4* f, int ch) {
  int rc = beginChange(f, LOC4f4assignChar, "f4assignChar", "0BDFGIMNTXY");
  if (rc) return rc;
  blankLow(f);
  if (f->len) f4assignPtr(f)[0] = static_cast<char>(ch);
  return 0;
}

int f4assignInt(COLUMN4* f, int value) {
  int rc = beginChange(f, LOC4f4assignInt, "f4assignInt", "0DGLMTX");
  if (rc) return rc;
  return assignIntLow(f, value);
}

int f4assignLong(COLUMN4* f, long value) {
  int rc = beginChange(f, LOC4f4assignLong, "f4assignLong", "0LT");
  if (rc) return rc;
  switch (f->type) {
    case 'D':
      assignDateLow(f, value);
      return 0;
    case 'I':
    case 'P':
    case 'Q':
    case 'R':
      return assignIntLow(f, clamp32(value));
    case 'B':
      return assignDoubleLow(f, static_cast<double>(value));
    default:
      break;
  }
  if (isMemoBlock4(f)) {
    put32(f4assignPtr(f), clamp32(value));
    return 0;
  }
  if (f->dec > 0) return assignDoubleLow(f, static_cast<double>(value));
  c4itoaRight(value, f4assignPtr(f), f->len);
  return 0;
}

int f4assignDouble(COLUMN4* f, double value) {
  int rc = beginChange(f, kLocF4assignDouble, "f4assignDouble", "01234LOPQRTW");
  if (rc) return rc;
  return assignDoubleLow(f, value);
}

int f4assignCurrency(COLUMN4* f, const char* text) {
  int rc = beginChange(f, kLocF4assignCurrency, "f4assignCurrency", nullptr, 'Y');
  if (rc) return rc;
  if (!text) return reportNull(kLocF4assignCurrency, "f4assignCurrency");
  return assignCurrencyLow(f, text);
}

int f4dateTimeAssign(COLUMN4* f, const char* text) {
  if (!usable(f)) return reportNull(kLocF4dateTimeAssign, "f4dateTimeAssign");
  if (f->type != 'T') return reportType(f, kLocF4dateTimeAssign);
  if (!text) return reportNull(kLocF4dateTimeAssign, "f4dateTimeAssign");
  size_t len = strlen(text);
  char date[8];
  memset(date, ' ', 8);
  memcpy(date, text, len < 8 ? len : 8);
  long day = date4dayNumber(date);
  long ms = len > 8 ? time4msValue(text + 8, static_cast<int>(len - 8)) : 0;
  char* p = f4assignPtr(f);
  put32(p, clamp32(day));
  put32(p + 4, clamp32(ms));
  return 0;
}

// ---------------------------------------------------------------------------
// Reading operations.

char* f4ptr(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(kLocF4ptr, "f4ptr");
    return nullptr;
  }
  return f->data->record + f->offset;
}

unsigned f4len(COLUMN4* f) {
  if (!f) {
    reportNull(LOC4f4len, "f4len");
    return 0;
  }
  return f->len;
}

int f4decimals(COLUMN4* f) {
  if (!f) {
    reportNull(kLocF4decimals, "f4decimals");
    return -1;
  }
  return f->dec;
}

int f4number(COLUMN4* f) {
  if (!f) {
    reportNull(kLocF4number, "f4number");
    return -1;
  }
  const TABLE4* t = f->data;
  if (t && t->fields && f >= t->fields && f < t->fields + t->nFields)
    return static_cast<int>(f - t->fields) + 1;
  return f->number;
}

const char* f4name(COLUMN4* f) {
  if (!f) {
    reportNull(kLocF4name, "f4name");
    return nullptr;
  }
  return f->name;
}

int f4type(COLUMN4* f) {
  if (!f) return reportNull(kLocF4type, "f4type");
  return reportedType(f);
}

unsigned f4ncpy(COLUMN4* f, char* dest, unsigned size) {
  if (size == 0) return 0;
  if (!dest) {
    reportNull(LOC4f4ncpy, "f4ncpy");
    return 0;
  }
  if (!usable(f)) {
    dest[0] = 0;
    reportNull(LOC4f4ncpy, "f4ncpy");
    return 0;
  }
  unsigned n = f->len < size - 1 ? f->len : size - 1;
  memcpy(dest, f4ptr(f), n);
  dest[n] = 0;
  return n;
}

char* f4str(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(LOC4f4str, "f4str");
    return nullptr;
  }
  char* out = scratch(codeOf(f), f->len + 2u);
  if (!out) return nullptr;
  memcpy(out, f4ptr(f), f->len);
  out[f->len] = 0;
  out[f->len + 1] = 0;
  return out;
}

int f4true(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(LOC4f4true, "f4true");
    return 0;  // a missing field is not true
  }
  if (reportedType(f) != 'L') reportType(f, LOC4f4true);
  if (f->len == 0) return 0;
  char c = f4ptr(f)[0];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' ? 1 : 0;
}

int f4int(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(LOC4f4int, "f4int");
    return -1;
  }
  if (typeIn(f, "0DGLMTX")) {
    reportType(f, LOC4f4int);
    return -1;
  }
  const char* p = f4ptr(f);
  switch (f->type) {
    case 'B': return clamp32(truncToLong(getDouble(p)));
    case 'I':
    case 'P': return get32(p);
    case 'Q':
    case 'R': return get16(p);
    case 'Y': return clamp32(get64(p) / 10000);
    default: return c4textToInt(p, f->len);
  }
}

long f4long(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(LOC4f4long, "f4long");
    return -1;
  }
  if (typeIn(f, "0LT")) {
    reportType(f, LOC4f4long);
    return -1;
  }
  const char* p = f4ptr(f);
  switch (f->type) {
    case 'B': return truncToLong(getDouble(p));
    case 'D': return dayOfDateField(f);
    case 'I':
    case 'P': return get32(p);
    case 'Q':
    case 'R': return get16(p);
    case 'Y': return clamp32(get64(p) / 10000);
    default: break;
  }
  if (isMemoBlock4(f)) return get32(p);
  return c4textToLong(p, f->len);
}

double f4double(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(kLocF4double, "f4double");
    return -1.0;
  }
  if (typeIn(f, "0GLMTX")) {
    reportType(f, kLocF4double);
    return -1.0;
  }
  const char* p = f4ptr(f);
  switch (f->type) {
    case 'B': return getDouble(p);
    case 'D': return static_cast<double>(dayOfDateField(f));
    case 'I':
    case 'P': return get32(p);
    case 'Q':
    case 'R': return get16(p);
    case 'Y': return static_cast<double>(get64(p)) / 10000.0;
    default: return c4textToReal(p, f->len);
  }
}

char* f4currency(COLUMN4* f, int decimals) {
  if (!usable(f)) {
    reportNull(kLocF4currency, "f4currency");
    return nullptr;
  }
  if (decimals < 0 || decimals > 4) {
    error4reportAt(codeOf(f), e4parm, kLocF4currency, "f4currency");
    return nullptr;
  }
  if (f->type != 'Y') {
    reportType(f, kLocF4currency);
    return nullptr;
  }
  char* out = scratch(codeOf(f), 32);
  if (!out) return nullptr;
  currencyText(get64(f4ptr(f)), decimals, out);
  return out;
}

char* f4dateTime(COLUMN4* f) {
  if (!usable(f)) {
    error4reportAt(nullptr, e4parm, LOC4f4dateTime, "f4dateTime");
    return nullptr;
  }
  if (f->type != 'T') {
    reportType(f, LOC4f4dateTime);
    return nullptr;
  }
  char* out = scratch(codeOf(f), 22);
  if (!out) return nullptr;
  const char* p = f4ptr(f);
  date4assign(out, get32(p));
  time4msText(out + 8, get32(p + 4));
  out[20] = 0;
  out[21] = 0;
  c4trimEnd(out, 20);
  return out;
}

int f4null(COLUMN4* f) {
  if (!usable(f)) {
    reportNull(kLocF4null, "f4null");
    return 0;
  }
  TABLE4* t = f->data;
  if (!f->null || !t->nullFlags) return 0;
  unsigned byte = f->nullBit / 8u;
  if (byte >= t->nullFlags->len) return 0;
  unsigned char flags = static_cast<unsigned char>(t->record[t->nullFlags->offset + byte]);
  return (flags >> (f->nullBit % 8u)) & 1u;
}
