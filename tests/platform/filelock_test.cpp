// Tests of platform/filelock: exclusive, never-waiting range locks owned by
// the open file, so that two opens of one process conflict like two
// processes, and closing one open leaves the others' locks in place.
#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "support/isolated_env.h"

namespace {

using plat::File;
using plat::LockRange;
using plat::LockResult;
using plat::OpenMode;
using plat::UnlockRange;

const char* Name(LockResult r) {
  switch (r) {
    case LockResult::Locked:
      return "Locked";
    case LockResult::Violation:
      return "Violation";
    case LockResult::Error:
      return "Error";
  }
  return "?";
}

// Two opens of one small file, as two parts of a program would have them.
class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = env_.WriteFile("table.dat", "0123456789");
    ASSERT_TRUE(a_.Open(path_, OpenMode::ReadWrite));
    ASSERT_TRUE(b_.Open(path_, OpenMode::ReadWrite));
  }
  File OpenAnother() {
    File f;
    EXPECT_TRUE(f.Open(path_, OpenMode::ReadWrite));
    return f;
  }

  testsupport::IsolatedEnv env_;
  std::string path_;
  File a_;
  File b_;
};

TEST_F(FileLockTest, OverlappingRangesConflictAdjacentOnesDoNot) {
  struct Case {
    const char* what;
    uint64_t offset;
    uint64_t length;
    LockResult want;
  };
  // Against a lock on bytes [10, 20) held by the other open.
  const std::vector<Case> cases = {
      {"same range", 10, 10, LockResult::Violation},
      {"overlaps the start", 5, 6, LockResult::Violation},
      {"overlaps the end", 19, 5, LockResult::Violation},
      {"inside", 12, 1, LockResult::Violation},
      {"contains it", 0, 100, LockResult::Violation},
      {"adjacent before", 0, 10, LockResult::Locked},
      {"adjacent after", 20, 5, LockResult::Locked},
      {"far beyond the file's end", 1000, 10, LockResult::Locked},
  };
  for (const Case& tc : cases) {
    File holder = OpenAnother();
    File other = OpenAnother();
    ASSERT_EQ(LockRange(holder.fd(), 10, 10), LockResult::Locked);
    int err = 0;
    LockResult got = LockRange(other.fd(), tc.offset, tc.length, &err);
    EXPECT_EQ(got, tc.want) << tc.what << ": got " << Name(got) << " errno " << err;
  }
}

TEST_F(FileLockTest, UnlockLetsTheOtherOpenLock) {
  ASSERT_EQ(LockRange(a_.fd(), 0, 10), LockResult::Locked);
  EXPECT_EQ(LockRange(b_.fd(), 0, 10), LockResult::Violation);
  int err = 0;
  ASSERT_TRUE(UnlockRange(a_.fd(), 0, 10, &err)) << err;
  EXPECT_EQ(LockRange(b_.fd(), 0, 10), LockResult::Locked);
  EXPECT_EQ(LockRange(a_.fd(), 5, 1), LockResult::Violation);
}

TEST_F(FileLockTest, RelockThroughTheSameOpenSucceeds) {
  ASSERT_EQ(LockRange(a_.fd(), 0, 10), LockResult::Locked);
  EXPECT_EQ(LockRange(a_.fd(), 5, 10), LockResult::Locked);
  // The merged range [0, 15) is held as a whole.
  EXPECT_EQ(LockRange(b_.fd(), 14, 1), LockResult::Violation);
  ASSERT_TRUE(UnlockRange(a_.fd(), 0, 15));
  EXPECT_EQ(LockRange(b_.fd(), 0, 15), LockResult::Locked);
}

TEST_F(FileLockTest, ClosingOneOpenReleasesOnlyItsLocks) {
  ASSERT_EQ(LockRange(a_.fd(), 0, 10), LockResult::Locked);
  ASSERT_EQ(LockRange(b_.fd(), 100, 10), LockResult::Locked);
  {
    // An open that never locked anything comes and goes.
    File bystander = OpenAnother();
  }
  a_.Close();
  File c = OpenAnother();
  EXPECT_EQ(LockRange(c.fd(), 0, 10), LockResult::Locked) << "a's lock went with a";
  EXPECT_EQ(LockRange(c.fd(), 100, 10), LockResult::Violation) << "b's lock must stay";
}

