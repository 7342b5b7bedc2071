#include "crypto/hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/result.h"
#include "hex.h"

namespace qef {
namespace {

using test::ToHex;

std::string BlobHex(const Value& v) { return ToHex(v.GetBytes(), v.GetSize()); }

TEST(Sha1Digest, StandardDigests) {
  struct Case {
    const char* message;
    const char* digest;
  } cases[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Sha1Digest bytes;
    EXPECT_EQ(bytes.Hash(c.message, static_cast<uint32_t>(std::strlen(c.message))), kOk);
    EXPECT_EQ(ToHex(bytes.GetBytes(), Sha1Digest::kSize), c.digest);

    Sha1Digest text;
    text.Hash(Text(c.message));
    EXPECT_EQ(ToHex(text.GetBytes(), Sha1Digest::kSize), c.digest);

    Value blob;
    EXPECT_EQ(HashToBlob(c.message, static_cast<uint32_t>(std::strlen(c.message)), blob), kOk);
    ASSERT_TRUE(blob.IsBlobOf(20));
    EXPECT_EQ(BlobHex(blob), c.digest);
  }
  // A Text that was never assigned hashes as the empty message.
  Sha1Digest none;
  none.Hash(Text());
  EXPECT_EQ(ToHex(none.GetBytes(), 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// Expected values from sha1sum over the password, password + "_Tidewell" and
// password + "_KVN".
TEST(PasswordDerivation, CheckValueAndKeys) {
  struct Case {
    const char* password;
    uint16_t check;
    const char* blowfish_key;
    const char* aes_key;
  } cases[] = {
      {"", 0x39da, "56db0fe1b8e0c437ea28be8912beaec2", "66d93fbb780cf91b71b7a7dee867dc49"},
      {"Secret", 0xe7f4, "6b9246449e6ddb2b87f0fc816f386c73", "e3466ccd3aab609a2c65d0d6796b0abb"},
      {"secret", 0xe9e5, "6d778db1cd8b0b3e4dfb3202704a7750", "75d524fe5ce8415f18edcc22724dde8f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    EXPECT_EQ(PasswordCheckValue(Text(c.password)), c.check);
    CipherKey blowfish;
    EXPECT_EQ(DeriveCipherKey(Text(c.password), 0, blowfish), kOk);
    EXPECT_EQ(ToHex(blowfish.bytes, kCipherKeySize), c.blowfish_key);
    CipherKey aes;
    EXPECT_EQ(DeriveCipherKey(Text(c.password), 2, aes), kOk);
    EXPECT_EQ(ToHex(aes.bytes, kCipherKeySize), c.aes_key);
    CipherKey wide;  // only the low 8 bits of the id count
    EXPECT_EQ(DeriveCipherKey(Text(c.password), 0x302, wide), kOk);
    EXPECT_EQ(ToHex(wide.bytes, kCipherKeySize), c.aes_key);
  }
  CipherKey none;
  EXPECT_EQ(DeriveCipherKey(Text("x"), 1, none), kCipherUnavailable);
  EXPECT_EQ(DeriveCipherKey(Text("x"), 7, none), kUnknownCipher);
  EXPECT_EQ(ToHex(none.bytes, kCipherKeySize), std::string(32, '0'));
}

TEST(RandomPool, GenerateHashesPoolAndCounter) {
  unsigned char fixed[RandomPool::kPoolSize];
  for (int i = 0; i < 20; ++i) fixed[i] = static_cast<unsigned char>(i);
  RandomPool pool(fixed);
  // SHA-1 of the pool 00 01 .. 13 followed by the counter 0, 1, 2 (4 bytes, LE).
  const std::string piece0 = "028553d821db1e8d1bc66ba574c0e31031052931";
  const std::string piece1 = "44ec8406c3ee31b352bdcc47237aa6a3268914d2";
  const std::string piece2 = "bf20077def50628b4e50400ecbcad5afb05bf2c8";

  EXPECT_EQ(pool.Generate(0).GetType(), kEmpty);
  EXPECT_EQ(pool.Generate(-1).GetType(), kEmpty);
  EXPECT_EQ(pool.GetCounter(), 0u);

  Value v = pool.Generate(25);
  ASSERT_TRUE(v.IsBlobOf(25));
  EXPECT_EQ(BlobHex(v), piece0 + piece1.substr(0, 10));
  EXPECT_EQ(pool.GetCounter(), 2u);

  v = pool.Generate(16);  // the cut piece is not used again
  EXPECT_EQ(BlobHex(v), piece2.substr(0, 32));
  EXPECT_EQ(pool.GetCounter(), 3u);
}

TEST(RandomPool, SeededByTheSystem) {
  RandomPool& pool = TheRandomPool();
  EXPECT_EQ(&pool, &TheRandomPool());
  ASSERT_TRUE(pool.IsSeeded());
  Value a = pool.Generate(16);
  Value b = pool.Generate(16);
  ASSERT_TRUE(a.IsBlobOf(16));
  ASSERT_TRUE(b.IsBlobOf(16));
  EXPECT_NE(a, b);
  // Two pools made within the same second still differ: no clock behind them.
  RandomPool first;
  RandomPool second;
  EXPECT_NE(first.Generate(20), second.Generate(20));
}

}  // namespace
}  // namespace qef
