// Child processes: descriptors, environment, directory, start failures and
// the time limit.
#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/tempfile.h"
#include "support/isolated_env.h"

namespace {

// Runs `script` under /bin/sh with the given input; returns what it wrote to
// standard output and standard error (one file for both).
struct ShellRun {
  bool started = false;
  bool ended = false;
  int status = -1;
  std::string output;
};

ShellRun RunShell(const std::string& script, const std::string* input,
             std::vector<std::string> env = {}, const std::string& dir = "", int timeoutMs = -1) {
  ShellRun run;
  plat::File out;
  if (!plat::CreateTempFile("", "OUT", true, &out, nullptr)) return run;
  plat::File in;
  if (input) {
    if (!plat::CreateTempFile("", "IN", true, &in, nullptr)) return run;
    in.Write(input->data(), input->size());
    in.Seek(0);
  }
  plat::ProcessOptions options;
  options.argv = {"/bin/sh", "-c", script};
  options.environment = std::move(env);
  options.directory = dir;
  options.stdinFd = input ? in.fd() : -1;
  options.stdoutFd = out.fd();
  options.stderrFd = out.fd();
  plat::Process p;
  run.started = p.Start(options);
  if (!run.started) return run;
  run.ended = p.Wait(timeoutMs, &run.status);
  out.Seek(0);
  char buf[4096];
  size_t got = 0;
  while (out.Read(buf, sizeof buf, &got) && got > 0) run.output.append(buf, got);
  return run;
}

TEST(Process, PassesInputEnvironmentDirectoryAndCollectsBothOutputs) {
  testsupport::IsolatedEnv env;
  std::string input("line one\nline\0two", 17);
  ShellRun r = RunShell("cat; echo \"[$ALPHA][$BETA]\"; pwd; echo err >&2", &input,
                   {"ALPHA=1", "BETA=two words"}, env.root());
  ASSERT_TRUE(r.started);
  ASSERT_TRUE(r.ended);
  EXPECT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(r.output, input + "[1][two words]\n" + env.root() + "\nerr\n");
}

TEST(Process, WithoutInputTheChildReadsNothing) {
  testsupport::IsolatedEnv env;
  ShellRun r = RunShell("wc -c", nullptr);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.output, "0\n");
}

TEST(Process, OnlyTheStandardDescriptorsReachTheChild) {
  testsupport::IsolatedEnv env;
  // A descriptor of the parent without close-on-exec (as one inherited from
  // whoever started the server would be) is not passed on either: the child
  // sees 0, 1, 2 and the one ls opens itself.
  int stray = open("/dev/null", O_RDONLY);
  ASSERT_GE(stray, 3);
  ShellRun r = RunShell("ls /proc/self/fd | sort -n | tr '\\n' ' '", nullptr);
  ASSERT_TRUE(r.ended);
  close(stray);
  EXPECT_EQ(r.output, "0 1 2 3 ");
}

TEST(Process, ExitStatusIsReported) {
  testsupport::IsolatedEnv env;
  ShellRun r = RunShell("exit 7", nullptr);
  ASSERT_TRUE(r.ended);
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 7);
}

TEST(Process, StartFailures) {
  testsupport::IsolatedEnv env;
  std::string plain = env.WriteFile("plain.cgi", "#!/bin/sh\necho hi\n");
  chmod(plain.c_str(), 0644);
  std::string noFormat = env.WriteFile("noformat.cgi", "echo this has no interpreter line\n");
  chmod(noFormat.c_str(), 0755);
  struct Case {
    std::string program;
    std::string dir;
    int err;
  } cases[] = {
      {env.path("missing"), "", ENOENT},
      {plain, "", EACCES},
      {noFormat, "", ENOEXEC},
      {"/bin/true", env.path("no-such-dir"), ENOENT},
  };
  for (const Case& c : cases) {
    plat::ProcessOptions options;
    options.argv = {c.program};
    options.directory = c.dir;
    plat::Process p;
    int err = 0;
    EXPECT_FALSE(p.Start(options, &err)) << c.program;
    EXPECT_EQ(err, c.err) << c.program;
    EXPECT_FALSE(p.Running());
  }
  plat::Process p;
  int err = 0;
  EXPECT_FALSE(p.Start(plat::ProcessOptions{}, &err));
  EXPECT_EQ(err, EINVAL);
}

TEST(Process, TimeLimitKillsTheChildAndWhatItStarted) {
  testsupport::IsolatedEnv env;
  std::string marker = env.path("grandchild-lived");
  auto start = std::chrono::steady_clock::now();
  // The grandchild would write the marker after 2 s unless the whole group
  // is killed with the child.
  ShellRun r = RunShell("(sleep 2; touch '" + marker + "') & sleep 30", nullptr, {}, "", 300);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(r.started);
  EXPECT_FALSE(r.ended);
  EXPECT_LT(took, std::chrono::seconds(10));
  sleep(3);
  EXPECT_NE(access(marker.c_str(), F_OK), 0);
}

TEST(Process, ChildEndingWithinTheLimitIsNotKilled) {
  testsupport::IsolatedEnv env;
  ShellRun r = RunShell("sleep 0.1; echo done", nullptr, {}, "", 10000);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.output, "done\n");
}

}  // namespace
