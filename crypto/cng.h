#pragma once
// Windows only: the calls of the system's cryptography library (CNG, bcrypt.dll) that
// the AES engine and the random source use. bcrypt.dll is not one of the DLLs Windows
// protects, so it is not imported at load time but loaded from System32 on first use.
#include <windows.h>

#include <bcrypt.h>

namespace qef {

struct CngCalls {
  decltype(&::BCryptOpenAlgorithmProvider) open_algorithm;
  decltype(&::BCryptCloseAlgorithmProvider) close_algorithm;
  decltype(&::BCryptSetProperty) set_property;
  decltype(&::BCryptGetProperty) get_property;
  decltype(&::BCryptGenerateSymmetricKey) generate_key;
  decltype(&::BCryptDestroyKey) destroy_key;
  decltype(&::BCryptEncrypt) encrypt;
  decltype(&::BCryptDecrypt) decrypt;
  decltype(&::BCryptGenRandom) gen_random;
};

// The calls, loaded once for the whole process (any thread may ask first); null when
// bcrypt.dll or one of the calls is missing.
const CngCalls* Cng();

}  // namespace qef
