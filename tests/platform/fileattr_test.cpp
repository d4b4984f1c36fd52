// Tests of platform/fileattr: the hidden, read-only and directory bits and the
// size and times of a file, by path and by descriptor.
#include "platform/fileattr.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/isolated_env.h"

namespace {

class FileAttrTest : public ::testing::Test {
 protected:
  std::string MakeFile(const std::string& rel) { return env_.WriteFile(rel, "content"); }
  std::string MakeDir(const std::string& rel) {
    std::string p = env_.path(rel);
    EXPECT_EQ(mkdir(p.c_str(), 0755), 0) << p;
    return p;
  }

  testsupport::IsolatedEnv env_;
};

TEST_F(FileAttrTest, HiddenAndDirectoryBits) {
  MakeFile(".hidden");
  MakeFile("a.b");
  MakeFile("plain");
  MakeDir(".dir");
  MakeDir("dir");
  MakeFile(".dir/inside");
  MakeFile("dir/.x");
  ASSERT_EQ(symlink("dir", env_.path(".linkdir").c_str()), 0);
  ASSERT_EQ(symlink(".hidden", env_.path("linkfile").c_str()), 0);
  ASSERT_EQ(mkfifo(env_.path("pipe").c_str(), 0600), 0);

  struct Case {
    std::string rel;
    uint32_t want;
  };
  const std::vector<Case> cases = {
      {".hidden", plat::kAttrHidden},
      {"a.b", 0},
      {"plain", 0},
      {".dir", plat::kAttrHidden | plat::kAttrDirectory},
      {".dir/", plat::kAttrHidden | plat::kAttrDirectory},
      {".dir//", plat::kAttrHidden | plat::kAttrDirectory},
      {"dir", plat::kAttrDirectory},
      {".dir/inside", 0},  // a dotted parent does not hide its children
      {"dir/.x", plat::kAttrHidden},
      {"dir\\.x", plat::kAttrHidden},
      {".linkdir", plat::kAttrHidden | plat::kAttrDirectory},  // links are followed
      {"linkfile", 0},  // the link's own name counts, not its target's
      {"dir/.", plat::kAttrDirectory},
      {"dir/..", plat::kAttrDirectory},
      {"pipe", plat::kAttrDevice},  // neither a file nor a directory
  };
  for (const Case& tc : cases) {
    uint32_t attrs = 0xDEAD;
    int err = 0;
    ASSERT_TRUE(plat::GetFileAttributes(env_.path(tc.rel), &attrs, &err)) << tc.rel << " " << err;
    EXPECT_EQ(attrs, tc.want) << tc.rel;
  }
}

TEST_F(FileAttrTest, MissingPathsGiveTheirErrno) {
  std::string file = MakeFile("file");
  struct Case {
    std::string path;
    int want;
  };
  const std::vector<Case> cases = {
      {env_.path("missing"), ENOENT},
      {env_.path("nodir/x"), ENOENT},
      {file + "/x", ENOTDIR},
      {"", ENOENT},
      {std::string("a\0b", 3), EINVAL},
  };
  for (const Case& tc : cases) {
    uint32_t attrs = 0;
    int err = 0;
    EXPECT_FALSE(plat::GetFileAttributes(tc.path, &attrs, &err)) << tc.path;
    EXPECT_EQ(err, tc.want) << tc.path;
    plat::FileStatus status;
    err = 0;
    EXPECT_FALSE(plat::GetFileStatus(tc.path, &status, &err)) << tc.path;
    EXPECT_EQ(err, tc.want) << tc.path;
  }
  // No error slot is fine too.
  uint32_t attrs = 0;
  EXPECT_FALSE(plat::GetFileAttributes(env_.path("missing"), &attrs));
}

// Runs `check` in a child process that has given up root for the "nobody"
// IDs, so that permission bits apply; returns the child's exit code.
int RunAsNobody(bool (*check)(const std::string&), const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(check(path) ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool HasReadOnly(const std::string& path) {
  uint32_t attrs = 0;
  return plat::GetFileAttributes(path, &attrs) && (attrs & plat::kAttrReadOnly) != 0;
}

bool LacksReadOnly(const std::string& path) {
  uint32_t attrs = 0xFF;
  return plat::GetFileAttributes(path, &attrs) && (attrs & plat::kAttrReadOnly) == 0;
}

TEST_F(FileAttrTest, ReadOnlyFollowsWritePermission) {
  std::string ro = MakeFile("ro");
  std::string rw = MakeFile("rw");
  std::string roDir = MakeDir("rodir");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  ASSERT_EQ(chmod(rw.c_str(), 0666), 0);
  ASSERT_EQ(chmod(roDir.c_str(), 0555), 0);

  if (geteuid() != 0) {
    EXPECT_TRUE(HasReadOnly(ro));
    EXPECT_TRUE(HasReadOnly(roDir));
    EXPECT_TRUE(LacksReadOnly(rw));
    return;
  }
  // Root may write whatever the mode bits say, so for root nothing here is
  // read-only; an unprivileged child sees the bits.
  EXPECT_TRUE(LacksReadOnly(ro));
  ASSERT_EQ(chmod(env_.root().c_str(), 0755), 0);  // let the child reach the files
  EXPECT_EQ(RunAsNobody(HasReadOnly, ro), 0);
  EXPECT_EQ(RunAsNobody(HasReadOnly, roDir), 0);
  EXPECT_EQ(RunAsNobody(LacksReadOnly, rw), 0);
}

TEST_F(FileAttrTest, StatusBySizeAndTimes) {
  std::string path = env_.WriteFile("f", "12345");
  const struct timespec times[2] = {
      {1000000000, 0},          // accessed
      {1234567890, 999999999},  // modified: the fraction is dropped, not rounded
  };
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  const int64_t before = static_cast<int64_t>(time(nullptr));

  plat::FileStatus byPath;
  int err = 0;
  ASSERT_TRUE(plat::GetFileStatus(path, &byPath, &err)) << err;
  EXPECT_EQ(byPath.size, 5);
  EXPECT_EQ(byPath.modified, 1234567890);
  EXPECT_EQ(byPath.accessed, 1000000000);
  // The change time is when utimensat ran: now, within generous bounds.
  EXPECT_GE(byPath.changed, before - 600);
  EXPECT_LE(byPath.changed, before + 600);

  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  plat::FileStatus byFd;
  EXPECT_TRUE(plat::GetFileStatus(fd, &byFd, &err));
  close(fd);
  EXPECT_EQ(byFd.size, byPath.size);
  EXPECT_EQ(byFd.modified, byPath.modified);
  EXPECT_EQ(byFd.accessed, byPath.accessed);
  EXPECT_EQ(byFd.changed, byPath.changed);
}

TEST_F(FileAttrTest, StatusOfLargeSparseFileAndOldTimes) {
  std::string path = env_.WriteFile("big", "");
  ASSERT_EQ(truncate(path.c_str(), int64_t{5} << 30), 0);  // 5 GiB, beyond 32 bits
  const struct timespec times[2] = {{-86400, 0}, {-1, 0}};  // before 1970
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  plat::FileStatus status;
  ASSERT_TRUE(plat::GetFileStatus(path, &status));
  EXPECT_EQ(status.size, int64_t{5} << 30);
  EXPECT_EQ(status.modified, -1);
  EXPECT_EQ(status.accessed, -86400);
}

TEST_F(FileAttrTest, StatusOfBadDescriptor) {
  plat::FileStatus status;
  int err = 0;
  EXPECT_FALSE(plat::GetFileStatus(-1, &status, &err));
  EXPECT_EQ(err, EBADF);
}

}  // namespace
