// Benchmarks of the expression engine on the portal's tag expressions:
// parsing (once per tag open or creation) and key evaluation (once per
// record written, key built or seek). Each runs on a record of a table of
// the portal's schema, created in a private temporary directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/isolated_env.h"

namespace {

struct Portal {
  testsupport::IsolatedEnv env;
  CODE4 c4{};
  TABLE4* user = nullptr;
  TABLE4* blist = nullptr;
  TABLE4* log = nullptr;
  TABLE4* right = nullptr;

  Portal() {
    code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1);
    c4.formatLevel = 30;
    c4.keepExisting = 0;
    std::filesystem::path dir = std::filesystem::path(std::getenv("TMPDIR")) / "portal";
    std::filesystem::create_directories(dir);
    auto make = [&](const char* name, std::vector<FIELDSPEC4> fields) {
      fields.push_back(FIELDSPEC4{nullptr, 0, 0, 0, 0});
      return d4create(&c4, (dir / name).c_str(), fields.data(), nullptr);
    };
    user = make("USER", {{"UID", 'I', 4, 0, 0},
                         {"USERID", 'C', 21, 0, 0},
                         {"NAME", 'C', 21, 0, 0},
                         {"EMAIL", 'C', 101, 0, 0},
                         {"ACTIVE", 'L', 1, 0, 0}});
    blist = make("BLIST", {{"BID", 'I', 4, 0, 0}, {"CREATED", 'T', 8, 0, 0}});
    log = make("LOG", {{"USERID", 'C', 21, 0, 0}, {"TIME", 'T', 8, 0, 0}});
    right = make("RIGHT", {{"BID", 'I', 4, 0, 0}, {"UID", 'I', 4, 0, 0}});
    f4assignInt(d4field(user, "UID"), 12);
    f4assign(d4field(user, "USERID"), "admin");
    f4assign(d4field(user, "NAME"), "Kim");
    f4assign(d4field(user, "ACTIVE"), "T");
    f4assignInt(d4field(blist, "BID"), 5);
    f4dateTimeAssign(d4field(blist, "CREATED"), "2001091717:57:15");
    f4dateTimeAssign(d4field(log, "TIME"), "2001091717:57:15");
    f4assignInt(d4field(right, "BID"), 1);
    f4assignInt(d4field(right, "UID"), 2);
  }
  ~Portal() {
    code4closeAll(&c4);
    code4initUndo(&c4);
  }
};

Portal& TheTables() {
  static Portal portal;
  return portal;
}

struct Tag {
  const char* text;
  TABLE4* (*table)(Portal&);
};

const Tag kTags[] = {
    {"NAME", [](Portal& p) { return p.user; }},
    {"BID", [](Portal& p) { return p.blist; }},
    {"BID + UID", [](Portal& p) { return p.right; }},
    {"USERID", [](Portal& p) { return p.user; }},
    {"TIME", [](Portal& p) { return p.log; }},
    {"CREATED", [](Portal& p) { return p.blist; }},
    {"ACTIVE", [](Portal& p) { return p.user; }},
    {"UPPER(NAME) + STR(UID, 6)", [](Portal& p) { return p.user; }},
};

void BM_Parse(benchmark::State& state) {
  const Tag& tag = kTags[state.range(0)];
  TABLE4* t = tag.table(TheTables());
  for (auto _ : state) {
    EXPR4* e = expr4parse(t, tag.text);
    benchmark::DoNotOptimize(e);
    expr4free(e);
  }
  state.SetLabel(tag.text);
  state.SetItemsProcessed(state.iterations());
}

void BM_Key(benchmark::State& state) {
  const Tag& tag = kTags[state.range(0)];
  TABLE4* t = tag.table(TheTables());
  EXPR4* e = expr4parse(t, tag.text);
  if (!e) {
    state.SkipWithError("parse failed");
    return;
  }
  char* key = nullptr;
  for (auto _ : state) {
    int len = expr4key(e, &key, nullptr);
    benchmark::DoNotOptimize(len);
    benchmark::DoNotOptimize(key);
  }
  expr4free(e);
  state.SetLabel(tag.text);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Parse)->DenseRange(0, 7);
BENCHMARK(BM_Key)->DenseRange(0, 7);

}  // namespace

BENCHMARK_MAIN();
