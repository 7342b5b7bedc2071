#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <string>

namespace qef {
namespace {

TEST(ProgressBar, Lines) {
  struct Case {
    int32_t percent;
    uint64_t total;
    double elapsed;
    const char* line;
  } cases[] = {
      {0, 1000, 0, "  0% [                    ] 0 B of 1000 B, --, -- left"},
      {50, 10 << 20, 2, " 50% [##########          ] 5.0 MiB of 10.0 MiB, 2.5 MiB/s, 0:02 left"},
      {42, 3u << 30, 0.4, " 42% [########            ] 1.26 GiB of 3.00 GiB, --, -- left"},
      {1, 400ull << 20, 60, "  1% [                    ] 4.0 MiB of 400.0 MiB, 68.3 KiB/s, 1:39:00 left"},
      {100, 2048, 1, "100% [####################] 2.0 KiB of 2.0 KiB, 2.0 KiB/s, 0:00 left"},
  };
  for (const Case& c : cases) EXPECT_STREQ(FormatProgressLine(c.percent, c.total, c.elapsed).Str(), c.line);
}

// A line never reaches the terminal's last column: the bar narrows, then goes, then
// the line's end is cut.
TEST(ProgressBar, LinesFitTheWidth) {
  struct Case {
    int32_t columns;
    const char* line;
  } cases[] = {
      {0, " 50% [##########          ] 5.0 MiB of 10.0 MiB, 2.5 MiB/s, 0:02 left"},
      {200, " 50% [##########          ] 5.0 MiB of 10.0 MiB, 2.5 MiB/s, 0:02 left"},
      {60, " 50% [#####     ] 5.0 MiB of 10.0 MiB, 2.5 MiB/s, 0:02 left"},
      {50, " 50% 5.0 MiB of 10.0 MiB, 2.5 MiB/s, 0:02 left"},
      {20, " 50% 5.0 MiB of 10."},
  };
  for (const Case& c : cases) {
    Text line = FormatProgressLine(50, 10 << 20, 2, c.columns);
    EXPECT_STREQ(line.Str(), c.line) << c.columns;
    if (c.columns > 0) {
      EXPECT_LT(line.GetLength(), c.columns);
    }
  }
}

double g_now = 0;
double FakeClock() { return g_now; }

std::string Drawn(std::FILE* f) {
  std::string s;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(ProgressBar, RedrawsInPlaceOnlyWhenSomethingChanged) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  g_now = 100;
  ProgressBar bar(true, f, FakeClock);
  bar.Start(1000);
  bar.Update(0);  // same percent, no time passed: nothing new
  g_now = 100.1;
  bar.Update(0);
  g_now = 100.5;
  bar.Update(0);  // a quarter second passed: rate and time left may have changed
  bar.Update(50);
  bar.Finish(true);
  std::string s = Drawn(f);
  std::fclose(f);
  size_t draws = 0;
  for (char c : s) draws += c == '\r';
  EXPECT_EQ(draws, 4u) << s;
  EXPECT_NE(s.find("\r 50% ["), std::string::npos) << s;
  EXPECT_EQ(s.substr(s.size() - 1), "\n");
  EXPECT_NE(s.rfind("\r100% ["), std::string::npos) << s;
}

// A run that stopped (a cancel, a wrong password) leaves the bar where the work was.
TEST(ProgressBar, StopsWhereTheWorkStopped) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  g_now = 0;
  ProgressBar bar(true, f, FakeClock);
  bar.Start(1000);
  bar.Update(37);
  bar.Finish(false);
  std::string s = Drawn(f);
  std::fclose(f);
  EXPECT_EQ(s.find("100%"), std::string::npos) << s;
  EXPECT_NE(s.rfind("\r 37% ["), std::string::npos) << s;
  EXPECT_EQ(s.substr(s.size() - 1), "\n");
}

TEST(ProgressBar, ClearsWhatALongerLineLeft) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  g_now = 0;
  ProgressBar bar(true, f, FakeClock);
  bar.Start(1000);
  g_now = 1;
  bar.Update(50);  // now with a rate: longer than the first line
  std::string first = Drawn(f);
  size_t long_length = first.size() - first.rfind('\r') - 1;
  bar.Start(1000);  // back to a short line
  std::string s = Drawn(f);
  std::fclose(f);
  std::string last = s.substr(s.rfind('\r') + 1);
  EXPECT_EQ(last.size(), long_length) << last;
  EXPECT_EQ(last.back(), ' ');
}

TEST(ProgressBar, QuietWhenDisabled) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  ProgressBar bar(false, f, FakeClock);
  bar.Start(10);
  bar.Update(30);
  bar.Finish(true);
  EXPECT_EQ(Drawn(f), "");
  std::fclose(f);
}

}  // namespace
}  // namespace qef
