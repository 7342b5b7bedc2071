#pragma once
// Text: the one string class of the system. A heap-held, zero-terminated 8-bit string
// (system code page) with a cached length. Its storage is wiped before it is given
// back, because passwords pass through it.
#include <cstdarg>
#include <cstdint>

namespace qef {

class Text {
 public:
  Text() = default;
  Text(const char* text) { Assign(text); }  // NOLINT: texts convert freely
  Text(const Text& other) { Assign(other); }
  Text(Text&& other) noexcept;
  ~Text() { Release(); }
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  Text& operator=(const char* text) {
    Assign(text);
    return *this;
  }

  // Copies the text (null counts as empty) into a block of exactly length + 1 bytes.
  // 1 on success, 0 when no block could be had (the Text is then without storage).
  int Assign(const char* text);
  int Assign(const Text& other);

  // The storage, or nullptr for a Text that was never assigned.
  const char* CStr() const { return storage_; }
  // The storage, or "" for a Text without storage: for callers that need a text.
  const char* Str() const { return storage_ != nullptr ? storage_ : ""; }
  int32_t GetLength() const { return length_; }
  int32_t GetCapacity() const { return capacity_; }
  bool IsEmpty() const { return storage_ == nullptr || length_ == 0; }

  // Joining. 1 on success, 0 when no block could be had (the Text is then unchanged).
  int Append(const char* text);
  int Append(const Text& other) { return Append(other.storage_); }
  int AppendChar(char ch);
  static Text Concat(const Text& a, const char* b);
  static Text Concat(const Text& a, const Text& b) { return Concat(a, b.storage_); }

  // Byte-wise comparison, bytes unsigned, null counts as the empty text.
  static int Compare(const char* a, const char* b);
  int Equals(const char* text) const { return Compare(storage_, text) == 0 ? 1 : 0; }
  int NotEquals(const char* text) const { return Equals(text) ? 0 : 1; }
  int CompareNoCase(const char* text) const;

  // Search; positions are 0-based, -1 means not found.
  char GetAt(int32_t pos) const;
  int32_t Find(char ch, int32_t start = 0) const;
  int32_t FindText(const char* text, int32_t start = 0) const;
  int32_t ReverseFind(char ch) const;

  // Pieces: new Texts, the source is unchanged.
  Text Left(int32_t n) const;
  Text Right(int32_t n) const;
  Text Mid(int32_t pos, int32_t n) const;

  // In-place changes; each also returns a copy of the result.
  Text Replace(char old_ch, char new_ch);
  Text Remove(char ch);
  Text MakeLower();
  // sprintf-style formatting in a work area of 65,536 bytes; longer output is cut.
  int Format(const char* format, ...);
  int FormatV(const char* format, va_list args);

  // Direct buffer access for calls that write text into a caller's buffer: a block of
  // n + 1 bytes holding the start of the old content. Until ReleaseBuffer the length
  // reads 0; ReleaseBuffer takes the content up to the first zero byte.
  char* GetBuffer(int32_t n);
  void ReleaseBuffer();

  // Number texts.
  static Text FromSigned(int32_t v);
  static Text ToHex(uint32_t v, int32_t width, int lower);
  static Text HexDump(const void* bytes, int32_t n, const char* separator, int lower);

 private:
  // Wipes the whole capacity, then frees the block: the only way storage goes back.
  void Release();
  int AssignBytes(const char* bytes, int32_t n);

  char* storage_ = nullptr;
  int32_t length_ = 0;
  int32_t capacity_ = 0;
};

// Every line end ("\n", "\r" or "\r\n") becomes "\r\n", the only one a multi-line
// Windows edit field shows: texts written on other systems end their lines with '\n'
// alone. The text unchanged when no storage can be had for the longer one.
Text ToCrlf(const Text& text);

}  // namespace qef
