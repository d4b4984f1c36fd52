// Tests of platform/paths: separator conversion, lexical full paths against a
// known current directory, and the case-insensitive lookup of existing names.
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/isolated_env.h"

namespace {

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The lexical parent of an absolute path without trailing separator.
std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

size_t Depth(const std::string& path) {
  size_t depth = 0;
  for (char c : path) depth += (c == '/');
  return depth;
}

// Runs each test inside the isolated directory and returns to the original
// current directory afterwards, whatever the test did.
class CwdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[PATH_MAX];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    saved_ = buf;
    cwd_ = RealPath(env_.root());
    ASSERT_FALSE(cwd_.empty());
    ASSERT_EQ(chdir(cwd_.c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(saved_.c_str()), 0); }

  testsupport::IsolatedEnv env_;
  std::string saved_;
  std::string cwd_;
};

TEST(ToSlashesTest, TurnsEveryBackslashIntoSlash) {
  EXPECT_EQ(plat::ToSlashes("a\\b\\\\c/d\\"), "a/b//c/d/");
  EXPECT_EQ(plat::ToSlashes(""), "");
  EXPECT_EQ(plat::ToSlashes("\xC7\\\xD1"), "\xC7/\xD1");
}

TEST_F(CwdTest, CurrentDirectoryIsWhereWeAre) {
  EXPECT_EQ(plat::CurrentDirectory(), cwd_);
  ASSERT_EQ(mkdir("deeper", 0755), 0);
  ASSERT_EQ(chdir("deeper"), 0);
  EXPECT_EQ(plat::CurrentDirectory(), cwd_ + "/deeper");
}

TEST_F(CwdTest, CurrentDirectoryLongerThanFirstBuffer) {
  // Several hundred bytes, beyond a first small getcwd buffer.
  std::string name(200, 'n');
  std::string expected = cwd_;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
    ASSERT_EQ(chdir(name.c_str()), 0);
    expected += "/" + name;
  }
  EXPECT_EQ(plat::CurrentDirectory(), expected);
}

TEST_F(CwdTest, FullPathTable) {
  const std::string c = cwd_;
  const std::string climb = [&] {
    std::string up;
    for (size_t i = 0; i < Depth(c) + 3; ++i) up += "../";
    return up;
  }();
  struct Case {
    std::string in;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"x", c + "/x"},
      {"x/y/../z", c + "/x/z"},
      {"./x/./y", c + "/x/y"},
      {".", c},
      {"./", c + "/"},
      {"..", Parent(c)},
      {"../", Parent(c) + "/"},
      {climb + "x", "/x"},
      {"a\\b", c + "/a/b"},
      {"x//y///z", c + "/x/y/z"},
      {"/a//b///c", "/a/b/c"},
      {"//a", "/a"},
      {"\\a\\b\\..\\c", "/a/c"},
      {"\\\\a", "/a"},
      {"/", "/"},
      {"///", "/"},
      {"/..", "/"},
      {"/../", "/"},
      {"/../../a", "/a"},
      {"/a/../..", "/"},
      {"/a/b/", "/a/b/"},
      {"/a/b//", "/a/b/"},
      {"/a/b\\", "/a/b/"},
      {"/a/b/.", "/a/b"},
      {"/a/b/./", "/a/b/"},
      {"/a/b/..", "/a"},
      {"/a/b/../", "/a/"},
      {"/a/.../b", "/a/.../b"},
      {"/a/..b/.c/c..", "/a/..b/.c/c.."},
      {"/\xC7\xD1/../\xB1\xDB", "/\xB1\xDB"},
  };
  for (const Case& tc : cases) {
    std::string out = "unchanged";
    EXPECT_TRUE(plat::FullPath(tc.in, 4096, &out)) << tc.in;
    EXPECT_EQ(out, tc.want) << "input: " << tc.in;
  }
}

