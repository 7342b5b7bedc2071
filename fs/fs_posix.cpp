// File and folder operations on POSIX: the only file besides fs_win32.cpp that calls
// the operating system for files and folders. The system form of a path keeps '/'.
// Windows attributes map as follows: read-only is the owner's write permission of a
// file (folders keep theirs, so that their content can still be written); hidden,
// system and archive have no counterpart. Last access and last write are atime and
// mtime; the creation time cannot be set and is collected from the birth time where
// the file system keeps one, else from mtime.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/result.h"
#include "fs/filetime.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

bool Lstat(const Text& path, struct stat& st) { return ::lstat(path.Str(), &st) == 0; }

// A time as a timespec, or UTIME_OMIT when it is not present.
struct timespec TimeSpec(bool present, uint64_t filetime) {
  struct timespec ts;
  ts.tv_sec = 0;
  ts.tv_nsec = UTIME_OMIT;
  if (!present) return ts;
  int64_t sec = 0, nsec = 0;
  UnixFromFileTime(filetime, sec, nsec);
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(nsec);
  return ts;
}

// Last access and last write, for utimensat and futimens.
void AccessAndWrite(const FileInfo& info, struct timespec times[2]) {
  times[0] = TimeSpec(info.has_accessed, info.accessed);
  times[1] = TimeSpec(info.has_written, info.written);
}

// The permission bits a file should have: the owner's write permission follows the
// read-only attribute; the rest stays as it is.
mode_t ModeFor(mode_t mode, const FileInfo& info) {
  mode &= 07777;
  return (info.attributes & kAttrReadOnly) != 0 ? (mode & ~static_cast<mode_t>(S_IWUSR)) : (mode | S_IWUSR);
}

}  // namespace

bool FileExists(const Text& path) {
  struct stat st;
  return !path.IsEmpty() && Lstat(path, st) && !S_ISDIR(st.st_mode);
}

