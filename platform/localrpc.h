// Local RPC between programs of one user: one call per connection over a
// Unix stream socket at <window station>/ncalrpc/<endpoint name>.
//
// Request:  procedure (uint16), code (uint16), input length (uint32,
//           0xFFFFFFFF for an absent text), the input bytes.
// Reply:    status (uint32, 0 when the call completed, otherwise the
//           exception code), output length (uint32, 0xFFFFFFFF for an
//           absent text), the output bytes.
// All numbers little-endian. A refused or failed connection, a reply that
// doesn't arrive in time and a malformed reply are RPC exceptions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Longest text either side accepts; a longer one is a malformed message.
constexpr uint32_t kMaxRpcTextBytes = 1 << 20;
constexpr uint32_t kAbsentRpcText = 0xFFFFFFFFu;

// The socket path of an endpoint in the current window station.
std::string RpcEndpointPath(std::string_view endpoint);

struct RpcReply {
  uint32_t status = 0;  // 0: the call completed
  std::optional<std::string> output;
};

// Makes one call. On success (a well-formed reply arrived within timeoutMs)
// stores it in *reply and returns true; on an RPC exception of the transport
// (no server, refused, cut short, too slow, malformed) returns false.
bool RpcCall(std::string_view endpoint, uint16_t procedure, uint16_t code,
             const std::optional<std::string>& input, int timeoutMs, RpcReply* reply);

// Answers one call: given the procedure, the code and the input, fills the
// output and returns the status (0 for a completed call).
using RpcHandler = std::function<uint32_t(uint16_t procedure, uint16_t code,
                                          const std::optional<std::string>& input,
                                          std::optional<std::string>* output)>;

// The serving side of an endpoint.
class RpcServer {
 public:
  RpcServer() = default;
  RpcServer(const RpcServer&) = delete;
  RpcServer& operator=(const RpcServer&) = delete;
  ~RpcServer();

  // Binds and listens on the endpoint. A stale socket file (nobody
  // listening) is replaced; a live endpoint fails with EEXIST. On failure
  // stores errno in *err when not null and returns false.
  bool Listen(std::string_view endpoint, int* err = nullptr);
  // Waits up to timeoutMs (-1: no limit) for one call and answers it with
  // the handler. True when a call was answered; false on timeout or when a
  // client sent a malformed request (it gets no reply).
  bool ServeOne(const RpcHandler& handler, int timeoutMs);
  // Stops listening and removes the socket file.
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string path_;
  uint64_t dev_ = 0;  // identity of the socket file we bound
  uint64_t ino_ = 0;
};

}  // namespace plat
