#pragma once
// Temporary files of the stub and the program launcher. The container data is never
// read from the program image directly: it is written to a container file in the
// temporary folder, named after a name the system draws for us, and removed as soon
// as the run ends.
#include <cstdint>

#include "core/text.h"

namespace qef {

// The system's temporary folder as GetTempPathA gives it (system form, ending in '\\'),
// however long; empty when the system cannot say.
Text TemporaryFolderPath();

// A fresh name in the temporary folder ("QML", four hexadecimal digits, ".tmp"), in
// system form, made as an empty placeholder file that reserves the number; the caller
// deletes it once it no longer needs the reservation. The temporary folder may be of
// any length. The empty text when no name can be drawn.
Text DrawTempName();

// The container file name for a drawn name: its folder and title with ".qef", in
// internal form (C:\TEMP\QML1A2B.TMP gives C:/TEMP/QML1A2B.qef). Empty for an empty name.
Text ContainerFileNameFor(const Text& drawn_name);

enum LaunchResult : int32_t {
  kLaunchStarted = 0,
  kLaunchFailed = 1,    // CreateProcessA refused
  kLaunchNotFound = 2,  // no file at the program path
};

struct LaunchRequest {
  Text program;                   // full path of the program file
  Text arguments;                 // passed on as they are, nothing is quoted
  bool wait = false;              // wait for the program's end
  bool hide = false;              // start it with its window hidden
  Text working_folder;            // empty: the launcher's own current folder
  uint32_t* exit_code = nullptr;  // receives the exit code when waiting
};

// Starts a program with "program arguments" as its command line.
int32_t LaunchProgram(const LaunchRequest& request);

// Opens a folder (either form) in a new Explorer window, Explorer being taken from the
// Windows folder, never from the current one. 221 when the folder does not exist,
// otherwise the launcher's answer.
int32_t OpenFolderInExplorer(const Text& folder);

}  // namespace qef
