#include "cli/codepage.h"

#include <cstdlib>
#include <cstring>

#include "core/result.h"

namespace qef {

namespace {

const uint32_t kUtf8CodePage = 65001;

// Length of the UTF-8 sequence at s[0..n), or 0 when it is not a well-formed one
// (overlong forms, surrogates and values past U+10FFFF are not).
size_t SequenceLength(const unsigned char* s, size_t n, uint32_t& code_point) {
  unsigned char c = s[0];
  size_t len;
  uint32_t min;
  if (c < 0x80) {
    code_point = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, min = 0x80, code_point = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, min = 0x800, code_point = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, code_point = c & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    code_point = code_point << 6 | (s[i] & 0x3F);
  }
  if (code_point < min || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return 0;
  return len;
}

// kOk, or kBadArgument naming the first byte that does not begin a valid sequence
// (for a secret, only where it is: its character position, counted from 1).
int32_t CheckUtf8(const Text& text, Text& message, bool secret = false) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.Str());
  size_t n = static_cast<size_t>(text.GetLength());
  for (size_t i = 0, character = 1; i < n; ++character) {
    uint32_t cp = 0;
    size_t len = SequenceLength(s + i, n - i, cp);
    if (len == 0) {
      if (secret)
        message.Format("the text is not valid UTF-8 at character %lu", static_cast<unsigned long>(character));
      else
        message.Format("the text is not valid UTF-8 (byte 0x%02X at position %lu)", s[i],
                       static_cast<unsigned long>(i));
      return kBadArgument;
    }
    i += len;
  }
  return kOk;
}

// UTF-16 and UTF-32 text holds zero bytes, which a Text cannot carry and the stub
// would cut at.
bool HoldsZeroBytes(uint32_t number) { return number == 1200 || number == 1201 || number == 12000 || number == 12001; }

int32_t Unsupported(uint32_t number, Text& message) {
  message.Format("code page %lu cannot be converted here", static_cast<unsigned long>(number));
  return kUnsupported;
}

}  // namespace

int32_t ParseCodePage(const char* text, CodePage& page, Text& message) {
  if (text != nullptr && std::strcmp(text, "raw") == 0) {
    page.raw = true;
    page.number = 0;
    return kOk;
  }
  char* end = nullptr;
  unsigned long v = text != nullptr && *text >= '0' && *text <= '9' ? std::strtoul(text, &end, 10) : 0;
  if (end == nullptr || *end != 0 || v < 1 || v > 65535) {
    message.Format("'%s' is not a code page: give a number such as 1252, or raw", text != nullptr ? text : "");
    return kBadArgument;
  }
  page.raw = false;
  page.number = static_cast<uint32_t>(v);
  return kOk;
}

// The whole text goes through the system in one call; only when that fails is it
// walked character by character, to name the first one that does not convert.
int32_t FromUtf8(const Text& utf8, const CodePage& page, Text& out, Text& message, bool secret) {
  if (page.raw) return out.Assign(utf8.Str()) ? kOk : kOutOfMemory;
  int32_t r = CheckUtf8(utf8, message, secret);
  if (r != kOk) return r;
  if (page.number == kUtf8CodePage) return out.Assign(utf8.Str()) ? kOk : kOutOfMemory;
  if (HoldsZeroBytes(page.number)) return Unsupported(page.number, message);
  const char* s = utf8.Str();
  size_t n = static_cast<size_t>(utf8.GetLength());
  r = SystemFromUtf8(s, n, page.number, out);
  if (r == kUnsupported) return Unsupported(page.number, message);
  if (r != kBadArgument) return r;
  Text one;
  for (size_t i = 0, position = 1; i < n; ++position) {
    uint32_t cp = 0;
    size_t len = SequenceLength(reinterpret_cast<const unsigned char*>(s + i), n - i, cp);
    if (SystemFromUtf8(s + i, len, page.number, one) != kOk) {
      if (secret) {
        message.Format("character %lu cannot be written in code page %lu", static_cast<unsigned long>(position),
                       static_cast<unsigned long>(page.number));
        return kBadArgument;
      }
      Text character;
      char* c = character.GetBuffer(static_cast<int32_t>(len));
      if (c != nullptr) {
        std::memcpy(c, s + i, len);
        character.ReleaseBuffer();
      }
      message.Format("U+%04lX (%s) cannot be written in code page %lu", static_cast<unsigned long>(cp), character.Str(),
                     static_cast<unsigned long>(page.number));
      return kBadArgument;
    }
    i += len;
  }
  message.Format("the text cannot be written in code page %lu", static_cast<unsigned long>(page.number));
  return kBadArgument;
}

int32_t ToUtf8(const Text& bytes, const CodePage& page, Text& out, Text& message) {
  if (page.raw) return out.Assign(bytes.Str()) ? kOk : kOutOfMemory;
  if (page.number == kUtf8CodePage) {
    int32_t r = CheckUtf8(bytes, message);
    if (r != kOk) return r;
    return out.Assign(bytes.Str()) ? kOk : kOutOfMemory;
  }
  if (HoldsZeroBytes(page.number)) return Unsupported(page.number, message);
  int32_t r = SystemToUtf8(bytes.Str(), static_cast<size_t>(bytes.GetLength()), page.number, out);
  if (r == kUnsupported) return Unsupported(page.number, message);
  if (r == kBadArgument)
    message.Format("the text holds bytes that are not characters of code page %lu",
                   static_cast<unsigned long>(page.number));
  return r;
}

}  // namespace qef
