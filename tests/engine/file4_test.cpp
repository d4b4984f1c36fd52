// File layer: reads, writes and lengths with their error reports, the
// sequential writer and reader, locks against another open file, and the
// open error mapping.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "platform/file.h"
#include "platform/filelock.h"
#include "table4_support.h"

namespace {

using table4test::EngineTest;

class File4Test : public EngineTest {};

TEST_F(File4Test, ReadWriteLengthAndShortRead) {
  DISK4 f;
  ASSERT_EQ(0, file4create(&f, &c4, Path("a.bin").c_str(), 1));
  ASSERT_EQ(0, file4write(&f, 10, "hello", 5));
  EXPECT_EQ(15, file4len(&f));
  char buf[16] = {};
  EXPECT_EQ(3u, file4read(&f, 12, buf, 10));
  EXPECT_STREQ("llo", buf);
  testing::internal::CaptureStderr();
  EXPECT_EQ(-70, file4readAll(&f, 12, buf, 10));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos,
            err.find("\r\r\n                 12                  10\r\r\nfile4readAll\r\r\n"));
  c4.lastError = 0;
  ASSERT_EQ(0, file4lenSet(&f, 4));
  EXPECT_EQ(4, file4len(&f));
  EXPECT_EQ(0, file4flush(&f));
  ASSERT_EQ(0, file4close(&f));
  EXPECT_EQ(std::string(4, '\0'), Read("a.bin"));
}

TEST_F(File4Test, KeepExistingRefusesAnExistingFile) {
  Write("exists.bin", "old");
  DISK4 f;
  c4.errorsSilent = 1;
  EXPECT_EQ(-20, file4create(&f, &c4, Path("exists.bin").c_str(), 1));
  c4.lastError = 0;
  c4.failCreate = 0;
  EXPECT_EQ(STAT4NOCREATE, file4create(&f, &c4, Path("exists.bin").c_str(), 1));
  EXPECT_EQ(STAT4NOCREATE, c4.lastError);
  c4.lastError = 0;
  c4.keepExisting = 0;
  ASSERT_EQ(0, file4create(&f, &c4, Path("exists.bin").c_str(), 1));
  file4close(&f);
  EXPECT_EQ("", Read("exists.bin"));
}

TEST_F(File4Test, ReadOnlyFileRefusesWrites) {
  Write("ro.bin", "data");
  chmod(Path("ro.bin").c_str(), 0444);
  if (access(Path("ro.bin").c_str(), W_OK) == 0) GTEST_SKIP() << "running with write access to everything";
  DISK4 f;
  ASSERT_EQ(0, file4open(&f, &c4, Path("ro.bin").c_str(), 1));
  EXPECT_TRUE(f.readOnly);
  testing::internal::CaptureStderr();
  EXPECT_EQ(-120, file4write(&f, 0, "x", 1));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("attempt to write to a read-only file"));
  c4.lastError = 0;
  c4.errorsSilent = 1;
  EXPECT_EQ(-50, file4lock(&f, 0x7FFFFFFE, 1));  // no descriptor open for writing
  c4.lastError = 0;
  file4close(&f);
}

TEST_F(File4Test, OpenErrorsAndTheQuietSeventy) {
  DISK4 f;
  c4.errorsSilent = 1;
  EXPECT_EQ(-64, file4open(&f, &c4, Path("missing.bin").c_str(), 1));
  c4.lastError = 0;
  EXPECT_EQ(-60, file4open(&f, &c4, env_.root().c_str(), 1));  // a directory
  c4.lastError = 0;
  c4.shareMode = 3;
  Write("x.bin", "x");
  EXPECT_EQ(-60, file4open(&f, &c4, Path("x.bin").c_str(), 1));
  c4.lastError = 0;
  c4.shareMode = 0;
  c4.failOpen = 0;
  EXPECT_EQ(STAT4NOOPEN, file4open(&f, &c4, Path("missing.bin").c_str(), 1));
  EXPECT_EQ(STAT4NOOPEN, c4.lastError);
}

