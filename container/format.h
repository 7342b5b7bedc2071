#pragma once
// The container format's constants, in one place: the keys of an item's property
// list and the kinds of item. Every integer of the format is little-endian.
#include <cstdint>

namespace qef {

// Item property keys of a content list.
enum ItemKey : uint16_t {
  kItemKind = 100,    // Byte: 0 file, 1 folder
  kItemName = 200,    // String: the file or folder name
  kItemFolder = 201,  // String: folder part relative to the base folder, ending in '/'
  kItemInfo = 300,    // List: file information (attributes and times)
};

// Keys of an item's file information list (key 300).
enum FileInfoKey : uint16_t {
  kInfoSystem = 1,      // Byte 1: system attribute
  kInfoReadOnly = 2,    // Byte 1: read-only attribute
  kInfoArchive = 3,     // Byte 1: archive attribute
  kInfoHidden = 4,      // Byte 1: hidden attribute
  kInfoCreated = 110,   // 8-byte Blob: creation time, 100 ns ticks since 1601
  kInfoAccessed = 111,  // 8-byte Blob: last access time
  kInfoWritten = 112,   // 8-byte Blob: last write time
};

// Item kinds (key 100); any other kind is an item without effect.
enum ItemKind : uint8_t {
  kKindFile = 0,
  kKindFolder = 1,
};

}  // namespace qef
