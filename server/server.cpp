// Server lifecycle: StartServer, StopServer, the listener thread and the
// client-thread bookkeeping.
//
// State diagram (all transitions on the window thread):
//   stopped --StartServer ok--> running --StopServer--> stopped
//   stopped --StartServer fails--> stopped (socket closed, no thread)
// Inside a running server:
//   ListenThread accepts until the stop event is set or its socket is shut
//   down, then waits for the stop event and at most 10 s for its clients.
#include "server/server.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

#include "platform/socket.h"
#include "server/connection.h"
#include "server/host_notify.h"
#include "server/server_config.h"

namespace {

constexpr int kStopWaitMs = 10000;
// The stop waits a little longer for the listener than the listener waits for
// its clients, so that a slow client is reported by the listener's own line
// and not also as a listener that failed to end.
constexpr int kListenerWaitMs = kStopWaitMs + 1000;
constexpr int kAcceptRetryMs = 100;

struct ServerState {
  bool running = false;
  OwnerWindow owner = nullptr;
  std::shared_ptr<plat::Event> stopEvent;
  int listenSocket = -1;
  int boundPort = 0;
  std::unique_ptr<plat::Thread> listenThread;
};

ServerState gState;

// Accept failures that say nothing about the listening socket itself: the
// process or system is short of descriptors or memory for a moment.
bool IsTransientAcceptError(int wsaErr) {
  return wsaErr == plat::WinSockError(EMFILE) || wsaErr == plat::WinSockError(ENFILE) ||
         wsaErr == plat::WinSockError(ENOBUFS) || wsaErr == plat::WinSockError(ENOMEM);
}

// Hands an accepted socket to a new client thread; on failure the
// connection is dropped and logged.
void StartClient(int clientFd, uint32_t peer, const std::shared_ptr<plat::Event>& stopEvent,
                 const std::shared_ptr<ClientTracker>& tracker, OwnerWindow owner) {
  Connection* c = new (std::nothrow) Connection;
  if (c == nullptr) {
    WriteLog(owner, "메모리가 부족합니다.", 0);
    plat::CloseSocket(clientFd);
    return;
  }
  c->socket = clientFd;
  c->clientAddress = peer;
  c->stopEvent = stopEvent;
  c->owner = owner;
  c->tracker = tracker;
  if (!plat::StartDetachedThread([c] { ClientThread(c); })) {
    WriteLog(owner, "Client thread를 수행할 수 없습니다.", 0);
    CloseConnection(*c);
    delete c;
  }
}

void ListenThread(int listenFd, std::shared_ptr<plat::Event> stopEvent, OwnerWindow owner) {
  auto tracker = std::make_shared<ClientTracker>();
  tracker->idle = plat::Event::Create(true);
  for (;;) {
    int clientFd = -1;
    uint32_t peer = 0;
    int err = 0;
    plat::IoResult r = plat::AcceptConnection(listenFd, *stopEvent, &clientFd, &peer, &err);
    if (r != plat::IoResult::Done) {
      // Running out of descriptors must not end the server for good.
      if (r == plat::IoResult::FailedLater && IsTransientAcceptError(err) && !stopEvent->IsSet()) {
        plat::SleepMs(kAcceptRetryMs);
        continue;
      }
      break;
    }
    WriteLogf(owner, "접속 주소 : %s, 소켓 : %d", plat::DottedAddress(peer).c_str(), clientFd);
    StartClient(clientFd, peer, stopEvent, tracker, owner);
  }
  stopEvent->Wait(-1);
  if (tracker->idle && !tracker->idle->Wait(kStopWaitMs))
    WriteLog(owner, "Client thread들을 정상 종료하지 못했습니다.\n", 0);
}

// Binds the socket to the configured port, or in port-free mode to a random
// port from 10000 to 19999. Returns the error code of a failed bind.
bool BindConfiguredPort(int fd, int* err) {
  ServerConfig& c = gServerConfig;
  // A fixed port is taken again at once after a restart; a random port is
  // bound exclusively, so that two starts in the same second (which draw the
  // same candidates) can't both bind one port and then fail to listen.
  if (!c.portFree)
    return plat::BindAnyAddress(fd, static_cast<uint16_t>(c.port), plat::AddressReuse::Allow, err);
  for (;;) {
    // The generator is seeded with the time before every attempt, so a port
    // that is taken is tried again until the clock reaches the next second.
    srand(static_cast<unsigned>(time(nullptr)));
    c.port = rand() % 10000 + 10000;
    if (plat::BindAnyAddress(fd, static_cast<uint16_t>(c.port), plat::AddressReuse::Refuse, err))
      return true;
    // Only a taken port is worth another try; anything else would fail for
    // every port.
    if (*err != plat::WinSockError(EADDRINUSE)) return false;
    plat::SleepMs(10);
  }
}

bool FailStart(int fd) {
  if (fd >= 0) plat::CloseSocket(fd);
  gState.stopEvent.reset();
  gState.running = false;
  return false;
}

}  // namespace

