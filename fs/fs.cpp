#include "fs/fs.h"

#include "core/result.h"
#include "fs/filetime.h"
#include "fs/path.h"

namespace qef {

uint32_t AttributeWord(const PropertyList* list) {
  if (list == nullptr) return 0;
  uint32_t word = 0;
  if (list->GetByte(kInfoReadOnly, 0) == 1) word |= 0x01;
  if (list->GetByte(kInfoHidden, 0) == 1) word |= 0x02;
  if (list->GetByte(kInfoSystem, 0) == 1) word |= 0x04;
  if (list->GetByte(kInfoArchive, 0) == 1) word |= 0x20;
  return word;
}

bool ListTime(const PropertyList* list, uint16_t key, uint64_t& filetime) {
  if (list == nullptr) return false;
  Value v = list->GetValue(key);
  if (!v.IsBlobOf(8)) return false;
  filetime = GetFileTimeBytes(v.GetBytes());
  return true;
}

int32_t CreateFolder(const Text& path) {
  if (!IsFolderPath(path) || IsTooShortToCreate(path)) return kBadArgument;
  if (FolderExists(path)) return 0;
  if (MakeOneFolder(path)) return 0;
  Text stripped = StripTrailingSeparator(path);
  if (CreateFolder(FolderOf(stripped)) != 0) return kCannotCreateParent;
  // Another creator may have made it meanwhile; what counts is that it exists.
  if (MakeOneFolder(stripped) || FolderExists(path)) return 0;
  return kFailed;
}

Text UniqueFolderName(const Text& folder) {
  Text f = ToInternalForm(folder);
  if (!FolderExists(f)) return f;
  Text base = StripTrailingSeparator(f);
  for (int32_t n = 1;; ++n) {
    Text candidate;
    candidate.Format("%s (%li)/", base.Str(), static_cast<long>(n));
    if (!FolderExists(candidate)) return candidate;
  }
}

}  // namespace qef
