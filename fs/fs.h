#pragma once
// File and folder operations over the operating system. Every operation takes a path
// in internal form and answers a truth value, a number or a result code; none throws.
// fs_win32.cpp and fs_posix.cpp hold the system calls; fs.cpp what is the same.
#include <cstdint>

#include "core/text.h"
#include "core/value.h"

namespace qef {

// Keys of a file information list (shared with the container's item records).
enum FileInfoKey : uint16_t {
  kInfoSystem = 1,        // Byte 1: system attribute (0x04)
  kInfoReadOnly = 2,      // Byte 1: read-only attribute (0x01)
  kInfoArchive = 3,       // Byte 1: archive attribute (0x20)
  kInfoHidden = 4,        // Byte 1: hidden attribute (0x02)
  kInfoCreated = 110,     // 8-byte Blob: creation time, a FILETIME
  kInfoAccessed = 111,    // 8-byte Blob: last access time
  kInfoWritten = 112,     // 8-byte Blob: last write time
};

// The attribute word of a file information list: 0x01 read-only, 0x02 hidden, 0x04
// system, 0x20 archive, for each key that holds Byte 1; 0 without a list.
uint32_t AttributeWord(const PropertyList* list);
// A time the list holds as an 8-byte Blob, as a FILETIME value; false when it holds none.
bool ListTime(const PropertyList* list, uint16_t key, uint64_t& filetime);

// True if a file (not a folder) is at the path. Wildcard characters match nothing.
bool FileExists(const Text& path);
// True if the text is a folder path (ending in '/') naming an existing folder or drive.
bool FolderExists(const Text& path);
// Size of an existing file below 4 GiB, else -1.
int64_t FileSize(const Text& path);
// True for a regular file that is not a link (whatever its size), with its full size.
bool RegularFileSize(const Text& path, uint64_t& size);
// 0, or 210.
int32_t RemoveFile(const Text& path);
// 0, or 230; the folder must be empty.
int32_t RemoveFolder(const Text& path);
// Creates the folder and its missing parents: 0; 30 for a text that is not a folder
// path or too short to create; 234 when a parent cannot be made; 1 when the folder
// itself cannot be made although its parent exists.
int32_t CreateFolder(const Text& path);
// Sets the times (files only) and then the attributes from a file information list
// (none: all attributes off). A folder path applies to the folder. 0, or 1.
int32_t ApplyFileInformation(const Text& path, const PropertyList* list);
// Fills a file information list from a file or folder. 0, or 1.
int32_t CollectFileInformation(const Text& path, PropertyList& list);
// The folder if it does not exist yet; else the first of "F (1)/", "F (2)/", ... that does not.
Text UniqueFolderName(const Text& folder);

// A file made new and written in one go, with few system calls: its times are set
// through the open file before it is closed, its attributes right after.
class NewFile {
 public:
  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() { Close(); }

  // Creates the file only when nothing has its name yet: 0; kCannotOpen, with
  // `exists` set when the name is taken (nothing was created then).
  int32_t Create(const Text& path, bool& exists);
  // 0, or kShortWrite (a full disk).
  int32_t Write(const void* data, uint32_t length);
  // Sets the times the list holds, closes the file, then sets its attributes from the
  // list (all off without one). 0, or kShortWrite when closing fails; a time or an
  // attribute the system refuses is not reported.
  int32_t Finish(const PropertyList* info);
  // Closes without setting anything: 0, or kShortWrite.
  int32_t Close();

 private:
  intptr_t handle_ = -1;
  Text path_;
};

// One directory search: every entry but "." and "..", in the order the system gives.
class FolderSearch {
 public:
  FolderSearch() = default;
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  ~FolderSearch() { Close(); }
  // Starts the search in a folder path; false when it cannot be started.
  bool Open(const Text& folder);
  // The next entry; false when there are no more. A link (symlink or reparse point)
  // is reported as such and never as a folder, so that nobody walks into it.
  bool Next(Text& name, bool& is_folder, bool& is_link);
  void Close();

 private:
  struct State;  // the platform's search handle and entry
  State* state_ = nullptr;
};

// Creates one folder whose parent exists: true on success.
bool MakeOneFolder(const Text& folder);
// True if the path (a trailing '/' ignored) is a symbolic link or a reparse point.
bool IsLink(const Text& path);
// Renames a file to a name that does not exist yet: true on success.
bool RenameFile(const Text& from, const Text& to);
// Puts a file in the place of `to` in one step, replacing a file there: at every moment
// `to` is either the old file or the new one. True on success.
bool MoveIntoPlace(const Text& from, const Text& to);

}  // namespace qef
