// Collation and key conversion: the key bytes of every result type, the seek
// text and seek number conversions, the "GENERAL" weight tables and their
// properties, the choice of a tag's collation, and collation 4 loaded from
// the collation tables.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "expr4_tables.h"

namespace {

using expr4test::Bytes;
using expr4test::Context;
using expr4test::Hex;

std::string KeyOf(char type, const std::string& value, int collation = 0) {
  KEY4FORM f;
  int rc = key4formInit(&f, nullptr, type, static_cast<int>(value.size()), collation, 0, 0);
  if (rc < 0) return "init " + std::to_string(rc);
  std::vector<char> key(f.keyLen + 1);
  rc = key4fromValue(&f, value.data(), key.data());
  if (rc < 0) return "error " + std::to_string(rc);
  return Hex(key.data(), rc);
}

std::string Raw(const void* p, int n) { return std::string(static_cast<const char*>(p), n); }
std::string Int32(int32_t v) { return Raw(&v, 4); }
std::string Int64(int64_t v) { return Raw(&v, 8); }
std::string Double(double v) { return Raw(&v, 8); }
std::string DateTime(int32_t day, int32_t ms) { return Int32(day) + Int32(ms); }
std::string Units(std::vector<uint16_t> u) { return Raw(u.data(), 2 * static_cast<int>(u.size())); }

struct KeyCase {
  char type;
  std::string value;
  const char* key;
};

TEST(KeyForms, KeyBytesOfEveryType) {
  const std::vector<KeyCase> cases = {
      {'I', Int32(1), "80000001"},
      {'I', Int32(-1), "7FFFFFFF"},
      {'I', Int32(0), "80000000"},
      {'I', Int32(INT32_MIN), "00000000"},
      {'n', Double(0.0), "8000000000000000"},
      {'n', Double(1.0), "BFF0000000000000"},
      {'n', Double(-1.0), "400FFFFFFFFFFFFF"},
      {'n', Double(-0.0), "8000000000000000"},  // negative zero keys as zero
      {'d', Double(2451545), "C142B42C80000000"},
      {'D', "20000101", "C142B42C80000000"},
      {'D', "        ", "8000000000000000"},
      {'N', "     -1.00", "400FFFFFFFFFFFFF"},
      {'N', "     99999", "C0F869F000000000"},
      {'T', DateTime(2451545, 0), "C142B42C80000000"},  // equals the n key of the day
      {'T', DateTime(2451545, 43200000), "C142B42CC0000000"},
      {'T', DateTime(0, 0), "8000000000000000"},
      {'Y', Int64(25000), "80000000000061A8"},
      {'Y', Int64(-10000), "7FFFFFFFFFFFD8F0"},
      {'1', Int64(1), "8000000000000001"},
      {'L', Int32(1), "54"},
      {'L', Int32(0), "46"},
      {'Q', Raw("\xFE\xFF", 2) + Raw("\0\0", 2), "7FFFFFFE"},
      {'R', Raw("\xFF\xFF", 2) + Raw("\0\0", 2), "0000FFFF"},
      {'P', Int32(-1), "FFFFFFFF"},
      {'P', Int32(5), "00000005"},
      {'2', Units({2001, 9, 17}), "07D100090011"},
      {'3', Units({12, 34, 56}), "000C00220038"},
      {'4', Units({2001, 9, 17, 12, 34, 56, 789}) + Raw("\x01\x02", 2),
       "07D100090011000C00220038031500"
       "00"},
      {'C', "ab ", "616220"},
      {'W', Raw("A\0B\0", 4), "00410042"},
  };
  for (const KeyCase& c : cases) EXPECT_EQ(KeyOf(c.type, c.value), c.key) << c.type;
}

TEST(KeyForms, NumericKeysSortLikeTheirValues) {
  const double values[] = {-1e300, -12.5, -1, -0.25, 0, 1e-300, 0.25, 1, 12.5, 1e300};
  std::string prev;
  for (double v : values) {
    std::string k = KeyOf('n', Double(v));
    if (!prev.empty()) {
      EXPECT_LT(prev, k) << v;
    }
    prev = k;
  }
  const int32_t ints[] = {INT32_MIN, -100, -1, 0, 1, 100, INT32_MAX};
  prev.clear();
  for (int32_t v : ints) {
    std::string k = KeyOf('I', Int32(v));
    if (!prev.empty()) {
      EXPECT_LT(prev, k) << v;
    }
    prev = k;
  }
}

TEST(KeyForms, LengthsAndPadBytes) {
  struct Case {
    char type;
    int valueLen, collation, keyLen, pad;
  };
  const std::vector<Case> cases = {
      {'C', 21, 0, 21, 0x20}, {'C', 21, 1, 21, 0x20}, {'C', 21, 2, 42, 0}, {'C', 10, 3, 20, 0},
      {'I', 4, 0, 4, 0},      {'L', 4, 0, 1, 0},      {'T', 8, 0, 8, 0},   {'n', 8, 0, 8, 0},
      {'N', 10, 0, 8, 0},     {'D', 8, 0, 8, 0},      {'Y', 8, 0, 8, 0},   {'Q', 4, 0, 4, 0},
      {'2', 6, 0, 6, 0},      {'4', 16, 0, 16, 0},    {'I', 4, 2, 4, 0},   {'W', 8, 0, 8, 0},
      {'W', 8, 2, 16, 0},
  };
  for (const Case& c : cases) {
    KEY4FORM f;
    ASSERT_EQ(key4formInit(&f, nullptr, c.type, c.valueLen, c.collation, 0, 0), 0) << c.type;
    EXPECT_EQ(f.keyLen, c.keyLen) << c.type << c.collation;
    EXPECT_EQ(f.pad, c.pad) << c.type << c.collation;
  }
  KEY4FORM f;
  EXPECT_EQ(key4formInit(&f, nullptr, 'X', 4, 0, 0, 0), e4info);
  ASSERT_EQ(key4formInit(&f, nullptr, 'I', 4, 0, 1, 0), 0);
  EXPECT_EQ(key4formKeyLen(&f), 5);
}

TEST(KeyForms, VariableLengthTextHasItsZerosBlanked) {
  KEY4FORM f;
  ASSERT_EQ(key4formInit(&f, nullptr, 'C', 5, 0, 0, 1), 0);
  char key[8];
  ASSERT_EQ(key4fromValue(&f, std::string("ab\0\0\0", 5).data(), key), 5);
  EXPECT_EQ(std::string(key, 5), "ab   ");
}

struct SeekCase {
  char type;
  int valueLen;
  const char* text;
  const char* key;
};

TEST(KeyForms, SeekTextConversions) {
  const std::vector<SeekCase> cases = {
      {'C', 4, "ab", "6162"},
      {'C', 4, "abcdef", "61626364"},  // cut to the key length
      {'I', 4, "42", "8000002A"},
      {'I', 4, "-1", "7FFFFFFF"},
      {'Q', 4, "-2", "7FFFFFFE"},
      {'P', 4, "-5", "00000000"},
      {'R', 4, "7", "00000007"},
      {'L', 4, "yes", "54"},
      {'L', 4, "  no", "46"},
      {'L', 4, "xyz", "54"},  // the "y"
      {'L', 4, "?", "46"},
      {'L', 4, "at", "54"},
      {'D', 8, "20000101", "C142B42C80000000"},
      {'d', 8, "        ", "8000000000000000"},
      {'N', 10, "-1", "400FFFFFFFFFFFFF"},
      {'n', 8, "1", "BFF0000000000000"},
      {'T', 8, "2000010112:00:00", "C142B42CC0000000"},
      {'T', 8, "2000010112:00:00.000", "C142B42CC0000000"},
      {'T', 8, "20000101", "0000000000000000"},  // shorter than 16 characters
      {'Y', 8, "2.5", "80000000000061A8"},
      {'Y', 8, "-1", "7FFFFFFFFFFFD8F0"},
      {'1', 8, "-1", "7FFFFFFFFFFFFFFF"},
      {'2', 6, "20010917", "07D100090011"},
      {'3', 6, "12:34:56", "000C00220038"},
      {'4', 16, "2001091712:34:56.789", "07D100090011000C0022003803150000"},
  };
  for (const SeekCase& c : cases) {
    KEY4FORM f;
    ASSERT_EQ(key4formInit(&f, nullptr, c.type, c.valueLen, 0, 0, 0), 0);
    char key[64];
    int n = key4fromText(&f, c.text, static_cast<int>(std::strlen(c.text)), key);
    EXPECT_EQ(Hex(key, n), c.key) << c.type << " " << c.text;
  }
}

TEST(KeyForms, SeekNumberConversions) {
  struct Case {
    char type;
    double v;
    const char* key;
  };
  const std::vector<Case> cases = {
      {'n', -1, "400FFFFFFFFFFFFF"}, {'N', 1, "BFF0000000000000"}, {'D', 2451545, "C142B42C80000000"},
      {'I', 42.9, "8000002A"},       {'I', -1.9, "7FFFFFFF"},      {'Q', 1e12, "FFFFFFFF"},
      {'P', -3, "00000000"},         {'R', 7.5, "00000007"},       {'Y', 1.23456, "800000000000303A"},
      {'1', -1, "7FFFFFFFFFFFFFFF"}, {'2', 2451545, "07D000010001"},
  };
  for (const Case& c : cases) {
    KEY4FORM f;
    ASSERT_EQ(key4formInit(&f, nullptr, c.type, 8, 0, 0, 0), 0);
    char key[16];
    int n = key4fromDouble(&f, c.v, key);
    EXPECT_EQ(Hex(key, n), c.key) << c.type << " " << c.v;
  }
  for (char type : {'C', 'W', 'L', 'T', '3', '4'}) {
    KEY4FORM f;
    ASSERT_EQ(key4formInit(&f, nullptr, type, 8, 0, 0, 0), 0);
    char key[16];
    EXPECT_EQ(key4fromDouble(&f, 1, key), e4seek) << type;
  }
}

// --- GENERAL collations --------------------------------------------------------

const unsigned char* Weights(int number) { return collate4get(nullptr, number)->weights; }

TEST(GeneralCollation, TellingRowsOfTheWeightTable) {
  struct Row {
    int code, primary, secondary;
  };
  const std::vector<Row> rows = {
      {0x00, 0x10, 0xFF}, {0x08, 0x10, 0xFF}, {0x0A, 0x10, 0xFF}, {0x1F, 0x10, 0xFF},
      {0x09, 0x11, 0xFF}, {0x20, 0x11, 0xFF}, {'0', 0x56, 0xFF},  {'9', 0x5F, 0xFF},
      {'A', 0x60, 0x00},  {'a', 0x60, 0x00},  {'B', 0x61, 0xFF},  {'b', 0x61, 0xFF},
      {'E', 0x66, 0x00},  {'e', 0x66, 0x00},  {0xC9, 0x66, 0x01}, {0xE9, 0x66, 0x01},
      {0xC6, 0xFF, 0x01}, {0xE6, 0xFF, 0x01}, {0xDF, 0xFF, 0x03},
  };
  const unsigned char* w = Weights(2);
  for (const Row& r : rows) {
    EXPECT_EQ(w[2 * r.code], r.primary) << std::hex << r.code;
    EXPECT_EQ(w[2 * r.code + 1], r.secondary) << std::hex << r.code;
  }
}

TEST(GeneralCollation, PropertiesOfBothTables) {
  for (int number : {2, 3}) {
    const unsigned char* w = Weights(number);
    for (int c = 0; c < 256; ++c) {
      int p = w[2 * c], s = w[2 * c + 1];
      EXPECT_GE(p, 0x10) << number << " " << c;
      if (p == 0xFF) {
        EXPECT_LE(s, 3) << "expansion index " << c;
      } else {
        EXPECT_TRUE(s <= 8 || s == 0xFF) << number << " " << c;
      }
    }
    // Case-insensitive letters in alphabetical order.
    for (int c = 'A'; c <= 'Z'; ++c) {
      EXPECT_EQ(w[2 * c], w[2 * (c + 32)]) << char(c);
      EXPECT_EQ(w[2 * c + 1], w[2 * (c + 32) + 1]) << char(c);
      if (c > 'A') {
        EXPECT_GT(w[2 * c], w[2 * (c - 1)]) << char(c);
      }
    }
    for (int d = '1'; d <= '9'; ++d) EXPECT_EQ(w[2 * d], w[2 * (d - 1)] + 1);
  }
  // Windows ANSI: upper and lower case accented letters share their weights,
  // and an accented letter has its base letter's primary weight.
  const unsigned char* w = Weights(2);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c == 0xD7) continue;  // the multiplication sign has no lower case
    EXPECT_EQ(w[2 * c], w[2 * (c + 32)]) << std::hex << c;
    EXPECT_EQ(w[2 * c + 1], w[2 * (c + 32) + 1]) << std::hex << c;
  }
  struct Base {
    int code;
    char base;
  };
  for (Base b : std::vector<Base>{{0xC0, 'A'}, {0xC5, 'A'}, {0xC7, 'C'}, {0xC8, 'E'}, {0xCF, 'I'},
                                  {0xD1, 'N'}, {0xD6, 'O'}, {0xD8, 'O'}, {0xDC, 'U'}, {0xDD, 'Y'},
                                  {0x8A, 'S'}, {0x9E, 'Z'}, {0xFF, 'Y'}}) {
    EXPECT_EQ(w[2 * b.code], w[2 * b.base]) << std::hex << b.code;
    EXPECT_GE(w[2 * b.code + 1], 1) << std::hex << b.code;
    EXPECT_LE(w[2 * b.code + 1], 8) << std::hex << b.code;
  }
  // MS-DOS US: the upper half maps onto the same weights.
  const unsigned char* dos = Weights(3);
  struct Pair {
    int dos, ansi;
  };
  for (Pair p : std::vector<Pair>{{0x80, 0xC7}, {0x81, 0xFC}, {0x82, 0xE9}, {0x8E, 0xC4},
                                  {0x90, 0xC9}, {0x92, 0xC6}, {0x99, 0xD6}, {0xA4, 0xF1},
                                  {0xA5, 0xD1}, {0xE1, 0xDF}}) {
    EXPECT_EQ(dos[2 * p.dos], w[2 * p.ansi]) << std::hex << p.dos;
    EXPECT_EQ(dos[2 * p.dos + 1], w[2 * p.ansi + 1]) << std::hex << p.dos;
  }
}

