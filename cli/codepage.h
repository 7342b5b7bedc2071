#pragma once
// Texts for the archive (info, link, disclaimer, password) are typed as UTF-8 and
// stored in a Windows code page, which the stub shows as they are. The conversion is
// exact: a character the code page cannot hold is refused and named, never replaced
// by a look-alike. codepage.cpp holds the rules; codepage_posix.cpp (iconv) and
// codepage_win32.cpp (the system's converters) the one call each way.
#include <cstddef>
#include <cstdint>

#include "core/text.h"

namespace qef {

const uint32_t kDefaultCodePage = 1252;

// A Windows code page by number, or raw: bytes pass unchanged both ways.
struct CodePage {
  bool raw = false;
  uint32_t number = kDefaultCodePage;
};

// "raw", or a code page number from 1 to 65535. 0, or kBadArgument with a message.
int32_t ParseCodePage(const char* text, CodePage& page, Text& message);

// UTF-8 to the code page. kBadArgument for text that is not UTF-8 and for the first
// character the code page cannot hold ("U+20AC (€) cannot be written in code page
// 437"); kUnsupported for a code page this system cannot convert to. For a secret
// (a password) the message names only the character's position, never what is there.
int32_t FromUtf8(const Text& utf8, const CodePage& page, Text& out, Text& message, bool secret = false);
// The code page to UTF-8. kBadArgument for bytes that are not text in the code page;
// kUnsupported as above.
int32_t ToUtf8(const Text& bytes, const CodePage& page, Text& out, Text& message);

// The system's converter on a whole text (no zero bytes inside; code pages whose
// text may hold zero bytes are not offered). `out` is replaced only on success;
// working buffers are wiped, because passwords pass through. 0; kUnsupported when
// the system does not know the code page; kBadArgument when some character does
// not convert.
int32_t SystemFromUtf8(const char* utf8, size_t n, uint32_t code_page, Text& out);
int32_t SystemToUtf8(const char* bytes, size_t n, uint32_t code_page, Text& out);

}  // namespace qef
