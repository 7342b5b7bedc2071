// Damage, collisions and odd names: no input loses data, leaves output behind or
// escapes the target folder.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "container/engine.h"
#include "container/writer.h"
#include "core/result.h"
#include "core/thread.h"
#include "crypto/hash.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/container/fixture.h"
#include "tests/fixtures/hostile_names.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

using test::Snapshot;
using test::TakeSnapshot;
using test::TempDir;
using test::WriteFileBytes;

const bool kWindows = kNativeStyle == PathStyle::kWindows;

int32_t Extract(const Text& container, const char* password, const Text& target) {
  ExtractEngine engine;
  return ExtractContainer(engine, container, Text(password), target, nullptr);
}

// The codes a damaged container may end with.
const std::set<int32_t> kDocumented = {kFailed,     kOutOfMemory,    kShortRead,     kUnsafeName, kBadMagic,
                                       kBadChunk,   kBadCompression, kCipherRefused, kBadVector,  kWrongPassword,
                                       kCannotOpen, kUnsupported,    kBadChecksum};

TEST(Reliability, RandomDamageGivesADocumentedCodeAndLeavesNothing) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/s/")), 0);
  WriteFileBytes(dir.Sub("src/a.txt"), test::SampleBytes(3000, 1));
  WriteFileBytes(dir.Sub("src/s/b.bin"), test::SampleBytes(70000, 2));
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src/")}, content, nullptr, nullptr), 0);
  std::vector<std::string> seeds;
  for (auto [cipher, setting] : {std::pair<uint8_t, uint8_t>{2, 1}, {0, 2}, {2, 0}}) {
    PackOptions options;
    options.cipher_id = cipher;
    options.compression = setting;
    ASSERT_EQ(WriteContainer(dir.Sub("seed.qef"), Text("pw"), content, options), 0);
    seeds.push_back(test::ReadFileBytes(dir.Sub("seed.qef")));
  }
  ASSERT_EQ(CreateFolder(dir.Sub("area/t/")), 0);
  WriteFileBytes(dir.Sub("area/t/placed.txt"), "placed before");
  Snapshot before = TakeSnapshot(dir.Sub("area/"));
  std::mt19937 random(20261210);
  std::map<int32_t, int> seen;
  for (int round = 0; round < 1000; ++round) {
    std::string damaged = seeds[round % seeds.size()];
    // About 1% of the bytes, at least one.
    size_t flips = damaged.size() / 100 + 1;
    for (size_t i = 0; i < flips; ++i) {
      char& c = damaged[random() % damaged.size()];
      c = static_cast<char>(c ^ (1 + random() % 255));
    }
    WriteFileBytes(dir.Sub("d.qef"), damaged);
    int32_t r = Extract(dir.Sub("d.qef"), "pw", dir.Sub("area/t/"));
    ++seen[r];
    if (r == 0) {
      // Every item is checked against its checksum, so what was written is exactly the
      // source, unless the damage also took the plain header's word that there are
      // checksums (then the run only has zlib's checks). It is removed before the next
      // round.
      const std::string& seed = seeds[round % seeds.size()];
      size_t header = 8 + (static_cast<unsigned char>(seed[4]) | static_cast<unsigned char>(seed[5]) << 8);
      if (damaged.compare(0, header, seed, 0, header) == 0) {
        EXPECT_EQ(test::ReadFileBytes(dir.Sub("area/t/src/a.txt")), test::SampleBytes(3000, 1)) << "round " << round;
        EXPECT_EQ(test::ReadFileBytes(dir.Sub("area/t/src/s/b.bin")), test::SampleBytes(70000, 2)) << "round " << round;
      }
      for (const auto& [path, entry] : TakeSnapshot(dir.Sub("area/"))) {
        if (before.count(path) == 0 && path.rfind("t/", 0) == 0)
          test::RemoveTree(Text::Concat(dir.Sub("area/"), path.c_str()));
      }
    } else {
      EXPECT_EQ(kDocumented.count(r), 1u) << "round " << round << ": code " << r;
    }
    ASSERT_EQ(TakeSnapshot(dir.Sub("area/")), before) << "round " << round << ": code " << r;
  }
  for (auto [code, n] : seen) std::printf("code %d: %d times\n", static_cast<int>(code), n);
}

