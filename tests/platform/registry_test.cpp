// Tests of the registry file: where it lives, how values round-trip through
// it, how a hand-written file is read, that a rewrite keeps every line it does
// not change byte for byte, the exact bytes of a fresh file, and the sharing
// protocol (readers during rewrites, writers in threads and in processes).
#include "platform/registry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/isolated_env.h"

namespace {

using plat::RegCreateKey;
using plat::RegDeleteValue;
using plat::RegGetDword;
using plat::RegGetString;
using plat::RegistryFilePath;
using plat::RegKeyExists;
using plat::RegSetDword;
using plat::RegSetString;
using plat::RegStatus;

constexpr char kTavrel[] = "SOFTWARE\\Quorval\\Tavrel";

const char* Name(RegStatus s) {
  switch (s) {
    case RegStatus::Ok: return "Ok";
    case RegStatus::NoKey: return "NoKey";
    case RegStatus::NoValue: return "NoValue";
    case RegStatus::WrongType: return "WrongType";
    case RegStatus::IoError: return "IoError";
  }
  return "?";
}

}  // namespace

namespace plat {
void PrintTo(RegStatus s, std::ostream* os) { *os << Name(s); }
}  // namespace plat

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  std::string FilePath() const { return env_.path("home/.config/registry/HKEY_CURRENT_USER.reg"); }
  void WriteRegistry(const std::string& bytes) const {
    env_.WriteFile("home/.config/registry/HKEY_CURRENT_USER.reg", bytes);
  }
  std::string ReadRegistry() const { return testsupport::IsolatedEnv::ReadFile(FilePath()); }
  bool RegistryExists() const { return std::filesystem::exists(FilePath()); }

  testsupport::IsolatedEnv env_;
};

// ---------------------------------------------------------------------------
// Where the file lives

TEST(RegistryPathTest, ConfigHomeWinsOverHomeWhenSetAndNotEmpty) {
  testsupport::IsolatedEnv env;
  const std::string viaHome = env.path("home/.config/registry/HKEY_CURRENT_USER.reg");
  struct Case {
    const char* label;
    std::optional<std::string> xdg;  // nullopt: unset
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"set", env.path("elsewhere/cfg"), env.path("elsewhere/cfg/registry/HKEY_CURRENT_USER.reg")},
      {"empty", "", viaHome},
      {"unset", std::nullopt, viaHome},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.xdg)
      setenv("XDG_CONFIG_HOME", c.xdg->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegistryFilePath(), c.expected);
    // The first write creates the missing directories and the file right there.
    std::filesystem::remove_all(env.path("home/.config"));
    std::filesystem::remove_all(env.path("elsewhere"));
    ASSERT_EQ(RegCreateKey("K"), RegStatus::Ok);
    EXPECT_TRUE(std::filesystem::is_regular_file(c.expected));
    EXPECT_TRUE(std::filesystem::exists(c.expected + ".lock"));
    EXPECT_TRUE(RegKeyExists("K"));
  }
}

// ---------------------------------------------------------------------------
// Round trips

TEST_F(RegistryTest, StringsRoundTripByteForByte) {
  struct Case {
    const char* label;
    std::string name;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"plain", "Port", "8080"},
      {"euc-kr", "\xC7\xD1\xB1\xDB", "\xB0\xA1\xB3\xAA \xC6\xF7\xC5\xBB"},
      {"high bytes", "hi", std::string("\x80\x81\xFE\xFF", 4)},
      {"backslashes", "Dir", "C:\\Quorval\\Tavrel\\"},
      {"quotes", "Say", "he said \"hi\""},
      {"escape look-alikes", "Esc", "\\\"\\\\\"\\n"},
      {"only a backslash", "Bs", "\\"},
      {"empty", "Empty", ""},
      {"name with escapes", "a\"b\\c", "x"},
      {"default value", "", "the default"},
      {"brackets and equals", "[x]=y", "[HKEY_CURRENT_USER\\Fake]"},
  };
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  for (const Case& c : cases) ASSERT_EQ(RegSetString(kTavrel, c.name, c.value), RegStatus::Ok) << c.label;
  // Read back only after all are written, so one value can't mask another.
  for (const Case& c : cases) {
    std::string got = "unset";
    EXPECT_EQ(RegGetString(kTavrel, c.name, &got), RegStatus::Ok) << c.label;
    EXPECT_EQ(got, c.value) << c.label;
  }
}

