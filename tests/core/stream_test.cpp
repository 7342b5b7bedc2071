#include "core/stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "core/result.h"

namespace qef {
namespace {

TEST(Stream, OpenModes) {
  struct Case {
    int32_t mode;
    int32_t result;
    int32_t mode_after;
  } cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, kWrongDirection, 0}, {-1, kWrongDirection, 0}};
  for (const Case& c : cases) {
    Stream s;
    EXPECT_EQ(s.Open(c.mode, nullptr), c.result) << c.mode;
    EXPECT_EQ(s.GetMode(), c.mode_after) << c.mode;
  }
  Stream closed;
  closed.Open(3, nullptr);
  char b = 0;
  EXPECT_EQ(closed.Transfer(&b, 1), kNotReady);
}

TEST(Stream, ChecksAndStickyErrors) {
  Stream s;
  s.Open(kModeWriting, nullptr);
  char b[4] = {};
  EXPECT_EQ(s.Write(b, 0), kBadArgument);        // zero length: not stored
  EXPECT_EQ(s.Write(nullptr, 4), kBadArgument);  // null buffer: not stored
  EXPECT_EQ(s.GetError(), 0);
  EXPECT_EQ(s.Write(b, 4), 0);
  EXPECT_EQ(s.GetTotal(), 4u);
  EXPECT_EQ(s.Read(b, 1), kWrongDirection);  // against the direction: stored
  EXPECT_EQ(s.GetError(), kWrongDirection);
  EXPECT_EQ(s.Write(b, 4), kBadArgument);  // after an error: nothing more is counted
  EXPECT_EQ(s.GetTotal(), 4u);
  s.Close();
  EXPECT_EQ(s.GetError(), 0);
}

TEST(Stream, CountedStringSizes) {
  struct Case {
    size_t length;
    uint32_t total;
  } cases[] = {{0, 1}, {3, 4}, {254, 255}, {255, 260}, {300, 305}};
  for (const Case& c : cases) {
    Stream counter;
    counter.Open(kModeWriting, nullptr);
    EXPECT_EQ(counter.WriteCountedString(Text(std::string(c.length, 'x').c_str())), 0);
    EXPECT_EQ(counter.GetTotal(), c.total) << c.length;
  }
}

