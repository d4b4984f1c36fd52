// velmoria-host: a stand-in for the portal's host program, for tests and the
// demo. It owns a window of the class "Velmoria" and serves the host's RPC
// interface; every window message it receives is printed on standard output
// as one line "MESSAGE WPARAM LPARAM" (signed decimal), flushed at once. It
// runs until SIGTERM or SIGINT.
//
//   --host NAME          answer to code 130 (first part of the host name)
//   --domain NAME        answer to code 131 (second part)
//   --ready-after SECS   code 2 answers 0 until then, 1 after (default 0)
//   --no-rpc             the window only, no RPC server
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/localrpc.h"
#include "platform/winstation.h"
#include "server/host_notify.h"

namespace {

struct Options {
  std::string host = "localhost";
  std::string domain = "localdomain";
  double readyAfter = 0;
  bool rpc = true;
};

void Usage() {
  fprintf(stderr,
          "usage: velmoria-host [--host NAME] [--domain NAME] [--ready-after SECONDS] [--no-rpc]\n");
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--host" && hasValue) {
      o->host = argv[++i];
    } else if (a == "--domain" && hasValue) {
      o->domain = argv[++i];
    } else if (a == "--ready-after" && hasValue) {
      char* end = nullptr;
      o->readyAfter = strtod(argv[++i], &end);
      if (*end != '\0' || o->readyAfter < 0) return false;
    } else if (a == "--no-rpc") {
      o->rpc = false;
    } else {
      return false;
    }
  }
  return true;
}

std::atomic<bool> gStop{false};

void PrintMessages(plat::Window* window) {
  while (!gStop) {
    plat::PostedMessage m;
    if (!window->Receive(&m, 200)) continue;
    printf("%d %lld %lld\n", static_cast<int32_t>(m.message), static_cast<long long>(m.wParam),
           static_cast<long long>(m.lParam));
    fflush(stdout);
  }
}

void ServeRpc(plat::RpcServer* server, const Options& o) {
  auto started = std::chrono::steady_clock::now();
  auto handler = [&](uint16_t procedure, uint16_t code, const std::optional<std::string>&,
                     std::optional<std::string>* out) -> uint32_t {
    if (procedure != kHostQueryProc) return 1;  // no such procedure
    std::chrono::duration<double> up = std::chrono::steady_clock::now() - started;
    if (code == kHostReadyCode) *out = up.count() >= o.readyAfter ? "1" : "0";
    if (code == kHostNameCode) *out = o.host;
    if (code == kDomainNameCode) *out = o.domain;
    return 0;
  };
  while (!gStop) server->ServeOne(handler, 200);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  plat::Window window;
  int err = 0;
  if (!window.Create(kHostWindowClass, &err)) {
    fprintf(stderr, "velmoria-host: cannot create the window: %s\n", strerror(err));
    return 1;
  }
  plat::RpcServer server;
  if (options.rpc && !server.Listen(kHostRpcEndpoint, &err)) {
    fprintf(stderr, "velmoria-host: cannot serve RPC: %s\n", strerror(err));
    return 1;
  }
  std::thread printer(PrintMessages, &window);
  std::thread rpc;
  if (options.rpc) rpc = std::thread(ServeRpc, &server, std::cref(options));

  int received = 0;
  sigwait(&endSignals, &received);
  gStop = true;
  printer.join();
  if (rpc.joinable()) rpc.join();
  return 0;
}