TEST_F(RegistryTest, DwordsRoundTrip) {
  const std::vector<uint32_t> values = {0, 1, 0xABCD, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  for (size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(RegSetDword(kTavrel, "D" + std::to_string(i), values[i]), RegStatus::Ok);
  for (size_t i = 0; i < values.size(); ++i) {
    uint32_t got = 12345;
    EXPECT_EQ(RegGetDword(kTavrel, "D" + std::to_string(i), &got), RegStatus::Ok);
    EXPECT_EQ(got, values[i]) << i;
  }
}

TEST_F(RegistryTest, OverwritingChangesTheTypeAndKeepsOneLine) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "V", "text"), RegStatus::Ok);
  ASSERT_EQ(RegSetDword(kTavrel, "V", 7), RegStatus::Ok);
  uint32_t d = 0;
  EXPECT_EQ(RegGetDword(kTavrel, "V", &d), RegStatus::Ok);
  EXPECT_EQ(d, 7u);
  ASSERT_EQ(RegSetString(kTavrel, "V", "again"), RegStatus::Ok);
  std::string s;
  EXPECT_EQ(RegGetString(kTavrel, "V", &s), RegStatus::Ok);
  EXPECT_EQ(s, "again");
  EXPECT_EQ(ReadRegistry(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n\"V\"=\"again\"\r\n\r\n");
}

// ---------------------------------------------------------------------------
// Case and statuses

TEST_F(RegistryTest, KeysAndNamesIgnoreAsciiCaseOnly) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "Port", "80"), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "\xC7\xD1", "korean"), RegStatus::Ok);

  std::string got;
  EXPECT_EQ(RegGetString("software\\QUORVAL\\tAvReL", "pORT", &got), RegStatus::Ok);
  EXPECT_EQ(got, "80");
  EXPECT_TRUE(RegKeyExists("SOFTWARE\\QUORVAL"));
  // Bytes >= 0x80 are not letters: 0xC7 and 0xE7 differ only in bit 0x20.
  EXPECT_EQ(RegGetString(kTavrel, "\xE7\xF1", &got), RegStatus::NoValue);
  EXPECT_EQ(RegGetString(kTavrel, "\xC7\xD1", &got), RegStatus::Ok);
  EXPECT_EQ(got, "korean");

  // A write in another case changes the same value.
  ASSERT_EQ(RegSetString("SOFTWARE\\quorval\\TAVREL", "PORT", "8080"), RegStatus::Ok);
  EXPECT_EQ(RegGetString(kTavrel, "Port", &got), RegStatus::Ok);
  EXPECT_EQ(got, "8080");
  const std::string file = ReadRegistry();
  EXPECT_EQ(file.find("PORT"), std::string::npos) << file;
  EXPECT_EQ(file.find("quorval"), std::string::npos) << file;
}