TEST_F(CwdTest, FullPathSizeLimitCountsTheNul) {
  struct Case {
    std::string in;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"/abc", "/abc"},
      {"/x/../abc/", "/abc/"},
      {"rel", cwd_ + "/rel"},
  };
  for (const Case& tc : cases) {
    const size_t need = tc.result.size() + 1;
    std::string out;
    EXPECT_TRUE(plat::FullPath(tc.in, need, &out)) << tc.in;
    EXPECT_EQ(out, tc.result);
    out = "before";
    EXPECT_FALSE(plat::FullPath(tc.in, need - 1, &out)) << tc.in;
    EXPECT_EQ(out, "before") << "a failed call must leave the output alone";
  }
  std::string out;
  EXPECT_FALSE(plat::FullPath("/", 0, &out));
  EXPECT_FALSE(plat::FullPath("/", 1, &out));
  EXPECT_TRUE(plat::FullPath("/", 2, &out));
}

TEST_F(CwdTest, FullPathRejectsEmptyAndNul) {
  std::string out;
  EXPECT_FALSE(plat::FullPath("", 4096, &out));
  EXPECT_FALSE(plat::FullPath(std::string_view("/a\0b", 4), 4096, &out));
}

TEST_F(CwdTest, FullPathNeedsTheCurrentDirectoryOnlyForRelativePaths) {
  ASSERT_EQ(mkdir("gone", 0755), 0);
  ASSERT_EQ(chdir("gone"), 0);
  ASSERT_EQ(rmdir((cwd_ + "/gone").c_str()), 0);
  EXPECT_EQ(plat::CurrentDirectory(), "");
  std::string out;
  EXPECT_FALSE(plat::FullPath("x", 4096, &out));
  EXPECT_TRUE(plat::FullPath("/y/./z", 4096, &out));
  EXPECT_EQ(out, "/y/z");
}

// A small tree whose names differ in case from how tests ask for them.
class ResolveCaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = RealPath(env_.root());
    ASSERT_FALSE(root_.empty());
    Make("Data/Sub/File.txt");
    // Several entries that differ only in case, created out of byte order.
    Make("case/abc");
    Make("case/aBc");
    Make("case/Abc");
    Make("case/ABC");
    // "dir" exists exactly but "Dir" comes first in byte order: only "dir"
    // holds "f".
    Make("mix/Dir/other");
    Make("mix/dir/f");
    Make("\xC7\xD1gul/\xB1\xDBx");
    Make("punct/a[b@");
  }
  void Make(const std::string& rel) { env_.WriteFile(rel, "x"); }
  std::string P(const std::string& rel) const { return root_ + "/" + rel; }

  testsupport::IsolatedEnv env_;
  std::string root_;
};

TEST_F(ResolveCaseTest, ExistingPathIsReturnedAsWritten) {
  // Even unusual spellings stay untouched when the system finds them.
  for (const std::string& path :
       {P("Data/Sub/File.txt"), P("Data//Sub/./File.txt"), P("Data/Sub/"), P("case/aBc")}) {
    std::string out;
    ASSERT_TRUE(plat::ResolvePathCase(path, root_, &out)) << path;
    EXPECT_EQ(out, path);
    ASSERT_TRUE(plat::ResolvePathCase(path, &out)) << path;
    EXPECT_EQ(out, path);
  }
}

TEST_F(ResolveCaseTest, FoldsMismatchedComponents) {
  struct Case {
    std::string in;
    std::string want;
  };
  const std::vector<Case> cases = {
      {P("data/sub/file.TXT"), P("Data/Sub/File.txt")},
      {P("DATA/SUB"), P("Data/Sub")},
      {P("data/SUB/"), P("Data/Sub/")},
      {P("data//sub///FILE.txt"), P("Data/Sub/File.txt")},
      {root_ + "\\data\\sub\\file.txt", P("Data/Sub/File.txt")},
      {P("data/./sub/../Sub/file.txt"), P("Data/./Sub/../Sub/File.txt")},
      // First in byte order: "ABC" < "Abc" < "aBc" < "abc".
      {P("case/abC"), P("case/ABC")},
      {P("CASE/ABc"), P("case/ABC")},
      // An exact match wins over an earlier folded one.
      {P("mix/dir/F"), P("mix/dir/f")},
      {P("MIX/Dir/OTHER"), P("mix/Dir/other")},
      // Letters next to EUC-KR bytes still fold; the EUC-KR bytes compare exactly.
      {P("\xC7\xD1GUL/\xB1\xDBX"), P("\xC7\xD1gul/\xB1\xDBx")},
  };
  for (const Case& tc : cases) {
    std::string out;
    EXPECT_TRUE(plat::ResolvePathCase(tc.in, root_, &out)) << tc.in;
    EXPECT_EQ(out, tc.want) << "input: " << tc.in;
  }
}

