#include "core/thread.h"

#include <atomic>

namespace qef {

namespace {

struct ParallelRun {
  int32_t count;
  void (*fn)(int32_t, void*);
  void* user;
  std::atomic<int32_t> next{0};

  static void Work(void* arg) {
    auto* run = static_cast<ParallelRun*>(arg);
    for (int32_t i = run->next++; i < run->count; i = run->next++) run->fn(i, run->user);
  }
};

}  // namespace

void RunParallel(int32_t count, int32_t jobs, void (*fn)(int32_t index, void* user), void* user) {
  ParallelRun run;
  run.count = count;
  run.fn = fn;
  run.user = user;
  int32_t helpers = (jobs < count ? jobs : count) - 1;
  if (helpers > 63) helpers = 63;
  Thread threads[63];
  for (int32_t t = 0; t < helpers; ++t)
    if (!threads[t].Start(&ParallelRun::Work, &run)) break;
  ParallelRun::Work(&run);
  for (int32_t t = 0; t < helpers; ++t) threads[t].Join();
}

}  // namespace qef
