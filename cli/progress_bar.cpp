#include "cli/progress_bar.h"

#include <chrono>
#include <cmath>

#include "cli/console.h"

namespace qef {

namespace {

const int kBarWidth = 20;
const double kRedrawSeconds = 0.25;

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Text FormatDuration(double seconds) {
  uint64_t s = static_cast<uint64_t>(std::llround(seconds < 0 ? 0 : seconds));
  Text t;
  if (s >= 3600)
    t.Format("%lu:%02lu:%02lu", static_cast<unsigned long>(s / 3600), static_cast<unsigned long>(s / 60 % 60),
             static_cast<unsigned long>(s % 60));
  else
    t.Format("%lu:%02lu", static_cast<unsigned long>(s / 60), static_cast<unsigned long>(s % 60));
  return t;
}

}  // namespace

Text FormatBytes(uint64_t bytes) {
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  Text t;
  if (bytes < 1024) {
    t.Format("%lu B", static_cast<unsigned long>(bytes));
    return t;
  }
  double v = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (v >= 1024 && unit < 3) {
    v /= 1024;
    ++unit;
  }
  t.Format(unit >= 2 ? "%.2f %s" : "%.1f %s", v, units[unit]);
  return t;
}

Text FormatProgressLine(int32_t percent, uint64_t total_bytes, double elapsed_seconds, int32_t columns) {
  uint64_t done =
      total_bytes / 100 * static_cast<uint64_t>(percent) + total_bytes % 100 * static_cast<uint64_t>(percent) / 100;
  Text rate("--"), left("--");
  if (elapsed_seconds >= 0.5 && done > 0) {
    double per_second = static_cast<double>(done) / elapsed_seconds;
    rate = FormatBytes(static_cast<uint64_t>(per_second));
    rate.Append("/s");
    left = FormatDuration(static_cast<double>(total_bytes - done) / per_second);
  }
  Text tail;
  tail.Format("%s of %s, %s, %s left", FormatBytes(done).Str(), FormatBytes(total_bytes).Str(), rate.Str(), left.Str());
  const int kMinBar = 5;
  const int kAroundBar = 8;  // "100% [" and "] "
  int room = columns > 0 ? columns - 1 : kAroundBar + kBarWidth + tail.GetLength();
  int width = room - kAroundBar - tail.GetLength();
  if (width > kBarWidth) width = kBarWidth;
  Text line;
  if (width >= kMinBar) {
    char bar[kBarWidth + 1];
    int filled = percent * width / 100;
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : ' ';
    bar[width] = 0;
    line.Format("%3d%% [%s] %s", static_cast<int>(percent), bar, tail.Str());
  } else {
    line.Format("%3d%% %s", static_cast<int>(percent), tail.Str());
  }
  return room > 0 && line.GetLength() > room ? line.Left(room) : line;
}

ProgressBar::ProgressBar() : ProgressBar(StandardErrorIsTerminal(), stderr, nullptr, TerminalColumns) {}

ProgressBar::ProgressBar(bool enabled, std::FILE* out, SecondsClock clock, ColumnsQuery columns)
    : enabled_(enabled && out != nullptr),
      out_(out),
      clock_(clock != nullptr ? clock : SteadySeconds),
      columns_(columns) {}

void ProgressBar::Start(uint64_t total_bytes) {
  total_ = total_bytes;
  percent_ = 0;
  start_ = clock_();
  last_draw_ = -1;
  drawn_percent_ = -1;
  if (enabled_) Draw(start_);
}

void ProgressBar::Update(int32_t percent) {
  if (!enabled_) return;
  percent_ = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  double now = clock_();
  if (percent_ != drawn_percent_ || now - last_draw_ >= kRedrawSeconds) Draw(now);
}

void ProgressBar::Finish(bool completed) {
  if (!enabled_ || drawn_percent_ < 0) return;
  if (completed) percent_ = 100;
  Draw(clock_());
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_percent_ = -1;
  last_length_ = 0;  // a fresh line
}

// '\r' takes the cursor back to the line start; spaces clear what a longer earlier
// line left behind, never past the width, where they would start a new line.
void ProgressBar::Draw(double now) {
  int32_t columns = columns_ != nullptr ? columns_() : 0;
  Text line = FormatProgressLine(percent_, total_, now - start_, columns);
  int32_t end = last_length_;
  if (columns > 0 && end > columns - 1) end = columns - 1;
  int32_t pad = end > line.GetLength() ? end - line.GetLength() : 0;
  std::fprintf(out_, "\r%s%*s", line.Str(), static_cast<int>(pad), "");
  std::fflush(out_);
  last_length_ = line.GetLength();
  last_draw_ = now;
  drawn_percent_ = percent_;
}

}  // namespace qef
