// The Blowfish engine through libcrypto's low-level calls (BF_set_key, BF_cbc_encrypt)
// on every build: EVP offers Blowfish only through the legacy provider.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "core/result.h"
#include "crypto/cipher.h"

namespace qef {

struct BlowfishSchedule {
  BF_KEY key;
  unsigned char chain[BlowfishEngine::kBlockSize];
};

namespace {

// BF_cbc_encrypt counts in a long, which is 32 bits on Windows.
constexpr uint32_t kLargestPiece = 0x40000000;

}  // namespace

BlowfishEngine::~BlowfishEngine() {
  if (schedule_ != nullptr) {
    OPENSSL_cleanse(schedule_, sizeof(*schedule_));
    delete schedule_;
  }
}

int BlowfishEngine::Setup(const unsigned char key[16], const unsigned char vector[kBlockSize]) {
  ready_ = 0;
  if (schedule_ == nullptr) schedule_ = new (std::nothrow) BlowfishSchedule;
  if (schedule_ == nullptr) return kCipherRefused;
  BF_set_key(&schedule_->key, 16, key);
  std::memcpy(schedule_->chain, vector, kBlockSize);
  ready_ = 1;
  return kOk;
}

int BlowfishEngine::Encrypt(unsigned char* data, uint32_t length) { return Run(data, length, BF_ENCRYPT); }

int BlowfishEngine::Decrypt(unsigned char* data, uint32_t length) { return Run(data, length, BF_DECRYPT); }

// BF_cbc_encrypt leaves the last ciphertext block in the chain, which is what lets
// the next call continue the same CBC pass.
int BlowfishEngine::Run(unsigned char* data, uint32_t length, int direction) {
  if (!ready_) return kNotReady;
  if (length % kBlockSize != 0) return kBadLength;
  while (length > 0) {
    uint32_t piece = length < kLargestPiece ? length : kLargestPiece;
    BF_cbc_encrypt(data, data, static_cast<long>(piece), &schedule_->key, schedule_->chain, direction);
    data += piece;
    length -= piece;
  }
  return kOk;
}

}  // namespace qef
