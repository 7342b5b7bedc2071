#pragma once
// Progress messages and the nested progress tracker.
//   100 (or 200) value=scale: a level begins at 0 (scale 0 means 100)
//   101 value=weight: a phase begins that covers `weight` units of the current level
//   102 value=position: the current level has reached position (in its own scale)
//   104: the innermost phase ends      105 (or 201): a level ends
#include <cstdint>

#include "core/array.h"
#include "core/stream.h"

namespace qef {

enum ProgressMessage : int32_t {
  kProgressBegin = 100,
  kProgressPhase = 101,
  kProgressPosition = 102,
  kProgressPhaseEnd = 104,
  kProgressEnd = 105,
  kProgressBeginAlt = 200,
  kProgressEndAlt = 201,
};

// Sends (100, 100) when constructed; each call answers the callback's answer.
class ProgressReport {
 public:
  explicit ProgressReport(const ProgressCallback* callback);
  int32_t GetAnswer() const { return answer_; }
  int32_t SetProgress(int32_t position);
  int32_t EndProgress();

 private:
  const ProgressCallback* callback_;
  int32_t answer_;
};

// Sends (101, weight) when constructed; EndPhase sends (104, 0).
class ProgressPhase {
 public:
  ProgressPhase(const ProgressCallback* callback, int32_t weight);
  int32_t GetAnswer() const { return answer_; }
  int32_t EndPhase();

 private:
  const ProgressCallback* callback_;
  int32_t answer_;
};

// Folds a well-formed message sequence into one overall value in the outermost scale.
class ProgressTracker {
 public:
  ProgressTracker() { Reset(); }
  void Reset();
  void Feed(int32_t message, int32_t value);
  int32_t GetOverall() const { return overall_; }

 private:
  int32_t overall_ = 0;
  int32_t depth_ = 0;
  int32_t position_ = 0;
  IntArray bases_;
  IntArray weights_;
  IntArray scales_;
};

}  // namespace qef
