#include "container/chunk_streams.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "container/container_reader.h"
#include "container/deflate.h"
#include "container/value_record.h"
#include "core/memory_stream.h"
#include "core/result.h"
#include "tests/container/fixture.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

using test::ChunkEncryptor;
using test::CompressedChunk;
using test::Zlib;

// Reads `want` bytes through a decrypting stream over `bytes`.
int32_t Decrypt(const std::string& bytes, uint8_t id, uint32_t want, std::string* out = nullptr) {
  MemoryStream mem;
  mem.OpenRead(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  DecryptingStream d;
  EXPECT_EQ(d.Attach(&mem, id), 0);
  EXPECT_EQ(d.SetUpCiphers(Text("pw"), nullptr), 0);
  std::string buf(want, '\0');
  int32_t r = d.Read(&buf[0], want);
  if (out != nullptr) *out = buf;
  return r;
}

TEST(DecryptingStream, ChunkBoundariesAndLengths) {
  for (uint8_t id : {uint8_t(0), uint8_t(2)}) {
    uint32_t capacity = BlockSize(id) * 65536;
    {
      // Ten bytes across two chunks, with an empty chunk between them.
      ChunkEncryptor enc(id, "pw", nullptr);
      std::string bytes = enc.Chunk("abcdef");  // one statement each: the chains run in order
      bytes += enc.Chunk("");
      bytes += enc.Chunk("ghijklmn");
      std::string got;
      EXPECT_EQ(Decrypt(bytes, id, 10, &got), 0);
      EXPECT_EQ(got, "abcdefghij");
    }
    {
      ChunkEncryptor enc(id, "pw", nullptr);
      std::string full(capacity, 'z');
      EXPECT_EQ(Decrypt(enc.Chunk(full), id, capacity), 0) << "exactly the capacity";
    }
    {
      ChunkEncryptor enc(id, "pw", nullptr);
      EXPECT_EQ(Decrypt(enc.Chunk("abc", capacity + 1), id, 3), kCipherRefused);
    }
    {
      ChunkEncryptor enc(id, "pw", nullptr);
      EXPECT_EQ(Decrypt(enc.Chunk("abc", 100), id, 3), kShortRead) << "the file ends inside a chunk";
    }
    {
      ChunkEncryptor enc(id, "pw", nullptr);
      std::string got;
      EXPECT_EQ(Decrypt(enc.Chunk("abc"), id, 4, &got), kShortRead) << "reading past the last chunk";
    }
  }
}

TEST(DecryptingStream, WritesWhatItReads) {
  for (uint8_t id : {uint8_t(0), uint8_t(2)}) {
    uint32_t capacity = BlockSize(id) * 65536;
    std::string plain = test::SampleBytes(capacity * 2 + 5, id);
    MemoryStream out;
    out.OpenWrite(nullptr);
    DecryptingStream w;
    ASSERT_EQ(w.Attach(&out, id), 0);
    ASSERT_EQ(w.SetUpCiphers(Text("pw"), nullptr), 0);
    ASSERT_EQ(w.Write(plain.data(), 7), 0);
    ASSERT_EQ(w.Write(plain.data() + 7, static_cast<uint32_t>(plain.size() - 7)), 0);
    ASSERT_EQ(w.Close(), 0);
    std::string bytes(reinterpret_cast<const char*>(out.Data()), out.Size());
    // Three chunks: two full ones and the rest, each with its length block.
    EXPECT_EQ(bytes.size(), 3 * BlockSize(id) + capacity * 2 + (5 + BlockSize(id) - 1) / BlockSize(id) * BlockSize(id));
    std::string got;
    EXPECT_EQ(Decrypt(bytes, id, static_cast<uint32_t>(plain.size()), &got), 0);
    EXPECT_EQ(got, plain);
  }
}

int32_t Inflate(const std::string& chunks, uint8_t setting, uint32_t want, std::string* out = nullptr) {
  MemoryStream mem;
  mem.OpenRead(chunks.data(), static_cast<uint32_t>(chunks.size()), nullptr);
  InflatingStream s;
  EXPECT_EQ(s.Attach(&mem, setting), 0);
  std::string buf(want, '\0');
  int32_t r = s.Read(&buf[0], want);
  if (out != nullptr) *out = buf;
  return r;
}

TEST(InflatingStream, ChunkRules) {
  std::string plain = "hello hello hello hello";
  struct Case {
    const char* what;
    std::string chunks;
    uint8_t setting;
    int32_t code;
    std::string want;
  } cases[] = {
      {"deflated", CompressedChunk(1, Zlib(plain, 9)), 1, 0, plain},
      {"setting 0 with flag 1 is plain", CompressedChunk(1, plain), 0, 0, plain},
      {"setting 1 with flag 0 is plain", CompressedChunk(0, plain), 1, 0, plain},
      {"two chunks", CompressedChunk(0, "hello ") + CompressedChunk(1, Zlib("world", 3)), 2, 0, "hello world"},
      {"length above 65,535", CompressedChunk(0, std::string(65536, 'a')), 1, kBadChunk, ""},
      {"stored length above 65,535 before inflating", CompressedChunk(1, Zlib(plain, 9), 65536), 1, kBadChunk, ""},
      {"inflates beyond 65,535", CompressedChunk(1, Zlib(std::string(70000, 'x'), 9)), 1, kBadChunk, ""},
      {"inflates to 65,536", CompressedChunk(1, Zlib(std::string(65536, 'x'), 9)), 1, kBadChunk, ""},
      {"inflates to 65,535", CompressedChunk(1, Zlib(std::string(65535, 'x'), 9)), 1, 0, std::string(65535, 'x')},
      {"empty chunk", CompressedChunk(0, ""), 1, kBadChunk, ""},
      {"not zlib", CompressedChunk(1, "garbage!"), 1, kBadChunk, ""},
      {"truncated zlib", CompressedChunk(1, Zlib(plain, 9).substr(0, 6)), 1, kBadChunk, ""},
      {"file ends inside", CompressedChunk(0, plain, 100), 1, kShortRead, ""},
  };
  for (const Case& c : cases) {
    std::string got;
    uint32_t want = c.code == 0 ? static_cast<uint32_t>(c.want.size()) : 5;
    EXPECT_EQ(Inflate(c.chunks, c.setting, want, &got), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(got, c.want) << c.what;
    }
  }
  InflatingStream s;
  MemoryStream mem;
  mem.OpenRead("", 0, nullptr);
  EXPECT_EQ(s.Attach(&mem, 3), kUnsupported);
}

// Splits a series of stored chunks and turns each into its content, deflated ones
// through zlib's own uncompress; empty when a chunk does not read.
std::string ThroughZlib(const std::string& chunks) {
  std::string plain;
  for (size_t at = 0; at + 5 <= chunks.size();) {
    uint8_t flag = static_cast<uint8_t>(chunks[at]);
    uint32_t n = 0;
    for (int i = 4; i >= 1; --i) n = n << 8 | static_cast<uint8_t>(chunks[at + i]);
    std::string stored = chunks.substr(at + 5, n);
    at += 5 + n;
    if (flag == 0) {
      plain += stored;
      continue;
    }
    std::string out(65535, '\0');
    uLongf length = out.size();
    if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(stored.data()), n) !=
        Z_OK)
      return "";
    plain += out.substr(0, length);
  }
  return plain;
}

