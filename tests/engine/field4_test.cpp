// Tests of the field operations on a real table: stores and reads of every
// type the portal uses, text formats (right alignment, fixed point, "*" on
// overflow), Z padding with zero bytes, currency and date-time texts, type
// errors (-930), the record-lock requirement (-50), the pending-error rule,
// null bits and the scratch text shared by f4str, f4currency and f4dateTime.
#include "engine/field4.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/engine.h"
#include "support/isolated_env.h"

namespace {

const FIELDSPEC4 kFields[] = {
    {"NAME", 'C', 5, 0, 0},      {"ZNAME", 'Z', 5, 0, 0},     {"AMOUNT", 'N', 8, 2, 0},
    {"N4", 'N', 4, 0, 0},        {"RATE", 'F', 6, 1, 0},      {"DAY", 'D', 8, 0, 0},
    {"FLAG", 'L', 1, 0, 0},      {"COUNT", 'I', 4, 0, 0},     {"REAL", 'B', 8, 2, 0},
    {"MONEY", 'Y', 8, 4, 0},     {"STAMP", 'T', 8, 0, 0},     {"NOTE", 'M', 4, 0, 0},
    {"BLOB", 'X', 4, 0, 0},      {"LONGC", 'C', 240, 0, 0},   {"OPT", 'N', 5, 0, STAT4NULLABLE},
    {nullptr, 0, 0, 0, 0},
};

// A version-0x30 table in a private directory, positioned on a record in
// preparation (d4appendStart), so stores need no lock.
class FieldTest : public testing::Test {
 protected:
  void SetUp() override {
    char buf[4096];
    oldCwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(0, chdir(env_.root().c_str()));
    ASSERT_EQ(0, code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1));
    c4.failOpen = 0;
    c4.failCreate = 0;
    c4.keepExisting = 0;
    c4.formatLevel = 30;
    c4.errorsSilent = 1;
    t = d4create(&c4, "FIELDS", kFields, nullptr);
    ASSERT_NE(t, nullptr) << "lastError " << c4.lastError;
    ASSERT_EQ(0, d4appendStart(t, 0));
  }
  void TearDown() override {
    if (t) d4close(t);
    code4initUndo(&c4);
    (void)chdir(oldCwd_.c_str());
  }
  COLUMN4* F(const char* name) {
    COLUMN4* f = d4field(t, name);
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  std::string Bytes(const char* name) {
    COLUMN4* f = F(name);
    return std::string(f4ptr(f), f4len(f));
  }
  // Takes the pending error and clears it.
  int TakeError() {
    int e = c4.lastError;
    c4.lastError = 0;
    return e;
  }

  testsupport::IsolatedEnv env_;
  std::string oldCwd_;
  CODE4 c4;
  TABLE4* t = nullptr;
};

std::string Le32(int32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return s;
}
std::string Le64(int64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
  return s;
}
std::string Z(const char* s, size_t n) { return std::string(s, n); }

// ---------------------------------------------------------------------------

TEST_F(FieldTest, ReportedTypesAndDescriptors) {
  struct Case {
    const char* name;
    int type;
    unsigned len;
    int dec;
  } cases[] = {
      {"NAME", 'C', 5, 0},  {"ZNAME", 'Z', 5, 0}, {"AMOUNT", 'N', 8, 2}, {"N4", 'N', 4, 0},
      {"RATE", 'N', 6, 1},
      {"DAY", 'D', 8, 0},   {"FLAG", 'L', 1, 0},  {"COUNT", 'I', 4, 0},  {"REAL", 'B', 8, 2},
      {"MONEY", 'Y', 8, 4}, {"STAMP", 'T', 8, 0}, {"NOTE", 'M', 4, 0},   {"BLOB", 'X', 4, 0},
      {"LONGC", 'C', 240, 0},
  };
  int number = 1;
  for (const Case& c : cases) {
    COLUMN4* f = F(c.name);
    EXPECT_EQ(f4type(f), c.type) << c.name;
    EXPECT_EQ(f4len(f), c.len) << c.name;
    EXPECT_EQ(f4decimals(f), c.dec) << c.name;
    EXPECT_EQ(f4number(f), number++) << c.name;
    EXPECT_STREQ(f4name(f), c.name);
  }
}

struct AssignCase {
  const char* field;
  const char* text;
  std::string expect;
};

TEST_F(FieldTest, AssignTextByType) {
  const AssignCase cases[] = {
      {"NAME", "ABC", "ABC  "},
      {"NAME", "ABCDEFG", "ABCDE"},
      {"NAME", "", "     "},
      {"ZNAME", "ABC", Z("ABC\0\0", 5)},  // Z fields pad with zero bytes
      {"ZNAME", "ABCDEFG", "ABCDE"},
      {"N4", "123456", "1234"},           // cut to the first field-length characters
      {"N4", "12", "  12"},               // right-aligned
      {"AMOUNT", "3.5", "     3.5"},      // stored as given, not reformatted
      {"RATE", "1.5", "   1.5"},
      {"DAY", "20010917", "20010917"},
      {"FLAG", "T", "T"},
      {"LONGC", "x", "x" + std::string(239, ' ')},
  };
  for (const AssignCase& c : cases) {
    ASSERT_EQ(f4assign(F(c.field), c.text), 0) << c.field;
    EXPECT_EQ(Bytes(c.field), c.expect) << c.field << " <- " << c.text;
  }
  EXPECT_EQ(c4.lastError, 0);
}

TEST_F(FieldTest, NcpyOfZeroPaddedField) {
  COLUMN4* z = F("ZNAME");
  ASSERT_EQ(f4assign(z, "ABC"), 0);
  char buf[21];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(f4ncpy(z, buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "ABC");
  EXPECT_EQ(buf[5], '\0');
  EXPECT_EQ(f4ncpy(z, buf, 3), 2u);
  EXPECT_STREQ(buf, "AB");
  buf[0] = '#';
  EXPECT_EQ(f4ncpy(z, buf, 0), 0u);
  EXPECT_EQ(buf[0], '#');
}

TEST_F(FieldTest, AssignNCopiesBytesAndBlanksTheRest) {
  COLUMN4* name = F("NAME");
  ASSERT_EQ(f4assignN(name, "AB\0CD", 5), 0);
  EXPECT_EQ(Bytes("NAME"), Z("AB\0CD", 5));
  ASSERT_EQ(f4assignN(name, "XYZ", 2), 0);
  EXPECT_EQ(Bytes("NAME"), "XY   ");
  ASSERT_EQ(f4assignN(F("ZNAME"), "Q", 1), 0);
  EXPECT_EQ(Bytes("ZNAME"), Z("Q\0\0\0\0", 5));
  ASSERT_EQ(f4assignN(name, nullptr, 0), 0);
  EXPECT_EQ(Bytes("NAME"), "     ");
}

TEST_F(FieldTest, BlankUsesZeroBytesForBinaryFields) {
  struct Case {
    const char* field;
    char fill;
  } cases[] = {{"NAME", ' '},  {"ZNAME", '\0'}, {"AMOUNT", ' '}, {"DAY", ' '},
               {"FLAG", ' '},  {"COUNT", '\0'}, {"REAL", '\0'},  {"MONEY", '\0'},
               {"STAMP", '\0'}, {"NOTE", '\0'}, {"LONGC", ' '}};
  for (const Case& c : cases) {
    COLUMN4* f = F(c.field);
    memset(f4ptr(f), 'q', f4len(f));
    ASSERT_EQ(f4blank(f), 0);
    EXPECT_EQ(Bytes(c.field), std::string(f4len(f), c.fill)) << c.field;
  }
}

struct IntCase {
  const char* field;
  int value;
  std::string expect;
  int readBack;
};

TEST_F(FieldTest, AssignIntStoresByType) {
  const IntCase cases[] = {
      {"COUNT", -7, Z("\xF9\xFF\xFF\xFF", 4), -7},
      {"COUNT", INT_MAX, Le32(INT_MAX), INT_MAX},
      {"N4", 42, "  42", 42},
      {"N4", -42, " -42", -42},
      {"N4", 123456, "****", 0},       // does not fit: a field of "*"
      {"N4", 0, "   0", 0},
      {"NAME", -42, "  -42", -42},     // text fields take right-aligned digits
      {"AMOUNT", 3, "    3.00", 3},    // decimals: through the fixed-point form
      {"RATE", -2, "  -2.0", -2},
      {"MONEY", 12, Le64(120000), 12},
  };
  for (const IntCase& c : cases) {
    COLUMN4* f = F(c.field);
    ASSERT_EQ(f4assignInt(f, c.value), 0) << c.field;
    EXPECT_EQ(Bytes(c.field), c.expect) << c.field << " <- " << c.value;
    EXPECT_EQ(f4int(f), c.readBack) << c.field;
  }
  ASSERT_EQ(f4assignInt(F("REAL"), 5), 0);
  EXPECT_DOUBLE_EQ(f4double(F("REAL")), 5.0);
  EXPECT_EQ(c4.lastError, 0);
}

// Each operation refuses its types with -930 and leaves the field alone.
TEST_F(FieldTest, TypeErrorsLeaveFieldUnchanged) {
  struct Case {
    const char* op;
    const char* field;
  } cases[] = {
      {"int", "DAY"},     {"int", "FLAG"},    {"int", "STAMP"},  {"int", "NOTE"},
      {"int", "BLOB"},    {"long", "FLAG"},   {"long", "STAMP"}, {"double", "FLAG"},
      {"double", "STAMP"}, {"char", "N4"},    {"char", "RATE"},  {"char", "DAY"},
      {"char", "COUNT"},  {"char", "MONEY"},  {"char", "NOTE"},  {"char", "REAL"},
      {"char", "STAMP"},  {"currency", "N4"}, {"datetime", "DAY"},
  };
  for (const Case& c : cases) {
    COLUMN4* f = F(c.field);
    memset(f4ptr(f), 'q', f4len(f));
    std::string before = Bytes(c.field);
    std::string op = c.op;
    int rc = op == "int"        ? f4assignInt(f, 1)
             : op == "long"     ? f4assignLong(f, 1)
             : op == "double"   ? f4assignDouble(f, 1.0)
             : op == "char"     ? f4assignChar(f, 'T')
             : op == "currency" ? f4assignCurrency(f, "1")
                                : f4dateTimeAssign(f, "2001091712:00:00");
    EXPECT_EQ(rc, e4parm) << c.op << " on " << c.field;
    EXPECT_EQ(TakeError(), e4parm) << c.op << " on " << c.field;
    EXPECT_EQ(Bytes(c.field), before) << c.op << " on " << c.field;
  }
  // Readers answer -1 or null for their refused types.
  struct ReadCase {
    const char* op;
    const char* field;
  } reads[] = {{"int", "DAY"},  {"int", "FLAG"},   {"int", "NOTE"},  {"long", "FLAG"},
               {"long", "STAMP"}, {"currency", "N4"}, {"datetime", "NAME"}};
  for (const ReadCase& r : reads) {
    COLUMN4* f = F(r.field);
    std::string op = r.op;
    bool failed = op == "int"        ? f4int(f) == -1
                  : op == "long"     ? f4long(f) == -1
                  : op == "currency" ? f4currency(f, 2) == nullptr
                                     : f4dateTime(f) == nullptr;
    EXPECT_TRUE(failed) << r.op << " on " << r.field;
    EXPECT_EQ(TakeError(), e4parm) << r.op << " on " << r.field;
  }
}

TEST_F(FieldTest, AssignLongDatesIntegersAndMemoNumbers) {
  COLUMN4* day = F("DAY");
  ASSERT_EQ(f4assignLong(day, 2451545), 0);
  EXPECT_EQ(Bytes("DAY"), "20000101");
  EXPECT_EQ(f4long(day), 2451545);
  ASSERT_EQ(f4assignLong(day, 0), 0);
  EXPECT_EQ(Bytes("DAY"), "        ");
  EXPECT_EQ(f4long(day), 0);           // no date
  memcpy(f4ptr(day), "00000000", 8);
  EXPECT_EQ(f4long(day), 0);
  memcpy(f4ptr(day), "20000230", 8);
  EXPECT_EQ(f4long(day), -1);          // not a date

  ASSERT_EQ(f4assignLong(F("COUNT"), -123456), 0);
  EXPECT_EQ(f4long(F("COUNT")), -123456);
  ASSERT_EQ(f4assignLong(F("COUNT"), 5000000000L), 0);  // beyond 32 bits: the limit
  EXPECT_EQ(f4long(F("COUNT")), INT_MAX);
  ASSERT_EQ(f4assignLong(F("N4"), -999), 0);
  EXPECT_EQ(Bytes("N4"), "-999");
  ASSERT_EQ(f4assignLong(F("N4"), 10000), 0);
  EXPECT_EQ(Bytes("N4"), "****");
  ASSERT_EQ(f4assignLong(F("AMOUNT"), -12), 0);
  EXPECT_EQ(Bytes("AMOUNT"), "  -12.00");
  ASSERT_EQ(f4assignLong(F("NOTE"), 17), 0);  // a 4-byte memo block number
  EXPECT_EQ(Bytes("NOTE"), Le32(17));
  EXPECT_EQ(f4long(F("NOTE")), 17);
  ASSERT_EQ(f4assignLong(F("MONEY"), 3), 0);
  EXPECT_EQ(Bytes("MONEY"), Le64(30000));
}

struct DoubleCase {
  const char* field;
  double value;
  std::string expect;
  int rc;
};

TEST_F(FieldTest, AssignDoubleFormatsAndOverflows) {
  const DoubleCase cases[] = {
      {"AMOUNT", 3.5, "    3.50", 0},
      {"AMOUNT", -0.5, "   -0.50", 0},
      {"AMOUNT", 12345.678, "12345.68", 0},
      {"AMOUNT", 123456.7, "********", e4overflow},
      {"N4", 2.5, "   2", 0},         // rounded as the C library rounds (to even)
      {"N4", -3.7, "  -4", 0},
      {"RATE", 0.25, "   0.2", 0},
      {"COUNT", -7.9, Le32(-7), 0},   // truncated towards zero
      {"COUNT", 1e12, Le32(INT_MAX), 0},
      {"DAY", 2451545.9, "20000101", 0},
      {"DAY", -3.0, "        ", 0},
      {"MONEY", 12.34567, Le64(123457), 0},  // four decimals, rounded
      {"MONEY", -0.00004, Le64(0), 0},
      {"NOTE", 9.0, Le32(9), 0},      // binary block number, never text
  };
  for (const DoubleCase& c : cases) {
    EXPECT_EQ(f4assignDouble(F(c.field), c.value), c.rc) << c.field << " <- " << c.value;
    EXPECT_EQ(Bytes(c.field), c.expect) << c.field << " <- " << c.value;
  }
  EXPECT_EQ(c4.lastError, 0) << "overflow is not reported";
  COLUMN4* real = F("REAL");
  ASSERT_EQ(f4assignDouble(real, -2.25), 0);
  EXPECT_DOUBLE_EQ(f4double(real), -2.25);
  EXPECT_EQ(f4int(real), -2);
  EXPECT_EQ(f4long(real), -2);
  // A currency too large for its 20-character text leaves the field alone.
  COLUMN4* money = F("MONEY");
  ASSERT_EQ(f4assignCurrency(money, "1.5"), 0);
  EXPECT_LT(f4assignDouble(money, 1e16), 0);
  EXPECT_STREQ(f4currency(money, 4), "1.5000");
}

TEST_F(FieldTest, AssignCharAndTrue) {
  COLUMN4* flag = F("FLAG");
  struct Case {
    char ch;
    int truth;
  } cases[] = {{'T', 1}, {'t', 1}, {'Y', 1}, {'y', 1}, {'F', 0}, {'N', 0}, {'?', 0}, {' ', 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(f4assignChar(flag, c.ch), 0);
    EXPECT_EQ(Bytes("FLAG"), std::string(1, c.ch));
    EXPECT_EQ(f4true(flag), c.truth) << c.ch;
  }
  EXPECT_EQ(c4.lastError, 0);
  ASSERT_EQ(f4assignChar(F("NAME"), 'x'), 0);
  EXPECT_EQ(Bytes("NAME"), "x    ");
  ASSERT_EQ(f4assignChar(F("ZNAME"), 'x'), 0);
  EXPECT_EQ(Bytes("ZNAME"), Z("x\0\0\0\0", 5));
  // f4true on a field that is not logical reports -930 and still answers.
  ASSERT_EQ(f4assign(F("NAME"), "Yes"), 0);
  EXPECT_EQ(f4true(F("NAME")), 1);
  EXPECT_EQ(TakeError(), e4parm);
  ASSERT_EQ(f4assign(F("NAME"), "no"), 0);
  EXPECT_EQ(f4true(F("NAME")), 0);
  EXPECT_EQ(TakeError(), e4parm);
}

struct ReadTextCase {
  const char* field;
  const char* stored;
  int asInt;
  long asLong;
  double asDouble;
};

TEST_F(FieldTest, NumbersReadFromText) {
  const ReadTextCase cases[] = {
      {"AMOUNT", "  -12.75", -12, -12, -12.75},
      {"AMOUNT", "        ", 0, 0, 0.0},
      {"N4", "  17", 17, 17, 17.0},
      {"N4", "****", 0, 0, 0.0},
      {"NAME", "42abc", 42, 42, 42.0},
      {"RATE", "  99.9", 99, 99, 99.9},
  };
  for (const ReadTextCase& c : cases) {
    COLUMN4* f = F(c.field);
    memcpy(f4ptr(f), c.stored, f4len(f));
    EXPECT_EQ(f4int(f), c.asInt) << c.field << " " << c.stored;
    EXPECT_EQ(f4long(f), c.asLong) << c.field << " " << c.stored;
    EXPECT_DOUBLE_EQ(f4double(f), c.asDouble) << c.field << " " << c.stored;
  }
  memcpy(f4ptr(F("DAY")), "20000101", 8);
  EXPECT_DOUBLE_EQ(f4double(F("DAY")), 2451545.0);
  EXPECT_EQ(c4.lastError, 0);
}

struct CurrencyCase {
  const char* text;
  int rc;
  int64_t stored;
  const char* dec4;
  const char* dec2;
  const char* dec0;
};

TEST_F(FieldTest, CurrencyTextBothWays) {
  const CurrencyCase cases[] = {
      {"123.4567", 0, 1234567, "123.4567", "123.45", "123"},  // cut, not rounded
      {"-0.5", 0, -5000, "-0.5000", "-0.50", "-0"},
      {"  +7", 0, 70000, "7.0000", "7.00", "7"},
      {"0.0001", 0, 1, "0.0001", "0.00", "0"},
      {"0000000000000000000001.5", 0, 15000, "1.5000", "1.50", "1"},  // leading zeros skipped
      {"922337203685477.5807", 0, INT64_MAX, "922337203685477.5807", "922337203685477.58",
       "922337203685477"},
      {"-922337203685477.5808", 0, INT64_MIN, "-922337203685477.5808", "-922337203685477.58",
       "-922337203685477"},
      {"", 0, 0, "0.0000", "0.00", "0"},
  };
  COLUMN4* money = F("MONEY");
  for (const CurrencyCase& c : cases) {
    ASSERT_EQ(f4assignCurrency(money, c.text), c.rc) << c.text;
    EXPECT_EQ(Bytes("MONEY"), Le64(c.stored)) << c.text;
    EXPECT_STREQ(f4currency(money, 4), c.dec4) << c.text;
    EXPECT_STREQ(f4currency(money, 2), c.dec2) << c.text;
    EXPECT_STREQ(f4currency(money, 0), c.dec0) << c.text;
  }
  ASSERT_EQ(f4assignCurrency(money, "-5.5"), 0);
  EXPECT_EQ(f4int(money), -5);
  EXPECT_EQ(f4long(money), -5);
  EXPECT_DOUBLE_EQ(f4double(money), -5.5);
}

TEST_F(FieldTest, CurrencyOutsideLimitsLeavesFieldUnchanged) {
  COLUMN4* money = F("MONEY");
  ASSERT_EQ(f4assignCurrency(money, "42"), 0);
  const char* bad[] = {
      "1.23456",               // five decimals
      "12345678901234567",     // seventeen digits before the point
      "9999999999999999",      // sixteen digits, but beyond the 64-bit value
      "922337203685477.5808",  // one past the largest value
  };
  for (const char* text : bad) {
    EXPECT_EQ(f4assignCurrency(money, text), -1) << text;
    EXPECT_EQ(Bytes("MONEY"), Le64(420000)) << text;
  }
  EXPECT_EQ(c4.lastError, 0) << "limits are not reported";
  EXPECT_EQ(f4currency(money, 5), nullptr);
  EXPECT_EQ(TakeError(), e4parm);
  EXPECT_EQ(f4currency(money, -1), nullptr);
  EXPECT_EQ(TakeError(), e4parm);
}

struct DateTimeCase {
  const char* text;
  int32_t day;
  int32_t ms;
  const char* shown;
};

TEST_F(FieldTest, DateTimeStoreAndText) {
  const DateTimeCase cases[] = {
      {"2001091717:57:15", 2452170, 64635000, "2001091717:57:15.000"},
      {"2000010112:34:56.789", 2451545, 45296789, "2000010112:34:56.789"},
      {"20000101", 2451545, 0, "2000010100:00:00.000"},           // missing groups are 0
      {"2000010112-00-01", 2451545, 43201000, "2000010112:00:01.000"},  // any separators
      {"        12:00:00", 0, 43200000, "        12:00:00.000"},  // no date
      {"0000000012:00:00", 0, 43200000, "        12:00:00.000"},
      {"2001130112:00:00", -1, 43200000, "        12:00:00.000"},  // invalid: reads as no date
      {"2001", -1, 0, "        00:00:00.000"},
  };
  COLUMN4* stamp = F("STAMP");
  for (const DateTimeCase& c : cases) {
    ASSERT_EQ(f4dateTimeAssign(stamp, c.text), 0) << c.text;
    EXPECT_EQ(Bytes("STAMP"), Le32(c.day) + Le32(c.ms)) << c.text;
    const char* shown = f4dateTime(stamp);
    ASSERT_NE(shown, nullptr);
    EXPECT_STREQ(shown, c.shown) << c.text;
  }
  // The application's value: today's date and the time, 16 characters.
  char now[17];
  date4current(now);
  time4current(now + 8);
  now[16] = 0;
  ASSERT_EQ(f4dateTimeAssign(stamp, now), 0);
  EXPECT_EQ(std::string(f4dateTime(stamp)), std::string(now) + ".000");
}

TEST_F(FieldTest, StrReturnsWholeFieldInReusedScratchText) {
  COLUMN4* longc = F("LONGC");
  ASSERT_EQ(f4assign(longc, "head"), 0);
  const char* s = f4str(longc);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(strlen(s), 240u);  // trailing blanks kept
  EXPECT_EQ(std::string(s, 4), "head");
  EXPECT_EQ(s[241], '\0');     // two zero bytes follow

  ASSERT_EQ(f4assign(F("NAME"), "ABC"), 0);
  ASSERT_EQ(f4assign(F("N4"), "12"), 0);
  const char* first = f4str(F("NAME"));
  std::string firstText = first;
  const char* second = f4str(F("N4"));
  EXPECT_EQ(firstText, "ABC  ");
  EXPECT_EQ(first, second) << "one scratch text per context";
  EXPECT_STREQ(first, "  12") << "the second call overwrites the first text";
  // f4currency and f4dateTime share it too.
  ASSERT_EQ(f4assignCurrency(F("MONEY"), "1.25"), 0);
  EXPECT_EQ(f4currency(F("MONEY"), 2), first);
  EXPECT_STREQ(first, "1.25");
}

TEST_F(FieldTest, ChangesMarkRecordAndClearNullBit) {
  COLUMN4* opt = F("OPT");
  COLUMN4* nulls = F("_NullFlags");
  ASSERT_NE(nulls, nullptr);
  EXPECT_EQ(f4null(opt), 0);
  EXPECT_EQ(f4null(F("NAME")), 0);  // not nullable
  // Set the field's null bit by hand, as a record read from disk could have it.
  f4ptr(nulls)[opt->nullBit / 8] |= static_cast<char>(1 << (opt->nullBit % 8));
  EXPECT_EQ(f4null(opt), 1);
  d4changed(t, 0);
  ASSERT_EQ(f4assignLong(opt, 5), 0);
  EXPECT_EQ(Bytes("OPT"), "    5");
  EXPECT_EQ(f4null(opt), 0);
  EXPECT_EQ(d4changed(t, -1), 1);
  d4changed(t, 0);
  ASSERT_NE(f4assignPtr(F("NAME")), nullptr);
  EXPECT_EQ(d4changed(t, -1), 1);
}

TEST_F(FieldTest, PendingErrorStopsChangesButNotPtrOrDateTime) {
  ASSERT_EQ(f4assign(F("NAME"), "keep"), 0);
  c4.lastError = e4data;
  EXPECT_EQ(f4assign(F("NAME"), "lost"), -1);
  EXPECT_EQ(f4assignInt(F("N4"), 5), -1);
  EXPECT_EQ(f4blank(F("NAME")), -1);
  EXPECT_EQ(Bytes("NAME"), "keep ");
  // These two do not look at the pending error.
  EXPECT_EQ(f4dateTimeAssign(F("STAMP"), "2000010100:00:01"), 0);
  EXPECT_EQ(Bytes("STAMP"), Le32(2451545) + Le32(1000));
  EXPECT_NE(f4assignPtr(F("NAME")), nullptr);
  // Reading still works.
  EXPECT_STREQ(f4str(F("NAME")), "keep ");
  EXPECT_EQ(c4.lastError, e4data);
  c4.lastError = 0;
}

TEST_F(FieldTest, NullColumnIsReported) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(f4assign(nullptr, "x"), e4parmNull);
  EXPECT_EQ(f4assignInt(nullptr, 1), e4parmNull);
  EXPECT_EQ(f4str(nullptr), nullptr);
  EXPECT_EQ(f4int(nullptr), -1);
  EXPECT_EQ(f4long(nullptr), -1);
  EXPECT_EQ(f4ptr(nullptr), nullptr);
  EXPECT_EQ(f4len(nullptr), 0u);
  EXPECT_EQ(f4dateTime(nullptr), nullptr);
  EXPECT_EQ(f4assign(F("NAME"), nullptr), e4parmNull);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("-935"), std::string::npos);
  EXPECT_NE(err.find("-930"), std::string::npos) << "f4dateTime reports -930";
  EXPECT_EQ(c4.lastError, 0) << "reported without the context";
}

// With requireRecordLock a store on a record that is not locked fails with
// -50 and changes nothing; once the record is locked the store goes through.
TEST_F(FieldTest, RequireRecordLock) {
  ASSERT_EQ(f4assign(F("NAME"), "one"), 0);
  ASSERT_EQ(d4append(t), 0);
  ASSERT_EQ(d4unlock(t), 0);
  ASSERT_EQ(d4go(t, 1), 0);
  c4.requireRecordLock = 1;
  const struct {
    const char* what;
    int (*op)(COLUMN4*);
  } stores[] = {
      {"f4assign", [](COLUMN4* f) { return f4assign(f, "two"); }},
      {"f4assignN", [](COLUMN4* f) { return f4assignN(f, "two", 3); }},
      {"f4assignChar", [](COLUMN4* f) { return f4assignChar(f, 'x'); }},
      {"f4assignInt", [](COLUMN4* f) { return f4assignInt(f, 2); }},
      {"f4assignLong", [](COLUMN4* f) { return f4assignLong(f, 2); }},
      {"f4assignDouble", [](COLUMN4* f) { return f4assignDouble(f, 2.0); }},
      {"f4blank", [](COLUMN4* f) { return f4blank(f); }},
  };
  for (const auto& s : stores) {
    EXPECT_EQ(s.op(F("NAME")), e4lock) << s.what;
    EXPECT_EQ(TakeError(), e4lock) << s.what;
    EXPECT_EQ(Bytes("NAME"), "one  ") << s.what;
  }
  EXPECT_EQ(d4changed(t, -1), 0);
  ASSERT_EQ(d4lock(t, 1), 0);
  EXPECT_EQ(f4assign(F("NAME"), "two"), 0);
  EXPECT_EQ(Bytes("NAME"), "two  ");
  ASSERT_EQ(d4unlock(t), 0);  // writes the record
  c4.requireRecordLock = 0;
  ASSERT_EQ(d4go(t, 1), 0);
  EXPECT_EQ(Bytes("NAME"), "two  ");
}

// Values stored through the field operations survive a write and reopen.
TEST_F(FieldTest, StoredValuesSurviveReopen) {
  ASSERT_EQ(f4assign(F("NAME"), "ABC"), 0);
  ASSERT_EQ(f4assign(F("ZNAME"), "ABC"), 0);
  ASSERT_EQ(f4assignInt(F("COUNT"), -7), 0);
  ASSERT_EQ(f4assignDouble(F("AMOUNT"), 3.5), 0);
  ASSERT_EQ(f4assignChar(F("FLAG"), 'T'), 0);
  ASSERT_EQ(f4dateTimeAssign(F("STAMP"), "2001091717:57:15"), 0);
  ASSERT_EQ(f4assignCurrency(F("MONEY"), "-1.5"), 0);
  ASSERT_EQ(d4append(t), 0);
  ASSERT_EQ(d4close(t), 0);
  t = d4open(&c4, "fields");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(d4go(t, 1), 0);
  EXPECT_EQ(Bytes("NAME"), "ABC  ");
  EXPECT_EQ(Bytes("ZNAME"), Z("ABC\0\0", 5));
  EXPECT_EQ(f4int(F("COUNT")), -7);
  EXPECT_EQ(Bytes("AMOUNT"), "    3.50");
  EXPECT_EQ(f4true(F("FLAG")), 1);
  EXPECT_STREQ(f4dateTime(F("STAMP")), "2001091717:57:15.000");
  EXPECT_STREQ(f4currency(F("MONEY"), 4), "-1.5000");
  EXPECT_EQ(c4.lastError, 0);
}

// In a classic table a memo block number is 10 characters of text and no
// field is binary, so blanking gives blanks everywhere.
TEST(ClassicFieldTest, MemoNumbersAreTextAndBlanksAreBlanks) {
  testsupport::IsolatedEnv env;
  char buf[4096];
  std::string oldCwd = getcwd(buf, sizeof buf) ? buf : "/";
  ASSERT_EQ(0, chdir(env.root().c_str()));
  CODE4 c4;
  ASSERT_EQ(0, code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1));
  c4.errorsSilent = 1;
  const FIELDSPEC4 fields[] = {
      {"NAME", 'C', 5, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {"N6", 'N', 6, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "CLASSIC", fields, nullptr);
  ASSERT_NE(t, nullptr) << c4.lastError;
  ASSERT_EQ(d4appendStart(t, 0), 0);
  COLUMN4* note = d4field(t, "NOTE");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(f4len(note), 10u);
  memset(f4ptr(note), 'q', 10);
  ASSERT_EQ(f4blank(note), 0);
  EXPECT_EQ(std::string(f4ptr(note), 10), "          ");
  ASSERT_EQ(f4assignLong(note, 17), 0);
  EXPECT_EQ(std::string(f4ptr(note), 10), "        17");
  EXPECT_EQ(f4long(note), 17);
  ASSERT_EQ(f4assignDouble(note, 9.0), 0);
  EXPECT_EQ(std::string(f4ptr(note), 10), "         9");
  COLUMN4* n6 = d4field(t, "N6");
  ASSERT_EQ(f4assignDouble(n6, -1234.5), 0);  // no decimals: rounded to even
  EXPECT_EQ(std::string(f4ptr(n6), 6), " -1234");
  EXPECT_EQ(c4.lastError, 0);
  d4close(t);
  code4initUndo(&c4);
  (void)chdir(oldCwd.c_str());
}

}  // namespace
