// Internal declarations of the expression engine and the collation area,
// shared by their source files only (expr4parse.cpp, expr4type.cpp,
// expr4functions.cpp, expr4eval.cpp, expr4util.cpp, collate4*.cpp) and by
// their tests, which look at compiled programs.
//
// A compiled expression is a postfix program of steps. Each step names a row
// of the function table (kE4functions), which gives its routine, name,
// operation code, priority, result type and parameter types; rows of one
// operation code are its variants and follow each other. Evaluation runs the
// routines in order over a stack of value pointers: a field step pushes a
// pointer into the record buffer, every other step writes its result into
// the work area at the step's offset and pushes that.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/c4util.h"
#include "engine/collate4.h"
#include "engine/date4.h"
#include "engine/engine_core.h"
#include "engine/expr4.h"

namespace engine4 {

constexpr int kE4stackMax = 20;        // value stack entries
constexpr int kE4pendingMax = 19;      // values pending at once while typing
constexpr int kE4nestMax = 64;         // nesting of parentheses and calls
constexpr int kE4resultMax = 65535;    // longest value of any step
constexpr int kE4tagMemoMax = 240;     // memo bytes in a tag expression
constexpr int kE4numberTextMax = 49;   // characters of a number constant
constexpr int kE4aliasMax = 32;
constexpr int kE4fieldNameMax = 10;

struct E4EVAL;
struct E4STEP;
using E4ROUTINE = void (*)(E4EVAL& ev, const E4STEP& s);

// One row of the function table.
struct E4FUNC {
  E4ROUTINE routine;
  const char* name;  // null for internal rows and further variants
  short code;        // operation code; variants share it
  signed char nameLen;
  signed char priority;
  char resultType;
  signed char numParms;  // -1: any number of parms[0]
  char parms[3];
};

// Operation codes.
enum : short {
  E4fieldRef = 1,     // push the field's bytes as they are (C W O D N Y I P Q R T 1-4)
  E4fieldLogical = 2,
  E4fieldDateNum = 3,
  E4fieldNumNum = 4,
  E4fieldDouble = 5,  // B field
  E4fieldIntNum = 6,
  E4fieldCurNum = 7,
  E4fieldMemo = 8,
  E4constNum = 9,
  E4constStr = 10,
  E4true = 14,
  E4false = 16,
  E4not = 18,
  E4or = 20,
  E4and = 22,
  E4add = 25,
  E4sub = 30,
  E4eq = 40,
  E4ne = 50,
  E4ge = 60,
  E4le = 70,
  E4gt = 80,
  E4lt = 90,
  E4pow = 100,
  E4mul = 102,
  E4div = 105,
  E4contain = 110,
  E4chr = 120,
  E4del = 130,
  E4str = 140,
  E4strZero = 145,
  E4substr = 150,
  E4time = 160,
  E4upper = 170,
  E4dtos = 180,
  E4dtoc = 200,
  E4trim = 220,
  E4ltrim = 230,
  E4alltrim = 235,
  E4left = 240,
  E4right = 245,
  E4padl = 246,
  E4padr = 247,
  E4iif = 250,
  E4stod = 260,
  E4ctod = 270,
  E4date = 280,
  E4day = 290,
  E4month = 310,
  E4year = 340,
  E4deleted = 350,
  E4recCount = 360,
  E4recNo = 370,
  E4val = 380,
  E4l2bin = 385,
  E4pageNo = 410,
  E4descend = 420,
  E4ascend = 430,
};

extern const E4FUNC kE4functions[];
extern const int kE4functionCount;

// Row index of the first row with this code (and result type, for the
// internal field rows that differ only by it); -1 when none.
int e4row(short code);
int e4fieldRow(short code, char type);
// Row index range of the operators (".OR." to "$") and of the functions
// (CHR onwards).
int e4firstOperatorRow();
int e4lastOperatorRow();
int e4firstFunctionRow();

// One step of a compiled expression.
struct E4STEP {
  int fn = 0;              // row of kE4functions
  int numArgs = 0;
  char type = 0;           // result type and length
  int len = 0;
  int resultPos = 0;       // offset of the result in the work area
  int i1 = 0, i2 = 0, i3 = 0;  // row-dependent (see expr4type.cpp)
  E4ROUTINE routine = nullptr;
  COLUMN4* field = nullptr;    // field steps
  TABLE4* table = nullptr;     // the handle whose record a field step reads
  bool own = false;            // the field belongs to the expression's own handle
};

// The compiled program behind an EXPR4.
struct E4PROGRAM {
  std::vector<E4STEP> steps;
  std::vector<char> constants;
  std::vector<char> work;      // evaluation work area
  std::vector<char> key;       // key buffer of expr4key
  KEY4FORM machineForm{};      // key form used when expr4key gets no form
  int machineFormReady = 0;
};

// Evaluation state of one run.
struct E4EVAL {
  EXPR4* expr;
  char* work;
  const char* constants;
  const char* stack[kE4stackMax];
  int top;
  int error;                   // first error met (memo read), 0 if none
};

// Value access with any alignment.
inline double e4getDouble(const char* p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void e4putDouble(char* p, double v) { std::memcpy(p, &v, sizeof v); }
inline int32_t e4getInt(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void e4putInt(char* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

// Conversions that clamp instead of overflowing.
int32_t e4toInt32(double v);
int64_t e4toInt64(double v);

// The value type of a field as the expression engine sees it ('C' for a
// memo field pushed as text); 0 for a type without expression form.
char e4fieldValueType(const COLUMN4* f);
bool e4isMemoField(const COLUMN4* f);

// Null bit of a nullable field in the handle's current record buffer.
bool e4fieldIsNull(const COLUMN4* f);

// Type resolution and layout of the parsed steps (expr4type.cpp): 0 or a
// negative error code with *description set for the report.
int e4resolve(EXPR4* e, E4PROGRAM& p, const char** description);

// Whether a step's row makes the expression "purely character" (character
// field, character constant or character-valued function).
bool e4isPureCharStep(const E4STEP& s);

// Built-in weight tables (collate4tables.cpp).
const unsigned char* generalWeightsAnsi();
const unsigned char* generalWeightsDos();
const COLLATE4EXPAND* generalExpansions();
void buildWideWeights(const COLLATE4& coll, bool builtIn, uint16_t* out);

// Locate a COLUMN4 by name without reporting (d4field with reporting off).
COLUMN4* e4fieldLookup(TABLE4* t, const char* name);

}  // namespace engine4
