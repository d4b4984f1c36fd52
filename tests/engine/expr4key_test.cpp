// Keys of expressions: the portal's tag expressions on records of its
// tables, the null-indicator byte, DESCEND keys, and a cross-check against
// the keys an independent program stored for the fixture tables.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "expr4_tables.h"

namespace {

using expr4test::Hex;
using expr4test::TableFixture;

std::vector<FIELDSPEC4> UserFields() {
  return {{"UID", 'I', 4, 0, 0},        {"USERID", 'C', 21, 0, 0},   {"NAME", 'C', 21, 0, 0},
          {"PW", 'C', 21, 0, 0},        {"EMAIL", 'C', 101, 0, 0},   {"SUBSCRIBED", 'T', 8, 0, 0},
          {"LAST_LOGON", 'T', 8, 0, 0}, {"ACTIVE", 'L', 1, 0, 0},    {"REMOTE_ADD", 'C', 16, 0, 0},
          {"COMMENT", 'M', 10, 0, 0}};
}

std::vector<FIELDSPEC4> BoardFields() {
  return {{"BID", 'I', 4, 0, 0},     {"TITLE", 'Z', 100, 0, 0}, {"LASTID", 'I', 4, 0, 0},
          {"CREATED", 'T', 8, 0, 0}, {"COMMENT", 'M', 10, 0, 0}};
}

std::vector<FIELDSPEC4> LogFields() {
  return {{"USERID", 'C', 21, 0, 0}, {"NAME", 'Z', 21, 0, 0}, {"PROD", 'I', 4, 0, 0},
          {"LEVEL", 'I', 4, 0, 0},   {"IP", 'C', 16, 0, 0},   {"TIME", 'T', 8, 0, 0}};
}

std::vector<FIELDSPEC4> RightFields() {
  return {{"BID", 'I', 4, 0, 0}, {"UID", 'I', 4, 0, 0}, {"SUBSCRIBED", 'T', 8, 0, 0}};
}

std::string HexText(const std::string& s) { return Hex(s.data(), static_cast<int>(s.size())); }

TEST(PortalTagKeys, UserTable) {
  TableFixture t(UserFields(), "USER");
  ASSERT_NE(t.table, nullptr);
  t.SetInt("UID", 12);
  t.Set("USERID", "admin");
  t.Set("NAME", "\xB0\xFC\xB8\xAE\xC0\xDA");  // EUC-KR text as stored
  t.Set("ACTIVE", "T");
  EXPECT_EQ(t.KeyHex("UID"), "8000000C");
  EXPECT_EQ(t.KeyHex("USERID"), HexText("admin" + std::string(16, ' ')));
  EXPECT_EQ(t.KeyHex("NAME"), HexText("\xB0\xFC\xB8\xAE\xC0\xDA" + std::string(15, ' ')));
  EXPECT_EQ(t.KeyHex("ACTIVE"), "54");
  t.Set("ACTIVE", "F");
  EXPECT_EQ(t.KeyHex("ACTIVE"), "46");
  // A blank name: 21 blanks; DESCEND of it: 21 bytes 0xDF.
  t.Set("NAME", "");
  EXPECT_EQ(t.KeyHex("NAME"), HexText(std::string(21, ' ')));
  EXPECT_EQ(t.KeyHex("DESCEND(NAME)"), HexText(std::string(21, '\xDF')));
  t.Set("NAME", "Kim");
  std::string descended;
  for (char c : "Kim" + std::string(18, ' ')) descended += static_cast<char>(~c);
  EXPECT_EQ(t.KeyHex("DESCEND(NAME)"), HexText(descended));
}

TEST(PortalTagKeys, BoardLogAndRightTables) {
  {
    TableFixture t(BoardFields(), "BLIST");
    ASSERT_NE(t.table, nullptr);
    t.SetInt("BID", 5);
    t.Set("TITLE", "Notice");
    t.SetDateTime("CREATED", "2000010112:00:00");
    EXPECT_EQ(t.KeyHex("BID"), "80000005");
    EXPECT_EQ(t.KeyHex("CREATED"), "C142B42CC0000000");
    // A Z field is padded with zero bytes.
    EXPECT_EQ(t.KeyHex("TITLE"), HexText(std::string("Notice") + std::string(94, '\0')));
    t.SetInt("BID", -1);
    EXPECT_EQ(t.KeyHex("BID"), "7FFFFFFF");
  }
  {
    TableFixture t(LogFields(), "LOG");
    ASSERT_NE(t.table, nullptr);
    EXPECT_EQ(t.KeyHex("TIME"), "8000000000000000");  // no date yet
    t.SetDateTime("TIME", "2000010100:00:00");
    EXPECT_EQ(t.KeyHex("TIME"), "C142B42C80000000");
    t.SetDateTime("TIME", "2001091717:57:15");
    char* key = nullptr;
    EXPR4* e = expr4parse(t.table, "TIME");
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(expr4key(e, &key, nullptr), 8);
    // day 2452170 + 64635000 ms as a double.
    double expect = 2452170.0 + 64635000.0 / 86400000.0;
    char want[8];
    key4double(expect, want);
    EXPECT_EQ(Hex(key, 8), Hex(want, 8));
    expr4free(e);
  }
  {
    TableFixture t(RightFields(), "RIGHT");
    ASSERT_NE(t.table, nullptr);
    t.SetInt("BID", 1);
    t.SetInt("UID", 2);
    EXPECT_EQ(t.KeyHex("BID + UID"), "C008000000000000");  // the number 3
    EXPR4* e = expr4parse(t.table, "BID + UID");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(expr4type(e), 'n');
    EXPECT_EQ(expr4keyLen(e), 8);
    expr4free(e);
  }
}

TEST(PortalTagKeys, KeyLengthsOfThePortalTags) {
  TableFixture t(UserFields(), "USER");
  ASSERT_NE(t.table, nullptr);
  struct Case {
    const char* text;
    int len;
  };
  for (Case c : std::vector<Case>{{"NAME", 21}, {"USERID", 21}, {"UID", 4}, {"ACTIVE", 1},
                                  {"SUBSCRIBED", 8}, {"UPPER(NAME) + DTOS(STOD('20000101'))", 29}}) {
    EXPR4* e = expr4parse(t.table, c.text);
    ASSERT_NE(e, nullptr) << c.text;
    EXPECT_EQ(expr4keyLen(e), c.len) << c.text;
    expr4free(e);
  }
}

TEST(KeyNullIndicator, LeadingByteFollowsTheNullBit) {
  TableFixture t({{"CODE", 'C', 4, 0, STAT4NULLABLE}, {"N", 'I', 4, 0, 0}});
  ASSERT_NE(t.table, nullptr);
  EXPR4* e = expr4parse(t.table, "CODE");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(expr4nullable(e), 1);
  KEY4FORM form;
  ASSERT_EQ(expr4keyForm(e, &form, 0, 1), 0);
  t.Set("CODE", "ab");  // an assignment clears the null bit
  char* key = nullptr;
  ASSERT_EQ(expr4key(e, &key, &form), 5);
  EXPECT_EQ(Hex(key, 5), "8061622020");
  // Set the null bit by hand.
  COLUMN4* code = t.F("CODE");
  t.table->record[t.table->nullFlags->offset + code->nullBit / 8] |=
      static_cast<char>(1 << (code->nullBit % 8));
  EXPECT_EQ(expr4isNull(e), 1);
  ASSERT_EQ(expr4key(e, &key, &form), 5);
  EXPECT_EQ(Hex(key, 5), "0000000000");
  expr4free(e);
}

TEST(KeyGeneral, CollatedKeyOfAnExpression) {
  TableFixture t({{"NAME", 'C', 10, 0, 0}});
  ASSERT_NE(t.table, nullptr);
  EXPR4* e = expr4parse(t.table, "NAME");
  ASSERT_NE(e, nullptr);
  KEY4FORM form;
  ASSERT_EQ(expr4keyForm(e, &form, 2, 0), 0);
  char* key = nullptr;
  t.Set("NAME", "Strasse");
  ASSERT_EQ(expr4key(e, &key, &form), 20);
  std::string first(key, 20);
  t.Set("NAME", "Stra\xDF" "e");
  ASSERT_EQ(expr4key(e, &key, &form), 20);
  EXPECT_EQ(Hex(key, 7), Hex(first.data(), 7));
  t.Set("NAME", "STRASSE");
  ASSERT_EQ(expr4key(e, &key, &form), 20);
  EXPECT_EQ(Hex(key, 7), Hex(first.data(), 7));
  expr4free(e);
  // TRIM results become keys with blanks for their zero bytes.
  e = expr4parse(t.table, "TRIM(NAME)");
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(expr4key(e, &key, nullptr), 10);
  EXPECT_EQ(std::string(key, 10), "STRASSE   ");
  expr4free(e);
}

// --- fixture tables --------------------------------------------------------

struct ListedTag {
  std::string name, expr, filter;
  std::vector<std::pair<long, std::string>> keys;  // record, key in hexadecimal
};

std::vector<ListedTag> ReadListing(const std::string& path) {
  std::vector<ListedTag> tags;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("TAG ", 0) == 0) {
      tags.emplace_back();
      std::istringstream words(line.substr(4));
      int n;
      words >> n >> tags.back().name;
    } else if (!tags.empty() && line.rfind("  key: ", 0) == 0) {
      tags.back().expr = line.substr(7);
    } else if (!tags.empty() && line.rfind("  for: ", 0) == 0) {
      tags.back().filter = line.substr(7);
    } else if (!tags.empty() && line.rfind("  KEY ", 0) == 0) {
      std::istringstream words(line.substr(6));
      long rec;
      std::string hex;
      words >> rec >> hex;
      tags.back().keys.emplace_back(rec, hex);
    }
  }
  return tags;
}

