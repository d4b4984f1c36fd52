// Data files written and read by the engine, checked byte by byte: header,
// descriptors, terminator, records and end mark, at format level 30 and in
// the classic format; and the header checks that refuse corrupt files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "table4_support.h"

namespace {

using table4test::Be32;
using table4test::EngineTest;
using table4test::Le16;
using table4test::Le32;

class Data4Test : public EngineTest {};

TEST_F(Data4Test, Level30HeaderDescriptorsAndTerminator) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"name", 'C', 21, 0, 0}, {"VALUE", 'Z', 254, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "REGISTRY", f, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(0, d4close(t));
  std::string b = Read("REGISTRY.dbf");
  ASSERT_EQ(360u, b.size());  // 32 x 3 + 264, no records, no end mark
  EXPECT_EQ(0x30, static_cast<unsigned char>(b[0]));
  EXPECT_EQ(0u, Le32(b, 4));
  EXPECT_EQ(360u, Le16(b, 8));
  EXPECT_EQ(276u, Le16(b, 10));
  EXPECT_EQ(0, b[28]);  // no index, no memo
  EXPECT_EQ(std::string(16, '\0'), b.substr(12, 16));
  // Descriptor 1: NAME upper-cased, NUL padded, C, offset 1, length 21.
  EXPECT_EQ(std::string("NAME\0\0\0\0\0\0\0", 11), b.substr(32, 11));
  EXPECT_EQ('C', b[43]);
  EXPECT_EQ(1u, Le32(b, 44));
  EXPECT_EQ(21, b[48]);
  EXPECT_EQ(0, b[49]);
  EXPECT_EQ(0, b[50]);
  EXPECT_EQ(std::string(13, '\0'), b.substr(51, 13));
  // Descriptor 2: Z is stored as C with the binary flag.
  EXPECT_EQ('C', b[64 + 11]);
  EXPECT_EQ(22u, Le32(b, 64 + 12));
  EXPECT_EQ(254, static_cast<unsigned char>(b[64 + 16]));
  EXPECT_EQ(0, b[64 + 17]);
  EXPECT_EQ(0x04, b[64 + 18]);
  EXPECT_EQ(0x0D, b[96]);
  EXPECT_EQ(std::string(263, '\0'), b.substr(97));
}

TEST_F(Data4Test, ClassicHeaderWithMemoAndEndMark) {
  PortalSettings(25);
  FIELDSPEC4 f[] = {{"TITLE", 'C', 10, 0, 0}, {"AMOUNT", 'N', 7, 2, 0}, {"BORN", 'D', 0, 0, 0},
                    {"OK", 'L', 0, 0, 0},     {"NOTE", 'M', 0, 0, 0},   {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "classic", f, nullptr);
  ASSERT_NE(nullptr, t);
  ASSERT_EQ(0, d4close(t));
  std::string b = Read("classic.dbf");
  ASSERT_EQ(32u * 6 + 1 + 1, b.size());  // header + the end mark of an empty table
  EXPECT_EQ(0xF5, static_cast<unsigned char>(b[0]));
  EXPECT_EQ(193u, Le16(b, 8));
  EXPECT_EQ(1u + 10 + 7 + 8 + 1 + 10, Le16(b, 10));
  EXPECT_EQ(0, b[28]);  // the memo flag is written only for version 0x30
  EXPECT_EQ('N', b[32 + 32 + 11]);
  EXPECT_EQ(7, b[32 + 32 + 16]);
  EXPECT_EQ(2, b[32 + 32 + 17]);
  EXPECT_EQ(8, b[32 + 64 + 16]);
  EXPECT_EQ(1, b[32 + 96 + 16]);
  EXPECT_EQ('M', b[32 + 128 + 11]);
  EXPECT_EQ(10, b[32 + 128 + 16]);
  EXPECT_EQ(std::string("\x0D\x1A"), b.substr(192, 2));
  std::string m = Read("classic.fpt");
  ASSERT_EQ(512u, m.size());
  EXPECT_EQ(std::string("\0\0\0\x01\0\0\x02\0", 8), m.substr(0, 8));
  EXPECT_EQ(std::string(504, '\0'), m.substr(8));
}

TEST_F(Data4Test, ClassicWithoutMemoIsVersion3) {
  PortalSettings(26);
  FIELDSPEC4 f[] = {{"A", 'C', 1, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "v3", f, nullptr);
  ASSERT_NE(nullptr, t);
  d4close(t);
  EXPECT_EQ(0x03, static_cast<unsigned char>(Read("v3.dbf")[0]));
}

TEST_F(Data4Test, MemoAtLevel30SetsFlagAndFourByteField) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"NOTE", 'M', 0, 0, 0}, {"BIN", 'X', 0, 0, 0}, {"N", 'I', 0, 0, 0},
                    {"AT", 'T', 0, 0, 0},   {"Y", 'Y', 0, 0, 0},   {"B", 'B', 0, 3, 0},
                    {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "memo30", f, nullptr);
  ASSERT_NE(nullptr, t);
  d4close(t);
  std::string b = Read("memo30.dbf");
  EXPECT_EQ(0x02, b[28]);
  struct {
    char type;
    int len, dec, flags;
  } want[] = {{'M', 4, 0, 0}, {'M', 4, 0, 4}, {'I', 4, 0, 4}, {'T', 8, 0, 4}, {'Y', 8, 4, 4}, {'B', 8, 3, 4}};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    size_t d = 32 + 32 * i;
    EXPECT_EQ(want[i].type, b[d + 11]);
    EXPECT_EQ(want[i].len, b[d + 16]);
    EXPECT_EQ(want[i].dec, b[d + 17]);
    EXPECT_EQ(want[i].flags, b[d + 18]);
  }
  EXPECT_EQ(512u, Read("memo30.fpt").size());
}