TEST_F(RegistryTest, MissingFileKeyAndValue) {
  std::string s = "untouched";
  uint32_t d = 99;
  EXPECT_EQ(RegGetString(kTavrel, "Port", &s), RegStatus::NoKey);
  EXPECT_EQ(RegGetDword(kTavrel, "Port", &d), RegStatus::NoKey);
  EXPECT_FALSE(RegKeyExists(kTavrel));
  EXPECT_FALSE(RegKeyExists(""));
  EXPECT_EQ(RegSetString(kTavrel, "Port", "80"), RegStatus::NoKey);
  EXPECT_EQ(RegSetDword(kTavrel, "Port", 80), RegStatus::NoKey);
  EXPECT_EQ(RegDeleteValue(kTavrel, "Port"), RegStatus::NoKey);
  EXPECT_FALSE(RegistryExists()) << "a failed write must not create the file";

  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  EXPECT_EQ(RegGetString(kTavrel, "Port", &s), RegStatus::NoValue);
  EXPECT_EQ(RegGetDword(kTavrel, "Port", &d), RegStatus::NoValue);
  EXPECT_EQ(RegGetString("SOFTWARE\\Quorval\\Other", "Port", &s), RegStatus::NoKey);
  EXPECT_EQ(RegDeleteValue(kTavrel, "Port"), RegStatus::NoValue);
  EXPECT_EQ(s, "untouched");
  EXPECT_EQ(d, 99u);
}

TEST_F(RegistryTest, TypeMismatchLeavesTheOutputAlone) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "Text", "12"), RegStatus::Ok);
  ASSERT_EQ(RegSetDword(kTavrel, "Number", 12), RegStatus::Ok);
  std::string s = "untouched";
  uint32_t d = 99;
  EXPECT_EQ(RegGetDword(kTavrel, "Text", &d), RegStatus::WrongType);
  EXPECT_EQ(RegGetString(kTavrel, "Number", &s), RegStatus::WrongType);
  EXPECT_EQ(s, "untouched");
  EXPECT_EQ(d, 99u);
}

TEST_F(RegistryTest, DeleteRemovesTheValueOnly) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "A", "1"), RegStatus::Ok);
  ASSERT_EQ(RegSetDword(kTavrel, "B", 2), RegStatus::Ok);
  EXPECT_EQ(RegDeleteValue(kTavrel, "a"), RegStatus::Ok);
  std::string s;
  uint32_t d = 0;
  EXPECT_EQ(RegGetString(kTavrel, "A", &s), RegStatus::NoValue);
  EXPECT_EQ(RegGetDword(kTavrel, "B", &d), RegStatus::Ok);
  EXPECT_EQ(d, 2u);
  EXPECT_TRUE(RegKeyExists(kTavrel));
  EXPECT_EQ(RegDeleteValue(kTavrel, "A"), RegStatus::NoValue);
  EXPECT_EQ(ReadRegistry(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n\"B\"=dword:00000002\r\n\r\n");
}

TEST_F(RegistryTest, UnstorableInputIsRefusedAndWritesNothing) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "Keep", "1"), RegStatus::Ok);
  const std::string before = ReadRegistry();
  struct Case {
    const char* label;
    std::string key, name, value;
    bool createKey;  // RegCreateKey(key) instead of RegSetString
  };
  const std::vector<Case> cases = {
      {"CR in value", kTavrel, "V", "a\rb", false},
      {"LF in value", kTavrel, "V", "a\nb", false},
      {"NUL in value", kTavrel, "V", std::string("a\0b", 3), false},
      {"LF in name", kTavrel, "V\n", "x", false},
      {"NUL in name", kTavrel, std::string("V\0", 2), "x", false},
      {"LF in key", "SOFTWARE\\A\nB", "", "", true},
      {"CR in key", "SOFTWARE\\A\rB", "", "", true},
      {"key ending in ]", "SOFTWARE\\A]", "", "", true},
  };
  for (const Case& c : cases) {
    RegStatus got = c.createKey ? RegCreateKey(c.key) : RegSetString(c.key, c.name, c.value);
    EXPECT_EQ(got, RegStatus::IoError) << c.label;
    EXPECT_EQ(ReadRegistry(), before) << c.label;
  }
}

