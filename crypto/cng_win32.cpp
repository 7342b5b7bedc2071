// Windows: loads the CNG calls of bcrypt.dll from System32, once per process.
#include "core/system_library.h"
#include "crypto/cng.h"

namespace qef {

namespace {

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
CngCalls g_calls;
bool g_complete = false;

template <typename Fn>
bool Take(HMODULE library, const char* name, Fn& out) {
  out = SystemFunction<Fn>(library, name);
  return out != nullptr;
}

BOOL CALLBACK LoadCalls(PINIT_ONCE, PVOID, PVOID*) {
  HMODULE library = LoadSystemLibrary("bcrypt.dll");
  CngCalls& c = g_calls;
  g_complete = library != nullptr && Take(library, "BCryptOpenAlgorithmProvider", c.open_algorithm) &&
               Take(library, "BCryptCloseAlgorithmProvider", c.close_algorithm) &&
               Take(library, "BCryptSetProperty", c.set_property) &&
               Take(library, "BCryptGetProperty", c.get_property) &&
               Take(library, "BCryptGenerateSymmetricKey", c.generate_key) &&
               Take(library, "BCryptDestroyKey", c.destroy_key) && Take(library, "BCryptEncrypt", c.encrypt) &&
               Take(library, "BCryptDecrypt", c.decrypt) && Take(library, "BCryptGenRandom", c.gen_random);
  return TRUE;
}

}  // namespace

const CngCalls* Cng() {
  InitOnceExecuteOnce(&g_once, LoadCalls, nullptr, nullptr);
  return g_complete ? &g_calls : nullptr;
}

}  // namespace qef
