#include "core/stream.h"

#include <cstring>

#include "core/endian.h"
#include "core/heap.h"
#include "core/result.h"

namespace qef {

int32_t SendProgress(const ProgressCallback* callback, int32_t message, int32_t value) {
  if (callback == nullptr || callback->function == nullptr) return 0;
  return callback->function(message, value, callback->user1, callback->user2);
}

uint32_t Percentage(uint32_t done, uint32_t all) {
  if (all == 0) return 0;
  if (done == all) return 100;
  if (all > 10000 || done > 10000) {
    all /= 100;
    done /= 100;
    if (all == 0) return 100;  // only reached when done > all: capped below anyway
  }
  uint32_t p = done * 100 / all;
  return p > 100 ? 100 : p;
}

// ---- Stream ----

int32_t Stream::Close() {
  mode_ = kModeClosed;
  error_ = 0;
  return 0;
}

int32_t Stream::Transfer(void* buffer, uint32_t length) {
  if (GetMode() == kModeReading) return Read(buffer, length);
  if (GetMode() == kModeWriting) return Write(buffer, length);
  return kNotReady;
}

int32_t Stream::Read(void* buffer, uint32_t length) { return CheckRead(buffer, length); }

int32_t Stream::Write(const void* buffer, uint32_t length) { return CheckWrite(buffer, length); }

int32_t Stream::CheckRead(const void* buffer, uint32_t length) {
  if (!IsReading()) {
    error_ = kWrongDirection;
    return kWrongDirection;
  }
  if (error_ != 0 || buffer == nullptr || length == 0) return kBadArgument;
  total_ += length;
  return 0;
}

int32_t Stream::CheckWrite(const void* buffer, uint32_t length) {
  if (!IsWriting()) {
    error_ = kWrongDirection;
    return kWrongDirection;
  }
  if (error_ != 0 || buffer == nullptr || length == 0) return kBadArgument;
  total_ += length;
  return 0;
}

int32_t Stream::Open(int32_t mode, const StreamParams* params) {
  if (mode_ != kModeClosed) Close();
  error_ = 0;
  total_ = 0;
  counting_ = false;
  params_ = params;
  if (mode == kModeWriting || mode == kModeReading) {
    mode_ = mode;
    return 0;
  }
  mode_ = kModeClosed;
  return mode == kModeClosed ? 0 : kWrongDirection;
}

int32_t Stream::OpenCounting() {
  int32_t r = Open(kModeWriting, nullptr);
  counting_ = true;
  return r;
}

int32_t Stream::Fail(int32_t code) {
  if (error_ == 0) error_ = code;
  return error_;
}

int32_t Stream::ReadU8(uint8_t& v) { return Read(&v, 1); }

int32_t Stream::ReadU16(uint16_t& v) {
  unsigned char b[2] = {0, 0};
  int32_t r = Read(b, 2);
  v = LoadLe16(b);
  return r;
}

int32_t Stream::ReadU32(uint32_t& v) {
  unsigned char b[4] = {0, 0, 0, 0};
  int32_t r = Read(b, 4);
  v = LoadLe32(b);
  return r;
}

int32_t Stream::ReadDouble(double& v) {
  unsigned char b[8] = {0};
  int32_t r = Read(b, 8);
  uint64_t bits = LoadLe64(b);
  std::memcpy(&v, &bits, 8);
  return r;
}

int32_t Stream::WriteU8(uint8_t v) { return Write(&v, 1); }

int32_t Stream::WriteU16(uint16_t v) {
  unsigned char b[2];
  StoreLe16(b, v);
  return Write(b, 2);
}

int32_t Stream::WriteU32(uint32_t v) {
  unsigned char b[4];
  StoreLe32(b, v);
  return Write(b, 4);
}

int32_t Stream::WriteDouble(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, 8);
  unsigned char b[8];
  StoreLe64(b, bits);
  return Write(b, 8);
}

int32_t Stream::WriteCountedString(const Text& text) {
  uint32_t n = static_cast<uint32_t>(text.GetLength());
  if (n < 255) {
    WriteU8(static_cast<uint8_t>(n));
  } else {
    WriteU8(0xFF);
    WriteU32(n);
  }
  Write(text.Str(), n);
  return error_;
}

int32_t Stream::ReadCountedString(Text& text, uint32_t most) {
  uint8_t b = 0;
  text.Assign("");
  if (ReadU8(b) != 0) return error_;
  int32_t n = b;
  if (b == 0xFF) {
    uint32_t wide = 0;
    if (ReadU32(wide) != 0) return error_;
    n = static_cast<int32_t>(wide);
  }
  if (n <= 0) return error_;
  if (static_cast<uint32_t>(n) > most) return Fail(kOutOfMemory);
  unsigned char* block = ReadBlock(static_cast<uint32_t>(n), 1);
  if (block != nullptr) {
    text.Assign(reinterpret_cast<char*>(block));  // up to the first zero byte
    SecureWipe(block, static_cast<size_t>(n) + 1);
    HeapBlockFree(block);
  }
  return error_;
}

