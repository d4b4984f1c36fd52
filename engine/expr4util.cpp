// Small helpers of the expression engine and the key conversion: clamping
// number conversions, the value type of a field, its null bit, and a quiet
// field lookup by name.
#include <cmath>
#include <cstdint>

#include "engine/data4.h"
#include "engine/expr4internal.h"

namespace engine4 {

int32_t e4toInt32(double v) {
  if (std::isnan(v)) return 0;
  double t = std::trunc(v);
  if (t >= 2147483647.0) return INT32_MAX;
  if (t <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(t);
}

int64_t e4toInt64(double v) {
  if (std::isnan(v)) return 0;
  double t = std::trunc(v);
  if (t >= 9223372036854775807.0) return INT64_MAX;
  if (t <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(t);
}

bool e4isMemoField(const COLUMN4* f) {
  return f->type == 'M' || f->type == 'G' || f->type == 'X';
}

char e4fieldValueType(const COLUMN4* f) {
  switch (f->type) {
    case 'C':
    case 'Z':
      return 'C';
    case 'N':
    case 'F':
      return 'N';
    case 'M':
    case 'G':
    case 'X':
      return 'C';
    case 'B':
      return 'n';
    case 'D': case 'L': case 'I': case 'Y': case 'T': case 'P': case 'Q': case 'R':
    case 'W': case 'O': case '1': case '2': case '3': case '4':
      return static_cast<char>(f->type);
    default:
      return 0;
  }
}

bool e4fieldIsNull(const COLUMN4* f) {
  if (!f->null) return false;
  const TABLE4* t = f->data;
  if (!t || !t->nullFlags || !t->record) return false;
  const COLUMN4* flags = t->nullFlags;
  int byte = f->nullBit / 8;
  if (byte >= flags->len) return false;
  unsigned char bits = static_cast<unsigned char>(t->record[flags->offset + byte]);
  return (bits >> (f->nullBit % 8)) & 1;
}

COLUMN4* e4fieldLookup(TABLE4* t, const char* name) {
  if (!t || !t->c4) return nullptr;
  CODE4* c4 = t->c4;
  int saved = c4->failFieldName;
  c4->failFieldName = 0;  // the caller reports a missing field its own way
  COLUMN4* f = d4field(t, name);
  c4->failFieldName = saved;
  return f;
}

}  // namespace engine4
