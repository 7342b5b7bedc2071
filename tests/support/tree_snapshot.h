#pragma once
// A picture of a folder tree for "nothing changed" and "restored exactly" checks:
// every entry below the root with its kind, content and read-only flag.
#include <map>
#include <string>

#include "core/text.h"

namespace qef::test {

struct Entry {
  bool folder = false;
  bool read_only = false;
  std::string content;
  long long mtime = 0;  // seconds
  bool operator==(const Entry& o) const {
    return folder == o.folder && read_only == o.read_only && content == o.content;
  }
};

using Snapshot = std::map<std::string, Entry>;

// Relative paths use '/'; folders end in '/'. Symbolic links appear as "->target".
Snapshot TakeSnapshot(const Text& root);
std::string Describe(const Snapshot& s);

}  // namespace qef::test
