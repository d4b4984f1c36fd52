// The process-wide collation table (numbers 1-4), the weight forms of
// character and wide texts under a table-driven collation, the choice of a
// tag's collation from its header name or from the context's settings, and
// the loading of collation 4 from the collation tables on disk.
//
// Collation tables on disk (opened by name in the current directory):
//   coll4inf  record n describes collation n: ISUNICODE, COLLSTART, COLLEND,
//             COMPSTART, COMPEND, EXPANREQD, COMPREQD, SUBREQD, COMPCHAR,
//             NOTAILCHAR, TRANSREQD, LOSSINFO
//   collate4  records COLLSTART..COLLEND: TRANS_CODE (primary weight) and
//             SBSORTCODE (secondary weight) of character codes 0, 1, ...
//   compres4  records COMPSTART..COMPEND: IS_EXPAND, CHAR1, CHAR2, SUBSORTMOD
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/collate4.h"
#include "engine/data4.h"
#include "engine/expr4internal.h"

namespace {

// Location of the collation checks in error reports.
constexpr long kLocCollate = 90910;
constexpr const char* kUnsupported = "unsupported collating sequence";

struct Entry {
  COLLATE4 coll{};
  std::unique_ptr<uint16_t[]> wide;
  std::vector<unsigned char> weights;       // loaded tables only
  std::vector<COLLATE4EXPAND> expansions;   // loaded tables only
  bool builtIn = false;
};

struct Table {
  std::mutex mutex;
  Entry entries[COLLATE4numMax + 1];
  Table() {
    entries[COLLATE4numMachine].coll.type = COLLATE4machine;
    for (int n : {COLLATE4numGeneral, COLLATE4numGeneralDos}) {
      COLLATE4& c = entries[n].coll;
      c.type = COLLATE4full;
      c.weights = n == COLLATE4numGeneral ? engine4::generalWeightsAnsi()
                                          : engine4::generalWeightsDos();
      c.expansions = engine4::generalExpansions();
      c.keyFactor = 1;
      c.expandMarker = 0xFF;
      c.noTailMarker = 0xFF;
      c.lossy = 1;
      entries[n].builtIn = true;
    }
    entries[COLLATE4numLoaded].coll.type = COLLATE4load;
  }
};

Table& Collations() {
  static Table table;
  return table;
}

int Unsupported(CODE4* c4, int code = e4notSupported) {
  return error4reportAt(c4, code, kLocCollate, kUnsupported);
}

// --- reading the collation tables ------------------------------------------

// The value of a numeric (N, F, I, B) or character field as an integer.
long FieldNumber(TABLE4* t, const char* name, bool* found) {
  COLUMN4* f = engine4::e4fieldLookup(t, name);
  *found = f != nullptr;
  if (!f) return 0;
  const char* p = t->record + f->offset;
  switch (f->type) {
    case 'I':
      return engine4::e4getInt(p);
    case 'B':
      return static_cast<long>(engine4::e4toInt32(engine4::e4getDouble(p)));
    case 'C':
      // A one-character field holds the character itself.
      if (f->len == 1) return static_cast<unsigned char>(p[0]);
      return c4textToLong(p, f->len);
    default:
      return c4textToLong(p, f->len);
  }
}

bool FieldLogical(TABLE4* t, const char* name, bool* found) {
  COLUMN4* f = engine4::e4fieldLookup(t, name);
  *found = f != nullptr;
  if (!f) return false;
  const char* p = t->record + f->offset;
  if (f->type == 'L' || f->type == 'C') return std::strchr("TtYy", p[0]) && p[0] != 0;
  return FieldNumber(t, name, found) != 0;
}

struct OpenTable {
  TABLE4* t = nullptr;
  explicit OpenTable(CODE4* c4, const char* name) : t(d4open(c4, name)) {}
  ~OpenTable() {
    if (t) d4close(t);
  }
};

struct CollInfo {
  bool isUnicode, expandReq, compReq, subReq, transReq, lossInfo;
  long collStart, collEnd, compStart, compEnd, compChar, noTailChar;
};

bool ReadInfo(TABLE4* t, long n, CollInfo* info) {
  if (n > d4recCount(t) || d4go(t, n) != 0) return false;
  bool ok = true, found = true;
  auto num = [&](const char* name) {
    long v = FieldNumber(t, name, &found);
    ok = ok && found;
    return v;
  };
  auto flag = [&](const char* name) {
    bool v = FieldLogical(t, name, &found);
    ok = ok && found;
    return v;
  };
  info->isUnicode = flag("ISUNICODE");
  info->collStart = num("COLLSTART");
  info->collEnd = num("COLLEND");
  info->compStart = num("COMPSTART");
  info->compEnd = num("COMPEND");
  info->expandReq = flag("EXPANREQD");
  info->compReq = flag("COMPREQD");
  info->subReq = flag("SUBREQD");
  info->compChar = num("COMPCHAR");
  info->noTailChar = num("NOTAILCHAR");
  info->transReq = flag("TRANSREQD");
  info->lossInfo = flag("LOSSINFO");
  return ok;
}

// Weights of codes 0.. from records COLLSTART..COLLEND; codes beyond the
// range sort by their own value without secondary weight.
bool ReadWeights(TABLE4* t, const CollInfo& info, std::vector<unsigned char>* w) {
  w->assign(512, 0);
  for (int c = 0; c < 256; ++c) {
    (*w)[2 * c] = static_cast<unsigned char>(c);
    (*w)[2 * c + 1] = static_cast<unsigned char>(info.noTailChar);
  }
  long count = info.collEnd - info.collStart + 1;
  if (info.collStart < 1 || count < 1 || count > 256) return false;
  for (long i = 0; i < count; ++i) {
    if (info.collStart + i > d4recCount(t) || d4go(t, info.collStart + i) != 0) return false;
    bool f1 = false, f2 = false;
    long primary = FieldNumber(t, "TRANS_CODE", &f1);
    long secondary = FieldNumber(t, "SBSORTCODE", &f2);
    if (!f1 || !f2 || primary < 0 || primary > 255 || secondary < 0 || secondary > 255)
      return false;
    (*w)[2 * i] = static_cast<unsigned char>(primary);
    (*w)[2 * i + 1] = static_cast<unsigned char>(secondary);
  }
  return true;
}

bool ReadExpansions(TABLE4* t, const CollInfo& info, std::vector<COLLATE4EXPAND>* out) {
  out->clear();
  if (info.compStart >= 1 && info.compEnd >= info.compStart) {
    if (info.compEnd - info.compStart >= 256) return false;
    for (long r = info.compStart; r <= info.compEnd; ++r) {
      if (r > d4recCount(t) || d4go(t, r) != 0) return false;
      bool a = false, b = false, c = false, d = false;
      COLLATE4EXPAND e{};
      e.kind = FieldLogical(t, "IS_EXPAND", &a) ? COLLATE4expandEntry : COLLATE4compressEntry;
      e.first = static_cast<unsigned char>(FieldNumber(t, "CHAR1", &b));
      e.second = static_cast<unsigned char>(FieldNumber(t, "CHAR2", &c));
      e.subSortMod = static_cast<unsigned char>(FieldNumber(t, "SUBSORTMOD", &d));
      if (!a || !b || !c) return false;
      out->push_back(e);
    }
  }
  out->push_back(COLLATE4EXPAND{COLLATE4endEntry, 0, 0, 0});
  return true;
}

int KindOf(const CollInfo& info) {
  if (!info.transReq) return COLLATE4machine;
  bool other = info.expandReq || info.compReq;
  if (info.subReq && other) return COLLATE4full;
  if (other) return COLLATE4compress;
  if (info.subReq) return COLLATE4subSort;
  return COLLATE4simple;
}

// Loads collation n from the tables; 0 or -1090.
int LoadEntry(CODE4* c4, int n, Entry& e) {
  if (!c4) return e4notSupported;
  int pending = c4->lastError;
  if (pending < 0) return pending;
  CollInfo info{};
  std::vector<unsigned char> weights;
  std::vector<COLLATE4EXPAND> expansions;
  {
    OpenTable inf(c4, "coll4inf");
    if (!inf.t || !ReadInfo(inf.t, n, &info)) return e4notSupported;
  }
  if (info.isUnicode) return e4notSupported;
  int kind = KindOf(info);
  if (kind != COLLATE4machine) {
    OpenTable coll(c4, "collate4");
    if (!coll.t || !ReadWeights(coll.t, info, &weights)) return e4notSupported;
    if (info.expandReq || info.compReq) {
      OpenTable comp(c4, "compres4");
      if (!comp.t || !ReadExpansions(comp.t, info, &expansions)) return e4notSupported;
    } else {
      expansions.push_back(COLLATE4EXPAND{COLLATE4endEntry, 0, 0, 0});
    }
  }
  if (c4->lastError < 0) return e4notSupported;
  c4->lastError = pending;  // a quiet "not opened" of a table does not stay behind
  e.weights = std::move(weights);
  e.expansions = std::move(expansions);
  COLLATE4& c = e.coll;
  c.weights = e.weights.empty() ? nullptr : e.weights.data();
  c.expansions = e.expansions.empty() ? nullptr : e.expansions.data();
  c.keyFactor = (info.subReq || info.expandReq) ? 1 : 0;
  c.expandMarker = static_cast<unsigned char>(info.compChar);
  c.noTailMarker = static_cast<unsigned char>(info.noTailChar);
  c.lossy = info.lossInfo ? 0 : 1;
  c.type = kind;
  return 0;
}

// The expansion entry `index` of the list, or null beyond its end.
const COLLATE4EXPAND* Expansion(const COLLATE4* coll, int index) {
  const COLLATE4EXPAND* e = coll->expansions;
  if (!e) return nullptr;
  for (int i = 0; i < index; ++i, ++e)
    if (e->kind == COLLATE4endEntry) return nullptr;
  return e->kind == COLLATE4endEntry ? nullptr : e;
}

}  // namespace

