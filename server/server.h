// Starting and stopping the server: the listening socket, the listener
// thread, and the count of running client threads that lets a stop wait for
// them.
//
// Invariants:
//  1. The server is either stopped or running; StartServer and StopServer are
//     called from one thread only (the program's window thread).
//  2. A failed start leaves the server stopped: no socket, no thread.
//  3. While running, the stop event is not set; StopServer sets it before it
//     does anything else, so every pending socket wait of every connection
//     ends at once.
//  4. Every client thread holds its own reference to the stop event and to
//     the counter of the listener that accepted it, so both stay valid for a
//     thread that outlives its listener (its 10-second wait timed out), and
//     such a thread never disturbs the counter of a later start.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/sync.h"
#include "server/server_log.h"

// The running client threads of one listener. The idle event is set exactly
// while no client thread runs.
struct ClientTracker {
  std::mutex lock;
  unsigned count = 0;
  std::shared_ptr<plat::Event> idle;
};

// Called by every client thread at its very beginning and its very end.
void ClientEnter(ClientTracker& tracker);
void ClientLeave(ClientTracker& tracker);

// Starts the server for the owner window. On success the server listens and
// "Port %d에서 HTTP가 시작되었습니다." is logged; returns true, also when it
// was running already (then nothing changes). On failure the reason is
// logged, the server stays stopped, and false is returned.
bool StartServer(OwnerWindow owner);

// Stops the server: ends every pending receive and send, closes the listening
// socket, waits about 11 seconds at most for the listener (which itself waits
// at most 10 seconds for the client threads) and logs "Tavrel 종료". Safe to call
// when the server isn't running.
void StopServer();

bool IsServerRunning();

// The port the listening socket is bound to while running, else 0. Equals the
// configured port except when that is 0 (any free port, for tests).
int ServerPort();