TEST_F(RegistryTest, IoErrorsAreReported) {
  // The registry file is a directory: it exists but can't be read.
  std::filesystem::create_directories(FilePath());
  std::string s;
  EXPECT_EQ(RegGetString(kTavrel, "V", &s), RegStatus::IoError);
  uint32_t d;
  EXPECT_EQ(RegGetDword(kTavrel, "V", &d), RegStatus::IoError);
  EXPECT_FALSE(RegKeyExists(kTavrel));
  EXPECT_EQ(RegCreateKey(kTavrel), RegStatus::IoError);

  // The configuration directory is a plain file: nothing can be created
  // below it, and reading finds no registry.
  const std::string blocker = env_.WriteFile("blocker", "not a directory");
  setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
  EXPECT_EQ(RegGetString(kTavrel, "V", &s), RegStatus::NoKey);
  EXPECT_EQ(RegCreateKey(kTavrel), RegStatus::IoError);
}

// ---------------------------------------------------------------------------
// A hand-written file

// Mixed line ends, comments, hex data over several lines, another root, a
// deletion section, a default value, malformed lines, keys implied by
// subkeys, and a last line without line end.
const std::string kHandWritten =
    "REGEDIT4\r\n"
    "\r\n"
    "; settings of the portal\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n"
    "\"Port\"=\"8080\"\r\n"
    "\"Count\"=dword:0000ABCD\n"
    "\"Short\"=dword:1f\n"
    "@=\"default text\"\r\n"
    "\"Bin\"=hex:01,02,03,\\\r\n"
    "  \"Fake\"=\"inside hex data\",\\\n"
    "  05\r\n"
    "\"Expand\"=hex(2):41,00,42,00\n"
    "\"Gone\"=-\n"
    "this line means nothing\n"
    "\"Broken\"=dword:xyz\n"
    "\"TooLong\"=dword:123456789\n"
    "\"Open\"=\"no closing quote\n"
    "\"Quoted \\\"name\\\"\"=\"a\\\\b\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorval\\Tavrel]\n"
    "\"Machine\"=\"m\"\n"
    "\n"
    "[-HKEY_CURRENT_USER\\SOFTWARE\\Removed]\r\n"
    "\"Orphan\"=\"o\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Implied\\Child\\]\r\n"
    "\"Leaf\"=dword:00000001\r\n"
    "\r\n"
    "[\\SOFTWARE\\NoRoot]\n"
    "\"Bare\"=\"b\"\n"
    "; end";

TEST_F(RegistryTest, ReadsAHandWrittenFile) {
  WriteRegistry(kHandWritten);
  enum Kind { Str, Dw };
  struct Case {
    const char* key;
    std::string name;
    Kind kind;
    RegStatus status;
    std::string str;
    uint32_t dword;
  };
  const std::vector<Case> cases = {
      {kTavrel, "Port", Str, RegStatus::Ok, "8080", 0},
      {kTavrel, "Count", Dw, RegStatus::Ok, "", 0xABCD},
      {kTavrel, "Short", Dw, RegStatus::Ok, "", 0x1F},
      {kTavrel, "", Str, RegStatus::Ok, "default text", 0},
      {kTavrel, "@", Str, RegStatus::Ok, "default text", 0},
      {kTavrel, "Quoted \"name\"", Str, RegStatus::Ok, "a\\b", 0},
      {kTavrel, "Bin", Str, RegStatus::WrongType, "", 0},
      {kTavrel, "Bin", Dw, RegStatus::WrongType, "", 0},
      {kTavrel, "Expand", Str, RegStatus::WrongType, "", 0},
      {kTavrel, "Fake", Str, RegStatus::NoValue, "", 0},  // a continuation line
      {kTavrel, "Gone", Str, RegStatus::NoValue, "", 0},
      {kTavrel, "Broken", Dw, RegStatus::WrongType, "", 0},
      {kTavrel, "TooLong", Dw, RegStatus::WrongType, "", 0},
      {kTavrel, "Open", Str, RegStatus::WrongType, "", 0},
      {kTavrel, "Machine", Str, RegStatus::NoValue, "", 0},
      {"SOFTWARE\\Removed", "Orphan", Str, RegStatus::NoKey, "", 0},
      {"SOFTWARE\\Implied\\Child", "Leaf", Dw, RegStatus::Ok, "", 1},
      {"SOFTWARE\\Implied", "Leaf", Dw, RegStatus::NoValue, "", 0},
      {"\\SOFTWARE\\Implied\\Child\\", "leaf", Dw, RegStatus::Ok, "", 1},
      {"SOFTWARE\\NoRoot", "Bare", Str, RegStatus::Ok, "b", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " / " + c.name);
    if (c.kind == Str) {
      std::string got = "untouched";
      EXPECT_EQ(RegGetString(c.key, c.name, &got), c.status);
      EXPECT_EQ(got, c.status == RegStatus::Ok ? c.str : "untouched");
    } else {
      uint32_t got = 0xDEAD;
      EXPECT_EQ(RegGetDword(c.key, c.name, &got), c.status);
      EXPECT_EQ(got, c.status == RegStatus::Ok ? c.dword : 0xDEADu);
    }
  }
}

