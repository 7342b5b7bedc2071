#include "tests/support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace qef::test {

namespace fsys = std::filesystem;

namespace {

std::string Internal(const fsys::path& p) {
  std::string s = p.string();
  for (char& c : s)
    if (c == '\\') c = '/';
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  fsys::path base = fsys::temp_directory_path();
  for (;;) {
    std::ostringstream name;
    name << "qef-test-" << std::hex << rd() << "-" << counter++;
    fsys::path p = base / name.str();
    std::error_code ec;
    if (fsys::create_directory(p, ec)) {
      path_ = Internal(p).c_str();
      return;
    }
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

bool WriteFileBytes(const Text& path, const std::string& bytes) {
  std::ofstream out(path.Str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadFileBytes(const Text& path) {
  std::ifstream in(path.Str(), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void RemoveTree(const Text& path) {
  std::error_code ec;
  fsys::path root(path.Str());
  if (!fsys::exists(fsys::symlink_status(root, ec))) return;
  for (auto it = fsys::recursive_directory_iterator(root, ec); !ec && it != fsys::recursive_directory_iterator();
       it.increment(ec)) {
    fsys::permissions(it->path(), fsys::perms::owner_all, fsys::perm_options::add | fsys::perm_options::nofollow, ec);
  }
  fsys::permissions(root, fsys::perms::owner_all, fsys::perm_options::add, ec);
  fsys::remove_all(root, ec);
}

}  // namespace qef::test
