#pragma once
// Hold points: named places in a run where a test can stop the run and act on it in
// the middle (cancel it, kill it, scan its memory) without guessing by time where the
// run has got to. A point holds only when the environment variable QEF_HOLD names it,
// and only the first time the process reaches it; otherwise it costs one comparison.
//
// POSIX: the process stops itself with SIGSTOP; the test sees the stop with
// waitpid(WUNTRACED), acts, and sends SIGCONT (or a signal that ends the run).
// Windows: the calling thread sets the event "Local\qef-hold-<pid>-reached" and waits
// for "Local\qef-hold-<pid>-go"; the process's other threads run on.

namespace qef {

// The variable that names the point to hold at.
inline constexpr const char* kHoldVariable = "QEF_HOLD";

void HoldPoint(const char* name);

// What the platform file does when the named point is reached.
void HoldHere();

}  // namespace qef
