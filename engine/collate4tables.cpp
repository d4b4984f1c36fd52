// The built-in weight tables of the "GENERAL" collations: collation 2 for the
// Windows ANSI code page (code page marks 0 and 3) and collation 3 for the
// MS-DOS US code page (mark 1), their shared expansion list, and the wide
// weight tables derived from them on first use.
//
// Each character code has two weights: a primary weight that orders letters
// without regard to case and accents, and a secondary weight that tells the
// accents apart. Primary weights run:
//   0x10         control characters (and codes the code page leaves undefined)
//   0x11         blank, tab (and the no-break space, secondary 1)
//   0x12..0x31   the ASCII punctuation in code order
//   0x32..0x55   the other symbols of the upper half
//   0x56..0x5F   the digits 0-9
//   0x60..0x7B   the letters A-Z (E is 0x66; 0x64 is the eth, 0x65 unused)
//   0xFF         expand: the secondary weight indexes the expansion list
// Secondary weights: 0xFF "no secondary" for characters without variants,
// 0x00 for a base letter that has accented variants, then 1 acute, 2 grave,
// 3 circumflex, 4 diaeresis, 5 tilde, 6 ring (and masculine ordinal),
// 7 cedilla, 8 any other mark (caron, stroke, hook, feminine ordinal).
// Symbols that are variants of an ASCII symbol (typographic quotes, dashes,
// the inverted marks) share its primary weight with secondaries 1-3.
//
// Weight table: OFFSET 2c / SIZE 2 / MEANING primary and secondary weight of
// character code c, for c = 0..255.
#include <array>
#include <mutex>

#include "engine/collate4.h"
#include "engine/expr4internal.h"