void ClientEnter(ClientTracker& tracker) {
  {
    std::lock_guard<std::mutex> hold(tracker.lock);
    ++tracker.count;
  }
  if (tracker.idle) tracker.idle->Reset();
}

void ClientLeave(ClientTracker& tracker) {
  bool idle;
  {
    std::lock_guard<std::mutex> hold(tracker.lock);
    if (tracker.count > 0) --tracker.count;
    idle = tracker.count < 1;
  }
  if (idle && tracker.idle) tracker.idle->Set();
}

bool StartServer(OwnerWindow owner) {
  if (gState.running) return true;
  gState.running = true;
  gState.owner = owner;
  gState.stopEvent = plat::Event::Create(false);
  if (!gState.stopEvent) return FailStart(-1);

  int fd = -1;
  int err = 0;
  if (!plat::CreateTcpSocket(&fd, &err)) {
    WriteLog(owner, "소켓 생성 오류 : %s", err);
    return FailStart(-1);
  }
  if (!BindConfiguredPort(fd, &err)) {
    WriteLog(owner, "bind 오류 : %s", err);
    return FailStart(fd);
  }
  gState.boundPort = plat::BoundPort(fd);
  NotifyHost(gServerConfig.portFree ? gServerConfig.port : 0, 0);
  if (!plat::ListenSocket(fd, 0x7FFFFFFF, &err)) {
    WriteLog(owner, "listen 오류 : %s", err);
    return FailStart(fd);
  }
  auto thread = std::make_unique<plat::Thread>();
  std::shared_ptr<plat::Event> stopEvent = gState.stopEvent;
  if (!thread->Start([fd, stopEvent, owner] { ListenThread(fd, stopEvent, owner); }, &err)) {
    WriteLog(owner, "Listen thread 오류 : %s", err);
    return FailStart(fd);
  }
  gState.listenSocket = fd;
  gState.listenThread = std::move(thread);
  WriteLogf(owner, "Port %d에서 HTTP가 시작되었습니다.", gState.boundPort);
  return true;
}

void StopServer() {
  if (gState.stopEvent) gState.stopEvent->Set();
  // Shutting the socket down ends the accept loop; the descriptor itself is
  // closed only once the listener no longer waits on it.
  if (gState.listenSocket >= 0) plat::ShutdownSocket(gState.listenSocket);
  if (gState.listenThread) {
    if (!gState.listenThread->Join(kListenerWaitMs)) {
      WriteLog(gState.owner, "ListenThread의 시간내 종료 실패.", 0);
      gState.listenThread->Detach();
    }
    gState.listenThread.reset();
  }
  if (gState.listenSocket >= 0) plat::CloseSocket(gState.listenSocket);
  gState.listenSocket = -1;
  gState.boundPort = 0;
  gState.stopEvent.reset();
  WriteLog(gState.owner, "Tavrel 종료", 0);
  gState.running = false;
}

bool IsServerRunning() { return gState.running; }

int ServerPort() { return gState.boundPort; }
