#pragma once
// Archives as the tool reads and writes them: a container file (.qef), or a
// self-extracting program whose payload block holds the container. The extraction
// engine opens only container files, so a program's container is copied out to a
// temporary .qef file first, and that file is deleted again whatever happens.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "core/value.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef {

// The whole file. 0; kContainerMissing when it does not exist, kUnsupported for 4 GiB
// or more, kOutOfMemory, or the file stream's code.
int32_t ReadWholeFile(const Text& path, std::vector<unsigned char>& bytes);

// Writes the file under a temporary name beside `path` and renames it into place only
// when it is complete, so that a failure leaves neither a partial file nor a changed
// old one. 0, or the first failure's code.
int32_t WriteFileInPlace(const Text& path, const unsigned char* data, size_t size);

// A name for a temporary file in `folder` that no file has yet: a hidden name made of
// the process number and a counter, ending in `suffix`.
Text TemporaryName(const Text& folder, const char* suffix);

// An archive opened for reading.
class ArchiveInput {
 public:
  ArchiveInput() = default;
  ~ArchiveInput();  // deletes the temporary container file, if one was made
  ArchiveInput(const ArchiveInput&) = delete;
  ArchiveInput& operator=(const ArchiveInput&) = delete;

  // Recognises the file by its first bytes: "MZ" makes it a program, whose payload
  // block is read and checked; anything else must be a container named *.qef. 0, or a
  // code with a message: 201 (missing), 50 (neither kind), 1 (a program without a
  // payload section), 208 (a truncated program), 600 (a damaged payload block).
  int32_t Open(const Text& path, Text& message);

  bool IsProgram() const { return program_; }
  // Programs only, until ContainerFile: the parsed block and the image's facts.
  const PayloadView& Payload() const { return payload_; }
  const PeImageFacts& Image() const { return image_; }

  // The container's header, read in plain (no password needed): 0, or 312 for an
  // older format, the reading's code, or 310 when the magic is wrong.
  int32_t ReadHeader(PropertyList& header);

  // A container file for the engine: the archive itself, or for a program a temporary
  // .qef file in `temp_folder` holding its container (the program's bytes are let go
  // then). 0, or the code of writing it.
  int32_t ContainerFile(const Text& temp_folder, Text& container);

 private:
  Text path_;
  bool program_ = false;
  std::vector<unsigned char> bytes_;
  PayloadView payload_;
  PeImageFacts image_;
  Text temp_;
};

}  // namespace qef