namespace engine4 {
namespace {

constexpr unsigned char kNone = 0xFF;     // no secondary weight
constexpr unsigned char kExpand = 0xFF;   // primary weight: expand
constexpr unsigned char kCtrl = 0x10;
constexpr unsigned char kBlank = 0x11;
constexpr unsigned char kFirstDigit = 0x56;

using Table = std::array<unsigned char, 512>;

constexpr void Set(Table& t, int code, int primary, int secondary) {
  t[2 * code] = static_cast<unsigned char>(primary);
  t[2 * code + 1] = static_cast<unsigned char>(secondary);
}

// Primary weight of an ASCII letter.
constexpr int Letter(char upper) {
  int w = 0x60 + (upper - 'A');
  if (upper >= 'E') w += 2;  // 0x64 is the eth, 0x65 stays free
  return w;
}

// Letters that have accented variants carry secondary weight 0.
constexpr bool HasVariants(char upper) {
  for (char c : {'A', 'C', 'E', 'I', 'N', 'O', 'U', 'Y', 'S', 'Z', 'F'})
    if (c == upper) return true;
  return false;
}

// The lower half, shared by both code pages.
constexpr void FillAscii(Table& t) {
  for (int c = 0; c < 128; ++c) Set(t, c, kCtrl, kNone);
  Set(t, 0x09, kBlank, kNone);
  Set(t, 0x20, kBlank, kNone);
  int w = 0x12;
  for (int c = 0x21; c < 0x7F; ++c) {
    bool punct = !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z');
    if (punct) Set(t, c, w++, kNone);
  }
  for (int d = 0; d < 10; ++d) Set(t, '0' + d, kFirstDigit + d, kNone);
  for (char u = 'A'; u <= 'Z'; ++u) {
    int sec = HasVariants(u) ? 0 : kNone;
    Set(t, u, Letter(u), sec);
    Set(t, u + 32, Letter(u), sec);
  }
}

// Weights of a variant of an ASCII character: its primary with `secondary`.
constexpr void Variant(Table& t, int code, char base, int secondary) {
  Set(t, code, t[2 * static_cast<unsigned char>(base)], secondary);
}

// Letter variants of the Windows ANSI upper half, upper and lower case.
struct Accent {
  int upper, lower;  // codes (lower 0: none)
  char base;
  int secondary;
};
constexpr Accent kAnsiAccents[] = {
    {0xC1, 0xE1, 'A', 1}, {0xC0, 0xE0, 'A', 2}, {0xC2, 0xE2, 'A', 3}, {0xC4, 0xE4, 'A', 4},
    {0xC3, 0xE3, 'A', 5}, {0xC5, 0xE5, 'A', 6}, {0xAA, 0, 'A', 8},    {0xC7, 0xE7, 'C', 7},
    {0xC9, 0xE9, 'E', 1}, {0xC8, 0xE8, 'E', 2}, {0xCA, 0xEA, 'E', 3}, {0xCB, 0xEB, 'E', 4},
    {0xCD, 0xED, 'I', 1}, {0xCC, 0xEC, 'I', 2}, {0xCE, 0xEE, 'I', 3}, {0xCF, 0xEF, 'I', 4},
    {0xD1, 0xF1, 'N', 5}, {0xD3, 0xF3, 'O', 1}, {0xD2, 0xF2, 'O', 2}, {0xD4, 0xF4, 'O', 3},
    {0xD6, 0xF6, 'O', 4}, {0xD5, 0xF5, 'O', 5}, {0xBA, 0, 'O', 6},    {0xD8, 0xF8, 'O', 8},
    {0xDA, 0xFA, 'U', 1}, {0xD9, 0xF9, 'U', 2}, {0xDB, 0xFB, 'U', 3}, {0xDC, 0xFC, 'U', 4},
    {0xDD, 0xFD, 'Y', 1}, {0x9F, 0xFF, 'Y', 4}, {0x8A, 0x9A, 'S', 8}, {0x8E, 0x9E, 'Z', 8},
    {0x83, 0, 'F', 8},
};

// Symbols that are variants of an ASCII symbol.
struct SymbolVariant {
  int code;
  char base;
  int secondary;
};
constexpr SymbolVariant kAnsiSymbolVariants[] = {
    {0x82, '\'', 1}, {0x91, '\'', 2}, {0x92, '\'', 3}, {0x84, '"', 1}, {0x93, '"', 2},
    {0x94, '"', 3},  {0x8B, '<', 1},  {0xAB, '<', 2},  {0x9B, '>', 1}, {0xBB, '>', 2},
    {0x96, '-', 1},  {0x97, '-', 2},  {0xAD, '-', 3},  {0x88, '^', 1}, {0x98, '~', 1},
    {0xA6, '|', 1},  {0xA1, '!', 1},  {0xBF, '?', 1},  {0xA0, ' ', 1}, {0xB9, '1', 1},
    {0xB2, '2', 1},  {0xB3, '3', 1},
};

// Symbols of their own, in this order from primary weight 0x32.
constexpr int kAnsiSymbols[] = {0x80, 0x85, 0x86, 0x87, 0x89, 0x95, 0x99, 0xA2, 0xA3, 0xA4,
                                0xA5, 0xA7, 0xA8, 0xA9, 0xAC, 0xAE, 0xAF, 0xB0, 0xB1, 0xB4,
                                0xB5, 0xB6, 0xB7, 0xB8, 0xBC, 0xBD, 0xBE, 0xD7, 0xF7};
constexpr int kFirstSymbol = 0x32;
// Spare symbol weights after those, used by the MS-DOS table.
constexpr int kDosPeseta = 0x4F;
constexpr int kDosNotReversed = 0x50;
constexpr int kDosBox = 0x51;
constexpr int kDosGreek = 0x52;
constexpr int kDosMath = 0x53;

constexpr Table BuildAnsi() {
  Table t{};
  FillAscii(t);
  for (int c = 128; c < 256; ++c) Set(t, c, kCtrl, kNone);  // undefined codes
  int w = kFirstSymbol;
  for (int c : kAnsiSymbols) Set(t, c, w++, kNone);
  for (const SymbolVariant& v : kAnsiSymbolVariants) Variant(t, v.code, v.base, v.secondary);
  for (const Accent& a : kAnsiAccents) {
    Variant(t, a.upper, a.base, a.secondary);
    if (a.lower) Variant(t, a.lower, a.base, a.secondary);
  }
  Set(t, 0xD0, Letter('D') + 1, kNone);  // eth, its own letter after D
  Set(t, 0xF0, Letter('D') + 1, kNone);
  Set(t, 0x8C, kExpand, 0);  // OE ligature
  Set(t, 0x9C, kExpand, 0);
  Set(t, 0xC6, kExpand, 1);  // AE ligature
  Set(t, 0xE6, kExpand, 1);
  Set(t, 0xDE, kExpand, 2);  // thorn: TH
  Set(t, 0xFE, kExpand, 2);
  Set(t, 0xDF, kExpand, 3);  // sharp s: SS
  return t;
}

constexpr Table kAnsi = BuildAnsi();

// MS-DOS US code: the Windows ANSI code of the same character.
struct DosMap {
  int dos, ansi;
};
constexpr DosMap kDosToAnsi[] = {
    {0x80, 0xC7}, {0x81, 0xFC}, {0x82, 0xE9}, {0x83, 0xE2}, {0x84, 0xE4}, {0x85, 0xE0},
    {0x86, 0xE5}, {0x87, 0xE7}, {0x88, 0xEA}, {0x89, 0xEB}, {0x8A, 0xE8}, {0x8B, 0xEF},
    {0x8C, 0xEE}, {0x8D, 0xEC}, {0x8E, 0xC4}, {0x8F, 0xC5}, {0x90, 0xC9}, {0x91, 0xE6},
    {0x92, 0xC6}, {0x93, 0xF4}, {0x94, 0xF6}, {0x95, 0xF2}, {0x96, 0xFB}, {0x97, 0xF9},
    {0x98, 0xFF}, {0x99, 0xD6}, {0x9A, 0xDC}, {0x9B, 0xA2}, {0x9C, 0xA3}, {0x9D, 0xA5},
    {0x9F, 0x83}, {0xA0, 0xE1}, {0xA1, 0xED}, {0xA2, 0xF3}, {0xA3, 0xFA}, {0xA4, 0xF1},
    {0xA5, 0xD1}, {0xA6, 0xAA}, {0xA7, 0xBA}, {0xA8, 0xBF}, {0xAA, 0xAC}, {0xAB, 0xBD},
    {0xAC, 0xBC}, {0xAD, 0xA1}, {0xAE, 0xAB}, {0xAF, 0xBB}, {0xE1, 0xDF}, {0xE6, 0xB5},
    {0xF1, 0xB1}, {0xF6, 0xF7}, {0xF8, 0xB0}, {0xFA, 0xB7}, {0xFD, 0xB2}, {0xFF, 0xA0},
};

constexpr Table BuildDos() {
  Table t{};
  FillAscii(t);
  for (int c = 0xB0; c < 0xE0; ++c) Set(t, c, kDosBox, kNone);  // box drawing, shades
  for (int c = 0xE0; c < 0xF0; ++c) Set(t, c, kDosGreek, kNone);
  for (int c = 0xF0; c < 0x100; ++c) Set(t, c, kDosMath, kNone);
  Set(t, 0x9E, kDosPeseta, kNone);
  Set(t, 0xA9, kDosNotReversed, kNone);
  for (const DosMap& m : kDosToAnsi) {
    t[2 * m.dos] = kAnsi[2 * m.ansi];
    t[2 * m.dos + 1] = kAnsi[2 * m.ansi + 1];
  }
  return t;
}

constexpr Table kDos = BuildDos();

// The expansion list of collations 2 and 3 (secondary weight = index).
constexpr COLLATE4EXPAND kExpansions[] = {
    {COLLATE4expandEntry, 'O', 'E', 0},
    {COLLATE4expandEntry, 'A', 'E', 0},
    {COLLATE4expandEntry, 'T', 'H', 0},
    {COLLATE4expandEntry, 'S', 'S', 0},
    {COLLATE4endEntry, 0, 0, 0},
};

// Unicode code points of the Windows ANSI codes 0x80-0x9F (0: undefined).
constexpr uint16_t kAnsiHighUnicode[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

const unsigned char* generalWeightsAnsi() { return kAnsi.data(); }
const unsigned char* generalWeightsDos() { return kDos.data(); }
const COLLATE4EXPAND* generalExpansions() { return kExpansions; }

// The wide table of a collation: the weights of the character of each 16-bit
// code. Codes below 0x80 take the character table's weights. For the
// built-in collations the Latin code points take the weights of their
// Windows ANSI character (the MS-DOS table gives every such character the
// same weights); a loaded table is read as a Latin-1 table. Every other code
// sorts after all characters by its own value, without secondary weight.
void buildWideWeights(const COLLATE4& coll, bool builtIn, uint16_t* out) {
  const unsigned char* w = coll.weights;
  for (uint32_t u = 0; u < 0x10000; ++u) {
    out[2 * u] = static_cast<uint16_t>(u);
    out[2 * u + 1] = coll.noTailMarker;
  }
  for (int c = 0; c < 0x80; ++c) {
    out[2 * c] = w[2 * c];
    out[2 * c + 1] = w[2 * c + 1];
  }
  const unsigned char* latin = builtIn ? kAnsi.data() : w;
  for (int c = 0x80; c < 0x100; ++c) {
    uint32_t u = c;
    if (builtIn && c < 0xA0) {
      u = kAnsiHighUnicode[c - 0x80];
      if (u == 0) continue;
    }
    out[2 * u] = latin[2 * c];
    out[2 * u + 1] = latin[2 * c + 1];
  }
  if (builtIn) {
    for (int c = 0x80; c < 0xA0; ++c) {  // C1 controls are control characters
      out[2 * c] = kCtrl;
      out[2 * c + 1] = kNone;
    }
  }
}

}  // namespace engine4