TEST(InflatingStream, ChunksReadThroughEitherLibrary) {
  std::string text = test::SampleBytes(65535 + 100, 3);
  for (uint8_t setting : {uint8_t(1), uint8_t(2)}) {
    // What the writer's compressor makes, zlib reads.
    MemoryStream out;
    out.OpenWrite(nullptr);
    InflatingStream w;
    ASSERT_EQ(w.Attach(&out, setting), 0);
    w.SetCompressor(&NewDeflateCompressor);
    ASSERT_EQ(w.Write(text.data(), static_cast<uint32_t>(text.size())), 0);
    ASSERT_EQ(w.Close(), 0);
    std::string bytes(reinterpret_cast<const char*>(out.Data()), out.Size());
    ASSERT_GT(bytes.size(), 0u);
    EXPECT_EQ(bytes[0], 1) << "the first chunk shrinks";
    EXPECT_LT(bytes.size(), text.size());
    EXPECT_EQ(ThroughZlib(bytes), text) << "setting " << int(setting);
  }
  // What zlib makes at any level (0: stored blocks only), the stream reads; pieces
  // small enough for a stored-block stream to fit a chunk.
  for (int level : {0, 1, 6, 9}) {
    std::string chunks;
    for (size_t at = 0; at < text.size(); at += 30000)
      chunks += CompressedChunk(1, Zlib(text.substr(at, 30000), level));
    std::string got;
    EXPECT_EQ(Inflate(chunks, 1, static_cast<uint32_t>(text.size()), &got), 0) << "zlib level " << level;
    EXPECT_EQ(got, text) << "zlib level " << level;
  }
  std::string noise(1000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) ^ (i >> 3) * 31u);
  MemoryStream out;
  out.OpenWrite(nullptr);
  InflatingStream w;
  w.Attach(&out, 1);
  EXPECT_EQ(w.Write("ab", 2), kUnsupported) << "no compressor installed";
  w.Close();
  out.OpenWrite(nullptr);
  w.Attach(&out, 1);
  w.SetCompressor(&NewDeflateCompressor);
  w.Write("ab", 2);
  w.Close();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Size()), CompressedChunk(0, "ab"));
}

