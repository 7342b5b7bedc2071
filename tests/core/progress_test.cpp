#include "core/progress.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace qef {
namespace {

int32_t Feed(ProgressTracker& t, const std::vector<std::pair<int32_t, int32_t>>& messages) {
  for (const auto& m : messages) t.Feed(m.first, m.second);
  return t.GetOverall();
}

TEST(ProgressTracker, Sequences) {
  struct Case {
    std::vector<std::pair<int32_t, int32_t>> messages;
    int32_t overall;
  } cases[] = {
      // A phase of weight 40 from position 0; inside, 50 % of it.
      {{{100, 100}, {101, 40}, {100, 100}, {102, 50}}, 20},
      {{{100, 100}, {101, 40}, {100, 100}, {102, 50}, {104, 0}, {102, 40}}, 40},
      // Two nested phases.
      {{{100, 100}, {101, 50}, {100, 100}, {101, 20}, {100, 100}, {102, 100}}, 10},
      {{{100, 0}, {102, 30}}, 30},              // scale 0 means 100
      {{{102, 250}}, 250},                      // depth 0: as given, no clamping
      {{{100, 100}, {102, 60}, {103, 5}}, 60},  // unknown messages change nothing
      {{{100, 100}, {102, 60}, {105, 0}, {201, 0}}, 60},
      {{{104, 0}, {104, 0}, {102, 7}}, 7},  // an unmatched end is ignored
      {{{200, 1000}, {101, 500}, {100, 10}, {102, 5}}, 250},
  };
  for (auto& c : cases) {
    ProgressTracker t;
    EXPECT_EQ(Feed(t, c.messages), c.overall);
  }
  ProgressTracker t;
  Feed(t, {{100, 100}, {101, 50}, {102, 10}});
  t.Reset();
  EXPECT_EQ(Feed(t, {{102, 30}}), 30);
}

int32_t Record(int32_t m, int32_t v, uintptr_t u1, uintptr_t) {
  reinterpret_cast<std::vector<std::pair<int32_t, int32_t>>*>(u1)->emplace_back(m, v);
  return m == 104 ? 40 : 0;
}

TEST(ProgressReporting, SendsMessages) {
  std::vector<std::pair<int32_t, int32_t>> got;
  ProgressCallback cb;
  cb.function = &Record;
  cb.user1 = reinterpret_cast<uintptr_t>(&got);
  ProgressReport report(&cb);
  ProgressPhase phase(&cb, 100);
  EXPECT_EQ(report.SetProgress(33), 0);
  EXPECT_EQ(phase.EndPhase(), 40);  // the callback's answer comes back
  report.EndProgress();
  std::vector<std::pair<int32_t, int32_t>> want = {{100, 100}, {101, 100}, {102, 33}, {104, 0}, {105, 0}};
  EXPECT_EQ(got, want);
  ProgressReport silent(nullptr);
  EXPECT_EQ(silent.SetProgress(5), 0);
}

}  // namespace
}  // namespace qef
