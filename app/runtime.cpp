// The stub's own allocation functions, library error paths and text formatter. The
// standard ones pull in the whole exception machinery, the demangler, std::string and
// a floating-point formatter (over 180 KB), and the image must end at 0x35000.
// The stub uses no exceptions: running out of memory in a `new` that has no way to
// report it, or a container size error, ends the process with the out-of-memory code.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/result.h"

namespace {

[[noreturn]] void Fatal() { ExitProcess(qef::kOutOfMemory); }

}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) Fatal();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace std {

void __throw_bad_alloc() { Fatal(); }
void __throw_bad_array_new_length() { Fatal(); }
void __throw_length_error(const char*) { Fatal(); }
void __throw_out_of_range_fmt(const char*, ...) { Fatal(); }

}  // namespace std

// The formatter behind vsnprintf in C++ code, done by the system's msvcrt.dll with
// C99 results: the text is always terminated, and the answer is the full length.
// The stub formats only texts and integers (%s, %i, %li, %lu, %lX), which msvcrt
// handles exactly as the C99 formatter does.
extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = _vscprintf(format, copy);
  va_end(copy);
  if (size > 0) {
    int written = _vsnprintf(buffer, size, format, args);
    if (written < 0 || static_cast<size_t>(written) >= size) buffer[size - 1] = 0;
  }
  return needed;
}