TEST_F(FileLockTest, HighOffsetsAreNotTruncated) {
  struct Case {
    uint64_t held;
    uint64_t tried;
    LockResult want;
  };
  const uint64_t k4G = uint64_t{1} << 32;
  const std::vector<Case> cases = {
      {0x7FFFFFFE, 0x7FFFFFFE, LockResult::Violation},
      {0x7FFFFFFE, 0x7FFFFFFF, LockResult::Locked},
      {0x7FFFFFFE, 0x7FFFFFFD, LockResult::Locked},
      {0xFFFFFFFF, 0xFFFFFFFF, LockResult::Violation},
      {0xFFFFFFFF, k4G, LockResult::Locked},
      {k4G + 5, k4G + 5, LockResult::Violation},
      {k4G + 5, 5, LockResult::Locked},  // the same low 32 bits
      {5, k4G + 5, LockResult::Locked},
      {uint64_t{INT64_MAX}, uint64_t{INT64_MAX}, LockResult::Violation},
  };
  for (const Case& tc : cases) {
    File holder = OpenAnother();
    File other = OpenAnother();
    int err = 0;
    ASSERT_EQ(LockRange(holder.fd(), tc.held, 1, &err), LockResult::Locked)
        << std::hex << tc.held << " errno " << std::dec << err;
    LockResult got = LockRange(other.fd(), tc.tried, 1, &err);
    EXPECT_EQ(got, tc.want) << std::hex << tc.held << " vs " << tc.tried << ": " << Name(got);
  }
}

TEST_F(FileLockTest, RangesPastTheLargestOffsetAreCut) {
  // The whole file and everything after it.
  ASSERT_EQ(LockRange(a_.fd(), 0, UINT64_MAX), LockResult::Locked);
  EXPECT_EQ(LockRange(b_.fd(), uint64_t{1} << 62, 1), LockResult::Violation);
  EXPECT_EQ(LockRange(b_.fd(), uint64_t{INT64_MAX}, 1), LockResult::Violation);
  ASSERT_TRUE(UnlockRange(a_.fd(), 0, UINT64_MAX));
  EXPECT_EQ(LockRange(b_.fd(), uint64_t{1} << 62, 1), LockResult::Locked);

  // A range ending exactly at the largest offset.
  const uint64_t start = uint64_t{INT64_MAX} - 9;
  EXPECT_EQ(LockRange(a_.fd(), start, 10), LockResult::Locked);
  EXPECT_EQ(LockRange(b_.fd(), start - 1, 1), LockResult::Locked);
  EXPECT_EQ(LockRange(b_.fd(), start + 9, 1), LockResult::Violation);
}

TEST_F(FileLockTest, OffsetAboveTheLargestIsAnError) {
  int err = 0;
  EXPECT_EQ(LockRange(a_.fd(), uint64_t{1} << 63, 1, &err), LockResult::Error);
  EXPECT_EQ(err, EINVAL);
  err = 0;
  EXPECT_FALSE(UnlockRange(a_.fd(), UINT64_MAX, 1, &err));
  EXPECT_EQ(err, EINVAL);
}

TEST_F(FileLockTest, ZeroLengthLocksNothing) {
  EXPECT_EQ(LockRange(a_.fd(), 5, 0), LockResult::Locked);
  EXPECT_EQ(LockRange(a_.fd(), 0, 0), LockResult::Locked);
  // Had either call locked "to the end of the file", this would conflict.
  EXPECT_EQ(LockRange(b_.fd(), 0, UINT64_MAX), LockResult::Locked);
  EXPECT_TRUE(UnlockRange(b_.fd(), 0, 0));
  EXPECT_EQ(LockRange(a_.fd(), 5, 1), LockResult::Violation) << "length 0 unlocked nothing";
}

TEST_F(FileLockTest, ForkedChildSeesTheParentsLock) {
  ASSERT_EQ(LockRange(a_.fd(), 0, 10), LockResult::Locked);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child's own open of the file; the inherited descriptors share the
    // parent's open files and so its locks.
    File own;
    if (!own.Open(path_, OpenMode::ReadWrite)) _exit(10);
    if (LockRange(own.fd(), 5, 1) != LockResult::Violation) _exit(11);
    if (LockRange(own.fd(), 10, 1) != LockResult::Locked) _exit(12);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The child's lock ended with the child.
  EXPECT_EQ(LockRange(b_.fd(), 10, 1), LockResult::Locked);
}

TEST_F(FileLockTest, LocksNeverBlockReadsOrWrites) {
  ASSERT_EQ(LockRange(a_.fd(), 0, 100), LockResult::Locked);
  ASSERT_TRUE(b_.WriteAt(2, "xyz", 3));
  char buf[16];
  size_t got = 0;
  ASSERT_TRUE(b_.ReadAt(0, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "01xyz56789");
  ASSERT_TRUE(a_.ReadAt(2, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "xyz");
}

TEST_F(FileLockTest, DescriptorErrors) {
  int err = 0;
  EXPECT_EQ(LockRange(-1, 0, 1, &err), LockResult::Error);
  EXPECT_EQ(err, EBADF);
  err = 0;
  EXPECT_FALSE(UnlockRange(-1, 0, 1, &err));
  EXPECT_EQ(err, EBADF);
  // An exclusive lock needs an open for writing.
  File reader;
  ASSERT_TRUE(reader.Open(path_, OpenMode::Read));
  err = 0;
  EXPECT_EQ(LockRange(reader.fd(), 0, 1, &err), LockResult::Error);
  EXPECT_EQ(err, EBADF);
}

}  // namespace