TEST_F(Data4Test, LongCharacterFieldSplitsItsLength) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"BODY", 'C', 300, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "long", f, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(300u, f4len(d4field(t, "BODY")));
  d4close(t);
  std::string b = Read("long.dbf");
  EXPECT_EQ(44, b[48]);
  EXPECT_EQ(1, b[49]);
  t = d4open(&c4, "long");
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(300u, f4len(d4field(t, "body")));
  EXPECT_EQ(301, d4recWidth(t));
  d4close(t);
}

TEST_F(Data4Test, NullFlagsFieldIsLastAndHidden) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"A", 'C', 3, 0, STAT4NULLABLE}, {"B", 'I', 0, 0, 0}, {"C", 'M', 0, 0, STAT4NULLABLE},
                    {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "nulls", f, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(3, d4numFields(t));
  COLUMN4* nf = d4field(t, "_NullFlags");
  ASSERT_NE(nullptr, nf);
  EXPECT_EQ(4, d4fieldNumber(t, "_NullFlags"));
  EXPECT_EQ(1u, f4len(nf));
  d4close(t);
  std::string b = Read("nulls.dbf");
  EXPECT_EQ(32u * 5 + 264, Le16(b, 8));
  size_t d = 32 + 3 * 32;
  EXPECT_EQ(std::string("_NullFlags\0", 11), b.substr(d, 11));
  EXPECT_EQ('0', b[d + 11]);
  EXPECT_EQ(1, b[d + 16]);
  EXPECT_EQ(0x05, b[d + 18]);
  EXPECT_EQ(0x02, b[32 + 18]);       // A nullable
  EXPECT_EQ(0x04, b[32 + 32 + 18]);  // B binary only
  EXPECT_EQ(0x02, b[32 + 64 + 18]);  // C nullable memo
}

TEST_F(Data4Test, CreateRefusals) {
  struct Case {
    const char* what;
    int level;
    FIELDSPEC4 desc;
    int code;
  } cases[] = {
      {"Z at level 25", 25, {"Z", 'Z', 10, 0, 0}, -200},
      {"I at level 25", 25, {"I", 'I', 0, 0, 0}, -200},
      {"T at level 26", 26, {"T", 'T', 0, 0, 0}, -200},
      {"unknown type", 30, {"K", 'K', 4, 0, 0}, -220},
      {"record too long", 30, {"BIG", 'C', 65535, 0, 0}, -230},
      {"name too long", 30, {"ELEVENCHARS", 'C', 4, 0, 0}, -210},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c4.errorsSilent = 1;
    c4.formatLevel = static_cast<int16_t>(c.level);
    FIELDSPEC4 f[] = {c.desc, {nullptr, 0, 0, 0, 0}};
    EXPECT_EQ(nullptr, d4create(&c4, "refused", f, nullptr));
    EXPECT_EQ(c.code, c4.lastError);
    c4.lastError = 0;
    EXPECT_NE(0, access(Path("refused.dbf").c_str(), F_OK));
  }
}

TEST_F(Data4Test, TagsNeedTheIndexSideAndCreateNothing) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"NAME", 'C', 21, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TAGSPEC4 tags[] = {{"NAME", "NAME", nullptr, 0, 0}, {nullptr, nullptr, nullptr, 0, 0}};
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, d4create(&c4, "tagged", f, tags));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(-1010, c4.lastError);
  EXPECT_NE(std::string::npos, err.find("index support is not built"));
  EXPECT_NE(0, access(Path("tagged.dbf").c_str(), F_OK));
}

