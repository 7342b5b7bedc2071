#include "app/temp_files.h"

#include <windows.h>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const int kPathSize = 260;
const int32_t kCommandLineSize = 32000;  // bytes, terminating zero included
const int32_t kWorkingFolderSize = 520;

// A path as one command-line word: quoted when it holds a space, so that
// "C:\Program Files\x.exe" cannot start C:\Program.exe.
Text CommandWord(const Text& path) {
  if (path.Find(' ') < 0) return path;
  Text word("\"");
  word.Append(path);
  word.AppendChar('"');
  return word;
}

}  // namespace

Text DrawTempName() {
  Text folder;
  char* folder_buffer = folder.GetBuffer(kPathSize);
  if (folder_buffer != nullptr) GetTempPathA(kPathSize, folder_buffer);
  folder.ReleaseBuffer();

  Text name;
  char* name_buffer = name.GetBuffer(kPathSize);
  if (name_buffer != nullptr && GetTempFileNameA(folder.Str(), "QMLX", 0, name_buffer) == 0) name_buffer[0] = 0;
  name.ReleaseBuffer();
  return name;
}

Text ContainerFileNameFor(const Text& drawn_name) {
  if (drawn_name.IsEmpty()) return Text("");
  Text internal = ToInternalForm(drawn_name);
  Text name = FolderOf(internal);
  name.Append(TitleOf(internal));
  name.Append(".qef");
  return name;
}

int32_t LaunchProgram(const LaunchRequest& request) {
  if (!FileExists(ToInternalForm(request.program))) return kLaunchNotFound;

  Text command = CommandWord(ToSystemForm(request.program));
  command.AppendChar(' ');
  command.Append(request.arguments);
  if (command.GetLength() >= kCommandLineSize) return kLaunchFailed;
  Text working = ToSystemForm(request.working_folder);
  if (working.GetLength() > kWorkingFolderSize) return kLaunchFailed;

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  if (request.hide) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  if (request.exit_code != nullptr) *request.exit_code = 0;

  // CreateProcessA may write into the command line: it needs a writable block.
  char* command_line = command.GetBuffer(command.GetLength());
  if (command_line == nullptr) return kLaunchFailed;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      working.IsEmpty() ? nullptr : working.Str(), &startup, &process))
    return kLaunchFailed;

  if (request.wait) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (request.exit_code != nullptr && GetExitCodeProcess(process.hProcess, &code)) *request.exit_code = code;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return kLaunchStarted;
}

int32_t OpenFolderInExplorer(const Text& folder) {
  Text internal = AddTrailingSeparator(ToInternalForm(folder));
  if (!FolderExists(internal)) return kTargetMissing;

  Text windows;
  char* buffer = windows.GetBuffer(kPathSize);
  if (buffer != nullptr && GetSystemWindowsDirectoryA(buffer, kPathSize) > kPathSize) buffer[0] = 0;
  windows.ReleaseBuffer();
  // The shared Windows folder: on a terminal server the plain call answers the user's
  // private one, which holds no Explorer.
  if (windows.IsEmpty()) return kLaunchNotFound;  // never a bare name: that would search the current folder

  LaunchRequest request;
  request.program = AddTrailingSeparator(ToInternalForm(windows));
  request.program.Append("explorer.exe");
  // Explorer takes one folder; a trailing '\' before the closing quote would be read
  // as an escaped quote by some parsers, so it goes unless the folder is a drive root.
  request.arguments = CommandWord(ToSystemForm(StripTrailingSeparator(internal)));
  return LaunchProgram(request);
}

}  // namespace qef
