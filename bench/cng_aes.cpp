// AES-128-CBC decryption speed on Windows (run it under Wine to see Wine's CNG):
// the system's CNG (BCryptDecrypt, one call per span) against libcrypto's EVP, in
// spans of 64 KiB and 1 MiB (the stream's chunk), and the stub's own AesEngine path.
//   cng_aes [MiB]    (default 128 MiB per case; prints MB/s, best of three passes)
#include <windows.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/cng.h"

namespace {

const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const int kPasses = 3;

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs `decrypt(data, span)` over `total` bytes in spans, kPasses times; the best
// pass's MB/s (10^6 bytes), or 0 when a call failed.
template <typename Decrypt>
double Measure(std::vector<unsigned char>& data, uint32_t span, uint64_t total, Decrypt decrypt) {
  double best = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    double start = Seconds();
    for (uint64_t done = 0; done < total; done += span) {
      if (!decrypt(data.data(), span)) return 0;
    }
    double rate = static_cast<double>(total) / 1e6 / (Seconds() - start);
    if (rate > best) best = rate;
  }
  return best;
}

struct CngKey {
  const qef::CngCalls* cng = qef::Cng();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  unsigned char vector[16] = {};

  bool Open() {
    if (cng == nullptr || cng->open_algorithm(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0) < 0) return false;
    if (cng->set_property(algorithm, BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                          sizeof(BCRYPT_CHAIN_MODE_CBC), 0) < 0)
      return false;
    return cng->generate_key(algorithm, &key, nullptr, 0, const_cast<PUCHAR>(kKey), 16, 0) >= 0;
  }
  ~CngKey() {
    if (key != nullptr) cng->destroy_key(key);
    if (algorithm != nullptr) cng->close_algorithm(algorithm, 0);
  }
  bool Decrypt(unsigned char* data, uint32_t length) {
    ULONG done = 0;
    return cng->decrypt(key, data, length, nullptr, vector, 16, data, length, &done, 0) >= 0 && done == length;
  }
};

struct EvpKey {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  bool Open() {
    unsigned char vector[16] = {};
    return context != nullptr && EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey, vector) == 1 &&
           EVP_CIPHER_CTX_set_padding(context, 0) == 1;
  }
  ~EvpKey() { EVP_CIPHER_CTX_free(context); }
  bool Decrypt(unsigned char* data, uint32_t length) {
    int written = 0;
    return EVP_DecryptUpdate(context, data, &written, data, static_cast<int>(length)) == 1 &&
           written == static_cast<int>(length);
  }
};

}  // namespace

int main(int argc, char** argv) {
  uint64_t total = static_cast<uint64_t>(argc > 1 ? std::atoi(argv[1]) : 128) << 20;
  if (total == 0) {
    std::fprintf(stderr, "usage: cng_aes [MiB]\n");
    return 2;
  }
  std::vector<unsigned char> data(1u << 20, 0x5A);
  CngKey cng;
  EvpKey evp;
  if (!cng.Open() || !evp.Open()) {
    std::fprintf(stderr, "cng_aes: %s could not be set up\n", cng.key == nullptr ? "CNG" : "EVP");
    return 1;
  }
  qef::CipherInstance engine;
  if (engine.Init(qef::kAesCipher, qef::kCipherDecrypt, qef::Text("pw"), nullptr) != 0) {
    std::fprintf(stderr, "cng_aes: the AES engine could not be set up\n");
    return 1;
  }
  std::printf("AES-128-CBC decryption, %llu MiB per case, best of %d passes, MB/s\n",
              static_cast<unsigned long long>(total >> 20), kPasses);
  std::printf("%-28s %10s %10s\n", "", "64 KiB", "1 MiB");
  auto row = [&](const char* name, auto decrypt) {
    double small = Measure(data, 64u << 10, total, decrypt);
    double large = Measure(data, 1u << 20, total, decrypt);
    std::printf("%-28s %10.0f %10.0f\n", name, small, large);
  };
  row("BCryptDecrypt", [&](unsigned char* p, uint32_t n) { return cng.Decrypt(p, n); });
  row("EVP_DecryptUpdate", [&](unsigned char* p, uint32_t n) { return evp.Decrypt(p, n); });
  row("CipherInstance (CNG)", [&](unsigned char* p, uint32_t n) { return engine.Decrypt(p, n) == 0; });
  return 0;
}
