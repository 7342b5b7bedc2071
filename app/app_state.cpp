#include "app/app_state.h"

namespace qef {

namespace {

// Built by static initialisation, before WinMain: the lock and the progress tracker are ready
// before any run, and nothing needs a thread-safe first-use guard.
AppState g_app;

}  // namespace

AppState& App() { return g_app; }

}  // namespace qef
