#include "fs/file_stream.h"

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

int32_t FileStream::Open(int32_t mode, const Text& path, const StreamParams* params) {
  Close();
  left_ = FilePart::kToTheEnd;
  native_error_ = 0;
  int32_t r = Stream::Open(mode, params);
  if (r != 0 || mode_ == kModeClosed) {
    Stream::Close();
    return r;
  }
  file_ = OpenFileStream(path, mode != kModeReading);
  native_error_ = file_ == nullptr ? LastNativeError() : 0;
  if (file_ == nullptr) {
    Stream::Close();
    return kCannotOpen;
  }
  return 0;
}

// The seek goes in steps that a 32-bit long holds, so that a part beyond 2 GiB is
// reached on every platform; the part must start inside the file (the last byte before
// it is read).
int32_t FileStream::OpenPart(const Text& path, const FilePart& part, const StreamParams* params) {
  int32_t r = Open(kModeReading, path, params);
  if (r != 0) return r;
  const uint64_t kStep = 1u << 30;
  for (uint64_t done = 0; r == 0 && done + 1 < part.offset;) {
    uint64_t n = part.offset - 1 - done < kStep ? part.offset - 1 - done : kStep;
    if (std::fseek(file_, static_cast<long>(n), SEEK_CUR) != 0) r = kCannotOpen;
    done += n;
  }
  if (r == 0 && part.offset > 0 && std::fgetc(file_) == EOF) r = kCannotOpen;
  if (r != 0) {
    Close();
    return r;
  }
  left_ = part.length;
  return 0;
}

int32_t FileStream::Close() {
  int32_t r = 0;
  if (file_ != nullptr) {
    // A full disk may only show when the last buffered bytes are written out.
    if (std::fclose(file_) != 0 && mode_ == kModeWriting) r = kShortWrite;
    file_ = nullptr;
  }
  Stream::Close();
  return r;
}

int32_t FileStream::Read(void* buffer, uint32_t length) {
  if (CheckRead(buffer, length) != 0) return error_;
  if (length > left_ || std::fread(buffer, 1, length, file_) != length) return error_ = kShortRead;
  if (left_ != FilePart::kToTheEnd) left_ -= length;
  return error_;
}

int32_t FileStream::Write(const void* buffer, uint32_t length) {
  if (CheckWrite(buffer, length) != 0) return error_;
  if (std::fwrite(buffer, 1, length, file_) != length) error_ = kShortWrite;
  return error_;
}

}  // namespace qef