std::string GeneralKey(const std::string& text, int number = 2) {
  std::vector<char> out(2 * text.size());
  EXPECT_EQ(collate4charKey(collate4get(nullptr, number), text.data(),
                            static_cast<int>(text.size()), out.data()),
            0);
  return std::string(out.data(), out.size());
}

TEST(GeneralCollation, KeysOfTheExamples) {
  // abc and ABC: same primary weights, same secondary part.
  EXPECT_EQ(Hex(GeneralKey("abc").data(), 6), "606162000000");
  EXPECT_EQ(GeneralKey("abc"), GeneralKey("ABC"));
  EXPECT_NE(KeyOf('C', "abc"), KeyOf('C', "ABC"));
  // Strasse and the same word with the sharp s, in 10-character fields.
  std::string strasse = "Strasse   ", sharp = "Stra\xDF" "e    ";
  EXPECT_EQ(GeneralKey(strasse).substr(0, 7), GeneralKey(sharp).substr(0, 7));
  EXPECT_EQ(Hex(GeneralKey(strasse).data(), 7), "74757360747466");
  // The other expansions.
  EXPECT_EQ(GeneralKey("\xC6").substr(0, 2), GeneralKey("AE").substr(0, 2));
  EXPECT_EQ(GeneralKey("\x9C").substr(0, 2), GeneralKey("oe").substr(0, 2));
  EXPECT_EQ(GeneralKey("\xDE").substr(0, 2), GeneralKey("TH").substr(0, 2));
  // Accents sort after the plain letter, before the next letter.
  EXPECT_LT(GeneralKey("e"), GeneralKey("\xE9"));
  EXPECT_LT(GeneralKey("\xE9"), GeneralKey("f"));
  EXPECT_LT(GeneralKey("a "), GeneralKey("B "));
  EXPECT_LT(GeneralKey("B "), GeneralKey("c "));
  // Trailing blanks are not weighed; the rest is zero bytes.
  EXPECT_EQ(Hex(GeneralKey("b  ").data(), 6), "610000000000");
  // Collation 3 reads the MS-DOS e-acute like the Windows ANSI one.
  EXPECT_EQ(GeneralKey("\x82", 3), GeneralKey("\xE9", 2));
}

