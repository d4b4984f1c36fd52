// The engine context and its error model: code4init's checks and defaults,
// the exact report on the standard error stream, silent errors, fatal
// errors ending the process, and shut-down with pending errors.
#include <gtest/gtest.h>

#include <string>

#include "table4_support.h"

namespace {

using table4test::EngineTest;

TEST(Code4Init, VersionAndSizeChecks) {
  CODE4 c4;
  std::memset(static_cast<void*>(&c4), 0x5A, sizeof c4);
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1095, code4init(&c4, 0, 6500, sizeof(CODE4), 1));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Application/Library version mismatch\r\n"));
  EXPECT_NE(std::string::npos, err.find("\r\r\nLibrary: 6501\r\r\nHeaders: 6500\r\r\n"));
  EXPECT_EQ(0x5A5A5A5A, c4.lastError);  // untouched

  testing::internal::CaptureStderr();
  EXPECT_EQ(-960, code4init(&c4, 0, 6501, 12, 1));
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("structure size mismatch\r\n"));
  EXPECT_NE(std::string::npos, err.find("Header struct size: 12"));

  testing::internal::CaptureStderr();
  EXPECT_EQ(-935, code4init(nullptr, 0, 6501, 0, 1));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("Null Input Parameter unexpected"));

  EXPECT_EQ(0, code4init(&c4, 0, 6501, 0, 1));  // 0 skips the size check
  EXPECT_EQ(0, code4initUndo(&c4));
  EXPECT_EQ(0, code4initUndo(&c4));  // not initialised any more: nothing to do
  EXPECT_EQ(-935, code4initUndo(nullptr));
}

TEST(Code4Init, Defaults) {
  CODE4 c4;
  ASSERT_EQ(0, code4init(&c4, 0, S4VERSION, sizeof c4, 1));
  EXPECT_EQ(1, c4.autoOpen);
  EXPECT_EQ(0, c4.tempCreate);
  EXPECT_EQ(25, c4.errDefaultUnique);
  EXPECT_EQ(1, c4.failFieldName);
  EXPECT_EQ(0, c4.errorsSilent);
  EXPECT_EQ(1, c4.failOpen);
  EXPECT_EQ(1, c4.keepExisting);
  EXPECT_EQ(25, c4.formatLevel);
  EXPECT_EQ(0, c4.codePageMark);
  EXPECT_EQ(1, c4.failCreate);
  EXPECT_EQ(0, c4.openReadOnly);
  EXPECT_EQ(0, c4.shareMode);
  EXPECT_EQ(100, c4.lockRetryDelay);
  EXPECT_EQ(WAIT4EVER, c4.lockTries);
  EXPECT_EQ(0, c4.writeThrough);
  EXPECT_EQ(0, c4.lockOnRead);
  EXPECT_EQ(-1, c4.readCache);
  EXPECT_EQ(1, c4.failTagName);
  EXPECT_EQ(1, c4.failGo);
  EXPECT_EQ(1, c4.failSkip);
  EXPECT_EQ(0, c4.requireRecordLock);
  EXPECT_EQ(1, c4.autoUnlock);
  EXPECT_EQ(1, c4.singleOpen);
  EXPECT_EQ(1, c4.nameIgnoreCase);
  EXPECT_EQ(1, c4.failExpression);
  EXPECT_EQ(512, c4.memSizeBlock);
  EXPECT_EQ(512, c4.indexBlockSize);
  EXPECT_EQ(1, c4.indexPositionUnit);
  EXPECT_EQ(1, c4.verifyIndexBlocks);
  EXPECT_EQ(1024, c4.memoExprLength);
  EXPECT_EQ(0, c4.generalCollation);
  EXPECT_EQ(0, c4.collateChar);
  EXPECT_EQ(1, c4.collateWide);
  EXPECT_EQ(61440, c4.sortPoolSize);
  EXPECT_EQ(32768, c4.sortBufferSize);
  EXPECT_STREQ("MM/DD/YY", code4dateFormat(&c4));
  EXPECT_EQ(200, code4indexFormat(&c4));
  EXPECT_EQ(0, c4.lastError);
  EXPECT_EQ(0, code4dateFormatSet(&c4, "CCYY/MM/DD"));
  EXPECT_STREQ("CCYY/MM/DD", code4dateFormat(&c4));
  c4.errorsSilent = 1;
  EXPECT_EQ(-930, code4dateFormatSet(&c4, "12345678901234567890"));
  code4initUndo(&c4);
}

