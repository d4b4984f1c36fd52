// Locks: the byte positions other programs rely on (probed from a second
// open file, which conflicts like another process), exclusive tables taking
// no locks, conflicts between handles of one context, the retry count, and
// several processes appending to one table at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "platform/file.h"
#include "platform/filelock.h"
#include "platform/process.h"
#include "table4_support.h"

namespace {

using table4test::EngineTest;
using table4test::FieldText;
using table4test::Le16;
using table4test::Le32;

std::string ToolPath() {
  const char* dir = std::getenv("ENGINE_TOOLS");
  return std::string(dir != nullptr ? dir : ".") + "/table4_tool";
}

class Lock4Test : public EngineTest {
 protected:
  // True when byte `pos` of `file` is locked by someone else.
  bool Locked(const std::string& file, uint64_t pos, uint64_t len = 1) {
    plat::File probe;
    if (!probe.Open(Path(file), plat::OpenMode::ReadWrite)) return false;
    plat::LockResult r = plat::LockRange(probe.fd(), pos, len);
    return r == plat::LockResult::Violation;
  }
  TABLE4* Make(const char* name, int level, int rows, bool memo = false) {
    PortalSettings(level);
    FIELDSPEC4 plain[] = {{"NAME", 'C', 8, 0, 0}, {nullptr, 0, 0, 0, 0}};
    FIELDSPEC4 withMemo[] = {{"NAME", 'C', 8, 0, 0}, {"NOTE", 'M', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    TABLE4* t = d4create(&c4, name, memo ? withMemo : plain, nullptr);
    for (int i = 0; t != nullptr && i < rows; ++i) {
      d4appendStart(t, 0);
      d4append(t);
    }
    if (t != nullptr) d4unlock(t);
    return t;
  }
};

TEST_F(Lock4Test, FoxProPositionsOfAVersion30Table) {
  TABLE4* t = Make("pos30.dbf", 30, 3, true);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4lock(t, 1));
  EXPECT_TRUE(Locked("pos30.dbf", 0x7FFFFFFD));
  EXPECT_FALSE(Locked("pos30.dbf", 0x7FFFFFFC));
  EXPECT_FALSE(Locked("pos30.dbf", 0x7FFFFFFE));
  ASSERT_EQ(0, d4lockAppend(t));  // autoUnlock 1: record 1 goes first
  EXPECT_TRUE(Locked("pos30.dbf", 0x7FFFFFFE));
  EXPECT_FALSE(Locked("pos30.dbf", 0x7FFFFFFD));
  ASSERT_EQ(0, d4lockAll(t));
  EXPECT_TRUE(Locked("pos30.dbf", 0x40000000));
  EXPECT_TRUE(Locked("pos30.dbf", 0x7FFFFFFE));
  EXPECT_FALSE(Locked("pos30.dbf", 0x3FFFFFFF));
  EXPECT_FALSE(Locked("pos30.dbf", 0x7FFFFFFF));
  EXPECT_TRUE(Locked("pos30.fpt", 0x40000000));
  ASSERT_EQ(0, d4unlock(t));
  EXPECT_FALSE(Locked("pos30.dbf", 0x40000000, 0x3FFFFFFF));
  EXPECT_FALSE(Locked("pos30.fpt", 0x40000000));
  d4close(t);
}

TEST_F(Lock4Test, ClassicPositionsWithoutIndex) {
  TABLE4* t = Make("pos25.dbf", 25, 3);
  ASSERT_NE(nullptr, t);
  uint64_t hdr = 32 * 2 + 1, rec = 9;
  ASSERT_EQ(0, d4lock(t, 2));
  EXPECT_TRUE(Locked("pos25.dbf", 0x40000000 + hdr + rec));
  EXPECT_FALSE(Locked("pos25.dbf", 0x40000000 + hdr));
  ASSERT_EQ(0, d4lockAppend(t));
  EXPECT_TRUE(Locked("pos25.dbf", 0x40000000));
  d4close(t);
}

TEST_F(Lock4Test, AppendKeepsOnlyTheNewRecordLocked) {
  TABLE4* t = Make("append.dbf", 30, 2);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4appendStart(t, 0));
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ(3, d4recNo(t));
  EXPECT_TRUE(Locked("append.dbf", 0x7FFFFFFE - 3));
  EXPECT_FALSE(Locked("append.dbf", 0x7FFFFFFE));
  EXPECT_EQ(1, d4lockTest(t, 3));
  EXPECT_EQ(0, d4lockTestAppend(t));
  d4close(t);
  EXPECT_FALSE(Locked("append.dbf", 0x7FFFFFFE - 3));
}

TEST_F(Lock4Test, ExclusiveTableTakesNoLocks) {
  TABLE4* t = Make("excl.dbf", 30, 2);
  ASSERT_NE(nullptr, t);
  d4close(t);
  c4.shareMode = 1;
  t = d4open(&c4, "excl");
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4lockAll(t));
  ASSERT_EQ(0, d4lock(t, 1));
  d4appendStart(t, 0);
  ASSERT_EQ(0, d4append(t));
  EXPECT_FALSE(Locked("excl.dbf", 0x40000000, 0x40000000));
  EXPECT_EQ(1, d4lockTest(t, 2));
  d4close(t);
  std::string b = Read("excl.dbf");
  EXPECT_EQ(3u, Le32(b, 4));  // the count reaches the header at close
}

