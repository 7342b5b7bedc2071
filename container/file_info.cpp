#include "container/file_info.h"

#include "core/format.h"
#include "fs/filetime.h"

namespace qef {

namespace {

struct AttributeKey {
  uint16_t key;
  uint32_t bit;
};
// The order in which a list stores them.
const AttributeKey kAttributeKeys[] = {
    {kInfoArchive, kAttrArchive},
    {kInfoSystem, kAttrSystem},
    {kInfoHidden, kAttrHidden},
    {kInfoReadOnly, kAttrReadOnly},
};

bool TimeOf(const PropertyList& list, uint16_t key, uint64_t& filetime) {
  Value v = list.GetValue(key);
  if (!v.IsBlobOf(8)) return false;
  filetime = GetFileTimeBytes(v.GetBytes());
  return true;
}

void PutTime(PropertyList& list, uint16_t key, uint64_t filetime) {
  unsigned char bytes[8];
  PutFileTimeBytes(filetime, bytes);
  Value v;
  v.SetBlob(bytes, 8);
  list.PutValue(key, v, 1);
}

}  // namespace

FileInfo FileInfoFromList(const PropertyList& list) {
  FileInfo info;
  for (const AttributeKey& a : kAttributeKeys)
    if (list.GetByte(a.key, 0) == 1) info.attributes |= a.bit;
  info.has_created = TimeOf(list, kInfoCreated, info.created);
  info.has_accessed = TimeOf(list, kInfoAccessed, info.accessed);
  info.has_written = TimeOf(list, kInfoWritten, info.written);
  return info;
}

PropertyList ListFromFileInfo(const FileInfo& info) {
  PropertyList list;
  for (const AttributeKey& a : kAttributeKeys)
    if ((info.attributes & a.bit) != 0) list.PutByte(a.key, 1, 1);
  if (info.has_created) PutTime(list, kInfoCreated, info.created);
  if (info.has_accessed) PutTime(list, kInfoAccessed, info.accessed);
  if (info.has_written) PutTime(list, kInfoWritten, info.written);
  return list;
}

}  // namespace qef
