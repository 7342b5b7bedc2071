#include "app/temp_files.h"

#include <windows.h>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const int kPathSize = 260;               // the Windows folder
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

namespace {

// An environment variable's text, however long; empty when it is not set.
Text EnvironmentText(const char* name) {
  Text value;
  DWORD size = MAX_PATH + 1;
  for (int tries = 0; tries < 3; ++tries) {
    char* buffer = value.GetBuffer(static_cast<int32_t>(size));
    if (buffer == nullptr) return Text();
    DWORD n = GetEnvironmentVariableA(name, buffer, size);
    if (n >= size) buffer[0] = 0;
    value.ReleaseBuffer();
    if (n < size) return value;
    size = n + 1;
  }
  return Text();
}

}  // namespace

// The system answers no temporary path longer than MAX_PATH: from a longer TMP (or
// TEMP, or USERPROFILE, the order it looks in) it falls back to the Windows folder.
// Such a folder is taken here as the variable names it.
Text TemporaryFolderPath() {
  const char* const kVariables[] = {"TMP", "TEMP", "USERPROFILE"};
  for (const char* variable : kVariables) {
    Text value = EnvironmentText(variable);
    if (value.IsEmpty()) continue;
    if (value.GetLength() < MAX_PATH) break;
    return ToSystemForm(AddTrailingSeparator(ToInternalForm(value)));
  }
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetTempPathA(sizeof buffer, buffer);
  return n > 0 && n < sizeof buffer ? Text(buffer) : Text();
}

// The name is drawn as GetTempFileNameA draws it (the prefix's first three letters,
// four hexadecimal digits, ".tmp"), but made through the file layer: that call takes
// no folder longer than MAX_PATH less 14 characters, and a deep temporary folder
// must work too.
Text DrawTempName() {
  Text folder = AddTrailingSeparator(ToInternalForm(TemporaryFolderPath()));
  if (folder.IsEmpty()) return Text();
  unsigned char seed[2] = {};
  UnforeseeableBytes(seed, sizeof seed);
  uint32_t start = (static_cast<uint32_t>(seed[0]) << 8 | seed[1]) ^ (GetTickCount() & 0xFFFF);
  for (uint32_t i = 0; i < 0x10000; ++i) {
    uint32_t number = (start + i) & 0xFFFF;
    if (number == 0) continue;
    Text name;
    name.Format("%sQML%X.tmp", folder.Str(), static_cast<unsigned>(number));
    NewFile placeholder;
    bool exists = false;
    if (placeholder.Create(name, exists) == kOk) return ToSystemForm(name);
    if (!exists) break;
  }
  return Text();
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
