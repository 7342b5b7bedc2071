// Reading one chunk at a time on the reader's own thread: fetch a stored chunk,
// inflate it, hand out its bytes. Also the inflater every reading thread uses.
#include <libdeflate.h>

#include "container/chunk_bytes.h"
#include "container/chunk_streams.h"
#include "core/heap.h"
#include "core/result.h"

namespace qef {

using chunk_bytes::CopyFromChunks;
using chunk_bytes::FreeBlock;

InflatingStream::Inflater::~Inflater() { libdeflate_free_decompressor(decompressor); }

int32_t InflatingStream::Inflater::Run(const unsigned char* raw, uint32_t stored, uint8_t flag, uint8_t setting,
                                       unsigned char* plain, const unsigned char** content, uint32_t* length) {
  if (flag != kChunkPlain && setting != kCompressionStored) {
    if (decompressor == nullptr) decompressor = libdeflate_alloc_decompressor();
    if (decompressor == nullptr) return kOutOfMemory;
    // One byte more than a chunk may hold, so that an oversized result shows. Bytes
    // after the stream's end are ignored, as zlib's inflate ignores them.
    size_t in_used = 0;
    size_t out_made = 0;
    if (libdeflate_zlib_decompress_ex(decompressor, raw, stored, plain, kMaxPlainChunk + 1, &in_used, &out_made) !=
        LIBDEFLATE_SUCCESS)
      return kBadChunk;
    *content = plain;
    *length = static_cast<uint32_t>(out_made);
  } else {
    *content = raw;
    *length = stored;
  }
  return *length == 0 || *length > kMaxPlainChunk ? kBadChunk : 0;
}

bool InflatingStream::EnsureBuffers() {
  if (raw_ == nullptr) raw_ = static_cast<unsigned char*>(HeapBlockAlloc(kCompressedBound));
  if (plain_ == nullptr) plain_ = static_cast<unsigned char*>(HeapBlockAlloc(kMaxPlainChunk + 1));
  return raw_ != nullptr && plain_ != nullptr;
}

int32_t InflatingStream::FetchChunk(unsigned char* raw, uint8_t& flag, uint32_t& stored) {
  unsigned char head[kChunkHeadSize];
  int32_t r = next_->Read(head, kChunkHeadSize);
  if (r != 0) return r;
  flag = head[0];
  stored = LoadLe32(head + 1);
  if (stored > kMaxPlainChunk) return kBadChunk;
  if (stored > 0) r = next_->Read(raw, stored);
  return r;
}

int32_t InflatingStream::Refill() {
  // Without a second thread (no memory, no thread) reading goes on alone.
  if (read_ahead_ > 1 && ahead_ == nullptr && !StartAhead()) read_ahead_ = 1;
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

}  // namespace qef
