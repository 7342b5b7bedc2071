// File and folder operations on Windows: the only file besides fs_posix.cpp that calls
// the operating system for files and folders. Paths arrive in internal form and 8-bit
// text; every call goes through the wide functions with the path that SystemPath
// makes, so that neither MAX_PATH nor the ANSI code page limits what can be reached.
#include <windows.h>

#include <ntsecapi.h>
#include <winternl.h>

#include <atomic>
#include <cstring>
#include <cwchar>

#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/wide_text_win32.h"

namespace qef {

namespace {

UINT g_name_code_page = CP_ACP;

const DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;
// The longest path the wide calls take, in UTF-16 units with the terminating zero.
const size_t kLongestPath = 32767;

}  // namespace

void SetNameCodePage(uint32_t code_page) { g_name_code_page = code_page; }

// A path as the wide system calls take it: UTF-16, '\' as separator, absolute, with
// "." and ".." resolved and the trailing dots and blanks of its last name dropped
// (the normalisation the system makes for the ANSI calls and skips for this form),
// and with the \\?\ prefix, \\?\UNC\ for a share, that lifts the MAX_PATH limit. A
// path that already has a \\?\ or \\.\ prefix is taken as it is. Empty (Ok false)
// when the text does not convert or the path would pass the system's limit.
struct SystemPath {
  wchar_t* units = nullptr;  // zero-terminated
  size_t length = 0;

  SystemPath() = default;
  explicit SystemPath(const Text& path) { Make(path, true); }
  // `name` (one name) inside the folder `folder` made of this type.
  SystemPath(const SystemPath& folder, const Text& name) { Join(folder, name); }
  SystemPath(const SystemPath&) = delete;
  SystemPath& operator=(const SystemPath&) = delete;
  ~SystemPath() { HeapBlockFree(units); }

  bool Ok() const { return units != nullptr; }
  const wchar_t* W() const { return units != nullptr ? units : L""; }

