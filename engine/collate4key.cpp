// Key forms: how a value of each expression result type becomes index-key
// bytes (key4formInit chooses the routines once per tag), the conversions of
// a seek text or seek number into a key, the comparison that re-checks a
// found entry, and the key-like strings of ASCEND() and DESCEND().
//
// Stored values as the expression engine holds them (little-endian):
//   I 4-byte int; Q 2-byte signed, R 2-byte unsigned, P 4-byte unsigned;
//   Y and 1 8-byte int; T 4-byte day number then 4-byte milliseconds;
//   2, 3 three 2-byte units; 4 seven 2-byte units and 2 further bytes;
//   n, d doubles; L a 4-byte 0/1; N and D the field's text.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/collate4.h"
#include "engine/expr4internal.h"

namespace {

using engine4::e4getDouble;
using engine4::e4getInt;

void PutBig16(char* out, uint16_t v) {
  out[0] = static_cast<char>(v >> 8);
  out[1] = static_cast<char>(v);
}

void PutBig32(char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(v >> (24 - 8 * i));
}

void PutBig64(char* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(v >> (56 - 8 * i));
}

uint16_t GetLittle16(const char* p) {
  return static_cast<uint16_t>(static_cast<unsigned char>(p[0]) |
                               (static_cast<unsigned char>(p[1]) << 8));
}

int64_t GetLittle64(const char* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Little-endian 16-bit units to high-byte-first units.
void SwapUnits(const char* in, int len, char* out) {
  int i = 0;
  for (; i + 1 < len; i += 2) {
    out[i] = in[i + 1];
    out[i + 1] = in[i];
  }
  if (i < len) out[i] = in[i];
}

// Three (or seven) 16-bit units to big-endian.
void Units16(const char* value, int units, char* out) {
  for (int i = 0; i < units; ++i) PutBig16(out + 2 * i, GetLittle16(value + 2 * i));
}

double DateTimeNumber(const char* value8) {
  int32_t day = e4getInt(value8);
  int32_t ms = e4getInt(value8 + 4);
  return static_cast<double>(day) + static_cast<double>(ms) / 86400000.0;
}

// Copies a character value, turning the trailing zero bytes of a
// variable-length result into blanks.
void CopyCharValue(const KEY4FORM* f, const char* value, char* out) {
  std::memcpy(out, value, f->valueLen);
  if (!f->varLen) return;
  for (int i = f->valueLen; i > 0 && out[i - 1] == 0; --i) out[i - 1] = ' ';
}

// --- value -> key ----------------------------------------------------------

int FromCharMachine(const KEY4FORM* f, const char* value, char* key) {
  CopyCharValue(f, value, key);
  return f->keyLen;
}

int FromCharGeneral(const KEY4FORM* f, const char* value, char* key) {
  // The weights are built from a copy: the value may lie in the key buffer.
  char local[512];
  std::vector<char> heap;
  char* text = local;
  if (f->valueLen > static_cast<int>(sizeof local)) {
    heap.resize(f->valueLen);
    text = heap.data();
  }
  CopyCharValue(f, value, text);
  int rc = collate4charKey(f->coll, text, f->valueLen, key);
  return rc < 0 ? rc : f->keyLen;
}

int FromWideMachine(const KEY4FORM* f, const char* value, char* key) {
  SwapUnits(value, f->valueLen, key);
  return f->keyLen;
}

int FromWideGeneral(const KEY4FORM* f, const char* value, char* key) {
  std::vector<char> copy(value, value + f->valueLen);
  int rc = collate4wideKey(f->coll, copy.data(), f->valueLen, key);
  return rc < 0 ? rc : f->keyLen;
}

int FromLogical(const KEY4FORM*, const char* value, char* key) {
  key[0] = e4getInt(value) ? 'T' : 'F';
  return 1;
}

int FromNumber(const KEY4FORM*, const char* value, char* key) {
  key4double(e4getDouble(value), key);
  return 8;
}

int FromNumberText(const KEY4FORM* f, const char* value, char* key) {
  key4double(c4textToReal(value, f->valueLen), key);
  return 8;
}

int FromDateText(const KEY4FORM*, const char* value, char* key) {
  key4double(static_cast<double>(date4dayNumber(value)), key);
  return 8;
}

int FromDateTime(const KEY4FORM*, const char* value, char* key) {
  key4dateTime(value, key);
  return 8;
}

int FromInt64(const KEY4FORM*, const char* value, char* key) {
  key4int64(GetLittle64(value), key);
  return 8;
}

int FromInt(const KEY4FORM*, const char* value, char* key) {
  key4int32(e4getInt(value), key);
  return 4;
}

int FromShort(const KEY4FORM*, const char* value, char* key) {
  key4int32(static_cast<int16_t>(GetLittle16(value)), key);
  return 4;
}

int FromUnsigned(const KEY4FORM*, const char* value, char* key) {
  key4uint32(static_cast<uint32_t>(e4getInt(value)), key);
  return 4;
}

int FromUnsignedShort(const KEY4FORM*, const char* value, char* key) {
  key4uint32(GetLittle16(value), key);
  return 4;
}

int FromUnits3(const KEY4FORM*, const char* value, char* key) {
  Units16(value, 3, key);
  return 6;
}

int FromUnits7(const KEY4FORM*, const char* value, char* key) {
  Units16(value, 7, key);
  key[14] = 0;
  key[15] = 0;
  return 16;
}

// --- seek text -> key --------------------------------------------------------

// The text as a terminated string of at most `max` characters.
struct Text {
  char buf[128];
  Text(const char* text, int len, int max = 127) {
    if (len > max) len = max;
    if (len < 0) len = 0;
    std::memcpy(buf, text, len);
    buf[len] = 0;
  }
};

int TextCharMachine(const KEY4FORM* f, const char* text, int len, char* key) {
  if (len > f->keyLen) len = f->keyLen;
  std::memcpy(key, text, len);
  return len;
}

int TextCharGeneral(const KEY4FORM* f, const char* text, int len, char* key) {
  if (len > f->valueLen) len = f->valueLen;
  std::vector<char> copy(text, text + len);
  int rc = collate4charKey(f->coll, copy.data(), len, key);
  return rc < 0 ? rc : 2 * len;
}

int TextWideMachine(const KEY4FORM* f, const char* text, int len, char* key) {
  if (len > f->keyLen) len = f->keyLen;
  SwapUnits(text, len, key);
  return len;
}

int TextWideGeneral(const KEY4FORM* f, const char* text, int len, char* key) {
  if (len > f->valueLen) len = f->valueLen;
  std::vector<char> copy(text, text + len);
  int rc = collate4wideKey(f->coll, copy.data(), len, key);
  return rc < 0 ? rc : (f->coll->keyFactor + 1) * len;
}

int TextLogical(const KEY4FORM*, const char* text, int len, char* key) {
  key[0] = 'F';
  for (int i = 0; i < len; ++i) {
    char c = text[i];
    if (c == 'T' || c == 't' || c == 'Y' || c == 'y') {
      key[0] = 'T';
      break;
    }
    if (c == 'F' || c == 'f' || c == 'N' || c == 'n') break;
  }
  return 1;
}

int TextDate(const KEY4FORM*, const char* text, int len, char* key) {
  char date[8];
  std::memset(date, ' ', sizeof date);
  std::memcpy(date, text, len < 8 ? (len < 0 ? 0 : len) : 8);
  key4double(static_cast<double>(date4dayNumber(date)), key);
  return 8;
}

int TextNumber(const KEY4FORM*, const char* text, int len, char* key) {
  key4double(c4textToReal(text, len), key);
  return 8;
}

int TextInt(const KEY4FORM*, const char* text, int len, char* key) {
  Text t(text, len);
  long long v = std::strtoll(t.buf, nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  key4int32(static_cast<int32_t>(v), key);
  return 4;
}

int TextUnsigned(const KEY4FORM*, const char* text, int len, char* key) {
  Text t(text, len);
  long long v = std::strtoll(t.buf, nullptr, 10);
  if (v < 0) v = 0;
  if (v > UINT32_MAX) v = UINT32_MAX;
  key4uint32(static_cast<uint32_t>(v), key);
  return 4;
}

// Decimal text to the currency integer (value x 10000): blanks, a sign, at
// most 4 decimals kept (further ones dropped); too many digits saturate.
int64_t TextToCurrency(const char* text, int len) {
  int i = 0;
  while (i < len && text[i] == ' ') ++i;
  bool negative = false;
  if (i < len && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  bool overflow = false;
  for (; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > (INT64_MAX - 9) / 10) overflow = true;
    else v = v * 10 + (text[i] - '0');
  }
  int decimals = 0;
  if (i < len && text[i] == '.') {
    for (++i; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (decimals == 4) continue;
      if (v > (INT64_MAX - 9) / 10) overflow = true;
      else v = v * 10 + (text[i] - '0');
      ++decimals;
    }
  }
  for (; decimals < 4; ++decimals) {
    if (v > INT64_MAX / 10) overflow = true;
    else v *= 10;
  }
  if (overflow) return negative ? INT64_MIN : INT64_MAX;
  return negative ? -v : v;
}

int TextCurrency(const KEY4FORM*, const char* text, int len, char* key) {
  key4int64(TextToCurrency(text, len), key);
  return 8;
}

int TextInt64(const KEY4FORM*, const char* text, int len, char* key) {
  Text t(text, len);
  key4int64(std::strtoll(t.buf, nullptr, 10), key);
  return 8;
}

int TextDateTime(const KEY4FORM*, const char* text, int len, char* key) {
  if (len < 16) {
    std::memset(key, 0, 8);
    return 8;
  }
  long day = date4dayNumber(text);
  long ms = time4msValue(text + 8, len - 8);
  key4double(static_cast<double>(day) + static_cast<double>(ms) / 86400000.0, key);
  return 8;
}

// The number at [pos, pos + width) of the text (0 when outside it).
uint16_t TextField(const char* text, int len, int pos, int width) {
  if (pos >= len) return 0;
  if (pos + width > len) width = len - pos;
  Text t(text + pos, width);
  return static_cast<uint16_t>(std::atoi(t.buf));
}

int TextUnits2(const KEY4FORM*, const char* text, int len, char* key) {
  PutBig16(key, TextField(text, len, 0, 4));
  PutBig16(key + 2, TextField(text, len, 4, 2));
  PutBig16(key + 4, TextField(text, len, 6, 2));
  return 6;
}

int TextUnits3(const KEY4FORM*, const char* text, int len, char* key) {
  PutBig16(key, TextField(text, len, 0, 2));
  PutBig16(key + 2, TextField(text, len, 3, 2));
  PutBig16(key + 4, TextField(text, len, 6, 2));
  return 6;
}

int TextUnits7(const KEY4FORM*, const char* text, int len, char* key) {
  static const int kPos[7][2] = {{0, 4}, {4, 2}, {6, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 3}};
  for (int i = 0; i < 7; ++i) PutBig16(key + 2 * i, TextField(text, len, kPos[i][0], kPos[i][1]));
  key[14] = 0;
  key[15] = 0;
  return 16;
}

// --- seek number -> key ------------------------------------------------------

int DoubleNumber(const KEY4FORM*, double v, char* key) {
  key4double(v, key);
  return 8;
}

int DoubleInt(const KEY4FORM*, double v, char* key) {
  key4int32(engine4::e4toInt32(v), key);
  return 4;
}

int DoubleUnsigned(const KEY4FORM*, double v, char* key) {
  double t = std::trunc(v);
  uint32_t u = 0;
  if (t >= 4294967295.0) u = UINT32_MAX;
  else if (t > 0) u = static_cast<uint32_t>(t);
  key4uint32(u, key);
  return 4;
}

int DoubleCurrency(const KEY4FORM* f, double v, char* key) {
  char text[400];
  int n = std::snprintf(text, sizeof text, "%.4f", v);
  if (n < 0 || n >= static_cast<int>(sizeof text)) n = 0;
  return TextCurrency(f, text, n, key);
}

int DoubleInt64(const KEY4FORM*, double v, char* key) {
  key4int64(engine4::e4toInt64(v), key);
  return 8;
}

int DoubleUnits2(const KEY4FORM*, double v, char* key) {
  char date[8];
  date4assign(date, static_cast<long>(engine4::e4toInt32(v)));
  PutBig16(key, TextField(date, 8, 0, 4));
  PutBig16(key + 2, TextField(date, 8, 4, 2));
  PutBig16(key + 4, TextField(date, 8, 6, 2));
  return 6;
}

// --- comparison --------------------------------------------------------------

int CompareMachine(const KEY4FORM*, const void* stored, const void* search, int len) {
  return std::memcmp(stored, search, len);
}

// Length of the primary part: the leading bytes of value 0x10 or more.
int PrimaryLength(const unsigned char* k, int len) {
  int n = 0;
  while (n < len && k[n] >= 0x10) ++n;
  return n;
}

int CompareGeneral(const KEY4FORM*, const void* stored, const void* search, int len) {
  const unsigned char* a = static_cast<const unsigned char*>(stored);
  const unsigned char* b = static_cast<const unsigned char*>(search);
  int pa = PrimaryLength(a, len);
  int pb = PrimaryLength(b, len);
  int common = pa < pb ? pa : pb;
  int rc = std::memcmp(a, b, common);
  if (rc != 0) return rc;
  if (pa != pb) return pa < pb ? -1 : 1;
  return std::memcmp(a + pa, b + pb, len - pa);
}

bool IsCharType(char t) { return t == 'C'; }
bool IsWideType(char t) { return t == 'W' || t == 'O'; }

}  // namespace

// --- elementary forms --------------------------------------------------------

void key4double(double v, char* out8) {
  if (v == 0) v = 0.0;  // negative zero keys as zero
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  if (bits >> 63) bits = ~bits;
  else bits |= uint64_t{1} << 63;
  PutBig64(out8, bits);
}

void key4int32(int32_t v, char* out4) { PutBig32(out4, static_cast<uint32_t>(v) ^ 0x80000000u); }

void key4uint32(uint32_t v, char* out4) { PutBig32(out4, v); }

void key4int64(int64_t v, char* out8) {
  PutBig64(out8, static_cast<uint64_t>(v) ^ (uint64_t{1} << 63));
}

void key4dateTime(const char* value8, char* out8) { key4double(DateTimeNumber(value8), out8); }

// --- key forms ---------------------------------------------------------------

int key4len(char type, int valueLen, const COLLATE4* coll) {
  switch (type) {
    case 'C':
      return coll ? (coll->keyFactor + 1) * valueLen : valueLen;
    case 'W':
    case 'O':
      return coll ? (coll->keyFactor + 1) * valueLen : valueLen;
    case 'L':
      return 1;
    case 'n': case 'N': case 'd': case 'D': case 'T': case 'Y': case '1':
      return 8;
    case 'I': case 'Q': case 'P': case 'R':
      return 4;
    case '2': case '3':
      return 6;
    case '4':
      return 16;
    default:
      return e4info;
  }
}

int key4formKeyLen(const KEY4FORM* f) { return f->keyLen + (f->nullByte ? 1 : 0); }

int key4formInit(KEY4FORM* f, CODE4* c4, char type, int valueLen, int collation, int nullByte,
                 int varLen) {
  *f = KEY4FORM{};
  f->type = type;
  f->valueLen = valueLen;
  f->nullByte = nullByte ? 1 : 0;
  f->varLen = varLen && type == 'C' ? 1 : 0;
  f->compare = CompareMachine;
  if (collation == COLLATE4numMachine) collation = 0;
  bool text = IsCharType(type) || IsWideType(type);
  if (collation != 0 && text) {
    const COLLATE4* coll = collate4get(c4, collation, IsWideType(type));
    if (!coll) return e4notSupported;
    if (coll->type == COLLATE4machine) {
      collation = 0;
    } else if (coll->type != COLLATE4full) {
      error4reportAt(c4, e4notSupported, LOC4expr4keyLen, "unsupported collating sequence");
      return e4notSupported;
    } else {
      f->coll = coll;
    }
  } else {
    collation = 0;
  }
  f->collation = collation;
  int len = key4len(type, valueLen, f->coll);
  if (len < 0) return len;
  f->keyLen = len;
  f->pad = (IsCharType(type) && !f->coll) ? 0x20 : 0x00;

  switch (type) {
    case 'C':
      f->fromValue = f->coll ? FromCharGeneral : FromCharMachine;
      f->fromText = f->coll ? TextCharGeneral : TextCharMachine;
      if (f->coll) f->compare = CompareGeneral;
      break;
    case 'W':
    case 'O':
      f->fromValue = f->coll ? FromWideGeneral : FromWideMachine;
      f->fromText = f->coll ? TextWideGeneral : TextWideMachine;
      break;
    case 'L':
      f->fromValue = FromLogical;
      f->fromText = TextLogical;
      break;
    case 'n':
    case 'd':
      f->fromValue = FromNumber;
      f->fromText = type == 'd' ? TextDate : TextNumber;
      f->fromDouble = DoubleNumber;
      break;
    case 'N':
      f->fromValue = FromNumberText;
      f->fromText = TextNumber;
      f->fromDouble = DoubleNumber;
      break;
    case 'D':
      f->fromValue = FromDateText;
      f->fromText = TextDate;
      f->fromDouble = DoubleNumber;
      break;
    case 'T':
      f->fromValue = FromDateTime;
      f->fromText = TextDateTime;
      break;
    case 'Y':
      f->fromValue = FromInt64;
      f->fromText = TextCurrency;
      f->fromDouble = DoubleCurrency;
      break;
    case '1':
      f->fromValue = FromInt64;
      f->fromText = TextInt64;
      f->fromDouble = DoubleInt64;
      break;
    case 'I':
      f->fromValue = FromInt;
      f->fromText = TextInt;
      f->fromDouble = DoubleInt;
      break;
    case 'Q':
      f->fromValue = FromShort;
      f->fromText = TextInt;
      f->fromDouble = DoubleInt;
      break;
    case 'P':
      f->fromValue = FromUnsigned;
      f->fromText = TextUnsigned;
      f->fromDouble = DoubleUnsigned;
      break;
    case 'R':
      f->fromValue = FromUnsignedShort;
      f->fromText = TextUnsigned;
      f->fromDouble = DoubleUnsigned;
      break;
    case '2':
      f->fromValue = FromUnits3;
      f->fromText = TextUnits2;
      f->fromDouble = DoubleUnits2;
      break;
    case '3':
      f->fromValue = FromUnits3;
      f->fromText = TextUnits3;
      break;
    case '4':
      f->fromValue = FromUnits7;
      f->fromText = TextUnits7;
      break;
    default:
      return e4info;
  }
  return 0;
}

int key4fromValue(const KEY4FORM* f, const char* value, char* key) {
  return f->fromValue(f, value, key);
}

int key4fromText(const KEY4FORM* f, const char* text, int len, char* key) {
  if (len < 0) len = 0;
  return f->fromText(f, text, len, key);
}

int key4fromDouble(const KEY4FORM* f, double v, char* key) {
  if (!f->fromDouble) return e4seek;
  return f->fromDouble(f, v, key);
}

int key4compare(const KEY4FORM* f, const void* stored, const void* search, int len) {
  return f->compare(f, stored, search, len);
}

// --- ASCEND() and DESCEND() --------------------------------------------------

int collate4ascendLen(char type, int valueLen) {
  switch (type) {
    case '1': case 'T': case 'Y': case 'n': case 'd':
      return 8;
    case '2': case '3':
      return 6;
    case '4':
      return 16;
    case 'I': case 'Q': case 'P': case 'R':
      return 4;
    case 'L':
      return 1;
    default:
      return valueLen;  // C, N, D, W, O: as long as the value
  }
}

// A numeric field's text made to sort numerically: leading blanks and a
// leading minus become "0"; a negative number's characters c become 92 - c,
// which puts negative numbers before positive ones and larger magnitudes
// first.
static void AscendNumberText(const char* value, int len, char* out) {
  std::memcpy(out, value, len);
  bool negative = false;
  int i = 0;
  for (; i < len && out[i] == ' '; ++i) out[i] = '0';
  if (i < len && out[i] == '-') {
    negative = true;
    out[i] = '0';
  }
  if (!negative) return;
  for (int j = 0; j < len; ++j) out[j] = static_cast<char>(92 - out[j]);
}

void collate4ascend(char type, const char* value, int valueLen, char* out) {
  switch (type) {
    case '1':
    case 'Y':
      key4int64(GetLittle64(value), out);
      break;
    case '2':
    case '3':
      Units16(value, 3, out);
      break;
    case '4':
      Units16(value, 7, out);
      out[14] = 0;
      out[15] = 0;
      break;
    case 'I':
      key4int32(e4getInt(value), out);
      break;
    case 'Q':
      key4int32(static_cast<int16_t>(GetLittle16(value)), out);
      break;
    case 'P':
      key4uint32(static_cast<uint32_t>(e4getInt(value)), out);
      break;
    case 'R':
      key4uint32(GetLittle16(value), out);
      break;
    case 'L':
      out[0] = e4getInt(value) ? '1' : '0';
      break;
    case 'N':
      AscendNumberText(value, valueLen, out);
      break;
    case 'W':
    case 'O':
      SwapUnits(value, valueLen, out);
      break;
    case 'T':
      key4dateTime(value, out);
      break;
    case 'd':
      date4assign(out, static_cast<long>(engine4::e4toInt32(e4getDouble(value))));
      break;
    case 'n':
      key4double(e4getDouble(value), out);
      break;
    default:
      std::memmove(out, value, valueLen);
      break;
  }
}
