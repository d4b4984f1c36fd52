// Tests of the engine's small utilities: number <-> text conversions (field
// widths, rounding, overflow to "*"), bounded copies, name handling on Linux
// paths, environment lookups, allocation and the circular lists.
#include "engine/c4util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "support/isolated_env.h"

namespace {

// ---------------------------------------------------------------------------
// Numbers.

struct ItoaCase {
  long value;
  int width;
  const char* expect;
};

TEST(C4ItoaRight, RightAlignedFieldsAndOverflow) {
  const ItoaCase cases[] = {
      {42, 5, "   42"},
      {-42, 5, "  -42"},
      {123456, 5, "*****"},  // does not fit
      {0, 3, "  0"},
      {7, 1, "7"},
      {10, 1, "*"},
      {-123, 4, "-123"},
      {-1234, 4, "****"},    // no blank left for the sign
      {42, -5, "00042"},     // zero padding
      {0, -3, "000"},
      {-42, -5, "*****"},    // a negative value does not fit zero padding
      {LONG_MIN, 20, "-9223372036854775808"},
      {LONG_MAX, 19, "9223372036854775807"},
  };
  for (const ItoaCase& c : cases) {
    char buf[32];
    memset(buf, '#', sizeof buf);
    c4itoaRight(c.value, buf, c.width);
    size_t w = static_cast<size_t>(std::abs(c.width));
    EXPECT_EQ(std::string(buf, w), c.expect) << c.value << " in " << c.width;
    EXPECT_EQ(buf[w], '#') << "wrote past the width";
  }
}

struct DtoaCase {
  double value;
  int width;
  int decimals;
  const char* expect;
  int rc;
};

TEST(C4Dtoa45, FixedPointFieldsRoundingAndOverflow) {
  const DtoaCase cases[] = {
      {3.5, 8, 2, "    3.50", 0},
      {-0.5, 8, 2, "   -0.50", 0},
      {12345.678, 8, 2, "12345.68", 0},
      {123456.7, 8, 2, "********", e4overflow},
      {-0.5, 4, 2, "-.50", 0},     // single integer position: "-" replaces the "0"
      {0.5, 4, 2, "0.50", 0},
      {0.5, 3, 2, ".50", 0},       // no integer position at all
      {-0.5, 3, 2, "***", e4overflow},
      {5, 3, 5, "***", e4overflow},  // decimals limited to width - 1
      {42, 5, 0, "   42", 0},
      {0.4, 3, 0, "  0", 0},
      {0.6, 3, 0, "  1", 0},
      {-3, 3, 0, " -3", 0},
      {-12, 3, 0, "-12", 0},
      {-123, 3, 0, "***", e4overflow},
      {99.999, 6, 2, "100.00", 0},  // rounding carries into the integer part
      {2.675, 6, 2, "  2.67", 0},   // 2.675 is 2.67499999... in binary
      {-12345.678, 9, 2, "-12345.68", 0},
      {-0.001, 6, 2, "  0.00", 0},  // rounds to zero: no sign
      {0.5, 18, 20, " 0.500000000000000", 0},  // at most 15 decimals
      {1e300, 10, 2, "**********", e4overflow},
      {NAN, 6, 2, "******", e4overflow},
      {INFINITY, 6, 0, "******", e4overflow},
      {1234567890123.0, 13, 0, "1234567890123", 0},
  };
  for (const DtoaCase& c : cases) {
    char buf[40];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(c4dtoa45(c.value, buf, c.width, c.decimals), c.rc) << c.value;
    EXPECT_EQ(std::string(buf, static_cast<size_t>(c.width)), c.expect)
        << c.value << " w" << c.width << " d" << c.decimals;
    EXPECT_EQ(buf[c.width], '#') << "wrote past the width";
  }
}

struct TextToLongCase {
  const char* text;
  int len;
  long expect;
};

TEST(C4TextToNumber, DecimalConversionOfBoundedText) {
  const TextToLongCase cases[] = {
      {"   42", -1, 42},
      {" 42abc", -1, 42},
      {"-17", 3, -17},
      {"+8", 2, 8},
      {"12345", 3, 123},        // the length bounds the text
      {"abc", 3, 0},
      {"", 0, 0},
      {"0x1F", 4, 0},           // decimal only
      {"99999999999999999999999", -1, LONG_MAX},
  };
  for (const TextToLongCase& c : cases) EXPECT_EQ(c4textToLong(c.text, c.len), c.expect) << c.text;
  EXPECT_EQ(c4textToInt("99999999999", -1), INT_MAX);
  EXPECT_EQ(c4textToInt("-99999999999", -1), INT_MIN);
  EXPECT_EQ(c4textToInt("  -7 ", 5), -7);

  // Only 127 characters take part: the digit at position 128 is not seen.
  std::string longText(127, '0');
  longText += "5";
  EXPECT_EQ(c4textToLong(longText.c_str(), static_cast<int>(longText.size())), 0);
  longText.erase(0, 1);
  EXPECT_EQ(c4textToLong(longText.c_str(), static_cast<int>(longText.size())), 5);
}

TEST(C4TextToReal, DecimalNumbersOfAtMost49Characters) {
  EXPECT_DOUBLE_EQ(c4textToReal("  3.25 ", 7), 3.25);
  EXPECT_DOUBLE_EQ(c4textToReal("-1e3", 4), -1000.0);
  EXPECT_DOUBLE_EQ(c4textToReal("12.5", 3), 12.0);
  EXPECT_DOUBLE_EQ(c4textToReal("0x10", 4), 0.0);
  EXPECT_DOUBLE_EQ(c4textToReal("-0X10", 5), 0.0);
  EXPECT_DOUBLE_EQ(c4textToReal("", 0), 0.0);
  std::string text(48, ' ');
  text += "7";  // the 49th character
  EXPECT_DOUBLE_EQ(c4textToReal(text.c_str(), static_cast<int>(text.size())), 7.0);
  text.insert(0, " ");  // now the 50th
  EXPECT_DOUBLE_EQ(c4textToReal(text.c_str(), static_cast<int>(text.size())), 0.0);
}

TEST(C4TrimEnd, OverwritesTrailingBlanksWithinSize) {
  char a[10] = "abc   ";
  EXPECT_EQ(c4trimEnd(a, sizeof a), 3);
  EXPECT_EQ(memcmp(a, "abc\0\0\0", 7), 0);
  char b[4] = {'x', ' ', ' ', ' '};  // no zero byte inside the size
  EXPECT_EQ(c4trimEnd(b, 4), 1);
  EXPECT_EQ(memcmp(b, "x\0\0\0", 4), 0);
  char c[4] = "   ";
  EXPECT_EQ(c4trimEnd(c, 4), 0);
  EXPECT_EQ(c[0], 0);
  char d[8] = "a b";
  EXPECT_EQ(c4trimEnd(d, 8), 3);  // inner blanks stay
}

// ---------------------------------------------------------------------------
// Strings and names.

TEST(U4Ncpy, BoundedCopyAlwaysTerminated) {
  char buf[11];
  EXPECT_EQ(u4ncpy(buf, "ABCDEFGHIJKLMNOPQRST", sizeof buf), 10u);
  EXPECT_STREQ(buf, "ABCDEFGHIJ");
  EXPECT_EQ(u4ncpy(buf, "short", sizeof buf), 5u);
  EXPECT_STREQ(buf, "short");
  EXPECT_EQ(u4ncpy(buf, "xyz", 1), 0u);
  EXPECT_STREQ(buf, "");

  memcpy(buf, "untouched", 10);
  testing::internal::CaptureStderr();
  EXPECT_EQ(u4ncpy(buf, "xyz", 0), 0u);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("-930"), std::string::npos) << err;
  EXPECT_STREQ(buf, "untouched");
}

