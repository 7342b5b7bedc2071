#pragma once
// The sequential stream interface. A stream is opened in one direction (writing or
// reading); bytes are pushed or pulled through it; the first failure is kept as a
// sticky error code that every later call returns without doing work, so callers
// check once at the end of a sequence. There is no seeking.
#include <cstdint>

#include "core/text.h"

namespace qef {

// Where progress messages go: function(message, value, user1, user2) answers 0 to go
// on, anything else to stop (40 when the user cancelled). A null function means none.
struct ProgressCallback {
  int32_t (*function)(int32_t message, int32_t value, uintptr_t user1, uintptr_t user2) = nullptr;
  uintptr_t user1 = 0;
  uintptr_t user2 = 0;
};

// Sends one message; 0 when there is no record or no function.
int32_t SendProgress(const ProgressCallback* callback, int32_t message, int32_t value);

// Handed by pointer to Open and copied down a chain of filter streams; owned by
// whoever opens the outermost stream, never freed by a stream.
struct StreamParams {
  const ProgressCallback* progress = nullptr;  // where progress messages go
  uint32_t progress_total = 0;                 // bytes that make 100 % for a ProgressStream; 0 unknown
};

enum StreamMode : int32_t { kModeClosed = 0, kModeWriting = 1, kModeReading = 2 };

// Percentage (done, all) in unsigned 32-bit arithmetic, capped at 100; 0 when all is 0.
uint32_t Percentage(uint32_t done, uint32_t all);

// The base stream. Opened for writing and used alone it is a counting stream: Write
// only counts, so serialising into it measures the bytes a serialisation would write.
class Stream {
 public:
  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  virtual ~Stream() = default;

  virtual int32_t Close();
  // Read when reading, Write when writing, 11 when closed.
  virtual int32_t Transfer(void* buffer, uint32_t length);
  virtual int32_t Read(void* buffer, uint32_t length);
  virtual int32_t Write(const void* buffer, uint32_t length);
  virtual int32_t GetMode() const { return mode_; }
  bool IsReading() const { return GetMode() == kModeReading; }
  bool IsWriting() const { return GetMode() == kModeWriting; }

  // Closes an open stream first; 0 when the stream is now in the requested mode,
  // 60 for a mode other than 0, 1 and 2 (the stream stays closed).
  int32_t Open(int32_t mode, const StreamParams* params);
  // Opens this base stream for writing as a counter that measures what is written to
  // it: writers may then leave out what only a real output needs (nested lengths).
  int32_t OpenCounting();
  bool OnlyCounts() const { return counting_; }
  const StreamParams* GetParams() const { return params_; }
  int32_t GetError() const { return error_; }
  uint32_t GetTotal() const { return total_; }
  // Stores a failure found by a caller working on this stream (first one wins).
  int32_t Fail(int32_t code);

  // Fixed-width little-endian transfers; each is one Read or Write.
  int32_t ReadU8(uint8_t& v);
  int32_t ReadU16(uint16_t& v);
  int32_t ReadU32(uint32_t& v);
  int32_t ReadDouble(double& v);
  int32_t WriteU8(uint8_t v);
  int32_t WriteU16(uint16_t v);
  int32_t WriteU32(uint32_t v);
  int32_t WriteDouble(double v);

  // Counted strings: one length byte below 255, else 0xFF and a 4-byte length; then
  // the bytes without a terminating zero. Both return the error field after the last step.
  int32_t WriteCountedString(const Text& text);
  // A string longer than `most` is refused with 101 before its bytes are read.
  int32_t ReadCountedString(Text& text, uint32_t most = 0xFFFFFFFFu);

  // Reads n bytes into a new heap block of n + spare bytes (spare zero-filled), which
  // the caller owns. The block grows only as bytes actually arrive, so a length read
  // from a file can never force an allocation larger than what the stream really holds:
  // a hostile length ends with the stream's short-read error. nullptr on any failure
  // (the error field then says why: the stream's code, or 101 when memory ran out).
  unsigned char* ReadBlock(uint32_t n, uint32_t spare);

 protected:
  // The read check and write check every derived Read/Write runs first: 60 against the
  // direction (stored), 30 for an earlier error, a null buffer or zero length (not
  // stored), else counts the bytes and answers 0.
  int32_t CheckRead(const void* buffer, uint32_t length);
  int32_t CheckWrite(const void* buffer, uint32_t length);

  const StreamParams* params_ = nullptr;
  int32_t error_ = 0;
  int32_t mode_ = kModeClosed;
  uint32_t total_ = 0;
  bool counting_ = false;
};

// A stream on top of another one, with its direction and parameters.
class FilterStream : public Stream {
 public:
  // 30 for a null next stream, 10 when this stream cannot be opened in its mode.
  int32_t Attach(Stream* next);
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;
  Stream* GetNext() const { return next_; }

 protected:
  // The filter's checks before its own work: true when the derived stream should move
  // the bytes; false when it should just answer its error field (0 for a zero-length call).
  bool BeginRead(const void* buffer, uint32_t length);
  bool BeginWrite(const void* buffer, uint32_t length);

  Stream* next_ = nullptr;
};

// Passes bytes through and reports progress: (100, 100) on attach, (102, percent of
// the progress total) after every successful transfer, (105, 0) on close. A non-zero
// answer of the callback becomes this stream's error.
class ProgressStream : public FilterStream {
 public:
  int32_t Attach(Stream* next);
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

 private:
  int32_t Send(int32_t message, int32_t value);
  int32_t AfterTransfer(int32_t result);

  ProgressCallback callback_;
};

}  // namespace qef
