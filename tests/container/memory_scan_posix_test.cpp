// After a run, no copy of the password is left in the process's memory: texts, key
// material, digests and cipher contexts are wiped before they are released.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <fstream>
#include <sstream>
#include <string>

#include "container/engine.h"
#include "container/writer.h"
#include "core/heap.h"
#include "fs/fs.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

unsigned char scan_buffer[1 << 20];

// The addresses in the process's writable memory where the needle's bytes occur, apart
// from the needle itself and the scanner's own buffer.
std::vector<uintptr_t> FindInMemory(const unsigned char* needle, size_t n) {
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
      std::istringstream in(line);
      std::string range, perms;
      in >> range >> perms;
      if (perms.size() < 2 || perms[0] != 'r' || perms[1] != 'w' || line.find("[vvar]") != std::string::npos)
        continue;
      ranges.emplace_back(std::stoull(range.substr(0, range.find('-')), nullptr, 16),
                          std::stoull(range.substr(range.find('-') + 1), nullptr, 16));
    }
  }
  std::vector<uintptr_t> found;
  found.reserve(16);
  int fd = ::open("/proc/self/mem", O_RDONLY);
  auto own = reinterpret_cast<uintptr_t>(scan_buffer);
  for (auto [from, to] : ranges) {
    for (uintptr_t at = from; at < to;) {
      size_t want = std::min<uintptr_t>(sizeof scan_buffer, to - at);
      ssize_t got = ::pread(fd, scan_buffer, want, static_cast<off_t>(at));
      if (got <= 0) break;
      for (size_t i = 0; i + n <= static_cast<size_t>(got); ++i) {
        if (scan_buffer[i] != needle[0] || std::memcmp(scan_buffer + i, needle, n) != 0) continue;
        uintptr_t where = at + i;
        if (where == reinterpret_cast<uintptr_t>(needle)) continue;
        if (where >= own && where < own + sizeof scan_buffer) continue;
        if (found.size() < found.capacity()) found.push_back(where);
      }
      // Overlap the pieces, so that a copy across a piece boundary is found.
      at += static_cast<size_t>(got) > n ? static_cast<size_t>(got) - n + 1 : static_cast<size_t>(got);
    }
  }
  ::close(fd);
  return found;
}

#if defined(__SANITIZE_ADDRESS__)
const bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kUnderAddressSanitizer = true;
#else
const bool kUnderAddressSanitizer = false;
#endif
#else
const bool kUnderAddressSanitizer = false;
#endif

TEST(PasswordHygiene, NoCopyOfThePasswordSurvivesARun) {
  // The sanitizer's shadow memory spans terabytes of mappings, and its allocator keeps
  // freed blocks in quarantine unwiped on purpose: the plain build answers this.
  if (kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  // The password is built at run time, so that no literal holds it.
  char secret[32];
  for (int i = 0; i < 24; ++i) secret[i] = static_cast<char>('A' + (i * 7) % 26);
  secret[24] = 0;
  unsigned char needle[24];
  std::memcpy(needle, secret, 24);
  test::TempDir dir;
  test::WriteFileBytes(dir.Sub("a.txt"), test::SampleBytes(200000, 6));
  {
    Text password(secret);
    PropertyList content;
    ASSERT_EQ(CollectSources({dir.Sub("a.txt")}, content, nullptr, nullptr), 0);
    for (uint8_t cipher : {uint8_t(2), uint8_t(0)}) {
      PackOptions options;
      options.cipher_id = cipher;
      ASSERT_EQ(WriteContainer(dir.Sub("c.qef"), password, content, options), 0);
      ExtractEngine engine;
      ExtractOptions ahead;
      ahead.decode_threads = 2;
      ASSERT_EQ(ExtractContainer(engine, dir.Sub("c.qef"), password, dir.Sub("t/"), nullptr, nullptr, nullptr, &ahead),
                0);
    }
  }
  SecureWipe(secret, sizeof secret);
  std::vector<uintptr_t> copies = FindInMemory(needle, sizeof needle);
  EXPECT_TRUE(copies.empty()) << copies.size() << " copies, the first at 0x" << std::hex << copies[0];
}

}  // namespace
}  // namespace qef
