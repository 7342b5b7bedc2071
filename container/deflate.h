#pragma once
// The zlib compressor of the container writer.
#include "container/chunk_streams.h"

namespace qef {

// A new compressor for one chunk at a time (settings 1: level 9, 2: level 3, 0: stored).
ChunkCompressor* NewDeflateCompressor();

}  // namespace qef
