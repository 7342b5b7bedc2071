#include "core/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace qef {
namespace {

TEST(RunParallel, RunsEveryIndexOnce) {
  for (int32_t jobs : {1, 2, 5}) {
    std::vector<std::atomic<int>> hits(100);
    RunParallel(100, jobs, [](int32_t i, void* user) { (*static_cast<std::vector<std::atomic<int>>*>(user))[i]++; },
                &hits);
    for (auto& h : hits) EXPECT_EQ(h.load(), 1) << jobs << " jobs";
  }
  RunParallel(0, 4, [](int32_t, void*) { FAIL(); }, nullptr);
  EXPECT_GE(ProcessorCount(), 1);
}

struct Handoff {
  Mutex mutex;
  CondVar changed;
  int value = 0;
  bool taken = true;
};

TEST(Thread, ProducerHandsValuesToConsumer) {
  Handoff h;
  Thread producer;
  ASSERT_TRUE(producer.Start(
      [](void* p) {
        auto* h = static_cast<Handoff*>(p);
        for (int i = 1; i <= 1000; ++i) {
          MutexLock lock(h->mutex);
          while (!h->taken) h->changed.Wait(h->mutex);
          h->value = i;
          h->taken = false;
          h->changed.NotifyAll();
        }
      },
      &h));
  long long sum = 0;
  for (int i = 1; i <= 1000; ++i) {
    MutexLock lock(h.mutex);
    while (h.taken) h.changed.Wait(h.mutex);
    sum += h.value;
    h.taken = true;
    h.changed.NotifyAll();
  }
  producer.Join();
  EXPECT_EQ(sum, 500500);
}

}  // namespace
}  // namespace qef
