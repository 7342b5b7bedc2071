#include "tests/support/tree_snapshot.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qef::test {

namespace fsys = std::filesystem;

Snapshot TakeSnapshot(const Text& root) {
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
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      e.content = s.str();
      e.mtime = std::chrono::duration_cast<std::chrono::seconds>(
                    fsys::last_write_time(it->path(), ec).time_since_epoch())
                    .count();
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
    out << "\n";
  }
  return out.str();
}

}  // namespace qef::test
