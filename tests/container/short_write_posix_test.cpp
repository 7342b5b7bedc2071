// A full disk, made by a file size limit: the run ends with 205 and is undone. Few
// descriptors, made by a limit of open files: a deep path is still written, and a
// folder made that cannot be opened is undone with the rest.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "container/engine.h"
#include "container/writer.h"
#include "core/format.h"
#include "core/result.h"
#include "fs/fs.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

// Lowers the file size limit for one scope; writes beyond it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit l = old_;
    l.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  struct rlimit old_;
};

TEST(ShortWrite, ADiskThatFillsUpEndsTheRunWith205) {
  test::TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/")), 0);
  // Written in name order, each larger than the one before, so that a file size limit
  // just below a file's size fails that file's write (and no earlier one): a limit per
  // write call makes every call the failing one in turn.
  test::WriteFileBytes(dir.Sub("src/a.txt"), "ten bytes!");
  test::WriteFileBytes(dir.Sub("src/b.bin"), test::SampleBytes(100000, 4));
  test::WriteFileBytes(dir.Sub("src/c.bin"), test::SampleBytes(2621440, 5));
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src/")}, content, nullptr, nullptr), 0);
  ASSERT_EQ(WriteContainer(dir.Sub("c.qef"), Text("pw"), content, PackOptions()), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  test::WriteFileBytes(dir.Sub("t/placed.txt"), "placed");
  test::Snapshot before = test::TakeSnapshot(dir.Sub("t/"));
  const rlim_t kMiB = 1 << 20;
  for (rlim_t limit : {rlim_t(0), rlim_t(9), rlim_t(99999), kMiB - 1, 2 * kMiB - 1, rlim_t(2621439)}) {
    int32_t r;
    {
      FileSizeLimit full(limit);
      ExtractEngine engine;
      r = ExtractContainer(engine, dir.Sub("c.qef"), Text("pw"), dir.Sub("t/"), nullptr);
    }
    EXPECT_EQ(r, kShortWrite) << "limit " << limit;
    EXPECT_EQ(test::TakeSnapshot(dir.Sub("t/")), before) << "limit " << limit;
  }
  // The writer leaves no partial output either.
  {
    FileSizeLimit full(1000);
    EXPECT_EQ(WriteContainer(dir.Sub("out.qef"), Text("pw"), content, PackOptions()), kShortWrite);
  }
  for (const auto& entry : test::TakeSnapshot(dir.Path())) {
    EXPECT_NE(entry.first.rfind("out.qef", 0), 0u) << entry.first;
    EXPECT_EQ(entry.first.find("~qef-"), std::string::npos) << entry.first;
  }
}

// Lowers the limit of open descriptors for one scope so that `spare` more can be
// opened. Descriptors are numbered from the lowest free one, and the limit is on their
// numbers: the gaps below the highest one open are filled first.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t spare) {
    getrlimit(RLIMIT_NOFILE, &old_);
    int highest = 0;
    DIR* fds = opendir("/proc/self/fd");
    for (dirent* e = fds != nullptr ? readdir(fds) : nullptr; e != nullptr; e = readdir(fds)) {
      int fd = std::atoi(e->d_name);
      if (e->d_name[0] != '.' && fd != dirfd(fds) && fd > highest) highest = fd;
    }
    if (fds != nullptr) closedir(fds);
    for (int fd = open("/dev/null", O_RDONLY); fd >= 0; fd = open("/dev/null", O_RDONLY)) {
      fillers_.push_back(fd);
      if (fd >= highest) break;
    }
    struct rlimit l = old_;
    l.rlim_cur = static_cast<rlim_t>(fillers_.empty() ? highest : fillers_.back()) + 1 + spare;
    usable_ = !fillers_.empty() && setrlimit(RLIMIT_NOFILE, &l) == 0;
  }
  ~DescriptorLimit() {
    setrlimit(RLIMIT_NOFILE, &old_);
    for (int fd : fillers_) close(fd);
  }
  bool Usable() const { return usable_; }

 private:
  struct rlimit old_;
  std::vector<int> fillers_;
  bool usable_ = false;
};

TEST(ShortWrite, FewDescriptorsLeaveNoFolderBehind) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Sub("data.txt"), "deep");
  std::string above;  // 1,099 folders, and the last one the folder item's own name
  for (int i = 0; i < 1099; ++i) above += "d\\";
  std::string deep = above + "d\\";
  auto pack = [&](const char* extra) {
    PropertyList content;
    auto add = [&](uint8_t kind, const char* folder, const char* name) {
      Value v;
      v.SetType(kFsItem);
      v.GetFsItem()->PutByte(kItemKind, kind, 1);
      v.GetFsItem()->PutString(kItemFolder, folder, 1);
      v.GetFsItem()->PutString(kItemName, name, 1);
      v.GetFsItem()->SetSourcePath(dir.Sub("data.txt").Str());
      content.Append(v);
    };
    add(kKindFolder, above.c_str(), "d");
    add(kKindFile, deep.c_str(), "last.txt");
    if (extra != nullptr) add(kKindFile, "", extra);
    return WriteContainer(dir.Sub("c.qef"), Text("pw"), content, PackOptions());
  };
  struct Case {
    const char* what;
    const char* extra;  // a last item, refused: the run is undone
    rlim_t spare;
    int32_t code;
  } cases[] = {
      {"a path deeper than descriptors", nullptr, 256, 0},
      {"undone", "../escape.txt", 256, kUnsafeName},
      // The target, the container and one folder: the next folder is made but cannot
      // be opened, and the file inside cannot be written.
      {"made, not opened", nullptr, 3, kCannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(pack(c.extra), 0);
    ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
    int32_t r;
    {
      DescriptorLimit few(c.spare);
      if (!few.Usable()) GTEST_SKIP() << "the descriptors in use are numbered too high";
      ExtractEngine engine;
      r = ExtractContainer(engine, dir.Sub("c.qef"), Text("pw"), dir.Sub("t/"), nullptr);
    }
    EXPECT_EQ(r, c.code);
    // The deepest file, or nothing at all (a snapshot of such a path would take long).
    std::string last = dir.Sub("t/").Str();
    for (int i = 0; i < 1100; ++i) last += "d/";
    if (r == 0) {
      EXPECT_TRUE(FileExists(Text((last + "last.txt").c_str())));
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(dir.Sub("t/").Str()));
    }
    test::RemoveTree(dir.Sub("t/"));
  }
}

}  // namespace
}  // namespace qef
