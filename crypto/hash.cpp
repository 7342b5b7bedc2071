// SHA-1 through libcrypto's low-level calls on every build: they cannot fail, and
// they link only the digest itself into the Windows stub, not the EVP machinery.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "crypto/hash.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <cstring>

#include "core/endian.h"
#include "core/result.h"

namespace qef {

namespace {

const char kBlowfishLabel[] = "_Tidewell";
const char kAesLabel[] = "_KVN";

}  // namespace

Sha1Digest::~Sha1Digest() { OPENSSL_cleanse(bytes_, sizeof(bytes_)); }

int Sha1Digest::Hash(const void* data, uint32_t length) { return Hash(data, length, nullptr, 0); }

int Sha1Digest::Hash(const Text& text) { return Hash(text.Str(), static_cast<uint32_t>(text.GetLength()), nullptr, 0); }

int Sha1Digest::Hash(const void* first, uint32_t first_length, const void* second, uint32_t second_length) {
  SHA_CTX context;
  SHA1_Init(&context);
  if (first != nullptr) SHA1_Update(&context, first, first_length);
  if (second != nullptr) SHA1_Update(&context, second, second_length);
  SHA1_Final(bytes_, &context);
  OPENSSL_cleanse(&context, sizeof(context));
  return kOk;
}

Value Sha1Digest::ToBlob() const {
  Value blob;
  blob.SetBlob(bytes_, kSize);
  return blob;
}

int HashToBlob(const void* data, uint32_t length, Value& blob) {
  Sha1Digest digest;
  digest.Hash(data, length);
  blob = digest.ToBlob();
  return kOk;
}

uint16_t PasswordCheckValue(const Text& password) {
  Sha1Digest digest;
  digest.Hash(password);
  const unsigned char* d = digest.GetBytes();
  return LoadLe16(d);
}

CipherKey::~CipherKey() { OPENSSL_cleanse(bytes, sizeof(bytes)); }

int DeriveCipherKey(const Text& password, uint32_t cipher_id, CipherKey& key) {
  const char* label = nullptr;
  uint32_t label_length = 0;
  switch (cipher_id & 0xFF) {
    case 0:
      label = kBlowfishLabel;
      label_length = sizeof(kBlowfishLabel) - 1;
      break;
    case 1: return kCipherUnavailable;
    case 2:
      label = kAesLabel;
      label_length = sizeof(kAesLabel) - 1;
      break;
    default: return kUnknownCipher;
  }
  Sha1Digest digest;
  digest.Hash(password.Str(), static_cast<uint32_t>(password.GetLength()), label, label_length);
  std::memcpy(key.bytes, digest.GetBytes(), kCipherKeySize);
  return kOk;
}

}  // namespace qef