// Runs a test in a fresh directory as the current directory.
class InTempDir : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::filesystem::current_path();
    dir_ = env_.path("site/admin");
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override { std::filesystem::current_path(saved_); }
  testsupport::IsolatedEnv env_;
  std::filesystem::path saved_;
  std::string dir_;
};

TEST_F(InTempDir, NameCurrentMakesNamesAbsoluteWithoutTheDisk) {
  const std::string site = env_.path("site");
  struct Case {
    const char* name;
    std::string expect;
  } cases[] = {
      {"../data/REGISTRY", site + "/data/REGISTRY"},
      {"..\\data\\REGISTRY", site + "/data/REGISTRY"},
      {"REGISTRY.dbf", dir_ + "/REGISTRY.dbf"},
      {"./x/../y", dir_ + "/y"},
      {"/a/b/../c", "/a/c"},
      {"\\a\\.\\b", "/a/b"},
      {"REG  ", dir_ + "/REG"},  // trailing blanks are not part of a name
  };
  for (const Case& c : cases) {
    char out[512];
    ASSERT_EQ(u4nameCurrent(out, sizeof out, c.name), 0) << c.name;
    EXPECT_EQ(std::string(out), c.expect) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(site + "/data"));
}

TEST_F(InTempDir, NameCurrentRefusesWhatDoesNotFit) {
  std::string expect = dir_ + "/REGISTRY";
  char out[300];
  memcpy(out, "keep", 5);
  testing::internal::CaptureStderr();
  EXPECT_EQ(u4nameCurrent(out, static_cast<int>(expect.size()), "REGISTRY"), e4parm);
  EXPECT_EQ(u4nameCurrent(out, sizeof out, ""), e4parm);
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(out, "keep");
  ASSERT_EQ(u4nameCurrent(out, static_cast<int>(expect.size() + 1), "REGISTRY"), 0);
  EXPECT_EQ(std::string(out), expect);
}

