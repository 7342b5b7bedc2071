#include "fs/walk.h"

#include "core/result.h"
#include "fs/fs.h"

namespace qef {

int32_t WalkFolder(const Text& base, const Text& relative, WalkCallback callback, uintptr_t user1, uintptr_t user2) {
  if (callback == nullptr) return kBadArgument;
  if (!FolderExists(base)) return kFolderMissing;
  FolderSearch search;
  if (!search.Open(Text::Concat(base, relative))) return kTargetMissing;
  Text name;
  bool is_folder = false, is_link = false;
  while (search.Next(name, is_folder, is_link)) {
    int32_t r = 0;
    if (is_folder) {
      Text sub = Text::Concat(relative, name);
      sub.AppendChar('/');
      r = WalkFolder(base, sub, callback, user1, user2);
      if (r == 0) r = callback(base, sub, Text(""), 1, user1, user2);
    } else {
      r = callback(base, relative, name, 0, user1, user2);
    }
    if (r != 0) return r;
  }
  return 0;
}

namespace {

int32_t DeleteEntry(const Text& base, const Text& relative, const Text& name, int32_t is_folder, uintptr_t, uintptr_t) {
  Text path = Text::Concat(Text::Concat(base, relative), name);
  if (is_folder == 0) return RemoveFile(path);
  if (is_folder == 1) return DeleteFolderTree(path);
  return kFailed;
}

}  // namespace

int32_t DeleteFolderTree(const Text& folder) {
  int32_t r = WalkFolder(folder, Text(""), &DeleteEntry, 0, 0);
  if (r != 0) return r;
  return RemoveFolder(folder);
}

}  // namespace qef
