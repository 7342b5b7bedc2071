// File and folder operations on Windows: the only file besides fs_posix.cpp that calls
// the operating system for files and folders. Paths arrive in internal form and are
// turned into the system form ('\') for each call.
#include <windows.h>

#include <ntsecapi.h>

#include <cstring>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const Text& path) { return GetFileAttributesA(ToSystemForm(path).Str()); }

bool HasWildcard(const Text& path) { return std::strpbrk(path.Str(), "*?") != nullptr; }

// A FILETIME, or null when the time is not present.
const FILETIME* TimeOf(bool present, uint64_t v, FILETIME& ft) {
  if (!present) return nullptr;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return &ft;
}

// Sets the times present on an open file; the others stay.
void SetTimes(HANDLE h, const FileInfo& info) {
  FILETIME c, a, w;
  SetFileTime(h, TimeOf(info.has_created, info.created, c), TimeOf(info.has_accessed, info.accessed, a),
              TimeOf(info.has_written, info.written, w));
}

// The system's attribute word (FILE_ATTRIBUTE_NORMAL stands for none).
DWORD SystemAttributes(const FileInfo& info) {
  DWORD word = info.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return word != 0 ? word : FILE_ATTRIBUTE_NORMAL;
}

uint64_t Ticks(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

}  // namespace