TEST_F(RegistryTest, KeyExistenceOwnOrImplied) {
  WriteRegistry(kHandWritten);
  struct Case {
    const char* key;
    bool exists;
  };
  const std::vector<Case> cases = {
      {kTavrel, true},
      {"SOFTWARE\\Quorval", true},  // implied by the Tavrel section
      {"SOFTWARE", true},
      {"", true},
      {"software\\implied", true},
      {"SOFTWARE\\Implied\\Child", true},
      {"SOFTWARE\\Implied\\Child\\Leaf", false},
      {"SOFTWARE\\Impl", false},  // a prefix, but not a whole component
      {"SOFTWARE\\Removed", false},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE", false},
      {"SOFTWARE\\Quorval\\Tavrel\\Sub", false},
  };
  for (const Case& c : cases) EXPECT_EQ(RegKeyExists(c.key), c.exists) << c.key;
}

TEST_F(RegistryTest, LaterLinesOfAValueWin) {
  WriteRegistry(
      "REGEDIT4\n\n"
      "[HKEY_CURRENT_USER\\K]\n\"V\"=\"first\"\n\n"
      "[HKEY_CURRENT_USER\\Other]\n\"V\"=\"other\"\n\n"
      "[hkey_current_user\\k]\n\"v\"=\"second\"\n\n");
  std::string s;
  EXPECT_EQ(RegGetString("K", "V", &s), RegStatus::Ok);
  EXPECT_EQ(s, "second");
  // The change goes to the line that is read, the new value to the key's
  // last section.
  ASSERT_EQ(RegSetString("K", "V", "third"), RegStatus::Ok);
  ASSERT_EQ(RegSetString("K", "New", "n"), RegStatus::Ok);
  EXPECT_EQ(ReadRegistry(),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\K]\n\"V\"=\"first\"\n\n"
            "[HKEY_CURRENT_USER\\Other]\n\"V\"=\"other\"\n\n"
            "[hkey_current_user\\k]\n\"v\"=\"third\"\r\n\"New\"=\"n\"\r\n\n");
  // Deleting removes every line of the value in the key, none of another key.
  ASSERT_EQ(RegDeleteValue("K", "V"), RegStatus::Ok);
  EXPECT_EQ(RegGetString("K", "V", &s), RegStatus::NoValue);
  EXPECT_EQ(RegGetString("Other", "V", &s), RegStatus::Ok);
  EXPECT_EQ(s, "other");
}

