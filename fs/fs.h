#pragma once
// File and folder operations over the operating system. Every operation takes a path
// in internal form and answers a truth value, a number or a result code; none throws.
// fs_win32.cpp and fs_posix.cpp hold the system calls; fs.cpp what is the same.
#include <cstdint>
#include <cstdio>

#include "core/text.h"

namespace qef {

// Windows: the code page of the 8-bit path texts this layer takes and hands out; it
// converts them to UTF-16 for the system's wide calls. The system's ANSI code page
// unless set (the stub keeps it, so names mean what the ANSI calls made of them);
// the tool sets UTF-8, which every stored code page converts to exactly. Set once,
// before any other call. POSIX: no effect (names are bytes there).
void SetNameCodePage(uint32_t code_page);

// The attribute bits of a file or folder, as the Windows attribute word has them.
enum FileAttribute : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrArchive = 0x20,
};

// The attributes and times of a file or folder. Times count 100 ns ticks since
// 1601-01-01 UTC; a time that is not present is left as it is when applied.
struct FileInfo {
  uint32_t attributes = 0;  // FileAttribute bits; none: all attributes off
  bool has_created = false;
  bool has_accessed = false;
  bool has_written = false;
  uint64_t created = 0;
  uint64_t accessed = 0;
  uint64_t written = 0;
};

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
// Sets the times present (files only) and then the attributes. A folder path applies
// to the folder. 0, or 1.
int32_t ApplyFileInformation(const Text& path, const FileInfo& info);
// The attributes and times of a file or folder, as far as the system keeps them. 0, or 1.
int32_t CollectFileInformation(const Text& path, FileInfo& info);
// The folder if it does not exist yet; else the first of "F (1)/", "F (2)/", ... that does not.
Text UniqueFolderName(const Text& folder);

// What makes a file or folder itself, whatever its name: the device and inode on
// POSIX, the volume serial number and file index on Windows. A name can be given to
// something else at any moment; an identity stays with what it names.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& o) const { return volume == o.volume && index == o.index; }
  bool operator!=(const FileId& o) const { return !(*this == o); }
};

// What a name inside a folder stands for, looked at without following a link.
struct EntryInfo {
  enum Kind { kMissing, kFile, kFolder, kLink, kOther };
  Kind kind = kMissing;
  bool read_only = false;  // a file without write permission or with the read-only attribute
  FileId id;
};

struct SystemPath;  // Windows: a held folder's path as the wide system calls take it

