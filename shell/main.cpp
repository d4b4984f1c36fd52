// The tavrel program. Until the tray shell exists it runs without a user
// interface: it makes sure only one instance runs, loads the configuration
// and the script map, opens its (hidden) main window, and runs the start
// sequence once a second until the host program is ready. It then serves
// until SIGTERM or SIGINT. The end of the program stops the server (which
// logs "Tavrel 종료") and tells the host.
//
// Exit status: 0 after a normal end or when another instance runs; 1 when
// the program ends because there is no host window or the first start of
// the server failed.
#include <csignal>
#include <cstdio>
#include <ctime>

#include <unistd.h>

#include "platform/socket.h"
#include "platform/winstation.h"
#include "server/cgi_gateway.h"
#include "server/host_notify.h"
#include "server/server.h"
#include "server/server_config.h"
#include "shell/start_sequence.h"

namespace {

constexpr char kMainWindowClass[] = "TAVREL";

// Waits up to `ms` (-1: no limit) for an end signal; true when one came.
bool WaitForEndSignal(const sigset_t& endSignals, int ms) {
  if (ms < 0) {
    int received = 0;
    return sigwait(&endSignals, &received) == 0;
  }
  timespec limit{ms / 1000, (ms % 1000) * 1000000L};
  return sigtimedwait(&endSignals, nullptr, &limit) > 0;
}

// The end of the program: the main window's destruction. The process ends
// at once, without running static destructors, because a client thread that
// outlived the stop (a CGI program still running) may still read the
// configuration.
[[noreturn]] void EndProgram(plat::Window& window, int status) {
  StopServer();
  NotifyHost(-1, 0);
  window.Destroy();
  fflush(nullptr);
  _exit(status);
}

}  // namespace

int main() {
  plat::IgnoreSigpipe();
  // Block the end signals before any thread starts, so that every thread
  // inherits the mask and only this thread receives them.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  if (plat::FindWindowByClass(kMainWindowClass)) return 0;  // one instance only
  LoadConfig();
  LoadFilterTable();
  plat::Window window;
  window.Create(kMainWindowClass);

  for (;;) {
    StartStep step = RunStartSequence(&window);
    if (step == StartStep::Started) break;
    if (step == StartStep::End) EndProgram(window, 1);
    if (WaitForEndSignal(endSignals, kStartRetryMs)) EndProgram(window, 0);
  }
  WaitForEndSignal(endSignals, -1);
  EndProgram(window, 0);
}