TEST(InflatingStream, SameBytesForEveryNumberOfJobs) {
  // Enough chunks for several batches in flight with two banks.
  std::string text = test::SampleBytes(65535 * 37 + 1234, 8);
  std::string first;
  for (int32_t jobs : {1, 2, 3, 8}) {
    MemoryStream out;
    out.OpenWrite(nullptr);
    InflatingStream w;
    ASSERT_EQ(w.Attach(&out, 1), 0);
    w.SetJobs(jobs);
    w.SetCompressor(&NewDeflateCompressor);
    for (size_t at = 0; at < text.size(); at += 100000) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(100000, text.size() - at));
      ASSERT_EQ(w.Write(text.data() + at, n), 0);
    }
    ASSERT_EQ(w.Close(), 0);
    std::string bytes(reinterpret_cast<const char*>(out.Data()), out.Size());
    if (jobs == 1) first = bytes;
    EXPECT_EQ(bytes, first) << jobs << " jobs";
  }
  std::string back;
  EXPECT_EQ(Inflate(first, 1, static_cast<uint32_t>(text.size()), &back), 0);
  EXPECT_EQ(back, text);
}

// A container file from a header, a check value and the content list's bytes.
std::string ContainerBytes(PropertyList header, const char* check_password, uint8_t id, const Value* vector,
                           const std::string& content) {
  ChunkEncryptor enc(id, "pw", vector);
  return test::RecordBytes(header) + test::CheckBytes(check_password) + enc.Chunk(CompressedChunk(0, content));
}

