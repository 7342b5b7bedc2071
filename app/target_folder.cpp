#include "app/target_folder.h"

#include <shlobj.h>

#include "app/temp_files.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const int kProgramPathSize = 10000;
const int kPathSize = 260;

Text TempPath() { return ToSystemForm(TemporaryFolderPath()); }

// The short form of a path, however long; empty when it has none.
Text ShortPath(const Text& path) {
  Text result;
  DWORD size = MAX_PATH + 1;
  for (int tries = 0; tries < 3; ++tries) {
    char* buffer = result.GetBuffer(static_cast<int32_t>(size));
    if (buffer == nullptr) return Text();
    DWORD n = GetShortPathNameA(path.Str(), buffer, size);
    if (n >= size) buffer[0] = 0;
    result.ReleaseBuffer();
    if (n < size) return result;
    size = n + 1;
  }
  return Text();
}

Text DesktopFolder() {
  Text path;
  LPITEMIDLIST items = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOPDIRECTORY, &items) != S_OK || items == nullptr) return path;
  char* buffer = path.GetBuffer(MAX_PATH);
  if (buffer != nullptr && !SHGetPathFromIDListA(items, buffer)) buffer[0] = 0;
  path.ReleaseBuffer();
  IMalloc* shell_allocator = nullptr;
  if (SHGetMalloc(&shell_allocator) == S_OK && shell_allocator != nullptr) {
    shell_allocator->Free(items);
    shell_allocator->Release();
  }
  return path;
}

// The "Start Menu" value of the current user's shell folders, when it is a text.
Text StartMenuFolder() {
  Text path;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return path;
  char* buffer = path.GetBuffer(kPathSize);
  DWORD type = 0;
  DWORD size = kPathSize;
  if (buffer != nullptr &&
      (RegQueryValueExA(key, "Start Menu", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
       type != REG_SZ))
    buffer[0] = 0;
  path.ReleaseBuffer();  // terminates a value stored without its zero
  RegCloseKey(key);
  return path;
}

}  // namespace

bool NeedsFallbackFolder(const Text& temp_path, const Text& short_program_folder, UINT drive_type) {
  if (drive_type == DRIVE_CDROM) return true;
  return !temp_path.IsEmpty() && short_program_folder.FindText(temp_path.Str()) >= 0;
}

Text FirstExistingFolder(const Text& first, const Text& second) {
  Text folder = AddTrailingSeparator(ToInternalForm(first));
  if (FolderExists(folder)) return folder;
  folder = AddTrailingSeparator(ToInternalForm(second));
  if (FolderExists(folder)) return folder;
  return Text("");
}

Text ProposeTargetFolder(const Text& base_folder, const Text& program_path) {
  Text folder = AddTrailingSeparator(ToInternalForm(base_folder));
  folder.Append(TitleOf(ToInternalForm(program_path)));
  folder.AppendChar('/');
  Text proposal = ToSystemForm(UniqueFolderName(folder));
  if (proposal.GetLength() > kPathSize) return Text("");
  return proposal;
}

// The program's own file name. The system cuts a name that does not fit and says so
// only by filling the buffer: the buffer grows until the name fits whole.
Text ProgramPath() {
  Text path;
  DWORD size = kProgramPathSize;
  for (int tries = 0; tries < 3; ++tries) {
    char* buffer = path.GetBuffer(static_cast<int32_t>(size));
    if (buffer == nullptr) return Text();
    DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    if (n >= size) buffer[0] = 0;
    path.ReleaseBuffer();
    if (n < size) return ToInternalForm(path);
    size *= 4;
  }
  return Text();
}

Text DefaultTargetFolder() {
  Text program_path = ProgramPath();
  Text program_folder = ToSystemForm(FolderOf(program_path));
  UINT drive_type = GetDriveTypeA(nullptr);
  Text temp_path = TempPath();
  Text short_program_folder = temp_path.GetAt(0) == '~' ? Text("") : ShortPath(program_folder);

  Text base = program_folder;
  if (NeedsFallbackFolder(temp_path, short_program_folder, drive_type))
    base = FirstExistingFolder(DesktopFolder(), StartMenuFolder());
  return ProposeTargetFolder(base, program_path);
}

}  // namespace qef
