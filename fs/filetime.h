#pragma once
// Exact conversion between Windows FILETIME values (100 ns ticks since 1601-01-01 UTC,
// stored as 8 little-endian bytes) and POSIX seconds and nanoseconds since 1970.
#include <cstdint>

namespace qef {

const int64_t kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 in FILETIME ticks

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);
void UnixFromFileTime(uint64_t filetime, int64_t& seconds, int64_t& nanoseconds);

void PutFileTimeBytes(uint64_t filetime, unsigned char bytes[8]);
uint64_t GetFileTimeBytes(const unsigned char bytes[8]);

}  // namespace qef