  // The text converted to UTF-16 with separators turned; with `full` also made
  // absolute and prefixed.
  void Make(const Text& path, bool full);
  void Join(const SystemPath& folder, const Text& name);
  bool Reserve(size_t n);
  void Adopt(wchar_t* block, size_t n) {
    HeapBlockFree(units);
    units = block;
    length = n;
  }
};

namespace {

// The 8-bit text in UTF-16, without a terminating zero counted; null when it does not
// convert. The caller frees the block.
wchar_t* Widen(const char* text, int n, size_t extra, size_t& length) {
  length = 0;
  DWORD flags = g_name_code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int need = n == 0 ? 0 : MultiByteToWideChar(g_name_code_page, flags, text, n, nullptr, 0);
  if (n != 0 && need <= 0) return nullptr;
  size_t units = static_cast<size_t>(need) + extra + 1;
  if (units > kLongestPath + extra) return nullptr;
  wchar_t* w = static_cast<wchar_t*>(HeapBlockAlloc(units * sizeof(wchar_t)));
  if (w == nullptr) return nullptr;
  if (n != 0) MultiByteToWideChar(g_name_code_page, flags, text, n, w, need);
  w[need] = 0;
  for (int i = 0; i < need; ++i)
    if (w[i] == L'/') w[i] = L'\\';
  length = static_cast<size_t>(need);
  return w;
}

bool StartsWith(const wchar_t* s, const wchar_t* prefix) {
  for (; *prefix != 0; ++s, ++prefix)
    if (*s != *prefix) return false;
  return true;
}

}  // namespace

bool SystemPath::Reserve(size_t n) {
  wchar_t* w = static_cast<wchar_t*>(HeapBlockAlloc((n + 1) * sizeof(wchar_t)));
  if (w == nullptr) return false;
  w[0] = 0;
  Adopt(w, 0);
  return true;
}

void SystemPath::Make(const Text& path, bool full) {
  Adopt(nullptr, 0);
  size_t n = 0;
  wchar_t* plain = Widen(path.Str(), path.GetLength(), 0, n);
  if (plain == nullptr || n == 0 || !full || StartsWith(plain, L"\\\\?\\") || StartsWith(plain, L"\\\\.\\")) {
    if (plain != nullptr && (n != 0 || !full))
      Adopt(plain, n);
    else
      HeapBlockFree(plain);
    return;
  }
  // GetFullPathNameW answers the size it needs, zero included, when the buffer is short.
  wchar_t* absolute = nullptr;
  DWORD got = GetFullPathNameW(plain, 0, nullptr, nullptr);
  if (got > 0 && got <= kLongestPath) {
    absolute = static_cast<wchar_t*>(HeapBlockAlloc((got + 8) * sizeof(wchar_t)));
    DWORD again = absolute != nullptr ? GetFullPathNameW(plain, got, absolute + 6, nullptr) : 0;
    if (again == 0 || again >= got) {
      HeapBlockFree(absolute);
      absolute = nullptr;
    } else {
      got = again;
    }
  }
  HeapBlockFree(plain);
  if (absolute == nullptr) return;
  // The text sits six units in, so that either prefix fits in front of it.
  wchar_t* a = absolute + 6;
  size_t start = 6;
  if (StartsWith(a, L"\\\\?\\") || StartsWith(a, L"\\\\.\\")) {
    start = 6;
  } else if (StartsWith(a, L"\\\\")) {  // \\server\share becomes \\?\UNC\server\share
    start = 6 + 2 - 8;
    std::memcpy(absolute + start, L"\\\\?\\UNC\\", 8 * sizeof(wchar_t));
  } else {
    start = 6 - 4;
    std::memcpy(absolute + start, L"\\\\?\\", 4 * sizeof(wchar_t));
  }
  size_t total = got + 6 - start;
  if (total >= kLongestPath) {
    HeapBlockFree(absolute);
    return;
  }
  std::memmove(absolute, absolute + start, (total + 1) * sizeof(wchar_t));
  Adopt(absolute, total);
}

void SystemPath::Join(const SystemPath& folder, const Text& name) {
  Adopt(nullptr, 0);
  if (!folder.Ok()) return;
  size_t n = 0;
  wchar_t* leaf = Widen(name.Str(), name.GetLength(), 0, n);
  if (leaf == nullptr) return;
  // The system would drop a name's trailing dots and blanks from a path without the
  // prefix; the name means what it meant there.
  while (n > 0 && (leaf[n - 1] == L'.' || leaf[n - 1] == L' ')) --n;
  bool separator = folder.length > 0 && folder.units[folder.length - 1] != L'\\';
  size_t total = folder.length + (separator ? 1 : 0) + n;
  if (n > 0 && total < kLongestPath && Reserve(total)) {
    std::memcpy(units, folder.units, folder.length * sizeof(wchar_t));
    size_t at = folder.length;
    if (separator) units[at++] = L'\\';
    std::memcpy(units + at, leaf, n * sizeof(wchar_t));
    units[total] = 0;
    length = total;
  }
  HeapBlockFree(leaf);
}

bool WideToText(const wchar_t* wide, int units, UINT code_page, Text& out) {
  if (units == 0) return out.Assign("") != 0;
  int need = WideCharToMultiByte(code_page, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return false;
  char* d = out.GetBuffer(need);
  if (d == nullptr) return false;
  WideCharToMultiByte(code_page, 0, wide, units, d, need, nullptr, nullptr);
  d[need] = 0;
  out.ReleaseBuffer();
  return true;
}

namespace {

// UTF-16 to an 8-bit text in the name code page, as the ANSI calls gave it.
bool Narrow(const wchar_t* w, Text& out) { return WideToText(w, lstrlenW(w), g_name_code_page, out); }

DWORD AttributesOf(const SystemPath& path) { return path.Ok() ? GetFileAttributesW(path.W()) : kNoAttributes; }
DWORD AttributesOf(const Text& path) { return AttributesOf(SystemPath(path)); }

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

// One entry's find data: what FindFirstFileA gave for a plain path.
bool FindOne(const Text& path, WIN32_FIND_DATAW& fd) {
  SystemPath system(path);
  if (!system.Ok()) return false;
  HANDLE h = FindFirstFileW(system.W(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
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
    SystemPath root;
    root.Make(path, false);
    UINT type = GetDriveTypeW(root.W());
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
  }
  WIN32_FIND_DATAW fd;
  return FindOne(StripTrailingSeparator(path), fd) && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t FileSize(const Text& path) {
  if (!FileExists(path)) return -1;
  WIN32_FIND_DATAW fd;
  if (!FindOne(path, fd)) return -1;
  if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || fd.nFileSizeHigh != 0) return -1;
  return static_cast<int64_t>(fd.nFileSizeLow);
}

bool RegularFileSize(const Text& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.IsEmpty() || HasWildcard(path)) return false;
  SystemPath system(path);
  if (!system.Ok() || !GetFileAttributesExW(system.W(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
    return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

int32_t RemoveFile(const Text& path) {
  SystemPath system(path);
  return system.Ok() && DeleteFileW(system.W()) ? 0 : kCannotDeleteFile;
}

int32_t RemoveFolder(const Text& path) {
  SystemPath system(StripTrailingSeparator(path));
  return system.Ok() && RemoveDirectoryW(system.W()) ? 0 : kCannotRemoveFolder;
}

// RtlGenRandom lives in advapi32, which Windows keeps among its KnownDLLs; the stub
// imports nothing else for it.
bool UnforeseeableBytes(unsigned char* out, uint32_t length) {
  bool ok = RtlGenRandom(out, length) != FALSE;
  if (!ok) std::memset(out, 0, length);
  return ok;
}

bool MakeOneFolder(const Text& folder) {
  SystemPath system(StripTrailingSeparator(folder));
  return system.Ok() && CreateDirectoryW(system.W(), nullptr) != 0;
}

bool IsLink(const Text& path) {
  DWORD a = AttributesOf(StripTrailingSeparator(path));
  return a != kNoAttributes && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Where a link leads, however deep: the answer's buffer grows to what the system asks
// for, and its form loses the prefix it comes with.
Text ResolvedPath(const Text& path) {
  SystemPath system(StripTrailingSeparator(path));
  if (!system.Ok()) return Text();
  HANDLE h = CreateFileW(system.W(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Text();
  DWORD size = MAX_PATH, n = 0;
  wchar_t* buffer = nullptr;
  for (;;) {
    buffer = static_cast<wchar_t*>(HeapBlockAlloc(size * sizeof(wchar_t)));
    n = buffer == nullptr ? 0 : GetFinalPathNameByHandleW(h, buffer, size, FILE_NAME_NORMALIZED);
    if (n < size) break;
    HeapBlockFree(buffer);  // too short: n is the size it needs
    size = n + 1;
  }
  CloseHandle(h);
  Text out;
  if (n != 0) {
    wchar_t* start = buffer;
    if (std::wcsncmp(start, L"\\\\?\\UNC\\", 8) == 0) {
      start = buffer + 6;  // \\?\UNC\server\share becomes \\server\share
      *start = L'\\';
    } else if (std::wcsncmp(start, L"\\\\?\\", 4) == 0) {
      start += 4;
    }
    if (!Narrow(start, out)) out = Text();
  }
  HeapBlockFree(buffer);
  return out.IsEmpty() ? out : ToInternalForm(out);
}

bool RenameFile(const Text& from, const Text& to) {
  SystemPath a(from), b(to);
  return a.Ok() && b.Ok() && MoveFileExW(a.W(), b.W(), 0) != 0;
}

bool MoveIntoPlace(const Text& from, const Text& to) {
  SystemPath a(from), b(to);
  return a.Ok() && b.Ok() && MoveFileExW(a.W(), b.W(), MOVEFILE_REPLACE_EXISTING) != 0;
}

int32_t ApplyFileInformation(const Text& path, const FileInfo& info) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  SystemPath system(folder ? StripTrailingSeparator(path) : path);

  // Times first: with the read-only attribute set first, the file could not take them.
  // FILE_WRITE_ATTRIBUTES is enough for SetFileTime and has no path length limit
  // beyond the system's own.
  if (!folder) {
    HANDLE h = CreateFileW(system.W(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      SetTimes(h, info);
      CloseHandle(h);
    }
  }
  if (!SetFileAttributesW(system.W(), SystemAttributes(info))) return kFailed;
  return 0;
}

// ---- Folder ----

namespace {

// Held folders may be read and written by others, but not renamed or deleted: no
// FILE_SHARE_DELETE.
const DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kAllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// What an open entry is: its identity and its attribute word.
struct Facts {
  FileId id;
  DWORD attributes = 0;
};

// NtQueryInformationFile, taken from ntdll, which every process has loaded before its
// first instruction: the stub imports at load time only DLLs the system keeps from
// being planted beside it, and asking for ntdll this way loads nothing. Null when it
// cannot be had; FactsOf then asks the documented way.
using QueryInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
QueryInformationFileFn QueryInformationFile() {
  static std::atomic<QueryInformationFileFn> found{nullptr};
  static std::atomic<bool> looked{false};
  if (!looked.load(std::memory_order_acquire)) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC f = ntdll == nullptr ? nullptr : GetProcAddress(ntdll, "NtQueryInformationFile");
    found.store(reinterpret_cast<QueryInformationFileFn>(reinterpret_cast<void*>(f)), std::memory_order_relaxed);
    looked.store(true, std::memory_order_release);
  }
  return found.load(std::memory_order_relaxed);
}

// The facts of an open entry. Inside a held folder the volume is the folder's (`volume`
// given): a volume mounted on a folder is a reparse point, which is never followed,
// so an entry found through the folder lives on the folder's own volume. Then only the
// file index is asked for, and the attributes, which the system answers from the open
// file alone; GetFileInformationByHandle also asks for the volume's serial number,
// which under Wine is a round trip to its volume manager costing more than the open
// itself. Without `volume` (a folder the user named) it is asked for once.
bool FactsOf(HANDLE h, const uint64_t* volume, bool with_attributes, Facts& facts) {
  QueryInformationFileFn query = QueryInformationFile();
  if (volume == nullptr || query == nullptr) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    facts.id.volume = info.dwVolumeSerialNumber;
    facts.id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.attributes = info.dwFileAttributes;
    return true;
  }
  IO_STATUS_BLOCK io;
  LARGE_INTEGER index;  // FILE_INTERNAL_INFORMATION: the same number as nFileIndex
  if (query(h, &io, &index, sizeof index, FileInternalInformation) < 0) return false;
  facts.id.volume = *volume;
  facts.id.index = static_cast<uint64_t>(index.QuadPart);
  if (!with_attributes) return true;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return false;
  facts.attributes = tag.FileAttributes;
  return true;
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Opens what the path names (with `flags`, a reparse point itself rather than what it
// leads to) and reads its facts (see FactsOf). INVALID_HANDLE_VALUE on failure.
HANDLE OpenEntry(const SystemPath& path, DWORD access, DWORD sharing, DWORD flags, const uint64_t* volume,
                 Facts& facts) {
  if (!path.Ok()) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h =
      CreateFileW(path.W(), access, sharing, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h != INVALID_HANDLE_VALUE && !FactsOf(h, volume, true, facts)) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
  }
  return h;
}

// A folder to hold, with the right to set its attributes where the caller has it.
HANDLE OpenFolderToHold(const SystemPath& path, DWORD flags, const uint64_t* volume, Facts& facts) {
  HANDLE h = OpenEntry(path, kFolderAccess | FILE_WRITE_ATTRIBUTES, kHoldSharing, flags, volume, facts);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    h = OpenEntry(path, kFolderAccess, kHoldSharing, flags, volume, facts);
  return h;
}

bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// The path the system reports for an open folder, links and junctions resolved, as
// the wide calls take it; false when the system cannot say.
bool FinalPath(HANDLE h, SystemPath& path) {
  DWORD need = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (need == 0 || need > kLongestPath || !path.Reserve(need)) return false;
  DWORD got = GetFinalPathNameByHandleW(h, path.units, need, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (got == 0 || got >= need || !StartsWith(path.units, L"\\\\?\\")) {
    path.Adopt(nullptr, 0);
    return false;
  }
  path.length = got;
  return true;
}

}  // namespace

// The folder is found once through the user's path, links included; from then on
// every name inside it goes through the path the system reports for the open folder.
// That path has no link left in it, and the system renames or removes none of its
// folders while this one is open, so a junction retargeted above the folder later in
// the run cannot send a single write elsewhere.
int32_t Folder::Open(const Text& path) {
  Close();
  SystemPath given(StripTrailingSeparator(path));
  Facts facts;
  HANDLE h = OpenFolderToHold(given, 0, nullptr, facts);
  if (h == INVALID_HANDLE_VALUE) return kTargetMissing;
  system_ = new SystemPath;
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !FinalPath(h, *system_)) {
    CloseHandle(h);
    Close();
    return kTargetMissing;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  id_ = facts.id;
  path_ = AddTrailingSeparator(path);
  return 0;
}

int32_t Folder::OpenIn(const Folder& parent, const Text& name) {
  Close();
  if (!parent.IsOpen()) return kCannotOpen;
  Text path = Text::Concat(parent.path_, name);
  system_ = new SystemPath(*parent.system_, name);
  Facts facts;
  HANDLE h = OpenFolderToHold(*system_, FILE_FLAG_OPEN_REPARSE_POINT, &parent.id_.volume, facts);
  if (h == INVALID_HANDLE_VALUE) {
    // The open takes a link itself, so a name it does not find is not there at all.
    bool missing = GetLastError() == ERROR_FILE_NOT_FOUND;
    Close();
    if (missing) return kFolderMissing;
    switch (parent.Inspect(name).kind) {
      case EntryInfo::kMissing: return kFolderMissing;
      case EntryInfo::kLink: return kUnsafeName;
      default: return kCannotOpen;
    }
  }
  int32_t r = 0;
  if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    r = kUnsafeName;
  else if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    r = kCannotOpen;
  if (r != 0) {
    CloseHandle(h);
    Close();
    return r;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  id_ = facts.id;
  path_ = AddTrailingSeparator(path);
  return 0;
}

void Folder::Close() {
  delete system_;
  system_ = nullptr;
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

EntryInfo Folder::Inspect(const Text& name) const {
  EntryInfo entry;
  if (handle_ == -1) return entry;
  SystemPath path(*system_, name);
  Facts facts;
  HANDLE h = OpenEntry(path, FILE_READ_ATTRIBUTES, kAllSharing, FILE_FLAG_OPEN_REPARSE_POINT, &id_.volume, facts);
  DWORD a = kNoAttributes;
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    a = facts.attributes;
    entry.id = facts.id;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
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

// A search for the one name, without wildcards, answers the entry's own name.
Text Folder::SpelledName(const Text& name) const {
  if (handle_ == -1 || HasWildcard(name)) return name;
  SystemPath path(*system_, name);
  WIN32_FIND_DATAW fd;
  HANDLE h = path.Ok() ? FindFirstFileW(path.W(), &fd) : INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE) return name;
  FindClose(h);
  Text spelled;
  return Narrow(fd.cFileName, spelled) && !spelled.IsEmpty() ? spelled : name;
}

bool Folder::MakeFolder(const Text& name) const {
  if (handle_ == -1) return false;
  SystemPath path(*system_, name);
  return path.Ok() && CreateDirectoryW(path.W(), nullptr) != 0;
}

bool Folder::Rename(const Text& from, const Text& to) const { return MoveTo(from, *this, to); }

bool Folder::MoveTo(const Text& from, const Folder& destination, const Text& to) const {
  if (handle_ == -1 || destination.handle_ == -1) return false;
  SystemPath a(*system_, from), b(*destination.system_, to);
  return a.Ok() && b.Ok() && MoveFileExW(a.W(), b.W(), 0) != 0;
}

// The entry is opened, its identity compared and the deletion asked for through that
// one handle: nothing else can take the name in between.
int32_t Folder::Remove(const Text& name, const FileId& id) const {
  if (handle_ == -1) return kCannotDeleteFile;
  Facts facts;
  HANDLE h = OpenEntry(SystemPath(*system_, name), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kAllSharing,
                       FILE_FLAG_OPEN_REPARSE_POINT, &id_.volume, facts);
  if (h == INVALID_HANDLE_VALUE) return kCannotDeleteFile;
  int32_t r = kCannotDeleteFile;
  if (facts.id == id) {
    // A read-only file cannot be deleted: the attribute goes first, and comes back
    // when the deletion is refused after all.
    DWORD a = facts.attributes;
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

// CREATE_NEW refuses any name that is taken, a link's included; with
// FILE_FLAG_OPEN_REPARSE_POINT a link could not be followed even if it did not. The
// file is opened with the right to rename it too (`can_rename`), where the folder's
// owner allows it: so it takes its own name without being opened again.
HANDLE CreateNew(const SystemPath& path, const uint64_t* volume, bool& exists, FileId& id, bool& can_rename) {
  exists = false;
  can_rename = false;
  if (!path.Ok()) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path.W(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, flags, nullptr);
  can_rename = h != INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    h = CreateFileW(path.W(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    exists = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
    return h;
  }
  Facts facts;
  id = FactsOf(h, volume, false, facts) ? facts.id : FileId();
  return h;
}

}  // namespace

int32_t NewFile::Create(const Text& path, bool& exists) {
  name_ = Text();
  return Create(SystemPath(path), path, nullptr, exists);
}

int32_t NewFile::Create(const SystemPath& system, const Text& path, const uint64_t* volume, bool& exists) {
  Close();
  HANDLE h = CreateNew(system, volume, exists, id_, can_rename_);
  if (h == INVALID_HANDLE_VALUE) {
    native_ = LastNativeError();
    return kCannotOpen;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = path;
  return 0;
}

// The name is joined to the held folder's system path (see Folder::Open).
int32_t NewFile::Create(const Folder& folder, const Text& name, bool& exists) {
  Close();
  exists = false;
  if (!folder.IsOpen()) return kCannotOpen;
  name_ = name;
  return Create(SystemPath(*folder.system_, name), Text::Concat(folder.Path(), name), &folder.id_.volume, exists);
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
  Folder none;  // not open: nothing is renamed
  bool placed = false;
  return FinishAs(info, none, Text(), placed);
}

int32_t NewFile::FinishAs(const FileInfo& info, const Folder& folder, const Text& name, bool& placed) {
  placed = false;
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
  // The file is renamed through its open handle, to the path of the name inside the
  // held folder (the system makes the path its own, as it does for a rename by
  // name), never replacing what has the name: ReplaceIfExists stays zero.
  if (folder.IsOpen() && can_rename_ && done) {
    SystemPath target(*folder.system_, name);
    size_t bytes = target.Ok() ? target.length * sizeof(wchar_t) : 0;
    size_t size = sizeof(FILE_RENAME_INFO) + bytes;
    auto* rename = bytes != 0 ? static_cast<FILE_RENAME_INFO*>(HeapBlockAlloc(size)) : nullptr;
    if (rename != nullptr) {
      std::memset(rename, 0, size);
      rename->FileNameLength = static_cast<DWORD>(bytes);
      std::memcpy(rename->FileName, target.units, bytes);
      placed = SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(size)) != 0;
      HeapBlockFree(rename);
    }
  }
  int32_t r = Close();
  // A new file carries the archive attribute already: only other words need a call.
  if (r == 0 && !done && attributes != FILE_ATTRIBUTE_ARCHIVE) {
    SystemPath system(path_);
    if (system.Ok()) SetFileAttributesW(system.W(), attributes);
  }
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
  SystemPath system(folder ? StripTrailingSeparator(path) : path);
  DWORD a = AttributesOf(system);
  if (a != kNoAttributes) info.attributes = a & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (!folder) {
    HANDLE h = CreateFileW(system.W(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
  WIN32_FIND_DATAW entry;
  bool pending = false;  // the first entry came with the open
};

bool FolderSearch::Open(const Text& folder) {
  Close();
  State* s = new State;
  Text pattern = Text::Concat(AddTrailingSeparator(folder), "*.*");
  SystemPath system(pattern);
  s->handle = system.Ok() ? FindFirstFileW(system.W(), &s->entry) : INVALID_HANDLE_VALUE;
  if (!system.Ok()) SetLastError(ERROR_FILENAME_EXCED_RANGE);
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
    if (!state_->pending && !FindNextFileW(state_->handle, &state_->entry)) return false;
    state_->pending = false;
    const wchar_t* n = state_->entry.cFileName;
    if (lstrcmpW(n, L".") == 0 || lstrcmpW(n, L"..") == 0) continue;
    if (!Narrow(n, name)) return false;
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

std::FILE* OpenFileStream(const Text& path, bool writing) {
  SystemPath system(path);
  if (!system.Ok()) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return _wfopen(system.W(), writing ? L"w+b" : L"rb");
}

intptr_t CreateScratchFile(const Text& path) {
  SystemPath system(path);
  if (!system.Ok()) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  HANDLE h = CreateFileW(system.W(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                         nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
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
