// Tests of platform/file: open modes, positioned and sequential reads and
// writes, size changes, ownership of the descriptor and close-on-exec.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/isolated_env.h"

namespace {

using plat::File;
using plat::OpenMode;

bool IsCloseOnExec(int fd) {
  int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

bool IsValidFd(int fd) { return fcntl(fd, F_GETFD) >= 0; }

class FileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& rel) const { return env_.path(rel); }
  std::string Contents(const std::string& rel) const {
    return testsupport::IsolatedEnv::ReadFile(Path(rel));
  }
  void Put(File& f, const std::string& bytes) {
    int err = 0;
    ASSERT_TRUE(f.Write(bytes.data(), bytes.size(), &err)) << err;
  }
  std::string ReadAll(File& f, size_t max = 4096) {
    std::string buf(max, '\0');
    size_t got = 0;
    EXPECT_TRUE(f.Read(buf.data(), buf.size(), &got));
    buf.resize(got);
    return buf;
  }

  testsupport::IsolatedEnv env_;
};

TEST_F(FileTest, CreateNewFailsOnExistingFile) {
  File f;
  int err = 0;
  ASSERT_TRUE(f.Open(Path("new"), OpenMode::CreateNew, &err)) << err;
  Put(f, "first");
  File again;
  EXPECT_FALSE(again.Open(Path("new"), OpenMode::CreateNew, &err));
  EXPECT_EQ(err, EEXIST);
  EXPECT_FALSE(again.IsOpen());
  f.Close();
  EXPECT_EQ(Contents("new"), "first");
}

TEST_F(FileTest, CreateAlwaysTruncatesOrCreates) {
  env_.WriteFile("old", "previous content");
  File f;
  ASSERT_TRUE(f.Open(Path("old"), OpenMode::CreateAlways));
  uint64_t size = 99;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, 0u);
  Put(f, "new");
  EXPECT_EQ(Contents("old"), "new");

  File g;
  ASSERT_TRUE(g.Open(Path("fresh"), OpenMode::CreateAlways));
  EXPECT_EQ(Contents("fresh"), "");
}

TEST_F(FileTest, ExistingModesDoNotCreate) {
  for (OpenMode mode : {OpenMode::Read, OpenMode::ReadWrite}) {
    File f;
    int err = 0;
    EXPECT_FALSE(f.Open(Path("absent"), mode, &err));
    EXPECT_EQ(err, ENOENT);
  }
  struct stat st;
  EXPECT_NE(stat(Path("absent").c_str(), &st), 0);
}

TEST_F(FileTest, ReadModeRefusesWrites) {
  env_.WriteFile("r", "data");
  File f;
  ASSERT_TRUE(f.Open(Path("r"), OpenMode::Read));
  int err = 0;
  EXPECT_FALSE(f.Write("x", 1, &err));
  EXPECT_EQ(err, EBADF);
  EXPECT_EQ(ReadAll(f), "data");
}

TEST_F(FileTest, AppendFromTwoObjectsAlwaysWritesAtTheEnd) {
  File a;
  File b;
  ASSERT_TRUE(a.Open(Path("log"), OpenMode::Append));  // creates it
  ASSERT_TRUE(b.Open(Path("log"), OpenMode::Append));
  Put(a, "one");
  Put(b, "two");
  ASSERT_TRUE(a.Seek(0));
  Put(a, "three");
  EXPECT_EQ(Contents("log"), "onetwothree");

  env_.WriteFile("existing", "keep");
  File c;
  ASSERT_TRUE(c.Open(Path("existing"), OpenMode::Append));
  Put(c, "+more");
  EXPECT_EQ(Contents("existing"), "keep+more");
}

