// Record operations: movement and its end states, reading past the end,
// appending with the end mark, the record count seen by other handles,
// writes on movement and unlock, and the memo file's blocks as records
// store and replace their texts.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/resource.h>

#include "table4_support.h"

namespace {

using table4test::Be32;
using table4test::EngineTest;
using table4test::FieldText;
using table4test::Le16;
using table4test::Le32;

class Record4Test : public EngineTest {
 protected:
  TABLE4* MakeTable(const char* name, int level, int rows) {
    PortalSettings(level);
    FIELDSPEC4 f[] = {{"NAME", 'C', 8, 0, 0}, {"NOTE", 'M', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    TABLE4* t = d4create(&c4, name, f, nullptr);
    if (t == nullptr) return nullptr;
    for (int i = 1; i <= rows; ++i) {
      d4appendStart(t, 0);
      f4assign(d4field(t, "NAME"), ("row" + std::to_string(i)).c_str());
      d4append(t);
    }
    return t;
  }
};

TEST_F(Record4Test, EmptyTableEnds) {
  TABLE4* t = MakeTable("empty", 30, 0);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(STAT4EOF, d4top(t));
  EXPECT_TRUE(d4eof(t));
  EXPECT_TRUE(d4bof(t));
  EXPECT_EQ(1, d4recNo(t));
  EXPECT_EQ(STAT4EOF, d4bottom(t));
  EXPECT_EQ(1, d4recNo(t));
  d4close(t);
}

TEST_F(Record4Test, SkipAcrossBothEnds) {
  TABLE4* t = MakeTable("skip", 30, 3);
  ASSERT_NE(nullptr, t);
  COLUMN4* name = d4field(t, "NAME");
  ASSERT_EQ(0, d4top(t));
  EXPECT_EQ("row1", FieldText(name));
  EXPECT_EQ(STAT4BOF, d4skip(t, -1));
  EXPECT_EQ(1, d4recNo(t));
  EXPECT_TRUE(d4bof(t));
  EXPECT_EQ("row1", FieldText(name));
  ASSERT_EQ(0, d4bottom(t));
  EXPECT_EQ(STAT4EOF, d4skip(t, 1));
  EXPECT_EQ(4, d4recNo(t));
  EXPECT_EQ("", FieldText(name));
  EXPECT_EQ(0, d4skip(t, -1));
  EXPECT_EQ(3, d4recNo(t));
  EXPECT_EQ(0, d4skip(t, 0));
  EXPECT_EQ("row3", FieldText(name));
  EXPECT_EQ(STAT4EOF, d4skip(t, 10));
  d4close(t);
}

TEST_F(Record4Test, WritingRecordOneAfterSkippingBeforeIt) {
  TABLE4* t = MakeTable("bofwrite", 30, 2);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4top(t));
  ASSERT_EQ(STAT4BOF, d4skip(t, -1));
  f4assign(d4field(t, "NAME"), "changed");
  EXPECT_EQ(0, d4write(t, -1, 0, 1));
  ASSERT_EQ(0, d4go(t, 1));
  EXPECT_EQ("changed", FieldText(d4field(t, "NAME")));
  d4close(t);
}

TEST_F(Record4Test, GoPastTheEnd) {
  TABLE4* t = MakeTable("past", 30, 2);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 2));
  c4.errorsSilent = 1;
  EXPECT_EQ(-70, d4go(t, 3));
  EXPECT_EQ(-1, d4recNo(t));
  EXPECT_EQ(-1, d4go(t, 1));  // the context refuses work now
  c4.lastError = 0;
  c4.failGo = 0;
  EXPECT_EQ(STAT4NORECORD, d4go(t, 3));
  EXPECT_EQ("", FieldText(d4field(t, "NAME")));
  EXPECT_EQ(-1, d4recNo(t));
  c4.failSkip = 1;
  c4.errorsSilent = 0;
  EXPECT_EXIT(d4skip(t, 1), testing::ExitedWithCode(-910 & 0xFF), "Unexpected Information");
  d4close(t);
}

