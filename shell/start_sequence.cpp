// The start sequence, tried once at program start and then once a second.
#include "shell/start_sequence.h"

#include <cstdlib>

#include "server/host_notify.h"
#include "server/server.h"
#include "server/server_config.h"

StartStep RunStartSequence(OwnerWindow owner) {
  if (!FindHostWindow()) return StartStep::End;
  std::optional<std::string> ready = QueryHost(kHostReadyCode);
  if (!ready || atoi(ready->c_str()) == 0) return StartStep::Retry;
  std::optional<std::string> host = QueryHost(kHostNameCode);
  std::optional<std::string> domain = QueryHost(kDomainNameCode);
  if (!host || !domain) return StartStep::Retry;
  gServerConfig.hostName = *host + "." + *domain;
  if (!StartServer(owner)) return StartStep::End;
  NotifyHost(-1, 1);
  return StartStep::Started;
}