TEST(GeneralCollation, GeneralKeyFormAndComparison) {
  KEY4FORM f;
  ASSERT_EQ(key4formInit(&f, nullptr, 'C', 3, 2, 0, 0), 0);
  char key[8];
  ASSERT_EQ(key4fromValue(&f, "Ab ", key), 6);
  EXPECT_EQ(Hex(key, 6), "606100000000");
  // A seek text becomes 2 x its length.
  EXPECT_EQ(key4fromText(&f, "a", 1, key), 2);
  EXPECT_EQ(Hex(key, 2), "6000");
  // Primary weights decide first, then the secondary part.
  char a[6], b[6];
  key4fromValue(&f, "\xE9" "a ", a);  // e-acute a
  key4fromValue(&f, "eb ", b);
  EXPECT_LT(key4compare(&f, a, b, 6), 0);
  key4fromValue(&f, "ea ", b);
  EXPECT_GT(key4compare(&f, a, b, 6), 0);
  EXPECT_EQ(key4compare(&f, a, a, 6), 0);
}

TEST(GeneralCollation, ExpansionOfAnotherKindIsRefused) {
  COLLATE4 c = *collate4get(nullptr, 2);
  static const COLLATE4EXPAND compress[] = {{COLLATE4compressEntry, 'O', 'E', 0},
                                            {COLLATE4endEntry, 0, 0, 0}};
  c.expansions = compress;
  char out[2];
  EXPECT_EQ(collate4charKey(&c, "\x9C", 1, out), e4notSupported);
  EXPECT_EQ(collate4charKey(&c, "\xC6", 1, out), e4notSupported);  // beyond the list
}

