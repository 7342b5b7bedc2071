// A full disk, made by a file size limit: the run ends with 205 and is undone.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "container/engine.h"
#include "container/writer.h"
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

}  // namespace
}  // namespace qef