TEST_F(Data4Test, ProductionIndexFlagIsRefusedLoudly) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"NAME", 'C', 21, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "indexed", f, nullptr);
  ASSERT_NE(nullptr, t);
  d4close(t);
  std::string b = Read("indexed.dbf");
  b[28] = 0x01;
  Write("indexed.dbf", b);
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, d4open(&c4, "indexed"));  // failOpen is 0, yet it is an error
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("-1010"));
  EXPECT_EQ(-1010, c4.lastError);
  c4.lastError = 0;
  c4.autoOpen = 0;  // without the index the data can still be read
  t = d4open(&c4, "indexed");
  ASSERT_NE(nullptr, t);
  d4close(t);
}

TEST_F(Data4Test, MissingTableIsTheQuietSeventy) {
  PortalSettings(30);
  testing::internal::CaptureStderr();
  EXPECT_EQ(nullptr, d4open(&c4, "absent"));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(STAT4NOOPEN, c4.lastError);
  c4.lastError = 0;
  c4.failOpen = 1;
  c4.errorsSilent = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "absent"));
  EXPECT_EQ(-64, c4.lastError);
}

TEST_F(Data4Test, NamesFoundWithoutRegardToCase) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"NAME", 'C', 21, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "REGISTRY.DBF", f, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_STREQ("REGISTRY", d4alias(t));
  d4close(t);
  for (const char* name : {"REGISTRY.dbf", "registry", "./Registry.Dbf"}) {
    SCOPED_TRACE(name);
    t = d4open(&c4, name);
    ASSERT_NE(nullptr, t);
    d4close(t);
  }
}

TEST_F(Data4Test, SingleOpenAndCreateOverAnOpenTable) {
  PortalSettings(30);
  FIELDSPEC4 f[] = {{"NAME", 'C', 21, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "once", f, nullptr);
  ASSERT_NE(nullptr, t);
  c4.errorsSilent = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "ONCE.dbf"));
  EXPECT_EQ(-69, c4.lastError);
  c4.lastError = 0;
  EXPECT_EQ(nullptr, d4create(&c4, "once", f, nullptr));  // quiet: failCreate is 0
  EXPECT_EQ(STAT4NOCREATE, c4.lastError);
  c4.lastError = 0;
  EXPECT_EQ(0, d4appendStart(t, 0));
  EXPECT_EQ(0, d4append(t));  // the open table was not touched
  EXPECT_EQ(1, d4recCount(t));
  d4close(t);
}

