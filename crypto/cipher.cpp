// The cipher framework and the AES engine's checks, the same on every build. The
// library calls live in blowfish_engine.cpp and in aes_evp.cpp or aes_cng.cpp.
#include "crypto/cipher.h"

#include "core/result.h"
#include "crypto/hash.h"

namespace qef {

namespace {

// The vector's bytes if it is a Blob of exactly `size` bytes, all-zero bytes when no
// vector is given, null otherwise. An opaque value of the right size is refused too:
// only a Blob is a vector.
const unsigned char* VectorBytes(const Value* vector, uint32_t size) {
  static const unsigned char kZeroVector[16] = {};
  if (vector == nullptr) return kZeroVector;
  return vector->IsBlobOf(size) ? vector->GetBytes() : nullptr;
}

unsigned char* BufferBytes(Value& buffer) { return const_cast<unsigned char*>(buffer.GetBytes()); }

uint32_t BufferLength(const Value& buffer) { return buffer.GetBytes() != nullptr ? buffer.GetSize() : 0; }

}  // namespace

// ---- AesEngine: everything but the library calls -----------------------------------

AesEngine::~AesEngine() { Release(); }

int AesEngine::Setup(const unsigned char key[16], const unsigned char vector[kBlockSize], int direction) {
  ready_ = 0;
  direction_ = 0;
  int r = PrepareChain(vector);
  if (r != kOk) return r;
  ClearSchedule();
  if (direction != kCipherEncrypt && direction != kCipherDecrypt) return kBadArgument;
  r = BuildSchedule(key, direction);
  if (r != kOk) return r;
  direction_ = direction;
  ready_ = 1;
  return kOk;
}

int AesEngine::Encrypt(unsigned char* data, uint32_t length) { return Run(data, length, kCipherEncrypt); }

int AesEngine::Decrypt(unsigned char* data, uint32_t length) { return Run(data, length, kCipherDecrypt); }

int AesEngine::Run(unsigned char* data, uint32_t length, int direction) {
  if (!ready_) return kNotReady;
  if (length % kBlockSize != 0) return kBadLength;
  if (direction != direction_) return kCipherRefused;
  if (length == 0) return kOk;
  return Process(data, length);
}

// ---- CipherInstance -----------------------------------------------------------------

int CipherInstance::Init(uint32_t id, int direction, const Text& password, const Value* vector) {
  id_ = static_cast<uint8_t>(id);
  CipherKey key;
  switch (id_) {
    case kBlowfishCipher: {
      const unsigned char* bytes = VectorBytes(vector, BlowfishEngine::kBlockSize);
      if (bytes == nullptr) return kBadVector;
      DeriveCipherKey(password, id_, key);
      return blowfish_.Setup(key.bytes, bytes);
    }
    case kReservedCipher: return kCipherUnavailable;
    case kAesCipher: {
      static_assert(BlockSize(kAesCipher) == AesEngine::kBlockSize, "AES works on 16-byte blocks");
      const unsigned char* bytes = VectorBytes(vector, AesEngine::kBlockSize);
      if (bytes == nullptr) return kBadVector;
      DeriveCipherKey(password, id_, key);
      return aes_.Setup(key.bytes, bytes, direction);
    }
    default: return kUnknownCipher;
  }
}

int CipherInstance::Encrypt(unsigned char* data, uint32_t length) { return Run(data, length, kCipherEncrypt); }

int CipherInstance::Decrypt(unsigned char* data, uint32_t length) { return Run(data, length, kCipherDecrypt); }

int CipherInstance::Encrypt(Value& buffer) { return Run(BufferBytes(buffer), BufferLength(buffer), kCipherEncrypt); }

int CipherInstance::Decrypt(Value& buffer) { return Run(BufferBytes(buffer), BufferLength(buffer), kCipherDecrypt); }

int CipherInstance::Run(unsigned char* data, uint32_t length, int direction) {
  uint32_t block = BlockSize(id_);
  if (block == 0) return kUnknownCipher;
  if (length % block != 0) return kBadLength;
  if (id_ == kReservedCipher) return kCipherUnavailable;
  if (data == nullptr && length != 0) return kBadArgument;
  if (id_ == kBlowfishCipher) {
    return direction == kCipherEncrypt ? blowfish_.Encrypt(data, length) : blowfish_.Decrypt(data, length);
  }
  return direction == kCipherEncrypt ? aes_.Encrypt(data, length) : aes_.Decrypt(data, length);
}

}  // namespace qef
