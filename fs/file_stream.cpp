#include "fs/file_stream.h"

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

int32_t FileStream::Open(int32_t mode, const Text& path, const StreamParams* params) {
  Close();
  int32_t r = Stream::Open(mode, params);
  if (r != 0 || mode_ == kModeClosed) {
    Stream::Close();
    return r;
  }
  Text system = ToSystemForm(path);
  if (mode == kModeReading) {
    file_ = std::fopen(system.Str(), "rb");
  } else {
    Text parent = FolderOf(ToInternalForm(path));
    if (!parent.IsEmpty() && !FolderExists(parent)) CreateFolder(parent);
    file_ = std::fopen(system.Str(), "w+b");
  }
  if (file_ == nullptr) {
    Stream::Close();
    return kCannotOpen;
  }
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
  if (std::fread(buffer, 1, length, file_) != length) error_ = kShortRead;
  return error_;
}

int32_t FileStream::Write(const void* buffer, uint32_t length) {
  if (CheckWrite(buffer, length) != 0) return error_;
  if (std::fwrite(buffer, 1, length, file_) != length) error_ = kShortWrite;
  return error_;
}

}  // namespace qef
