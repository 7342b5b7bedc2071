// After a run, no copy of the password is left in the process's memory: texts, key
// material, digests and cipher contexts are wiped before they are released.
#include "tests/support/memory_scan_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "container/engine.h"
#include "container/writer.h"
#include "core/heap.h"
#include "fs/fs.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(PasswordHygiene, NoCopyOfThePasswordSurvivesARun) {
  if (test::kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  // The password is built at run time, so that no literal holds it.
  char secret[32];
  for (int i = 0; i < 24; ++i) secret[i] = static_cast<char>('A' + (i * 7) % 26);
  secret[24] = 0;
  unsigned char needle[24];
  std::memcpy(needle, secret, 24);
  test::TempDir dir;
  test::WriteFileBytes(dir.Sub("a.txt"), test::SampleBytes(200000, 6));
  {
    Text password(secret);
    PropertyList content;
    ASSERT_EQ(CollectSources({dir.Sub("a.txt")}, content, nullptr, nullptr), 0);
    for (uint8_t cipher : {uint8_t(2), uint8_t(0)}) {
      PackOptions options;
      options.cipher_id = cipher;
      ASSERT_EQ(WriteContainer(dir.Sub("c.qef"), password, content, options), 0);
      ExtractEngine engine;
      ExtractOptions ahead;
      ahead.decode_threads = 2;
      ASSERT_EQ(ExtractContainer(engine, dir.Sub("c.qef"), password, dir.Sub("t/"), nullptr, &ahead), 0);
    }
  }
  SecureWipe(secret, sizeof secret);
  std::vector<uintptr_t> copies = test::FindInMemory(needle, sizeof needle);
  EXPECT_TRUE(copies.empty()) << copies.size() << " copies, the first at 0x" << std::hex << copies[0];
}

}  // namespace
}  // namespace qef