TEST_F(Lock4Test, HandlesOfOneContextConflictInTheEngine) {
  TABLE4* a = Make("two.dbf", 30, 2);
  ASSERT_NE(nullptr, a);
  c4.singleOpen = 0;
  TABLE4* b = d4open(&c4, "two");
  ASSERT_NE(nullptr, b);
  ASSERT_EQ(0, d4lock(a, 1));
  EXPECT_EQ(STAT4LOCKED, d4lockTest(b, 1));
  c4.autoUnlock = 2;
  c4.errorsSilent = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-50, d4lock(b, 1));  // waiting forever could never end
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  c4.lastError = 0;
  c4.lockTries = 2;
  EXPECT_EQ(STAT4LOCKED, d4lock(b, 1));
  c4.autoUnlock = 1;
  c4.lockTries = WAIT4EVER;
  EXPECT_EQ(0, d4lock(b, 1));  // releases every lock of the context first
  EXPECT_NE(1, d4lockTest(a, 1));
  EXPECT_EQ(1, d4lockTest(b, 1));
  d4close(b);
  d4close(a);
}

TEST_F(Lock4Test, UnlockWritesTheChangedRecord) {
  TABLE4* t = Make("unlock.dbf", 30, 1);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 1));
  ASSERT_EQ(0, d4lock(t, 1));
  f4assign(d4field(t, "NAME"), "written");
  ASSERT_EQ(0, d4unlock(t));
  EXPECT_EQ(0, d4changed(t, -1));
  std::string b = Read("unlock.dbf");
  EXPECT_EQ("written ", b.substr(Le16(b, 8) + 1, 8));
}

TEST_F(Lock4Test, RequireRecordLock) {
  TABLE4* t = Make("req.dbf", 30, 1);
  ASSERT_NE(nullptr, t);
  c4.requireRecordLock = 1;
  c4.errorsSilent = 1;
  ASSERT_EQ(0, d4go(t, 1));
  EXPECT_EQ(-50, d4blank(t));
  c4.lastError = 0;
  ASSERT_EQ(0, d4lock(t, 1));
  EXPECT_EQ(0, d4blank(t));
  d4close(t);
}

TEST_F(Lock4Test, TempFileNameAndReplacingAFileInUse) {
  setenv("TEMP", Path("t").c_str(), 1);
  mkdir(Path("t").c_str(), 0700);
  DISK4 f;
  ASSERT_EQ(0, file4temp(&f, &c4, 1, 1, nullptr));
  std::string name = f.name;
  EXPECT_EQ(Path("t/TEMP"), name.substr(0, name.size() - 8));
  EXPECT_EQ(".TMP", name.substr(name.size() - 4));
  EXPECT_NE(std::string::npos, std::string("0123456789").find(name[name.size() - 5]));
  ASSERT_EQ(0, file4close(&f));
  EXPECT_NE(0, access(name.c_str(), F_OK));  // removed on close
  unsetenv("TEMP");

  // Another open file holding a lock: the file is in use and not replaced.
  Write("busy.dat", "keep");
  plat::File other;
  ASSERT_TRUE(other.Open(Path("busy.dat"), plat::OpenMode::ReadWrite));
  ASSERT_EQ(plat::LockResult::Locked, plat::LockRange(other.fd(), 0x7FFFFFFD, 1));
  c4.keepExisting = 0;
  c4.failCreate = 0;
  EXPECT_EQ(STAT4NOCREATE, file4create(&f, &c4, Path("busy.dat").c_str(), 1));
  EXPECT_EQ("keep", Read("busy.dat"));
  c4.lastError = 0;
}

