// The tavrel program. Until the tray shell exists it is a plain program: it
// loads the configuration, starts the server and serves until SIGTERM or
// SIGINT, then stops the server. A first start that fails ends the program
// with status 1.
#include <csignal>

#include "platform/socket.h"
#include "server/server.h"
#include "server/server_config.h"

int main() {
  plat::IgnoreSigpipe();
  // Block the end signals before any thread starts, so that every thread
  // inherits the mask and only sigwait below receives them.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  LoadConfig();
  if (!StartServer(nullptr)) {
    StopServer();
    return 1;
  }
  int received = 0;
  sigwait(&endSignals, &received);
  StopServer();
  return 0;
}
