// Code page conversion on POSIX: the only file besides codepage_win32.cpp that calls
// the system's character set converter (iconv). Windows code page N is iconv's "CPN",
// or "WINDOWS-N" where only that name is known. No "//TRANSLIT": a character without
// an exact counterpart fails the conversion.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/codepage.h"
#include "core/heap.h"
#include "core/result.h"

namespace qef {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

iconv_t OpenConverter(uint32_t code_page, bool to_code_page) {
  const char* patterns[] = {"CP%lu", "WINDOWS-%lu"};
  for (const char* pattern : patterns) {
    char name[32];
    std::snprintf(name, sizeof name, pattern, static_cast<unsigned long>(code_page));
    iconv_t cd = to_code_page ? iconv_open(name, "UTF-8") : iconv_open("UTF-8", name);
    if (cd != kNoConverter) return cd;
  }
  return kNoConverter;
}

// Opening a converter costs more than converting a name with it, and the tool converts
// every name of an archive: each thread keeps the last converter of each direction.
class Converters {
 public:
  Converters() = default;
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;
  ~Converters() {
    for (Entry& e : entries_)
      if (e.cd != kNoConverter) iconv_close(e.cd);
  }
  // A converter in its initial state, or kNoConverter.
  iconv_t Get(uint32_t code_page, bool to_code_page) {
    Entry& e = entries_[to_code_page ? 1 : 0];
    if (e.cd == kNoConverter || e.code_page != code_page) {
      if (e.cd != kNoConverter) iconv_close(e.cd);
      e.cd = OpenConverter(code_page, to_code_page);
      e.code_page = code_page;
    } else {
      iconv(e.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    return e.cd;
  }

 private:
  struct Entry {
    iconv_t cd = kNoConverter;
    uint32_t code_page = 0;
  };
  Entry entries_[2];  // from the code page, to it
};

thread_local Converters converters;

// Doubles the buffer, wiping the old one; `used` bytes are kept.
void Grow(std::vector<char>& buffer, size_t used) {
  std::vector<char> bigger(buffer.size() * 2);
  std::copy(buffer.data(), buffer.data() + used, bigger.data());
  SecureWipe(buffer.data(), buffer.size());
  buffer.swap(bigger);
}

// The answer of one iconv call: 0 to go on (the buffer has grown when it was full),
// or kBadArgument. A conversion counted as irreversible (a positive answer) is
// refused too: some character was written as something else.
int32_t Outcome(size_t done, int error, std::vector<char>& buffer, size_t used) {
  if (done == static_cast<size_t>(-1)) {
    if (error != E2BIG) return kBadArgument;  // EILSEQ or EINVAL: no counterpart, or cut short
    Grow(buffer, used);
    return kOk;
  }
  return done == 0 ? kOk : kBadArgument;
}

int32_t Convert(const char* in, size_t n, uint32_t code_page, bool to_code_page, Text& out) {
  iconv_t cd = converters.Get(code_page, to_code_page);
  if (cd == kNoConverter) return kUnsupported;
  // Four output bytes per input byte cover 8-bit and double-byte code pages both ways.
  std::vector<char> buffer(4 * n + 16);
  char* src = const_cast<char*>(in);
  size_t src_left = n;
  size_t used = 0;
  int32_t r = kOk;
  while (r == kOk && src_left > 0) {
    char* dst = buffer.data() + used;
    size_t dst_left = buffer.size() - used;
    size_t done = iconv(cd, &src, &src_left, &dst, &dst_left);
    int error = errno;
    used = buffer.size() - dst_left;
    r = Outcome(done, error, buffer, used);
  }
  // Then any closing shift sequence of a stateful code page.
  for (bool again = true; r == kOk && again;) {
    char* dst = buffer.data() + used;
    size_t dst_left = buffer.size() - used;
    size_t done = iconv(cd, nullptr, nullptr, &dst, &dst_left);
    int error = errno;
    used = buffer.size() - dst_left;
    again = done == static_cast<size_t>(-1) && error == E2BIG;
    r = Outcome(done, error, buffer, used);
  }
  for (size_t i = 0; r == kOk && i < used; ++i)
    if (buffer[i] == 0) r = kBadArgument;  // U+0000 cannot be carried by a Text
  if (r == kOk) {
    char* d = out.GetBuffer(static_cast<int32_t>(used));
    if (d == nullptr) {
      r = kOutOfMemory;
    } else {
      std::copy(buffer.data(), buffer.data() + used, d);
      d[used] = 0;
      out.ReleaseBuffer();
    }
  }
  SecureWipe(buffer.data(), buffer.size());
  return r;
}

}  // namespace

int32_t SystemFromUtf8(const char* utf8, size_t n, uint32_t code_page, Text& out) {
  return Convert(utf8, n, code_page, true, out);
}

int32_t SystemToUtf8(const char* bytes, size_t n, uint32_t code_page, Text& out) {
  return Convert(bytes, n, code_page, false, out);
}

}  // namespace qef