struct FixCase {
  const char* name;
  const char* expect;
  int rc;
};

TEST(U4NameFix, RemovesDotSteps) {
  const FixCase cases[] = {
      {"/a/b/../c", "/a/c", 0},
      {"/a/./b/./c", "/a/b/c", 0},
      {"a/../b", "b", 0},
      {"/a/b/c/../../d", "/a/d", 0},
      {"/../x", "/x", 0},  // nothing above the root
      {"a\\b\\..\\c", "a/c", 0},
      {"/a/b/", "/a/b/", 0},
      {"../b", "../b", e4name},  // nothing to remove: unchanged
      {"a/../../b", "a/../../b", e4name},
  };
  for (const FixCase& c : cases) {
    char buf[64];
    strcpy(buf, c.name);
    testing::internal::CaptureStderr();
    EXPECT_EQ(u4nameFix(buf), c.rc) << c.name;
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(buf, c.expect) << c.name;
  }
}

struct ExtCase {
  const char* name;
  const char* ext;
  int replace;
  const char* expect;
};

TEST(U4NameExt, AddsOrReplacesExtensionOfLastComponent) {
  const ExtCase cases[] = {
      {"REGISTRY", "dbf", 0, "REGISTRY.dbf"},
      {"REGISTRY", ".dbf", 0, "REGISTRY.dbf"},
      {"a.b\\c", "dbf", 0, "a.b/c.dbf"},  // the dot belongs to a directory
      {"/d.x/REG", "cdx", 1, "/d.x/REG.cdx"},
      {"x.txt", "fpt", 1, "x.fpt"},
      {"x.txt", "fpt", 0, "x.txt"},       // an extension stays without replace
      {"/db/REGISTRY.dbf", "fpt", 1, "/db/REGISTRY.fpt"},
      {"REG   ", "dbf", 0, "REG.dbf"},    // trailing blanks removed first
      {"x.txt", "", 1, "x"},
  };
  for (const ExtCase& c : cases) {
    char buf[64];
    strcpy(buf, c.name);
    EXPECT_EQ(u4nameExt(buf, sizeof buf, c.ext, c.replace), 0) << c.name;
    EXPECT_STREQ(buf, c.expect) << c.name << " + " << c.ext;
  }
}

TEST(U4NameExt, RefusesResultThatDoesNotFit) {
  char buf[13] = "REGISTRY";  // "REGISTRY.dbf" needs 13 bytes
  EXPECT_EQ(u4nameExt(buf, 13, "dbf", 0), 0);
  EXPECT_STREQ(buf, "REGISTRY.dbf");
  char small[13] = "REGISTRY";
  testing::internal::CaptureStderr();
  EXPECT_EQ(u4nameExt(small, 12, "dbf", 0), e4parm);
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(small, "REGISTRY");
}

