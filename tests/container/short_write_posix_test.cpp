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
  test::WriteFileBytes(dir.Sub("src/small.txt"), "small");
  test::WriteFileBytes(dir.Sub("src/zbig.bin"), test::SampleBytes(3000000, 5));
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src/")}, content, nullptr, nullptr), 0);
  ASSERT_EQ(WriteContainer(dir.Sub("c.qef"), Text("pw"), content, PackOptions()), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  test::WriteFileBytes(dir.Sub("t/placed.txt"), "placed");
  test::Snapshot before = test::TakeSnapshot(dir.Sub("t/"));
  for (rlim_t limit : {rlim_t(0), rlim_t(4), rlim_t(100000), rlim_t(2999999)}) {
    int32_t r;
    {
      FileSizeLimit full(limit);
      ExtractEngine engine;
      r = ExtractContainer(engine, dir.Sub("c.qef"), Text("pw"), dir.Sub("t/"), nullptr, nullptr, nullptr);
    }
    EXPECT_EQ(r, kShortWrite) << "limit " << limit;
    EXPECT_EQ(test::TakeSnapshot(dir.Sub("t/")), before) << "limit " << limit;
  }
  // The writer leaves no partial output either.
  {
    FileSizeLimit full(1000);
    EXPECT_EQ(WriteContainer(dir.Sub("out.qef"), Text("pw"), content, PackOptions()), kShortWrite);
  }
  for (const auto& entry : test::TakeSnapshot(dir.Path()))
    EXPECT_NE(entry.first.rfind("out.qef", 0), 0u) << entry.first;
}

}  // namespace
}  // namespace qef
