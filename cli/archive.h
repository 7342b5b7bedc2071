#pragma once
// Archives as the tool reads and writes them: a container file (.qef), or a
// self-extracting program whose payload block holds the container. A program's
// container is read where it lies in the program, so that memory stays bounded
// whatever the archive's size; outputs are written aside (fs/temp_file.h) and put in place whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "core/value.h"
#include "fs/file_stream.h"
#include "fs/fs.h"
#include "fs/temp_file.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef {

// The whole file, for the small files the user names (stub, picture, texts). 0;
// kContainerMissing when it does not exist, kCannotOpen for a device, pipe or socket,
// kUnsupported for 4 GiB or more, kOutOfMemory, or the file stream's code.
int32_t ReadWholeFile(const Text& path, std::vector<unsigned char>& bytes);
// Why a path the user named cannot be read as a file, for a message: "it does not
// exist", "it is a folder", "it is not a regular file (a device, pipe or socket)",
// "it is 4 GiB or larger", else "it cannot be read".
const char* WhyNotAFile(const Text& path);

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
  // The message for a header that ReadHeader refused with `code`: the archive's name
  // and what its first bytes are instead ("is empty", "holds text"), else that it is no
  // archive or its header is damaged.
  Text WhatWasFound(int32_t code) const;

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
