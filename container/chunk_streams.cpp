#include "container/chunk_streams.h"

#include <cstring>
#include <new>

#include "core/heap.h"
#include "core/thread.h"
#include "core/result.h"
#include "crypto/hash.h"

namespace qef {

namespace {

uint32_t LoadLe32(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

void StoreLe32(unsigned char* b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
  b[2] = static_cast<unsigned char>(v >> 16);
  b[3] = static_cast<unsigned char>(v >> 24);
}

// Copies `length` bytes out of a series of chunks into `out`, loading the next chunk
// (load() answers 0 or the stream's error) whenever the current one is used up. A
// chunk that holds nothing is passed over.
template <typename Bytes, typename Load>
int32_t CopyFromChunks(unsigned char* out, uint32_t length, const Bytes& chunk, uint32_t& position,
                       const uint32_t& chunk_length, Load load) {
  while (length > 0) {
    if (position == chunk_length) {
      int32_t r = load();
      if (r != 0) return r;
      continue;
    }
    uint32_t n = chunk_length - position < length ? chunk_length - position : length;
    std::memcpy(out, chunk + position, n);
    position += n;
    out += n;
    length -= n;
  }
  return 0;
}

void FreeBlock(unsigned char*& block, uint32_t size) {
  if (block != nullptr) {
    SecureWipe(block, size);  // decrypted content may be private
    HeapBlockFree(block);
    block = nullptr;
  }
}

}  // namespace

// ---- DecryptingStream ----

DecryptingStream::~DecryptingStream() { FreeBlock(chunk_, capacity_); }

int32_t DecryptingStream::Attach(Stream* next, uint8_t cipher_id) {
  int32_t r = FilterStream::Attach(next);
  if (r != 0) return r;
  FreeBlock(chunk_, capacity_);
  cipher_id_ = cipher_id;
  block_size_ = BlockSize(cipher_id);
  capacity_ = block_size_ * 65536;
  chunk_length_ = position_ = counter_ = 0;
  return 0;
}

int32_t DecryptingStream::SetUpCiphers(const Text& password, const Value* vector) {
  int32_t r = data_chain_.Init(cipher_id_, GetMode(), password, vector);
  if (r == 0) r = length_chain_.Init(cipher_id_, GetMode(), password, vector);
  chunk_length_ = position_ = counter_ = 0;
  return r;
}

bool DecryptingStream::EnsureBuffer() {
  if (chunk_ == nullptr && capacity_ > 0) chunk_ = static_cast<unsigned char*>(HeapBlockAlloc(capacity_));
  return chunk_ != nullptr;
}

int32_t DecryptingStream::LoadChunk() {
  unsigned char block[16] = {};
  if (block_size_ == 0 || block_size_ > sizeof block) return error_ = kUnsupported;
  int32_t r = next_->Read(block, block_size_);
  if (r == 0) r = length_chain_.Decrypt(block, block_size_);
  if (r != 0) return error_ = r;
  uint32_t n = LoadLe32(block);
  if (n > capacity_) return error_ = kCipherRefused;
  if (!EnsureBuffer()) return error_ = kOutOfMemory;
  uint32_t padded = (n + block_size_ - 1) / block_size_ * block_size_;
  if (padded > capacity_) return error_ = kBadChunk;
  if (padded > 0) {
    r = next_->Read(chunk_, padded);
    if (r == 0) r = data_chain_.Decrypt(chunk_, padded);
    if (r != 0) return error_ = r;
  }
  chunk_length_ = n;
  position_ = 0;
  ++counter_;
  return 0;
}

int32_t DecryptingStream::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  CopyFromChunks(static_cast<unsigned char*>(buffer), length, chunk_, position_, chunk_length_,
                 [this] { return LoadChunk(); });
  return error_;
}

int32_t DecryptingStream::Flush() {
  uint32_t p = position_;
  uint32_t padded = (p + block_size_ - 1) / block_size_ * block_size_;
  std::memset(chunk_ + p, 0, padded - p);
  unsigned char block[16] = {};
  StoreLe32(block, p);
  int32_t r = data_chain_.Encrypt(chunk_, padded);
  if (r == 0) r = length_chain_.Encrypt(block, block_size_);
  if (r == 0) r = next_->Write(block, block_size_);
  if (r == 0 && padded > 0) r = next_->Write(chunk_, padded);
  position_ = 0;
  ++counter_;
  if (r != 0) error_ = r;
  return error_;
}

int32_t DecryptingStream::Write(const void* buffer, uint32_t length) {
  if (!BeginWrite(buffer, length)) return error_;
  if (!EnsureBuffer()) return error_ = kOutOfMemory;
  auto* in = static_cast<const unsigned char*>(buffer);
  while (length > 0) {
    uint32_t n = capacity_ - position_ < length ? capacity_ - position_ : length;
    std::memcpy(chunk_ + position_, in, n);
    position_ += n;
    in += n;
    length -= n;
    if (position_ == capacity_ && Flush() != 0) return error_;
  }
  return error_;
}

int32_t DecryptingStream::Close() {
  int32_t r = 0;
  if (IsWriting() && error_ == 0 && position_ > 0 && next_ != nullptr) r = Flush();
  chunk_length_ = position_ = 0;
  FilterStream::Close();
  return r;
}

// ---- InflatingStream ----

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

InflatingStream::Inflater::Inflater() { std::memset(&z, 0, sizeof z); }

InflatingStream::Inflater::~Inflater() {
  if (ready) inflateEnd(&z);
}

int32_t InflatingStream::Inflater::Run(const unsigned char* raw, uint32_t stored, uint8_t flag, uint8_t setting,
                                       unsigned char* plain, const unsigned char** content, uint32_t* length) {
  if (flag != 0 && setting != 0) {
    if (!ready) {
      if (inflateInit(&z) != Z_OK) return kOutOfMemory;
      ready = true;
    } else if (inflateReset(&z) != Z_OK) {
      return kBadChunk;
    }
    // One byte more than a chunk may hold, so that an oversized result shows.
    z.next_in = const_cast<unsigned char*>(raw);
    z.avail_in = stored;
    z.next_out = plain;
    z.avail_out = kMaxPlainChunk + 1;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) return kBadChunk;
    *content = plain;
    *length = kMaxPlainChunk + 1 - z.avail_out;
  } else {
    *content = raw;
    *length = stored;
  }
  return *length == 0 || *length > kMaxPlainChunk ? kBadChunk : 0;
}

