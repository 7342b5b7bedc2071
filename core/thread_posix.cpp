// Threads natively: std::thread, std::mutex and std::condition_variable. Only this file
// and thread_win32.cpp create threads or locks.
#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "core/thread.h"

namespace qef {

Mutex::Mutex() : impl_(new std::mutex) {}
Mutex::~Mutex() { delete static_cast<std::mutex*>(impl_); }
void Mutex::Lock() { static_cast<std::mutex*>(impl_)->lock(); }
void Mutex::Unlock() { static_cast<std::mutex*>(impl_)->unlock(); }

CondVar::CondVar() : impl_(new std::condition_variable) {}
CondVar::~CondVar() { delete static_cast<std::condition_variable*>(impl_); }

void CondVar::Wait(Mutex& locked) {
  std::unique_lock<std::mutex> lock(*static_cast<std::mutex*>(locked.impl_), std::adopt_lock);
  static_cast<std::condition_variable*>(impl_)->wait(lock);
  lock.release();  // the caller keeps the mutex locked
}

void CondVar::NotifyAll() { static_cast<std::condition_variable*>(impl_)->notify_all(); }

// std::thread reports a thread the system cannot create (no memory for its stack) by
// throwing; here it is a false answer, which the callers handle.
//
// A new thread starts with every signal sent from outside blocked (it inherits the mask
// in place while it is created), so such a signal always reaches the main thread: its
// handler has run before the main thread takes its next step, so a run never finishes
// as though the signal had not come, and a worker's reads and writes are never cut
// short by one. The signals of a fault stay open: blocked, they would end the process
// without the report a sanitiser or a debugger gives.
bool Thread::Start(void (*fn)(void*), void* arg) {
  Join();
  sigset_t outside, old;
  sigfillset(&outside);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) sigdelset(&outside, fault);
  pthread_sigmask(SIG_BLOCK, &outside, &old);
  try {
    impl_ = new std::thread(fn, arg);
  } catch (const std::exception&) {
    impl_ = nullptr;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return impl_ != nullptr;
}

void Thread::Join() {
  auto* t = static_cast<std::thread*>(impl_);
  if (t == nullptr) return;
  if (t->joinable()) t->join();
  delete t;
  impl_ = nullptr;
}

int32_t ProcessorCount() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(n);
}

}  // namespace qef
