#pragma once
// A one-line progress bar on standard error, redrawn in place: percent, bar, bytes
// done of the total, rate and time left. It draws only when standard error is a
// terminal, so that logs and pipes stay clean. Fed the overall progress (0..100) of
// a run and the run's byte total.
#include <cstdint>
#include <cstdio>

#include "core/text.h"

namespace qef {

// Seconds since some fixed moment.
using SecondsClock = double (*)();
// The width the line may take, in columns; 0 when it is not known (no limit).
using ColumnsQuery = int32_t (*)();

class ProgressBar {
 public:
  // Draws on standard error when it is a terminal.
  ProgressBar();
  // Draws on `out` when `enabled`, timing with `clock` (null: the steady clock), each
  // line made to fit the width `columns` answers at that moment (null: no limit).
  ProgressBar(bool enabled, std::FILE* out, SecondsClock clock, ColumnsQuery columns = nullptr);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Start(uint64_t total_bytes);
  // Redraws when the percent changed or a quarter second has passed since the last
  // drawing; values outside 0..100 are clamped.
  void Update(int32_t percent);
  // Draws the final state and ends the line (only when something was drawn): 100 %
  // for work that completed, else where the work stopped (a cancel, a wrong password).
  void Finish(bool completed);

 private:
  void Draw(double now);

  bool enabled_;
  std::FILE* out_;
  SecondsClock clock_;
  ColumnsQuery columns_;
  uint64_t total_ = 0;
  int32_t percent_ = 0;
  double start_ = 0;
  double last_draw_ = -1;
  int32_t drawn_percent_ = -1;
  int32_t last_length_ = 0;
};

// The line for a state: e.g. " 42% [########            ] 12.3 MiB of 29.1 MiB,
// 4.1 MiB/s, 0:04 left". Rate and time left read "--" until half a second has passed
// and some bytes are done. With `columns` above 0 the line is shorter than that (the
// last column is left free, where some terminals wrap): the bar narrows first, then
// goes, then the end of the line is cut.
Text FormatProgressLine(int32_t percent, uint64_t total_bytes, double elapsed_seconds, int32_t columns = 0);

// Bytes for people: "512 B", "1.5 KiB", "12.3 MiB", "2.00 GiB".
Text FormatBytes(uint64_t bytes);

}  // namespace qef
