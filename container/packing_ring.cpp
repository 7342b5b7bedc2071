// Writing: the ring of chunks that are filled in order, compressed on one or more
// threads and written in order.
#include <cstring>
#include <new>

#include "container/chunk_bytes.h"
#include "container/chunk_streams.h"
#include "core/heap.h"
#include "core/result.h"
#include "core/thread.h"

namespace qef {

using chunk_bytes::FreeBlock;

struct InflatingStream::WriteSlot {
  unsigned char* plain = nullptr;
  unsigned char* out = nullptr;
  uint32_t length = 0;
  uint32_t stored = 0;
  uint8_t flag = 0;
  uint8_t setting = 0;
  ChunkCompressor* compressor = nullptr;
  void Compress() { flag = compressor->Run(plain, length, setting, out, stored); }
  ~WriteSlot() {
    delete compressor;
    FreeBlock(plain, kMaxPlainChunk);
    FreeBlock(out, kCompressedBound);
  }
};

// Writing with several jobs: a ring of slots. This thread fills them in order, the
// workers compress whichever filled slot comes next, and this thread writes the finished
// ones in order; no chunk waits for a slow neighbour to end a batch. With one job (or no
// workers to be had) each chunk is compressed here as it fills.
struct InflatingStream::Workers {
  enum State : uint8_t { kFree, kFilled, kBusy, kDone };
  Mutex mutex;
  CondVar changed;
  WriteSlot* slots = nullptr;  // the stream's
  State* states = nullptr;
  int32_t count = 0;
  int32_t next_to_compress = 0;
  bool stopping = false;
  Thread* threads = nullptr;
  int32_t started = 0;

  ~Workers() {
    Stop();
    delete[] threads;
    delete[] states;
  }

  static void Work(void* self) {
    auto* w = static_cast<Workers*>(self);
    for (;;) {
      int32_t index = 0;
      {
        MutexLock lock(w->mutex);
        while (!w->stopping && w->states[w->next_to_compress] != kFilled) w->changed.Wait(w->mutex);
        if (w->stopping) return;
        index = w->next_to_compress;
        w->states[index] = kBusy;
        w->next_to_compress = (index + 1) % w->count;
      }
      w->slots[index].Compress();
      MutexLock lock(w->mutex);
      w->states[index] = kDone;
      w->changed.NotifyAll();
    }
  }

  void Stop() {
    {
      MutexLock lock(mutex);
      stopping = true;
      changed.NotifyAll();
    }
    for (int32_t i = 0; i < started; ++i) threads[i].Join();
    started = 0;
  }
};

// Everything writing needs, made at the first write; slot_count_ is set only once all
// of it is there.
bool InflatingStream::EnsureSlots() {
  if (slot_count_ > 0) return true;
  if (slots_ != nullptr) return false;  // an earlier attempt ran out of memory
  int32_t jobs = jobs_ > 64 ? 64 : jobs_;
  int32_t count = jobs == 1 ? 1 : jobs * 4;
  slots_ = new (std::nothrow) WriteSlot[count];
  workers_ = new (std::nothrow) Workers;
  if (slots_ == nullptr || workers_ == nullptr) return false;
  workers_->states = new (std::nothrow) Workers::State[count];
  if (workers_->states == nullptr) return false;
  workers_->count = count;
  workers_->slots = slots_;
  for (int32_t i = 0; i < count; ++i) {
    workers_->states[i] = Workers::kFree;
    slots_[i].plain = static_cast<unsigned char*>(HeapBlockAlloc(kMaxPlainChunk));
    slots_[i].out = static_cast<unsigned char*>(HeapBlockAlloc(kCompressedBound));
    slots_[i].compressor = compressor_factory_();
    if (slots_[i].plain == nullptr || slots_[i].out == nullptr || slots_[i].compressor == nullptr) return false;
  }
  slot_count_ = count;
  if (jobs > 1) {
    workers_->threads = new (std::nothrow) Thread[jobs];
    for (int32_t i = 0; workers_->threads != nullptr && i < jobs; ++i) {
      if (!workers_->threads[i].Start(&Workers::Work, workers_)) break;
      ++workers_->started;
    }
  }
  return true;
}

// Hands the slot being filled on for compressing.
void InflatingStream::SubmitSlot() {
  WriteSlot& slot = slots_[fill_];
  slot.setting = setting_;
  if (workers_->started == 0) {
    slot.Compress();
    workers_->states[fill_] = Workers::kDone;
  } else {
    MutexLock lock(workers_->mutex);
    workers_->states[fill_] = Workers::kFilled;
    workers_->changed.NotifyAll();
  }
  fill_ = (fill_ + 1) % slot_count_;
  ++in_flight_;
}

// Waits for the oldest chunk handed on and writes it (nothing more once an error is set).
int32_t InflatingStream::WriteOldest() {
  {
    MutexLock lock(workers_->mutex);
    while (workers_->states[oldest_] != Workers::kDone) workers_->changed.Wait(workers_->mutex);
    workers_->states[oldest_] = Workers::kFree;
  }
  WriteSlot& slot = slots_[oldest_];
  if (error_ == 0) {
    unsigned char head[kChunkHeadSize];
    head[0] = slot.flag;
    StoreLe32(head + 1, slot.stored);
    int32_t r = next_->Write(head, kChunkHeadSize);
    if (r == 0) r = next_->Write(slot.out, slot.stored);
    if (r != 0) error_ = r;
    ++counter_;
  }
  slot.length = 0;
  oldest_ = (oldest_ + 1) % slot_count_;
  --in_flight_;
  return error_;
}

int32_t InflatingStream::Write(const void* buffer, uint32_t length) {
  if (!BeginWrite(buffer, length)) return error_;
  if (compressor_factory_ == nullptr) return error_ = kUnsupported;
  if (!EnsureSlots()) return error_ = kOutOfMemory;
  auto* in = static_cast<const unsigned char*>(buffer);
  while (length > 0) {
    if (in_flight_ == slot_count_ && WriteOldest() != 0) return error_;
    WriteSlot& slot = slots_[fill_];
    uint32_t n = kMaxPlainChunk - slot.length < length ? kMaxPlainChunk - slot.length : length;
    std::memcpy(slot.plain + slot.length, in, n);
    slot.length += n;
    in += n;
    length -= n;
    if (slot.length == kMaxPlainChunk) SubmitSlot();
  }
  return error_;
}

// The last, part-filled chunk goes too; then every chunk handed on is written.
int32_t InflatingStream::FinishRing() {
  if (slot_count_ == 0) return 0;
  if (error_ == 0 && slots_[fill_].length > 0) SubmitSlot();
  while (in_flight_ > 0) WriteOldest();
  return error_;
}

void InflatingStream::FreeRing() {
  delete workers_;  // stops the workers before their slots go
  workers_ = nullptr;
  delete[] slots_;
  slots_ = nullptr;
  slot_count_ = 0;
}

}  // namespace qef
