// Code page conversion on Windows: the only file besides codepage_posix.cpp that calls
// the system's converters (MultiByteToWideChar, WideCharToMultiByte). Text passes
// through UTF-16; WC_NO_BEST_FIT_CHARS with the used-default flag turns any
// character without an exact counterpart into a refusal instead of a look-alike.
#include <windows.h>

#include <vector>

#include "cli/codepage.h"
#include "core/heap.h"
#include "core/result.h"

namespace qef {

namespace {

// UTF-16 text of `n` bytes in code page `from`; false when a byte sequence is invalid.
bool ToWide(const char* in, size_t n, UINT from, std::vector<wchar_t>& wide) {
  wide.assign(n, 0);  // never more UTF-16 units than bytes
  if (n == 0) return true;
  int got = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(n), wide.data(),
                                static_cast<int>(wide.size()));
  wide.resize(static_cast<size_t>(got > 0 ? got : 0));
  return got > 0;
}

// Moves bytes into the Text; 0 or kOutOfMemory.
int32_t Store(const std::vector<char>& bytes, size_t n, Text& out) {
  char* d = out.GetBuffer(static_cast<int32_t>(n));
  if (d == nullptr) return kOutOfMemory;
  for (size_t i = 0; i < n; ++i) d[i] = bytes[i];
  d[n] = 0;
  out.ReleaseBuffer();
  return kOk;
}

void Wipe(std::vector<wchar_t>& wide, std::vector<char>& bytes) {
  SecureWipe(wide.data(), wide.size() * sizeof(wchar_t));
  SecureWipe(bytes.data(), bytes.size());
}

}  // namespace

int32_t SystemFromUtf8(const char* utf8, size_t n, uint32_t code_page, Text& out) {
  if (!IsValidCodePage(code_page)) return kUnsupported;
  std::vector<wchar_t> wide;
  std::vector<char> bytes;
  int32_t r = ToWide(utf8, n, CP_UTF8, wide) ? kOk : kBadArgument;
  size_t length = 0;
  if (r == kOk && !wide.empty()) {
    bytes.assign(wide.size() * 4, 0);  // at most four bytes per UTF-16 unit in any code page
    BOOL used_default = FALSE;
    int got = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                  bytes.data(), static_cast<int>(bytes.size()), nullptr, &used_default);
    if (got <= 0)
      r = GetLastError() == ERROR_INVALID_FLAGS || GetLastError() == ERROR_INVALID_PARAMETER ? kUnsupported
                                                                                             : kBadArgument;
    else if (used_default)
      r = kBadArgument;
    else
      length = static_cast<size_t>(got);
  }
  for (size_t i = 0; r == kOk && i < length; ++i)
    if (bytes[i] == 0) r = kBadArgument;  // U+0000 cannot be carried by a Text
  if (r == kOk) r = Store(bytes, length, out);
  Wipe(wide, bytes);
  return r;
}

int32_t SystemToUtf8(const char* in, size_t n, uint32_t code_page, Text& out) {
  if (!IsValidCodePage(code_page)) return kUnsupported;
  std::vector<wchar_t> wide;
  std::vector<char> bytes;
  int32_t r = ToWide(in, n, code_page, wide) ? kOk : kBadArgument;
  size_t length = 0;
  if (r == kOk && !wide.empty()) {
    bytes.assign(wide.size() * 3, 0);  // a UTF-16 unit never needs more than three UTF-8 bytes
    int got = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                                  static_cast<int>(bytes.size()), nullptr, nullptr);
    if (got <= 0)
      r = kBadArgument;
    else
      length = static_cast<size_t>(got);
  }
  for (size_t i = 0; r == kOk && i < length; ++i)
    if (bytes[i] == 0) r = kBadArgument;
  if (r == kOk) r = Store(bytes, length, out);
  Wipe(wide, bytes);
  return r;
}

}  // namespace qef