// Every step changes exactly the lines it must; everything else of the file,
// line ends included, stays byte for byte.
TEST_F(RegistryTest, RewriteKeepsEveryOtherByte) {
  WriteRegistry(kHandWritten);
  std::string expected = kHandWritten;
  auto replace = [&expected](const std::string& from, const std::string& to) {
    size_t at = expected.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    expected.replace(at, from.size(), to);
  };

  // In place, keeping how the name is written; the new line ends in CR LF.
  ASSERT_EQ(RegSetString(kTavrel, "pORT", "80"), RegStatus::Ok);
  replace("\"Port\"=\"8080\"\r\n", "\"Port\"=\"80\"\r\n");
  ASSERT_EQ(ReadRegistry(), expected);

  ASSERT_EQ(RegSetDword(kTavrel, "Count", 0x12), RegStatus::Ok);
  replace("\"Count\"=dword:0000ABCD\n", "\"Count\"=dword:00000012\r\n");
  ASSERT_EQ(ReadRegistry(), expected);

  // A new value goes after the section's last line, before the empty line.
  ASSERT_EQ(RegSetString(kTavrel, "New", "n"), RegStatus::Ok);
  replace("\"a\\\\b\"\n\n", "\"a\\\\b\"\n\"New\"=\"n\"\r\n\n");
  ASSERT_EQ(ReadRegistry(), expected);

  // A value over three lines is one unit: replaced and deleted whole.
  ASSERT_EQ(RegSetString(kTavrel, "Bin", "now text"), RegStatus::Ok);
  replace("\"Bin\"=hex:01,02,03,\\\r\n  \"Fake\"=\"inside hex data\",\\\n  05\r\n", "\"Bin\"=\"now text\"\r\n");
  ASSERT_EQ(ReadRegistry(), expected);
  ASSERT_EQ(RegDeleteValue(kTavrel, "Bin"), RegStatus::Ok);
  replace("\"Bin\"=\"now text\"\r\n", "");
  ASSERT_EQ(ReadRegistry(), expected);

  // A key implied by its subkey gets its own section at the end; the last
  // line, which had no line end, gets one.
  ASSERT_EQ(RegSetString("SOFTWARE\\Implied", "V", "x"), RegStatus::Ok);
  expected += "\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Implied]\r\n\"V\"=\"x\"\r\n\r\n";
  ASSERT_EQ(ReadRegistry(), expected);

  // Keys that exist, own or implied, need no new line.
  ASSERT_EQ(RegCreateKey("SOFTWARE\\Quorval"), RegStatus::Ok);
  ASSERT_EQ(RegCreateKey("\\software\\implied\\child\\"), RegStatus::Ok);
  ASSERT_EQ(ReadRegistry(), expected);
  // Setting a value to what it already is does not rewrite the file either.
  ASSERT_EQ(RegSetString(kTavrel, "Port", "80"), RegStatus::Ok);
  ASSERT_EQ(ReadRegistry(), expected);
}

// The format written from nothing, pinned byte for byte.
TEST_F(RegistryTest, FreshFileBytes) {
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(ReadRegistry(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n\r\n");
  ASSERT_EQ(RegSetString(kTavrel, "Port", "80"), RegStatus::Ok);
  ASSERT_EQ(RegSetDword(kTavrel, "Count", 0xABCD), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "", "C:\\x \"q\""), RegStatus::Ok);
  ASSERT_EQ(RegCreateKey("SOFTWARE\\Quorval\\Other\\Deep"), RegStatus::Ok);
  ASSERT_EQ(RegSetString("SOFTWARE\\Quorval\\Other\\Deep", "\xC7\xD1", "\xB1\xDB"), RegStatus::Ok);
  ASSERT_EQ(RegSetDword(kTavrel, "Max", 0xFFFFFFFF), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "Port", "8080"), RegStatus::Ok);
  EXPECT_EQ(ReadRegistry(),
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]\r\n"
            "\"Port\"=\"8080\"\r\n"
            "\"Count\"=dword:0000abcd\r\n"
            "@=\"C:\\\\x \\\"q\\\"\"\r\n"
            "\"Max\"=dword:ffffffff\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Other\\Deep]\r\n"
            "\"\xC7\xD1\"=\"\xB1\xDB\"\r\n"
            "\r\n");
  // Only the registry and its lock file: no temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(env_.path("home/.config/registry")))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

// ---------------------------------------------------------------------------
// Sharing

