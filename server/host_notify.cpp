// The host link: posted window messages and the RPC query. Every query makes
// a new connection; nothing survives from one call to the next.
#include "server/host_notify.h"

#include "platform/localrpc.h"
#include "platform/winstation.h"

const char* const kHostWindowClass = "Velmoria";
const char* const kHostRpcEndpoint = "Velmoria Rpc CCFE5CCC-F3E1-11D4-BA65-00034702178B";

bool FindHostWindow() { return plat::FindWindowByClass(kHostWindowClass); }

void NotifyHost(int64_t wParam, int64_t lParam) {
  if (!FindHostWindow()) return;
  plat::PostMessageToClass(kHostWindowClass, plat::PostedMessage{kHostNotifyMessage, wParam, lParam});
}

std::optional<std::string> QueryHost(uint16_t code) {
  plat::RpcReply reply;
  bool completed = plat::RpcCall(kHostRpcEndpoint, kHostQueryProc, code, std::nullopt,
                                 kHostQueryTimeoutMs, &reply) &&
                   reply.status == 0;
  if (!completed) {
    if (code < 128 || code == 0x8081) return std::string();
    return std::nullopt;
  }
  if (!reply.output || reply.output->empty()) return std::nullopt;
  return reply.output;
}
