// Threads in the win32 build: CreateThread, critical sections and condition variables
// of the Windows API. Only this file and thread_posix.cpp create threads or locks.
#include <windows.h>

#include <new>

#include "core/thread.h"

namespace qef {

Mutex::Mutex() : impl_(new CRITICAL_SECTION) { InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

Mutex::~Mutex() {
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
  delete static_cast<CRITICAL_SECTION*>(impl_);
}

void Mutex::Lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }
void Mutex::Unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

CondVar::CondVar() : impl_(new CONDITION_VARIABLE) {
  InitializeConditionVariable(static_cast<CONDITION_VARIABLE*>(impl_));
}
CondVar::~CondVar() { delete static_cast<CONDITION_VARIABLE*>(impl_); }

void CondVar::Wait(Mutex& locked) {
  SleepConditionVariableCS(static_cast<CONDITION_VARIABLE*>(impl_), static_cast<CRITICAL_SECTION*>(locked.impl_),
                           INFINITE);
}

void CondVar::NotifyAll() { WakeAllConditionVariable(static_cast<CONDITION_VARIABLE*>(impl_)); }

namespace {

struct StartInfo {
  void (*fn)(void*);
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  StartInfo s = *static_cast<StartInfo*>(p);
  delete static_cast<StartInfo*>(p);
  s.fn(s.arg);
  return 0;
}

}  // namespace

bool Thread::Start(void (*fn)(void*), void* arg) {
  Join();
  auto* s = new (std::nothrow) StartInfo{fn, arg};
  if (s == nullptr) return false;
  HANDLE h = CreateThread(nullptr, 0, &Trampoline, s, 0, nullptr);
  if (h == nullptr) {
    delete s;
    return false;
  }
  impl_ = h;
  return true;
}

void Thread::Join() {
  if (impl_ == nullptr) return;
  WaitForSingleObject(static_cast<HANDLE>(impl_), INFINITE);
  CloseHandle(static_cast<HANDLE>(impl_));
  impl_ = nullptr;
}

int32_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors == 0 ? 1 : static_cast<int32_t>(info.dwNumberOfProcessors);
}

}  // namespace qef
