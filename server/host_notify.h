// The link to the portal's host program: its top-level window of the class
// "Velmoria", found by class name alone, to which the server posts
// HostNotifyMessage when it starts and ends; and its local RPC interface,
// which tells whether the host is ready and what the public host name is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

extern const char* const kHostWindowClass;
constexpr uint32_t kHostNotifyMessage = 1035;

// The host's RPC endpoint and its one procedure, HostQueryProc.
extern const char* const kHostRpcEndpoint;
constexpr uint16_t kHostQueryProc = 0;

// Query codes: readiness (a decimal number, nonzero when ready) and the two
// parts of the public host name.
constexpr uint16_t kHostReadyCode = 2;
constexpr uint16_t kHostNameCode = 130;
constexpr uint16_t kDomainNameCode = 131;

// An RPC call that gets no answer in this time counts as failed, so that a
// host that hangs can't hang the server's start with it.
constexpr int kHostQueryTimeoutMs = 5000;

// True when a host window exists.
bool FindHostWindow();

// Looks the host window up anew and posts HostNotifyMessage with the two
// parameters to it; nothing happens when there is no host window.
void NotifyHost(int64_t wParam, int64_t lParam);

// Asks the host with a query code. A completed call answers its text when it
// is not empty, else none. A failed call (no RPC server, an exception)
// answers an empty text for codes below 128 and for 0x8081, none for every
// other code.
std::optional<std::string> QueryHost(uint16_t code);
