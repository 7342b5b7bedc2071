// The AES engine's library calls through libcrypto's low-level AES functions, for the
// Windows stub: they link a few kilobytes where EVP would bring its provider machinery.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>
#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "core/result.h"
#include "crypto/cipher.h"

namespace qef {

struct AesSchedule {
  AES_KEY key;
  unsigned char chain[AesEngine::kBlockSize];
};

void AesEngine::Release() {
  if (schedule_ == nullptr) return;
  OPENSSL_cleanse(schedule_, sizeof(*schedule_));
  delete schedule_;
  schedule_ = nullptr;
}

int AesEngine::PrepareChain(const unsigned char vector[kBlockSize]) {
  if (schedule_ == nullptr) schedule_ = new (std::nothrow) AesSchedule;
  if (schedule_ == nullptr) return kCipherRefused;
  std::memcpy(schedule_->chain, vector, kBlockSize);
  return kOk;
}

void AesEngine::ClearSchedule() { OPENSSL_cleanse(&schedule_->key, sizeof(schedule_->key)); }

int AesEngine::BuildSchedule(const unsigned char key[16], int direction) {
  int r = direction == kCipherEncrypt ? AES_set_encrypt_key(key, 128, &schedule_->key)
                                      : AES_set_decrypt_key(key, 128, &schedule_->key);
  return r == 0 ? kOk : kCipherRefused;
}

// AES_cbc_encrypt leaves the last ciphertext block in the chain, so the next call
// continues the same CBC pass.
int AesEngine::Process(unsigned char* data, uint32_t length) {
  AES_cbc_encrypt(data, data, length, &schedule_->key, schedule_->chain,
                  direction_ == kCipherEncrypt ? AES_ENCRYPT : AES_DECRYPT);
  return kOk;
}

}  // namespace qef
