#pragma once
// A stream on a standard-library file handle.
#include <cstdio>

#include "core/stream.h"

namespace qef {

class FileStream : public Stream {
 public:
  FileStream() = default;
  ~FileStream() override { Close(); }

  // Mode 2 opens the file for reading; mode 1 creates the parent folder with its
  // missing parents, then creates or truncates the file. 204 when the file cannot be
  // opened (the stream is then closed); the base Open's code for a bad mode.
  int32_t Open(int32_t mode, const Text& path, const StreamParams* params);
  // 205 when a file being written could not be flushed completely, else 0.
  int32_t Close() override;
  // Short reads give 208, short writes 205.
  int32_t Read(void* buffer, uint32_t length) override;
  int32_t Write(const void* buffer, uint32_t length) override;

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace qef
