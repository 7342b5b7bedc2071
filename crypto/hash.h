#pragma once
// SHA-1 as this system uses it: the password check value stored in plain in a
// container, the cipher keys derived from a password, and the process-wide random
// pool from which new initialisation vectors are drawn.
#include <cstdint>

#include "core/text.h"
#include "core/value.h"

namespace qef {

// One SHA-1 digest (20 bytes, standard byte order), computed on the stack and
// discarded. It is wiped when it goes, because most digests here are of passwords.
class Sha1Digest {
 public:
  static constexpr uint32_t kSize = 20;

  Sha1Digest() = default;
  ~Sha1Digest();
  Sha1Digest(const Sha1Digest&) = delete;
  Sha1Digest& operator=(const Sha1Digest&) = delete;

  // Hashing cannot fail: these always answer 0. A null pointer counts as no bytes.
  int Hash(const void* data, uint32_t length);
  // The text's bytes without the terminating zero.
  int Hash(const Text& text);
  // Two byte runs one after the other, without joining them in memory first (so no
  // extra copy of a password is left to wipe).
  int Hash(const void* first, uint32_t first_length, const void* second, uint32_t second_length);

  const unsigned char* GetBytes() const { return bytes_; }
  // A new Blob of the 20 digest bytes (Empty when storage ran out).
  Value ToBlob() const;

 private:
  unsigned char bytes_[kSize] = {};
};

// Hashes the bytes and stores the digest in `blob` as a 20-byte Blob; answers 0.
int HashToBlob(const void* data, uint32_t length, Value& blob);

// The two-byte value a container stores to recognise a wrong password: the first two
// bytes of SHA-1 of the password's bytes as typed, read low byte first.
uint16_t PasswordCheckValue(const Text& password);

constexpr uint32_t kCipherKeySize = 16;

// A derived cipher key; wiped when it goes.
struct CipherKey {
  unsigned char bytes[kCipherKeySize] = {};
  ~CipherKey();
};

// The key of a cipher: the first 16 bytes of SHA-1 over the password's bytes as typed
// (case kept, no terminating zero) followed by the cipher's label. One hash, no salt
// and no stretching, so that every container of a password keys alike. The label
// makes the Blowfish key, the AES key and the check value unrelated to each other.
// Only the low 8 bits of the id count. 0; kCipherUnavailable for id 1 and
// kUnknownCipher for ids above 2, which have no key (the key is then left as it was).
int DeriveCipherKey(const Text& password, uint32_t cipher_id, CipherKey& key);

// Bytes for initialisation vectors: SHA-1 over a fixed 20-byte pool and a counter
// that moves on with every 20 bytes handed out. The pool comes from the operating
// system's generator once; afterwards only the counter changes. Not thread-safe:
// only the thread that writes a container draws from it.
class RandomPool {
 public:
  static constexpr uint32_t kPoolSize = 20;

  // A pool filled by the operating system's generator. Should that fail, the pool
  // stays unseeded and Generate hands out nothing rather than predictable bytes.
  RandomPool();
  // A pool of the given bytes, so that tests can recompute what Generate answers.
  explicit RandomPool(const unsigned char pool[kPoolSize]);
  ~RandomPool();
  RandomPool(const RandomPool&) = delete;
  RandomPool& operator=(const RandomPool&) = delete;

  // A Blob of n bytes: for each 20-byte piece, SHA-1 of pool + counter (4 bytes, little
  // endian), then counter + 1; the last piece is cut to what is still wanted.
  // n <= 0, an unseeded pool or exhausted storage give an Empty value and leave the
  // counter as it was.
  Value Generate(int32_t n);

  bool IsSeeded() const { return seeded_ != 0; }
  uint32_t GetCounter() const { return counter_; }

 private:
  unsigned char pool_[kPoolSize] = {};
  uint32_t counter_ = 0;
  int seeded_ = 0;
};

// The one pool of the process, seeded on first use.
RandomPool& TheRandomPool();

}  // namespace qef
