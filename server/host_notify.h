// Messages to the portal's host program: a top-level window of the class
// "Velmoria", found by class name alone, to which the server posts
// HostNotifyMessage when it starts and ends.
#pragma once

#include <cstdint>

extern const char* const kHostWindowClass;
constexpr uint32_t kHostNotifyMessage = 1035;

// True when a host window exists.
bool FindHostWindow();

// Looks the host window up anew and posts HostNotifyMessage with the two
// parameters to it; nothing happens when there is no host window.
void NotifyHost(int64_t wParam, int64_t lParam);