TEST(Stream, CountedStringRoundTripAndHostileLengths) {
  for (size_t n : {size_t(0), size_t(3), size_t(255), size_t(70000)}) {
    MemoryStream out;
    out.OpenWrite(nullptr);
    std::string text(n, 'q');
    ASSERT_EQ(out.WriteCountedString(Text(text.c_str())), 0);
    MemoryStream in;
    in.OpenRead(out.Data(), out.Size(), nullptr);
    Text back;
    ASSERT_EQ(in.ReadCountedString(back), 0);
    EXPECT_EQ(std::string(back.Str()), text);
    EXPECT_EQ(in.Position(), out.Size());
  }
  // A 4-byte length of 0 or below reads as the empty text and consumes 5 bytes.
  for (uint32_t len : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    unsigned char bytes[6] = {
        0xFF, (unsigned char)len, (unsigned char)(len >> 8), (unsigned char)(len >> 16), (unsigned char)(len >> 24),
        'z'};
    MemoryStream in;
    in.OpenRead(bytes, sizeof bytes, nullptr);
    Text t("old");
    EXPECT_EQ(in.ReadCountedString(t), 0);
    EXPECT_STREQ(t.Str(), "");
    EXPECT_EQ(in.Position(), 5u);
  }
  // A hostile length far beyond the data ends with a short read, without allocating it.
  unsigned char hostile[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'};
  MemoryStream in;
  in.OpenRead(hostile, sizeof hostile, nullptr);
  Text t;
  EXPECT_EQ(in.ReadCountedString(t), kShortRead);
  // Bytes after an embedded zero are dropped from the text.
  unsigned char zero[] = {3, 'a', 0, 'b'};
  in.OpenRead(zero, sizeof zero, nullptr);
  EXPECT_EQ(in.ReadCountedString(t), 0);
  EXPECT_STREQ(t.Str(), "a");
}

TEST(Stream, Percentage) {
  struct Case {
    uint32_t done, all, want;
  } cases[] = {{0, 0, 0},
               {5, 0, 0},
               {7, 7, 100},
               {50, 100, 50},
               {250000, 1000000, 25},
               {4000000000u, 4000000000u, 100},
               {3999999999u, 4000000000u, 99},
               {200, 100, 100},
               {1, 3, 33},
               {20000, 10000, 100}};
  for (const Case& c : cases) EXPECT_EQ(Percentage(c.done, c.all), c.want) << c.done << "/" << c.all;
}

struct Recorder {
  std::vector<std::pair<int32_t, int32_t>> messages;
  int32_t answer = 0;
  static int32_t Callback(int32_t m, int32_t v, uintptr_t u1, uintptr_t) {
    auto* self = reinterpret_cast<Recorder*>(u1);
    self->messages.emplace_back(m, v);
    return self->answer;
  }
};

TEST(ProgressStream, ReportsAndCancels) {
  std::vector<unsigned char> data(1000000, 7);
  Recorder rec;
  ProgressCallback cb;
  cb.function = &Recorder::Callback;
  cb.user1 = reinterpret_cast<uintptr_t>(&rec);
  StreamParams params;
  params.progress = &cb;
  params.progress_total = 1000000;
  MemoryStream mem;
  mem.OpenRead(data.data(), static_cast<uint32_t>(data.size()), &params);
  ProgressStream ps;
  ASSERT_EQ(ps.Attach(&mem), 0);
  std::vector<unsigned char> buf(250000);
  EXPECT_EQ(ps.Read(buf.data(), 250000), 0);
  ASSERT_EQ(rec.messages.size(), 2u);
  EXPECT_EQ(rec.messages[0], std::make_pair(100, 100));
  EXPECT_EQ(rec.messages[1], std::make_pair(102, 25));
  EXPECT_EQ(ps.Read(buf.data(), 0), 0);  // nothing moves, nothing is reported
  EXPECT_EQ(rec.messages.size(), 2u);

  rec.answer = kCancelled;
  EXPECT_EQ(ps.Read(buf.data(), 10), kCancelled);
  EXPECT_EQ(ps.Read(buf.data(), 10), kCancelled);  // sticky: the next read fails too
  EXPECT_EQ(rec.messages.size(), 3u);
  rec.answer = 0;
  ps.Close();
  EXPECT_EQ(rec.messages.back(), std::make_pair(105, 0));
}

TEST(ProgressStream, WithoutTotalCountsHundredBytes) {
  std::vector<unsigned char> data(300, 1);
  Recorder rec;
  ProgressCallback cb;
  cb.function = &Recorder::Callback;
  cb.user1 = reinterpret_cast<uintptr_t>(&rec);
  StreamParams params;
  params.progress = &cb;
  MemoryStream mem;
  mem.OpenRead(data.data(), 300, &params);
  ProgressStream ps;
  ps.Attach(&mem);
  unsigned char b[100];
  ps.Read(b, 40);
  ps.Read(b, 60);
  ASSERT_EQ(rec.messages.size(), 3u);
  EXPECT_EQ(rec.messages[1].second, 40);
  EXPECT_EQ(rec.messages[2].second, 100);
}

TEST(FilterStream, AttachAndMissingNext) {
  FilterStream f;
  EXPECT_EQ(f.Attach(nullptr), kBadArgument);
  Stream closed;
  EXPECT_EQ(f.Attach(&closed), 0);  // takes the next stream's (closed) mode
  EXPECT_EQ(f.GetMode(), kModeClosed);
  MemoryStream mem;
  unsigned char d[4] = {1, 2, 3, 4};
  mem.OpenRead(d, 4, nullptr);
  ASSERT_EQ(f.Attach(&mem), 0);
  EXPECT_TRUE(f.IsReading());
  unsigned char b[2];
  EXPECT_EQ(f.Read(b, 2), 0);  // a bare filter moves nothing but succeeds
  f.Close();
  EXPECT_EQ(f.GetNext(), nullptr);
}

}  // namespace
}  // namespace qef
