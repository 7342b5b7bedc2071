// Windows: the only file of crypto/ that calls the system's generator (BCryptGenRandom).
#include <windows.h>
#include <bcrypt.h>

#include "crypto/system_random.h"

namespace qef {

bool FillFromSystem(unsigned char* out, uint32_t length) {
  NTSTATUS status =
      BCryptGenRandom(nullptr, out, static_cast<ULONG>(length), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return status >= 0;
}

}  // namespace qef