// ---- reading ahead ----

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
  Inflater inflater;      // the ahead thread's own
  Thread thread;

  ~Ahead() {
    for (Slot& s : slots) {
      FreeBlock(s.raw, kCompressedBound);
      FreeBlock(s.plain, kMaxPlainChunk + 1);
    }
  }
  // The oldest fetched slot nobody inflates yet, or null. Called locked.
  Slot* Unclaimed() {
    for (uint64_t q = consumed; q < fetched; ++q) {
      Slot& s = slots[q % kSlots];
      if (s.state == kFetched) return &s;
    }
    return nullptr;
  }
};

void InflatingStream::AheadThread(void* self_) {
  auto* self = static_cast<InflatingStream*>(self_);
  Ahead& a = *self->ahead_;
  MutexLock lock(a.mutex);
  while (!a.stop) {
    if (!a.fetch_done && a.fetched - a.consumed < Ahead::kSlots) {
      Ahead::Slot& s = a.slots[a.fetched % Ahead::kSlots];
      a.mutex.Unlock();
      int32_t r = self->FetchChunk(s.raw, s.flag, s.stored);
      a.mutex.Lock();
      s.error = r;
      s.state = r == 0 ? Ahead::kFetched : Ahead::kReady;
      if (r != 0) a.fetch_done = true;  // the reader meets the error in order
      ++a.fetched;
      a.changed.NotifyAll();
      continue;
    }
    if (Ahead::Slot* s = a.Unclaimed()) {
      s->state = Ahead::kClaimed;
      a.mutex.Unlock();
      int32_t r = a.inflater.Run(s->raw, s->stored, s->flag, self->setting_, s->plain, &s->content, &s->length);
      a.mutex.Lock();
      s->error = r;
      s->state = Ahead::kReady;
      a.changed.NotifyAll();
      continue;
    }
    a.changed.Wait(a.mutex);
  }
}