TEST(GeneralCollation, WideKeys) {
  KEY4FORM f;
  ASSERT_EQ(key4formInit(&f, nullptr, 'W', 4, 2, 0, 0), 0);
  char key[16];
  std::string text = Raw("a\0\xE9\0", 4);  // "a", e-acute
  ASSERT_EQ(key4fromValue(&f, text.data(), key), 8);
  EXPECT_EQ(Hex(key, 8), "0060006600000001");
}

TEST(CollationChoice, FromTheTagHeaderName) {
  Context ctx;
  struct Case {
    std::string name;
    int mark, number;
  };
  const std::vector<Case> cases = {
      {std::string(8, '\0'), 0, 0},        {std::string("GENERAL\0", 8), 0, 2},
      {std::string("GENERAL\0", 8), 3, 2}, {std::string("GENERAL\0", 8), 1, 3},
      {std::string("CB00002\0", 8), 0, 2}, {std::string("CB00003\0", 8), 0, 3},
      {std::string("CB00001\0", 8), 0, 0}, {std::string("CB00009\0", 8), 0, e4index},
      {std::string("CB0000X\0", 8), 0, e4index}, {std::string("FRENCH\0\0", 8), 0, e4index},
  };
  for (const Case& c : cases) {
    ctx.c4.lastError = 0;
    EXPECT_EQ(collate4fromName(&ctx.c4, c.name.data(), static_cast<unsigned char>(c.mark)),
              c.number)
        << c.name.c_str() << " " << c.mark;
  }
}