TEST(U4NamePiece, NameWithoutPathOrExtension) {
  char buf[64];
  ASSERT_EQ(u4namePiece(buf, sizeof buf, "/a.b/c/REG.dbf", 0, 0), 0);
  EXPECT_STREQ(buf, "REG");
  u4namePiece(buf, sizeof buf, "/a.b/c/REG.dbf", 1, 0);
  EXPECT_STREQ(buf, "/a.b/c/REG");
  u4namePiece(buf, sizeof buf, "/a.b/c/REG.dbf", 0, 1);
  EXPECT_STREQ(buf, "REG.dbf");
  u4namePiece(buf, sizeof buf, "/a.b/c/REG", 1, 0);
  EXPECT_STREQ(buf, "/a.b/c/REG");
  u4namePiece(buf, sizeof buf, "..\\x\\LOG.dbf", 0, 0);
  EXPECT_STREQ(buf, "LOG");
  u4namePiece(buf, 4, "REGISTRY.dbf", 0, 0);
  EXPECT_STREQ(buf, "REG");
}

TEST(U4NameRetExt, ExtensionOfFilePart) {
  char buf[8];
  EXPECT_EQ(u4nameRetExt(buf, sizeof buf, "/a.b/REG.dbf"), 3);
  EXPECT_STREQ(buf, "dbf");
  EXPECT_EQ(u4nameRetExt(buf, sizeof buf, "/a.b/REG"), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(u4nameRetExt(buf, 3, "x.longext"), 2);
  EXPECT_STREQ(buf, "lo");
}

TEST(U4NameJoin, SingleSeparatorAndAbsoluteNames) {
  char buf[64];
  ASSERT_EQ(u4nameJoin(buf, sizeof buf, nullptr, "/x/y", "REG.dbf"), 0);
  EXPECT_STREQ(buf, "/x/y/REG.dbf");
  u4nameJoin(buf, sizeof buf, "", "/x/y//", "REG.dbf");
  EXPECT_STREQ(buf, "/x/y/REG.dbf");
  u4nameJoin(buf, sizeof buf, "C:", "/x", "/abs/f");
  EXPECT_STREQ(buf, "/abs/f");
  u4nameJoin(buf, sizeof buf, nullptr, "x\\y", "f");
  EXPECT_STREQ(buf, "x/y/f");
  u4nameJoin(buf, sizeof buf, nullptr, "/", "f");
  EXPECT_STREQ(buf, "/f");
  u4nameJoin(buf, sizeof buf, nullptr, "", "f");
  EXPECT_STREQ(buf, "f");
  testing::internal::CaptureStderr();
  EXPECT_EQ(u4nameJoin(buf, 6, nullptr, "/x/y", "f"), e4parm);  // "/x/y/f" needs 7
  testing::internal::GetCapturedStderr();
}

TEST(U4NameCompare, CaseRuleFollowsFlag) {
  EXPECT_EQ(u4nameCompare("/db/Registry.DBF", "/db/REGISTRY.dbf", 1), 0);
  EXPECT_NE(u4nameCompare("/db/Registry.DBF", "/db/REGISTRY.dbf", 0), 0);
  EXPECT_EQ(u4nameCompare("a", "b", 0), -1);
  EXPECT_EQ(u4nameCompare("b", "a", 1), 1);
  EXPECT_EQ(u4nameCompare("ab", "a", 1), 1);
  EXPECT_EQ(u4nameCompare("same", "same", 0), 0);
  // Bytes above 127 compare as unsigned, without folding.
  EXPECT_EQ(u4nameCompare("\xb0\xa1", "\xb0\xa2", 1), -1);
}

TEST(U4Environ, ValuesAndMissingVariables) {
  setenv("ENGVALUES_TEST_VAR", "/tmp/x", 1);
  EXPECT_STREQ(u4environ("ENGVALUES_TEST_VAR", 1), "/tmp/x");
  unsetenv("ENGVALUES_TEST_VAR");
  EXPECT_EQ(u4environ("ENGVALUES_TEST_VAR", 0), nullptr);
}

TEST(U4EnvironDeathTest, MissingRequiredVariableIsFatal) {
  unsetenv("ENGVALUES_TEST_VAR");
  EXPECT_EXIT(u4environ("ENGVALUES_TEST_VAR", 1), testing::ExitedWithCode(255),
              "expected environment variable not set to a valid value");
}

TEST_F(InTempDir, RemoveFindsNameWithoutRegardToCase) {
  std::filesystem::create_directories(dir_ + "/DATABASE");
  std::ofstream(dir_ + "/DATABASE/REGISTRY.DBF") << "x";
  EXPECT_EQ(u4remove("database\\registry.dbf"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/DATABASE/REGISTRY.DBF"));
  EXPECT_EQ(u4remove("database/registry.dbf"), -1);
  EXPECT_EQ(u4remove(""), -1);
}

// ---------------------------------------------------------------------------
// Memory.

TEST(U4Alloc, ZeroedBlocksAndGrowth) {
  CODE4 c4{};
  c4.errorsSilent = 1;
  unsigned char* p = static_cast<unsigned char*>(u4allocFree(&c4, 100));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  u4freeDefault(p);
  u4freeDefault(nullptr);

  char* block = nullptr;
  unsigned size = 0;
  ASSERT_EQ(u4allocAgainDefault(&c4, &block, &size, 8), 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(size, 8u);
  memcpy(block, "abcdefgh", 8);
  ASSERT_EQ(u4allocAgainDefault(&c4, &block, &size, 4000), 0);
  EXPECT_EQ(size, 4000u);
  EXPECT_EQ(memcmp(block, "abcdefgh", 8), 0);
  for (unsigned i = 8; i < 4000; ++i) ASSERT_EQ(block[i], 0) << i;
  char* same = block;
  ASSERT_EQ(u4allocAgainDefault(&c4, &block, &size, 100), 0);  // big enough already
  EXPECT_EQ(block, same);
  EXPECT_EQ(size, 4000u);
  u4freeDefault(block);

  char* none = nullptr;
  unsigned claimed = 10;
  EXPECT_EQ(u4allocAgainDefault(&c4, &none, &claimed, 20), e4parm);
  EXPECT_EQ(c4.lastError, e4parm);
  EXPECT_EQ(none, nullptr);
}

// ---------------------------------------------------------------------------
// Lists.

struct Item {
  LINK4 link;
  int id;
};

TEST(L4List, CircularListWithCount) {
  LIST4 list;
  Item a{{}, 1}, b{{}, 2}, c{{}, 3}, d{{}, 4};
  EXPECT_EQ(l4first(&list), nullptr);
  EXPECT_EQ(l4next(&list, nullptr), nullptr);
  l4add(&list, &a);
  l4add(&list, &b);
  l4add(&list, &c);
  EXPECT_EQ(l4numNodes(&list), 3);
  auto order = [&] {
    std::string s;
    for (void* p = l4first(&list); p; p = l4next(&list, p)) s += std::to_string(static_cast<Item*>(p)->id);
    return s;
  };
  auto reverse = [&] {
    std::string s;
    for (void* p = l4last(&list); p; p = l4prev(&list, p)) s += std::to_string(static_cast<Item*>(p)->id);
    return s;
  };
  EXPECT_EQ(order(), "123");
  EXPECT_EQ(reverse(), "321");
  l4addBefore(&list, &b, &d);
  EXPECT_EQ(order(), "1423");
  l4remove(&list, &d);
  l4remove(&list, &d);  // not linked any more: nothing happens
  EXPECT_EQ(order(), "123");
  l4remove(&list, &c);  // the last node moves back
  EXPECT_EQ(l4last(&list), &b);
  l4addAfter(&list, &a, &c);
  EXPECT_EQ(order(), "132");
  EXPECT_EQ(l4pop(&list), &b);
  EXPECT_EQ(l4numNodes(&list), 2);
  l4remove(&list, &a);
  l4remove(&list, &c);
  EXPECT_EQ(l4numNodes(&list), 0);
  EXPECT_EQ(l4first(&list), nullptr);
  EXPECT_EQ(l4pop(&list), nullptr);
}

}  // namespace
