// Item checksums: what a flipped bit does to a run, with and without them, whole and
// salvaging; and that an archive with them reads the same through a reader that knows
// nothing of them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "container/engine.h"
#include "container/value_record.h"
#include "container/writer.h"
#include "core/format.h"
#include "core/memory_stream.h"
#include "core/result.h"
#include "fs/fs.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::string RandomBytes(size_t n) {
  std::mt19937 random(27);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

struct Source {
  const char* path;
  std::string bytes;
};

// A folder, a small text, bytes deflate cannot shrink (stored chunks) and a text long
// enough for chunks of its own (deflated chunks).
const std::vector<Source>& Sources() {
  static const std::vector<Source> sources = {
      {"d/a.txt", "a small text"},
      {"d/stored.bin", RandomBytes(150000)},
      {"d/text.txt", test::SampleBytes(300000, 5)},
  };
  return sources;
}

std::string ContentBytes(const TempDir& dir, bool checksums) {
  PropertyList content;
  EXPECT_EQ(CollectSources({dir.Sub("src/d/")}, content, nullptr, nullptr), 0);
  StreamParams params;
  MemoryStream out;
  out.OpenWrite(&params);
  EXPECT_EQ(WriteContentList(content, out, checksums), 0);
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

enum Damage { kNoDamage, kName, kFolderName, kStoredData, kDeflatedData };

// The content in chunks as the writer makes them: deflated where that shrinks a chunk,
// stored otherwise, each chunk encrypted on its own. One bit is flipped where `damage`
// says: in the name "a.txt", the folder's name "d" or a stored chunk before sealing, in the zlib stream of a
// deflated chunk after compressing.
std::string Seal(std::string plain, bool checksums, Damage damage) {
  if (damage == kName) plain[plain.find("a.txt")] ^= 0x04;
  if (damage == kFolderName) plain[plain.find(std::string("\x6e\0\xc8\0\x02\0\0\0\x01", 9) + "d") + 9] ^= 0x01;
  if (damage == kStoredData) plain[plain.find(Sources()[1].bytes.substr(0, 64)) + 100000] ^= 0x10;
  size_t deflated_at = plain.find(Sources()[2].bytes.substr(0, 64)) + 200000;
  Value iv;
  iv.SetBlob("0123456789abcdef", 16);
  PropertyList header = test::StandardHeader(kAesCipher, kCompressionBest, &iv);
  header.PutDWord(kHeaderProgressTotal, static_cast<uint32_t>(plain.size()), 1);
  if (checksums) header.PutByte(kHeaderChecksums, 1, 1);
  std::string bytes = test::RecordBytes(header) + test::CheckBytes("pw");
  test::ChunkEncryptor encryptor(kAesCipher, "pw", &iv);
  for (size_t at = 0; at < plain.size(); at += kMaxPlainChunk) {
    std::string piece = plain.substr(at, kMaxPlainChunk);
    std::string zlib = test::Zlib(piece, 6);
    bool deflate = zlib.size() < piece.size();
    if (deflate && damage == kDeflatedData && deflated_at >= at && deflated_at < at + kMaxPlainChunk)
      zlib[zlib.size() / 2] ^= 0x01;
    bytes += encryptor.Chunk(test::CompressedChunk(deflate ? kChunkDeflated : kChunkPlain, deflate ? zlib : piece));
  }
  return bytes;
}

struct Outcome {
  int32_t code = 0;
  bool had_checksums = false;
  std::vector<std::string> damaged;
  ErrorInfo error;
};

Outcome Extract(const Text& container, const Text& target, bool salvage) {
  Outcome run;
  ExtractOptions options;
  options.salvage = salvage;
  options.had_checksums = &run.had_checksums;
  options.error = &run.error;
  options.damaged_user = &run;
  options.damaged = [](const ItemHeader& item, int32_t, void* user) {
    static_cast<Outcome*>(user)->damaged.push_back(item.StoredPath().Str());
  };
  ExtractEngine engine;
  run.code = ExtractContainer(engine, container, Text("pw"), target, nullptr, &options);
  return run;
}

TEST(Checksums, AFlippedBitFailsTheRunOrIsLeftOutWhenSalvaging) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/d/")), 0);
  for (const Source& s : Sources()) WriteFileBytes(dir.Sub((std::string("src/") + s.path).c_str()), s.bytes);
  const std::string with = ContentBytes(dir, true), without = ContentBytes(dir, false);
  ASSERT_GT(with.size(), without.size());

  const char* const kAll[] = {"d/a.txt", "d/stored.bin", "d/text.txt"};
  struct Case {
    Damage damage;
    bool checksums;
    bool salvage;
    int32_t code;
    const char* named;                  // the item the error or the salvage names
    std::vector<const char*> intact;    // files extracted exactly
    std::vector<const char*> mistaken;  // files written wrong: only without checksums
  };
  const Case cases[] = {
      {kNoDamage, true, false, 0, "", {kAll[0], kAll[1], kAll[2]}, {}},
      {kNoDamage, false, false, 0, "", {kAll[0], kAll[1], kAll[2]}, {}},
      // Without checksums a stored name or stored data is taken as it is.
      {kName, false, false, 0, "", {kAll[1], kAll[2]}, {kAll[0]}},
      {kStoredData, false, false, 0, "", {kAll[0], kAll[2]}, {kAll[1]}},
      {kName, true, false, kBadChecksum, "d/e.txt", {}, {}},
      {kStoredData, true, false, kBadChecksum, "d/stored.bin", {}, {}},
      // zlib's own check finds damage to deflated data, with or without them.
      {kDeflatedData, true, false, kBadChunk, "d/text.txt", {}, {}},
      {kDeflatedData, false, false, kBadChunk, "d/text.txt", {}, {}},
      {kName, true, true, kBadChecksum, "d/e.txt", {kAll[1], kAll[2]}, {}},
      {kStoredData, true, true, kBadChecksum, "d/stored.bin", {kAll[0], kAll[2]}, {}},
      // A folder left out does not cost the files inside it.
      {kFolderName, true, true, kBadChecksum, "e", {kAll[0], kAll[1], kAll[2]}, {}},
      // Past damage that breaks the chunks nothing can be read: what came before stays.
      {kDeflatedData, true, true, kBadChunk, "d/text.txt", {kAll[0], kAll[1]}, {}},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(row++);
    WriteFileBytes(dir.Sub("c.qef"), Seal(c.checksums ? with : without, c.checksums, c.damage));
    test::RemoveTree(dir.Sub("t/"));
    ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
    Outcome run = Extract(dir.Sub("c.qef"), dir.Sub("t/"), c.salvage);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.had_checksums, c.checksums);
    if (c.salvage && c.code == kBadChecksum) {
      EXPECT_EQ(run.damaged, std::vector<std::string>{c.named});
    } else if (c.code != 0) {
      EXPECT_EQ(std::string(run.error.path.Str()), c.named);
    }
    test::Snapshot tree = test::TakeSnapshot(dir.Sub("t/"));
    size_t files = 0;
    for (const auto& [path, entry] : tree) files += entry.folder ? 0 : 1;
    EXPECT_EQ(files, c.intact.size() + c.mistaken.size()) << test::Describe(tree);
    for (const char* path : c.intact) {
      for (const Source& s : Sources()) {
        if (std::string(s.path) == path) {
          EXPECT_TRUE(tree[path].content == s.bytes) << path;
        }
      }
    }
    for (const char* path : c.mistaken) EXPECT_EQ(tree.count(path), c.damage == kName ? 0u : 1u) << path;
  }
}

