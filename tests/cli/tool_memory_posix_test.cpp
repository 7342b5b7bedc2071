// The tool's memory: its own handling of a password (its file, the code page
// conversion, the commands that pack and extract) leaves no copy of it once a run is
// over, and a program's container is read and written in pieces, not held whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "container/writer.h"
#include "core/format.h"
#include "core/heap.h"
#include "core/value.h"
#include "fs/fs.h"
#include "sfx/pe_image.h"
#include "tests/sfx/test_image.h"
#include "tests/support/memory_scan_posix.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(ToolPasswordHygiene, NoCopyAfterPackAndExtract) {
  if (test::kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  // Built at run time, so that no literal holds it; written to a password file.
  char secret[32];
  for (int i = 0; i < 26; ++i) secret[i] = static_cast<char>('a' + (i * 11) % 26);
  secret[26] = 0;
  unsigned char needle[26];
  std::memcpy(needle, secret, sizeof needle);
  test::TempDir dir;
  {
    std::string line(secret);
    line += "\n";
    ASSERT_TRUE(test::WriteFileBytes(dir.Sub("password.txt"), line));
    SecureWipe(&line[0], line.size());
  }
  SecureWipe(secret, sizeof secret);
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("a.txt"), std::string(100000, 'a')));
  {
    PackRequest pack;
    pack.sources.push_back(dir.Sub("a.txt"));
    pack.output = dir.Sub("c.qef");
    pack.common.password_file = dir.Sub("password.txt");
    pack.common.quiet = true;
    ASSERT_EQ(RunPack(pack), kExitOk);
    ReadRequest read;
    read.archive = dir.Sub("c.qef");
    read.common = pack.common;
    ASSERT_EQ(RunExtract(read, dir.Sub("out/"), Existing::kReplace), kExitOk);
    ASSERT_EQ(RunTest(read), kExitOk);
  }
  ASSERT_EQ(RemoveFile(dir.Sub("password.txt")), 0);
  std::vector<uintptr_t> copies = test::FindInMemory(needle, sizeof needle);
  EXPECT_TRUE(copies.empty()) << copies.size() << " copies, the first at 0x" << std::hex << copies[0];
}

// Kilobytes of a line of /proc/self/status ("VmHWM:", "VmRSS:"); -1 when not found.
long StatusKilobytes(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long value = -1;
  while (value < 0 && std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, key, std::strlen(key)) == 0) value = std::strtol(line + std::strlen(key), nullptr, 10);
  std::fclose(f);
  return value;
}

// How far the resident memory rises above its level at the start while `run` runs,
// in MiB: the kernel's high-water mark is reset to the current level first.
template <typename Run>
long PeakGrowthMiB(Run run) {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr || std::fputs("5", f) < 0 || std::fclose(f) != 0) return -1;
  long start = StatusKilobytes("VmRSS:");
  run();
  return (StatusKilobytes("VmHWM:") - start) / 1024;
}

TEST(ToolMemory, ProgramsAreReadAndWrittenInPieces) {
  if (test::kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  const size_t kSize = 48u << 20;
  const long kBoundMiB = 16;  // far below the archive's size: held whole, it would show
  test::TempDir dir;
  test::Bytes stub = test::MakeTestImage();
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("stub.exe"), std::string(stub.begin(), stub.end())));
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("pw.txt"), "a long enough password\n"));
  {
    std::string data(kSize, 0);
    uint32_t x = 12345;
    for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    ASSERT_TRUE(test::WriteFileBytes(dir.Sub("big.bin"), data));
  }
  PackRequest pack;
  pack.sources.push_back(dir.Sub("big.bin"));
  pack.output = dir.Sub("p.exe");
  pack.program = true;
  pack.stub = dir.Sub("stub.exe");
  pack.compression = 0;
  pack.common.password_file = dir.Sub("pw.txt");
  pack.common.quiet = true;
  ReadRequest read;
  read.archive = dir.Sub("p.exe");
  read.common = pack.common;

  int status = -1;
  long growth = PeakGrowthMiB([&] { status = RunPack(pack); });
  if (growth < 0) GTEST_SKIP() << "the peak resident size cannot be reset here";
  ASSERT_EQ(status, kExitOk);
  EXPECT_LT(growth, kBoundMiB) << "pack";
  growth = PeakGrowthMiB([&] { status = RunInfo(read.archive, read.common.page); });
  EXPECT_EQ(status, kExitOk);
  EXPECT_LT(growth, kBoundMiB) << "info";
  growth = PeakGrowthMiB([&] { status = RunTest(read); });
  EXPECT_EQ(status, kExitOk);
  EXPECT_LT(growth, kBoundMiB) << "test";
  growth = PeakGrowthMiB([&] { status = RunExtract(read, dir.Sub("out/"), Existing::kReplace); });
  EXPECT_EQ(status, kExitOk);
  EXPECT_LT(growth, kBoundMiB) << "extract";

  // The program written in pieces is the one written whole: same checksum rule.
  std::string program = test::ReadFileBytes(dir.Sub("p.exe"));
  test::Bytes bytes(program.begin(), program.end());
  size_t checksum_at = test::LayoutOf(bytes).optional_header + 64;
  EXPECT_EQ(test::Get32(bytes, checksum_at), PeChecksum(bytes.data(), bytes.size()));
  EXPECT_EQ(FileSize(dir.Sub("out/big.bin")), static_cast<int64_t>(kSize));
}

// Whatever an archive states, the memory a run takes stays bounded: an item whose name
// is far longer than any system can create (and compresses to almost nothing) is
// refused with 101 before it is read, by every command that reads items.
TEST(ToolMemory, AnItemsNameCannotTakeTheMemoryItStates) {
  if (test::kUnderAddressSanitizer) GTEST_SKIP() << "not meaningful under AddressSanitizer";
  const long kBoundMiB = 16;
  test::TempDir dir;
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("pw.txt"), "a long enough password\n"));
  {
    PropertyList content;
    Value v;
    v.SetType(kFsItem);
    v.GetFsItem()->PutByte(kItemKind, kKindFolder, 1);
    v.GetFsItem()->PutString(kItemName, std::string(32u << 20, 'n').c_str(), 1);
    ASSERT_TRUE(content.Append(v));
    ASSERT_EQ(WriteContainer(dir.Sub("long.qef"), Text("a long enough password"), content, PackOptions()), 0);
  }
  ReadRequest read;
  read.archive = dir.Sub("long.qef");
  read.common.password_file = dir.Sub("pw.txt");
  read.common.quiet = true;
  struct Case {
    const char* what;
    std::function<int()> run;
  } cases[] = {
      {"test", [&] { return RunTest(read); }},
      {"list", [&] { return RunList(read, false); }},
      {"extract", [&] { return RunExtract(read, dir.Sub("out/"), Existing::kReplace); }},
  };
  for (const Case& c : cases) {
    int status = -1;
    long growth = PeakGrowthMiB([&] { status = c.run(); });
    if (growth < 0) GTEST_SKIP() << "the peak resident size cannot be reset here";
    EXPECT_EQ(status, kExitFailed) << c.what;
    EXPECT_LT(growth, kBoundMiB) << c.what;
  }
}

}  // namespace
}  // namespace qef
