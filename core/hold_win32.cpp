// Windows hold: two named events, one this process sets and one it waits for.
#include <windows.h>

#include <cstdio>

#include "core/hold.h"

namespace qef {

void HoldHere() {
  char reached[64];
  char go[64];
  DWORD pid = GetCurrentProcessId();
  std::snprintf(reached, sizeof reached, "Local\\qef-hold-%lu-reached", static_cast<unsigned long>(pid));
  std::snprintf(go, sizeof go, "Local\\qef-hold-%lu-go", static_cast<unsigned long>(pid));
  HANDLE reached_event = CreateEventA(nullptr, TRUE, FALSE, reached);
  HANDLE go_event = CreateEventA(nullptr, TRUE, FALSE, go);
  if (reached_event != nullptr && go_event != nullptr) {
    SetEvent(reached_event);
    // Bounded, so that a test that died holding the run does not leave it forever.
    WaitForSingleObject(go_event, 10 * 60 * 1000);
  }
  if (reached_event != nullptr) CloseHandle(reached_event);
  if (go_event != nullptr) CloseHandle(go_event);
}

}  // namespace qef