bool FolderExists(const Text& path) {
  if (!IsFolderPath(path)) return false;
  struct stat st;
  return ::stat(StripTrailingSeparator(path).Str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(const Text& path) {
  struct stat st;
  if (!FileExists(path) || !Lstat(path, st) || !S_ISREG(st.st_mode)) return -1;
  if (static_cast<uint64_t>(st.st_size) >> 32 != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool RegularFileSize(const Text& path, uint64_t& size) {
  struct stat st;
  if (path.IsEmpty() || !Lstat(path, st) || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

int32_t RemoveFile(const Text& path) { return ::unlink(path.Str()) == 0 ? 0 : kCannotDeleteFile; }

int32_t RemoveFolder(const Text& path) {
  return ::rmdir(StripTrailingSeparator(path).Str()) == 0 ? 0 : kCannotRemoveFolder;
}

bool UnforeseeableBytes(unsigned char* out, uint32_t length) {
  bool ok = ::getrandom(out, length, 0) == static_cast<ssize_t>(length);
  if (!ok) std::memset(out, 0, length);
  return ok;
}

bool MakeOneFolder(const Text& folder) { return ::mkdir(StripTrailingSeparator(folder).Str(), 0777) == 0; }

bool IsLink(const Text& path) {
  struct stat st;
  return Lstat(StripTrailingSeparator(path), st) && S_ISLNK(st.st_mode);
}

Text ResolvedPath(const Text& path) {
  char* resolved = ::realpath(StripTrailingSeparator(path).Str(), nullptr);
  if (resolved == nullptr) return Text();
  Text t(resolved);
  std::free(resolved);
  return t;
}

bool RenameFile(const Text& from, const Text& to) {
  struct stat st;
  if (Lstat(to, st)) return false;  // rename would silently replace it
  return ::rename(from.Str(), to.Str()) == 0;
}

bool MoveIntoPlace(const Text& from, const Text& to) { return ::rename(from.Str(), to.Str()) == 0; }

int32_t ApplyFileInformation(const Text& path, const FileInfo& info) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text target = folder ? StripTrailingSeparator(path) : path;
  struct stat st;
  if (!Lstat(target, st)) return kFailed;
  if (folder || S_ISLNK(st.st_mode)) return 0;  // folders and links keep their permissions

  // Times first: with the attributes set first, a read-only file could not take them.
  struct timespec times[2];
  AccessAndWrite(info, times);
  if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT)
    ::utimensat(AT_FDCWD, target.Str(), times, AT_SYMLINK_NOFOLLOW);

  mode_t wanted = ModeFor(st.st_mode, info);
  if (wanted != (st.st_mode & 07777) && ::chmod(target.Str(), wanted) != 0) return kFailed;
  return 0;
}

// ---- Folder ----

namespace {

FileId IdOf(const struct stat& st) {
  FileId id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return id;
}

// A held folder is only a place to resolve names from: O_PATH needs no permission to
// read the folder's list, only to pass through it, as a path would.
#ifdef O_PATH
const int kHoldFlags = O_PATH;
#else
const int kHoldFlags = O_RDONLY;
#endif

// Opens a folder relative to `at` and takes its identity: the descriptor, or -1.
int OpenFolderAt(int at, const char* name, int flags, FileId& id) {
  int fd = ::openat(at, name, kHoldFlags | O_DIRECTORY | O_CLOEXEC | flags);
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) != 0) {
    ::close(fd);
    fd = -1;
  }
  if (fd >= 0) id = IdOf(st);
  return fd;
}

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

int32_t Folder::Open(const Text& path) {
  Close();
  Text system = IsTooShortToCreate(path) ? path : StripTrailingSeparator(path);
  int fd = OpenFolderAt(AT_FDCWD, system.Str(), 0, id_);
  if (fd < 0) return kTargetMissing;
  handle_ = fd;
  path_ = AddTrailingSeparator(path);
  return 0;
}

int32_t Folder::OpenIn(const Folder& parent, const Text& name) {
  Close();
  if (!parent.IsOpen()) return kCannotOpen;
  int fd = OpenFolderAt(Fd(parent.handle_), name.Str(), O_NOFOLLOW, id_);
  if (fd < 0) {
    switch (parent.Inspect(name).kind) {
      case EntryInfo::kMissing: return kFolderMissing;
      case EntryInfo::kLink: return kUnsafeName;
      default: return kCannotOpen;
    }
  }
  handle_ = fd;
  path_ = AddTrailingSeparator(Text::Concat(parent.path_, name));
  return 0;
}

void Folder::Close() {
  if (handle_ == -1) return;
  ::close(Fd(handle_));
  handle_ = -1;
}

EntryInfo Folder::Inspect(const Text& name) const {
  EntryInfo info;
  struct stat st;
  if (handle_ == -1 || ::fstatat(Fd(handle_), name.Str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return info;
  info.id = IdOf(st);
  if (S_ISREG(st.st_mode)) {
    info.kind = EntryInfo::kFile;
    info.read_only = (st.st_mode & S_IWUSR) == 0;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = EntryInfo::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = EntryInfo::kLink;
  } else {
    info.kind = EntryInfo::kOther;
  }
  return info;
}

Text Folder::SpelledName(const Text& name) const { return name; }

bool Folder::MakeFolder(const Text& name) const {
  return handle_ != -1 && ::mkdirat(Fd(handle_), name.Str(), 0777) == 0;
}

bool Folder::Rename(const Text& from, const Text& to) const { return MoveTo(from, *this, to); }

bool Folder::MoveTo(const Text& from, const Folder& destination, const Text& to) const {
  if (handle_ == -1 || destination.handle_ == -1) return false;
  int fd = Fd(handle_), into = Fd(destination.handle_);
  if (::renameat2(fd, from.Str(), into, to.Str(), RENAME_NOREPLACE) == 0) return true;
  // File systems without the flag: checking first leaves a moment in which another
  // process could take the name, which a random name makes unlikely to matter.
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;
  if (::fstatat(into, to.Str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return false;
  return ::renameat(fd, from.Str(), into, to.Str()) == 0;
}

// POSIX has no removal by identity: the entry is looked at and removed by name right
// after, relative to the held folder. What another process could put under the name
// in between is only ever something it could have removed itself.
int32_t Folder::Remove(const Text& name, const FileId& id) const {
  EntryInfo info = Inspect(name);
  if (info.kind == EntryInfo::kMissing || info.id != id) return kCannotDeleteFile;
  int flags = info.kind == EntryInfo::kFolder ? AT_REMOVEDIR : 0;
  return ::unlinkat(Fd(handle_), name.Str(), flags) == 0 ? 0 : kCannotDeleteFile;
}

int32_t Folder::ApplyInformation(const FileInfo&) const { return handle_ != -1 ? 0 : kFailed; }

// ---- NewFile ----

namespace {

const uint32_t kModeUnknown = 0xFFFFFFFFu;

// The new file's identity and permission bits come from one fstat: writing changes
// neither, so that finishing the file needs no second look.
int CreateAt(int at, const char* name, bool& exists, FileId& id, uint32_t& mode) {
  exists = false;
  int fd = ::openat(at, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    return -1;
  }
  struct stat st;
  bool known = ::fstat(fd, &st) == 0;
  id = known ? IdOf(st) : FileId();
  mode = known ? static_cast<uint32_t>(st.st_mode & 07777) : kModeUnknown;
  return fd;
}

}  // namespace

int32_t NewFile::Create(const Text& path, bool& exists) {
  Close();
  int fd = CreateAt(AT_FDCWD, path.Str(), exists, id_, mode_);
  if (fd < 0) {
    native_ = errno;
    return kCannotOpen;
  }
  handle_ = fd;
  path_ = path;
  name_ = Text();
  return 0;
}

int32_t NewFile::Create(const Folder& folder, const Text& name, bool& exists) {
  Close();
  exists = false;
  if (!folder.IsOpen()) return kCannotOpen;
  int fd = CreateAt(Fd(folder.handle_), name.Str(), exists, id_, mode_);
  if (fd < 0) {
    native_ = errno;
    return kCannotOpen;
  }
  handle_ = fd;
  path_ = Text::Concat(folder.Path(), name);
  name_ = name;
  return 0;
}

int32_t NewFile::Write(const void* data, uint32_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, length);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      native_ = n < 0 ? errno : ENOSPC;
      return kShortWrite;
    }
    p += n;
    length -= static_cast<uint32_t>(n);
  }
  return 0;
}

int32_t NewFile::Finish(const FileInfo& info) {
  if (handle_ < 0) return kCannotOpen;
  int fd = static_cast<int>(handle_);
  struct timespec times[2];
  AccessAndWrite(info, times);
  if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) ::futimens(fd, times);
  if (mode_ != kModeUnknown) {
    mode_t wanted = ModeFor(static_cast<mode_t>(mode_), info);
    if (wanted != mode_) ::fchmod(fd, wanted);
  }
  return Close();
}

// The rename is relative to the held folder's descriptor; whether it comes before or
// after the close costs nothing here.
int32_t NewFile::FinishAs(const FileInfo& info, const Folder& folder, const Text& name, bool& placed) {
  placed = false;
  int32_t r = Finish(info);
  if (r == 0 && !name_.IsEmpty()) placed = folder.Rename(name_, name);
  return r;
}

int32_t NewFile::Close() {
  if (handle_ < 0) return 0;
  int r = ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (r != 0) native_ = errno;
  return r == 0 ? 0 : kShortWrite;
}

int32_t CollectFileInformation(const Text& path, FileInfo& info) {
  info = FileInfo();
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  if (folder) return 0;
  struct statx sx;
  if (::statx(AT_FDCWD, path.Str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return kFailed;
  if ((sx.stx_mode & S_IWUSR) == 0) info.attributes |= kAttrReadOnly;
  const struct statx_timestamp& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  info.created = FileTimeFromUnix(born.tv_sec, born.tv_nsec);
  info.accessed = FileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  info.written = FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  info.has_created = info.has_accessed = info.has_written = true;
  return 0;
}

// ---- FolderSearch ----

struct FolderSearch::State {
  DIR* dir = nullptr;
  Text folder;
};

bool FolderSearch::Open(const Text& folder) {
  Close();
  DIR* dir = ::opendir(folder.Str());
  if (dir == nullptr) return false;
  state_ = new State;
  state_->dir = dir;
  state_->folder = AddTrailingSeparator(folder);
  return true;
}

bool FolderSearch::Next(Text& name, bool& is_folder, bool& is_link) {
  if (state_ == nullptr) return false;
  while (struct dirent* e = ::readdir(state_->dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    name.Assign(e->d_name);
    // Most file systems give the kind with the entry, which saves a look per entry.
    if (e->d_type != DT_UNKNOWN) {
      is_link = e->d_type == DT_LNK;
      is_folder = e->d_type == DT_DIR;
      return true;
    }
    struct stat st;
    if (!Lstat(Text::Concat(state_->folder, e->d_name), st)) st.st_mode = 0;
    is_link = S_ISLNK(st.st_mode);
    is_folder = S_ISDIR(st.st_mode);
    return true;
  }
  return false;
}

void FolderSearch::Close() {
  if (state_ == nullptr) return;
  ::closedir(state_->dir);
  delete state_;
  state_ = nullptr;
}

namespace {

// strerror_r comes in two kinds: the XSI one fills the buffer and answers a number, the
// GNU one answers the text, which may lie elsewhere.
[[maybe_unused]] const char* PickErrorText(int answer, const char* buffer) { return answer == 0 ? buffer : ""; }
[[maybe_unused]] const char* PickErrorText(const char* answer, const char*) { return answer != nullptr ? answer : ""; }

}  // namespace

void SetNameCodePage(uint32_t) {}

std::FILE* OpenFileStream(const Text& path, bool writing) { return std::fopen(path.Str(), writing ? "w+b" : "rb"); }

intptr_t CreateScratchFile(const Text& path) {
  return ::open(path.Str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int32_t LastNativeError() { return errno; }

Text SystemErrorText(int32_t native) {
  if (native == 0) return Text();
  char buffer[256] = {0};
  return Text(PickErrorText(strerror_r(native, buffer, sizeof buffer), buffer));
}

}  // namespace qef
