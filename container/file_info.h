#pragma once
// The one conversion between an item's stored file information list and the
// attributes and times the file system layer takes.
#include "core/value.h"
#include "fs/fs.h"

namespace qef {

// An attribute counts only when its key holds Byte 1, a time only when its key holds
// an 8-byte Blob; anything else under a key reads as absent.
FileInfo FileInfoFromList(const PropertyList& list);
// The list as it is stored: the attributes that are set (archive, system, hidden,
// read-only, in this order), each as Byte 1, then the times present as 8-byte Blobs.
PropertyList ListFromFileInfo(const FileInfo& info);

}  // namespace qef
