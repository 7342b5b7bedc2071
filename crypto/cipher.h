#pragma once
// The cipher framework: one CipherInstance per encryption chain, picking Blowfish or
// AES-128 by the one-byte cipher id of a container, keyed from the password, running
// CBC in place over whole blocks. No padding: callers hand in whole blocks.
//
// The chaining value carries over from call to call, so a series of calls on one
// instance gives the same bytes as one CBC pass over the data joined together.
#include <cstdint>

#include "core/format.h"
#include "core/text.h"
#include "core/value.h"

namespace qef {

// The same numbers as the stream modes writing (1) and reading (2), so that the
// container code can pass its stream's mode.
enum CipherDirection : int {
  kCipherEncrypt = 1,
  kCipherDecrypt = 2,
};

// Block size in bytes: 8 for Blowfish, 1 for the reserved id, 16 for AES, 0 for ids
// that name no cipher. Only the low 8 bits of the id count.
constexpr uint32_t BlockSize(uint32_t id) {
  switch (id & 0xFF) {
    case kBlowfishCipher: return 8;
    case kReservedCipher: return 1;
    case kAesCipher: return 16;
    default: return 0;
  }
}

// True for the ids that can be set up (0 and 2).
constexpr bool IsSupported(uint32_t id) { return (id & 0xFF) == kBlowfishCipher || (id & 0xFF) == kAesCipher; }

// The library's key schedule and chaining value; defined by the engine's source file.
struct BlowfishSchedule;
struct AesSchedule;

// Blowfish in CBC mode with a 16-byte key. The direction comes from each call.
class BlowfishEngine {
 public:
  static constexpr uint32_t kBlockSize = 8;

  BlowfishEngine() = default;
  ~BlowfishEngine();
  BlowfishEngine(const BlowfishEngine&) = delete;
  BlowfishEngine& operator=(const BlowfishEngine&) = delete;

  // Builds the key schedule and takes the vector as the chaining value.
  // 0, or kCipherRefused when no storage could be had for the schedule.
  int Setup(const unsigned char key[16], const unsigned char vector[kBlockSize]);
  // In place over `length` bytes. 0; kNotReady before Setup; kBadLength when length
  // is not a multiple of 8 (nothing is processed then).
  int Encrypt(unsigned char* data, uint32_t length);
  int Decrypt(unsigned char* data, uint32_t length);
  bool IsReady() const { return ready_ != 0; }

 private:
  int Run(unsigned char* data, uint32_t length, int direction);

  BlowfishSchedule* schedule_ = nullptr;
  int ready_ = 0;
};

// AES-128 in CBC mode. Its key schedule is built for one direction only, and the
// engine refuses the other direction itself: the library would otherwise run the
// data through the wrong schedule and return garbage without complaint.
class AesEngine {
 public:
  static constexpr uint32_t kBlockSize = 16;

  AesEngine() = default;
  ~AesEngine();
  AesEngine(const AesEngine&) = delete;
  AesEngine& operator=(const AesEngine&) = delete;

  // Takes the vector as the chaining value (kCipherRefused if the library refuses),
  // clears any old schedule, checks the direction (kBadArgument unless 1 or 2), then
  // builds the schedule for it (kCipherRefused if the library refuses). 0 on success.
  int Setup(const unsigned char key[16], const unsigned char vector[kBlockSize], int direction);
  // In place over `length` bytes. 0; kNotReady before a successful Setup; kBadLength
  // when length is not a multiple of 16; kCipherRefused for the direction the schedule
  // was not built for, or when the library did not process every byte. Nothing is
  // processed unless the checks pass.
  int Encrypt(unsigned char* data, uint32_t length);
  int Decrypt(unsigned char* data, uint32_t length);
  bool IsReady() const { return ready_ != 0; }

 private:
  int Run(unsigned char* data, uint32_t length, int direction);
  // The library calls, one source file per way of reaching the library.
  int PrepareChain(const unsigned char vector[kBlockSize]);
  void ClearSchedule();
  int BuildSchedule(const unsigned char key[16], int direction);
  int Process(unsigned char* data, uint32_t length);
  void Release();

  AesSchedule* schedule_ = nullptr;
  int direction_ = 0;
  int ready_ = 0;
};

// One encryption chain. Construct, Init once, then any number of Encrypt and Decrypt
// calls if Init answered 0. Only the engine the id names is ever set up.
class CipherInstance {
 public:
  CipherInstance() = default;
  CipherInstance(const CipherInstance&) = delete;
  CipherInstance& operator=(const CipherInstance&) = delete;

  // id: the cipher (low 8 bits count; stored even when Init fails). direction:
  // kCipherEncrypt or kCipherDecrypt; only AES uses it, Blowfish follows each call.
  // password: its bytes as typed. vector: a Blob of the block size, or null for an
  // all-zero vector. Checks, in order: id 1 -> kCipherUnavailable; ids above 2 ->
  // kUnknownCipher; vector not a Blob of the block size -> kBadVector; then the
  // engine's own checks (AES: chain refused -> kCipherRefused, direction ->
  // kBadArgument, key refused -> kCipherRefused).
  int Init(uint32_t id, int direction, const Text& password, const Value* vector);

  // In place; the length never changes. Checks, in order: ids above 2 ->
  // kUnknownCipher; length not a multiple of the block size -> kBadLength; id 1 ->
  // kCipherUnavailable; null data with a non-zero length -> kBadArgument; engine not
  // set up -> kNotReady; AES schedule built for the other direction -> kCipherRefused.
  // The buffer is untouched unless 0 is answered.
  int Encrypt(unsigned char* data, uint32_t length);
  int Decrypt(unsigned char* data, uint32_t length);
  // The bytes of a Blob (or opaque value); a value that holds no bytes counts as empty.
  int Encrypt(Value& buffer);
  int Decrypt(Value& buffer);

  uint8_t GetCipherId() const { return id_; }

 private:
  int Run(unsigned char* data, uint32_t length, int direction);

  uint8_t id_ = kBlowfishCipher;
  BlowfishEngine blowfish_;
  AesEngine aes_;
};

}  // namespace qef