namespace {

// collate4get without the report: the collation, or null with *code set.
const COLLATE4* GetQuietly(CODE4* c4, int number, int wide, int* code) {
  *code = e4notSupported;
  if (number < 1 || number > COLLATE4numMax) return nullptr;
  Table& table = Collations();
  std::lock_guard<std::mutex> hold(table.mutex);
  Entry& e = table.entries[number];
  if (e.coll.type == COLLATE4load) {
    int rc = LoadEntry(c4, number, e);
    if (rc < 0) {
      *code = rc;
      return nullptr;
    }
  }
  if (wide && e.coll.type != COLLATE4machine && !e.wide) {
    std::unique_ptr<uint16_t[]> w(new (std::nothrow) uint16_t[2 * 0x10000]);
    if (!w || !e.coll.weights) return nullptr;
    engine4::buildWideWeights(e.coll, e.builtIn, w.get());
    e.wide = std::move(w);
    e.coll.wideWeights = e.wide.get();
  }
  *code = 0;
  return &e.coll;
}

}  // namespace

const COLLATE4* collate4get(CODE4* c4, int number, int wide) {
  int code = 0;
  const COLLATE4* coll = GetQuietly(c4, number, wide, &code);
  // An error the loading reported itself stays as it is.
  if (!coll && !(c4 && c4->lastError < 0)) Unsupported(c4);
  return coll;
}