TEST_F(Record4Test, AppendEndMarkByFormat) {
  struct Case {
    int level;
    bool mark;
  } cases[] = {{25, true}, {30, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    std::string name = "mark" + std::to_string(c.level);
    TABLE4* t = MakeTable(name.c_str(), c.level, 3);
    ASSERT_NE(nullptr, t);
    d4close(t);
    std::string b = Read(name + ".dbf");
    uint32_t hdr = Le16(b, 8), rec = Le16(b, 10);
    EXPECT_EQ(3u, Le32(b, 4));
    ASSERT_EQ(hdr + 3 * rec + (c.mark ? 1 : 0), b.size());
    if (c.mark) {
      EXPECT_EQ(0x1A, b.back());
    }
    EXPECT_EQ(' ', b[hdr + rec]);  // deletion flag of record 2
    EXPECT_EQ("row2    ", b.substr(hdr + rec + 1, 8));
  }
}

TEST_F(Record4Test, AppendStartKeepsFieldsOfTheCurrentRecord) {
  TABLE4* t = MakeTable("copy", 30, 7);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 7));
  f4memoAssign(d4field(t, "NOTE"), "seven's note");
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  ASSERT_EQ(0, d4go(t, 7));
  ASSERT_EQ(0, d4appendStart(t, 0));
  EXPECT_EQ(0, d4recNo(t));
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ(8, d4recNo(t));
  EXPECT_EQ("row7", FieldText(d4field(t, "NAME")));
  EXPECT_EQ(0u, f4memoLen(d4field(t, "NOTE")));  // memo flag 0: starts empty
  ASSERT_EQ(0, d4go(t, 7));
  ASSERT_EQ(0, d4appendStart(t, 1));
  ASSERT_EQ(0, d4append(t));
  EXPECT_STREQ("seven's note", f4memoStr(d4field(t, "NOTE")));
  // The copy has blocks of its own.
  ASSERT_EQ(0, d4go(t, 9));
  long b9 = Le32(std::string(d4record(t), d4recWidth(t)), 9);
  ASSERT_EQ(0, d4go(t, 7));
  long b7 = Le32(std::string(d4record(t), d4recWidth(t)), 9);
  EXPECT_NE(b7, b9);
  EXPECT_GT(b9, 0);
  d4close(t);
}

TEST_F(Record4Test, ChangeWrittenWhenMovingOrUnlocking) {
  TABLE4* t = MakeTable("move", 30, 3);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 2));
  f4assign(d4field(t, "NAME"), "moved");
  EXPECT_EQ(1, d4changed(t, -1));
  ASSERT_EQ(0, d4skip(t, 1));
  ASSERT_EQ(0, d4go(t, 1));
  ASSERT_EQ(0, d4lock(t, 1));
  f4assign(d4field(t, "NAME"), "unlocked");
  ASSERT_EQ(0, d4unlock(t));
  d4close(t);
  std::string b = Read("move.dbf");
  uint32_t hdr = Le16(b, 8), rec = Le16(b, 10);
  EXPECT_EQ("unlocked", b.substr(hdr + 1, 8));
  EXPECT_EQ("moved   ", b.substr(hdr + rec + 1, 8));
}

TEST_F(Record4Test, ChangeDiscardedAtEndOfFile) {
  TABLE4* t = MakeTable("eofchange", 30, 1);
  ASSERT_NE(nullptr, t);
  d4goEof(t);
  f4assign(d4field(t, "NAME"), "lost");
  EXPECT_EQ(0, d4top(t));
  EXPECT_EQ("row1", FieldText(d4field(t, "NAME")));
  EXPECT_EQ(1, d4recCount(t));
  d4close(t);
}

TEST_F(Record4Test, CountSeenByAnotherContext) {
  TABLE4* t = MakeTable("shared", 30, 2);
  ASSERT_NE(nullptr, t);
  CODE4 other;
  ASSERT_EQ(0, code4init(&other, 0, S4VERSION, 0, 1));
  TABLE4* u = d4open(&other, "shared");
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(2, d4recCount(u));
  d4appendStart(t, 0);
  f4assign(d4field(t, "NAME"), "third");
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ(3, d4recCount(u));
  ASSERT_EQ(0, d4go(u, 3));  // beyond the counts u had seen: re-read
  EXPECT_EQ("third", FieldText(d4field(u, "NAME")));
  d4close(u);
  code4initUndo(&other);
  d4close(t);
}

