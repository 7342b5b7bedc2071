// The AES engine's library calls through the system's CNG (AES, CBC chaining, no
// padding), for Windows builds: CNG uses the processor's AES instructions, and the
// stub links no AES code of its own.
//
// CNG takes the chaining value as an argument of each call. The engine keeps it
// itself, as the last ciphertext block of the previous call, so that the chain does
// not depend on what a given CNG does to the vector it was handed.
#include <cstring>
#include <new>

#include "core/heap.h"
#include "core/result.h"
#include "crypto/cipher.h"
#include "crypto/cng.h"

namespace qef {

struct AesSchedule {
  const CngCalls* cng = nullptr;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  // The key's storage is ours, so that it can be wiped when the key goes.
  unsigned char* key_object = nullptr;
  ULONG key_object_size = 0;
  unsigned char chain[AesEngine::kBlockSize] = {};
};

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An AES provider in CBC mode and the size of its key objects; false when the system
// has none.
bool OpenProvider(AesSchedule& s) {
  const CngCalls* cng = s.cng;
  if (!Succeeded(cng->open_algorithm(&s.algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
    s.algorithm = nullptr;
    return false;
  }
  ULONG got = 0;
  DWORD object_size = 0;
  if (!Succeeded(cng->set_property(s.algorithm, BCRYPT_CHAINING_MODE,
                                   reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                   sizeof(BCRYPT_CHAIN_MODE_CBC), 0)) ||
      !Succeeded(cng->get_property(s.algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                   sizeof(object_size), &got, 0)) ||
      got != sizeof(object_size) || object_size == 0) {
    return false;
  }
  s.key_object = new (std::nothrow) unsigned char[object_size];
  if (s.key_object == nullptr) return false;
  s.key_object_size = object_size;
  return true;
}

}  // namespace

void AesEngine::Release() {
  if (schedule_ == nullptr) return;
  ClearSchedule();
  if (schedule_->algorithm != nullptr) schedule_->cng->close_algorithm(schedule_->algorithm, 0);
  delete[] schedule_->key_object;
  SecureWipe(schedule_->chain, sizeof(schedule_->chain));
  delete schedule_;
  schedule_ = nullptr;
}

int AesEngine::PrepareChain(const unsigned char vector[kBlockSize]) {
  if (schedule_ == nullptr) {
    const CngCalls* cng = Cng();
    if (cng == nullptr) return kCipherRefused;
    schedule_ = new (std::nothrow) AesSchedule;
    if (schedule_ == nullptr) return kCipherRefused;
    schedule_->cng = cng;
    if (!OpenProvider(*schedule_)) {
      Release();
      return kCipherRefused;
    }
  }
  std::memcpy(schedule_->chain, vector, kBlockSize);
  return kOk;
}

void AesEngine::ClearSchedule() {
  if (schedule_->key != nullptr) schedule_->cng->destroy_key(schedule_->key);
  schedule_->key = nullptr;
  if (schedule_->key_object != nullptr) SecureWipe(schedule_->key_object, schedule_->key_object_size);
}

// The direction is not part of a CNG key; the engine checks it before every call.
int AesEngine::BuildSchedule(const unsigned char key[16], int) {
  NTSTATUS status = schedule_->cng->generate_key(schedule_->algorithm, &schedule_->key, schedule_->key_object,
                                                 schedule_->key_object_size, const_cast<PUCHAR>(key), 16, 0);
  if (Succeeded(status)) return kOk;
  schedule_->key = nullptr;
  return kCipherRefused;
}

// In place over whole blocks. For decryption the last ciphertext block is the last
// input block, which the call overwrites, so it is put aside first.
int AesEngine::Process(unsigned char* data, uint32_t length) {
  unsigned char vector[kBlockSize];
  unsigned char next[kBlockSize];
  std::memcpy(vector, schedule_->chain, kBlockSize);
  bool encrypt = direction_ == kCipherEncrypt;
  if (!encrypt) std::memcpy(next, data + length - kBlockSize, kBlockSize);
  ULONG done = 0;
  auto call = encrypt ? schedule_->cng->encrypt : schedule_->cng->decrypt;
  NTSTATUS status = call(schedule_->key, data, length, nullptr, vector, kBlockSize, data, length, &done, 0);
  if (!Succeeded(status) || done != length) return kCipherRefused;
  if (encrypt) std::memcpy(next, data + length - kBlockSize, kBlockSize);
  std::memcpy(schedule_->chain, next, kBlockSize);
  return kOk;
}

}  // namespace qef
