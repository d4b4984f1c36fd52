// Test support for the expression and collation tests: a fresh engine
// context and a table created in a private directory, with helpers that set
// fields of the current record, evaluate expressions and show bytes in
// hexadecimal.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/expr4internal.h"
#include "support/isolated_env.h"

namespace expr4test {

inline std::string Hex(const void* bytes, int len) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (int i = 0; i < len; ++i) {
    out += digits[b[i] >> 4];
    out += digits[b[i] & 15];
  }
  return out;
}

inline std::string Bytes(const std::vector<int>& v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

// An engine context with errors kept off the error stream.
struct Context {
  CODE4 c4{};
  Context() {
    code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1);
    c4.errorsSilent = 1;
    c4.formatLevel = 30;
    c4.failOpen = 0;
    c4.failCreate = 0;
    c4.keepExisting = 0;
    c4.autoOpen = 0;
  }
  ~Context() {
    code4closeAll(&c4);
    code4initUndo(&c4);
  }
};

// A table created in a fresh directory; its current record starts blank.
class TableFixture {
 public:
  explicit TableFixture(const std::vector<FIELDSPEC4>& fields, const char* name = "TEST") {
    dir_ = std::filesystem::path(std::getenv("TMPDIR")) / "tables";
    std::filesystem::create_directories(dir_);
    std::vector<FIELDSPEC4> desc = fields;
    desc.push_back(FIELDSPEC4{nullptr, 0, 0, 0, 0});
    table = d4create(&ctx.c4, (dir_ / name).c_str(), desc.data(), nullptr);
  }
  TableFixture(const TableFixture&) = delete;
  TableFixture& operator=(const TableFixture&) = delete;

  CODE4* c4() { return &ctx.c4; }
  const std::filesystem::path& dir() const { return dir_; }
  COLUMN4* F(const char* name) { return d4field(table, name); }

  void Set(const char* field, const char* text) { f4assign(F(field), text); }
  void SetInt(const char* field, int v) { f4assignInt(F(field), v); }
  void SetDateTime(const char* field, const char* text) { f4dateTimeAssign(F(field), text); }

  // Parses and evaluates; the value's bytes (empty on failure, with
  // *code the error).
  std::string Eval(const char* text, char* type = nullptr, int* code = nullptr) {
    ctx.c4.lastError = 0;
    int err = 0;
    EXPR4* e = expr4parseTag(table, text, nullptr, &err);
    if (code) *code = err;
    if (!e) return std::string();
    char* out = nullptr;
    int len = expr4vary(e, &out);
    if (type) *type = expr4type(e);
    std::string value = len >= 0 ? std::string(out, len) : std::string();
    if (code && len < 0) *code = len;
    expr4free(e);
    return value;
  }

  double EvalNumber(const char* text) {
    char type = 0;
    std::string v = Eval(text, &type);
    if (v.size() != 8 || (type != 'n' && type != 'd')) return -12345.678;
    double d;
    std::memcpy(&d, v.data(), 8);
    return d;
  }

  int EvalLogical(const char* text) {
    char type = 0;
    std::string v = Eval(text, &type);
    if (v.size() != 4 || type != 'L') return -1;
    int32_t i;
    std::memcpy(&i, v.data(), 4);
    return i;
  }

  // Key bytes of the expression in machine form, as hexadecimal.
  std::string KeyHex(const char* text) {
    ctx.c4.lastError = 0;
    EXPR4* e = expr4parse(table, text);
    if (!e) return "parse error " + std::to_string(ctx.c4.lastError);
    char* key = nullptr;
    int len = expr4key(e, &key, nullptr);
    std::string hex = len >= 0 ? Hex(key, len) : "error " + std::to_string(len);
    expr4free(e);
    return hex;
  }

  testsupport::IsolatedEnv env;
  Context ctx;
  TABLE4* table = nullptr;

 private:
  std::filesystem::path dir_;
};

// Copies a fixture table (and its companions) into a directory.
inline std::string FixturesDir() {
  const char* env = std::getenv("FIXTURES");
  return env && *env ? std::string(env) : std::string();
}

}  // namespace expr4test