TEST_F(File4Test, LockAgainstAnotherOpenFile) {
  DISK4 f;
  ASSERT_EQ(0, file4create(&f, &c4, Path("l.bin").c_str(), 1));
  plat::File other;
  ASSERT_TRUE(other.Open(Path("l.bin"), plat::OpenMode::ReadWrite));
  ASSERT_EQ(plat::LockResult::Locked, plat::LockRange(other.fd(), 0x7FFFFFF0, 1));
  c4.lockTries = 1;
  EXPECT_EQ(STAT4LOCKED, file4lock(&f, 0x7FFFFFF0, 1));
  EXPECT_EQ(0, file4lock(&f, 0x7FFFFFF1, 1));
  EXPECT_EQ(0, file4lock(&f, 0x7FFFFFF0, 0));  // length 0 locks nothing
  EXPECT_EQ(0, file4unlock(&f, 0x7FFFFFF1, 1));
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRange(other.fd(), 0x7FFFFFF1, 1));
  file4close(&f);
}

TEST_F(File4Test, SequentialWriterAndReader) {
  struct Case {
    FILE4LONG start;
    unsigned bufferLen;
  } cases[] = {{0, 2048}, {100, 2048}, {1000, 4096}, {7, 512}, {0, 70000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    DISK4 f;
    ASSERT_EQ(0, file4create(&f, &c4, Path("seq.bin").c_str(), 1));
    c4.keepExisting = 0;
    std::string buffer(c.bufferLen, '\0');
    FILE4SEQ_WRITE w;
    ASSERT_EQ(0, file4seqWriteInit(&w, &f, c.start, buffer.data(), c.bufferLen));
    std::string expect;
    for (int i = 0; i < 300; ++i) {
      std::string piece = std::to_string(i) + ",";
      ASSERT_EQ(0, file4seqWrite(&w, piece.data(), static_cast<unsigned>(piece.size())));
      expect += piece;
    }
    ASSERT_EQ(0, file4seqWriteRepeat(&w, 1300, 'z'));
    expect += std::string(1300, 'z');
    ASSERT_EQ(0, file4seqWriteFlush(&w));
    std::string file = Read("seq.bin");
    ASSERT_EQ(c.start + expect.size(), file.size());
    EXPECT_EQ(expect, file.substr(c.start));

    FILE4SEQ_READ r;
    std::string rbuf(1024, '\0');
    ASSERT_EQ(0, file4seqReadInit(&r, &f, c.start, rbuf.data(), 1024));
    std::string back(expect.size(), '\0');
    unsigned at = 0;
    for (unsigned step = 1; at < back.size(); step = step * 3 % 1500 + 1) {
      unsigned n = std::min<unsigned>(step, static_cast<unsigned>(back.size()) - at);
      ASSERT_EQ(0, file4seqReadAll(&r, back.data() + at, n));
      at += n;
    }
    EXPECT_EQ(expect, back);
    c4.errorsSilent = 1;
    char more;
    EXPECT_EQ(-70, file4seqReadAll(&r, &more, 1));
    c4.lastError = 0;
    c4.errorsSilent = 0;
    file4close(&f);
  }
}

TEST_F(File4Test, TemporaryTableIsRemovedWhenClosed) {
  setenv("TEMP", env_.root().c_str(), 1);
  PortalSettings(30);
  c4.tempCreate = 1;
  FIELDSPEC4 f[] = {{"A", 'C', 4, 0, 0}, {"M", 'M', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, nullptr, f, nullptr);
  ASSERT_NE(nullptr, t);
  std::string name = t->dataFile->file.name;
  EXPECT_EQ(0, access(name.c_str(), F_OK));
  d4appendStart(t, 0);
  f4memoAssign(d4field(t, "M"), "temporary");
  ASSERT_EQ(0, d4append(t));
  d4close(t);
  unsetenv("TEMP");
  EXPECT_NE(0, access(name.c_str(), F_OK));
  EXPECT_NE(0, access((name.substr(0, name.size() - 3) + "fpt").c_str(), F_OK));
}

}  // namespace