TEST_F(Lock4Test, CountTrustedOnlyUnderTheAppendLock) {
  TABLE4* t = Make("count.dbf", 30, 2);
  ASSERT_NE(nullptr, t);
  std::string b = Read("count.dbf");
  ASSERT_EQ(0, d4lockAppend(t));
  EXPECT_EQ(2, d4recCount(t));
  std::string changed = b;
  table4test::PutLe32(&changed, 4, 5);  // as if another program had appended
  plat::File raw;
  ASSERT_TRUE(raw.Open(Path("count.dbf"), plat::OpenMode::ReadWrite));
  ASSERT_TRUE(raw.WriteAt(4, changed.data() + 4, 4));
  EXPECT_EQ(2, d4recCount(t));  // held: the count in memory stands
  ASSERT_EQ(0, d4unlock(t));
  EXPECT_EQ(5, d4recCount(t));  // released: read from the header again
  ASSERT_TRUE(raw.WriteAt(4, b.data() + 4, 4));
  d4close(t);
}

TEST_F(Lock4Test, LockOnReadLocksTheRecordRead) {
  TABLE4* t = Make("onread.dbf", 30, 3);
  ASSERT_NE(nullptr, t);
  c4.lockOnRead = 1;
  ASSERT_EQ(0, d4go(t, 2));
  EXPECT_EQ(1, d4lockTest(t, 2));
  EXPECT_TRUE(Locked("onread.dbf", 0x7FFFFFFE - 2));
  ASSERT_EQ(0, d4go(t, 3));  // autoUnlock 1: record 2 is released first
  EXPECT_FALSE(Locked("onread.dbf", 0x7FFFFFFE - 2));
  EXPECT_TRUE(Locked("onread.dbf", 0x7FFFFFFE - 3));
  d4close(t);
}

TEST_F(Lock4Test, SharingModesBetweenOpenFiles) {
  TABLE4* t = Make("share.dbf", 30, 1);
  ASSERT_NE(nullptr, t);  // open for writing in this context
  CODE4 other;
  ASSERT_EQ(0, code4init(&other, 0, S4VERSION, 0, 1));
  other.errorsSilent = 1;
  struct Case {
    char shareMode;
    int openReadOnly;
    int expect;
  } whileWriterOpen[] = {{0, 0, 0}, {0, 1, 0}, {1, 0, -61}, {2, 0, -61}, {2, 1, -61}};
  for (const Case& c : whileWriterOpen) {
    SCOPED_TRACE(testing::Message() << int(c.shareMode) << "/" << c.openReadOnly);
    other.shareMode = c.shareMode;
    other.openReadOnly = c.openReadOnly;
    TABLE4* u = d4open(&other, "share");
    EXPECT_EQ(c.expect, other.lastError);
    EXPECT_EQ(c.expect == 0, u != nullptr);
    if (u != nullptr) d4close(u);
    other.lastError = 0;
  }
  // A file in use is not replaced, even without a lock on it.
  other.shareMode = 0;
  other.openReadOnly = 0;
  other.keepExisting = 0;
  other.failCreate = 0;
  other.formatLevel = 30;
  FIELDSPEC4 f[] = {{"X", 'C', 1, 0, 0}, {nullptr, 0, 0, 0, 0}};
  EXPECT_EQ(nullptr, d4create(&other, "share", f, nullptr));
  EXPECT_EQ(STAT4NOCREATE, other.lastError);
  other.lastError = 0;
  d4close(t);

  // Exclusive: nobody else opens it; then others may only read.
  other.shareMode = 1;
  TABLE4* u = d4open(&other, "share");
  ASSERT_NE(nullptr, u);
  c4.errorsSilent = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "share"));
  EXPECT_EQ(STAT4NOOPEN, c4.lastError);  // failOpen 0: quietly
  c4.lastError = 0;
  c4.failOpen = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "share"));
  EXPECT_EQ(-61, c4.lastError);
  c4.lastError = 0;
  d4close(u);
  other.shareMode = 2;
  u = d4open(&other, "share");
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(nullptr, d4open(&c4, "share"));
  c4.lastError = 0;
  c4.openReadOnly = 1;
  t = d4open(&c4, "share");
  EXPECT_NE(nullptr, t);
  if (t != nullptr) d4close(t);
  d4close(u);
  code4initUndo(&other);
}

