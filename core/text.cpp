#include "core/text.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "core/heap.h"

namespace qef {

namespace {

// The fill pattern a debugging heap leaves in freed memory: such a pointer is stale.
const uintptr_t kFreedFill = 0xDDDDDDDDu;
const int32_t kFormatArea = 65536;

}  // namespace

Text::Text(Text&& other) noexcept : storage_(other.storage_), length_(other.length_), capacity_(other.capacity_) {
  other.storage_ = nullptr;
  other.length_ = 0;
  other.capacity_ = 0;
}

Text& Text::operator=(const Text& other) {
  if (this != &other) Assign(other);
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    Release();
    std::swap(storage_, other.storage_);
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
  }
  return *this;
}

void Text::Release() {
  if (storage_ != nullptr && reinterpret_cast<uintptr_t>(storage_) != kFreedFill) {
    SecureWipe(storage_, static_cast<size_t>(capacity_));
    HeapBlockFree(storage_);
  }
  storage_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

int Text::AssignBytes(const char* bytes, int32_t n) {
  Release();
  char* block = static_cast<char*>(HeapBlockAlloc(static_cast<size_t>(n) + 1));
  if (block == nullptr) return 0;
  if (n > 0) std::memcpy(block, bytes, static_cast<size_t>(n));
  block[n] = 0;
  storage_ = block;
  length_ = n;
  capacity_ = n + 1;
  return 1;
}

int Text::Assign(const char* text) {
  if (text == storage_ && text != nullptr) return 1;
  if (text == nullptr) text = "";
  size_t n = std::strlen(text);
  if (n >= 0x7FFFFFFF) {
    Release();
    return 0;
  }
  // The source may live inside our own block; copy it aside before releasing.
  if (storage_ != nullptr && text >= storage_ && text < storage_ + capacity_) {
    Text copy;
    copy.AssignBytes(text, static_cast<int32_t>(n));
    *this = std::move(copy);
    return storage_ != nullptr ? 1 : 0;
  }
  return AssignBytes(text, static_cast<int32_t>(n));
}

int Text::Assign(const Text& other) {
  if (this == &other) return 1;
  return Assign(other.storage_ != nullptr ? other.storage_ : "");
}

// A text that grows is given room for as much again, so that a text built by many
// appends costs time in proportion to its length, not to its square.
int Text::Append(const char* text) {
  if (text == nullptr || text[0] == 0) return 1;
  if (IsEmpty()) return Assign(text);
  size_t add = std::strlen(text);
  size_t total = static_cast<size_t>(length_) + add;
  if (total >= 0x7FFFFFFF) return 0;
  if (total + 1 > static_cast<size_t>(capacity_)) {
    size_t room = 2 * static_cast<size_t>(capacity_);
    if (room < total + 1) room = total + 1;
    if (room > 0x7FFFFFFF) room = 0x7FFFFFFF;
    char* block = static_cast<char*>(HeapBlockAlloc(room));
    if (block == nullptr) return 0;
    std::memcpy(block, storage_, static_cast<size_t>(length_));
    // The text appended may lie in the old block: it is copied before that goes.
    std::memcpy(block + length_, text, add + 1);
    Release();
    storage_ = block;
    length_ = static_cast<int32_t>(total);
    capacity_ = static_cast<int32_t>(room);
    return 1;
  }
  std::memmove(storage_ + length_, text, add + 1);  // the text may lie in this block
  length_ = static_cast<int32_t>(total);
  return 1;
}

int Text::AppendChar(char ch) {
  char one[2] = {ch, 0};
  return Append(one);
}

Text Text::Concat(const Text& a, const char* b) {
  Text result(a);
  result.Append(b);
  return result;
}

int Text::Compare(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return static_cast<int>(*x) - static_cast<int>(*y);
}

int Text::CompareNoCase(const char* text) const {
  Text a(*this);
  Text b(text);
  a.MakeLower();
  b.MakeLower();
  return Compare(a.storage_, b.storage_);
}

char Text::GetAt(int32_t pos) const {
  if (pos < 0 || pos >= length_ || storage_ == nullptr) return 0;
  return storage_[pos];
}

int32_t Text::Find(char ch, int32_t start) const {
  if (storage_ == nullptr || start < 0 || start >= length_) return -1;
  for (int32_t i = start; i < length_; ++i)
    if (storage_[i] == ch) return i;
  return -1;
}

int32_t Text::FindText(const char* text, int32_t start) const {
  if (storage_ == nullptr || start < 0 || text == nullptr) return -1;
  size_t n = std::strlen(text);
  if (start > length_ || static_cast<size_t>(length_ - start) < n) return -1;
  for (int32_t i = start; static_cast<size_t>(length_ - i) >= n; ++i)
    if (std::memcmp(storage_ + i, text, n) == 0) return i;
  return -1;
}

int32_t Text::ReverseFind(char ch) const {
  if (storage_ == nullptr) return -1;
  for (int32_t i = length_ - 1; i >= 0; --i)
    if (storage_[i] == ch) return i;
  return -1;
}

Text Text::Left(int32_t n) const {
  if (n < 0) n = 0;
  if (n >= length_) return *this;
  Text result;
  result.AssignBytes(storage_, n);
  return result;
}

Text Text::Right(int32_t n) const {
  if (n <= 0) return Text("");
  if (n >= length_) return *this;
  Text result;
  result.AssignBytes(storage_ + length_ - n, n);
  return result;
}

Text Text::Mid(int32_t pos, int32_t n) const {
  if (pos < 0) pos = 0;
  if (n >= 0 && pos < length_ && n <= length_ - pos) {
    Text result;
    result.AssignBytes(storage_ + pos, n);
    return result;
  }
  return *this;
}

Text Text::Replace(char old_ch, char new_ch) {
  if (old_ch != new_ch && storage_ != nullptr) {
    for (int32_t i = 0; i < length_; ++i)
      if (storage_[i] == old_ch) storage_[i] = new_ch;
  }
  return *this;
}

Text Text::Remove(char ch) {
  if (storage_ != nullptr) {
    int32_t out = 0;
    for (int32_t i = 0; i < length_; ++i)
      if (storage_[i] != ch) storage_[out++] = storage_[i];
    // Wipe the tail that the shorter text no longer covers.
    SecureWipe(storage_ + out, static_cast<size_t>(length_ - out));
    length_ = out;
  }
  return *this;
}

Text Text::MakeLower() {
  if (storage_ != nullptr) {
    for (int32_t i = 0; i < length_; ++i)
      if (storage_[i] >= 'A' && storage_[i] <= 'Z') storage_[i] = static_cast<char>(storage_[i] + 32);
  }
  return *this;
}

int Text::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = FormatV(format, args);
  va_end(args);
  return r;
}

