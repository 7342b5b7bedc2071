#pragma once
// Editing and reading Windows program images held as bytes, 32-bit (PE32, i386) and
// 64-bit (PE32+, x86-64) alike, with no system headers, so that both the stub and the
// tool on any platform use it.
//
// A self-extracting program is the stub's image plus one section whose virtual
// address is kPayloadRva and whose raw data is the payload block. The loader then
// maps the block at image base + kPayloadRva, where the stub looks for it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"

namespace qef {

// What the tool reports about a program image.
struct PeImageFacts {
  bool pe32_plus = false;  // a 64-bit (x86-64) program, else a 32-bit (i386) one
  uint64_t image_base = 0;
  uint32_t image_size = 0;  // SizeOfImage
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  uint32_t section_count = 0;
  uint32_t file_size = 0;
  uint32_t overlay_size = 0;         // bytes after the last section's raw data
  bool has_payload_section = false;  // a section starts at kPayloadRva
  // Where the stub ends: the payload section's virtual address and raw data offset
  // when there is one, else the whole image and file.
  uint32_t stub_image_size = 0;
  uint32_t stub_file_size = 0;
  uint32_t payload_size = 0;  // the payload section's bytes (see FindSectionInFile)
  // The certificate table (an Authenticode signature): a file offset, not an address,
  // and its size; both 0 for an unsigned program.
  uint32_t certificate_offset = 0;
  uint32_t certificate_size = 0;
};

// Reads the facts of a program file. 0; or kBadArgument for bytes that are not a
// program image of either kind (message says why); kShortRead when a section's data
// lies past the end of the file.
int32_t InspectPeImage(const unsigned char* file, size_t size, PeImageFacts& facts, Text& message);
// The same from the file's first head_size bytes (`head`), which must take in its
// headers and section table, and its size: nothing past the section table is read.
int32_t InspectPeImage(const unsigned char* head, size_t head_size, uint64_t file_size, PeImageFacts& facts,
                       Text& message);

// Appends the payload block to a stub's image as a new section at kPayloadRva:
//  - the stub's image must end at or before kPayloadRva; when it ends before, its
//    last section's virtual size grows so that the new section follows without a gap;
//  - the new section (".payload", initialised data, readable) has the block as raw
//    data, placed at the end of the file rounded up to the file alignment, so that
//    bytes past the stub's last section (debug symbols, say) stay where they are,
//    outside any section;
//  - section count, SizeOfImage and SizeOfInitializedData are updated, and the
//    checksum is recomputed (PeChecksum). A certificate table entry is cleared: the
//    signature no longer matches once the image changes.
// 0 with `image` changed. Otherwise the image is unchanged and the message says why:
// kShortRead for a truncated file; kBadArgument for the rest (not a program image,
// image ending past kPayloadRva, a payload section already there, alignments that
// cannot place a section at kPayloadRva, no room for one more section header, an
// empty block).
int32_t AppendPayloadSection(std::vector<unsigned char>& image, const std::vector<unsigned char>& block, Text& message);

// The same in steps, for a writer that streams the block rather than holding it. This
// first step makes every check for a block of `block_size` bytes, edits the headers,
// zeroes the checksum field and pads the image to where the block starts. The file
// is then the image, the block and `padding` zero bytes; the caller sums all of them
// with PeChecksumSum and stores the value with StorePeChecksum before writing the
// image. Codes as AppendPayloadSection's; on failure the image is unchanged.
int32_t PreparePayloadSection(std::vector<unsigned char>& image, uint64_t block_size, uint32_t& padding, Text& message);
void StorePeChecksum(std::vector<unsigned char>& image, uint32_t checksum);

// Finds the section that starts at virtual address `rva` in a program file and gives
// its bytes there: min(virtual size, raw size), or the raw size when the virtual size
// is 0. 0; kBadArgument for a file that is not a program image; kFailed when no
// section starts at `rva`; kShortRead when its data lies past the end of the file.
int32_t FindSectionInFile(const unsigned char* file, size_t size, uint32_t rva, const unsigned char** data,
                          uint32_t* length, Text& message);
// The same from the file's first head_size bytes and its size (see InspectPeImage):
// where the section's bytes lie in the file.
int32_t FindSectionInFile(const unsigned char* head, size_t head_size, uint64_t file_size, uint32_t rva,
                          uint32_t* offset, uint32_t* length, Text& message);

// The same on an image the loader has mapped at `module_base` (for the stub, on
// itself): the section table is read from the mapped headers and the section's
// bytes are those of its virtual size, at module_base + rva. 0; kBadArgument when
// the headers are not those of a program image; kFailed when no section starts at
// `rva` or it reaches past SizeOfImage.
int32_t FindSectionInMemory(const unsigned char* module_base, uint32_t rva, const unsigned char** data,
                            uint32_t* length);

// The PE checksum of a program file: 16-bit one's-complement-style sum of the file
// taken as little-endian words (the checksum field counted as zero), plus the file
// size. 0 for bytes that are not a PE image.
uint32_t PeChecksum(const unsigned char* file, size_t size);

// The same sum over a file given in pieces, in order; the checksum field must be zero
// in them.
class PeChecksumSum {
 public:
  void Add(const unsigned char* data, size_t size);
  uint32_t Value() const;

 private:
  void AddWord(uint32_t word);
  uint32_t sum_ = 0;
  uint64_t size_ = 0;
  bool odd_ = false;  // a piece ended inside a word: low_ waits for its high byte
  unsigned char low_ = 0;
};

}  // namespace qef
