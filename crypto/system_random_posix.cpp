// POSIX (Linux): the only file of crypto/ that calls the system's generator (getrandom).
#include <sys/random.h>

#include <cerrno>

#include "crypto/system_random.h"

namespace qef {

bool FillFromSystem(unsigned char* out, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t got = getrandom(out + done, length - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<uint32_t>(got);
  }
  return true;
}

}  // namespace qef
