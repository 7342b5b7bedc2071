// Reading with a second thread that reads, decrypts and inflates ahead of the reader.
#include <new>

#include "container/chunk_bytes.h"
#include "container/chunk_streams.h"
#include "core/heap.h"
#include "core/thread.h"

namespace qef {

using chunk_bytes::FreeBlock;

// Chunks in flight between the thread that reads ahead and the reader. A slot is
// fetched by the ahead thread (in order), inflated by whichever thread claims it, and
// handed to the reader in order; the reader gives it back when it loads the next one.
struct InflatingStream::Ahead {
  static const int32_t kSlots = 16;
  enum State { kFree, kFetched, kClaimed, kReady };
  struct Slot {
    unsigned char* raw = nullptr;
    unsigned char* plain = nullptr;
    uint32_t stored = 0;
    uint8_t flag = 0;
    State state = kFree;
    int32_t error = 0;
    const unsigned char* content = nullptr;
    uint32_t length = 0;
  };
  Mutex mutex;
  CondVar changed;
  Slot slots[kSlots];
  uint64_t fetched = 0;   // slots fetched so far (the next to fetch is fetched % kSlots)
  uint64_t consumed = 0;  // slots handed to the reader and given back
  bool holding = false;   // the reader holds slot consumed % kSlots
  bool fetch_done = false;
  bool stop = false;
  Inflater inflater;  // the ahead thread's own
  Thread thread;

  ~Ahead() {
    for (Slot& s : slots) {
      FreeBlock(s.raw, kCompressedBound);
      FreeBlock(s.plain, kMaxPlainChunk + 1);
    }
  }
  void Publish(Slot& s, int32_t error);
  // The oldest fetched slot nobody inflates yet, or null. Called locked.
  Slot* Unclaimed() {
    for (uint64_t q = consumed; q < fetched; ++q) {
      Slot& s = slots[q % kSlots];
      if (s.state == kFetched) return &s;
    }
    return nullptr;
  }
};

// Hands an inflated slot on with its outcome and tells everyone waiting.
void InflatingStream::Ahead::Publish(Slot& s, int32_t error) {
  MutexLock lock(mutex);
  s.error = error;
  s.state = kReady;
  changed.NotifyAll();
}

bool InflatingStream::StartAhead() {
  ahead_ = new (std::nothrow) Ahead;
  bool ok = ahead_ != nullptr;
  for (int32_t i = 0; ok && i < Ahead::kSlots; ++i) {
    ahead_->slots[i].raw = static_cast<unsigned char*>(HeapBlockAlloc(kCompressedBound));
    ahead_->slots[i].plain = static_cast<unsigned char*>(HeapBlockAlloc(kMaxPlainChunk + 1));
    ok = ahead_->slots[i].raw != nullptr && ahead_->slots[i].plain != nullptr;
  }
  if (ok) ok = ahead_->thread.Start(&AheadThread, this);
  if (!ok) {
    delete ahead_;
    ahead_ = nullptr;
  }
  return ok;
}

// The ahead thread: fetches the next chunk while there is a free slot, else inflates
// the oldest fetched chunk nobody has claimed, else waits. The lock is held only to
// choose the work and to publish its outcome, never while reading or inflating.
void InflatingStream::AheadThread(void* self_) {
  auto* self = static_cast<InflatingStream*>(self_);
  Ahead& a = *self->ahead_;
  for (;;) {
    Ahead::Slot* fetch = nullptr;
    Ahead::Slot* inflate = nullptr;
    {
      MutexLock lock(a.mutex);
      while (fetch == nullptr && inflate == nullptr) {
        if (a.stop) return;
        if (!a.fetch_done && a.fetched - a.consumed < Ahead::kSlots) {
          fetch = &a.slots[a.fetched % Ahead::kSlots];
        } else if ((inflate = a.Unclaimed()) != nullptr) {
          inflate->state = Ahead::kClaimed;
        } else {
          a.changed.Wait(a.mutex);
        }
      }
    }
    if (fetch != nullptr) {
      // The slot is not counted as fetched yet, so nobody else looks at it.
      int32_t r = self->FetchChunk(fetch->raw, fetch->flag, fetch->stored);
      MutexLock lock(a.mutex);
      fetch->error = r;
      fetch->state = r == 0 ? Ahead::kFetched : Ahead::kReady;
      if (r != 0) a.fetch_done = true;  // the reader meets the error in order
      ++a.fetched;
      a.changed.NotifyAll();
    } else {
      int32_t r = a.inflater.Run(inflate->raw, inflate->stored, inflate->flag, self->setting_, inflate->plain,
                                 &inflate->content, &inflate->length);
      a.Publish(*inflate, r);
    }
  }
}

int32_t InflatingStream::RefillAhead() {
  Ahead& a = *ahead_;
  for (;;) {
    Ahead::Slot* claim = nullptr;
    {
      MutexLock lock(a.mutex);
      if (a.holding) {
        a.slots[a.consumed % Ahead::kSlots].state = Ahead::kFree;
        ++a.consumed;
        a.holding = false;
        a.changed.NotifyAll();
      }
      while (claim == nullptr) {
        Ahead::Slot* s = a.consumed < a.fetched ? &a.slots[a.consumed % Ahead::kSlots] : nullptr;
        if (s != nullptr && s->state == Ahead::kReady) {
          if (s->error != 0) return error_ = s->error;
          a.holding = true;
          chunk_ = s->content;
          chunk_length_ = s->length;
          position_ = 0;
          ++counter_;
          return 0;
        }
        // Rather than wait, the reader inflates a chunk itself: its next one, or, while
        // the other thread inflates that, the oldest one nobody has claimed, so that the
        // inflating is shared whichever side is the slower.
        claim = s != nullptr && s->state == Ahead::kFetched ? s : a.Unclaimed();
        if (claim != nullptr) {
          claim->state = Ahead::kClaimed;
        } else {
          a.changed.Wait(a.mutex);
        }
      }
    }
    int32_t r =
        inflater_.Run(claim->raw, claim->stored, claim->flag, setting_, claim->plain, &claim->content, &claim->length);
    a.Publish(*claim, r);
  }
}

void InflatingStream::StopAhead() {
  if (ahead_ == nullptr) return;
  {
    MutexLock lock(ahead_->mutex);
    ahead_->stop = true;
    ahead_->changed.NotifyAll();
  }
  ahead_->thread.Join();
  delete ahead_;
  ahead_ = nullptr;
}

}  // namespace qef
