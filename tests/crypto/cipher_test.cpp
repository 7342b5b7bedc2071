#include "crypto/cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/heap.h"
#include "core/result.h"
#include "hex.h"

namespace qef {
namespace {

using test::FromHex;
using test::ToHex;
using Bytes = std::vector<unsigned char>;

TEST(Cipher, BlockSizesAndSupport) {
  struct Case {
    uint32_t id;
    uint32_t block;
    bool supported;
  } cases[] = {{0, 8, true},    {1, 1, false},    {2, 16, true},    {3, 0, false},
               {255, 0, false}, {0x100, 8, true}, {0x102, 16, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(BlockSize(c.id), c.block) << c.id;
    EXPECT_EQ(IsSupported(c.id), c.supported) << c.id;
  }
}

enum VectorKind { kNoVector, kBlobVector, kStringVector, kOpaqueVector };
enum Call { kEncryptCall, kDecryptCall };

// One row per path through Init and Encrypt/Decrypt. The buffer holds a pattern; it
// must change only when the call answers 0.
struct Row {
  const char* name;
  uint32_t id;
  int direction;
  VectorKind vector;
  int32_t vector_size;
  int init_result;
  Call call;
  int32_t length;
  int call_result;
};

const Row kRows[] = {
    {"blowfish encrypts", 0, 1, kNoVector, 0, kOk, kEncryptCall, 16, kOk},
    {"blowfish keyed to encrypt also decrypts", 0, 1, kBlobVector, 8, kOk, kDecryptCall, 16, kOk},
    {"blowfish takes 24 bytes", 0, 2, kNoVector, 0, kOk, kEncryptCall, 24, kOk},
    {"blowfish empty buffer", 0, 1, kNoVector, 0, kOk, kDecryptCall, 0, kOk},
    {"blowfish 12 bytes", 0, 1, kNoVector, 0, kOk, kEncryptCall, 12, kBadLength},
    {"blowfish vector of 7", 0, 1, kBlobVector, 7, kBadVector, kEncryptCall, 8, kNotReady},
    {"blowfish vector of 9", 0, 1, kBlobVector, 9, kBadVector, kDecryptCall, 8, kNotReady},
    {"blowfish vector is a String of 8", 0, 1, kStringVector, 8, kBadVector, kEncryptCall, 8, kNotReady},
    {"blowfish vector is opaque", 0, 1, kOpaqueVector, 8, kBadVector, kEncryptCall, 8, kNotReady},
    {"aes encrypts", 2, 1, kBlobVector, 16, kOk, kEncryptCall, 32, kOk},
    {"aes decrypts", 2, 2, kNoVector, 0, kOk, kDecryptCall, 32, kOk},
    {"aes empty buffer", 2, 2, kNoVector, 0, kOk, kDecryptCall, 0, kOk},
    {"aes 12 bytes", 2, 1, kNoVector, 0, kOk, kEncryptCall, 12, kBadLength},
    {"aes 24 bytes", 2, 1, kNoVector, 0, kOk, kEncryptCall, 24, kBadLength},
    {"aes keyed to encrypt refuses decrypt", 2, 1, kNoVector, 0, kOk, kDecryptCall, 16, kCipherRefused},
    {"aes keyed to decrypt refuses encrypt", 2, 2, kNoVector, 0, kOk, kEncryptCall, 16, kCipherRefused},
    {"aes wrong direction, empty buffer", 2, 1, kNoVector, 0, kOk, kDecryptCall, 0, kCipherRefused},
    {"aes vector of 15", 2, 1, kBlobVector, 15, kBadVector, kEncryptCall, 16, kNotReady},
    {"aes vector of 17", 2, 2, kBlobVector, 17, kBadVector, kDecryptCall, 16, kNotReady},
    {"aes vector is a String of 16", 2, 1, kStringVector, 16, kBadVector, kEncryptCall, 16, kNotReady},
    {"aes direction 3", 2, 3, kNoVector, 0, kBadArgument, kEncryptCall, 16, kNotReady},
    {"aes direction 0", 2, 0, kNoVector, 0, kBadArgument, kDecryptCall, 16, kNotReady},
    {"aes length checked before readiness", 2, 3, kNoVector, 0, kBadArgument, kEncryptCall, 12, kBadLength},
    {"aes by a wide id", 0x102, 1, kNoVector, 0, kOk, kEncryptCall, 24, kBadLength},
    {"reserved id, encrypt", 1, 1, kNoVector, 0, kCipherUnavailable, kEncryptCall, 16, kCipherUnavailable},
    {"reserved id, decrypt", 1, 2, kNoVector, 0, kCipherUnavailable, kDecryptCall, 3, kCipherUnavailable},
    {"unknown id", 7, 1, kNoVector, 0, kUnknownCipher, kEncryptCall, 16, kUnknownCipher},
    {"unknown id 255", 255, 2, kBlobVector, 16, kUnknownCipher, kDecryptCall, 0, kUnknownCipher},
};

Value MakeVector(VectorKind kind, int32_t size) {
  Value v;
  if (kind == kBlobVector) {
    v.SetBlobSize(size);
  } else if (kind == kStringVector) {
    v.SetString(std::string(static_cast<size_t>(size - 1), 'v').c_str());  // size counts the zero
  } else if (kind == kOpaqueVector) {
    void* block = HeapBlockAlloc(static_cast<size_t>(size));
    std::memset(block, 0, static_cast<size_t>(size));
    v.AdoptBytes(500, block, static_cast<uint32_t>(size));
  }
  return v;
}

TEST(CipherInstance, ResultCodes) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Value vector = MakeVector(row.vector, row.vector_size);
    ASSERT_EQ(vector.GetSize(), static_cast<uint32_t>(row.vector_size));
    CipherInstance cipher;
    EXPECT_EQ(cipher.Init(row.id, row.direction, Text("pw"), row.vector == kNoVector ? nullptr : &vector),
              row.init_result);
    EXPECT_EQ(cipher.GetCipherId(), row.id & 0xFF);

    Bytes pattern(static_cast<size_t>(row.length));
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i + 1);
    Value buffer;
    buffer.SetBlob(pattern.data(), row.length);
    int r = row.call == kEncryptCall ? cipher.Encrypt(buffer) : cipher.Decrypt(buffer);
    EXPECT_EQ(r, row.call_result);
    ASSERT_TRUE(buffer.IsBlobOf(static_cast<uint32_t>(row.length)));
    Bytes after(buffer.GetBytes(), buffer.GetBytes() + buffer.GetSize());
    if (r == kOk && row.length > 0) {
      EXPECT_NE(after, pattern);
    } else if (r != kOk) {
      EXPECT_EQ(after, pattern);
    }
  }
}

