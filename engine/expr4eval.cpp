// Evaluation of compiled expressions: expr4vary, expr4true and expr4key run
// the steps under the process-wide evaluation lock, after re-binding the
// expression to the data handle it is evaluated for; plus freeing, the key
// length and key form of an expression, and the small accessors.
#include <cstring>
#include <mutex>
#include <new>

#include "engine/expr4internal.h"

namespace engine4 {
namespace {

// Evaluation of any two expressions is mutually exclusive.
std::mutex& EvalLock() {
  static std::mutex lock;
  return lock;
}

// Per-context data of the expression area (CODE4::exprData).
struct ExprContext {
  long pageNo = 0;
};

void FreeExprContext(CODE4* c4) {
  delete static_cast<ExprContext*>(c4->exprData);
  c4->exprData = nullptr;
  c4->exprDataFree = nullptr;
}

// Points the steps of the expression's own handle at the handle it is now
// evaluated for (same data file: the same field numbers).
void Rebind(EXPR4* e) {
  TABLE4* t = e->data;
  for (E4STEP& s : e->program->steps) {
    if (!s.own || !s.field) continue;
    s.table = t;
    s.field = &t->fields[s.i2];
  }
  e->bound = t;
}

// Runs the program; the caller holds the lock. Result length or error.
int Run(EXPR4* e, char** out) {
  if (e->bound != e->data) Rebind(e);
  E4PROGRAM& p = *e->program;
  E4EVAL ev;
  ev.expr = e;
  ev.work = p.work.data();
  ev.constants = p.constants.data();
  ev.top = 0;
  ev.error = 0;
  for (const E4STEP& s : p.steps) s.routine(ev, s);
  *out = const_cast<char*>(ev.stack[0]);
  if (ev.error) return ev.error;
  return e->len;
}

int Check(EXPR4* e, void* out, long location, const char* name) {
  if (!e || !out) return error4reportAt(e ? e->c4 : nullptr, e4parmNull, location, name);
  if (!e->data) return error4reportAt(e->c4, e4parmNull, location, name);
  if (e->c4 && e->c4->lastError < 0) return -1;
  return 0;
}

bool AnyNull(const EXPR4* e) {
  if (!e->nullable) return false;
  for (const E4STEP& s : e->program->steps)
    if (s.field && e4fieldIsNull(s.field)) return true;
  return false;
}

}  // namespace
}  // namespace engine4

using engine4::E4PROGRAM;

void expr4free(EXPR4* e) {
  if (!e) return;
  delete e->program;
  delete[] e->source;
  delete e;
}

int expr4vary(EXPR4* e, char** out) {
  int rc = engine4::Check(e, out, LOC4expr4vary, "expr4vary");
  if (rc) return rc;
  std::lock_guard<std::mutex> hold(engine4::EvalLock());
  return engine4::Run(e, out);
}

int expr4true(EXPR4* e) {
  char* value = nullptr;
  int rc = engine4::Check(e, &value, LOC4expr4true, "expr4true");
  if (rc) return rc;
  if (e->type != 'L')
    return error4reportAt(e->c4, e4result, LOC4expr4true, "expecting logical result",
                          e->source);
  std::lock_guard<std::mutex> hold(engine4::EvalLock());
  rc = engine4::Run(e, &value);
  if (rc < 0) return rc;
  return engine4::e4getInt(value) != 0;
}

int expr4key(EXPR4* e, char** out, const KEY4FORM* form) {
  int rc = engine4::Check(e, out, LOC4expr4key, "expr4key");
  if (rc) return rc;
  E4PROGRAM& p = *e->program;
  std::lock_guard<std::mutex> hold(engine4::EvalLock());
  if (!form) {
    if (!p.machineFormReady) {
      rc = key4formInit(&p.machineForm, e->c4, e->type, e->len, 0, 0, e->varLength);
      if (rc < 0) return rc;
      p.machineFormReady = 1;
    }
    form = &p.machineForm;
  }
  if (form->valueLen != e->len)
    return error4reportAt(e->c4, e4parm, LOC4expr4key, "key form of another expression");
  size_t need = static_cast<size_t>(key4formKeyLen(form)) + 1;
  if (p.key.size() < need) {
    try {
      p.key.resize(need);
    } catch (const std::bad_alloc&) {
      return error4reportAt(e->c4, e4memory, LOC4expr4key, "expr4key");
    }
  }
  char* value = nullptr;
  rc = engine4::Run(e, &value);
  if (rc < 0) return rc;
  char* key = p.key.data();
  if (form->nullByte) {
    if (engine4::AnyNull(e)) {
      std::memset(key, 0, form->keyLen + 1);
      *out = key;
      return form->keyLen + 1;
    }
    key[0] = static_cast<char>(0x80);
    rc = form->fromValue(form, value, key + 1);
  } else {
    rc = form->fromValue(form, value, key);
  }
  if (rc < 0) return rc;
  *out = key;
  return key4formKeyLen(form);
}

int expr4keyLen(EXPR4* e) {
  if (!e) return error4reportAt(nullptr, e4parmNull, LOC4expr4keyLen, "expr4keyLen");
  return key4len(e->type, e->len, nullptr);
}

int expr4keyForm(EXPR4* e, KEY4FORM* form, int collation, int nullByte) {
  if (!e || !form)
    return error4reportAt(e ? e->c4 : nullptr, e4parmNull, LOC4expr4keyLen, "expr4keyForm");
  return key4formInit(form, e->c4, e->type, e->len, collation, nullByte, e->varLength);
}

int expr4context(EXPR4* e, TABLE4* data) {
  if (!e || !data)
    return error4reportAt(e ? e->c4 : nullptr, e4parmNull, LOC4expr4context, "expr4context");
  if (data->dataFile != e->dataFile)
    return error4reportAt(e->c4, e4parm, LOC4expr4context,
                          "expression evaluated for a handle of another data file", e->source);
  e->data = data;
  return 0;
}

int expr4isNull(EXPR4* e) {
  if (!e) return 0;
  return engine4::AnyNull(e) ? 1 : 0;
}

const char* expr4source(const EXPR4* e) { return e ? e->source : nullptr; }
char expr4type(const EXPR4* e) { return e ? e->type : 0; }
int expr4len(const EXPR4* e) { return e ? e->len : 0; }
int expr4nullable(const EXPR4* e) { return e ? e->nullable : 0; }

long expr4pageNo(CODE4* c4) {
  if (!c4 || !c4->exprData) return 0;
  return static_cast<engine4::ExprContext*>(c4->exprData)->pageNo;
}

int expr4pageNoSet(CODE4* c4, long page) {
  if (!c4) return error4reportAt(nullptr, e4parmNull, LOC4expr4context, "expr4pageNoSet");
  if (!c4->exprData) {
    auto* data = new (std::nothrow) engine4::ExprContext;
    if (!data) return error4reportAt(c4, e4memory, LOC4expr4context, "expr4context");
    c4->exprData = data;
    c4->exprDataFree = engine4::FreeExprContext;
  }
  static_cast<engine4::ExprContext*>(c4->exprData)->pageNo = page;
  return 0;
}
