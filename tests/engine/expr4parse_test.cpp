// Expression parser: error codes of malformed texts, operator precedence
// and the merging of .AND. and .OR., lexical rules, constant arguments, and
// the result type and length of every function.
#include <random>
#include <string>
#include <vector>

#include "expr4_tables.h"

namespace {

using expr4test::TableFixture;

std::vector<FIELDSPEC4> Fields() {
  return {
      {"NAME", 'C', 21, 0, 0},   {"EMAIL", 'C', 101, 0, 0}, {"UID", 'I', 4, 0, 0},
      {"BID", 'I', 4, 0, 0},     {"BORN", 'D', 8, 0, 0},    {"AMOUNT", 'N', 10, 2, 0},
      {"ACTIVE", 'L', 1, 0, 0},  {"OK", 'L', 1, 0, 0},      {"CREATED", 'T', 8, 0, 0},
      {"TIME", 'T', 8, 0, 0},    {"NOTE", 'M', 10, 0, 0},   {"N", 'N', 5, 0, 0},
      {"PRICE", 'Y', 8, 4, 0},   {"RATE", 'B', 8, 2, 0},    {"MAYBE", 'C', 5, 0, STAT4NULLABLE},
  };
}

class ExprParse : public ::testing::Test {
 protected:
  ExprParse() : t(Fields()) {}
  void SetUp() override { ASSERT_NE(t.table, nullptr); }
  TableFixture t;
};

struct ErrorCase {
  const char* text;
  int code;
};

TEST_F(ExprParse, MalformedTextsGiveTheirErrorCodes) {
  std::string nested20, nested19;
  for (int i = 0; i < 19; ++i) nested20 += "1+(";
  nested20 += "1";
  nested20 += std::string(19, ')');
  for (int i = 0; i < 18; ++i) nested19 += "1+(";
  nested19 += "1";
  nested19 += std::string(18, ')');
  std::string deep = std::string(200, '(') + "1" + std::string(200, ')');
  const std::vector<ErrorCase> cases = {
      {"NAME 'x'", e4unrecOperator},          // text after a value that is no operator
      {"NAME)", e4unrecOperator},             // a bracket that nothing opened
      {"ACTIVE .NOT. OK", e4unrecOperator},   // .NOT. is a prefix only
      {"LEFT(NAME, N)", e4notConstant},       // the length must be a constant
      {"STR(AMOUNT, 5, UID)", e4notConstant},
      {"SUBSTR(NAME, 1 + 1)", e4notConstant},
      {"UPPER(UID)", e4typeSub},              // no variant takes an I value
      {"NAME + 1", e4typeSub},
      {"ACTIVE .AND. NAME", e4typeSub},
      {"BORN + BORN", e4typeSub},
      {"(NAME", e4rightMissing},
      {"UPPER(NAME", e4rightMissing},
      {"UPPER(", e4rightMissing},
      {"(NAME, EMAIL)", e4rightMissing},
      {"'abc", e4unterminated},
      {"\"abc'", e4unterminated},
      {"[abc", e4unterminated},
      {"NOSUCH", e4fieldName},
      {"NOSUCHFUNC(1)", e4unrecFunction},
      {"UPPERX(NAME)", e4unrecFunction},      // names match in full length
      {"NAME +", e4complete},
      {".NOT.", e4complete},
      {"", e4unrecValue},
      {"-NAME", e4unrecValue},                // a sign without a number
      {"+", e4unrecValue},
      {"ABCDEFGHIJK", e4unrecValue},          // field names have at most 10 characters
      {"UPPER(NAME,)", e4unrecValue},
      {"#", e4unrecValue},
      {"NOALIAS->NAME", e4dataName},
      {"UPPER(NAME, 1)", e4numParms},
      {"IIF(ACTIVE, 1)", e4numParms},
      {"DATE(1)", e4numParms},
      {"NAME +\t'x'", e4unrecValue},          // only blanks are skipped before a value
      {nested20.c_str(), e4overflow},         // 20 values pending at once
      {deep.c_str(), e4overflow},
  };
  for (const ErrorCase& c : cases) {
    int code = 0;
    t.Eval(c.text, nullptr, &code);
    EXPECT_EQ(code, c.code) << c.text;
    EXPECT_EQ(t.c4()->lastError, c.code) << c.text;  // reported with failExpression on
  }
  int code = 0;
  t.Eval(nested19.c_str(), nullptr, &code);
  EXPECT_EQ(code, 0) << "19 pending values are accepted";
  EXPECT_DOUBLE_EQ(t.EvalNumber(nested19.c_str()), 19);
}

TEST(ExprErrors, CodesCarryTheirMessages) {
  struct Case {
    int code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {e4fieldName, "Unrecognized Field Name"},
      {e4commaExpected, "Comma or Bracket Expected"},
      {e4complete, "Expression not Complete"},
      {e4dataName, "Data File Name not Located"},
      {e4notConstant, "SUBSTR() and STR() need Constant Parameters"},
      {e4numParms, "Number of Parameters is Wrong"},
      {e4overflow, "Overflow while Evaluating Expression"},
      {e4rightMissing, "Right Bracket Missing"},
      {e4typeSub, "Sub-expression Type is Wrong"},
      {e4unrecFunction, "Unrecognized Function"},
      {e4unrecOperator, "Unrecognized Operator"},
      {e4unrecValue, "Unrecognized Value"},
      {e4unterminated, "Unterminated String"},
      {e4tagExpr, "Expression Invalid for Tag"},
      {e4memory, "Out of Memory"},
      {e4result, "Unexpected Result"},
      {e4info, "Unexpected Information"},
      {e4notSupported, "Function unsupported"},
  };
  for (const Case& c : cases) EXPECT_STREQ(error4text(c.code), c.message) << c.code;
}

TEST_F(ExprParse, ReportQuotesTheExpression) {
  t.c4()->errorsSilent = 0;
  ::testing::internal::CaptureStderr();
  t.Eval("UPPER(UID)");
  std::string report = ::testing::internal::GetCapturedStderr();
  t.c4()->errorsSilent = 1;
  EXPECT_NE(report.find("-460"), std::string::npos) << report;
  EXPECT_NE(report.find("Sub-expression Type is Wrong"), std::string::npos) << report;
  EXPECT_NE(report.find("UPPER(UID)"), std::string::npos) << report;
}

TEST_F(ExprParse, WithoutFailExpressionNothingIsRecorded) {
  t.c4()->failExpression = 0;
  t.c4()->lastError = 0;
  int code = 0;
  EXPR4* e = expr4parseTag(t.table, "NAME 'x'", nullptr, &code);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(code, e4unrecOperator);
  EXPECT_EQ(t.c4()->lastError, 0);
}

TEST_F(ExprParse, PendingErrorRefusesParsing) {
  t.c4()->lastError = e4read;
  EXPECT_EQ(expr4parse(t.table, "NAME"), nullptr);
  EXPECT_EQ(t.c4()->lastError, e4read);
  t.c4()->lastError = 0;
}

TEST_F(ExprParse, TagExpressionsRefuseOtherAliases) {
  TABLE4* other = d4create(t.c4(), (t.dir() / "OTHER").c_str(),
                           std::vector<FIELDSPEC4>{{"CODE", 'C', 4, 0, 0}, {}}.data(), nullptr);
  ASSERT_NE(other, nullptr);
  int code = 0;
  int tag = 1;
  t.c4()->lastError = 0;
  EXPECT_EQ(expr4parseTag(t.table, "OTHER->CODE", &tag, &code), nullptr);
  EXPECT_EQ(code, e4tagExpr);
  // Outside a tag the other handle's fields are allowed, by "->" or ".".
  t.c4()->lastError = 0;
  f4assign(d4field(other, "CODE"), "abcd");
  EXPECT_EQ(t.Eval("OTHER->CODE"), "abcd");
  EXPECT_EQ(t.Eval("other.code + 'x'"), "abcdx");
  // The own alias is allowed in a tag.
  t.c4()->lastError = 0;
  EXPR4* own = expr4parseTag(t.table, "TEST->NAME", &tag, &code);
  ASSERT_NE(own, nullptr) << code;
  expr4free(own);
  // With no handle of that alias the dot is not an alias separator.
  EXPECT_EQ(t.Eval("NOALIAS.NAME", nullptr, &code), "");
  EXPECT_EQ(code, e4fieldName);
}

TEST_F(ExprParse, PrecedenceOfArithmetic) {
  struct Case {
    const char* text;
    double value;
  };
  const std::vector<Case> cases = {
      {"2 ^ 3 ^ 2", 64},  {"2 ** 3 ** 2", 64}, {"2 + 3 * 4", 14}, {"(2 + 3) * 4", 20},
      {"10 - 2 - 3", 5},  {"2 * 3 ^ 2", 18},   {"7 / 0", 0},      {"12 / 4 / 3", 1},
      {"-2 ^ 2", 4},      {"3--2", 5},         {"3 - -2", 5},     {".5 + 1.25", 1.75},
      {"1.5.9 + 0", 1.5}, {"2+3*4-6/2", 11},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(t.EvalNumber(c.text), c.value) << c.text;
}

// The postfix program as "code/args" words.
std::string Program(TABLE4* table, const char* text) {
  EXPR4* e = expr4parse(table, text);
  if (!e) return "error";
  std::string out;
  for (const engine4::E4STEP& s : e->program->steps) {
    if (!out.empty()) out += ' ';
    short code = engine4::kE4functions[s.fn].code;
    if (code == engine4::E4fieldLogical) out += "L";
    else out += std::to_string(code) + "/" + std::to_string(s.numArgs);
  }
  expr4free(e);
  return out;
}

TEST_F(ExprParse, AndOrMergeIntoOneStep) {
  // .AND. 22, .OR. 20, .NOT. 18, "=" 40.
  struct Case {
    const char* text;
    const char* program;
  };
  const std::vector<Case> cases = {
      {"ACTIVE .AND. OK .AND. ACTIVE .OR. OK", "L L L 22/3 L 20/2"},
      {"ACTIVE .OR. OK .AND. ACTIVE .OR. OK", "L L L 22/2 L 20/3"},
      {"ACTIVE .AND. OK .AND. ACTIVE .AND. OK", "L L L L 22/4"},
      {".NOT. ACTIVE .AND. OK", "L 18/1 L 22/2"},
      {".NOT. ACTIVE = OK", "L L 40/2 18/1"},
      {"ACTIVE .AND. .NOT. OK .AND. ACTIVE", "L L 18/1 L 22/3"},
      {"(ACTIVE .AND. OK) .AND. ACTIVE", "L L 22/2 L 22/2"},
  };
  for (const Case& c : cases) EXPECT_EQ(Program(t.table, c.text), c.program) << c.text;
}

TEST_F(ExprParse, LogicalResults) {
  t.Set("ACTIVE", "T");
  t.Set("OK", "F");
  t.Set("NAME", "Kim");
  struct Case {
    const char* text;
    int value;
  };
  const std::vector<Case> cases = {
      {".T.", 1},
      {".f.", 0},
      {".TRUE. .and. .false.", 0},
      {".NOT. .T. .AND. .F.", 0},
      {".NOT. .F. .OR. .F.", 1},
      {"ACTIVE .AND. OK .AND. ACTIVE .OR. ACTIVE", 1},
      {"ACTIVE .AND. (OK .OR. ACTIVE)", 1},
      {".NOT. NAME = 'Kim'", 0},
      {"1 = 1 .AND. 2 = 2", 1},
      {"3 # 4", 1},
      {"3 <> 3", 0},
      {"3 => 3", 1},
      {"3 =< 2", 0},
      {"ACTIVE = .T.", 1},
      {"OK # .T.", 1},
      {"NAME='Kim'.AND.ACTIVE", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(t.EvalLogical(c.text), c.value) << c.text;
}

TEST_F(ExprParse, LexicalRules) {
  t.Set("NAME", "Kim");
  t.SetDateTime("TIME", "2000010100:00:00");
  char type = 0;
  // Control bytes are skipped around operators and arguments, not before a value.
  EXPECT_EQ(t.Eval("UPPER(\tNAME\n)\t+ 'x'"), std::string("KIM") + std::string(18, ' ') + "x");
  // Strings in all three delimiters, no escapes.
  EXPECT_EQ(t.Eval("\"it's\" + 'say \"hi\"' + [a'b\"c]"), "it'ssay \"hi\"a'b\"c");
  // Function and field names in any case.
  EXPECT_EQ(t.Eval("upper(name)"), std::string("KIM") + std::string(18, ' '));
  // "TIME" without brackets is the field.
  t.Eval("TIME", &type);
  EXPECT_EQ(type, 'T');
  t.Eval("TIME()", &type);
  EXPECT_EQ(type, 'C');
  // A function name followed by blanks before its bracket.
  EXPECT_EQ(t.Eval("LEFT  (NAME, 2)"), "Ki");
  // A number stops before ".AND." and before a dot followed by a letter.
  EXPECT_EQ(t.EvalLogical("1=1.AND.2=2"), 1);
  int code = 0;
  t.Eval("1.T.", nullptr, &code);
  EXPECT_EQ(code, e4unrecOperator);
}

struct LengthCase {
  const char* text;
  char type;
  int len;
};

TEST_F(ExprParse, ResultTypesAndLengths) {
  const std::vector<LengthCase> cases = {
      {"NAME", 'C', 21},
      {"NAME + EMAIL", 'C', 122},
      {"TRIM(NAME) + EMAIL", 'C', 122},
      {"NAME - EMAIL", 'C', 122},
      {"BID + UID", 'n', 8},
      {"UID", 'I', 4},
      {"BORN", 'D', 8},
      {"BORN + 1", 'd', 8},
      {"BORN - BORN", 'n', 8},
      {"AMOUNT", 'N', 10},
      {"AMOUNT * 2", 'n', 8},
      {"ACTIVE", 'L', 4},
      {"CREATED", 'T', 8},
      {"PRICE", 'Y', 8},
      {"PRICE + 1", 'n', 8},
      {"RATE", 'n', 8},
      {"NOTE", 'C', 1024},
      {"CHR(65)", 'C', 1},
      {"DEL()", 'C', 1},
      {"STR(AMOUNT)", 'C', 10},
      {"STR(AMOUNT, 6, 2)", 'C', 6},
      {"STR(AMOUNT, -3)", 'C', 10},
      {"STRZERO(UID, 6)", 'C', 6},
      {"SUBSTR(NAME, 3)", 'C', 19},
      {"SUBSTR(NAME, 3, 4)", 'C', 4},
      {"SUBSTR(NAME, 30)", 'C', 0},
      {"SUBSTR(NAME, 20, 5)", 'C', 2},
      {"SUBSTR(NAME, 0, 5)", 'C', 5},
      {"LEFT(NAME, 30)", 'C', 21},
      {"LEFT(NAME, 5)", 'C', 5},
      {"LEFT(NAME)", 'C', 0},
      {"RIGHT(NAME, 4)", 'C', 4},
      {"RIGHT(NAME, -4)", 'C', 0},
      {"PADL(NAME, 30)", 'C', 30},
      {"PADR(NAME, 5)", 'C', 5},
      {"TIME()", 'C', 8},
      {"UPPER(EMAIL)", 'C', 101},
      {"DTOS(BORN)", 'C', 8},
      {"DTOS(BORN + 1)", 'C', 8},
      {"DTOC(BORN)", 'C', 8},
      {"DTOC(BORN, 1)", 'C', 8},
      {"TRIM(NAME)", 'C', 21},
      {"LTRIM(NAME)", 'C', 21},
      {"ALLTRIM(NAME)", 'C', 21},
      {"IIF(ACTIVE, NAME, EMAIL)", 'C', 101},
      {"IIF(ACTIVE, 1, UID)", 'n', 8},
      {"IIF(ACTIVE, BORN, BORN + 1)", 'd', 8},
      {"IIF(ACTIVE, OK, .T.)", 'L', 4},
      {"STOD('20000101')", 'd', 8},
      {"CTOD('01/01/00')", 'd', 8},
      {"DATE()", 'd', 8},
      {"DAY(BORN)", 'n', 8},
      {"MONTH(BORN + 1)", 'n', 8},
      {"YEAR(BORN)", 'n', 8},
      {"DELETED()", 'L', 4},
      {"RECCOUNT()", 'n', 8},
      {"RECNO()", 'n', 8},
      {"VAL(NAME)", 'n', 8},
      {"L2BIN(UID)", 'C', 4},
      {"PAGENO()", 'n', 8},
      {"DESCEND(NAME)", 'C', 21},
      {"DESCEND(UID)", 'C', 4},
      {"DESCEND(AMOUNT)", 'C', 10},
      {"DESCEND(BORN)", 'C', 8},
      {"DESCEND(ACTIVE)", 'C', 1},
      {"DESCEND(CREATED)", 'C', 8},
      {"ASCEND(BORN)", 'C', 8},
      {"ASCEND(BID + UID)", 'C', 8},
      {"NAME $ EMAIL", 'L', 4},
      {"NAME < EMAIL", 'L', 4},
      {"UPPER(NAME) + DTOS(BORN)", 'C', 29},
  };
  for (const LengthCase& c : cases) {
    t.c4()->lastError = 0;
    EXPR4* e = expr4parse(t.table, c.text);
    ASSERT_NE(e, nullptr) << c.text << " error " << t.c4()->lastError;
    EXPECT_EQ(expr4type(e), c.type) << c.text;
    EXPECT_EQ(expr4len(e), c.len) << c.text;
    expr4free(e);
  }
}

TEST_F(ExprParse, DtocWithTwoArgumentsIsDtos) {
  EXPECT_EQ(Program(t.table, "DTOC(BORN, 1)"), Program(t.table, "DTOS(BORN)"));
  // On a date-time field both are refused alike.
  int a = 0, b = 0;
  t.Eval("DTOC(CREATED, 1)", nullptr, &a);
  t.Eval("DTOS(CREATED)", nullptr, &b);
  EXPECT_EQ(a, e4typeSub);
  EXPECT_EQ(b, e4typeSub);
}

TEST_F(ExprParse, DtocTakesTheContextsDatePicture) {
  code4dateFormatSet(t.c4(), "CCYY/MM/DD");
  t.Set("BORN", "20010917");
  EXPECT_EQ(t.Eval("DTOC(BORN)"), "2001/09/17");
  EXPECT_DOUBLE_EQ(t.EvalNumber("CTOD('2001/09/17') - BORN"), 0);
}

TEST_F(ExprParse, MemoLengthInTagsAndElsewhere) {
  int tag = 1, code = 0;
  EXPR4* e = expr4parseTag(t.table, "NOTE", &tag, &code);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4len(e), 240);
  expr4free(e);
  t.c4()->memoExprLength = 50;
  e = expr4parse(t.table, "NOTE + NAME");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4len(e), 71);
  expr4free(e);
}

TEST_F(ExprParse, NullableFieldsAndPureCharacterExpressions) {
  struct Case {
    const char* text;
    int nullable, pureChar;
  };
  const std::vector<Case> cases = {
      {"NAME", 0, 1},          {"NAME + EMAIL", 0, 1}, {"UPPER(NAME)", 0, 1},
      {"'abc'", 0, 1},         {"BID", 0, 0},          {"DTOS(BORN) + NAME", 0, 0},
      {"MAYBE", 1, 1},         {"NAME + MAYBE", 1, 1}, {"DESCEND(NAME)", 0, 1},
  };
  for (const Case& c : cases) {
    EXPR4* e = expr4parse(t.table, c.text);
    ASSERT_NE(e, nullptr) << c.text;
    EXPECT_EQ(expr4nullable(e), c.nullable) << c.text;
    EXPECT_EQ(e->pureChar, c.pureChar) << c.text;
    expr4free(e);
  }
}

TEST_F(ExprParse, NullFlagsFieldHasNoExpressionForm) {
  ASSERT_NE(t.table->nullFlags, nullptr);
  EXPECT_EQ(engine4::e4fieldValueType(t.table->nullFlags), 0);
  EXPECT_EQ(engine4::e4fieldValueType(t.F("NOTE")), 'C');
  EXPECT_EQ(engine4::e4fieldValueType(t.F("AMOUNT")), 'N');
  EXPECT_EQ(engine4::e4fieldValueType(t.F("RATE")), 'n');
}

TEST_F(ExprParse, SourceTextIsAPrivateCopy) {
  std::string text = "UPPER(NAME)";
  EXPR4* e = expr4parse(t.table, text.c_str());
  ASSERT_NE(e, nullptr);
  text[0] = 'X';
  EXPECT_STREQ(expr4source(e), "UPPER(NAME)");
  expr4free(e);
}

// Texts made of random tokens parse to an error code or to a program whose
// evaluation gives a value of the announced length (memory errors show under
// the sanitizers).
TEST_F(ExprParse, RandomTokenTextsNeverBreakTheEngine) {
  const char* tokens[] = {"NAME", "UID", "BORN", "AMOUNT", "ACTIVE", "NOTE", "CREATED", "(",
                          ")", ",", " + ", " - ", " * ", " / ", " ^ ", " = ", " < ", " >= ",
                          " $ ", " .AND. ", " .OR. ", ".NOT. ", "'ab'", "[x y]", "1", "-2.5",
                          "0", "STR(", "STRZERO(", "SUBSTR(", "LEFT(", "RIGHT(", "PADL(",
                          "PADR(", "IIF(", "TRIM(", "LTRIM(", "ALLTRIM(", "UPPER(", "DTOS(",
                          "DTOC(", "STOD(", "CTOD(", "DESCEND(", "ASCEND(", "VAL(", "CHR(",
                          "L2BIN(", "DAY(", "YEAR(", ".T.", ".F.", "DELETED()", "RECNO()"};
  std::mt19937 random(12345);
  int parsed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int n = 1 + static_cast<int>(random() % 9);
    for (int k = 0; k < n; ++k) text += tokens[random() % (sizeof tokens / sizeof tokens[0])];
    t.c4()->lastError = 0;
    int code = 0;
    EXPR4* e = expr4parseTag(t.table, text.c_str(), nullptr, &code);
    if (!e) {
      EXPECT_LT(code, 0) << text;
      continue;
    }
    ++parsed;
    char* out = nullptr;
    EXPECT_EQ(expr4vary(e, &out), expr4len(e)) << text;
    char* key = nullptr;
    EXPECT_GE(expr4key(e, &key, nullptr), 0) << text;
    expr4free(e);
  }
  EXPECT_GT(parsed, 500);
}

TEST_F(ExprParse, NullArguments) {
  EXPECT_EQ(expr4parse(nullptr, "NAME"), nullptr);
  EXPECT_EQ(expr4parse(t.table, nullptr), nullptr);
  EXPECT_EQ(t.c4()->lastError, e4parmNull);
  t.c4()->lastError = 0;
  EXPECT_EQ(expr4vary(nullptr, nullptr), e4parmNull);
  EXPR4* e = expr4parse(t.table, "NAME");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(expr4vary(e, nullptr), e4parmNull);
  EXPECT_EQ(expr4key(e, nullptr, nullptr), e4parmNull);
  EXPECT_EQ(expr4key(nullptr, nullptr, nullptr), e4parmNull);
  expr4free(e);
}

}  // namespace
