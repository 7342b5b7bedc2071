#pragma once
// The chunk compressor of the container writer: zlib streams made by libdeflate.
#include "container/chunk_streams.h"

namespace qef {

// A new compressor for one chunk at a time (any CompressionSetting).
ChunkCompressor* NewDeflateCompressor();

}  // namespace qef
