#include "tests/container/fixture.h"

#include <zlib.h>

#include "container/chunk_streams.h"
#include "container/container_reader.h"
#include "container/value_record.h"
#include "core/memory_stream.h"
#include "crypto/hash.h"

namespace qef::test {

PropertyList StandardHeader(uint8_t cipher_id, uint8_t setting, const Value* vector) {
  PropertyList h;
  if (vector != nullptr) h.PutValue(kHeaderVector, *vector, 1);
  h.PutString(kHeaderMagic, kContainerMagic, 1);
  h.PutByte(kHeaderCompression, setting, 1);
  h.PutByte(kHeaderCipher, cipher_id, 1);
  return h;
}

std::string RecordBytes(Value& value) {
  MemoryStream out;
  out.OpenWrite(nullptr);
  SerialiseValue(value, out);
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

std::string CheckBytes(const char* password) {
  uint16_t v = PasswordCheckValue(Text(password));
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

ChunkEncryptor::ChunkEncryptor(uint8_t cipher_id, const char* password, const Value* vector)
    : block_(BlockSize(cipher_id)) {
  data_.Init(cipher_id, kCipherEncrypt, Text(password), vector);
  lengths_.Init(cipher_id, kCipherEncrypt, Text(password), vector);
}

std::string ChunkEncryptor::Chunk(const std::string& plain, int64_t announced) {
  uint32_t n = announced < 0 ? static_cast<uint32_t>(plain.size()) : static_cast<uint32_t>(announced);
  std::string block(block_, '\0');
  for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(n >> (8 * i));
  std::string data = plain;
  data.resize((plain.size() + block_ - 1) / block_ * block_, '\0');
  lengths_.Encrypt(reinterpret_cast<unsigned char*>(&block[0]), block_);
  if (!data.empty()) data_.Encrypt(reinterpret_cast<unsigned char*>(&data[0]), static_cast<uint32_t>(data.size()));
  return block + data;
}

std::string CompressedChunk(uint8_t flag, const std::string& data, int64_t length) {
  uint32_t l = length < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(length);
  std::string head(5, '\0');
  head[0] = static_cast<char>(flag);
  for (int i = 0; i < 4; ++i) head[1 + i] = static_cast<char>(l >> (8 * i));
  return head + data;
}

std::string SealedContainer(const std::string& plain, const char* password) {
  Value iv;
  iv.SetBlob("0123456789abcdef", 16);
  PropertyList header = StandardHeader(2, 1, &iv);
  std::string bytes = RecordBytes(header) + CheckBytes(password);
  ChunkEncryptor encryptor(2, password, &iv);
  for (size_t at = 0; at < plain.size(); at += kMaxPlainChunk)
    bytes += encryptor.Chunk(CompressedChunk(1, Zlib(plain.substr(at, kMaxPlainChunk), 6)));
  return bytes;
}

std::string Zlib(const std::string& plain, int level) {
  uLongf n = compressBound(static_cast<uLong>(plain.size()));
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(plain.data()),
            static_cast<uLong>(plain.size()), level);
  out.resize(n);
  return out;
}

std::string SampleBytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>("abcdefgh\n0123"[(x >> 16) % 13]);
  }
  return s;
}

}  // namespace qef::test
