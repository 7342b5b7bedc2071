#pragma once
// Builds container bytes piece by piece, so that tests can damage any layer.
#include <cstdint>
#include <string>

#include "core/value.h"
#include "crypto/cipher.h"

namespace qef::test {

// A header list as this system's writer makes it.
PropertyList StandardHeader(uint8_t cipher_id, uint8_t setting, const Value* vector);
// The bytes of a value record.
std::string RecordBytes(Value& value);
// The two bytes of a password's check value.
std::string CheckBytes(const char* password);

// Encrypts chunks in sequence with the two chains a reader expects.
class ChunkEncryptor {
 public:
  ChunkEncryptor(uint8_t cipher_id, const char* password, const Value* vector);
  // One encrypted chunk of `plain`; its length block announces `announced` (by
  // default the plain length). The data is padded to whole blocks.
  std::string Chunk(const std::string& plain, int64_t announced = -1);

 private:
  uint32_t block_;
  CipherInstance data_;
  CipherInstance lengths_;
};

// A compressed chunk: flag, length (by default the data's) and data.
std::string CompressedChunk(uint8_t flag, const std::string& data, int64_t length = -1);
// A whole AES container whose content list has the given plain bytes, in compressed
// chunks of the largest size a reader takes.
std::string SealedContainer(const std::string& plain, const char* password);
// zlib's compress2 of the data.
std::string Zlib(const std::string& plain, int level);
// Deterministic bytes that compress moderately.
std::string SampleBytes(size_t n, uint32_t seed);

}  // namespace qef::test
