// The two engines keyed directly, against published test vectors, in one call and
// split across calls (the chain must carry over, and empty calls must not move it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/result.h"
#include "crypto/cipher.h"
#include "hex.h"

namespace qef {
namespace {

using test::FromHex;
using test::ToHex;
using Bytes = std::vector<unsigned char>;

// Runs `data` through `run` in pieces of the given sizes (the last takes the rest).
template <typename Run>
Bytes InPieces(Bytes data, const std::vector<size_t>& pieces, Run run) {
  size_t at = 0;
  for (size_t n : pieces) {
    EXPECT_EQ(run(data.data() + at, static_cast<uint32_t>(n)), kOk);
    at += n;
  }
  EXPECT_EQ(run(data.data() + at, static_cast<uint32_t>(data.size() - at)), kOk);
  return data;
}

const std::vector<std::vector<size_t>> kSplits = {{}, {16}, {16, 0, 32}, {0, 48}, {32, 16}};

// FIPS-197 appendix C.1.
TEST(AesEngine, SingleBlock) {
  Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes zero(16, 0);
  Bytes block = FromHex("00112233445566778899aabbccddeeff");
  AesEngine enc;
  ASSERT_EQ(enc.Setup(key.data(), zero.data(), kCipherEncrypt), kOk);
  EXPECT_EQ(enc.Encrypt(block.data(), 16), kOk);
  EXPECT_EQ(ToHex(block), "69c4e0d86a7b0430d8cdb78070b4c55a");
  AesEngine dec;
  ASSERT_EQ(dec.Setup(key.data(), zero.data(), kCipherDecrypt), kOk);
  EXPECT_EQ(dec.Decrypt(block.data(), 16), kOk);
  EXPECT_EQ(ToHex(block), "00112233445566778899aabbccddeeff");
}

// NIST SP 800-38A F.2.1 (encrypt) and F.2.2 (decrypt), CBC-AES128.
TEST(AesEngine, CbcVectorsInOneCallAndSplit) {
  Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes plain = FromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  Bytes cipher = FromHex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
  for (const auto& split : kSplits) {
    SCOPED_TRACE(::testing::PrintToString(split));
    AesEngine enc;
    ASSERT_EQ(enc.Setup(key.data(), iv.data(), kCipherEncrypt), kOk);
    EXPECT_EQ(InPieces(plain, split, [&](unsigned char* p, uint32_t n) { return enc.Encrypt(p, n); }), cipher);
    AesEngine dec;
    ASSERT_EQ(dec.Setup(key.data(), iv.data(), kCipherDecrypt), kOk);
    EXPECT_EQ(InPieces(cipher, split, [&](unsigned char* p, uint32_t n) { return dec.Decrypt(p, n); }), plain);
  }
}

// The library would run either direction with either schedule; the engine must not.
TEST(AesEngine, RefusesTheOtherDirection) {
  Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes block = FromHex("6bc1bee22e409f96e93d7e117393172a");
  for (int direction : {kCipherEncrypt, kCipherDecrypt}) {
    SCOPED_TRACE(direction);
    AesEngine engine;
    ASSERT_EQ(engine.Setup(key.data(), iv.data(), direction), kOk);
    Bytes data = block;
    int refused = direction == kCipherEncrypt ? engine.Decrypt(data.data(), 16) : engine.Encrypt(data.data(), 16);
    EXPECT_EQ(refused, kCipherRefused);
    EXPECT_EQ(data, block);
    // The chain did not move: the right direction still starts from the vector.
    int ok = direction == kCipherEncrypt ? engine.Encrypt(data.data(), 16) : engine.Decrypt(data.data(), 16);
    EXPECT_EQ(ok, kOk);
    EXPECT_EQ(ToHex(data),
              direction == kCipherEncrypt ? "7649abac8119b246cee98e9b12e9197d" : "500496e109686a8b79626c7734fd8bfe");
  }
}

TEST(AesEngine, SetupChecks) {
  Bytes key(16, 1), iv(16, 0), data(16, 7);
  AesEngine engine;
  EXPECT_EQ(engine.Encrypt(data.data(), 16), kNotReady);
  EXPECT_EQ(engine.Setup(key.data(), iv.data(), 3), kBadArgument);
  EXPECT_FALSE(engine.IsReady());
  EXPECT_EQ(engine.Encrypt(data.data(), 16), kNotReady);
  ASSERT_EQ(engine.Setup(key.data(), iv.data(), kCipherEncrypt), kOk);
  EXPECT_EQ(engine.Encrypt(data.data(), 8), kBadLength);
  EXPECT_EQ(data, Bytes(16, 7));
}

// Blowfish with a 16-byte key, from Eric Young's published test data: the
// variable-key set (key F0E1..0F, block FEDCBA9876543210) and the CBC set.
TEST(BlowfishEngine, PublishedVectors) {
  Bytes zero(8, 0);
  Bytes key = FromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");
  // With an all-zero vector the first CBC block is the plain block encryption.
  Bytes data = FromHex("fedcba9876543210fedcba9876543210");
  BlowfishEngine single;
  ASSERT_EQ(single.Setup(key.data(), zero.data()), kOk);
  EXPECT_EQ(single.Encrypt(data.data(), 16), kOk);
  EXPECT_EQ(ToHex(data).substr(0, 16), "93142887ee3be15c");

  Bytes cbc_key = FromHex("0123456789abcdeff0e1d2c3b4a59687");
  Bytes iv = FromHex("fedcba9876543210");
  std::string text = "7654321 Now is the time for ";
  Bytes plain(text.begin(), text.end());
  plain.resize(32, 0);
  Bytes cipher = FromHex("6b77b4d63006dee605b156e27403979358deb9e7154616d959f1652bd5ff92cc");
  const std::vector<std::vector<size_t>> splits = {{}, {8}, {8, 0, 16}, {24}};
  for (const auto& split : splits) {
    SCOPED_TRACE(::testing::PrintToString(split));
    // One engine does both directions: Blowfish takes the direction from the call.
    BlowfishEngine enc;
    ASSERT_EQ(enc.Setup(cbc_key.data(), iv.data()), kOk);
    EXPECT_EQ(InPieces(plain, split, [&](unsigned char* p, uint32_t n) { return enc.Encrypt(p, n); }), cipher);
    BlowfishEngine dec;
    ASSERT_EQ(dec.Setup(cbc_key.data(), iv.data()), kOk);
    EXPECT_EQ(InPieces(cipher, split, [&](unsigned char* p, uint32_t n) { return dec.Decrypt(p, n); }), plain);
  }
}

TEST(BlowfishEngine, Checks) {
  Bytes key(16, 1), iv(8, 0), data(16, 7);
  BlowfishEngine engine;
  EXPECT_EQ(engine.Decrypt(data.data(), 16), kNotReady);
  ASSERT_EQ(engine.Setup(key.data(), iv.data()), kOk);
  EXPECT_EQ(engine.Encrypt(data.data(), 12), kBadLength);
  EXPECT_EQ(data, Bytes(16, 7));
}

}  // namespace
}  // namespace qef
