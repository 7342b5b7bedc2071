#pragma once
// A stream on a standard-library file handle.
#include <cstdint>
#include <cstdio>

#include "core/stream.h"

namespace qef {

// Where data lies in a file: `length` bytes from `offset`; the default is the whole file.
struct FilePart {
  static const uint64_t kToTheEnd = ~static_cast<uint64_t>(0);
  uint64_t offset = 0;
  uint64_t length = kToTheEnd;
};

class FileStream : public Stream {
 public:
  FileStream() = default;
  ~FileStream() override { Close(); }

  // Mode 2 opens the file for reading; mode 1 creates or truncates the file, whose
  // folder must exist. 204 when the file cannot be opened (the stream is then closed);
  // the base Open's code for a bad mode.
  int32_t Open(int32_t mode, const Text& path, const StreamParams* params);
  // Reads a part of the file as if it were the whole file: reading past the part's end
  // is a short read (208), as it is at the end of a file. 204 when the file cannot be
  // opened or the part does not start inside it.
  int32_t OpenPart(const Text& path, const FilePart& part, const StreamParams* params);
  // 205 when a file being written could not be flushed completely, else 0.
  int32_t Close() override;
  // The system's error number when Open or OpenPart could not open the file; else 0.
  int32_t NativeError() const { return native_error_; }
  // Short reads give 208, short writes 205.
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

 private:
  std::FILE* file_ = nullptr;
  uint64_t left_ = FilePart::kToTheEnd;  // bytes of the part still to be read
  int32_t native_error_ = 0;
};

}  // namespace qef
