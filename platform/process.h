// Child processes: starting a program with an explicit argument list,
// environment, current directory and standard descriptors, and waiting for it
// to end, with or without a time limit.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct ProcessOptions {
  std::vector<std::string> argv;         // argv[0]: a path, or a bare name looked up in PATH
  std::vector<std::string> environment;  // "NAME=value" entries, in order
  std::string directory;                 // current directory of the child
  int stdinFd = -1;   // -1: the child reads an empty input (/dev/null)
  int stdoutFd = -1;  // -1: /dev/null
  int stderrFd = -1;  // -1: /dev/null
};

// A started child. The child runs in a process group of its own, so that a
// time limit can end it together with whatever it started.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  // Starts the program. Only the three given descriptors are passed on (as
  // 0, 1 and 2); every other descriptor of this process is close-on-exec.
  // On success returns true; on failure (no such program, not executable,
  // bad directory, empty argv) stores errno in *err when not null and
  // returns false, and no child exists.
  bool Start(const ProcessOptions& options, int* err = nullptr);

  // Waits for the child to end. With timeoutMs < 0 there is no limit. When
  // the limit passes first, the child's process group is killed, the child
  // is reaped and false is returned; otherwise true with the exit status
  // (as waitpid reports it) in *status when not null.
  bool Wait(int timeoutMs, int* status = nullptr);

  bool Running() const { return pid_ > 0; }
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
};

}  // namespace plat
