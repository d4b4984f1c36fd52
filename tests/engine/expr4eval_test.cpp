// Expression evaluation: the result bytes of every operator and function,
// string comparisons of unequal lengths, date arithmetic, memo fields,
// re-binding to another handle of the same data file, and expr4true.
#include <ctime>
#include <thread>
#include <string>
#include <vector>

#include "expr4_tables.h"

namespace {

using expr4test::Bytes;
using expr4test::Hex;
using expr4test::TableFixture;

std::vector<FIELDSPEC4> Fields() {
  return {
      {"NAME", 'C', 21, 0, 0},  {"EMAIL", 'C', 101, 0, 0}, {"UID", 'I', 4, 0, 0},
      {"BID", 'I', 4, 0, 0},    {"BORN", 'D', 8, 0, 0},    {"BLANKD", 'D', 8, 0, 0},
      {"AMOUNT", 'N', 10, 2, 0}, {"ACTIVE", 'L', 1, 0, 0}, {"OK", 'L', 1, 0, 0},
      {"CREATED", 'T', 8, 0, 0}, {"NOTE", 'M', 10, 0, 0},  {"PRICE", 'Y', 8, 4, 0},
      {"RATE", 'B', 8, 2, 0},
  };
}

class ExprEval : public ::testing::Test {
 protected:
  ExprEval() : t(Fields()) {}
  void SetUp() override {
    ASSERT_NE(t.table, nullptr);
    t.Set("NAME", "Kim");
    t.Set("EMAIL", "kim@example.com");
    t.SetInt("UID", 7);
    t.SetInt("BID", 3);
    t.Set("BORN", "20000101");
    t.Set("AMOUNT", "-12.50");
    t.Set("ACTIVE", "T");
    t.Set("OK", "F");
    t.SetDateTime("CREATED", "2000010112:00:00");
    f4assignCurrency(t.F("PRICE"), "2.5");
    f4assignDouble(t.F("RATE"), 0.25);
  }
  TableFixture t;
};

std::string Blanks(int n) { return std::string(n, ' '); }
std::string Zeros(int n) { return std::string(n, '\0'); }

struct TextCase {
  const char* text;
  std::string value;
};

TEST_F(ExprEval, CharacterFunctions) {
  const std::vector<TextCase> cases = {
      {"NAME", "Kim" + Blanks(18)},
      {"NAME + EMAIL", "Kim" + Blanks(18) + "kim@example.com" + Blanks(86)},
      {"TRIM(NAME) + EMAIL", "Kimkim@example.com" + Blanks(86) + Zeros(18)},
      {"NAME - EMAIL", "Kimkim@example.com" + Blanks(86) + Blanks(18)},
      {"'ab ' - 'cd'", "abcd "},
      {"TRIM('ab ') + 'cd'", std::string("abcd") + Zeros(1)},
      {"STR(3.14159, 6, 2)", "  3.14"},
      {"STR(5, 3, 5)", "5.0"},
      {"STR(123)", "       123"},
      {"STR(-1.5, 5, 1)", " -1.5"},
      {"STR(0.5, 4, 2)", "0.50"},
      {"STR(-0.5, 5, 2)", "-0.50"},
      {"STR(123456, 3)", "***"},
      {"STR(AMOUNT, 8, 1)", "   -12.5"},
      {"STR(UID, 3)", "  7"},
      {"STR(0, 4, -1)", "   0"},
      {"STR(1, -5)", "         1"},
      {"STRZERO(5, 3)", "005"},
      {"STRZERO(1234, 3)", "***"},
      {"STRZERO(42, 2)", "42"},
      {"STRZERO(2.5, 5)", "002.5"},
      {"STRZERO(-5, 4)", "-005"},
      {"STRZERO(0, 3)", "000"},
      {"SUBSTR(NAME, 2, 2)", "im"},
      {"SUBSTR('abcdef', 3)", "cdef"},
      {"SUBSTR('abcdef', 0, 2)", "ab"},
      {"SUBSTR('abcdef', 5, 9)", "ef"},
      {"SUBSTR('abcdef', 9)", ""},
      {"LEFT(NAME, 2)", "Ki"},
      {"LEFT('abc', 9)", "abc"},
      {"LEFT(NAME)", ""},
      {"RIGHT('abcdef', 2)", "ef"},
      {"RIGHT(NAME, 3)", "   "},
      {"PADL('ab', 5)", "   ab"},
      {"PADR('ab', 5)", "ab   "},
      {"PADL(TRIM(NAME), 5)", "  Kim"},
      {"PADR(TRIM(NAME), 5)", "Kim  "},
      {"PADL('abcdef', 3)", "abc"},
      {"PADR(NAME, 4)", "Kim "},
      {"TRIM(NAME)", "Kim" + Zeros(18)},
      {"LTRIM('  ab ')", std::string("ab ") + Zeros(2)},
      {"ALLTRIM('  ab ')", "ab" + Zeros(3)},
      {"UPPER('abc\xE9z')", "ABC\xE9Z"},  // code page mark 0: ASCII letters only
      {"UPPER(NAME) + DTOS(BORN)", "KIM" + Blanks(18) + "20000101"},
      {"IIF(ACTIVE, 'ab', 'xyz')", "ab "},
      {"IIF(OK, 'ab', 'xyz')", "xyz"},
      {"CHR(65) + CHR(97.9)", "Aa"},
      {"DEL()", " "},
      {"L2BIN(258)", Bytes({2, 1, 0, 0})},
      {"L2BIN(-1)", Bytes({255, 255, 255, 255})},
      {"DTOS(BORN)", "20000101"},
      {"DTOS(BLANKD)", Blanks(8)},
      {"DTOS(BORN + 31)", "20000201"},
      {"DTOS(BORN - 1)", "19991231"},
      {"DTOS(1 + BORN)", "20000102"},
      {"DTOS(BLANKD + 1)", Blanks(8)},
      {"DTOS(STOD('20000229'))", "20000229"},
      {"DTOS(STOD('19000229'))", Blanks(8)},  // not a date
      {"DTOC(BORN)", "01/01/00"},
      {"DTOC(BORN, 1)", "20000101"},
      {"DTOC(BLANKD)", "  /  /  "},
      {"DTOS(CTOD('09/17/01'))", "20010917"},
      {"DESCEND('AB')", Bytes({0xBE, 0xBD})},
      {"ASCEND(ACTIVE) + ASCEND(OK)", "10"},
      {"ASCEND(AMOUNT)", ",,,,,+*.',"},  // "    -12.50" as "0000012.50", then 92 - c
      {"ASCEND(BORN)", "20000101"},
      {"ASCEND(BORN + 1)", "20000102"},
      {"ASCEND(UID)", Bytes({0x80, 0, 0, 7})},
      {"DESCEND(UID)", Bytes({0x7F, 0xFF, 0xFF, 0xF8})},
  };
  for (const TextCase& c : cases) {
    int code = 0;
    std::string v = t.Eval(c.text, nullptr, &code);
    EXPECT_EQ(code, 0) << c.text;
    EXPECT_EQ(Hex(v.data(), v.size()), Hex(c.value.data(), c.value.size())) << c.text;
  }
}

TEST_F(ExprEval, AscendOfNumericTextSortsNumerically) {
  // The N field AMOUNT is 10 wide with 2 decimals.
  std::vector<std::string> keys;
  for (const char* v : {"-100.25", "-12.50", "-3.00", "0.00", "4.75", "12.50"}) {
    t.Set("AMOUNT", v);
    keys.push_back(t.Eval("ASCEND(AMOUNT)"));
    ASSERT_EQ(keys.back().size(), 10u);
  }
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_LT(keys[i - 1], keys[i]) << i;
  t.Set("AMOUNT", "4.75");
  EXPECT_EQ(t.Eval("ASCEND(AMOUNT)"), "0000004.75");
}

struct NumberCase {
  const char* text;
  double value;
};

TEST_F(ExprEval, NumbersAndDates) {
  const std::vector<NumberCase> cases = {
      {"BID + UID", 10},
      {"UID - BID", 4},
      {"UID * BID / 2", 10.5},
      {"UID / 0", 0},
      {"AMOUNT + 1", -11.5},
      {"PRICE * 2", 5},
      {"RATE + 1", 1.25},
      {"BORN + 0", 2451545},
      {"BORN - STOD('19991231')", 1},
      {"STOD('20000301') - BORN", 60},
      {"BORN - BLANKD", 0},
      {"BLANKD - 5", 0},
      {"BLANKD + 5", 0},
      {"DAY(BORN + 30)", 31},
      {"MONTH(BORN + 31)", 2},
      {"YEAR(BORN + 366)", 2001},
      {"YEAR(BLANKD)", 0},
      {"DAY(BORN)", 1},
      {"VAL('  12.5xyz')", 12.5},
      {"VAL(NAME)", 0},
      {"IIF(ACTIVE, 1, UID)", 1},
      {"IIF(OK, 1, UID)", 7},
      {"IIF(OK, BORN, BORN + 1) - BORN", 1},
      {"RECNO()", -1},
      {"PAGENO()", 0},
  };
  for (const NumberCase& c : cases) EXPECT_DOUBLE_EQ(t.EvalNumber(c.text), c.value) << c.text;
}

TEST_F(ExprEval, ComparisonsOfUnequalLengths) {
  struct Case {
    const char* text;
    int value;
  };
  const std::vector<Case> cases = {
      {"'a' = 'ab'", 1},   {"'ab' = 'a'", 1},   {"'ab' > 'a'", 1},   {"'a' < 'ab'", 1},
      {"'a' > 'ab'", 0},   {"'ab' < 'a'", 0},   {"'a' >= 'ab'", 0},  {"'ab' >= 'a'", 1},
      {"'ab' <= 'a'", 0},  {"'a' <= 'ab'", 1},  {"'a' # 'ab'", 0},   {"'a' <> 'b'", 1},
      {"'abc' < 'abd'", 1}, {"'b' > 'abc'", 1}, {"'' = 'x'", 1},     {"'\xE9' > 'z'", 1},
      {"NAME = 'Kim'", 1}, {"NAME = 'Kimx'", 0}, {"'im' $ NAME", 1}, {"'Kim  ' $ NAME", 1},
      {"'xyz' $ 'ab'", 0}, {"'' $ 'ab'", 1},    {"'abc' $ 'ab'", 0}, {"'bc' $ 'abc'", 1},
      {"UID > BID", 1},    {"UID = 7", 1},      {"BORN > BLANKD", 1}, {"BORN = STOD('20000101')", 1},
      {"PRICE > PRICE", 0}, {"PRICE = PRICE", 1}, {"CREATED >= CREATED", 1}, {"CREATED < CREATED", 0},
      {"ACTIVE = OK", 0},  {"ACTIVE # OK", 1},  {"-0 = 0", 1},       {"AMOUNT < 0", 1},
      {"DELETED()", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(t.EvalLogical(c.text), c.value) << c.text;
}

TEST_F(ExprEval, TimeAndDateFunctionsFollowTheClock) {
  std::string time = t.Eval("TIME()");
  ASSERT_EQ(time.size(), 8u);
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
  char today[8];
  date4current(today);
  EXPECT_EQ(t.Eval("DTOS(DATE())"), std::string(today, 8));
}

TEST_F(ExprEval, RecordFunctionsAndMemo) {
  ASSERT_EQ(d4appendStart(t.table, 0), 0);
  t.Set("NAME", "Lee");
  f4memoAssign(t.F("NOTE"), "memo text");
  ASSERT_EQ(d4append(t.table), 0);
  ASSERT_EQ(d4appendStart(t.table, 0), 0);
  t.Set("NAME", "Park");
  ASSERT_EQ(d4append(t.table), 0);
  ASSERT_EQ(d4go(t.table, 1), 0);
  EXPECT_DOUBLE_EQ(t.EvalNumber("RECNO()"), 1);
  EXPECT_DOUBLE_EQ(t.EvalNumber("RECCOUNT()"), 2);
  t.c4()->memoExprLength = 12;
  EXPECT_EQ(t.Eval("NOTE"), std::string("memo text") + Zeros(3));
  t.c4()->memoExprLength = 4;
  EXPECT_EQ(t.Eval("NOTE"), "memo");
  t.c4()->memoExprLength = 1024;
  // A memo field makes a following character "+" the trimming one.
  EXPECT_EQ(t.Eval("LEFT(NOTE + NAME, 12)"), "memo textLee");
  ASSERT_EQ(d4go(t.table, 2), 0);
  EXPECT_EQ(t.Eval("LEFT(NOTE + NAME, 4)"), "Park");
  EXPECT_EQ(expr4pageNoSet(t.c4(), 5), 0);
  EXPECT_DOUBLE_EQ(t.EvalNumber("PAGENO()"), 5);
}

TEST_F(ExprEval, ExprTrueAndPendingErrors) {
  EXPR4* yes = expr4parse(t.table, "ACTIVE .AND. UID = 7");
  ASSERT_NE(yes, nullptr);
  EXPECT_EQ(expr4true(yes), 1);
  t.Set("ACTIVE", "F");
  EXPECT_EQ(expr4true(yes), 0);
  // While the context holds an error nothing is evaluated.
  t.c4()->lastError = e4read;
  char* out = nullptr;
  EXPECT_EQ(expr4vary(yes, &out), -1);
  EXPECT_EQ(expr4true(yes), -1);
  t.c4()->lastError = 0;
  expr4free(yes);
}

TEST_F(ExprEval, ExprTrueOnANonLogicalResultIsFatal) {
  EXPR4* e = expr4parse(t.table, "NAME");
  ASSERT_NE(e, nullptr);
  // -950 "Unexpected Result" ends the process with its code.
  EXPECT_EXIT(expr4true(e), ::testing::ExitedWithCode(static_cast<unsigned char>(e4result)),
              "");
  expr4free(e);
}

TEST_F(ExprEval, RebindingToAnotherHandleOfTheSameFile) {
  t.c4()->singleOpen = 0;
  std::string name = (t.dir() / "TEST").string();
  ASSERT_EQ(d4appendStart(t.table, 0), 0);
  ASSERT_EQ(d4append(t.table), 0);
  TABLE4* second = d4open(t.c4(), name.c_str());
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(d4go(second, 1), 0);
  f4assign(d4field(second, "NAME"), "Second");
  f4assignInt(d4field(second, "UID"), 40);
  t.Set("NAME", "First");

  EXPR4* e = expr4parse(t.table, "TRIM(NAME) + STR(UID + BID, 3)");
  ASSERT_NE(e, nullptr);
  char* out = nullptr;
  int len = expr4vary(e, &out);
  ASSERT_EQ(len, 24);
  EXPECT_EQ(std::string(out, 8), std::string("First 10"));
  ASSERT_EQ(expr4context(e, second), 0);
  len = expr4vary(e, &out);
  EXPECT_EQ(std::string(out, 9), std::string("Second 43"));
  ASSERT_EQ(expr4context(e, t.table), 0);
  expr4vary(e, &out);
  EXPECT_EQ(std::string(out, 8), std::string("First 10"));

  // Evaluating against another buffer by pointing the record at it.
  char* saved = t.table->record;
  t.table->record = second->record;
  expr4vary(e, &out);
  EXPECT_EQ(std::string(out, 9), std::string("Second 43"));
  t.table->record = saved;

  // A handle of another data file is refused.
  TABLE4* other = d4create(t.c4(), (t.dir() / "OTHER").c_str(),
                           std::vector<FIELDSPEC4>{{"NAME", 'C', 21, 0, 0}, {}}.data(), nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(expr4context(e, other), e4parm);
  t.c4()->lastError = 0;
  expr4free(e);
}

TEST_F(ExprEval, ResultPointerStaysValidUntilTheNextEvaluation) {
  EXPR4* a = expr4parse(t.table, "UPPER(NAME)");
  EXPR4* b = expr4parse(t.table, "LEFT(EMAIL, 3)");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  char* ra = nullptr;
  char* rb = nullptr;
  expr4vary(a, &ra);
  expr4vary(b, &rb);
  EXPECT_EQ(std::string(ra, 3), "KIM");
  EXPECT_EQ(std::string(rb, 3), "kim");
  expr4free(a);
  expr4free(b);
}

TEST(ExprUpper, WindowsAnsiUpperCasingForCodePageMark3) {
  TableFixture plain({{"NAME", 'C', 8, 0, 0}}, "PLAIN");
  ASSERT_NE(plain.table, nullptr);
  plain.Set("NAME", "a\xE9\xFF\x9A\xDF");
  EXPECT_EQ(plain.Eval("UPPER(NAME)"), "A\xE9\xFF\x9A\xDF   ");
  plain.table->dataFile->codePage = 3;
  EXPECT_EQ(plain.Eval("UPPER(NAME)"), "A\xC9\x9F\x8A\xDF   ");
}

TEST_F(ExprEval, ConcurrentEvaluationsInTwoContexts) {
  TableFixture other({{"NAME", 'C', 21, 0, 0}, {"UID", 'I', 4, 0, 0}}, "OTHER");
  ASSERT_NE(other.table, nullptr);
  other.Set("NAME", "Lee");
  other.SetInt("UID", 99);
  EXPR4* a = expr4parse(t.table, "UPPER(NAME) + STR(UID, 4)");
  EXPR4* b = expr4parse(other.table, "UPPER(NAME) + STR(UID, 4)");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  auto run = [](EXPR4* e, std::string want, int* bad) {
    for (int i = 0; i < 20000; ++i) {
      char* key = nullptr;
      int len = expr4key(e, &key, nullptr);
      if (len != 25 || std::string(key, len) != want) ++*bad;
    }
  };
  int badA = 0, badB = 0;
  std::thread ta(run, a, "KIM" + Blanks(18) + "   7", &badA);
  std::thread tb(run, b, "LEE" + Blanks(18) + "  99", &badB);
  ta.join();
  tb.join();
  EXPECT_EQ(badA, 0);
  EXPECT_EQ(badB, 0);
  expr4free(a);
  expr4free(b);
}

}  // namespace
