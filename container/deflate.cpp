#include "container/deflate.h"

#include <libdeflate.h>

#include <cstring>
#include <new>

namespace qef {

namespace {

// The levels were chosen by measurement on chunks of source, text, shared libraries and
// random bytes (see the README): "best" stores less than zlib's level 9 in a fraction
// of its time, "fast" less than zlib's level 3 in less time.
const int kBestLevel = 6;
const int kFastLevel = 4;

class DeflateCompressor : public ChunkCompressor {
 public:
  ~DeflateCompressor() override { libdeflate_free_compressor(compressor_); }

  uint8_t Run(const unsigned char* in, uint32_t n, uint8_t setting, unsigned char* out, uint32_t& out_length) override {
    if (setting == kCompressionStored) {
      // Stored content still carries the deflated flag; the reader uses such bytes as they are.
      std::memcpy(out, in, n);
      out_length = n;
      return kChunkDeflated;
    }
    int wanted = setting == kCompressionBest ? kBestLevel : kFastLevel;
    if (level_ != wanted) {
      // A compressor is made for one level and kept for every chunk after.
      libdeflate_free_compressor(compressor_);
      compressor_ = libdeflate_alloc_compressor(wanted);
      level_ = compressor_ != nullptr ? wanted : -1;
    }
    // Room for one byte less than the input: a stream that does not shrink the chunk
    // does not fit, and the chunk is stored plain.
    size_t produced = 0;
    if (compressor_ != nullptr && n > 1) produced = libdeflate_zlib_compress(compressor_, in, n, out, n - 1);
    if (produced > 0) {
      out_length = static_cast<uint32_t>(produced);
      return kChunkDeflated;
    }
    std::memcpy(out, in, n);
    out_length = n;
    return kChunkPlain;
  }

 private:
  libdeflate_compressor* compressor_ = nullptr;
  int level_ = -1;
};

}  // namespace

ChunkCompressor* NewDeflateCompressor() { return new (std::nothrow) DeflateCompressor; }

}  // namespace qef