TEST_F(Record4Test, ReadOnlyHandleRefusesWrites) {
  TABLE4* t = MakeTable("ro", 30, 1);
  ASSERT_NE(nullptr, t);
  d4close(t);
  c4.openReadOnly = 1;
  c4.errorsSilent = 1;
  t = d4open(&c4, "ro");
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4top(t));
  EXPECT_EQ(0, d4lock(t, 1));  // locking still works: the descriptor can lock
  EXPECT_EQ(-120, d4append(t));
  c4.lastError = 0;
  d4close(t);
}

// A write that the system refuses (here: the file size limit) leaves the
// table as it was: no record, the old count, the append's locks released.
TEST_F(Record4Test, FailedAppendChangesNothing) {
  TABLE4* t = MakeTable("full", 30, 2);
  ASSERT_NE(nullptr, t);
  d4unlock(t);
  ASSERT_EQ(0, d4go(t, 2));
  std::string before = Read("full.dbf");
  struct rlimit old;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
  struct rlimit limit = old;
  limit.rlim_cur = before.size();
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
  d4appendStart(t, 0);
  f4assign(d4field(t, "NAME"), "never");
  testing::internal::CaptureStderr();
  int rc = d4append(t);
  std::string err = testing::internal::GetCapturedStderr();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(-120, rc);
  EXPECT_NE(std::string::npos, err.find("Writing to File"));
  EXPECT_EQ(0, d4recNo(t));  // back to the append in preparation
  EXPECT_EQ(0, d4lockTestAppend(t));
  EXPECT_EQ(0, d4lockTest(t, 3));
  EXPECT_EQ(before, Read("full.dbf"));
  c4.lastError = 0;
  EXPECT_EQ(2, d4recCount(t));
  d4close(t);
  EXPECT_EQ(before, Read("full.dbf"));
}

// Memo blocks as records store, replace and clear their texts.
class Memo4Test : public Record4Test {
 protected:
  std::string Memo() const { return Read("memo.fpt"); }
  long Block(TABLE4* t) { return Le32(std::string(d4record(t), d4recWidth(t)), 9); }
};

TEST_F(Memo4Test, BlocksAllocatedAndReplaced) {
  TABLE4* t = MakeTable("memo", 30, 1);
  ASSERT_NE(nullptr, t);
  COLUMN4* note = d4field(t, "NOTE");
  ASSERT_EQ(0, d4go(t, 1));
  f4memoAssign(note, std::string(100, 'a').c_str());
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  EXPECT_EQ(1, Block(t));
  std::string m = Memo();
  ASSERT_EQ(1024u, m.size());
  EXPECT_EQ(2u, Be32(m, 0));
  EXPECT_EQ(std::string("\0\0\0\x01\0\0\0\x64", 8), m.substr(512, 8));
  EXPECT_EQ(std::string(100, 'a'), m.substr(520, 100));

  f4memoAssign(note, std::string(600, 'b').c_str());  // two blocks: moves
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  EXPECT_EQ(2, Block(t));
  m = Memo();
  EXPECT_EQ(4u, Be32(m, 0));
  EXPECT_EQ(2048u, m.size());
  EXPECT_EQ(std::string(100, 'a'), m.substr(520, 100));  // block 1 left alone
  EXPECT_EQ(600u, Be32(m, 1024 + 4));

  f4memoAssign(note, std::string(50, 'c').c_str());  // fits: in place
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  EXPECT_EQ(2, Block(t));
  m = Memo();
  EXPECT_EQ(4u, Be32(m, 0));
  EXPECT_EQ(50u, Be32(m, 1024 + 4));
  EXPECT_EQ(std::string(50, 'c'), m.substr(1032, 50));

  ASSERT_EQ(0, d4go(t, 1));
  EXPECT_EQ(std::string(50, 'c'), std::string(f4memoStr(note)));
  f4memoAssign(note, "");  // empty: block 0, nothing written
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  EXPECT_EQ(0, Block(t));
  EXPECT_EQ(m, Memo());
  d4close(t);
}