unsigned char* Stream::ReadBlock(uint32_t n, uint32_t spare) {
  const uint32_t kPiece = 1u << 20;
  const uint32_t kFirst = 1u << 16;
  uint64_t full = static_cast<uint64_t>(n) + spare;
  if (full > 0xFFFFFFFFu) {
    Fail(kOutOfMemory);
    return nullptr;
  }
  // Start with what a small record needs; grow by doubling as pieces arrive.
  uint64_t cap = full < kFirst ? full : kFirst;
  auto* block = static_cast<unsigned char*>(HeapBlockAlloc(static_cast<size_t>(cap)));
  if (block == nullptr) {
    Fail(kOutOfMemory);
    return nullptr;
  }
  uint32_t have = 0;
  while (have < n) {
    if (have + static_cast<uint64_t>(spare) == cap) {
      uint64_t grown = cap * 2 < full ? cap * 2 : full;
      auto* bigger = static_cast<unsigned char*>(HeapBlockAlloc(static_cast<size_t>(grown)));
      if (bigger == nullptr) {
        Fail(kOutOfMemory);
        break;
      }
      std::memcpy(bigger, block, have);
      SecureWipe(block, static_cast<size_t>(cap));
      HeapBlockFree(block);
      block = bigger;
      cap = grown;
    }
    uint32_t room = static_cast<uint32_t>(cap - spare - have);
    uint32_t step = n - have < room ? n - have : room;
    if (step > kPiece) step = kPiece;
    if (Read(block + have, step) != 0) break;
    have += step;
  }
  if (error_ != 0 || have < n) {
    if (error_ == 0) Fail(kShortRead);
    SecureWipe(block, static_cast<size_t>(cap));
    HeapBlockFree(block);
    return nullptr;
  }
  for (uint32_t i = 0; i < spare; ++i) block[n + i] = 0;
  return block;
}

// ---- FilterStream ----

int32_t FilterStream::Attach(Stream* next) {
  if (next == nullptr) return kBadArgument;
  if (Open(next->GetMode(), next->GetParams()) != 0) {
    Close();
    return kAttachFailed;
  }
  next_ = next;
  return 0;
}

int32_t FilterStream::Close() {
  next_ = nullptr;
  return Stream::Close();
}

bool FilterStream::BeginRead(const void* buffer, uint32_t length) {
  if (CheckRead(buffer, length) != 0) return false;
  if (next_ == nullptr) {
    error_ = kNotReady;
    return false;
  }
  return true;
}

bool FilterStream::BeginWrite(const void* buffer, uint32_t length) {
  if (CheckWrite(buffer, length) != 0) return false;
  if (next_ == nullptr) {
    error_ = kNotReady;
    return false;
  }
  return true;
}

int32_t FilterStream::Read(void* buffer, uint32_t length) {
  BeginRead(buffer, length);
  return error_;
}

int32_t FilterStream::Write(const void* buffer, uint32_t length) {
  BeginWrite(buffer, length);
  return error_;
}

// ---- ProgressStream ----

int32_t ProgressStream::Send(int32_t message, int32_t value) {
  error_ = SendProgress(&callback_, message, value);
  return error_;
}

int32_t ProgressStream::Attach(Stream* next) {
  int32_t r = FilterStream::Attach(next);
  if (r != 0) {
    Close();
    return kAttachFailed;
  }
  callback_ = ProgressCallback();
  if (params_ != nullptr && params_->progress != nullptr) callback_ = *params_->progress;
  Send(100, 100);
  return 0;
}

int32_t ProgressStream::AfterTransfer(int32_t result) {
  error_ = result;
  if (result == 0) {
    uint32_t all = (params_ != nullptr && params_->progress_total != 0) ? params_->progress_total : 100;
    Send(102, static_cast<int32_t>(Percentage(total_, all)));
  }
  return error_;
}

int32_t ProgressStream::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  return AfterTransfer(next_->Read(buffer, length));
}

int32_t ProgressStream::Write(const void* buffer, uint32_t length) {
  if (!BeginWrite(buffer, length)) return error_;
  return AfterTransfer(next_->Write(buffer, length));
}

int32_t ProgressStream::Close() {
  if (mode_ != kModeClosed) Send(105, 0);
  callback_ = ProgressCallback();
  return FilterStream::Close();
}

}  // namespace qef
