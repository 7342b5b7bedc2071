#include "tests/support/tree_snapshot.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qef::test {

namespace fsys = std::filesystem;

namespace {

long long ModificationTime(const fsys::path& p) {
  std::error_code ec;
  using Ticks = std::chrono::duration<long long, std::ratio<1, 10000000>>;
  // Rounded down, as the archive stores a time (the clock's epoch is a whole second).
  Ticks ticks = std::chrono::floor<Ticks>(fsys::last_write_time(p, ec).time_since_epoch());
  return ec ? -1 : ticks.count();
}

}  // namespace

Snapshot TakeSnapshot(const Text& root, FolderTimes folder_times) {
  Snapshot snap;
  std::error_code ec;
  fsys::path base(root.Str());
  if (!fsys::exists(base, ec)) return snap;
  for (auto it = fsys::recursive_directory_iterator(base, ec); !ec && it != fsys::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = fsys::relative(it->path(), base, ec).generic_string();
    Entry e;
    auto st = it->symlink_status(ec);
    if (fsys::is_symlink(st)) {
      e.content = "->" + fsys::read_symlink(it->path(), ec).generic_string();
      it.disable_recursion_pending();
    } else if (fsys::is_directory(st)) {
      e.folder = true;
      rel += "/";
      if (folder_times == FolderTimes::kCompared) e.mtime = ModificationTime(it->path());
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      e.content = s.str();
      e.mtime = ModificationTime(it->path());
    }
    e.read_only = (st.permissions() & fsys::perms::owner_write) == fsys::perms::none;
    snap[rel] = e;
  }
  return snap;
}

std::string Describe(const Snapshot& s) {
  std::ostringstream out;
  for (const auto& [path, e] : s) {
    out << path << (e.read_only ? " [ro]" : "");
    if (!e.folder) out << " (" << e.content.size() << " bytes)";
    if (e.mtime != 0) out << " @" << e.mtime;
    out << "\n";
  }
  return out.str();
}

void PrintTo(const Entry& e, std::ostream* out) {
  *out << (e.folder ? "folder" : "file") << (e.read_only ? " [ro]" : "");
  if (!e.folder) *out << " (" << e.content.size() << " bytes)";
  *out << " @" << e.mtime;
}

}  // namespace qef::test
