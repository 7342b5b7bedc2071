#pragma once
// Archives as the tool reads and writes them: a container file (.qef), or a
// self-extracting program whose payload block holds the container. A program's
// container is read where it lies in the program, so that memory stays bounded
// whatever the archive's size; outputs are written aside and put in place whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "core/value.h"
#include "fs/file_stream.h"
#include "fs/fs.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef {

// The whole file, for the small files the user names (stub, picture, texts). 0;
// kContainerMissing when it does not exist, kUnsupported for 4 GiB or more,
// kOutOfMemory, or the file stream's code.
int32_t ReadWholeFile(const Text& path, std::vector<unsigned char>& bytes);
// Why a path the user named cannot be read as a file, for a message: "it does not
// exist", "it is a folder", "it is not a regular file (a device, pipe or socket)",
// "it is 4 GiB or larger", else "it cannot be read".
const char* WhyNotAFile(const Text& path);

// A file written aside under a temporary name beside its destination, created only
// where nothing had that name (so no planted file or link is followed), and put in
// place by Keep alone, replacing an existing file in one step. Dropped when not kept.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the destination's folder when it is missing, then the temporary file. 0,
  // or kCannotOpen when no temporary file can be made beside the destination.
  int32_t Create(const Text& destination);
  // 0, or kShortWrite (a full disk).
  int32_t Write(const unsigned char* data, size_t size);
  // Closes the file and puts it in the destination's place: 0, or kShortWrite when the
  // last bytes cannot be written, kCannotOpen when the rename fails.
  int32_t Keep();
  // Closes the file without putting it in place; it is still removed at the end.
  int32_t Close() { return file_.Close(); }
  // The temporary file's name.
  const Text& Name() const { return temp_; }

 private:
  NewFile file_;
  Text temp_;
  Text destination_;
};

// An archive opened for reading.
class ArchiveInput {
 public:
  // Recognises the file by its first bytes: "MZ" makes it a program, whose headers and
  // payload block header are read and checked (nothing more of it); anything else
  // must be a container named *.qef. 0, or a code with a message: 201 (missing), 50
  // (neither kind, or a program of 4 GiB or more), 1 (a program without a payload
  // section), 208 (a truncated program), 600 (a damaged payload block).
  int32_t Open(const Text& path, Text& message);

  bool IsProgram() const { return program_; }
  const Text& Path() const { return path_; }
  // Where the container lies in the file: the whole file, or the payload's part.
  const FilePart& ContainerPart() const { return part_; }
  // Programs only: the payload block's layout and the image's facts.
  const PayloadLayout& Layout() const { return layout_; }
  const PeImageFacts& Image() const { return image_; }

  // The container's header, read in plain (no password needed): 0, or 312 for an
  // older format, the reading's code, or 310 when the magic is wrong.
  int32_t ReadHeader(PropertyList& header);

  // Programs only: `length` bytes of the payload block from `offset` (inside the block,
  // as the layout gives them). 0; kOutOfMemory for more than `limit` bytes or when
  // they cannot be had; the file stream's code.
  int32_t ReadBlockBytes(uint32_t offset, uint32_t length, uint32_t limit, std::vector<unsigned char>& bytes);

 private:
  Text path_;
  bool program_ = false;
  uint64_t block_offset_ = 0;  // where the payload block starts in the file
  PayloadLayout layout_;
  PeImageFacts image_;
  FilePart part_;
};

}  // namespace qef