TEST(CollationChoice, ForANewTag) {
  std::vector<FIELDSPEC4> fields = {{"NAME", 'C', 21, 0, 0}, {"BID", 'I', 4, 0, 0}};
  expr4test::TableFixture t(fields);
  ASSERT_NE(t.table, nullptr);
  EXPR4* name = expr4parse(t.table, "UPPER(NAME)");
  EXPR4* bid = expr4parse(t.table, "BID");
  EXPR4* mixed = expr4parse(t.table, "STR(BID, 4) + NAME");
  ASSERT_TRUE(name && bid && mixed);
  struct Case {
    int generalCollation, collateChar;
    EXPR4* expr;
    int mark;
    int number;
    const char* header;
  };
  const std::vector<Case> cases = {
      {0, 0, name, 0, 0, ""},          {1, 0, name, 0, 2, "GENERAL"}, {1, 0, name, 1, 3, "GENERAL"},
      {1, 0, bid, 0, 0, ""},           {1, 0, mixed, 0, 0, ""},       {0, 1, name, 0, 0, ""},
      {0, 2, name, 3, 2, "GENERAL"},   {0, 2, name, 0, 2, "CB00002"}, {0, 3, name, 1, 3, "GENERAL"},
      {0, 3, name, 3, 3, "CB00003"},   {0, 2, mixed, 0, 0, ""},       {0, 5, name, 0, e4notSupported, ""},
  };
  for (const Case& c : cases) {
    t.c4()->lastError = 0;
    t.c4()->generalCollation = static_cast<int16_t>(c.generalCollation);
    t.c4()->collateChar = c.collateChar;
    char header[8];
    int rc = collate4forNewTag(t.c4(), c.expr, static_cast<unsigned char>(c.mark), header);
    EXPECT_EQ(rc, c.number) << c.generalCollation << " " << c.collateChar << " " << c.mark;
    EXPECT_EQ(std::string(header, strnlen(header, 8)), c.header) << c.collateChar;
  }
  expr4free(name);
  expr4free(bid);
  expr4free(mixed);
}

