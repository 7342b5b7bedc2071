// The random pool. Kept apart from hashing so that a program which never writes a
// container (the Windows stub) links none of it.
#include <openssl/crypto.h>

#include <cstring>

#include "core/endian.h"
#include "crypto/hash.h"
#include "crypto/system_random.h"

namespace qef {

RandomPool::RandomPool() { seeded_ = FillFromSystem(pool_, kPoolSize) ? 1 : 0; }

RandomPool::RandomPool(const unsigned char pool[kPoolSize]) {
  std::memcpy(pool_, pool, kPoolSize);
  seeded_ = 1;
}

// Whoever knows the pool can tell every vector still to come.
RandomPool::~RandomPool() { OPENSSL_cleanse(pool_, sizeof(pool_)); }

Value RandomPool::Generate(int32_t n) {
  Value result;
  if (n <= 0 || !seeded_) return result;
  result.SetBlobSize(n);
  if (!result.IsBlobOf(static_cast<uint32_t>(n))) {
    result.Reset();
    return result;
  }
  unsigned char* out = static_cast<unsigned char*>(result.GetData());
  for (uint32_t done = 0; done < static_cast<uint32_t>(n); done += Sha1Digest::kSize) {
    unsigned char counter[4];
    StoreLe32(counter, counter_);
    Sha1Digest digest;
    digest.Hash(pool_, kPoolSize, counter, sizeof(counter));
    ++counter_;
    uint32_t left = static_cast<uint32_t>(n) - done;
    std::memcpy(out + done, digest.GetBytes(), left < Sha1Digest::kSize ? left : Sha1Digest::kSize);
  }
  return result;
}

RandomPool& TheRandomPool() {
  static RandomPool pool;
  return pool;
}

}  // namespace qef