bool FileExists(const Text& path) {
  // A wildcard search would match other files; such a text names no file.
  if (path.IsEmpty() || HasWildcard(path)) return false;
  DWORD a = AttributesOf(path);
  return a != kNoAttributes && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const Text& path) {
  if (!IsFolderPath(path)) return false;
  if (path.GetLength() < 4) {
    UINT type = GetDriveTypeA(ToSystemForm(path).Str());
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
  }
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(ToSystemForm(StripTrailingSeparator(path)).Str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t FileSize(const Text& path) {
  if (!FileExists(path)) return -1;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(ToSystemForm(path).Str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return -1;
  FindClose(h);
  if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || fd.nFileSizeHigh != 0) return -1;
  return static_cast<int64_t>(fd.nFileSizeLow);
}

bool RegularFileSize(const Text& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.IsEmpty() || HasWildcard(path) ||
      !GetFileAttributesExA(ToSystemForm(path).Str(), GetFileExInfoStandard, &data))
    return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
    return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

int32_t RemoveFile(const Text& path) { return DeleteFileA(ToSystemForm(path).Str()) ? 0 : kCannotDeleteFile; }

int32_t RemoveFolder(const Text& path) {
  return RemoveDirectoryA(ToSystemForm(StripTrailingSeparator(path)).Str()) ? 0 : kCannotRemoveFolder;
}

// RtlGenRandom lives in advapi32, which Windows keeps among its KnownDLLs; the stub
// imports nothing else for it.
bool UnforeseeableBytes(unsigned char* out, uint32_t length) {
  bool ok = RtlGenRandom(out, length) != FALSE;
  if (!ok) std::memset(out, 0, length);
  return ok;
}

bool MakeOneFolder(const Text& folder) {
  return CreateDirectoryA(ToSystemForm(StripTrailingSeparator(folder)).Str(), nullptr) != 0;
}

bool IsLink(const Text& path) {
  DWORD a = AttributesOf(StripTrailingSeparator(path));
  return a != kNoAttributes && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

Text ResolvedPath(const Text& path) {
  HANDLE h = CreateFileA(ToSystemForm(StripTrailingSeparator(path)).Str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Text();
  char buffer[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= sizeof buffer) return Text();
  const char* start = std::strncmp(buffer, "\\\\?\\", 4) == 0 ? buffer + 4 : buffer;
  return ToInternalForm(Text(start));
}

bool RenameFile(const Text& from, const Text& to) {
  return MoveFileExA(ToSystemForm(from).Str(), ToSystemForm(to).Str(), 0) != 0;
}

bool MoveIntoPlace(const Text& from, const Text& to) {
  return MoveFileExA(ToSystemForm(from).Str(), ToSystemForm(to).Str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int32_t ApplyFileInformation(const Text& path, const FileInfo& info) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text system = ToSystemForm(folder ? StripTrailingSeparator(path) : path);

  // Times first: with the read-only attribute set first, the file could not take them.
  // FILE_WRITE_ATTRIBUTES is enough for SetFileTime and has no path length limit
  // beyond the system's own.
  if (!folder) {
    HANDLE h = CreateFileA(system.Str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      SetTimes(h, info);
      CloseHandle(h);
    }
  }
  if (!SetFileAttributesA(system.Str(), SystemAttributes(info))) return kFailed;
  return 0;
}

// ---- Folder ----

namespace {

// Held folders may be read and written by others, but not renamed or deleted: no
// FILE_SHARE_DELETE.
const DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileId id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Opens what the path names (with `flags`, a reparse point itself rather than what it
// leads to) and reads its identity and attributes. INVALID_HANDLE_VALUE on failure.
HANDLE OpenEntry(const Text& path, DWORD access, DWORD sharing, DWORD flags, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = CreateFileA(ToSystemForm(path).Str(), access, sharing, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h != INVALID_HANDLE_VALUE && !GetFileInformationByHandle(h, &info)) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  return h;
}

// A folder to hold, with the right to set its attributes where the caller has it.
HANDLE OpenFolderToHold(const Text& path, DWORD flags, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = OpenEntry(path, kFolderAccess | FILE_WRITE_ATTRIBUTES, kHoldSharing, flags, info);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    h = OpenEntry(path, kFolderAccess, kHoldSharing, flags, info);
  return h;
}

bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

}  // namespace

int32_t Folder::Open(const Text& path) {
  Close();
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = OpenFolderToHold(StripTrailingSeparator(path), 0, info);
  if (h == INVALID_HANDLE_VALUE) return kTargetMissing;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(h);
    return kTargetMissing;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  id_ = IdOf(info);
  path_ = AddTrailingSeparator(path);
  return 0;
}

int32_t Folder::OpenIn(const Folder& parent, const Text& name) {
  Close();
  if (!parent.IsOpen()) return kCannotOpen;
  Text path = Text::Concat(parent.path_, name);
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = OpenFolderToHold(path, FILE_FLAG_OPEN_REPARSE_POINT, info);
  if (h == INVALID_HANDLE_VALUE) {
    switch (parent.Inspect(name).kind) {
      case EntryInfo::kMissing: return kFolderMissing;
      case EntryInfo::kLink: return kUnsafeName;
      default: return kCannotOpen;
    }
  }
  int32_t r = 0;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    r = kUnsafeName;
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    r = kCannotOpen;
  if (r != 0) {
    CloseHandle(h);
    return r;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  id_ = IdOf(info);
  path_ = AddTrailingSeparator(path);
  return 0;
}

void Folder::Close() {
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

EntryInfo Folder::Inspect(const Text& name) const {
  EntryInfo entry;
  if (handle_ == -1) return entry;
  Text path = Text::Concat(path_, name);
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = OpenEntry(path, FILE_READ_ATTRIBUTES, kAllSharing, FILE_FLAG_OPEN_REPARSE_POINT, info);
  DWORD a = kNoAttributes;
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    a = info.dwFileAttributes;
    entry.id = IdOf(info);
  } else {
    a = AttributesOf(path);  // in use in a way that refuses even this open: no identity
  }
  if (a == kNoAttributes) return entry;
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    entry.kind = EntryInfo::kLink;
  else if ((a & FILE_ATTRIBUTE_DIRECTORY) != 0)
    entry.kind = EntryInfo::kFolder;
  else if ((a & FILE_ATTRIBUTE_DEVICE) != 0)
    entry.kind = EntryInfo::kOther;
  else
    entry.kind = EntryInfo::kFile;
  entry.read_only = entry.kind == EntryInfo::kFile && (a & FILE_ATTRIBUTE_READONLY) != 0;
  return entry;
}

bool Folder::MakeFolder(const Text& name) const {
  return handle_ != -1 && CreateDirectoryA(ToSystemForm(Text::Concat(path_, name)).Str(), nullptr) != 0;
}

bool Folder::Rename(const Text& from, const Text& to) const {
  if (handle_ == -1) return false;
  return MoveFileExA(ToSystemForm(Text::Concat(path_, from)).Str(), ToSystemForm(Text::Concat(path_, to)).Str(), 0) !=
         0;
}

// The entry is opened, its identity compared and the deletion asked for through that
// one handle: nothing else can take the name in between.
int32_t Folder::Remove(const Text& name, const FileId& id) const {
  if (handle_ == -1) return kCannotDeleteFile;
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = OpenEntry(Text::Concat(path_, name), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kAllSharing,
                       FILE_FLAG_OPEN_REPARSE_POINT, info);
  if (h == INVALID_HANDLE_VALUE) return kCannotDeleteFile;
  int32_t r = kCannotDeleteFile;
  if (IdOf(info) == id) {
    // A read-only file cannot be deleted: the attribute goes first, and comes back
    // when the deletion is refused after all.
    DWORD a = info.dwFileAttributes;
    bool read_only = (a & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only) SetAttributes(h, (a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL);
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition))
      r = 0;
    else if (read_only)
      SetAttributes(h, a);
  }
  CloseHandle(h);
  return r;
}

int32_t Folder::ApplyInformation(const FileInfo& info) const {
  if (handle_ == -1) return kFailed;
  return SetAttributes(AsHandle(handle_), SystemAttributes(info)) ? 0 : kFailed;
}

// ---- NewFile ----

namespace {

HANDLE CreateNew(const Text& path, bool& exists, FileId& id) {
  exists = false;
  HANDLE h =
      CreateFileA(ToSystemForm(path).Str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    exists = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  id = GetFileInformationByHandle(h, &info) ? IdOf(info) : FileId();
  return h;
}

}  // namespace

int32_t NewFile::Create(const Text& path, bool& exists) {
  Close();
  HANDLE h = CreateNew(path, exists, id_);
  if (h == INVALID_HANDLE_VALUE) {
    native_ = LastNativeError();
    return kCannotOpen;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = path;
  return 0;
}

// The folder is held, so its path still leads to it; CREATE_NEW never follows a link
// that has the name.
int32_t NewFile::Create(const Folder& folder, const Text& name, bool& exists) {
  Close();
  exists = false;
  if (!folder.IsOpen()) return kCannotOpen;
  return Create(Text::Concat(folder.Path(), name), exists);
}

int32_t NewFile::Write(const void* data, uint32_t length) {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(handle_), data, length, &written, nullptr)) {
    native_ = LastNativeError();
    return kShortWrite;
  }
  if (written != length) {
    native_ = ERROR_DISK_FULL;
    return kShortWrite;
  }
  return 0;
}

int32_t NewFile::Finish(const FileInfo& info) {
  if (handle_ == -1) return kCannotOpen;
  // Times and attributes go through the open handle in one call: the file is not opened
  // again by name (each open is a round trip to the system, which adds up over many
  // small files), and read-only cannot get in the way of the times.
  FILE_BASIC_INFO basic = {};
  if (info.has_created) basic.CreationTime.QuadPart = static_cast<LONGLONG>(info.created);
  if (info.has_accessed) basic.LastAccessTime.QuadPart = static_cast<LONGLONG>(info.accessed);
  if (info.has_written) basic.LastWriteTime.QuadPart = static_cast<LONGLONG>(info.written);
  DWORD attributes = SystemAttributes(info);
  basic.FileAttributes = attributes;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  bool done = SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
  if (!done) SetTimes(h, info);
  int32_t r = Close();
  // A new file carries the archive attribute already: only other words need a call.
  if (r == 0 && !done && attributes != FILE_ATTRIBUTE_ARCHIVE)
    SetFileAttributesA(ToSystemForm(path_).Str(), attributes);
  return r;
}

int32_t NewFile::Close() {
  if (handle_ == -1) return 0;
  BOOL ok = CloseHandle(reinterpret_cast<HANDLE>(handle_));
  if (!ok) native_ = LastNativeError();
  handle_ = -1;
  return ok ? 0 : kShortWrite;
}

int32_t CollectFileInformation(const Text& path, FileInfo& info) {
  info = FileInfo();
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text system = ToSystemForm(folder ? StripTrailingSeparator(path) : path);
  DWORD a = GetFileAttributesA(system.Str());
  if (a != kNoAttributes) info.attributes = a & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (!folder) {
    HANDLE h = CreateFileA(system.Str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILETIME c, ac, w;
      if (GetFileTime(h, &c, &ac, &w)) {
        info.created = Ticks(c);
        info.accessed = Ticks(ac);
        info.written = Ticks(w);
        info.has_created = info.has_accessed = info.has_written = true;
      }
      CloseHandle(h);
    }
  }
  return 0;
}

// ---- FolderSearch ----

struct FolderSearch::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA entry;
  bool pending = false;  // the first entry came with the open
};

bool FolderSearch::Open(const Text& folder) {
  Close();
  State* s = new State;
  Text pattern = Text::Concat(AddTrailingSeparator(folder), "*.*");
  s->handle = FindFirstFileA(ToSystemForm(pattern).Str(), &s->entry);
  if (s->handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();  // for LastNativeError, which freeing may replace
    delete s;
    SetLastError(error);
    return false;
  }
  s->pending = true;
  state_ = s;
  return true;
}

bool FolderSearch::Next(Text& name, bool& is_folder, bool& is_link) {
  if (state_ == nullptr) return false;
  for (;;) {
    if (!state_->pending && !FindNextFileA(state_->handle, &state_->entry)) return false;
    state_->pending = false;
    const char* n = state_->entry.cFileName;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    name.Assign(n);
    DWORD a = state_->entry.dwFileAttributes;
    is_link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    is_folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0 && !is_link;
    return true;
  }
}

void FolderSearch::Close() {
  if (state_ == nullptr) return;
  FindClose(state_->handle);
  delete state_;
  state_ = nullptr;
}

int32_t LastNativeError() { return static_cast<int32_t>(GetLastError()); }

Text SystemErrorText(int32_t native) {
  if (native == 0) return Text();
  char buffer[512] = {0};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(native), 0, buffer, sizeof buffer, nullptr);
  // The system's sentences end in ".\r\n"; a message puts its own end after them.
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
    buffer[--n] = 0;
  if (n == 0) {
    Text number;
    number.Format("system error %lu", static_cast<unsigned long>(native));
    return number;
  }
  return Text(buffer);
}

}  // namespace qef
