// Decrypting one 1 MiB chunk: CipherInstance for both ciphers, next to the bare
// library calls it stands on, so that any cost of the framework shows.
//   crypto_bench --benchmark_min_time=1
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/aes.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <vector>

#include "crypto/cipher.h"

namespace {

constexpr uint32_t kChunk = 1 << 20;
const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void Bytes(benchmark::State& state) { state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk); }

void BM_CipherInstanceDecrypt(benchmark::State& state) {
  qef::CipherInstance cipher;
  if (cipher.Init(static_cast<uint32_t>(state.range(0)), qef::kCipherDecrypt, qef::Text("pw"), nullptr) != 0) {
    state.SkipWithError("Init failed");
    return;
  }
  std::vector<unsigned char> data(kChunk, 0x5A);
  for (auto _ : state) {
    if (cipher.Decrypt(data.data(), kChunk) != 0) state.SkipWithError("Decrypt failed");
    benchmark::DoNotOptimize(data.data());
  }
  Bytes(state);
}
BENCHMARK(BM_CipherInstanceDecrypt)->Arg(qef::kBlowfishCipher)->Arg(qef::kAesCipher);

void BM_BlowfishCbcLowLevel(benchmark::State& state) {
  BF_KEY key;
  BF_set_key(&key, 16, kKey);
  unsigned char iv[8] = {};
  std::vector<unsigned char> data(kChunk, 0x5A);
  for (auto _ : state) {
    BF_cbc_encrypt(data.data(), data.data(), kChunk, &key, iv, BF_DECRYPT);
    benchmark::DoNotOptimize(data.data());
  }
  Bytes(state);
}
BENCHMARK(BM_BlowfishCbcLowLevel);

void BM_AesCbcLowLevel(benchmark::State& state) {
  AES_KEY key;
  AES_set_decrypt_key(kKey, 128, &key);
  unsigned char iv[16] = {};
  std::vector<unsigned char> data(kChunk, 0x5A);
  for (auto _ : state) {
    AES_cbc_encrypt(data.data(), data.data(), kChunk, &key, iv, AES_DECRYPT);
    benchmark::DoNotOptimize(data.data());
  }
  Bytes(state);
}
BENCHMARK(BM_AesCbcLowLevel);

void BM_AesCbcEvp(benchmark::State& state) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  unsigned char iv[16] = {};
  EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, iv);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<unsigned char> data(kChunk, 0x5A);
  for (auto _ : state) {
    int written = 0;
    EVP_DecryptUpdate(ctx, data.data(), &written, data.data(), kChunk);
    benchmark::DoNotOptimize(data.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  Bytes(state);
}
BENCHMARK(BM_AesCbcEvp);

}  // namespace

BENCHMARK_MAIN();