TEST(CipherInstance, NotSetUp) {
  Bytes data(16, 1);
  CipherInstance never;
  EXPECT_EQ(never.Encrypt(data.data(), 16), kNotReady);
  EXPECT_EQ(never.Decrypt(data.data(), 16), kNotReady);
  EXPECT_EQ(never.Encrypt(nullptr, 16), kBadArgument);
  EXPECT_EQ(data, Bytes(16, 1));
  // A value that holds no bytes counts as empty.
  CipherInstance cipher;
  ASSERT_EQ(cipher.Init(2, kCipherEncrypt, Text("pw"), nullptr), kOk);
  Value number;
  number.SetDWord(7);
  EXPECT_EQ(cipher.Encrypt(number), kOk);
  EXPECT_EQ(number.GetDWordValue(), 7u);
}

// The keys come from the password through the labelled digest; expected bytes from
// the openssl command line with the keys that sha1sum gives for these passwords.
TEST(CipherInstance, KeyedFromPassword) {
  struct Case {
    uint32_t id;
    const char* password;
    const char* vector;  // hex, or null for none
    const char* cipher;
  } cases[] = {
      {2, "Secret", nullptr, "b1306441865ae0460f59cb5b9e954d116233821da074a30a205b4106891ac464"},
      {2, "secret", "000102030405060708090a0b0c0d0e0f",
       "c89577d9b19de50f29b0faf83d4ed356f0346233979e1c882b10a07e00226ba2"},
      {0, "Secret", nullptr, "4bbbb93f0fdcbe1dc09f5430b8bfc49c0748a79991aed8db70151be5cf9a676c"},
      {0, "secret", "0001020304050607", "29e4b67b6682deb81d46db4fc15d42dd79808104452c486b7270346d25fce911"},
  };
  const std::string text = "0123456789abcdefFEDCBA9876543210";
  const Bytes plain(text.begin(), text.end());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + c.password);
    Value vector;
    if (c.vector != nullptr) {
      Bytes v = FromHex(c.vector);
      vector.SetBlob(v.data(), static_cast<int32_t>(v.size()));
    }
    const Value* given = c.vector != nullptr ? &vector : nullptr;
    CipherInstance enc;
    ASSERT_EQ(enc.Init(c.id, kCipherEncrypt, Text(c.password), given), kOk);
    Bytes data = plain;
    ASSERT_EQ(enc.Encrypt(data.data(), 32), kOk);
    EXPECT_EQ(ToHex(data), c.cipher);
    CipherInstance dec;
    ASSERT_EQ(dec.Init(c.id, kCipherDecrypt, Text(c.password), given), kOk);
    ASSERT_EQ(dec.Decrypt(data.data(), 32), kOk);
    EXPECT_EQ(data, plain);
  }
}

// A chain of calls, empty ones included, equals one pass; what one instance
// encrypts in one split, another decrypts in a different one.
TEST(CipherInstance, ChainCarriesAcrossCalls) {
  for (uint32_t id : {0u, 2u}) {
    SCOPED_TRACE(id);
    const uint32_t b = BlockSize(id);
    Bytes plain(size_t{6} * b);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * 7);

    CipherInstance whole;
    ASSERT_EQ(whole.Init(id, kCipherEncrypt, Text("pw"), nullptr), kOk);
    Bytes expected = plain;
    ASSERT_EQ(whole.Encrypt(expected.data(), 6 * b), kOk);

    CipherInstance enc;
    ASSERT_EQ(enc.Init(id, kCipherEncrypt, Text("pw"), nullptr), kOk);
    Bytes data = plain;
    Value empty;
    empty.SetBlobSize(0);
    EXPECT_EQ(enc.Encrypt(data.data(), b), kOk);
    EXPECT_EQ(enc.Encrypt(empty), kOk);
    EXPECT_EQ(enc.Encrypt(data.data() + b, 0), kOk);
    EXPECT_EQ(enc.Encrypt(data.data() + b, 5 * b), kOk);
    EXPECT_EQ(data, expected);

    CipherInstance dec;
    ASSERT_EQ(dec.Init(id, kCipherDecrypt, Text("pw"), nullptr), kOk);
    EXPECT_EQ(dec.Decrypt(data.data(), 3 * b), kOk);
    EXPECT_EQ(dec.Decrypt(empty), kOk);
    EXPECT_EQ(dec.Decrypt(data.data() + size_t{3} * b, 3 * b), kOk);
    EXPECT_EQ(data, plain);
  }
}

}  // namespace
}  // namespace qef