TEST_F(FileTest, ReadToTheEndThenZero) {
  env_.WriteFile("ten", "0123456789");
  File f;
  ASSERT_TRUE(f.Open(Path("ten"), OpenMode::Read));
  char buf[64];
  size_t got = 0;
  ASSERT_TRUE(f.Read(buf, 4, &got));
  EXPECT_EQ(std::string(buf, got), "0123");
  ASSERT_TRUE(f.Read(buf, sizeof buf, &got));  // more than is left
  EXPECT_EQ(std::string(buf, got), "456789");
  got = 7;
  ASSERT_TRUE(f.Read(buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(FileTest, PositionedAccessLeavesThePositionAlone) {
  File f;
  ASSERT_TRUE(f.Open(Path("p"), OpenMode::CreateNew));
  Put(f, "0123456789");
  ASSERT_TRUE(f.Seek(2));
  char buf[16];
  size_t got = 0;
  ASSERT_TRUE(f.ReadAt(5, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "567");
  ASSERT_TRUE(f.WriteAt(0, "AB", 2));
  ASSERT_TRUE(f.Read(buf, 2, &got));  // still at 2
  EXPECT_EQ(std::string(buf, got), "23");

  ASSERT_TRUE(f.ReadAt(8, buf, sizeof buf, &got));  // runs past the end
  EXPECT_EQ(std::string(buf, got), "89");
  ASSERT_TRUE(f.ReadAt(100, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);

  ASSERT_TRUE(f.WriteAt(12, "Z", 1));  // beyond the end: a gap of zeros
  EXPECT_EQ(Contents("p"), std::string("AB23456789\0\0Z", 13));
}

TEST_F(FileTest, PositionedAccessAbove4GiB) {
  File f;
  ASSERT_TRUE(f.Open(Path("sparse"), OpenMode::CreateNew));
  Put(f, "low");
  const uint64_t high = (uint64_t{1} << 32) + 1;  // low 32 bits: 1
  ASSERT_TRUE(f.WriteAt(high, "hi", 2));
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, high + 2);
  char buf[4];
  size_t got = 0;
  ASSERT_TRUE(f.ReadAt(high, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "hi");
  ASSERT_TRUE(f.ReadAt(0, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "low") << "the high write must not land at offset 1";
  ASSERT_TRUE(f.Seek(high + 1));
  ASSERT_TRUE(f.Read(buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "i");
}

TEST_F(FileTest, SeekThenWriteOverwrites) {
  env_.WriteFile("s", "abcdef");
  File f;
  ASSERT_TRUE(f.Open(Path("s"), OpenMode::ReadWrite));
  ASSERT_TRUE(f.Seek(3));
  Put(f, "XY");
  EXPECT_EQ(Contents("s"), "abcXYf");
  ASSERT_TRUE(f.Seek(10));
  Put(f, "!");
  EXPECT_EQ(Contents("s"), std::string("abcXYf\0\0\0\0!", 11));
}

TEST_F(FileTest, OffsetsBeyondTheLargestAreRejected) {
  File f;
  ASSERT_TRUE(f.Open(Path("o"), OpenMode::CreateNew));
  const uint64_t tooFar = uint64_t{1} << 63;
  char buf[1];
  size_t got = 0;
  int err = 0;
  EXPECT_FALSE(f.Seek(tooFar, &err));
  EXPECT_EQ(err, EINVAL);
  err = 0;
  EXPECT_FALSE(f.ReadAt(tooFar, buf, 1, &got, &err));
  EXPECT_EQ(err, EINVAL);
  err = 0;
  EXPECT_FALSE(f.WriteAt(tooFar, "x", 1, &err));
  EXPECT_EQ(err, EINVAL);
  err = 0;
  EXPECT_FALSE(f.Truncate(tooFar, &err));
  EXPECT_EQ(err, EINVAL);
}

TEST_F(FileTest, SizeAndTruncate) {
  File f;
  ASSERT_TRUE(f.Open(Path("t"), OpenMode::CreateNew));
  Put(f, "0123456789");
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, 10u);
  ASSERT_TRUE(f.Truncate(4));
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(Contents("t"), "0123");
  const uint64_t big = (uint64_t{1} << 32) + 3;  // beyond 32 bits
  ASSERT_TRUE(f.Truncate(big));
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, big);
  char c = 'x';
  size_t got = 0;
  ASSERT_TRUE(f.ReadAt(big - 1, &c, 1, &got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(c, '\0');
  EXPECT_TRUE(f.Sync());
}

TEST_F(FileTest, ClosedFileFailsWithEbadf) {
  File f;
  EXPECT_FALSE(f.IsOpen());
  char buf[1];
  size_t got = 0;
  uint64_t size = 0;
  int err = 0;
  EXPECT_FALSE(f.Read(buf, 1, &got, &err));
  EXPECT_EQ(err, EBADF);
  err = 0;
  EXPECT_FALSE(f.Write("x", 1, &err));
  EXPECT_EQ(err, EBADF);
  err = 0;
  EXPECT_FALSE(f.Size(&size, &err));
  EXPECT_EQ(err, EBADF);
  err = 0;
  EXPECT_FALSE(f.Sync(&err));
  EXPECT_EQ(err, EBADF);
  f.Close();  // closing twice is harmless
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileTest, EveryModeIsCloseOnExec) {
  env_.WriteFile("e", "x");
  for (OpenMode mode : {OpenMode::Read, OpenMode::ReadWrite, OpenMode::CreateAlways,
                        OpenMode::Append}) {
    File f;
    ASSERT_TRUE(f.Open(Path("e"), mode));
    EXPECT_TRUE(IsCloseOnExec(f.fd())) << static_cast<int>(mode);
  }
  File n;
  ASSERT_TRUE(n.Open(Path("e2"), OpenMode::CreateNew));
  EXPECT_TRUE(IsCloseOnExec(n.fd()));
}

TEST_F(FileTest, BackslashesAreSeparators) {
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  File f;
  ASSERT_TRUE(f.Open(env_.root() + "\\sub\\name", OpenMode::CreateNew));
  Put(f, "via backslash");
  EXPECT_EQ(Contents("sub/name"), "via backslash");
}

TEST_F(FileTest, NulInPathIsRejected) {
  File f;
  int err = 0;
  EXPECT_FALSE(f.Open(Path("a") + std::string(1, '\0') + "b", OpenMode::CreateAlways, &err));
  EXPECT_EQ(err, EINVAL);
  struct stat st;
  EXPECT_NE(stat(Path("a").c_str(), &st), 0) << "the cut-short name must not be created";
}

TEST_F(FileTest, NewFilesGetModeLessUmask) {
  mode_t old = umask(027);
  File f;
  bool opened = f.Open(Path("m"), OpenMode::CreateNew);
  umask(old);
  ASSERT_TRUE(opened);
  struct stat st;
  ASSERT_EQ(fstat(f.fd(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileTest, OpenAgainClosesThePreviousDescriptor) {
  env_.WriteFile("a", "A");
  File f;
  ASSERT_TRUE(f.Open(Path("a"), OpenMode::Read));
  int first = f.fd();
  EXPECT_FALSE(f.Open(Path("missing"), OpenMode::Read));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(IsValidFd(first));
}

TEST_F(FileTest, MoveTransfersOwnership) {
  env_.WriteFile("a", "A");
  env_.WriteFile("b", "B");
  File a;
  ASSERT_TRUE(a.Open(Path("a"), OpenMode::Read));
  const int fdA = a.fd();

  File moved(std::move(a));
  EXPECT_FALSE(a.IsOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(moved.fd(), fdA);

  File b;
  ASSERT_TRUE(b.Open(Path("b"), OpenMode::Read));
  const int fdB = b.fd();
  b = std::move(moved);  // b's own descriptor must be closed
  EXPECT_EQ(b.fd(), fdA);
  EXPECT_FALSE(moved.IsOpen());  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(IsValidFd(fdB));
  EXPECT_EQ(ReadAll(b), "A");

  File& alias = b;
  b = std::move(alias);  // self-move keeps the file
  EXPECT_EQ(b.fd(), fdA);
  EXPECT_TRUE(IsValidFd(fdA));

  { File sink(std::move(b)); }
  EXPECT_FALSE(IsValidFd(fdA)) << "the destructor closes the descriptor";
}

TEST_F(FileTest, ReleaseGivesUpOwnership) {
  env_.WriteFile("r", "R");
  int fd = -1;
  {
    File f;
    ASSERT_TRUE(f.Open(Path("r"), OpenMode::Read));
    fd = f.Release();
    EXPECT_FALSE(f.IsOpen());
  }
  EXPECT_TRUE(IsValidFd(fd));
  File adopted(fd);
  EXPECT_EQ(ReadAll(adopted), "R");
}

TEST_F(FileTest, ReadWaitsForTheWholeLengthOnAPipe) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  File reader(fds[0]);
  File writer(fds[1]);
  Put(writer, "abc");
  std::thread late([&writer] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    writer.Write("def", 3);
    writer.Close();
  });
  char buf[16];
  size_t got = 0;
  bool ok = reader.Read(buf, 6, &got);
  late.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(std::string(buf, got), "abcdef");
  ASSERT_TRUE(reader.Read(buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(FileTest, LargeWriteThroughAPipeArrivesWhole) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  File reader(fds[0]);
  File writer(fds[1]);
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  // Drained with plain reads so that only File::Write is under test here.
  std::string received;
  std::thread drain([&] {
    char chunk[8192];
    ssize_t n;
    while ((n = read(reader.fd(), chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) received.append(chunk, static_cast<size_t>(n));
    }
  });
  bool ok = writer.Write(data.data(), data.size());
  writer.Close();
  drain.join();
  EXPECT_TRUE(ok);
  EXPECT_TRUE(received == data) << "received " << received.size() << " bytes";
}

}  // namespace
