#pragma once
// A picture of a folder tree for "nothing changed" and "restored exactly" checks:
// every entry below the root with its kind, content, read-only flag and modification
// time.
#include <map>
#include <ostream>
#include <string>

#include "core/text.h"
#include "fs/fs.h"

namespace qef::test {

struct Entry {
  bool folder = false;
  bool read_only = false;
  std::string content;
  // Modification time in 100 ns units (the archive's resolution), as fine as the file
  // system keeps it; a folder's only in snapshots taken with folder times.
  long long mtime = 0;
  bool operator==(const Entry& o) const {
    return folder == o.folder && read_only == o.read_only && content == o.content && mtime == o.mtime;
  }
};

using Snapshot = std::map<std::string, Entry>;

// A folder's time changes whenever an entry in it is made or removed, and extraction
// restores the times of files only: so folder times are left out unless asked for.
enum class FolderTimes { kLeftOut, kCompared };

// Relative paths use '/'; folders end in '/'. Symbolic links appear as "->target".
Snapshot TakeSnapshot(const Text& root, FolderTimes folder_times = FolderTimes::kLeftOut);
std::string Describe(const Snapshot& s);
void PrintTo(const Entry& e, std::ostream* out);

// Deep trees, below the length the C library's file calls reach on Windows.
// `count` folder names of `length` characters each, joined with '/' and ending in one.
std::string Chain(int count, size_t length, const std::string& stem);
// Writes a file, and the folders above it, through the file layer, which reaches any
// depth the system allows; `info` is applied as extraction applies it.
void WriteDeep(const Text& path, const std::string& bytes, const FileInfo& info);

}  // namespace qef::test