// Several processes, each with its own tables and locks.
class ProcessLockTest : public Lock4Test {
 protected:
  bool Start(plat::Process* p, std::vector<std::string> args, int outFd = -1) {
    plat::ProcessOptions options;
    options.argv = {ToolPath()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.directory = env_.root();
    options.stdoutFd = outFd;
    options.stderrFd = 2;
    return p->Start(options);
  }
  TABLE4* MakeLog(const char* name) {
    PortalSettings(30);
    FIELDSPEC4 f[] = {{"USERID", 'C', 21, 0, 0}, {"NAME", 'Z', 21, 0, 0}, {"PROD", 'I', 4, 0, 0},
                      {"LEVEL", 'I', 4, 0, 0},   {"IP", 'C', 16, 0, 0},   {"TIME", 'T', 8, 0, 0},
                      {"COMMENT", 'M', 10, 0, 0}, {"FLAG_1", 'I', 4, 0, 0}, {"FLAG_2", 'I', 4, 0, 0},
                      {"EXTRA_1", 'M', 10, 0, 0}, {"EXTRA_2", 'M', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
    return d4create(&c4, name, f, nullptr);
  }
};

TEST_F(ProcessLockTest, ConcurrentAppendsLoseNothing) {
  TABLE4* t = MakeLog("LOG");
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4close(t));
  const int workers = 4, each = 40;
  plat::Process procs[workers];
  for (int w = 0; w < workers; ++w)
    ASSERT_TRUE(Start(&procs[w], {"append", "LOG.dbf", std::to_string(each), std::to_string(w + 1)}));
  for (int w = 0; w < workers; ++w) {
    int status = -1;
    ASSERT_TRUE(procs[w].Wait(60000, &status));
    EXPECT_EQ(0, status);
  }
  t = d4open(&c4, "LOG");
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(workers * each, d4recCount(t));
  std::string b = Read("LOG.dbf");
  EXPECT_EQ(Le16(b, 8) + static_cast<size_t>(workers * each) * Le16(b, 10), b.size());
  std::set<std::string> seen;
  std::map<int, int> lastLevel;
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
    std::string id = FieldText(d4field(t, "USERID"));
    int w = f4int(d4field(t, "PROD")), i = f4int(d4field(t, "LEVEL"));
    EXPECT_EQ("w" + std::to_string(w) + "-" + std::to_string(i), id);
    EXPECT_TRUE(seen.insert(id).second) << id;
    EXPECT_GT(i, lastLevel[w]) << "rows of one worker out of order";
    lastLevel[w] = i;
    std::string memo;
    for (int k = 0; k < 1 + (i * 7 + w) % 40; ++k) memo += id + " memo text; ";
    EXPECT_EQ(memo, std::string(f4memoStr(d4field(t, "COMMENT")))) << id;
  }
  EXPECT_EQ(static_cast<size_t>(workers * each), seen.size());
  d4close(t);
}

TEST_F(ProcessLockTest, LockTriesThreeGivesUpAfterTwoSeconds) {
  TABLE4* t = MakeLog("held");
  ASSERT_NE(nullptr, t);
  d4appendStart(t, 0);
  ASSERT_EQ(0, d4append(t));
  ASSERT_EQ(0, d4close(t));
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  plat::Process holder;
  ASSERT_TRUE(Start(&holder, {"hold", "held.dbf", "1", "30"}, fds[1]));
  close(fds[1]);
  char buf[16] = {};
  ASSERT_GT(read(fds[0], buf, sizeof buf - 1), 0);
  close(fds[0]);
  ASSERT_STREQ("locked\n", buf);

  c4.lockTries = 3;
  t = d4open(&c4, "held");
  ASSERT_NE(nullptr, t);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(STAT4LOCKED, d4lock(t, 1));
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(s, 1.9);
  EXPECT_LT(s, 4.5);
  EXPECT_EQ(0, d4lock(t, 2));  // other records stay free
  d4close(t);
  holder.Wait(0);  // ends the holder at once
}

}  // namespace
