#pragma once
// Shell-style patterns that choose items by path, as users of tar write them: '*'
// matches any run of characters ('/' too), '?' one character, "[...]" one of a set
// ("[!...]" or "[^...]" none of it, "a-z" a range), '\' takes the next character as
// it is. Paths are '/'-separated, without a trailing '/' for folders.
#include <vector>

#include "core/text.h"

namespace qef {

// The whole of `text` matches `pattern`; a UTF-8 character counts as one for '?' and
// for a set.
bool WildcardMatch(const char* pattern, const char* text);

// Choosing what to extract, list or test: the path itself matches, or a folder above
// it does (a folder takes what is inside it). A trailing '/' on the pattern is ignored.
bool ChoosesPath(const Text& pattern, const Text& path);

// Choosing what to leave out when packing, `path` as stored (its first component the
// source's own name): chosen as above, also with the source's name left off, and a
// pattern without '/' also matches any one component ("*.o", "build").
bool ExcludesPath(const Text& pattern, const Text& path);

// The patterns in a file's text, one a line: line ends ("\n", "\r\n") and empty lines
// are dropped.
std::vector<Text> PatternLines(const Text& text);

}  // namespace qef
