#pragma once
// The folder tree walk and the recursive deletion built on it.
#include <cstdint>

#include "core/text.h"

namespace qef {

// Called for every file and subfolder of a walk: base is the folder the walk started
// on; for a file, relative is its folder relative to base (ending in '/', or empty) and
// name its name (is_folder 0); for a subfolder, relative is its path relative to base
// ending in '/', name is empty and is_folder 1 (reported after its content). A link
// (symbolic link or reparse point) is reported as a file and never walked into.
// A non-zero answer ends the walk with that answer.
using WalkCallback = int32_t (*)(const Text& base, const Text& relative, const Text& name, int32_t is_folder,
                                 uintptr_t user1, uintptr_t user2);

// Depth-first walk in the order the system delivers entries. 0; 30 without a callback;
// 220 when base is not an existing folder (it must end in '/'); 221 when a search
// cannot be started; or the first non-zero answer of the callback.
int32_t WalkFolder(const Text& base, const Text& relative, WalkCallback callback, uintptr_t user1, uintptr_t user2);

// Removes the folder and everything in it: files as they are met, each subfolder right
// after its content, the folder last. Links are removed, never followed. Stops at the
// first failure (210 or 230), leaving the rest. 220 for a folder that does not exist.
int32_t DeleteFolderTree(const Text& folder);

}  // namespace qef
