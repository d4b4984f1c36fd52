// The utility library: tracked allocator, trimming, directory creation and
// removal, existence tests, listings and their sort, name patterns, file
// copying and the diagnostic line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sfl/sfldir.h"
#include "support/isolated_env.h"

// Under AddressSanitizer an impossible allocation must fail the ordinary
// way (null) for the allocator test, not end the run.
extern "C" __attribute__((used)) const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

namespace fs = std::filesystem;
using testsupport::IsolatedEnv;

// ---- Tracked allocator -------------------------------------------------------

class Tracked : public ::testing::Test {
 protected:
  void SetUp() override { trackedFreeAll(); }
  void TearDown() override { trackedFreeAll(); }
};

TEST_F(Tracked, CountsBlocksAndFreesThemAllAtOnce) {
  TrackedStats start = trackedStats();
  char* a = static_cast<char*>(sflAlloc(10));
  void* b = sflAlloc(100);
  void* c = sflAlloc(0);
  ASSERT_TRUE(a && b && c);
  std::memset(a, 'x', 10);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(std::max_align_t), 0u);
  TrackedStats mid = trackedStats();
  EXPECT_EQ(mid.bytesInUse, start.bytesInUse + 110);
  EXPECT_EQ(mid.allocations, start.allocations + 3);
  sflFree(b);
  EXPECT_EQ(trackedStats().bytesInUse, start.bytesInUse + 10);
  EXPECT_EQ(trackedStats().frees, start.frees + 1);
  trackedFreeAll();
  TrackedStats end = trackedStats();
  EXPECT_EQ(end.bytesInUse, 0u);
  EXPECT_EQ(end.frees, start.frees + 3);
  sflFree(nullptr);  // nothing happens
  EXPECT_EQ(trackedStats().frees, end.frees);
}

int gHandlerRuns = 0;
void CountingHandler() { ++gHandlerRuns; }

TEST_F(Tracked, ImpossibleSizeRunsTheLowMemoryHandlersOnceAndFails) {
  ASSERT_TRUE(trackedAddLowMemoryHandler(CountingHandler));
  gHandlerRuns = 0;
  EXPECT_EQ(trackedAlloc(SIZE_MAX / 2, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(gHandlerRuns, 1);
  EXPECT_EQ(trackedAlloc(SIZE_MAX, __FILE__, __LINE__), nullptr);  // header would overflow
  EXPECT_EQ(trackedStats().bytesInUse, 0u);
}

TEST_F(Tracked, FreeingSomethingThatIsNotALiveBlockAborts) {
  // A zeroed area that merely looks like a block: its tag is wrong.
  alignas(std::max_align_t) static unsigned char fake[256];
  void* inside = fake + 128;
  for (const char* file : {static_cast<const char*>("caller.cpp"), static_cast<const char*>(nullptr)}) {
    // The report goes to standard output; the child's is caught in a file.
    IsolatedEnv env;
    std::string out = env.path("out");
    EXPECT_EXIT(
        {
          int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          dup2(fd, 1);
          trackedFree(inside, file, 7);
        },
        ::testing::KilledBySignal(SIGABRT), "");
    std::string report = IsolatedEnv::ReadFile(out);
    EXPECT_EQ(report.rfind("Memory tag error - ", 0), 0u) << report;
    EXPECT_NE(report.find(" - " + std::string(file ? file : "<Unknown>") + " (7)\n"), std::string::npos) << report;
  }
}

// ---- trimSpace --------------------------------------------------------------

TEST(TrimSpace, Table) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  a b  ", "a b"},
      {"\r\nline\r\n", "line"},
      {"x", "x"},
      {"\xC7\xD1 \xA0", "\xC7\xD1 \xA0"},  // bytes from 0x80 up are text, never white space
      {"\xA0\xA0", "\xA0\xA0"},
  };
  for (const Case& c : cases) {
    std::string buf = c.in;
    char* r = trimSpace(buf.data());
    EXPECT_EQ(r, buf.data());
    EXPECT_STREQ(r, c.out.c_str()) << c.in;
  }
}

// ---- Directories ----------------------------------------------------------

class Dirs : public ::testing::Test {
 protected:
  IsolatedEnv env_;
  std::string P(const std::string& rel) { return env_.path(rel); }
};

