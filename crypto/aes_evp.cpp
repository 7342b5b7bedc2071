// The AES engine's library calls through EVP (AES-128-CBC, padding off), for native
// builds: EVP uses the processor's AES instructions, the low-level calls do not.
// One context per engine for its whole life keeps the chain going across calls.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <new>

#include "core/result.h"
#include "crypto/cipher.h"

namespace qef {

struct AesSchedule {
  EVP_CIPHER_CTX* context;
  // The vector until the key is set; from then on the context holds the chain.
  unsigned char chain[AesEngine::kBlockSize];
};

namespace {

// EVP_CipherUpdate counts in an int.
constexpr uint32_t kLargestPiece = 0x40000000;

}  // namespace

// Freeing the context makes the cipher wipe its key schedule and chain.
void AesEngine::Release() {
  if (schedule_ == nullptr) return;
  EVP_CIPHER_CTX_free(schedule_->context);
  OPENSSL_cleanse(schedule_, sizeof(*schedule_));
  delete schedule_;
  schedule_ = nullptr;
}

int AesEngine::PrepareChain(const unsigned char vector[kBlockSize]) {
  if (schedule_ == nullptr) {
    schedule_ = new (std::nothrow) AesSchedule;
    if (schedule_ == nullptr) return kCipherRefused;
    schedule_->context = EVP_CIPHER_CTX_new();
    if (schedule_->context == nullptr) {
      Release();
      return kCipherRefused;
    }
  }
  std::memcpy(schedule_->chain, vector, kBlockSize);
  return kOk;
}

void AesEngine::ClearSchedule() { EVP_CIPHER_CTX_reset(schedule_->context); }

int AesEngine::BuildSchedule(const unsigned char key[16], int direction) {
  EVP_CIPHER_CTX* context = schedule_->context;
  int ok = EVP_CipherInit_ex(context, EVP_aes_128_cbc(), nullptr, key, schedule_->chain,
                             direction == kCipherEncrypt ? 1 : 0) == 1 &&
           EVP_CIPHER_CTX_set_padding(context, 0) == 1;
  OPENSSL_cleanse(schedule_->chain, sizeof(schedule_->chain));
  if (!ok) {
    EVP_CIPHER_CTX_reset(context);
    return kCipherRefused;
  }
  return kOk;
}

int AesEngine::Process(unsigned char* data, uint32_t length) {
  while (length > 0) {
    int piece = static_cast<int>(length < kLargestPiece ? length : kLargestPiece);
    int written = 0;
    if (EVP_CipherUpdate(schedule_->context, data, &written, data, piece) != 1 || written != piece) {
      return kCipherRefused;
    }
    data += piece;
    length -= static_cast<uint32_t>(piece);
  }
  return kOk;
}

}  // namespace qef
