#include "cli/archive.h"

#include <new>

#include "cli/console.h"
#include "container/container_reader.h"
#include "container/value_record.h"
#include "core/memory_stream.h"
#include "core/result.h"
#include "fs/file_stream.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const uint32_t kPiece = 1u << 30;  // the stream calls take 32-bit lengths

// Creates or truncates the file and writes the bytes. 0, or the file stream's code.
int32_t WriteBytes(const Text& path, const unsigned char* data, size_t size) {
  StreamParams params;
  FileStream file;
  int32_t r = file.Open(kModeWriting, path, &params);
  for (size_t done = 0; r == kOk && done < size;) {
    uint32_t n = size - done < kPiece ? static_cast<uint32_t>(size - done) : kPiece;
    r = file.Write(data + done, n);
    done += n;
  }
  int32_t closed = file.Close();
  return r == kOk ? closed : r;
}

}  // namespace

int32_t ReadWholeFile(const Text& path, std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (!FileExists(path)) return kContainerMissing;
  int64_t size = FileSize(path);
  if (size < 0) return kUnsupported;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  StreamParams params;
  FileStream file;
  int32_t r = file.Open(kModeReading, path, &params);
  for (size_t done = 0; r == kOk && done < bytes.size();) {
    uint32_t n = bytes.size() - done < kPiece ? static_cast<uint32_t>(bytes.size() - done) : kPiece;
    r = file.Read(bytes.data() + done, n);
    done += n;
  }
  file.Close();
  if (r != kOk) bytes.clear();
  return r;
}

int32_t WriteFileInPlace(const Text& path, const unsigned char* data, size_t size) {
  Text temp = TemporaryName(FolderOf(path), ".partial");
  int32_t r = WriteBytes(temp, data, size);
  if (r == kOk && FileExists(path) && RemoveFile(path) != kOk) r = kCannotOpen;
  if (r == kOk && !RenameFile(temp, path)) r = kCannotOpen;
  if (r != kOk) RemoveFile(temp);
  return r;
}

Text TemporaryName(const Text& folder, const char* suffix) {
  Text name;
  for (uint32_t n = 0; name.IsEmpty() || FileExists(name); ++n)
    name.Format("%s.qef-%lu-%lu%s", folder.Str(), static_cast<unsigned long>(ProcessNumber()),
                static_cast<unsigned long>(n), suffix);
  return name;
}

ArchiveInput::~ArchiveInput() {
  if (!temp_.IsEmpty()) RemoveFile(temp_);
}

int32_t ArchiveInput::Open(const Text& path, Text& message) {
  path_ = path;
  if (!FileExists(path)) {
    message.Format("%s does not exist", path.Str());
    return kContainerMissing;
  }
  unsigned char start[2] = {0, 0};
  StreamParams params;
  FileStream file;
  if (file.Open(kModeReading, path, &params) == kOk) file.Read(start, sizeof start);
  file.Close();
  program_ = start[0] == 'M' && start[1] == 'Z';
  if (!program_) {
    if (ContainerKindOf(path) == kKindContainer || ContainerKindOf(path) == kKindOldFormat) return kOk;
    message.Format("%s is neither a .qef container nor a self-extracting program", path.Str());
    return kUnsupported;
  }

  int32_t r = ReadWholeFile(path, bytes_);
  if (r != kOk) return r;
  const unsigned char* block = nullptr;
  uint32_t length = 0;
  r = InspectPeImage(bytes_.data(), bytes_.size(), image_, message);
  if (r == kOk) r = FindSectionInFile(bytes_.data(), bytes_.size(), kPayloadRva, &block, &length, message);
  if (r == kFailed) message.Format("%s is a Windows program without an archive in it", path.Str());
  if (r == kOk && ParsePayloadBlock(block, length, payload_) != kOk) {
    message.Format("the payload block of %s is damaged", path.Str());
    r = kBadChunk;
  }
  return r;
}

int32_t ArchiveInput::ReadHeader(PropertyList& header) {
  StreamParams params;
  int32_t r = kOk;
  if (program_) {
    MemoryStream memory;
    r = memory.OpenRead(payload_.container, payload_.container_length, &params);
    if (r == kOk) r = SerialiseValue(header, memory);
    memory.Close();
  } else if (ContainerKindOf(path_) == kKindOldFormat) {
    r = kOldFormat;
  } else {
    FileStream file;
    r = file.Open(kModeReading, path_, &params);
    if (r == kOk) r = SerialiseValue(header, file);
    file.Close();
  }
  if (r == kOk && header.GetString(kHeaderMagic, "").NotEquals(kContainerMagic)) r = kBadMagic;
  return r;
}

int32_t ArchiveInput::ContainerFile(const Text& temp_folder, Text& container) {
  if (!program_) {
    container = path_;
    return kOk;
  }
  temp_ = TemporaryName(temp_folder, ".qef");
  int32_t r = WriteBytes(temp_, payload_.container, payload_.container_length);
  payload_ = PayloadView();
  std::vector<unsigned char>().swap(bytes_);
  container = temp_;
  return r;
}

}  // namespace qef