TEST_F(Dirs, MakeDirPathCreatesEachMissingLevel) {
  ASSERT_TRUE(fs::create_directory(P("one")));
  EXPECT_EQ(makeDirPath(P("one/two/three").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(P("one/two/three")));
  EXPECT_EQ(makeDirPath(P("one/two/three").c_str()), 0);  // existing: nothing to do
  EXPECT_EQ(makeDirPath((P("one") + "\\back\\slash\\").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(P("one/back/slash")));
}

TEST_F(Dirs, MakeDirPathFollowsExistingNamesInAnyCase) {
  ASSERT_TRUE(fs::create_directory(P("DataBase")));
  EXPECT_EQ(makeDirPath(P("database/new").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(P("DataBase/new")));
  EXPECT_FALSE(fs::exists(P("database")));
}

TEST_F(Dirs, MakeDirPathFailsWhereAFileIsInTheWay) {
  env_.WriteFile("file", "x");
  EXPECT_EQ(makeDirPath(P("file/sub").c_str()), -1);
  EXPECT_EQ(makeDirPath(P("file").c_str()), -1);
  EXPECT_EQ(makeDirPath(""), -1);
}

TEST_F(Dirs, RemoveDirectory) {
  ASSERT_TRUE(fs::create_directories(P("empty")));
  EXPECT_EQ(removeDirectory(P("empty").c_str()), 0);
  EXPECT_FALSE(fs::exists(P("empty")));
  EXPECT_EQ(removeDirectory(P("missing").c_str()), -1);
  env_.WriteFile("plain", "x");
  EXPECT_EQ(removeDirectory(P("plain").c_str()), -1);
  EXPECT_TRUE(fs::exists(P("plain")));
}

TEST_F(Dirs, RemovingANonEmptyDirectoryWritesOneDiagnosticLine) {
  env_.WriteFile("full/inside.txt", "x");
  std::string out = P("out"), err = P("err");
  std::string dir = P("full/");
  EXPECT_EXIT(
      {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        std::_Exit(removeDirectory(dir.c_str()) == -1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(fs::exists(P("full/inside.txt")));
  EXPECT_EQ(IsolatedEnv::ReadFile(out), "");
  EXPECT_EQ(IsolatedEnv::ReadFile(err), std::string(std::strerror(ENOTEMPTY)) + "\n");
}

TEST_F(Dirs, ExistenceTests) {
  env_.WriteFile("Share/Data.DBF", "x");
  struct Case {
    std::string path;
    bool exists, directory;
  };
  const Case cases[] = {
      {P("Share"), true, true},
      {P("Share/"), true, true},
      {P("Share//"), true, true},
      {P("share"), true, true},          // names in any case
      {P("SHARE/data.dbf"), true, false},
      {P("Share\\Data.DBF"), true, false},
      {P("Share/missing"), false, false},
      {P("nothing"), false, false},
      {"/", true, true},
      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pathExists(c.path.c_str()), c.exists) << c.path;
    EXPECT_EQ(isDirectoryPath(c.path.c_str()), c.directory) << c.path;
  }
  EXPECT_FALSE(isDirectoryPath(std::string(3000, 'a').c_str()));
}

std::vector<std::string> Names(const DirList* list) {
  std::vector<std::string> out;
  for (const DirEntry* e = list->head.next; e != &list->head; e = e->next) out.push_back(e->name);
  return out;
}

TEST_F(Dirs, ListingSortsDirectoriesFirstThenByNameIgnoringCase) {
  for (const char* f : {"b.txt", "A.txt", "c.TXT", "a2.txt", ".hidden", "Zeta", "alpha", "_x"})
    env_.WriteFile(std::string("dir/") + f, f);
  for (const char* d : {"sub2", "Sub1", "ZZ"}) fs::create_directory(P("dir/") + d);
  DirList* list = listDirectory((P("dir") + "\\").c_str(), "f");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 11u);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Sub1", "sub2", "ZZ", ".hidden", "_x", "A.txt", "a2.txt", "alpha",
                                                   "b.txt", "c.TXT", "Zeta"}));
  // The ring holds together both ways.
  size_t back = 0;
  for (const DirEntry* e = list->head.prev; e != &list->head; e = e->prev) ++back;
  EXPECT_EQ(back, 11u);
  trackedFreeAll();
}

TEST_F(Dirs, ListingEntriesCarryTheirDetails) {
  env_.WriteFile("d/file.bin", std::string(1234, 'z'));
  fs::create_directory(P("d/inner"));
  ::chmod(P("d/file.bin").c_str(), 0444);
  DirList* list = listDirectory(P("d").c_str(), "f");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count, 2u);
  const DirEntry* dir = list->head.next;
  const DirEntry* file = dir->next;
  EXPECT_STREQ(dir->name, "inner");
  EXPECT_TRUE(dir->directory);
  EXPECT_EQ(dir->mode & kDirModeDirectory, kDirModeDirectory);
  EXPECT_STREQ(dir->path, P("d").c_str());
  EXPECT_STREQ(file->name, "file.bin");
  EXPECT_FALSE(file->directory);
  EXPECT_EQ(file->size, 1234);
  EXPECT_EQ(file->mode & kDirModeRegular, kDirModeRegular);
  if (geteuid() != 0) {
    EXPECT_EQ(file->mode & kDirModeWrite, 0u);  // root may write anything
  }
  EXPECT_GT(file->modified, 1600000000);
  EXPECT_STREQ(file->owner, "user");
  EXPECT_STREQ(file->group, "user");
  trackedFreeAll();
}

