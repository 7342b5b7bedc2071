#pragma once
// Looks for a byte string in the process's own writable memory (POSIX, /proc/self).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qef::test {

// The addresses where the needle's bytes occur in writable memory, apart from the
// needle itself and the scanner's own buffer.
std::vector<uintptr_t> FindInMemory(const unsigned char* needle, size_t n);

// Under AddressSanitizer the shadow memory spans terabytes of mappings and freed
// blocks wait unwiped in quarantine on purpose: a scan is neither quick nor meaningful.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

}  // namespace qef::test