int collate4charKey(const COLLATE4* coll, const char* text, int len, char* out) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  unsigned char* o = reinterpret_cast<unsigned char*>(out);
  const unsigned char* w = coll->weights;
  int n = len;
  while (n > 0 && in[n - 1] == ' ') --n;
  int outLen = 2 * len;
  // First pass: primary weights.
  int at = 0;
  for (int i = 0; i < n; ++i) {
    unsigned char primary = w[2 * in[i]];
    if (primary == coll->expandMarker) {
      const COLLATE4EXPAND* e = Expansion(coll, w[2 * in[i] + 1]);
      if (!e || e->kind != COLLATE4expandEntry) return e4notSupported;
      o[at++] = w[2 * e->first];
      o[at++] = w[2 * e->second];
    } else {
      o[at++] = primary;
    }
  }
  // Second pass: the secondary weights that fit, then zero bytes.
  auto tail = [&](unsigned char s) {
    if (s != coll->noTailMarker && at < outLen) o[at++] = s;
  };
  for (int i = 0; i < n && at < outLen; ++i) {
    unsigned char primary = w[2 * in[i]];
    if (primary == coll->expandMarker) {
      const COLLATE4EXPAND* e = Expansion(coll, w[2 * in[i] + 1]);
      tail(w[2 * e->first + 1]);
      tail(w[2 * e->second + 1]);
    } else {
      tail(w[2 * in[i] + 1]);
    }
  }
  if (at < outLen) std::memset(o + at, 0, outLen - at);
  return 0;
}