TEST(Code4Init, ContextsCountedInAnyOrder) {
  int base = code4liveCount();
  CODE4 a, b;
  ASSERT_EQ(0, code4init(&a, 0, S4VERSION, 0, 1));
  ASSERT_EQ(0, code4init(&b, 0, S4VERSION, 0, 1));
  EXPECT_EQ(base + 2, code4liveCount());
  code4initUndo(&a);
  EXPECT_EQ(base + 1, code4liveCount());
  code4initUndo(&b);
  EXPECT_EQ(base, code4liveCount());
}

class Error4Test : public EngineTest {};

TEST_F(Error4Test, ReportFormatGoesToStandardErrorOnly) {
  struct Case {
    int code;
    long location;
    const char* s1;
    const char* s2;
    const char* s3;
    std::string expected;
  } cases[] = {
      {-60, 94301, "/x/T.dbf", nullptr, nullptr,
       "\n\nError Number  -60, 94301 \r\nOpening File\r\nd4open\r\n\r\r\n/x/T.dbf\r\r\n"},
      {-1234, 91001, nullptr, nullptr, nullptr,
       "\n\nError Number  -1234, 91001 \r\nInvalid or Unknown Error Code\r\ncode4init\r\n\r\r\n"},
      {-120, 4242, "a", "100% sure %s", "c",
       "\n\nError Number  -120, 4242 \r\nWriting to File\r\nInvalid or Unknown Error Code\r\n"
       "\r\r\na\r\r\n100% sure %s\r\r\nc\r\r\n"},
      {-210, 94001, nullptr, "never printed", nullptr,
       "\n\nError Number  -210, 94001 \r\nUnrecognized Field Name\r\nd4field\r\n\r\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.code, error4report(&c4, c.code, c.location, c.s1, c.s2, c.s3));
    EXPECT_EQ(c.expected, testing::internal::GetCapturedStderr());
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.code, c4.lastError);
    EXPECT_EQ(c.location, c4.lastErrorLocation);
    c4.lastError = 0;
  }
}

TEST_F(Error4Test, DiagnosticSentenceAsLocation) {
  testing::internal::CaptureStderr();
  error4reportAt(&c4, -200, 94301, "database corruption detected", "T.dbf");
  EXPECT_EQ("\n\nError Number  -200, 94301 \r\nFile is not a Data File\r\ndatabase corruption detected\r\n\r\r\nT.dbf\r\r\n",
            testing::internal::GetCapturedStderr());
}

TEST_F(Error4Test, SilentErrorStillRecorded) {
  c4.errorsSilent = 1;
  testing::internal::CaptureStderr();
  error4report(&c4, -70, 93101, "x");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(-70, c4.lastError);
  EXPECT_EQ(93101, c4.lastErrorLocation);
}

TEST_F(Error4Test, PendingErrorRefusesWork) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"A", 'C', 4, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "p", f, nullptr);
  ASSERT_NE(nullptr, t);
  c4.lastError = -70;
  EXPECT_EQ(-1, d4appendStart(t, 0));
  EXPECT_EQ(-1, d4go(t, 1));
  EXPECT_EQ(nullptr, d4open(&c4, "p2"));
  EXPECT_EQ(-70, code4closeAll(&c4));  // closes anyway and keeps the code
  EXPECT_EQ(nullptr, c4.tables);
  EXPECT_EQ(-70, c4.lastError);
  EXPECT_EQ(0, code4initUndo(&c4));  // cleared first; closing went well
  ASSERT_EQ(0, code4init(&c4, 0, S4VERSION, 0, 1));
}

TEST_F(Error4Test, FatalErrorsEndTheProcess) {
  for (int code : {-910, -920, -950, -970}) {
    SCOPED_TRACE(code);
    EXPECT_EXIT(error4report(&c4, code, 90000), testing::ExitedWithCode(code & 0xFF),
                std::string("Error Number  ") + std::to_string(code));
  }
  EXPECT_EXIT(error4report(nullptr, -920, 90000), testing::ExitedWithCode(0xFF), "Out of Memory");
}

TEST_F(Error4Test, MessageTable) {
  EXPECT_STREQ("Duplicate Instance Found Error Opening File", error4text(-69));
  EXPECT_STREQ("Memo File Corrupt", error4text(-1110));
  EXPECT_STREQ("Invalid or Unknown Error Code", error4text(-1));
  EXPECT_STREQ("d4lockAppend", error4locationText(92708));
  EXPECT_STREQ("Invalid or Unknown Error Code", error4locationText(1));
}

}  // namespace
