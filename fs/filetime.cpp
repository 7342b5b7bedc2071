#include "fs/filetime.h"

#include "core/endian.h"

namespace qef {

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  return static_cast<uint64_t>(seconds * 10000000LL + nanoseconds / 100 + kFileTimeUnixEpoch);
}

void UnixFromFileTime(uint64_t filetime, int64_t& seconds, int64_t& nanoseconds) {
  int64_t ticks = static_cast<int64_t>(filetime) - kFileTimeUnixEpoch;
  // Floor division, so that times before 1970 keep a non-negative nanosecond part.
  int64_t s = ticks / 10000000LL;
  int64_t rem = ticks % 10000000LL;
  if (rem < 0) {
    rem += 10000000LL;
    s -= 1;
  }
  seconds = s;
  nanoseconds = rem * 100;
}

void PutFileTimeBytes(uint64_t filetime, unsigned char bytes[8]) { StoreLe64(bytes, filetime); }

uint64_t GetFileTimeBytes(const unsigned char bytes[8]) { return LoadLe64(bytes); }

}  // namespace qef
