// Shared locks: many readers together, exclusive locks of other open files
// refused both ways, and the unlock through UnlockRange.
#include "platform/sharelock.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "platform/filelock.h"
#include "support/isolated_env.h"

namespace {

class ShareLockTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = env_.WriteFile("f.bin", "data"); }
  plat::File Open(plat::OpenMode mode) {
    plat::File f;
    EXPECT_TRUE(f.Open(path_, mode));
    return f;
  }
  testsupport::IsolatedEnv env_;
  std::string path_;
};

constexpr uint64_t kAt = 1ull << 62;

TEST_F(ShareLockTest, SharedHoldersExcludeExclusiveLocks) {
  plat::File a = Open(plat::OpenMode::Read), b = Open(plat::OpenMode::ReadWrite);
  plat::File c = Open(plat::OpenMode::ReadWrite);
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRangeShared(a.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRangeShared(b.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Violation, plat::LockRange(c.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Violation, plat::LockRange(c.fd(), 0, UINT64_MAX));
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRange(c.fd(), kAt + 1, 1));
  ASSERT_TRUE(plat::UnlockRange(a.fd(), kAt, 1));
  ASSERT_TRUE(plat::UnlockRange(b.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRange(c.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Violation, plat::LockRangeShared(a.fd(), kAt, 1));
}

TEST_F(ShareLockTest, ClosingReleasesAndBadArgumentsFail) {
  {
    plat::File a = Open(plat::OpenMode::Read);
    ASSERT_EQ(plat::LockResult::Locked, plat::LockRangeShared(a.fd(), kAt, 1));
  }
  plat::File c = Open(plat::OpenMode::ReadWrite);
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRange(c.fd(), kAt, 1));
  EXPECT_EQ(plat::LockResult::Locked, plat::LockRangeShared(c.fd(), kAt, 0));
  int err = 0;
  EXPECT_EQ(plat::LockResult::Error, plat::LockRangeShared(c.fd(), UINT64_MAX, 1, &err));
  EXPECT_EQ(EINVAL, err);
  plat::File w;
  ASSERT_TRUE(w.Open(path_, plat::OpenMode::Append));
  EXPECT_EQ(plat::LockResult::Error, plat::LockRangeShared(w.fd(), 10, 1, &err));
  EXPECT_EQ(EBADF, err);
}

}  // namespace
