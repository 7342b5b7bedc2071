// The AES engine's library calls through the system's CNG (AES, CBC chaining, no
// padding), for Windows builds: CNG uses the processor's AES instructions, and the
// stub links no AES code of its own.
//
// CNG takes the chaining value as an argument of each call. The engine keeps it
// itself, as the last ciphertext block of the previous call, so that the chain does
// not depend on what a given CNG does to the vector it was handed.
//
// CBC decryption needs no chain from the blocks before: each block is decrypted and
// joined with the ciphertext block before it, which is known from the start. A long
// span is decrypted in two halves at once, the second half on a helper thread of the
// engine's own, each half through its own key handle (calls on one handle may wait
// for each other inside the library). Where CNG is slow (Wine's takes a detour through
// another library) that nearly halves the time; the bytes are the same either way.
// The helper ends with the engine, so that the stack it decrypted on (which the
// library may leave key material on) is given back with it.
#include <cstring>
#include <new>

#include "core/heap.h"
#include "core/result.h"
#include "core/thread.h"
#include "crypto/cipher.h"
#include "crypto/cng.h"

namespace qef {

namespace {

// The second half of a span, for the helper thread.
struct HalfSpan {
  BCRYPT_KEY_HANDLE key = nullptr;
  unsigned char* data = nullptr;
  uint32_t length = 0;
  unsigned char vector[AesEngine::kBlockSize] = {};
  bool ok = false;
};

}  // namespace

struct AesSchedule {
  const CngCalls* cng = nullptr;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  // Two handles of the same key: the second decrypts the second half of a long span.
  BCRYPT_KEY_HANDLE keys[2] = {};
  // The keys' storage (key_object_size bytes each, one after the other) is ours, so
  // that it can be wiped when the keys go.
  unsigned char* key_object = nullptr;
  ULONG key_object_size = 0;
  unsigned char chain[AesEngine::kBlockSize] = {};
  // The helper, started at the first long span. Under the lock: `has_work` hands it
  // `half`, `half_done` hands the half back, `quit` ends it.
  Thread helper;
  bool helper_running = false;
  Mutex lock;
  CondVar changed;
  HalfSpan half;
  bool has_work = false;
  bool half_done = false;
  bool quit = false;
};

namespace {

// Spans shorter than this are decrypted in one call: handing half of one to another
// thread would cost more than it saves.
const uint32_t kSplitLength = 256u << 10;

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One CBC decryption call in place, with its own copy of the vector (CNG may change it).
bool DecryptSpan(const CngCalls* cng, BCRYPT_KEY_HANDLE key, unsigned char* data, uint32_t length,
                 const unsigned char vector[AesEngine::kBlockSize]) {
  unsigned char iv[AesEngine::kBlockSize];
  std::memcpy(iv, vector, sizeof iv);
  ULONG done = 0;
  NTSTATUS status = cng->decrypt(key, data, length, nullptr, iv, sizeof iv, data, length, &done, 0);
  return Succeeded(status) && done == length;
}

void HelperThread(void* schedule) {
  AesSchedule& s = *static_cast<AesSchedule*>(schedule);
  for (;;) {
    {
      MutexLock hold(s.lock);
      while (!s.has_work && !s.quit) s.changed.Wait(s.lock);
      if (s.quit) return;
      s.has_work = false;
    }
    bool ok = DecryptSpan(s.cng, s.half.key, s.half.data, s.half.length, s.half.vector);
    MutexLock hold(s.lock);
    s.half.ok = ok;
    s.half_done = true;
    s.changed.NotifyAll();
  }
}

// True once the helper runs with the second key handle; false when either cannot be
// had (the spans then go whole). The second handle is made only here, for an engine
// that meets a long span: the library keeps a copy of the key for every handle, and
// may leave it behind in memory it frees without wiping.
bool EnsureHelper(AesSchedule& s) {
  if (s.keys[1] == nullptr &&
      !Succeeded(s.cng->duplicate_key(s.keys[0], &s.keys[1], s.key_object + s.key_object_size, s.key_object_size, 0)))
    s.keys[1] = nullptr;
  if (s.keys[1] == nullptr) return false;
  if (!s.helper_running) s.helper_running = s.helper.Start(&HelperThread, &s);
  return s.helper_running;
}

void StopHelper(AesSchedule& s) {
  if (!s.helper_running) return;
  {
    MutexLock hold(s.lock);
    s.quit = true;
    s.changed.NotifyAll();
  }
  s.helper.Join();
  s.helper_running = false;
}

// Decrypts in place: a long span in two halves at once, the second on the helper;
// else, or without a helper, in one call.
bool DecryptSplit(AesSchedule& s, unsigned char* data, uint32_t length,
                  const unsigned char vector[AesEngine::kBlockSize]) {
  if (length < kSplitLength || !EnsureHelper(s)) return DecryptSpan(s.cng, s.keys[0], data, length, vector);
  uint32_t first = length / 2 / AesEngine::kBlockSize * AesEngine::kBlockSize;
  {
    MutexLock hold(s.lock);
    s.half.key = s.keys[1];
    s.half.data = data + first;
    s.half.length = length - first;
    // The second half's vector is the first half's last ciphertext block, taken before
    // either half is decrypted over it.
    std::memcpy(s.half.vector, data + first - AesEngine::kBlockSize, AesEngine::kBlockSize);
    s.half.ok = false;
    s.half_done = false;
    s.has_work = true;
    s.changed.NotifyAll();
  }
  bool ok = DecryptSpan(s.cng, s.keys[0], data, first, vector);
  MutexLock hold(s.lock);
  while (!s.half_done) s.changed.Wait(s.lock);
  return ok && s.half.ok;
}

// An AES provider in CBC mode and the size of its key objects; false when the system
// has none.
bool OpenProvider(AesSchedule& s) {
  const CngCalls* cng = s.cng;
  if (!Succeeded(cng->open_algorithm(&s.algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
    s.algorithm = nullptr;
    return false;
  }
  ULONG got = 0;
  DWORD object_size = 0;
  if (!Succeeded(cng->set_property(s.algorithm, BCRYPT_CHAINING_MODE,
                                   reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                   sizeof(BCRYPT_CHAIN_MODE_CBC), 0)) ||
      !Succeeded(cng->get_property(s.algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_size),
                                   sizeof(object_size), &got, 0)) ||
      got != sizeof(object_size) || object_size == 0) {
    return false;
  }
  s.key_object = new (std::nothrow) unsigned char[2 * object_size];
  if (s.key_object == nullptr) return false;
  s.key_object_size = object_size;
  return true;
}

}  // namespace

void AesEngine::Release() {
  if (schedule_ == nullptr) return;
  StopHelper(*schedule_);
  ClearSchedule();
  if (schedule_->algorithm != nullptr) schedule_->cng->close_algorithm(schedule_->algorithm, 0);
  delete[] schedule_->key_object;
  SecureWipe(schedule_->chain, sizeof(schedule_->chain));
  delete schedule_;
  schedule_ = nullptr;
}

int AesEngine::PrepareChain(const unsigned char vector[kBlockSize]) {
  if (schedule_ == nullptr) {
    const CngCalls* cng = Cng();
    if (cng == nullptr) return kCipherRefused;
    schedule_ = new (std::nothrow) AesSchedule;
    if (schedule_ == nullptr) return kCipherRefused;
    schedule_->cng = cng;
    if (!OpenProvider(*schedule_)) {
      Release();
      return kCipherRefused;
    }
  }
  std::memcpy(schedule_->chain, vector, kBlockSize);
  return kOk;
}

void AesEngine::ClearSchedule() {
  for (BCRYPT_KEY_HANDLE& key : schedule_->keys) {
    if (key != nullptr) schedule_->cng->destroy_key(key);
    key = nullptr;
  }
  if (schedule_->key_object != nullptr) SecureWipe(schedule_->key_object, 2 * schedule_->key_object_size);
}

// The direction is not part of a CNG key; the engine checks it before every call.
int AesEngine::BuildSchedule(const unsigned char key[16], int) {
  AesSchedule& s = *schedule_;
  NTSTATUS status =
      s.cng->generate_key(s.algorithm, &s.keys[0], s.key_object, s.key_object_size, const_cast<PUCHAR>(key), 16, 0);
  if (Succeeded(status)) return kOk;
  s.keys[0] = nullptr;
  return kCipherRefused;
}

// In place over whole blocks. For decryption the last ciphertext block is the last
// input block, which the call overwrites, so it is put aside first.
int AesEngine::Process(unsigned char* data, uint32_t length) {
  AesSchedule& s = *schedule_;
  unsigned char next[kBlockSize];
  if (direction_ == kCipherEncrypt) {
    unsigned char vector[kBlockSize];
    std::memcpy(vector, s.chain, kBlockSize);
    ULONG done = 0;
    NTSTATUS status = s.cng->encrypt(s.keys[0], data, length, nullptr, vector, kBlockSize, data, length, &done, 0);
    if (!Succeeded(status) || done != length) return kCipherRefused;
    std::memcpy(next, data + length - kBlockSize, kBlockSize);
  } else {
    std::memcpy(next, data + length - kBlockSize, kBlockSize);
    if (!DecryptSplit(s, data, length, s.chain)) return kCipherRefused;
  }
  std::memcpy(s.chain, next, kBlockSize);
  return kOk;
}

}  // namespace qef