TEST_F(Data4Test, FieldLookup) {
  PortalSettings(30);
  c4.failFieldName = 1;
  c4.errorsSilent = 1;
  FIELDSPEC4 f[] = {{"NAME", 'C', 21, 0, 0}, {"NUM", 'I', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
  TABLE4* t = d4create(&c4, "fields", f, nullptr);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(2, d4fieldNumber(t, "num  "));
  EXPECT_EQ(d4fieldJ(t, 1), d4field(t, "Name"));
  EXPECT_EQ(nullptr, d4field(t, "MISSING"));
  EXPECT_EQ(-210, c4.lastError);
  c4.lastError = 0;
  EXPECT_EQ(nullptr, d4fieldJ(t, 3));
  EXPECT_EQ(-930, c4.lastError);
  c4.lastError = 0;
  c4.failFieldName = 0;
  EXPECT_EQ(-210, d4fieldNumber(t, "MISSING"));
  EXPECT_EQ(0, c4.lastError);
  d4close(t);
}

// A valid small table (two records) whose header the cases below break.
class CorruptHeaderTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    PortalSettings(30);
    FIELDSPEC4 f[] = {{"NAME", 'C', 10, 0, 0}, {"N", 'I', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    TABLE4* t = d4create(&c4, "good", f, nullptr);
    ASSERT_NE(nullptr, t);
    for (int i = 0; i < 2; ++i) {
      d4appendStart(t, 0);
      d4append(t);
    }
    d4close(t);
    good_ = Read("good.dbf");
  }
  std::string good_;
};

TEST_F(CorruptHeaderTest, EachCheckRefusesWith200) {
  struct Case {
    const char* what;
    std::string (*change)(std::string);
    char shareMode;
  } cases[] = {
      {"record length 0", [](std::string b) { b[10] = b[11] = 0; return b; }, 0},
      {"record count 0xFFFFFFFF", [](std::string b) { b.replace(4, 4, "\xFF\xFF\xFF\xFF"); return b; }, 0},
      {"exclusive count disagrees", [](std::string b) { b[4] = 3; return b; }, 1},
      {"header length 32", [](std::string b) { b[8] = 32; b[9] = 0; return b; }, 0},
      {"header length beyond the file", [](std::string b) { b[8] = 0; b[9] = 0x40; return b; }, 0},
      {"descriptor sum differs", [](std::string b) { b[10] = 20; return b; }, 0},
      {"no descriptor terminator", [](std::string b) { b[96] = 'X'; return b; }, 0},
      {"type 0 with another name", [](std::string b) { b[32 + 32 + 11] = '0'; return b; }, 0},
      {"T in a classic table", [](std::string b) { b[0] = 0x03; b[32 + 32 + 11] = 'T'; b[32+32+16] = 8; return b; }, 0},
      {"truncated header", [](std::string b) { return b.substr(0, 20); }, 0},
      {"empty file", [](std::string) { return std::string(); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write("bad.dbf", c.change(good_));
    c4.shareMode = c.shareMode;
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, d4open(&c4, "bad"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(-200, c4.lastError);
    EXPECT_NE(std::string::npos, err.find("File is not a Data File"));
    c4.lastError = 0;
  }
  c4.shareMode = 0;
  Write("bad.dbf", cases[2].change(good_));  // shared: the count is not checked
  TABLE4* t = d4open(&c4, "bad");
  ASSERT_NE(nullptr, t);
  d4close(t);
}

TEST_F(CorruptHeaderTest, UnknownTypeIs220AndLowerCaseTypeIsUnknown) {
  std::string b = good_;
  b[32 + 11] = 'c';
  Write("bad.dbf", b);
  c4.errorsSilent = 1;
  EXPECT_EQ(nullptr, d4open(&c4, "bad"));
  EXPECT_EQ(-220, c4.lastError);
}

TEST_F(CorruptHeaderTest, GarbageNeverCrashes) {
  c4.errorsSilent = 1;
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string b = good_;
    int flips = 1 + round % 8;
    for (int i = 0; i < flips; ++i) {
      seed = seed * 1103515245u + 12345u;
      size_t at = (seed >> 8) % (round % 3 == 0 ? 32 : b.size());
      b[at] = static_cast<char>(seed >> 24);
    }
    if (round % 5 == 0) b.resize((seed >> 4) % b.size());
    Write("junk.dbf", b);
    TABLE4* t = d4open(&c4, "junk");
    if (t != nullptr) {
      for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
        for (int j = 1; j <= d4numFields(t); ++j) f4ptr(d4fieldJ(t, j));
      }
      c4.lastError = 0;
      d4close(t);
    }
    c4.lastError = 0;
  }
  TABLE4* t = d4open(&c4, "good");
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(2, d4recCount(t));
  d4close(t);
}

}  // namespace

namespace {

// Every file of the shared fixtures (tables of other programs and malformed
// files found by fuzzing) is either refused with an error code or read to
// the end, memos included, without a crash or a hang.
class FixtureFilesTest : public EngineTest {};

TEST_F(FixtureFilesTest, OpenedOrRefusedNeverCrash) {
  const char* root = std::getenv("FIXTURES");
  ASSERT_NE(root, nullptr) << "FIXTURES not set";
  c4.errorsSilent = 1;
  c4.autoOpen = 0;
  c4.failOpen = 0;
  int opened = 0, refused = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (!entry.is_regular_file() || (ext != ".dbf" && ext != ".bin")) continue;
    SCOPED_TRACE(entry.path().string());
    std::filesystem::path stem = entry.path();
    stem.replace_extension();
    for (const char* e : {".dbf", ".DBF", ".fpt", ".FPT"}) {
      std::filesystem::path companion = stem;
      companion += e;
      if (std::filesystem::exists(companion))
        Write(std::string("f") + e, testsupport::IsolatedEnv::ReadFile(companion.string()));
    }
    Write("f.dbf", testsupport::IsolatedEnv::ReadFile(entry.path().string()));
    TABLE4* t = d4open(&c4, "f.dbf");
    if (t == nullptr) {
      EXPECT_NE(0, c4.lastError);
      ++refused;
    } else {
      ++opened;
      long n = 0;
      for (int rc = d4top(t); rc == 0 && n < 100000; rc = d4skip(t, 1), ++n) {
        for (int j = 1; j <= d4numFields(t); ++j) {
          COLUMN4* f = d4fieldJ(t, j);
          if (f->memo != nullptr) f4memoLen(f);
        }
        c4.lastError = 0;
      }
      c4.lastError = 0;
      d4close(t);
    }
    c4.lastError = 0;
    for (const char* e : {"f.dbf", "f.DBF", "f.fpt", "f.FPT"}) std::remove(Path(e).c_str());
  }
  EXPECT_GT(opened, 10);
  EXPECT_GT(refused, 4);
}

}  // namespace
