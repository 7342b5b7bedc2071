// What the system itself needs to recreate a tree of many small files: the floor that
// bench/stub_compare sets the extraction of such a tree against. The plainest calls
// there are: CreateDirectoryW for each folder, then for each file CreateFileW
// (CREATE_NEW), WriteFile, SetFileTime and CloseHandle; no checks, no journal.
//   files_floor TREE_BLOB TARGET_FOLDER
// The tree comes in one blob the bench script writes, read whole before the clock
// starts, so that reading the input costs next to nothing:
//   "qef-files-floor 1\n", then per entry one byte 'D' (folder) or 'F' (file), the
//   relative path's length (2 bytes, little-endian) and the path in UTF-8 with '/'
//   between names; a file then has its size and its last-write time (8 bytes each,
//   100 ns ticks since 1601) and its bytes. A folder comes before what is in it.
// Prints what it made and the seconds the recreating took.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kMagic[] = "qef-files-floor 1\n";

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

uint64_t Read64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::wstring Wide(const char* text, int n) {
  int need = MultiByteToWideChar(CP_UTF8, 0, text, n, nullptr, 0);
  std::wstring w(static_cast<size_t>(need), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, n, &w[0], need);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

bool ReadWhole(const wchar_t* path, std::vector<unsigned char>& out) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) != 0;
  if (ok) out.resize(static_cast<size_t>(size.QuadPart));
  for (size_t at = 0; ok && at < out.size();) {
    DWORD want = static_cast<DWORD>(out.size() - at > (1u << 30) ? (1u << 30) : out.size() - at);
    DWORD got = 0;
    ok = ReadFile(h, out.data() + at, want, &got, nullptr) != 0 && got > 0;
    at += got;
  }
  CloseHandle(h);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: files_floor TREE_BLOB TARGET_FOLDER\n");
    return 2;
  }
  std::vector<unsigned char> blob;
  if (!ReadWhole(argv[1], blob) || blob.size() < sizeof kMagic - 1 ||
      std::memcmp(blob.data(), kMagic, sizeof kMagic - 1) != 0) {
    std::fprintf(stderr, "files_floor: cannot read the tree blob\n");
    return 1;
  }
  std::wstring target = argv[2];
  if (!target.empty() && target.back() != L'\\') target += L'\\';
  CreateDirectoryW(target.c_str(), nullptr);

  unsigned folders = 0, files = 0, taken = 0;
  const unsigned char* p = blob.data() + sizeof kMagic - 1;
  const unsigned char* end = blob.data() + blob.size();
  double start = Seconds();
  while (p + 3 <= end) {
    char kind = static_cast<char>(p[0]);
    int length = p[1] | (p[2] << 8);
    std::wstring path = target + Wide(reinterpret_cast<const char*>(p + 3), length);
    p += 3 + length;
    if (kind == 'D') {
      if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "files_floor: cannot make a folder (error %lu)\n", GetLastError());
        return 1;
      }
      ++folders;
      continue;
    }
    uint64_t size = Read64(p);
    uint64_t written = Read64(p + 8);
    const unsigned char* data = p + 16;
    p = data + size;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      // A name that differs from an earlier one only in case is taken on this system.
      if (GetLastError() == ERROR_FILE_EXISTS) {
        ++taken;
        continue;
      }
      std::fprintf(stderr, "files_floor: cannot create a file (error %lu)\n", GetLastError());
      return 1;
    }
    DWORD done = 0;
    bool ok = size == 0 || (WriteFile(h, data, static_cast<DWORD>(size), &done, nullptr) && done == size);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(written);
    ft.dwHighDateTime = static_cast<DWORD>(written >> 32);
    ok = SetFileTime(h, nullptr, nullptr, &ft) && ok;
    ok = CloseHandle(h) && ok;
    if (!ok) {
      std::fprintf(stderr, "files_floor: cannot write a file (error %lu)\n", GetLastError());
      return 1;
    }
    ++files;
  }
  std::printf("files_floor: %u folders, %u files (%u names taken already) in %.2f s\n", folders, files, taken,
              Seconds() - start);
  return 0;
}
