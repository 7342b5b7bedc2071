// POSIX hold: the process stops itself; its parent sees the stop and resumes it.
#include <csignal>

#include "core/hold.h"

namespace qef {

void HoldHere() { std::raise(SIGSTOP); }

}  // namespace qef