TEST_F(Dirs, ListingOfAMissingDirectoryIsEmpty) {
  DirList* list = listDirectory(P("nowhere").c_str(), "f");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 0u);
  EXPECT_EQ(list->head.next, &list->head);
  trackedFreeAll();
}

TEST_F(Dirs, ListingWithoutASortKeyHoldsEveryEntry) {
  for (int i = 0; i < 40; ++i) env_.WriteFile("many/f" + std::to_string(i), "");
  DirList* list = listDirectory(P("many").c_str(), nullptr);
  ASSERT_NE(list, nullptr);
  std::vector<std::string> names = Names(list);
  std::sort(names.begin(), names.end());
  std::vector<std::string> want;
  for (int i = 0; i < 40; ++i) want.push_back("f" + std::to_string(i));
  std::sort(want.begin(), want.end());
  EXPECT_EQ(names, want);
  DirList* sorted = listDirectory(P("many").c_str(), "f");
  std::vector<std::string> got = Names(sorted);
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
  trackedFreeAll();
}

// ---- nameMatches ------------------------------------------------------------

TEST(NameMatches, Table) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"SHARE.DBF", "SHARE.*", true},
      {"share.fpt", "SHARE.*", true},
      {"SHARE", "SHARE.*", false},
      {"XSHARE.DBF", "SHARE.*", false},
      {"SHARE.", "SHARE.*", false},   // the name ends while "*" remains
      {"SHARE", "SHARE*", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abc", "*", true},
      {"", "*", false},
      {"", "", true},
      {"abc", "", false},
      {"abc", "ab", false},
      {"readme.txt", "*.TXT", true},
      {"a.b.txt", "*.txt", false},    // "*" stops at the first "."; no backtracking
      {"data1.cdx", "data?.*", true},
      {"abc", "**c", true},
      {"abc", "*d", false},
  };
  for (const Case& c : cases) EXPECT_EQ(nameMatches(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;
}

// ---- copyFileIfAbsent -------------------------------------------------------

TEST_F(Dirs, CopyFileIfAbsent) {
  std::string data;
  for (int i = 0; i < 100000; ++i) data += static_cast<char>(i * 7);
  env_.WriteFile("src/Attach.BIN", data);
  fs::create_directory(P("dst"));
  EXPECT_EQ(copyFileIfAbsent(P("dst/copy.bin").c_str(), P("src/attach.bin").c_str(), "b"), 0);
  EXPECT_EQ(IsolatedEnv::ReadFile(P("dst/copy.bin")), data);
  env_.WriteFile("dst/keep.bin", "mine");
  EXPECT_EQ(copyFileIfAbsent(P("dst/KEEP.bin").c_str(), P("src/Attach.BIN").c_str(), "b"), 1);
  EXPECT_EQ(IsolatedEnv::ReadFile(P("dst/keep.bin")), "mine");
  EXPECT_EQ(copyFileIfAbsent(P("dst/x").c_str(), P("src/missing").c_str(), "b"), -1);
  EXPECT_FALSE(fs::exists(P("dst/x")));
  EXPECT_EQ(copyFileIfAbsent(P("nodir/x").c_str(), P("src/Attach.BIN").c_str(), "b"), -1);
  env_.WriteFile("src/empty", "");
  EXPECT_EQ(copyFileIfAbsent(P("dst/empty").c_str(), P("src/empty").c_str(), "b"), 0);
  EXPECT_TRUE(fs::exists(P("dst/empty")));
}

TEST_F(Dirs, FailedCopyLeavesNoPartialDestination) {
  // Reading a directory fails, after the destination was created.
  fs::create_directory(P("adir"));
  EXPECT_EQ(copyFileIfAbsent(P("out.bin").c_str(), P("adir").c_str(), "b"), -1);
  EXPECT_FALSE(fs::exists(P("out.bin")));
}

// ---- writeDiagnostic --------------------------------------------------------

TEST(WriteDiagnostic, OneLineOnTheErrorStreamOnly) {
  IsolatedEnv env;
  std::string out = env.path("out"), err = env.path("err");
  std::string longText(2000, 'd');
  EXPECT_EXIT(
      {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        writeDiagnostic("first");
        writeDiagnostic(longText.c_str());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(IsolatedEnv::ReadFile(out), "");
  EXPECT_EQ(IsolatedEnv::ReadFile(err), "first\n" + std::string(1023, 'd') + "\n");
}

}  // namespace
