#pragma once
// The streams behind a container's header. On disk the content is a series of
// encrypted chunks; decrypted, a series of compressed chunks; inflated, the content
// list. Each stream works in both directions, chosen by the stream it is attached to.
//
// Encrypted chunk: one length block (a cipher block holding the chunk's data length n,
// 4 bytes little-endian, then zeros; encrypted with the length chain), then n bytes
// rounded up to whole blocks (zero padding; encrypted with the data chain). The two
// chains are separate cipher instances, keyed alike, each chaining across the file.
//
// Compressed chunk: flag (1 byte: 1 passed through compression, 0 stored), length L
// (4 bytes, at most 65,535), L bytes: one zlib stream whose inflated size is 1 to
// 65,535 bytes when the flag is 1 and the setting is 1 or 2, else the plain bytes.
// libdeflate writes and reads the zlib streams; they are what zlib itself reads and
// writes, so containers from either library read alike.
#include <cstdint>

#include "core/format.h"
#include "core/stream.h"
#include "crypto/cipher.h"
#include "fs/file_stream.h"

struct libdeflate_decompressor;

namespace qef {

// Room for a compressed chunk: zlib's bound for a chunk of kMaxPlainChunk bytes.
const uint32_t kCompressedBound = kMaxPlainChunk + kMaxPlainChunk / 1000 + 64;

// Compresses one chunk of plain bytes into `out` (kCompressedBound bytes) and answers
// the flag to store, with out_length: 1 with the zlib stream when it is shorter than the
// input (or, for setting 0, the plain bytes), else 0 with the plain bytes. Independent
// of any stream, so chunks can be compressed on several threads with identical output.
// Only writers install one: a program that only reads links no compression code.
class ChunkCompressor {
 public:
  virtual ~ChunkCompressor() = default;
  virtual uint8_t Run(const unsigned char* in, uint32_t n, uint8_t setting, unsigned char* out,
                      uint32_t& out_length) = 0;
};
using CompressorFactory = ChunkCompressor* (*)();

class DecryptingStream : public FilterStream {
 public:
  DecryptingStream() = default;
  ~DecryptingStream() override;

  // Attaches in the next stream's direction; the chunk capacity follows the cipher:
  // 65,536 blocks (512 KiB for Blowfish, 1 MiB for AES).
  int32_t Attach(Stream* next, uint8_t cipher_id);
  // Keys both chains for the stream's direction. Codes of the cipher framework.
  int32_t SetUpCiphers(const Text& password, const Value* vector);
  // Writing: flushes the last chunk first; answers that flush's error.
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

 private:
  int32_t LoadChunk();
  int32_t Flush();
  bool EnsureBuffer();

  uint8_t cipher_id_ = 0;
  uint32_t block_size_ = 0;
  uint32_t capacity_ = 0;
  CipherInstance data_chain_;
  CipherInstance length_chain_;
  unsigned char* chunk_ = nullptr;  // allocated once, at the capacity
  uint32_t chunk_length_ = 0;
  uint32_t position_ = 0;
  uint32_t counter_ = 0;
};

class InflatingStream : public FilterStream {
 public:
  InflatingStream() = default;
  ~InflatingStream() override;

  // 50 for a setting above 2; 11 when it cannot be attached.
  int32_t Attach(Stream* next, uint8_t setting);
  // Writing: how many chunks are compressed at once. The output is the same for
  // every number: chunks are independent zlib streams, written in order.
  void SetJobs(int32_t jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  // Reading: with 2 or more, a second thread reads, decrypts and inflates the chunks
  // ahead of the reader (the reader inflates too while it would otherwise wait). The
  // bytes and the error codes are the same as without it. Set before the first read.
  void SetReadAhead(int32_t threads) { read_ahead_ = threads; }
  // Writing: compresses and writes the last chunk first; answers that write's error.
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

  // Writing: where each chunk's compressor comes from (none: writing answers 50).
  void SetCompressor(CompressorFactory factory) { compressor_factory_ = factory; }

  // Turns one stored chunk into its content: inflated (flag 1 with setting 1 or 2) into
  // `plain` (kMaxPlainChunk + 1 bytes), or the stored bytes as they are. 600 for
  // anything but 1 to 65,535 bytes of content or a zlib stream that does not end.
  struct Inflater {
    Inflater() = default;
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    int32_t Run(const unsigned char* raw, uint32_t stored, uint8_t flag, uint8_t setting, unsigned char* plain,
                const unsigned char** content, uint32_t* length);
    libdeflate_decompressor* decompressor = nullptr;  // made at the first compressed chunk
  };

 private:
  struct WriteSlot;
  struct Workers;
  struct Ahead;
  // Reads one stored chunk (flag, length, bytes) from the next stream into raw.
  int32_t FetchChunk(unsigned char* raw, uint8_t& flag, uint32_t& stored);
  int32_t Refill();
  // Reading ahead (read_ahead.cpp): false when the second thread cannot be had.
  bool StartAhead();
  int32_t RefillAhead();
  void StopAhead();
  static void AheadThread(void* self);
  // The packing ring (packing_ring.cpp).
  void SubmitSlot();
  int32_t WriteOldest();
  int32_t FinishRing();
  void FreeRing();
  bool EnsureBuffers();
  bool EnsureSlots();

  uint8_t setting_ = 0;
  int32_t jobs_ = 1;
  WriteSlot* slots_ = nullptr;  // writing: a ring of chunks
  int32_t slot_count_ = 0;
  int32_t fill_ = 0;            // the slot being filled
  int32_t oldest_ = 0;          // the oldest slot handed on and not yet written
  int32_t in_flight_ = 0;       // slots handed on and not yet written
  Workers* workers_ = nullptr;  // writing: who compresses the chunks
  int32_t read_ahead_ = 1;
  Ahead* ahead_ = nullptr;  // reading with a second thread
  CompressorFactory compressor_factory_ = nullptr;
  unsigned char* raw_ = nullptr;    // a chunk as stored (compressed or plain)
  unsigned char* plain_ = nullptr;  // inflated bytes, or plain bytes being collected
  const unsigned char* chunk_ = nullptr;
  uint32_t chunk_length_ = 0;
  uint32_t position_ = 0;
  uint32_t counter_ = 0;
  Inflater inflater_;
};

// Owns the decrypting and the inflating stream, stacked on a file stream.
class ContentStream : public FilterStream {
 public:
  // Attaches to the file stream (which stands just behind the header), then: the
  // decrypting stream (10 if it cannot attach, 50 for a cipher id other than 0 and 2),
  // the password check value (writing: written; reading: 1 when the file ends inside
  // it, 711 when it does not match, before any cipher is keyed), both cipher chains
  // (the framework's codes), the inflating stream (50 for a setting above 2). Any
  // failure closes what was opened.
  int32_t SetUp(Stream* file, const Text& password, const Value* vector, uint8_t cipher_id, uint8_t setting);
  void SetJobs(int32_t jobs) { inflating_.SetJobs(jobs); }
  void SetReadAhead(int32_t threads) { inflating_.SetReadAhead(threads); }
  void SetCompressor(CompressorFactory factory) { inflating_.SetCompressor(factory); }
  // Closes the inflating stream, then the decrypting stream (writing: flushing both),
  // then itself; answers the first flush error.
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

 private:
  DecryptingStream decrypting_;
  InflatingStream inflating_;
};

}  // namespace qef