// An open folder, held for as long as the object lives, and the operations on the
// names inside it. A folder's name can be given to something else while it is used (a
// folder swapped for a link to somewhere outside); what is done through the held
// folder still happens in the folder that was opened. On POSIX the handle is a
// directory descriptor and every name is resolved relative to it by the *at calls, one
// component at a time, never through a link. On Windows the folder is held open
// without delete sharing, so that while it is held it cannot be renamed, deleted or
// replaced by a junction, and names inside it are used by their full path through it:
// the path the system reports for the held folder, in which no link is left and which
// nothing can rename while anything below it is held.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() { Close(); }

  // Opens the folder a path names (internal form, ending in '/'), following links on
  // the way: the path is the user's own. 0, or kTargetMissing.
  int32_t Open(const Text& path);
  // Opens the folder `name` (one component) inside `parent`, never through a link or
  // a reparse point: 0; kUnsafeName for a link; kFolderMissing when nothing has the
  // name; kCannotOpen for anything else.
  int32_t OpenIn(const Folder& parent, const Text& name);
  void Close();
  bool IsOpen() const { return handle_ != -1; }
  const FileId& Id() const { return id_; }
  // The folder's path when it was opened (internal form, ending in '/').
  const Text& Path() const { return path_; }

  // The entry `name` as it is now; kMissing when nothing has the name.
  EntryInfo Inspect(const Text& name) const;
  // The name of the entry `name` as the folder itself spells it: on a volume that
  // does not tell case apart, "README" may find the entry "readme". The name as
  // given when the system gives no other (POSIX, where names are bytes, always).
  Text SpelledName(const Text& name) const;
  // Makes the folder `name`: true when it was made.
  bool MakeFolder(const Text& name) const;
  // Renames `from` to `to` inside this folder, never replacing what `to` names: true
  // when it was renamed.
  bool Rename(const Text& from, const Text& to) const;
  // Moves `from` inside this folder to `to` inside `destination` (on the same volume),
  // never replacing what `to` names there: true when it was moved.
  bool MoveTo(const Text& from, const Folder& destination, const Text& to) const;
  // Removes the file or empty folder `name` only while it is still the one with this
  // identity (a read-only file too): 0; kCannotDeleteFile when it is not there, is
  // something else now, or cannot be removed.
  int32_t Remove(const Text& name, const FileId& id) const;
  // Sets this folder's attributes (Windows; folders on POSIX keep their permissions).
  // 0, or 1.
  int32_t ApplyInformation(const FileInfo& info) const;

 private:
  friend class NewFile;
  intptr_t handle_ = -1;
  FileId id_;
  Text path_;
  SystemPath* system_ = nullptr;
};

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
  // The same for the name `name` (one component) inside a held folder; a link with
  // the name counts as taken and is never followed.
  int32_t Create(const Folder& folder, const Text& name, bool& exists);
  // The identity of the file created last.
  const FileId& Id() const { return id_; }
  // 0, or kShortWrite (a full disk).
  int32_t Write(const void* data, uint32_t length);
  // Sets the times present, closes the file, then sets its attributes. 0, or
  // kShortWrite when closing fails; a time or an attribute the system refuses is not
  // reported.
  int32_t Finish(const FileInfo& info);
  // Finish for a file created inside `folder` under a name of its own, that then takes
  // the name `name` there, before it is closed, when nothing has that name yet (a
  // link's included): `placed` says whether it did. On Windows the rename goes
  // through the open file, where a rename by name would open it once more. Not
  // placed, the file is closed under its first name.
  int32_t FinishAs(const FileInfo& info, const Folder& folder, const Text& name, bool& placed);
  // Closes without setting anything: 0, or kShortWrite.
  int32_t Close();
  // The system's error number of the last call that failed (Create, Write, Close),
  // taken right after it failed; 0 when none has.
  int32_t NativeError() const { return native_; }

 private:
  int32_t Create(const SystemPath& system, const Text& path, const uint64_t* volume, bool& exists);
  intptr_t handle_ = -1;
  Text path_;
  Text name_;  // its name inside the folder it was created in
  FileId id_;
  bool can_rename_ = false;  // Windows: opened with the right to rename it through the handle
  uint32_t mode_ = 0;        // POSIX: the permission bits it was created with
  int32_t native_ = 0;
};

// One directory search: every entry but "." and "..", in the order the system gives.
class FolderSearch {
 public:
  FolderSearch() = default;
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  ~FolderSearch() { Close(); }
  // Starts the search in a folder path; false when it cannot be started, and
  // LastNativeError then says why.
  bool Open(const Text& folder);
  // The next entry; false when there are no more. A link (symlink or reparse point)
  // is reported as such and never as a folder, so that nobody walks into it.
  bool Next(Text& name, bool& is_folder, bool& is_link);
  void Close();

 private:
  struct State;  // the platform's search handle and entry
  State* state_ = nullptr;
};

// The system's error number for the last call that failed on this thread (errno, or
// GetLastError); take it right after the failing call, before another call replaces it.
int32_t LastNativeError();
// The system's own words for an error number ("Permission denied"), without a line end;
// empty for 0.
Text SystemErrorText(int32_t native);

// Opens a file as a C stream, to read ("rb") or to write anew ("w+b"); null on failure,
// and LastNativeError then says why.
std::FILE* OpenFileStream(const Text& path, bool writing);

// Creates a scratch file anew (one of the name is replaced), for the caller to write
// through the system's own handle and close: a HANDLE marked temporary on Windows, a
// descriptor on POSIX; -1 on failure.
intptr_t CreateScratchFile(const Text& path);

// Fills `length` bytes from the system's generator, for names of temporary files that
// nothing can foresee: true, or false (the bytes then all zero).
bool UnforeseeableBytes(unsigned char* out, uint32_t length);
// Creates one folder whose parent exists: true on success.
bool MakeOneFolder(const Text& folder);
// True if the path (a trailing '/' ignored) is a symbolic link or a reparse point.
bool IsLink(const Text& path);
// The path with every link on it resolved (internal form, no trailing '/'); empty when
// it leads nowhere.
Text ResolvedPath(const Text& path);
// Renames a file to a name that does not exist yet: true on success.
bool RenameFile(const Text& from, const Text& to);
// Puts a file in the place of `to` in one step, replacing a file there: at every moment
// `to` is either the old file or the new one. True on success.
bool MoveIntoPlace(const Text& from, const Text& to);

}  // namespace qef
