#pragma once
// GoogleTest customisation for the mingw-w64 win32 thread model, which has no
// std::mutex or std::condition_variable. GoogleTest needs them only for its
// Notification helper, which only its own tests use: this one spins on a flag.
#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) {
    }
  }

 private:
  volatile bool notified_;
};

}  // namespace internal
}  // namespace testing