// Every key the other program stored equals the key of our expression on
// that record.
void CrossCheck(const std::string& folder, const std::string& table, bool hasMemo) {
  std::string fixtures = expr4test::FixturesDir();
  ASSERT_FALSE(fixtures.empty()) << "FIXTURES names no directory";
  testsupport::IsolatedEnv env;
  expr4test::Context ctx;
  std::filesystem::path dir = std::filesystem::path(std::getenv("TMPDIR")) / "fixture";
  std::filesystem::create_directories(dir);
  std::filesystem::path src = std::filesystem::path(fixtures) / folder;
  std::filesystem::copy_file(src / (table + ".dbf"), dir / (table + ".dbf"));
  if (hasMemo) std::filesystem::copy_file(src / (table + ".fpt"), dir / (table + ".fpt"));
  std::vector<ListedTag> tags = ReadListing((src / (table + ".listing.txt")).string());
  ASSERT_FALSE(tags.empty());
  TABLE4* t = d4open(&ctx.c4, (dir / table).c_str());
  ASSERT_NE(t, nullptr) << "open error " << ctx.c4.lastError;
  size_t checked = 0;
  for (const ListedTag& tag : tags) {
    EXPR4* e = expr4parse(t, tag.expr.c_str());
    ASSERT_NE(e, nullptr) << tag.expr;
    EXPR4* filter = tag.filter.empty() ? nullptr : expr4parse(t, tag.filter.c_str());
    for (const auto& [rec, hex] : tag.keys) {
      ASSERT_EQ(d4go(t, rec), 0) << rec;
      if (filter) {
        EXPECT_EQ(expr4true(filter), 1) << tag.name << " " << rec;
      }
      char* key = nullptr;
      int len = expr4key(e, &key, nullptr);
      ASSERT_GT(len, 0);
      ASSERT_EQ(Hex(key, len), hex) << tag.name << " (" << tag.expr << ") record " << rec;
      ++checked;
    }
    expr4free(filter);
    expr4free(e);
  }
  EXPECT_GT(checked, 0u);
  d4close(t);
}

TEST(FixtureKeys, SmallTableOfEveryKeyType) { CrossCheck("peer-made", "small", false); }
TEST(FixtureKeys, PeopleTableNineTags) { CrossCheck("peer-made", "people", true); }
TEST(FixtureKeys, NorthwindIntegerTags) {
  CrossCheck("northwind", "region", false);
  CrossCheck("northwind", "shippers", false);
}

}  // namespace
