#include "container/deflate.h"

#include <zlib.h>

#include <cstring>
#include <new>

namespace qef {

namespace {

class DeflateCompressor : public ChunkCompressor {
 public:
  DeflateCompressor() { std::memset(&z_, 0, sizeof z_); }
  ~DeflateCompressor() override {
    if (level_ >= 0) deflateEnd(&z_);
  }

  uint8_t Run(const unsigned char* in, uint32_t n, uint8_t setting, unsigned char* out,
              uint32_t& out_length) override {
    if (setting == 0) {
      // Stored content still carries flag 1; the reader uses such bytes as they are.
      std::memcpy(out, in, n);
      out_length = n;
      return 1;
    }
    int wanted = setting == 1 ? 9 : 3;
    // Same parameters as zlib's compress2, so the bytes are those compress2 gives; the
    // stream is reset rather than rebuilt for every chunk.
    bool ready = level_ == wanted && deflateReset(&z_) == Z_OK;
    if (!ready) {
      if (level_ >= 0) deflateEnd(&z_);
      std::memset(&z_, 0, sizeof z_);
      level_ = deflateInit(&z_, wanted) == Z_OK ? wanted : -1;
    }
    if (level_ >= 0) {
      z_.next_in = const_cast<unsigned char*>(in);
      z_.avail_in = n;
      z_.next_out = out;
      z_.avail_out = kCompressedBound;
      int zr = deflate(&z_, Z_FINISH);
      uint32_t produced = kCompressedBound - z_.avail_out;
      if (zr == Z_STREAM_END && produced > 0 && produced < n) {
        out_length = produced;
        return 1;
      }
    }
    std::memcpy(out, in, n);
    out_length = n;
    return 0;
  }

 private:
  z_stream z_;
  int level_ = -1;
};

}  // namespace

ChunkCompressor* NewDeflateCompressor() { return new (std::nothrow) DeflateCompressor; }

}  // namespace qef