TEST(ContainerReader, HeaderRules) {
  PropertyList list;
  list.PutString(1, "content", 1);
  std::string content = test::RecordBytes(list);
  Value v16, v4, v17;
  v16.SetBlob("0123456789abcdef", 16);
  v4.SetBlob("0123", 4);
  v17.SetBlob("0123456789abcdefg", 17);
  Value word2;
  word2.SetWord(2);
  PropertyList blowfish_by_word = test::StandardHeader(2, 0, nullptr);
  blowfish_by_word.PutValue(kHeaderCipher, word2, 1);
  PropertyList bad_magic = test::StandardHeader(2, 0, &v16);
  bad_magic.PutString(kHeaderMagic, "Quillmar encrypted file", 1);

  struct Case {
    const char* what;
    std::string bytes;
    int32_t code;
  } cases[] = {
      {"AES with its vector", ContainerBytes(test::StandardHeader(2, 0, &v16), "pw", 2, &v16, content), 0},
      {"no vector: zeros", ContainerBytes(test::StandardHeader(2, 0, nullptr), "pw", 2, nullptr, content), 0},
      {"short vector: zeros", ContainerBytes(test::StandardHeader(2, 0, &v4), "pw", 2, nullptr, content), 0},
      {"Blowfish", ContainerBytes(test::StandardHeader(0, 0, nullptr), "pw", 0, nullptr, content), 0},
      {"a Word cipher id reads as Blowfish", ContainerBytes(blowfish_by_word, "pw", 0, nullptr, content), 0},
      {"long vector", ContainerBytes(test::StandardHeader(2, 0, &v17), "pw", 2, nullptr, content), kBadVector},
      {"wrong password", ContainerBytes(test::StandardHeader(2, 0, &v16), "PW", 2, &v16, content), kWrongPassword},
      // "pw18" checks as 1a f7 and "pw" as 1a 91: only the second byte tells them apart.
      {"wrong password, second check byte", ContainerBytes(test::StandardHeader(2, 0, &v16), "pw18", 2, &v16, content),
       kWrongPassword},
      {"setting 3 before the password", ContainerBytes(test::StandardHeader(2, 3, &v16), "x", 2, &v16, content),
       kBadCompression},
      {"cipher 1", ContainerBytes(test::StandardHeader(1, 0, nullptr), "pw", 2, nullptr, content), kBadMagic},
      {"cipher 3", ContainerBytes(test::StandardHeader(3, 0, nullptr), "pw", 2, nullptr, content), kBadMagic},
      {"wrong magic", ContainerBytes(bad_magic, "pw", 2, &v16, content), kBadMagic},
      {"ends inside the check value", test::RecordBytes(list = test::StandardHeader(2, 0, nullptr)) + "x", kFailed},
      {"ends inside the header", test::RecordBytes(list = test::StandardHeader(2, 0, nullptr)).substr(0, 20),
       kShortRead},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    Text path = dir.Sub("c.qef");
    ASSERT_TRUE(test::WriteFileBytes(path, c.bytes));
    ContainerReader reader;
    PropertyList header;
    StreamParams params;
    int32_t r = reader.Open(path, Text("pw"), &header, &params);
    if (r == 0) {
      PropertyList got;
      r = SerialiseValue(got, reader);
      if (r == 0) {
        EXPECT_STREQ(got.GetString(1, "").Str(), "content") << c.what;
      }
    }
    EXPECT_EQ(r, c.code) << c.what;
  }
}

TEST(ContainerKind, ByNameAndFirstBytes) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Sub("old.qef"), std::string("Quillmar Encrypted File and more"));
  test::WriteFileBytes(dir.Sub("old2.QEF"), std::string("QuillmarEncryptedFile and more!!"));
  test::WriteFileBytes(dir.Sub("short.qef"), std::string("Quillmar Encrypted File"));
  test::WriteFileBytes(dir.Sub("new.qef"), std::string("\x02\x00\x00\x00", 4));
  test::WriteFileBytes(dir.Sub("empty.qef"), "");
  test::WriteFileBytes(dir.Sub("pic.qefx"), "");
  struct Case {
    const char* name;
    int32_t kind;
  } cases[] = {{"old.qef", kKindOldFormat}, {"old2.QEF", kKindOldFormat},  {"short.qef", kKindContainer},
               {"new.qef", kKindContainer}, {"empty.qef", kKindContainer}, {"pic.qefx", kKindCarrier},
               {"noext", kKindCarrier}};
  for (const Case& c : cases) EXPECT_EQ(ContainerKindOf(dir.Sub(c.name)), c.kind) << c.name;
}

}  // namespace
}  // namespace qef
