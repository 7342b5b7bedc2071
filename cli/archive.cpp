#include "cli/archive.h"

#include <new>

#include "cli/console.h"
#include "container/container_reader.h"
#include "container/value_record.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

const uint32_t kPiece = 1u << 30;  // the stream calls take 32-bit lengths
// A program's headers and section table must lie in its first bytes as many as these.
const uint32_t kHeadLimit = 1u << 20;

// Reads `size` bytes of a part of a file into `bytes`. 0, kOutOfMemory, or the file
// stream's code.
int32_t ReadPart(const Text& path, const FilePart& part, size_t size, std::vector<unsigned char>& bytes) {
  bytes.clear();
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  StreamParams params;
  FileStream file;
  int32_t r = file.OpenPart(path, part, &params);
  for (size_t done = 0; r == kOk && done < bytes.size();) {
    uint32_t n = bytes.size() - done < kPiece ? static_cast<uint32_t>(bytes.size() - done) : kPiece;
    r = file.Read(bytes.data() + done, n);
    done += n;
  }
  file.Close();
  if (r != kOk) bytes.clear();
  return r;
}

}  // namespace

int32_t ReadWholeFile(const Text& path, std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (!FileExists(path)) return kContainerMissing;
  uint64_t size = 0;
  if (!RegularFileSize(path, size)) return kCannotOpen;  // a device, pipe or socket
  if (size >> 32 != 0) return kUnsupported;
  return ReadPart(path, FilePart(), static_cast<size_t>(size), bytes);
}

const char* WhyNotAFile(const Text& path) {
  if (FolderExists(AddTrailingSeparator(path))) return "it is a folder";
  if (!FileExists(path)) return "it does not exist";
  uint64_t size = 0;
  if (!RegularFileSize(path, size)) return "it is not a regular file (a device, pipe or socket)";
  if (size >> 32 != 0) return "it is 4 GiB or larger";
  return "it cannot be read";
}

int32_t ArchiveInput::Open(const Text& path, Text& message) {
  path_ = path;
  part_ = FilePart();
  if (!FileExists(path)) {
    bool folder = FolderExists(AddTrailingSeparator(path));
    message.Format(folder ? "%s is a folder, not an archive" : "%s does not exist", path.Str());
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
    // A container is known by its ending; one that lost it ("x.bak") is told how to
    // open it rather than called something else.
    PropertyList header;
    if (ReadHeader(header) == kOk)
      message.Format("%s is a .qef container under another name: rename it to end in .qef to open it", path.Str());
    else
      message.Format("%s is neither a .qef container nor a self-extracting program", path.Str());
    return kUnsupported;
  }

  int64_t size = FileSize(path);
  if (size < 0) {
    message.Format("%s is a program of 4 GiB or more, which Windows does not run", path.Str());
    return kUnsupported;
  }
  std::vector<unsigned char> head;
  size_t head_size = static_cast<uint64_t>(size) < kHeadLimit ? static_cast<size_t>(size) : kHeadLimit;
  int32_t r = ReadPart(path, FilePart(), head_size, head);
  uint32_t offset = 0, length = 0;
  if (r == kOk) r = InspectPeImage(head.data(), head.size(), static_cast<uint64_t>(size), image_, message);
  if (r != kOk) {
    Text about;
    about.Format("%s: %s", path.Str(), message.Str());
    message = about;
  }
  if (r == kOk)
    r = FindSectionInFile(head.data(), head.size(), static_cast<uint64_t>(size), kPayloadRva, &offset, &length,
                          message);
  if (r == kFailed) message.Format("%s is a Windows program without an archive in it", path.Str());
  block_offset_ = offset;
  FilePart block;
  block.offset = offset;
  if (r == kOk) r = ReadPart(path, block, length < kPayloadHeaderLength ? length : kPayloadHeaderLength, head);
  if (r == kOk && ParsePayloadLayout(head.data(), length, layout_) != kOk) {
    message.Format("the payload block of %s is damaged", path.Str());
    r = kBadChunk;
  }
  part_.offset = block_offset_ + layout_.header_length;
  part_.length = layout_.container_length;
  return r;
}

int32_t ArchiveInput::ReadHeader(PropertyList& header) {
  StreamParams params;
  int32_t r = kOk;
  if (!program_ && ContainerKindOf(path_) == kKindOldFormat) {
    r = kOldFormat;
  } else {
    FileStream file;
    r = file.OpenPart(path_, part_, &params);
    if (r == kOk) r = SerialiseValue(header, file);
    file.Close();
  }
  if (r == kOk && header.GetString(kHeaderMagic, "").NotEquals(kContainerMagic)) r = kBadMagic;
  return r;
}

Text ArchiveInput::WhatWasFound(int32_t code) const {
  Text message;
  if (code == kOldFormat) {
    message.Format("%s: %s", path_.Str(), DescribeResult(code));
    return message;
  }
  unsigned char head[64];
  int64_t file_size = FileSize(path_);
  uint64_t length = part_.length != FilePart::kToTheEnd ? part_.length
                    : file_size < 0                     ? 0
                                                        : static_cast<uint64_t>(file_size);
  uint32_t n = length < sizeof head ? static_cast<uint32_t>(length) : static_cast<uint32_t>(sizeof head);
  bool text = n > 0;
  StreamParams params;
  FileStream file;
  if (n > 0 && file.OpenPart(path_, part_, &params) == kOk && file.Read(head, n) == kOk) {
    for (uint32_t i = 0; i < n; ++i)
      if (head[i] < 0x20 && head[i] != '\n' && head[i] != '\r' && head[i] != '\t') text = false;
  } else {
    text = false;
  }
  file.Close();
  if (length == 0)
    message.Format("%s is empty, not an archive", path_.Str());
  else if (text)
    message.Format("%s holds text, not an archive", path_.Str());
  else
    message.Format("%s is not a qef archive, or its header is damaged (%s)", path_.Str(), DescribeResult(code));
  return message;
}

int32_t ArchiveInput::ReadBlockBytes(uint32_t offset, uint32_t length, uint32_t limit,
                                     std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (length > limit) return kOutOfMemory;
  FilePart part;
  part.offset = block_offset_ + offset;
  part.length = length;
  return ReadPart(path_, part, length, bytes);
}

}  // namespace qef
