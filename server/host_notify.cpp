// Posting HostNotifyMessage to the host program's window.
#include "server/host_notify.h"

#include "platform/winstation.h"

const char* const kHostWindowClass = "Velmoria";

bool FindHostWindow() { return plat::FindWindowByClass(kHostWindowClass); }

void NotifyHost(int64_t wParam, int64_t lParam) {
  if (!FindHostWindow()) return;
  plat::PostMessageToClass(kHostWindowClass, plat::PostedMessage{kHostNotifyMessage, wParam, lParam});
}