int32_t InflatingStream::RefillAhead() {
  Ahead& a = *ahead_;
  MutexLock lock(a.mutex);
  if (a.holding) {
    a.slots[a.consumed % Ahead::kSlots].state = Ahead::kFree;
    ++a.consumed;
    a.holding = false;
    a.changed.NotifyAll();
  }
  for (;;) {
    if (a.consumed < a.fetched) {
      Ahead::Slot& s = a.slots[a.consumed % Ahead::kSlots];
      if (s.state == Ahead::kReady) {
        if (s.error != 0) return error_ = s.error;
        a.holding = true;
        chunk_ = s.content;
        chunk_length_ = s.length;
        position_ = 0;
        ++counter_;
        return 0;
      }
      if (s.state == Ahead::kFetched) {
        // Rather than wait, the reader inflates its next chunk itself.
        s.state = Ahead::kClaimed;
        a.mutex.Unlock();
        int32_t r = inflater_.Run(s.raw, s.stored, s.flag, setting_, s.plain, &s.content, &s.length);
        a.mutex.Lock();
        s.error = r;
        s.state = Ahead::kReady;
        a.changed.NotifyAll();
        continue;
      }
    }
    a.changed.Wait(a.mutex);
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

InflatingStream::~InflatingStream() {
  StopAhead();
  delete workers_;  // stops the workers before their slots go
  delete[] slots_;
  FreeBlock(raw_, kCompressedBound);
  FreeBlock(plain_, kMaxPlainChunk + 1);
}

int32_t InflatingStream::Attach(Stream* next, uint8_t setting) {
  if (setting > 2) return kUnsupported;
  if (FilterStream::Attach(next) != 0) return kNotReady;
  setting_ = setting;
  chunk_ = nullptr;
  chunk_length_ = position_ = counter_ = 0;
  return 0;
}

bool InflatingStream::EnsureBuffers() {
  if (raw_ == nullptr) raw_ = static_cast<unsigned char*>(HeapBlockAlloc(kCompressedBound));
  if (plain_ == nullptr) plain_ = static_cast<unsigned char*>(HeapBlockAlloc(kMaxPlainChunk + 1));
  return raw_ != nullptr && plain_ != nullptr;
}

int32_t InflatingStream::FetchChunk(unsigned char* raw, uint8_t& flag, uint32_t& stored) {
  unsigned char head[5];
  int32_t r = next_->Read(head, 5);
  if (r != 0) return r;
  flag = head[0];
  stored = LoadLe32(head + 1);
  if (stored > kMaxPlainChunk) return kBadChunk;
  if (stored > 0) r = next_->Read(raw, stored);
  return r;
}

int32_t InflatingStream::Refill() {
  if (read_ahead_ > 1 && ahead_ == nullptr) {
    // Starts the second thread; without one (no memory, no thread) reading goes on alone.
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
      read_ahead_ = 1;
    }
  }
  if (ahead_ != nullptr) return RefillAhead();
  if (!EnsureBuffers()) return error_ = kOutOfMemory;
  uint8_t flag = 0;
  uint32_t stored = 0;
  int32_t r = FetchChunk(raw_, flag, stored);
  if (r == 0) r = inflater_.Run(raw_, stored, flag, setting_, plain_, &chunk_, &chunk_length_);
  if (r != 0) return error_ = r;
  position_ = 0;
  ++counter_;
  return 0;
}

int32_t InflatingStream::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  CopyFromChunks(static_cast<unsigned char*>(buffer), length, chunk_, position_, chunk_length_,
                 [this] { return Refill(); });
  return error_;
}

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
    unsigned char head[5];
    head[0] = slot.flag;
    StoreLe32(head + 1, slot.stored);
    int32_t r = next_->Write(head, 5);
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

int32_t InflatingStream::Close() {
  StopAhead();
  int32_t r = 0;
  if (IsWriting() && next_ != nullptr && slot_count_ > 0) {
    // The last, part-filled chunk goes too; then every chunk handed on is written.
    if (error_ == 0 && slots_[fill_].length > 0) SubmitSlot();
    while (in_flight_ > 0) WriteOldest();
    r = error_;
  }
  chunk_ = nullptr;
  chunk_length_ = position_ = 0;
  FilterStream::Close();
  return r;
}

// ---- ContentStream ----

int32_t ContentStream::SetUp(Stream* file, const Text& password, const Value* vector, uint8_t cipher_id,
                             uint8_t setting) {
  int32_t r = FilterStream::Attach(file);
  if (r == 0 && decrypting_.Attach(file, cipher_id) != 0) r = kAttachFailed;
  if (r == 0 && !IsSupported(cipher_id)) r = kUnsupported;
  if (r == 0) {
    // The password check value is compared before either cipher chain is keyed, so a
    // wrong password never decrypts anything.
    uint16_t check = PasswordCheckValue(password);
    if (IsWriting()) {
      r = file->WriteU16(check);
    } else {
      uint16_t stored = 0;
      if (file->ReadU16(stored) != 0)
        r = kFailed;
      else if (stored != check)
        r = kWrongPassword;
    }
  }
  if (r == 0) r = decrypting_.SetUpCiphers(password, vector);
  if (r == 0) r = inflating_.Attach(&decrypting_, setting);
  if (r != 0) Close();
  return r;
}

int32_t ContentStream::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  return error_ = inflating_.Read(buffer, length);
}

int32_t ContentStream::Write(const void* buffer, uint32_t length) {
  if (!BeginWrite(buffer, length)) return error_;
  return error_ = inflating_.Write(buffer, length);
}

int32_t ContentStream::Close() {
  int32_t r = inflating_.Close();
  int32_t d = decrypting_.Close();
  FilterStream::Close();
  return r != 0 ? r : d;
}

}  // namespace qef
