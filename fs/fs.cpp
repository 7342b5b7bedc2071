#include "fs/fs.h"

#include "core/result.h"
#include "fs/path.h"

namespace qef {

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
    Text candidate = AddTrailingSeparator(NumberedName(base, n, false));
    if (!FolderExists(candidate)) return candidate;
  }
}

}  // namespace qef
