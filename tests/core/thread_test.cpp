#include "core/thread.h"

#include <gtest/gtest.h>

namespace qef {
namespace {

TEST(Thread, ProcessorCountIsPositive) { EXPECT_GE(ProcessorCount(), 1); }

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