int Text::FormatV(const char* format, va_list args) {
  char* area = static_cast<char*>(HeapBlockAlloc(kFormatArea));
  if (area == nullptr) return 0;
  int n = std::vsnprintf(area, kFormatArea, format != nullptr ? format : "", args);
  if (n < 0) area[0] = 0;
  int ok = Assign(area);
  SecureWipe(area, kFormatArea);
  HeapBlockFree(area);
  return ok;
}

char* Text::GetBuffer(int32_t n) {
  if (n < 0) n = 0;
  char* block = static_cast<char*>(HeapBlockAlloc(static_cast<size_t>(n) + 1));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, static_cast<size_t>(n) + 1);
  if (storage_ != nullptr) {
    int32_t keep = n < length_ ? n : length_;
    std::memcpy(block, storage_, static_cast<size_t>(keep));
  }
  Release();
  storage_ = block;
  capacity_ = n + 1;
  length_ = 0;
  return block;
}

void Text::ReleaseBuffer() {
  if (storage_ == nullptr) return;
  storage_[capacity_ - 1] = 0;  // a writer that filled the block still leaves a text
  Text copy(storage_);
  *this = std::move(copy);
}

Text Text::FromSigned(int32_t v) {
  Text t;
  t.Format("%li", static_cast<long>(v));
  return t;
}

Text Text::ToHex(uint32_t v, int32_t width, int lower) {
  char digits[16];
  std::snprintf(digits, sizeof digits, lower ? "%lx" : "%lX", static_cast<unsigned long>(v));
  Text t;
  int32_t len = static_cast<int32_t>(std::strlen(digits));
  for (int32_t i = len; i < width; ++i) t.AppendChar('0');
  t.Append(digits);
  return t;
}

Text Text::HexDump(const void* bytes, int32_t n, const char* separator, int lower) {
  Text t("");
  if (bytes == nullptr || n <= 0) return t;
  const unsigned char* b = static_cast<const unsigned char*>(bytes);
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) t.Append(separator);
    t.Append(ToHex(b[i], 2, lower));
  }
  return t;
}

Text ToCrlf(const Text& text) {
  const char* s = text.Str();
  int32_t n = text.GetLength();
  int32_t extra = 0;
  for (int32_t i = 0; i < n; ++i)
    if ((s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) || (s[i] == '\r' && s[i + 1] != '\n')) ++extra;
  if (extra == 0) return text;
  Text out;
  char* d = out.GetBuffer(n + extra);
  if (d == nullptr) return text;
  for (int32_t i = 0; i < n; ++i) {
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) *d++ = '\r';
    *d++ = s[i];
    if (s[i] == '\r' && s[i + 1] != '\n') *d++ = '\n';
  }
  *d = 0;
  out.ReleaseBuffer();
  return out;
}

}  // namespace qef