TEST(Reliability, APasswordThatPassesTheCheckStillWritesNothing) {
  // Two bytes of check value: a wrong password that passes it is found quickly.
  uint16_t right = PasswordCheckValue(Text("the right password"));
  Text wrong;
  for (uint32_t i = 0;; ++i) {
    wrong.Format("wrong %lu", static_cast<unsigned long>(i));
    if (PasswordCheckValue(wrong) == right) break;
  }
  TempDir dir;
  WriteFileBytes(dir.Sub("a.txt"), test::SampleBytes(100000, 3));
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("a.txt")}, content, nullptr, nullptr), 0);
  for (uint8_t cipher : {uint8_t(2), uint8_t(0)}) {
    PackOptions options;
    options.cipher_id = cipher;
    ASSERT_EQ(WriteContainer(dir.Sub("c.qef"), Text("the right password"), content, options), 0);
    int32_t r = Extract(dir.Sub("c.qef"), wrong.Str(), dir.Sub("t/"));
    EXPECT_NE(r, 0) << wrong.Str();
    EXPECT_EQ(kDocumented.count(r), 1u) << r;
    EXPECT_FALSE(FolderExists(dir.Sub("t/"))) << "the target this run made is gone again";
  }
}

// Records that hold records, chained some 20,000 deep (about 200 KB), each a call
// deeper when read: every kind of chain ends with a code, on a thread with a small
// stack too, and whatever the run made is gone again.
TEST(Reliability, DeepNestingEndsWithACodeAndLeavesNothing) {
  auto header = [](uint16_t tag, uint32_t count) {
    std::string h{static_cast<char>(tag & 0xFF), static_cast<char>(tag >> 8), 0, 0, 0, 0, 0, 0};
    if (tag == kList) h += std::string{static_cast<char>(count), 0, 0, 0};
    return h;
  };
  const std::string content = header(kList, 1);
  const std::string item = header(kFsItem, 0), list = header(kList, 1);
  // An item whose properties are a file item that was already written, to be undone.
  Value first;
  first.SetType(kFsItem);
  first.GetFsItem()->PutString(kItemName, "first.txt", 1);
  std::string first_item = test::RecordBytes(*first.GetFsItem()) + std::string(4, '\0');
  struct Case {
    const char* what;
    std::string plain;
    int32_t code;
  } cases[] = {
      {"items as an item's properties",
       content +
           [&] {
             std::string chain;
             for (int i = 0; i < 20000; ++i) chain += item;
             return chain;
           }(),
       kFailed},
      {"items inside the lists of items' properties",
       content +
           [&] {
             std::string chain;
             for (int i = 0; i < 10000; ++i) chain += item + list;
             return chain;
           }(),
       kOutOfMemory},
      {"lists inside an item's properties",
       content + item +
           [&] {
             std::string chain;
             for (int i = 0; i < 20000; ++i) chain += list;
             return chain;
           }(),
       kOutOfMemory},
      {"a written file, then items within items",
       header(kList, 2) + item + first_item +
           [&] {
             std::string chain;
             for (int i = 0; i < 10000; ++i) chain += item + list;
             return chain;
           }(),
       kOutOfMemory},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteFileBytes(dir.Sub("deep.qef"), test::SealedContainer(c.plain, "pw"));
    // On a thread of its own, as in the stub, whose worker has the system's default
    // stack (far less than a process's main thread on Linux).
    struct Run {
      Text container, target;
      int32_t code = -1;
    } run{dir.Sub("deep.qef"), dir.Sub("t/")};
    Thread worker;
    ASSERT_TRUE(worker.Start(
        [](void* p) {
          auto* r = static_cast<Run*>(p);
          r->code = Extract(r->container, "pw", r->target);
        },
        &run));
    worker.Join();
    EXPECT_EQ(run.code, c.code) << c.what;
    EXPECT_FALSE(FolderExists(dir.Sub("t/"))) << c.what;
  }
}

