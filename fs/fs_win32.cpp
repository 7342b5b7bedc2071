// File and folder operations on Windows: the only file besides fs_posix.cpp that calls
// the operating system for files and folders. Paths arrive in internal form and are
// turned into the system form ('\') for each call.
#include <windows.h>

#include <cstring>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const Text& path) { return GetFileAttributesA(ToSystemForm(path).Str()); }

bool HasWildcard(const Text& path) { return std::strpbrk(path.Str(), "*?") != nullptr; }

// A FILETIME from the list, or null when the list does not hold the time as 8 bytes.
const FILETIME* TimeOf(const PropertyList* list, uint16_t key, FILETIME& ft) {
  uint64_t v = 0;
  if (!ListTime(list, key, v)) return nullptr;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return &ft;
}

// Sets the three times the list holds on an open file; the others stay.
void SetTimes(HANDLE h, const PropertyList* list) {
  FILETIME c, a, w;
  SetFileTime(h, TimeOf(list, kInfoCreated, c), TimeOf(list, kInfoAccessed, a), TimeOf(list, kInfoWritten, w));
}

// The system's attribute word for a list (FILE_ATTRIBUTE_NORMAL stands for none).
DWORD SystemAttributes(const PropertyList* list) {
  DWORD word = AttributeWord(list);
  return word != 0 ? word : FILE_ATTRIBUTE_NORMAL;
}

void PutTime(PropertyList& list, uint16_t key, const FILETIME& ft) {
  Value v;
  v.SetBlob(&ft, 8);
  list.PutValue(key, v, 1);
}

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

int32_t RemoveFile(const Text& path) {
  return DeleteFileA(ToSystemForm(path).Str()) ? 0 : kCannotDeleteFile;
}

int32_t RemoveFolder(const Text& path) {
  return RemoveDirectoryA(ToSystemForm(StripTrailingSeparator(path)).Str()) ? 0 : kCannotRemoveFolder;
}

bool MakeOneFolder(const Text& folder) {
  return CreateDirectoryA(ToSystemForm(StripTrailingSeparator(folder)).Str(), nullptr) != 0;
}

bool IsLink(const Text& path) {
  DWORD a = AttributesOf(StripTrailingSeparator(path));
  return a != kNoAttributes && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RenameFile(const Text& from, const Text& to) {
  return MoveFileExA(ToSystemForm(from).Str(), ToSystemForm(to).Str(), 0) != 0;
}

bool MoveIntoPlace(const Text& from, const Text& to) {
  return MoveFileExA(ToSystemForm(from).Str(), ToSystemForm(to).Str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int32_t ApplyFileInformation(const Text& path, const PropertyList* list) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text system = ToSystemForm(folder ? StripTrailingSeparator(path) : path);

  // Times first: with the read-only attribute set first, the file could not take them.
  // FILE_WRITE_ATTRIBUTES is enough for SetFileTime and has no path length limit
  // beyond the system's own.
  if (!folder) {
    HANDLE h = CreateFileA(system.Str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      SetTimes(h, list);
      CloseHandle(h);
    }
  }
  if (!SetFileAttributesA(system.Str(), SystemAttributes(list))) return kFailed;
  return 0;
}

// ---- NewFile ----

int32_t NewFile::Create(const Text& path, bool& exists) {
  Close();
  exists = false;
  HANDLE h = CreateFileA(ToSystemForm(path).Str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    exists = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
    return kCannotOpen;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = path;
  return 0;
}

int32_t NewFile::Write(const void* data, uint32_t length) {
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(handle_), data, length, &written, nullptr) || written != length)
    return kShortWrite;
  return 0;
}

int32_t NewFile::Finish(const PropertyList* info) {
  if (handle_ == -1) return kCannotOpen;
  // Times and attributes go through the open handle in one call: the file is not opened
  // again by name (each open is a round trip to the system, which adds up over many
  // small files), and read-only cannot get in the way of the times.
  FILE_BASIC_INFO basic = {};
  uint64_t time = 0;
  if (ListTime(info, kInfoCreated, time)) basic.CreationTime.QuadPart = static_cast<LONGLONG>(time);
  if (ListTime(info, kInfoAccessed, time)) basic.LastAccessTime.QuadPart = static_cast<LONGLONG>(time);
  if (ListTime(info, kInfoWritten, time)) basic.LastWriteTime.QuadPart = static_cast<LONGLONG>(time);
  DWORD attributes = SystemAttributes(info);
  basic.FileAttributes = attributes;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  bool done = SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
  if (!done) SetTimes(h, info);
  int32_t r = Close();
  // A new file carries the archive attribute already: only other words need a call.
  if (r == 0 && !done && attributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesA(ToSystemForm(path_).Str(), attributes);
  return r;
}

int32_t NewFile::Close() {
  if (handle_ == -1) return 0;
  BOOL ok = CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  return ok ? 0 : kShortWrite;
}

int32_t CollectFileInformation(const Text& path, PropertyList& list) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text system = ToSystemForm(folder ? StripTrailingSeparator(path) : path);
  DWORD a = GetFileAttributesA(system.Str());
  if (a != kNoAttributes) {
    if (a & FILE_ATTRIBUTE_ARCHIVE) list.PutByte(kInfoArchive, 1, 1);
    if (a & FILE_ATTRIBUTE_SYSTEM) list.PutByte(kInfoSystem, 1, 1);
    if (a & FILE_ATTRIBUTE_HIDDEN) list.PutByte(kInfoHidden, 1, 1);
    if (a & FILE_ATTRIBUTE_READONLY) list.PutByte(kInfoReadOnly, 1, 1);
  }
  if (!folder) {
    HANDLE h = CreateFileA(system.Str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILETIME c, ac, w;
      if (GetFileTime(h, &c, &ac, &w)) {
        PutTime(list, kInfoCreated, c);
        PutTime(list, kInfoAccessed, ac);
        PutTime(list, kInfoWritten, w);
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
    delete s;
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

}  // namespace qef