int collate4wideKey(const COLLATE4* coll, const char* text, int len, char* out) {
  const uint16_t* w = coll->wideWeights;
  if (!w) return e4notSupported;
  int units = len / 2;
  auto unit = [&](int i) {
    return static_cast<uint16_t>(static_cast<unsigned char>(text[2 * i]) |
                                 (static_cast<unsigned char>(text[2 * i + 1]) << 8));
  };
  int n = units;
  while (n > 0 && unit(n - 1) == 0x0020) --n;
  int outLen = (coll->keyFactor + 1) * len;
  int at = 0;
  auto put = [&](uint16_t v) {
    if (at + 2 > outLen) return;
    out[at++] = static_cast<char>(v >> 8);
    out[at++] = static_cast<char>(v);
  };
  for (int i = 0; i < n; ++i) {
    uint16_t u = unit(i);
    if (w[2 * u] == coll->expandMarker) {
      const COLLATE4EXPAND* e = Expansion(coll, w[2 * u + 1]);
      if (!e || e->kind != COLLATE4expandEntry) return e4notSupported;
      put(w[2 * e->first]);
      put(w[2 * e->second]);
    } else {
      put(w[2 * u]);
    }
  }
  if (coll->keyFactor) {
    auto tail = [&](uint16_t s) {
      if (s != coll->noTailMarker) put(s);
    };
    for (int i = 0; i < n && at + 2 <= outLen; ++i) {
      uint16_t u = unit(i);
      if (w[2 * u] == coll->expandMarker) {
        const COLLATE4EXPAND* e = Expansion(coll, w[2 * u + 1]);
        tail(w[2 * e->first + 1]);
        tail(w[2 * e->second + 1]);
      } else {
        tail(w[2 * u + 1]);
      }
    }
  }
  if (at < outLen) std::memset(out + at, 0, outLen - at);
  return 0;
}

int collate4fromName(CODE4* c4, const char* name8, unsigned char codePageMark) {
  if (!name8) return error4report(c4, e4parmNull, kLocCollate);
  if (name8[0] == 0) return 0;
  int number = -1;
  if (std::memcmp(name8, "GENERAL", 7) == 0 && name8[7] == 0) {
    // A mark other than 0, 1 or 3 is read like the Windows ANSI marks.
    number = codePageMark == 1 ? COLLATE4numGeneralDos : COLLATE4numGeneral;
  } else if (name8[0] == 'C' && name8[1] == 'B') {
    number = 0;
    for (int i = 2; i < 7; ++i) {
      if (name8[i] < '0' || name8[i] > '9') {
        number = -1;
        break;
      }
      number = number * 10 + (name8[i] - '0');
    }
  }
  if (number < 1 || number > COLLATE4numMax) return Unsupported(c4, e4index);
  if (number == COLLATE4numMachine) return 0;
  int code = 0;
  if (!GetQuietly(c4, number, 0, &code)) {
    if (c4 && c4->lastError < 0) return c4->lastError;
    return Unsupported(c4, e4index);
  }
  return number;
}

int collate4forNewTag(CODE4* c4, const EXPR4* keyExpr, unsigned char codePageMark,
                      char* name8) {
  std::memset(name8, 0, 8);
  if (!c4 || !keyExpr) return error4report(c4, e4parmNull, kLocCollate);
  bool wide = keyExpr->type == 'W' || keyExpr->type == 'O';
  if (keyExpr->type != 'C' && !wide) return 0;
  int c = wide ? c4->collateWide : c4->collateChar;
  int number = 0;
  bool general = false;
  if (c == 0) {
    if (c4->generalCollation == 0 || !keyExpr->pureChar) return 0;
    number = codePageMark == 1 ? COLLATE4numGeneralDos : COLLATE4numGeneral;
    general = true;
  } else if (c == COLLATE4numMachine) {
    return 0;
  } else if (c < 0 || c > COLLATE4numMax) {
    return Unsupported(c4);
  } else {
    if (!keyExpr->pureChar) return 0;
    number = c;
    general = (c == COLLATE4numGeneral && codePageMark == 3) ||
              (c == COLLATE4numGeneralDos && codePageMark == 1);
  }
  const COLLATE4* coll = collate4get(c4, number, wide);
  if (!coll) return e4notSupported;
  if (coll->type == COLLATE4machine) return 0;
  if (coll->type != COLLATE4full) return Unsupported(c4);
  if (general) {
    std::memcpy(name8, "GENERAL", 7);
  } else {
    char text[16];
    std::snprintf(text, sizeof text, "CB%05d", number);
    std::memcpy(name8, text, 7);
  }
  return number;
}
