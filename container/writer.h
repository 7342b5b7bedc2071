#pragma once
// The container writer: files and folders become a content list of items, and a
// content list becomes a container file (header, password check value, encrypted and
// compressed chunks). Its output is what the extraction engine reads.
#include <cstdint>
#include <vector>

#include "core/error.h"
#include "core/format.h"
#include "core/stream.h"
#include "core/text.h"
#include "core/value.h"

namespace qef {

// Told about each source entry that is skipped (a symbolic link or a special file).
using SkipReporter = void (*)(const Text& path, const char* why, void* user);

struct PackOptions {
  uint8_t cipher_id = kAesCipher;              // or kBlowfishCipher
  uint8_t compression = kCompressionBest;      // a CompressionSetting
  bool progress_total = true;                  // write kHeaderProgressTotal so that readers can show progress
  const ProgressCallback* progress = nullptr;  // progress of the writing, may be null
  int32_t jobs = 1;                            // chunks compressed at once
  bool checksums = true;                       // follow every item with its checksum record
};

// What packing does with symbolic links (and reparse points).
enum class LinkPolicy {
  kSkip,         // every link is skipped and reported
  kFollowNamed,  // a source that is itself a link is packed as what it points to
  kFollowAll,    // links inside the sources too; one to a folder the walk is inside is
                 // skipped and reported, as it would repeat forever
};

// Appends items for each source (a file, or a folder with everything below it; paths
// in internal form, folders ending in '/'): folder items come before their contents,
// file information is collected from the source, and each item's base folder is the
// source's parent folder, so that names are relative to it. Special files are skipped
// and reported, links as `links` says; a link followed is packed as what it points to,
// under the link's name. 0, or the code of the first failure (201 for a source that does
// not exist, 221 for a folder that cannot be read, 50 for a file of 4 GiB or more),
// which `error`, when given, receives with the path and the system's words.
int32_t CollectSources(const std::vector<Text>& sources, PropertyList& content, SkipReporter skipped, void* user,
                       ErrorInfo* error = nullptr, LinkPolicy links = LinkPolicy::kSkip);

// Writes a content list's record to a stream: the list, and for each item its record
// with its property list and, for a file, the source file's size and data (read from
// its source path, or its base folder and stored names). With `checksums`, every item
// record is followed by its checksum record (core/format.h, kItemChecksumKey), whose
// CRC-32 is taken from the bytes as they are written: no source is read twice. The
// stream's error code.
int32_t WriteContentList(const PropertyList& content, Stream& out, bool checksums = true);

// Writes the content list as a container file. The file is written under a temporary
// name beside out_path and renamed into place only when complete, so a failed write
// leaves no partial output. 0, or the first failure's code.
int32_t WriteContainer(const Text& out_path, const Text& password, PropertyList& content, const PackOptions& options);

}  // namespace qef
