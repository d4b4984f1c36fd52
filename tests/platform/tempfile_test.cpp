// Tests of platform/tempfile: where temporary files go, that their names keep
// the prefix and never repeat, and that delete-on-close leaves no name behind.
#include "platform/tempfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/isolated_env.h"

namespace {

using plat::CreateTempFile;
using plat::File;
using plat::TempDirectory;

bool HasEntry(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

class TempFileTest : public ::testing::Test {
 protected:
  testsupport::IsolatedEnv env_;  // restores TMPDIR afterwards
};

TEST_F(TempFileTest, TempDirectoryFromTmpdir) {
  struct Case {
    const char* tmpdir;  // nullptr: unset
    std::string want;
  };
  const std::vector<Case> cases = {
      {"/some/dir", "/some/dir"},
      {"/some/dir/", "/some/dir"},
      {"/some/dir///", "/some/dir"},
      {"relative", "relative"},
      {"/", "/"},
      {"///", "/"},
      {"", "/tmp"},
      {nullptr, "/tmp"},
  };
  for (const Case& tc : cases) {
    if (tc.tmpdir != nullptr)
      setenv("TMPDIR", tc.tmpdir, 1);
    else
      unsetenv("TMPDIR");
    EXPECT_EQ(TempDirectory(), tc.want) << (tc.tmpdir ? tc.tmpdir : "(unset)");
  }
}

TEST_F(TempFileTest, CreatesInTmpdirWithThePrefix) {
  ASSERT_EQ(TempDirectory(), env_.path("tmp"));
  for (const std::string& dir : {TempDirectory(), std::string()}) {  // empty: the same place
    File f;
    std::string name;
    int err = 0;
    ASSERT_TRUE(CreateTempFile(dir, "CIN", false, &f, &name, &err)) << err;
    ASSERT_TRUE(f.IsOpen());
    const std::string start = env_.path("tmp") + "/CIN";
    ASSERT_EQ(name.compare(0, start.size(), start), 0) << name;
    EXPECT_GT(name.size(), start.size()) << "a unique part follows the prefix";
    EXPECT_EQ(name.find('/', start.size()), std::string::npos);

    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    ASSERT_TRUE(f.Write("hello", 5));
    EXPECT_EQ(testsupport::IsolatedEnv::ReadFile(name), "hello");
    char buf[8];
    size_t got = 0;
    ASSERT_TRUE(f.ReadAt(0, buf, sizeof buf, &got));  // open for reading too
    EXPECT_EQ(std::string(buf, got), "hello");
  }
}

TEST_F(TempFileTest, NamesAreUniqueOverManyCalls) {
  std::set<std::string> names;
  const int kCalls = 300;
  for (int i = 0; i < kCalls; ++i) {
    File f;
    std::string name;
    ASSERT_TRUE(CreateTempFile(env_.root(), "CGI", false, &f, &name));
    EXPECT_TRUE(names.insert(name).second) << "repeated " << name;
  }
  // Every file stays: none was reopened and truncated under a repeated name.
  for (const std::string& name : names) EXPECT_TRUE(HasEntry(name)) << name;
}

TEST_F(TempFileTest, DeleteOnCloseLeavesNoEntryButAUsableFile) {
  File f;
  std::string name;
  ASSERT_TRUE(CreateTempFile(TempDirectory(), "CIN", true, &f, &name));
  EXPECT_FALSE(name.empty()) << "the name is still reported";
  EXPECT_FALSE(HasEntry(name));
  struct stat st;
  ASSERT_EQ(fstat(f.fd(), &st), 0);
  EXPECT_EQ(st.st_nlink, 0u);

  const std::string data(10000, 'q');
  ASSERT_TRUE(f.Write(data.data(), data.size()));
  std::string back(data.size(), '\0');
  size_t got = 0;
  ASSERT_TRUE(f.ReadAt(0, back.data(), back.size(), &got));
  EXPECT_EQ(got, data.size());
  EXPECT_TRUE(back == data);
}

TEST_F(TempFileTest, DescriptorIsCloseOnExec) {
  for (bool deleteOnClose : {false, true}) {
    File f;
    ASSERT_TRUE(CreateTempFile(TempDirectory(), "CIN", deleteOnClose, &f, nullptr));
    int flags = fcntl(f.fd(), F_GETFD);
    ASSERT_GE(flags, 0);
    EXPECT_NE(flags & FD_CLOEXEC, 0) << "deleteOnClose=" << deleteOnClose;
  }
}

TEST_F(TempFileTest, FailuresGiveAnErrno) {
  struct Case {
    std::string dir;
    std::string prefix;
    int want;
  };
  const std::string file = env_.WriteFile("plain", "x");
  const std::vector<Case> cases = {
      {env_.path("missing"), "CIN", ENOENT},
      {file, "CIN", ENOTDIR},
      {env_.root(), "sub/CIN", EINVAL},
      {env_.root(), "sub\\CIN", EINVAL},
      {env_.root(), std::string("C\0N", 3), EINVAL},
  };
  for (const Case& tc : cases) {
    File f;
    std::string name = "unchanged";
    int err = 0;
    EXPECT_FALSE(CreateTempFile(tc.dir, tc.prefix, false, &f, &name, &err)) << tc.dir;
    EXPECT_EQ(err, tc.want) << tc.dir << " / " << tc.prefix;
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(name, "unchanged");
  }
}

TEST_F(TempFileTest, BackslashDirectoryAndPreviouslyOpenFile) {
  File f;
  ASSERT_TRUE(f.Open(env_.path("old"), plat::OpenMode::CreateNew));
  const int oldFd = f.fd();
  std::string name;
  ASSERT_TRUE(CreateTempFile(env_.root() + "\\tmp\\", "CIN", false, &f, &name));
  EXPECT_EQ(name.compare(0, env_.path("tmp/CIN").size(), env_.path("tmp/CIN")), 0) << name;
  EXPECT_TRUE(HasEntry(name));
  // The earlier descriptor was closed, not leaked: either its number was
  // free to be reused for the new file, or it is no longer valid.
  EXPECT_TRUE(f.fd() == oldFd || fcntl(oldFd, F_GETFD) < 0);
}

}  // namespace
