#pragma once
// The operating system's cryptographic generator, for seeding the random pool.
// Implemented once per platform (system_random_win32.cpp, system_random_posix.cpp).
#include <cstdint>

namespace qef {

// Fills `length` bytes; false (bytes undefined) when the generator failed.
bool FillFromSystem(unsigned char* out, uint32_t length);

}  // namespace qef