// Another program changes a record's memo between this handle's read and its
// write of another field: the write keeps the memo block on disk instead of
// the stale number read before.
TEST_F(Memo4Test, WriteKeepsAMemoChangedByAnother) {
  TABLE4* t = MakeTable("memo", 30, 1);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 1));
  f4memoAssign(d4field(t, "NOTE"), "first text");
  ASSERT_EQ(0, d4write(t, -1, 1, 1));  // written and unlocked
  ASSERT_EQ(0, d4go(t, 1));            // read without a lock

  CODE4 other;
  ASSERT_EQ(0, code4init(&other, 0, S4VERSION, 0, 1));
  TABLE4* u = d4open(&other, "memo");
  ASSERT_NE(nullptr, u);
  ASSERT_EQ(0, d4go(u, 1));
  ASSERT_EQ(0, d4lock(u, 1));
  f4memoAssign(d4field(u, "NOTE"), std::string(700, 'n').c_str());  // moves to new blocks
  ASSERT_EQ(0, d4write(u, -1, 1, 1));
  d4close(u);
  code4initUndo(&other);

  f4assign(d4field(t, "NAME"), "renamed");
  ASSERT_EQ(0, d4write(t, -1, 1, 1));
  ASSERT_EQ(0, d4go(t, 1));
  EXPECT_EQ("renamed", FieldText(d4field(t, "NAME")));
  EXPECT_EQ(std::string(700, 'n'), std::string(f4memoStr(d4field(t, "NOTE"))));
  d4close(t);
}

TEST_F(Memo4Test, ExactBlockKeepsTheFileAligned) {
  TABLE4* t = MakeTable("memo", 30, 0);
  ASSERT_NE(nullptr, t);
  d4appendStart(t, 0);
  f4memoAssign(d4field(t, "NOTE"), std::string(504, 'x').c_str());
  ASSERT_EQ(0, d4append(t));
  d4appendStart(t, 0);
  f4memoAssign(d4field(t, "NOTE"), std::string(505, 'y').c_str());
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ(2, Block(t));
  std::string m = Memo();
  EXPECT_EQ(512u * 4, m.size());
  EXPECT_EQ(4u, Be32(m, 0));
  d4close(t);
}

TEST_F(Memo4Test, ClassicBlockNumberIsText) {
  TABLE4* t = MakeTable("memo", 25, 0);
  ASSERT_NE(nullptr, t);
  d4appendStart(t, 0);
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ(std::string(10, ' '), std::string(d4record(t) + 9, 10));
  d4appendStart(t, 0);
  f4memoAssign(d4field(t, "NOTE"), "hello");
  ASSERT_EQ(0, d4append(t));
  EXPECT_EQ("         1", std::string(d4record(t) + 9, 10));
  ASSERT_EQ(0, d4go(t, 2));
  EXPECT_STREQ("hello", f4memoStr(d4field(t, "NOTE")));
  EXPECT_EQ(5u, f4memoLen(d4field(t, "NOTE")));
  d4close(t);
}

TEST_F(Memo4Test, MemoStrOnCharacterFieldIsFieldText) {
  TABLE4* t = MakeTable("memo", 30, 1);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 1));
  EXPECT_STREQ("row1    ", f4memoStr(d4field(t, "NAME")));
  d4close(t);
}

TEST_F(Memo4Test, CorruptReferencesAreRefused) {
  TABLE4* t = MakeTable("memo", 30, 1);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4go(t, 1));
  f4memoAssign(d4field(t, "NOTE"), "text");
  ASSERT_EQ(0, d4write(t, -1, 0, 1));
  d4close(t);
  std::string d = Read("memo.dbf");
  std::string m = Memo();
  struct Case {
    const char* what;
    uint32_t block;
    uint32_t length;
  } cases[] = {{"block past the end", 1000, 4}, {"length past the end", 1, 0x7FFFFFF0u}};
  c4.errorsSilent = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string d2 = d, m2 = m;
    table4test::PutLe32(&d2, Le16(d, 8) + 9, c.block);
    for (int i = 0; i < 4; ++i) m2[512 + 4 + i] = static_cast<char>(c.length >> (24 - 8 * i));
    Write("memo.dbf", d2);
    Write("memo.fpt", m2);
    t = d4open(&c4, "memo");
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(0, d4go(t, 1));
    EXPECT_EQ(0u, f4memoLen(d4field(t, "NOTE")));
    EXPECT_EQ(-1110, c4.lastError);
    c4.lastError = 0;
    d4close(t);
  }
}

}  // namespace
