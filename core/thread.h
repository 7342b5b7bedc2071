#pragma once
// Threads and their synchronisation, behind one small interface: std::thread and its
// kin natively, the Windows API in the win32 build (whose thread model has neither).
#include <cstdint>

namespace qef {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  friend class CondVar;
  void* impl_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.Lock(); }
  ~MutexLock() { m_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

class CondVar {
 public:
  CondVar();
  ~CondVar();
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  // Releases the locked mutex while waiting; may wake without a notification.
  void Wait(Mutex& locked);
  void NotifyAll();

 private:
  void* impl_;
};

class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Starts fn(arg) on a new thread; false when no thread could be made.
  bool Start(void (*fn)(void*), void* arg);
  // Waits for the thread's end; nothing when none was started.
  void Join();

 private:
  void* impl_ = nullptr;
};

// The number of processors the system offers (at least 1).
int32_t ProcessorCount();

}  // namespace qef
