// Windows: the only file of crypto/ that calls the system's generator (BCryptGenRandom).
#include "crypto/cng.h"
#include "crypto/system_random.h"

namespace qef {

bool FillFromSystem(unsigned char* out, uint32_t length) {
  const CngCalls* cng = Cng();
  if (cng == nullptr) return false;
  NTSTATUS status = cng->gen_random(nullptr, out, static_cast<ULONG>(length), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  return status >= 0;
}

}  // namespace qef
