#include "tests/support/memory_scan_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace qef::test {

namespace {

unsigned char scan_buffer[1 << 20];

}  // namespace

std::vector<uintptr_t> FindInMemory(const unsigned char* needle, size_t n) {
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
      std::istringstream in(line);
      std::string range, perms;
      in >> range >> perms;
      if (perms.size() < 2 || perms[0] != 'r' || perms[1] != 'w' || line.find("[vvar]") != std::string::npos) continue;
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

}  // namespace qef::test