// A reader built from the format's document alone: the content list's records by
// their type, items as the document reads them, anything else read and dropped.
std::vector<std::pair<std::string, std::string>> DocumentReader(const std::string& plain, bool& whole) {
  std::vector<std::pair<std::string, std::string>> files;
  MemoryStream in;
  in.OpenRead(plain.data(), static_cast<uint32_t>(plain.size()), nullptr);
  uint16_t tag = 0, key = 0;
  uint32_t length = 0, count = 0;
  in.ReadU16(tag);
  in.ReadU16(key);
  in.ReadU32(length);
  in.ReadU32(count);
  for (uint32_t i = 0; i < count && in.GetError() == 0; ++i) {
    in.ReadU16(tag);
    in.ReadU16(key);
    in.ReadU32(length);
    if (tag != kFsItem) {
      Value dropped;
      ReadPayload(dropped, tag, key, length, in);
      continue;
    }
    PropertyList properties;
    ReadListRecord(properties, in);
    if (properties.GetByte(kItemKind, kKindFile) != kKindFile) continue;
    uint32_t size = 0;
    in.ReadU32(size);
    std::string data(size, '\0');
    if (size != 0) in.Read(&data[0], size);
    files.emplace_back(
        std::string(properties.GetString(kItemFolder, "").Str()) + properties.GetString(kItemName, "").Str(), data);
  }
  whole = in.GetError() == 0 && in.Position() == plain.size();
  return files;
}

TEST(Checksums, AReaderThatKnowsNothingOfThemReadsTheSameItems) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/d/")), 0);
  for (const Source& s : Sources()) WriteFileBytes(dir.Sub((std::string("src/") + s.path).c_str()), s.bytes);
  bool whole_with = false, whole_without = false;
  auto with = DocumentReader(ContentBytes(dir, true), whole_with);
  auto without = DocumentReader(ContentBytes(dir, false), whole_without);
  EXPECT_TRUE(whole_with && whole_without) << "every record is read, to the last byte";
  EXPECT_EQ(with, without);
  ASSERT_EQ(with.size(), Sources().size());
  for (size_t i = 0; i < with.size(); ++i) {
    EXPECT_EQ(with[i].first, Sources()[i].path);
    EXPECT_TRUE(with[i].second == Sources()[i].bytes) << Sources()[i].path;
  }
}

}  // namespace
}  // namespace qef
