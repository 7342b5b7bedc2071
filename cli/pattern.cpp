#include "cli/pattern.h"

#include <cstring>
#include <string>

namespace qef {

namespace {

// The length in bytes of the UTF-8 character at `s` (1 for a stray byte).
int CharLength(const char* s) {
  unsigned char c = static_cast<unsigned char>(*s);
  int n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  for (int i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  return n;
}

// Compares the UTF-8 characters at `a` and `b` as numbers, by their bytes (equal
// lengths compare as code points do).
int CompareChars(const char* a, int a_length, const char* b, int b_length) {
  if (a_length != b_length) return a_length - b_length;
  return std::memcmp(a, b, static_cast<size_t>(a_length));
}

// A set at `p` (just after '['), matched against the character at `t`: true with
// `p` moved past the closing ']' and `matched` set; false when the set is not closed
// (the '[' is then an ordinary character).
bool MatchSet(const char*& p, const char* t, int t_length, bool& matched) {
  const char* s = p;
  bool negated = *s == '!' || *s == '^';
  if (negated) ++s;
  bool found = false;
  bool first = true;
  while (*s != 0 && (*s != ']' || first)) {
    first = false;
    if (*s == '\\' && s[1] != 0) ++s;
    const char* low = s;
    int low_length = CharLength(s);
    s += low_length;
    const char* high = low;
    int high_length = low_length;
    if (*s == '-' && s[1] != 0 && s[1] != ']') {
      ++s;
      if (*s == '\\' && s[1] != 0) ++s;
      high = s;
      high_length = CharLength(s);
      s += high_length;
    }
    if (CompareChars(low, low_length, t, t_length) <= 0 && CompareChars(t, t_length, high, high_length) <= 0)
      found = true;
  }
  if (*s != ']') return false;
  p = s + 1;
  matched = found != negated;
  return true;
}

// The path without its last component; empty when it has one component.
Text Parent(const Text& path) {
  int32_t slash = path.ReverseFind('/');
  return slash <= 0 ? Text() : path.Left(slash);
}

Text WithoutTrailingSlash(const Text& pattern) {
  Text p = pattern;
  while (p.GetLength() > 1 && p.GetAt(p.GetLength() - 1) == '/') p = p.Left(p.GetLength() - 1);
  return p;
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* text) {
  // The classic single-backtrack walk: on a mismatch after a '*', the '*' takes one
  // more character and the rest is tried again.
  const char* p = pattern;
  const char* t = text;
  const char* star = nullptr;
  const char* star_text = nullptr;
  while (*t != 0) {
    int t_length = CharLength(t);
    bool matched = false;
    const char* next = p;
    if (*p == '*') {
      star = ++p;
      star_text = t;
      continue;
    }
    if (*p == '?') {
      matched = true;
      next = p + 1;
    } else if (*p == '[') {
      next = p + 1;
      if (!MatchSet(next, t, t_length, matched)) {
        matched = *t == '[';
        next = p + 1;
      }
    } else if (*p != 0) {
      const char* literal = *p == '\\' && p[1] != 0 ? p + 1 : p;
      int length = CharLength(literal);
      matched = CompareChars(literal, length, t, t_length) == 0;
      next = literal + length;
    }
    if (matched) {
      p = next;
      t += t_length;
    } else if (star != nullptr) {
      p = star;
      star_text += CharLength(star_text);
      t = star_text;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

bool ChoosesPath(const Text& pattern, const Text& path) {
  Text p = WithoutTrailingSlash(pattern);
  for (Text at = path; !at.IsEmpty(); at = Parent(at))
    if (WildcardMatch(p.Str(), at.Str())) return true;
  return false;
}

bool ExcludesPath(const Text& pattern, const Text& path) {
  Text p = WithoutTrailingSlash(pattern);
  if (ChoosesPath(p, path)) return true;
  int32_t first = path.Find('/');
  if (first >= 0 && ChoosesPath(p, path.Right(path.GetLength() - first - 1))) return true;
  if (p.Find('/') >= 0) return false;
  for (Text at = path; !at.IsEmpty(); at = Parent(at)) {
    int32_t slash = at.ReverseFind('/');
    Text name = slash < 0 ? at : at.Right(at.GetLength() - slash - 1);
    if (WildcardMatch(p.Str(), name.Str())) return true;
  }
  return false;
}

std::vector<Text> PatternLines(const Text& text) {
  std::vector<Text> lines;
  const char* s = text.Str();
  while (*s != 0) {
    const char* end = std::strchr(s, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - s) : std::strlen(s);
    size_t kept = length > 0 && s[length - 1] == '\r' ? length - 1 : length;
    if (kept > 0) lines.push_back(Text(std::string(s, kept).c_str()));
    s += length;
    if (*s == '\n') ++s;
  }
  return lines;
}

}  // namespace qef
