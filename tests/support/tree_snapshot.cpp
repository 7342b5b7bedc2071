#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fs/fs.h"
#include "fs/path.h"

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

// Windows: the tree is walked with the file layer's own search and read through its
// streams, which reach below MAX_PATH; the C library's directory functions stop there
// and go on in the current folder instead. Links show as "->".
void WalkLongPaths(const Text& root, const std::string& rel, FolderTimes folder_times, Snapshot& snap) {
  Text folder = Text::Concat(root, rel.c_str());
  FolderSearch search;
  if (!search.Open(folder)) return;
  Text name;
  bool is_folder = false, is_link = false;
  while (search.Next(name, is_folder, is_link)) {
    std::string path = rel + name.Str();
    Text full = Text::Concat(folder, name);
    Entry e;
    FileInfo info;
    if (is_link) {
      e.content = "->";
    } else if (is_folder) {
      e.folder = true;
      path += "/";
      CollectFileInformation(Text::Concat(full, "/"), info);
      if (folder_times == FolderTimes::kCompared) e.mtime = ModificationTime(fsys::path(full.Str()));
      WalkLongPaths(root, path, folder_times, snap);
    } else {
      CollectFileInformation(full, info);
      e.mtime = info.has_written ? static_cast<long long>(info.written) : -1;
      if (std::FILE* f = OpenFileStream(full, false)) {
        std::string buffer(65536, '\0');  // not on the stack: the walk goes 60 levels deep and more
        for (size_t n; (n = std::fread(&buffer[0], 1, buffer.size(), f)) > 0;) e.content.append(buffer.data(), n);
        std::fclose(f);
      }
    }
    e.read_only = (info.attributes & kAttrReadOnly) != 0;
    snap[path] = e;
  }
}

}  // namespace

Snapshot TakeSnapshot(const Text& root, FolderTimes folder_times) {
  Snapshot snap;
  if (kNativeStyle == PathStyle::kWindows) {
    if (FolderExists(AddTrailingSeparator(root))) WalkLongPaths(AddTrailingSeparator(root), "", folder_times, snap);
    return snap;
  }
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

std::string Chain(int count, size_t length, const std::string& stem) {
  std::string chain;
  for (int i = 0; i < count; ++i) {
    std::string name = stem + std::to_string(i);
    name.resize(length, 'x');
    chain += name + "/";
  }
  return chain;
}

void WriteDeep(const Text& path, const std::string& bytes, const FileInfo& info) {
  ASSERT_EQ(CreateFolder(FolderOf(path)), 0) << path.Str();
  NewFile file;
  bool exists = false;
  ASSERT_EQ(file.Create(path, exists), 0) << path.Str();
  ASSERT_EQ(file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  ASSERT_EQ(file.Finish(info), 0);
}

}  // namespace qef::test
