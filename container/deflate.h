#pragma once
// The chunk compressor of the container writer: zlib streams made by libdeflate.
#include "container/chunk_streams.h"

namespace qef {

// A new compressor for one chunk at a time (settings 1: best, 2: fast, 0: stored).
ChunkCompressor* NewDeflateCompressor();

}  // namespace qef
