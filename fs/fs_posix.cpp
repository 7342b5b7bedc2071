// File and folder operations on POSIX: the only file besides fs_win32.cpp that calls
// the operating system for files and folders. The system form of a path keeps '/'.
// Windows attributes map as follows: read-only is the owner's write permission of a
// file (folders keep theirs, so that their content can still be written); hidden,
// system and archive have no counterpart. Last access and last write are atime and
// mtime; the creation time cannot be set and is collected from the birth time where
// the file system keeps one, else from mtime.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/result.h"
#include "fs/filetime.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

bool Lstat(const Text& path, struct stat& st) { return ::lstat(path.Str(), &st) == 0; }

void PutTime(PropertyList& list, uint16_t key, int64_t sec, int64_t nsec) {
  unsigned char bytes[8];
  PutFileTimeBytes(FileTimeFromUnix(sec, nsec), bytes);
  Value v;
  v.SetBlob(bytes, 8);
  list.PutValue(key, v, 1);
}

// A time of the list as a timespec, or UTIME_OMIT when the list does not hold it.
struct timespec TimeOf(const PropertyList* list, uint16_t key) {
  struct timespec ts;
  ts.tv_sec = 0;
  ts.tv_nsec = UTIME_OMIT;
  uint64_t filetime = 0;
  if (!ListTime(list, key, filetime)) return ts;
  int64_t sec = 0, nsec = 0;
  UnixFromFileTime(filetime, sec, nsec);
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(nsec);
  return ts;
}

// The permission bits a file should have: the owner's write permission follows the
// read-only attribute; the rest stays as it is.
mode_t ModeFor(mode_t mode, const PropertyList* list) {
  mode &= 07777;
  return (AttributeWord(list) & 0x01) != 0 ? (mode & ~static_cast<mode_t>(S_IWUSR)) : (mode | S_IWUSR);
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

bool MakeOneFolder(const Text& folder) {
  return ::mkdir(StripTrailingSeparator(folder).Str(), 0777) == 0;
}

bool IsLink(const Text& path) {
  struct stat st;
  return Lstat(StripTrailingSeparator(path), st) && S_ISLNK(st.st_mode);
}

bool RenameFile(const Text& from, const Text& to) {
  struct stat st;
  if (Lstat(to, st)) return false;  // rename would silently replace it
  return ::rename(from.Str(), to.Str()) == 0;
}

bool MoveIntoPlace(const Text& from, const Text& to) { return ::rename(from.Str(), to.Str()) == 0; }

int32_t ApplyFileInformation(const Text& path, const PropertyList* list) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  Text target = folder ? StripTrailingSeparator(path) : path;
  struct stat st;
  if (!Lstat(target, st)) return kFailed;
  if (folder || S_ISLNK(st.st_mode)) return 0;  // folders and links keep their permissions

  // Times first: with the attributes set first, a read-only file could not take them.
  struct timespec times[2] = {TimeOf(list, kInfoAccessed), TimeOf(list, kInfoWritten)};
  if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT)
    ::utimensat(AT_FDCWD, target.Str(), times, AT_SYMLINK_NOFOLLOW);

  mode_t wanted = ModeFor(st.st_mode, list);
  if (wanted != (st.st_mode & 07777) && ::chmod(target.Str(), wanted) != 0) return kFailed;
  return 0;
}

// ---- NewFile ----

int32_t NewFile::Create(const Text& path, bool& exists) {
  Close();
  exists = false;
  int fd = ::open(path.Str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    return kCannotOpen;
  }
  handle_ = fd;
  path_ = path;
  return 0;
}

int32_t NewFile::Write(const void* data, uint32_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, length);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return kShortWrite;
    }
    p += n;
    length -= static_cast<uint32_t>(n);
  }
  return 0;
}

int32_t NewFile::Finish(const PropertyList* info) {
  if (handle_ < 0) return kCannotOpen;
  int fd = static_cast<int>(handle_);
  struct timespec times[2] = {TimeOf(info, kInfoAccessed), TimeOf(info, kInfoWritten)};
  if (times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) ::futimens(fd, times);
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    mode_t wanted = ModeFor(st.st_mode, info);
    if (wanted != (st.st_mode & 07777)) ::fchmod(fd, wanted);
  }
  return Close();
}

int32_t NewFile::Close() {
  if (handle_ < 0) return 0;
  int r = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return r == 0 ? 0 : kShortWrite;
}

int32_t CollectFileInformation(const Text& path, PropertyList& list) {
  bool folder = IsFolderPath(path);
  if (folder ? !FolderExists(path) : !FileExists(path)) return kFailed;
  if (folder) return 0;
  struct statx sx;
  if (::statx(AT_FDCWD, path.Str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return kFailed;
  if ((sx.stx_mode & S_IWUSR) == 0) list.PutByte(kInfoReadOnly, 1, 1);
  if (sx.stx_mask & STATX_BTIME)
    PutTime(list, kInfoCreated, sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  else
    PutTime(list, kInfoCreated, sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  PutTime(list, kInfoAccessed, sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  PutTime(list, kInfoWritten, sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
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

}  // namespace qef
