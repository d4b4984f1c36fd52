// Child processes over posix_spawn. The child gets its descriptors through
// spawn file actions, its directory through the chdir action, and a process
// group of its own. Waiting with a limit polls a pidfd when the kernel has
// them, else checks the child every few milliseconds.
#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace plat {

namespace {

// Copies fd to a descriptor of 3 or more (close-on-exec), so that the spawn
// actions never dup a descriptor onto itself, which would leave its
// close-on-exec flag in place.
int HighCopy(int fd) {
  if (fd < 0) return -1;
  return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  int copies[3] = {-1, -1, -1};
  bool ready = false;

  ~SpawnActions() {
    if (ready) {
      posix_spawn_file_actions_destroy(&actions);
      posix_spawnattr_destroy(&attr);
    }
    for (int fd : copies)
      if (fd >= 0) close(fd);
  }
};

// Prepares the descriptor, directory and group actions. On failure returns
// the error number, else 0.
int Prepare(const ProcessOptions& options, SpawnActions* sa) {
  if (posix_spawn_file_actions_init(&sa->actions) != 0) return ENOMEM;
  if (posix_spawnattr_init(&sa->attr) != 0) {
    posix_spawn_file_actions_destroy(&sa->actions);
    return ENOMEM;
  }
  sa->ready = true;
  const int sources[3] = {options.stdinFd, options.stdoutFd, options.stderrFd};
  for (int target = 0; target < 3; ++target) {
    int rc;
    if (sources[target] < 0) {
      int flags = target == 0 ? O_RDONLY : O_WRONLY;
      rc = posix_spawn_file_actions_addopen(&sa->actions, target, "/dev/null", flags, 0);
    } else {
      sa->copies[target] = HighCopy(sources[target]);
      if (sa->copies[target] < 0) return errno;
      rc = posix_spawn_file_actions_adddup2(&sa->actions, sa->copies[target], target);
    }
    if (rc != 0) return rc;
  }
  // Descriptors this process inherited without close-on-exec (from whoever
  // started it) are not passed on either.
  if (int rc = posix_spawn_file_actions_addclosefrom_np(&sa->actions, 3); rc != 0) return rc;
  if (!options.directory.empty()) {
    int rc = posix_spawn_file_actions_addchdir_np(&sa->actions, options.directory.c_str());
    if (rc != 0) return rc;
  }
  // A clean signal state: the server blocks its end signals in every thread,
  // and a child must not inherit that mask.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&sa->attr, &none);
  posix_spawnattr_setsigdefault(&sa->attr, &all);
  posix_spawnattr_setpgroup(&sa->attr, 0);
  posix_spawnattr_setflags(&sa->attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  return 0;
}

bool ReapBlocking(int pid, int* status) {
  for (;;) {
    int st = 0;
    pid_t r = waitpid(pid, &st, 0);
    if (r == pid) {
      if (status) *status = st;
      return true;
    }
    if (r < 0 && errno == EINTR) continue;
    if (status) *status = 0;
    return true;
  }
}

int OpenPidFd(int pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Waits until the child ends or the deadline passes; true when it ended.
bool WaitUntil(int pid, std::chrono::steady_clock::time_point deadline) {
  int pidfd = OpenPidFd(pid);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      int ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
      int rc = poll(&p, 1, ms);
      if (rc > 0) {
        close(pidfd);
        return true;
      }
      if (rc < 0 && errno == EINTR) continue;
      if (rc == 0 && left.count() <= 0) {
        close(pidfd);
        return false;
      }
      if (rc < 0) {  // poll itself failed: fall back to checking
        close(pidfd);
        pidfd = -1;
      }
      continue;
    }
    siginfo_t info{};
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
      return true;
    if (left.count() <= 0) return false;
    usleep(5000);
  }
}

}  // namespace

Process::~Process() {
  // A child nobody waited for is ended rather than left running unowned.
  if (pid_ > 0) {
    killpg(pid_, SIGKILL);
    ReapBlocking(pid_, nullptr);
  }
}

bool Process::Start(const ProcessOptions& options, int* err) {
  if (pid_ > 0 || options.argv.empty()) {
    if (err) *err = pid_ > 0 ? EBUSY : EINVAL;
    return false;
  }
  SpawnActions sa;
  int rc = Prepare(options, &sa);
  if (rc != 0) {
    if (err) *err = rc;
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : options.environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  // A bare program name (an interpreter command such as "perl") is looked up
  // in PATH; a path is used as it stands.
  bool bare = options.argv[0].find('/') == std::string::npos;
  rc = bare ? posix_spawnp(&pid, argv[0], &sa.actions, &sa.attr, argv.data(), envp.data())
            : posix_spawn(&pid, argv[0], &sa.actions, &sa.attr, argv.data(), envp.data());
  if (rc != 0) {
    if (err) *err = rc;
    return false;
  }
  pid_ = pid;
  return true;
}

bool Process::Wait(int timeoutMs, int* status) {
  if (pid_ <= 0) {
    if (status) *status = 0;
    return true;
  }
  if (timeoutMs >= 0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!WaitUntil(pid_, deadline)) {
      killpg(pid_, SIGKILL);
      ReapBlocking(pid_, nullptr);
      pid_ = -1;
      return false;
    }
  }
  ReapBlocking(pid_, status);
  pid_ = -1;
  return true;
}

}  // namespace plat
