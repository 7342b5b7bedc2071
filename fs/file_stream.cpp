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
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  return Stream::Close();
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
