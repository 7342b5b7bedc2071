#pragma once
// Path text rules. Inside the program a path uses '/' as its separator and a folder
// path ends in '/' (D:/out/docs/); the system form is made only where a system call
// takes the path. These are pure text operations; the rules that differ by platform
// take the style as an argument, so the Windows rules are tested on Linux too.
#include "core/text.h"

namespace qef {

enum class PathStyle { kWindows, kPosix };

#ifdef _WIN32
constexpr PathStyle kNativeStyle = PathStyle::kWindows;
#else
constexpr PathStyle kNativeStyle = PathStyle::kPosix;
#endif

// Windows: every '\' becomes '/'. POSIX: unchanged ('\' is an ordinary character there).
Text ToInternalForm(const Text& path, PathStyle style = kNativeStyle);
// Windows: every '/' becomes '\'. POSIX: unchanged.
Text ToSystemForm(const Text& path, PathStyle style = kNativeStyle);
// Removes one final '/' from a text of at least 2 characters, except from a drive root D:/.
Text StripTrailingSeparator(const Text& path, PathStyle style = kNativeStyle);
// Appends '/' to a non-empty text that does not end in one.
Text AddTrailingSeparator(const Text& path, PathStyle style = kNativeStyle);

// Not empty and free of the seven characters \ ? < > * | "
bool IsValidPath(const Text& text);
// Valid, and the last character is neither '/' nor ':'.
bool IsFilePath(const Text& text);
// Valid, and the last character is '/'.
bool IsFolderPath(const Text& text);

// The text after the last '/' of a file path; empty for anything else.
Text FileNameOf(const Text& path, PathStyle style = kNativeStyle);
// The file name without its extension (up to its last '.').
Text TitleOf(const Text& path, PathStyle style = kNativeStyle);
// The text after the last '.' of the whole path (not only of the name).
Text ExtensionOf(const Text& path, PathStyle style = kNativeStyle);
// The folder part ending in '/'; a folder path unchanged; empty without any '/'.
Text FolderOf(const Text& path, PathStyle style = kNativeStyle);

// True for a folder path that folder creation must never try to create: on Windows a
// drive root or anything of at most 4 characters, on POSIX the root "/".
bool IsTooShortToCreate(const Text& folder, PathStyle style = kNativeStyle);

}  // namespace qef
