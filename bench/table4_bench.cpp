// Benchmarks of the data side on the LOG table's schema: appends in shared
// mode with the default locks (append lock, the new record's lock, memo lock
// for the memo block), d4go reads of records, and field reads from the
// record buffer. Items per second are the operations per second. The system
// calls made per append are counted by table4_syscalls.sh beside this file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

#include "engine/engine.h"

namespace {

const FIELDSPEC4 kLogFields[] = {
    {"USERID", 'C', 21, 0, 0}, {"NAME", 'Z', 21, 0, 0},    {"PROD", 'I', 4, 0, 0},
    {"LEVEL", 'I', 4, 0, 0},   {"IP", 'C', 16, 0, 0},      {"TIME", 'T', 8, 0, 0},
    {"COMMENT", 'M', 10, 0, 0}, {"FLAG_1", 'I', 4, 0, 0},  {"FLAG_2", 'I', 4, 0, 0},
    {"EXTRA_1", 'M', 10, 0, 0}, {"EXTRA_2", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};

// A context with the portal's settings and a fresh LOG table in a private
// directory.
struct LogTable {
  CODE4 c4;
  TABLE4* t = nullptr;
  std::string dir;
  LogTable() {
    char tmpl[] = "/tmp/table4-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    code4init(&c4, 0, S4VERSION, sizeof(CODE4), 1);
    c4.failOpen = 0;
    c4.failCreate = 0;
    c4.keepExisting = 0;
    c4.formatLevel = 30;
    t = d4create(&c4, (dir + "/LOG").c_str(), kLogFields, nullptr);
  }
  ~LogTable() {
    code4closeAll(&c4);
    code4initUndo(&c4);
    std::remove((dir + "/LOG.dbf").c_str());
    std::remove((dir + "/LOG.fpt").c_str());
    rmdir(dir.c_str());
  }
};

// One event-log row, as the portal's writer appends it.
int AppendRow(TABLE4* t, int i) {
  if (d4appendStart(t, 1) != 0) return -1;
  f4assign(d4field(t, "USERID"), "admin");
  f4assign(d4field(t, "NAME"), "administrator");
  f4assignInt(d4field(t, "PROD"), 2);
  f4assignInt(d4field(t, "LEVEL"), 148);
  f4assign(d4field(t, "IP"), "127.0.0.1");
  f4dateTimeAssign(d4field(t, "TIME"), "2026121114:00:00");
  f4memoAssign(d4field(t, "COMMENT"), i % 2 ? "settings changed" : "first-run initialisation done");
  if (d4append(t) != 0) return -1;
  return d4unlock(t);
}

void BM_AppendShared(benchmark::State& state) {
  LogTable log;
  if (log.t == nullptr) {
    state.SkipWithError("LOG not created");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    if (AppendRow(log.t, ++i) != 0) {
      state.SkipWithError("append failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendShared);

void BM_GoRecord(benchmark::State& state) {
  LogTable log;
  const int rows = 2000;
  for (int i = 1; i <= rows; ++i) AppendRow(log.t, i);
  long n = 0;
  for (auto _ : state) {
    n = n * 1103515245 + 12345;
    long rec = 1 + static_cast<long>((static_cast<unsigned long>(n) >> 8) % rows);
    if (d4go(log.t, rec) != 0) {
      state.SkipWithError("d4go failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GoRecord);

void BM_FieldRead(benchmark::State& state) {
  LogTable log;
  AppendRow(log.t, 1);
  d4go(log.t, 1);
  COLUMN4* user = d4field(log.t, "USERID");
  COLUMN4* level = d4field(log.t, "LEVEL");
  COLUMN4* time = d4field(log.t, "TIME");
  char buf[32];
  for (auto _ : state) {
    benchmark::DoNotOptimize(f4ncpy(user, buf, sizeof buf));
    benchmark::DoNotOptimize(f4int(level));
    benchmark::DoNotOptimize(f4dateTime(time));
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_FieldRead);

void BM_MemoRead(benchmark::State& state) {
  LogTable log;
  const int rows = 500;
  for (int i = 1; i <= rows; ++i) AppendRow(log.t, i);
  COLUMN4* comment = d4field(log.t, "COMMENT");
  long rec = 0;
  for (auto _ : state) {
    rec = rec % rows + 1;
    d4go(log.t, rec);
    benchmark::DoNotOptimize(f4memoLen(comment));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoRead);

}  // namespace

BENCHMARK_MAIN();