// --- collation 4 from the collation tables -----------------------------------

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& dir) : saved_(std::filesystem::current_path()) {
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
  }
  ~CurrentDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

void AppendInfo(TABLE4* t, bool unicode) {
  for (int r = 1; r <= 4; ++r) {
    ASSERT_EQ(d4appendStart(t, 0), 0);
    f4assign(d4field(t, "ISUNICODE"), unicode ? "T" : "F");
    f4assignInt(d4field(t, "COLLSTART"), 1);
    f4assignInt(d4field(t, "COLLEND"), 256);
    f4assignInt(d4field(t, "COMPSTART"), 1);
    f4assignInt(d4field(t, "COMPEND"), 1);
    f4assign(d4field(t, "EXPANREQD"), "T");
    f4assign(d4field(t, "COMPREQD"), "F");
    f4assign(d4field(t, "SUBREQD"), "T");
    f4assignInt(d4field(t, "COMPCHAR"), 255);
    f4assignInt(d4field(t, "NOTAILCHAR"), 254);
    f4assign(d4field(t, "TRANSREQD"), "T");
    f4assign(d4field(t, "LOSSINFO"), "F");
    ASSERT_EQ(d4append(t), 0);
  }
}

TEST(LoadedCollation, ComesFromTheThreeTables) {
  testsupport::IsolatedEnv env;
  Context ctx;
  std::filesystem::path root = std::filesystem::path(std::getenv("TMPDIR"));
  const std::vector<FIELDSPEC4> info = {
      {"ISUNICODE", 'L', 1, 0, 0}, {"COLLSTART", 'N', 5, 0, 0}, {"COLLEND", 'N', 5, 0, 0},
      {"COMPSTART", 'N', 5, 0, 0}, {"COMPEND", 'N', 5, 0, 0},   {"EXPANREQD", 'L', 1, 0, 0},
      {"COMPREQD", 'L', 1, 0, 0},  {"SUBREQD", 'L', 1, 0, 0},   {"COMPCHAR", 'N', 3, 0, 0},
      {"NOTAILCHAR", 'N', 3, 0, 0}, {"TRANSREQD", 'L', 1, 0, 0}, {"LOSSINFO", 'L', 1, 0, 0},
      {nullptr, 0, 0, 0, 0}};
  {
    // No tables: the load fails and may be tried again later.
    CurrentDirectory cd(root / "none");
    EXPECT_EQ(collate4get(&ctx.c4, 4), nullptr);
    EXPECT_EQ(ctx.c4.lastError, e4notSupported);
  }
  {
    // A wide-character collation is refused.
    CurrentDirectory cd(root / "unicode");
    ctx.c4.lastError = 0;
    TABLE4* t = d4create(&ctx.c4, "coll4inf", info.data(), nullptr);
    ASSERT_NE(t, nullptr);
    AppendInfo(t, true);
    d4close(t);
    EXPECT_EQ(collate4get(&ctx.c4, 4), nullptr);
    EXPECT_EQ(ctx.c4.lastError, e4notSupported);
  }
  CurrentDirectory cd(root / "good");
  ctx.c4.lastError = 0;
  TABLE4* t = d4create(&ctx.c4, "coll4inf", info.data(), nullptr);
  ASSERT_NE(t, nullptr);
  AppendInfo(t, false);
  d4close(t);
  // Weights: letters without regard to case by their upper-case code, lower
  // case with secondary weight 1, code 255 expands to X Y.
  const std::vector<FIELDSPEC4> weights = {
      {"TRANS_CODE", 'N', 3, 0, 0}, {"SBSORTCODE", 'N', 3, 0, 0}, {nullptr, 0, 0, 0, 0}};
  t = d4create(&ctx.c4, "collate4", weights.data(), nullptr);
  ASSERT_NE(t, nullptr);
  for (int c = 0; c < 256; ++c) {
    ASSERT_EQ(d4appendStart(t, 0), 0);
    bool lower = c >= 'a' && c <= 'z';
    f4assignInt(d4field(t, "TRANS_CODE"), lower ? c - 32 : c);
    f4assignInt(d4field(t, "SBSORTCODE"), c == 255 ? 0 : (lower ? 1 : 254));
    ASSERT_EQ(d4append(t), 0);
  }
  d4close(t);
  const std::vector<FIELDSPEC4> comp = {{"IS_EXPAND", 'L', 1, 0, 0},
                                        {"CHAR1", 'C', 1, 0, 0},
                                        {"CHAR2", 'C', 1, 0, 0},
                                        {"SUBSORTMOD", 'N', 3, 0, 0},
                                        {nullptr, 0, 0, 0, 0}};
  t = d4create(&ctx.c4, "compres4", comp.data(), nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(d4appendStart(t, 0), 0);
  f4assign(d4field(t, "IS_EXPAND"), "T");
  f4assign(d4field(t, "CHAR1"), "X");
  f4assign(d4field(t, "CHAR2"), "Y");
  ASSERT_EQ(d4append(t), 0);
  d4close(t);

  const COLLATE4* coll = collate4get(&ctx.c4, 4);
  ASSERT_NE(coll, nullptr) << ctx.c4.lastError;
  EXPECT_EQ(ctx.c4.lastError, 0);
  EXPECT_EQ(coll->type, COLLATE4full);
  EXPECT_EQ(coll->keyFactor, 1);
  EXPECT_EQ(coll->expandMarker, 255);
  EXPECT_EQ(coll->noTailMarker, 254);
  EXPECT_EQ(coll->lossy, 1);
  char out[6];
  ASSERT_EQ(collate4charKey(coll, "ab\xFF", 3, out), 0);
  EXPECT_EQ(Hex(out, 6), "414258590101");
  // A tag header naming it selects it.
  EXPECT_EQ(collate4fromName(&ctx.c4, std::string("CB00004\0", 8).data(), 0), 4);
}

}  // namespace
