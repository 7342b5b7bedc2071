#include "container/chunk_streams.h"

#include <cstring>

#include "container/chunk_bytes.h"
#include "core/result.h"
#include "crypto/hash.h"

namespace qef {

using chunk_bytes::CopyFromChunks;
using chunk_bytes::FreeBlock;

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

// ---- InflatingStream: what reading and writing share ----

InflatingStream::~InflatingStream() {
  StopAhead();
  FreeRing();
  FreeBlock(raw_, kCompressedBound);
  FreeBlock(plain_, kMaxPlainChunk + 1);
}

int32_t InflatingStream::Attach(Stream* next, uint8_t setting) {
  if (setting > kMaxCompressionSetting) return kUnsupported;
  if (FilterStream::Attach(next) != 0) return kNotReady;
  setting_ = setting;
  chunk_ = nullptr;
  chunk_length_ = position_ = counter_ = 0;
  return 0;
}

int32_t InflatingStream::Close() {
  StopAhead();
  int32_t r = 0;
  if (IsWriting() && next_ != nullptr) r = FinishRing();
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