// The text written at step i: the number, then a body derived from it, so a
// reader can tell a complete value from a torn or mixed one.
std::string StepText(int i) {
  std::string body;
  for (int k = 0; k < i % 40 + 1; ++k) body += static_cast<char>('a' + (i + k) % 26);
  return std::to_string(i) + ":\xC7\xD1\\\"" + body;
}

TEST_F(RegistryTest, ReadersSeeCompleteValuesDuringRewrites) {
  constexpr int kSteps = 200;
  constexpr int kReaders = 3;
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  ASSERT_EQ(RegSetString(kTavrel, "Step", StepText(0)), RegStatus::Ok);

  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, reads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      int last = 0;
      // At least a few reads even if the writer is quick.
      for (int n = 0; n < 20 || !done.load(); ++n) {
        std::string got;
        RegStatus st = RegGetString(kTavrel, "Step", &got);
        int step = st == RegStatus::Ok ? std::atoi(got.c_str()) : -1;
        // Complete, and never older than what this reader saw before.
        if (st != RegStatus::Ok || got != StepText(step) || step < last) ++bad;
        if (step > last) last = step;
        ++reads;
      }
    });
  }
  std::thread writer([&] {
    for (int i = 1; i <= kSteps; ++i) {
      if (RegSetString(kTavrel, "Step", StepText(i)) != RegStatus::Ok) ++bad;
      // A second value makes the file grow and shrink between rewrites.
      if (RegSetDword(kTavrel, "N" + std::to_string(i % 7), i) != RegStatus::Ok) ++bad;
    }
    done = true;
  });
  writer.join();
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GE(reads.load(), kReaders * 20);
  std::string last;
  EXPECT_EQ(RegGetString(kTavrel, "Step", &last), RegStatus::Ok);
  EXPECT_EQ(last, StepText(kSteps));
}

TEST_F(RegistryTest, WriterThreadsLoseNoUpdate) {
  constexpr int kThreads = 4;
  constexpr int kEach = 40;
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failed] {
      for (int i = 0; i < kEach; ++i)
        if (RegSetDword(kTavrel, "t" + std::to_string(t) + "-" + std::to_string(i), t * 1000 + i) != RegStatus::Ok)
          ++failed;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failed.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      uint32_t got = 0;
      ASSERT_EQ(RegGetDword(kTavrel, "t" + std::to_string(t) + "-" + std::to_string(i), &got), RegStatus::Ok)
          << t << " " << i;
      EXPECT_EQ(got, static_cast<uint32_t>(t * 1000 + i));
    }
  }
}

// Runs in a forked child: waits for the start signal, then sets `count`
// values of its own. Exits with the number of failed calls (capped).
[[noreturn]] void WriterChild(int startFd, int id, int count) {
  char go;
  while (read(startFd, &go, 1) < 0 && errno == EINTR) {
  }
  int failed = 0;
  for (int i = 0; i < count; ++i)
    if (RegSetDword(kTavrel, "p" + std::to_string(id) + "-" + std::to_string(i), id * 1000 + i) != RegStatus::Ok)
      ++failed;
  _exit(failed > 100 ? 100 : failed);
}

TEST_F(RegistryTest, WriterProcessesLoseNoUpdate) {
  constexpr int kProcesses = 2;
  constexpr int kEach = 200;
  ASSERT_EQ(RegCreateKey(kTavrel), RegStatus::Ok);
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      WriterChild(start[0], p, kEach);
    }
    children.push_back(pid);
  }
  // Closing the write end wakes both children at once.
  close(start[0]);
  close(start[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed calls in child " << pid;
  }
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kEach; ++i) {
      uint32_t got = 0;
      ASSERT_EQ(RegGetDword(kTavrel, "p" + std::to_string(p) + "-" + std::to_string(i), &got), RegStatus::Ok)
          << p << " " << i;
      EXPECT_EQ(got, static_cast<uint32_t>(p * 1000 + i));
    }
  }
}

}  // namespace
