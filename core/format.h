#pragma once
// The container format's constants, in one place: the magic texts, the header's keys,
// the cipher ids, the compression settings and chunk flags, the keys of an item's
// property list and of its file information, and the kinds of item. Every integer of
// the format is little-endian. Nothing but <cstdint> is included, so that any module
// (crypto, fs, cli, the stub) can name the numbers without linking the container code.
#include <cstdint>

namespace qef {

// The magic text a container's header carries under kHeaderMagic.
constexpr char kContainerMagic[] = "Quillmar Encrypted File";
// An older format began in plain with kContainerMagic or this text at the first byte.
constexpr char kOldFormatMagic[] = "QuillmarEncryptedFile";

// Header property keys.
enum HeaderKey : uint16_t {
  kHeaderMagic = 10,          // String: the magic text
  kHeaderCipher = 20,         // Byte: cipher id (absent reads as kBlowfishCipher)
  kHeaderCompression = 21,    // Byte: compression setting (absent reads as kCompressionStored)
  kHeaderVector = 25,         // Blob: initialisation vector of both cipher chains
  kHeaderProgressTotal = 30,  // DWord: size of the content list's record (optional)
  kHeaderChecksums = 31,      // Byte 1: every item of the content list is followed by its checksum record
};

// Cipher ids (header key kHeaderCipher). Only the low 8 bits of an id count.
enum : uint8_t {
  kBlowfishCipher = 0,
  kReservedCipher = 1,  // an id that was given out but has no cipher behind it
  kAesCipher = 2,       // AES-128
};

// Compression settings (header key kHeaderCompression); a higher one is refused.
enum CompressionSetting : uint8_t {
  kCompressionStored = 0,
  kCompressionBest = 1,  // deflate, the slower and smaller
  kCompressionFast = 2,  // deflate, the quicker
};
const uint8_t kMaxCompressionSetting = kCompressionFast;

// A compressed chunk: flag byte, 4-byte stored length, the stored bytes.
enum ChunkFlag : uint8_t {
  kChunkPlain = 0,     // the stored bytes are the content
  kChunkDeflated = 1,  // a zlib stream, unless the setting is kCompressionStored
};
const uint32_t kChunkHeadSize = 5;
const uint32_t kMaxPlainChunk = 65535;  // bytes of content in one compressed chunk

// Item property keys of a content list.
enum ItemKey : uint16_t {
  kItemKind = 100,    // Byte: an ItemKind
  kItemName = 200,    // String: the file or folder name
  kItemFolder = 201,  // String: folder part relative to the base folder, ending in '/'
  kItemInfo = 300,    // List: file information, FileInfoKey keys
};

// The record that follows every item of a content list whose header has kHeaderChecksums
// 1: a DWord record (tag 40) under this key, holding the CRC-32 (the one of zlib and
// libdeflate) of the item's whole record as stored in the decoded content list: its
// 8-byte record header, its property list record and, for a file, the 4-byte size and
// the data. The content list's item count includes these records; a reader that does
// not know them reads them as values and drops them.
const uint16_t kItemChecksumKey = 3101;
const uint32_t kItemChecksumRecordSize = 8 + 4;

// Item kinds (key kItemKind); any other kind is an item without effect.
enum ItemKind : uint8_t {
  kKindFile = 0,
  kKindFolder = 1,
};

// Keys of a file information list (an item's kItemInfo).
enum FileInfoKey : uint16_t {
  kInfoSystem = 1,      // Byte 1: system attribute (0x04)
  kInfoReadOnly = 2,    // Byte 1: read-only attribute (0x01)
  kInfoArchive = 3,     // Byte 1: archive attribute (0x20)
  kInfoHidden = 4,      // Byte 1: hidden attribute (0x02)
  kInfoCreated = 110,   // 8-byte Blob: creation time, a FILETIME
  kInfoAccessed = 111,  // 8-byte Blob: last access time
  kInfoWritten = 112,   // 8-byte Blob: last write time
};

}  // namespace qef