TEST_F(ResolveCaseTest, NoMatchGivesFalse) {
  const std::vector<std::string> misses = {
      P("data/nope/file.txt"),
      P("data/sub/none"),
      P("data/sub/file.txt/"),  // a file is not a directory
      P("data/sub/file.txt/x"),
      // Bytes 0x80 and above never fold (0xC7/0xE7 differ by 0x20 like a case pair).
      P("\xE7\xF1gul"),
      P("\xC7\xD1gul/\xB1\xFBx"),
      // Only letters fold: '[' / '{' and '@' / '`' also differ by 0x20.
      P("punct/a{b@"),
      P("punct/A[B`"),
      P("case/ab"),
      P("case/abcd"),
  };
  for (const std::string& path : misses) {
    std::string out = "unchanged";
    EXPECT_FALSE(plat::ResolvePathCase(path, root_, &out)) << path;
    EXPECT_EQ(out, "unchanged");
  }
}

TEST_F(ResolveCaseTest, ExactPrefixIsNeverFolded) {
  std::string out;
  // The prefix itself is spelled differently from the disk.
  EXPECT_FALSE(plat::ResolvePathCase(P("DATA/sub/file.txt"), P("DATA"), &out));
  EXPECT_FALSE(plat::ResolvePathCase(P("DATA/Sub"), P("DATA/Sub"), &out));
  // The same path with a prefix that matches the disk resolves.
  ASSERT_TRUE(plat::ResolvePathCase(P("Data/sub/file.txt"), P("Data"), &out));
  EXPECT_EQ(out, P("Data/Sub/File.txt"));
  ASSERT_TRUE(plat::ResolvePathCase(P("Data/sub/file.txt"), P("Data/"), &out));
  EXPECT_EQ(out, P("Data/Sub/File.txt"));
}

TEST_F(ResolveCaseTest, PrefixMustBeALeadingWholeComponentPart) {
  std::string out;
  EXPECT_FALSE(plat::ResolvePathCase(P("data/sub"), P("Da"), &out));
  EXPECT_FALSE(plat::ResolvePathCase(P("data/sub"), "/elsewhere", &out));
}

TEST_F(ResolveCaseTest, WholePathOverloadFoldsEveryComponent) {
  // The isolated directory's own name, in the other case.
  std::string name = root_.substr(root_.rfind('/') + 1);
  std::string flipped = name;
  for (char& ch : flipped) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    else if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  ASSERT_NE(flipped, name);
  std::string asked = Parent(root_) + "/" + flipped + "/data/sub/";
  std::string out;
  ASSERT_TRUE(plat::ResolvePathCase(asked, &out));
  EXPECT_EQ(out, P("Data/Sub/"));
  // Empty and "/" prefixes mean the same.
  ASSERT_TRUE(plat::ResolvePathCase(asked, "/", &out));
  EXPECT_EQ(out, P("Data/Sub/"));
  // With the real directory as exact prefix, its flipped spelling fails.
  EXPECT_FALSE(plat::ResolvePathCase(asked, Parent(root_) + "/" + flipped, &out));
}

TEST_F(ResolveCaseTest, RejectsEmbeddedNul) {
  std::string out;
  std::string withNul = P("data") + std::string(1, '\0') + "x";
  EXPECT_FALSE(plat::ResolvePathCase(withNul, root_, &out));
}

}  // namespace
