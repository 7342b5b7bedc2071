#pragma once
// Path text rules. Inside the program a path uses '/' as its separator and a folder
// path ends in '/' (D:/out/docs/); the system form is made only where a system call
// takes the path. These are pure text operations; the rules that differ by platform
// take the style as an argument, so the Windows rules are tested on Linux too.
#include <cstdint>

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

// Not empty; with the Windows style also free of the seven characters \ ? < > * | "
// (on POSIX every byte but '/' and zero may be part of a name).
bool IsValidPath(const Text& text, PathStyle style = kNativeStyle);
// Valid, and the last character is not '/' (with the Windows style not ':' either).
bool IsFilePath(const Text& text, PathStyle style = kNativeStyle);
// Valid, and the last character is '/'.
bool IsFolderPath(const Text& text, PathStyle style = kNativeStyle);

// The text after the last '/' of a file path; empty for anything else.
Text FileNameOf(const Text& path, PathStyle style = kNativeStyle);
// The file name without its extension (up to its last '.').
Text TitleOf(const Text& path, PathStyle style = kNativeStyle);
// The text after the last '.' of the whole path (not only of the name).
Text ExtensionOf(const Text& path, PathStyle style = kNativeStyle);
// The folder part ending in '/'; a folder path unchanged; empty without any '/'.
Text FolderOf(const Text& path, PathStyle style = kNativeStyle);
// Another name for a name (one component) that is taken, the n-th from 1: "name (n)"
// for a folder, "title (n).ext" for a file (a name's leading '.' starts no extension),
// as copies are numbered; n 0 answers the name itself.
Text NumberedName(const Text& name, int32_t n, bool is_file);

// True for a folder path that folder creation must never try to create: on Windows a
// drive root or anything of at most 4 characters, on POSIX the root "/".
bool IsTooShortToCreate(const Text& folder, PathStyle style = kNativeStyle);

// The one check of a container item's names, made before anything is created for the
// item: 0 when folder_part + name (either separator) stays inside the folder it is
// joined to, else 240 (kUnsafeName). Refused on every platform: a file item without
// a name (empty, or "."); a leading separator (absolute, UNC and device forms); a
// component made only of dots and blanks ("..", "...", ". ") other than "." (the
// folder itself); a drive letter at the start ("C:x"); control characters; device
// names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with or without an
// extension or trailing blanks and dots). With the Windows style also any ':'
// (alternate data streams). A folder item may have an empty name: folder part "x/"
// then names folder x, and both empty the folder joined to.
int32_t CheckItemName(const Text& folder_part, const Text& name, PathStyle style = kNativeStyle,
                      bool folder_item = false);

// Why a file or folder name cannot be stored in an archive so that every reader, on
// any system, restores it under that name; null when it can. Stricter than
// CheckItemName, which judges names already stored: it also refuses '\' (readers
// take it for a separator), the characters Windows refuses in names, a trailing dot
// or blank, and "." and "..".
const char* UnstorableNameReason(const Text& name);

}  // namespace qef