// A container of the given items, all with the data of `source`.
int32_t PackItems(const Text& out, const Text& source,
                  const std::vector<std::tuple<uint8_t, std::string, std::string>>& items) {
  PropertyList content;
  for (const auto& [kind, folder, name] : items) {
    Value v;
    v.SetType(kFsItem);
    v.GetFsItem()->PutByte(100, kind, 1);
    v.GetFsItem()->PutString(200, name.c_str(), 1);
    v.GetFsItem()->PutString(201, folder.c_str(), 1);
    v.GetFsItem()->SetSourcePath(source.Str());
    content.Append(v);
  }
  return WriteContainer(out, Text("pw"), content, PackOptions());
}

// Every entry that appeared in `after` but not in `before` lies below `inside`.
void ExpectOnlyInside(const Snapshot& before, const Snapshot& after, const std::string& inside, const char* what) {
  for (const auto& [path, entry] : after) {
    if (before.count(path) == 0) {
      EXPECT_EQ(path.rfind(inside, 0), 0u) << what << ": " << path;
    }
  }
  for (const auto& [path, entry] : before) EXPECT_EQ(after.count(path), 1u) << what << ": lost " << path;
}

TEST(Reliability, AcceptedOddNamesStayInside) {
  TempDir dir;
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  ASSERT_EQ(CreateFolder(dir.Sub("area/t/")), 0);
  WriteFileBytes(dir.Sub("area/t/placed.txt"), "placed before");
  for (const test::HostileName& h : test::kHostileNames) {
    if (kWindows ? h.refused_windows : h.refused_posix) continue;
    Snapshot before = TakeSnapshot(dir.Sub("area/"));
    ASSERT_EQ(PackItems(dir.Sub("c.qef"), dir.Sub("data.txt"), {{uint8_t(0), h.folder, h.name}}), 0);
    int32_t r = Extract(dir.Sub("c.qef"), "pw", dir.Sub("area/t/"));
    Snapshot after = TakeSnapshot(dir.Sub("area/"));
    ExpectOnlyInside(before, after, "t/", h.name);
    if (r != 0) {
      EXPECT_EQ(after, before) << h.name;
    }
  }

  // Duplicates and lengths: the same name twice, names differing in case, a file and a
  // folder of one name, a 256-character component, paths around 260 characters.
  std::string long_component(256, 'n');
  int32_t base = dir.Sub("area/t/").GetLength();
  std::vector<std::vector<std::tuple<uint8_t, std::string, std::string>>> cases = {
      {{0, "", "same.txt"}, {0, "", "same.txt"}},
      {{0, "", "A.txt"}, {0, "", "a.txt"}},
      {{0, "", "both"}, {1, "", "both"}},
      {{1, "", "both2"}, {0, "", "both2"}},
      {{0, "", long_component}},
  };
  for (int len : {259, 260, 261}) {
    cases.push_back({{0, "", std::string(static_cast<size_t>(len - base > 1 ? len - base : 1), 'p')}});
  }
  for (auto& items : cases) {
    Snapshot before = TakeSnapshot(dir.Sub("area/"));
    ASSERT_EQ(PackItems(dir.Sub("c.qef"), dir.Sub("data.txt"), items), 0);
    int32_t r = Extract(dir.Sub("c.qef"), "pw", dir.Sub("area/t/"));
    Snapshot after = TakeSnapshot(dir.Sub("area/"));
    ExpectOnlyInside(before, after, "t/", std::get<2>(items[0]).c_str());
    if (r != 0) {
      EXPECT_EQ(after, before) << std::get<2>(items[0]) << ": " << r;
    }
    for (const auto& [path, entry] : after) {
      if (path != "t/" && before.count(path) == 0) test::RemoveTree(Text::Concat(dir.Sub("area/"), path.c_str()));
    }
  }
}

}  // namespace
}  // namespace qef
