#pragma once
// A container file: its header (a property list in plain), the password check value
// (2 bytes in plain), then the encrypted chunks holding the content list.
#include <cstdint>

#include "container/chunk_streams.h"
#include "core/format.h"
#include "core/stream.h"
#include "core/value.h"
#include "fs/file_stream.h"

namespace qef {

// Container kinds, recognised by name and first bytes.
enum ContainerKind : int32_t {
  kKindContainer = 1,  // extension "qef" (any case), this format
  kKindCarrier = 2,    // any other extension: a file carrying hidden data, not handled here
  kKindOldFormat = 3,  // extension "qef" and the magic in plain at the start
};
int32_t ContainerKindOf(const Text& path);
// The kind of a container that is a part of a file (a program's payload): its name
// says nothing, only its first bytes count.
int32_t ContainerKindOf(const Text& path, const FilePart& part);

// Reads a container: file stream, content stream and a progress stream on top.
class ContainerReader : public FilterStream {
 public:
  ContainerReader() = default;
  ~ContainerReader() override { Close(); }

  // Opens the container at path for reading: reads the header into `header`, checks
  // the magic (310), the compression setting (601) and the cipher id (310), takes the
  // vector, compares the password check value (711) and sets up the chain. On success
  // the reader stands at the start of the content list; on failure everything is closed.
  int32_t Open(const Text& path, const Text& password, PropertyList* header, const StreamParams* params);
  int32_t Close() override;
  int32_t Read(void* buffer, uint32_t length) override;
  // 2 or more: the content is read and decoded ahead on a second thread.
  void SetReadAhead(int32_t threads) { read_ahead_ = threads; }
  // Where the container lies in the file at path (by default the whole file).
  void SetPart(const FilePart& part) { part_ = part; }

 private:
  int32_t read_ahead_ = 1;
  FilePart part_;
  FileStream file_;
  ContentStream content_;
  ProgressStream progress_;
};

// The vector a header gives for a cipher: key kHeaderVector when it is a Blob of at least the
// block size (a longer one is passed on, for the cipher to refuse), else all zeros.
Value HeaderVector(const PropertyList& header, uint8_t cipher_id);

}  // namespace qef
