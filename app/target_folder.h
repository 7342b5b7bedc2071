#pragma once
// The target folder the stub proposes at start-up: a folder named after the program,
// beside the program, unless the program runs from the temporary folder or from a
// CD-ROM, where nobody wants the files; then on the desktop, or in the folder that the
// "Start Menu" shell folder value names.
#include <windows.h>

#include "core/text.h"

namespace qef {

// True when the program's own folder is no place to extract into: the temporary path
// occurs (exactly, case-sensitively) in the short program folder, or the current
// drive is a CD-ROM.
bool NeedsFallbackFolder(const Text& temp_path, const Text& short_program_folder, UINT drive_type);

// The first of the two folders (either form) that exists, in internal form with a
// trailing '/'; the empty text when neither does.
Text FirstExistingFolder(const Text& first, const Text& second);

// base folder + the program's title + '/', made unique with " (1)", " (2)"... and
// given in system form. The empty text when the result is longer than the 260
// characters the target folder buffer holds: a cut path would name another folder.
Text ProposeTargetFolder(const Text& base_folder, const Text& program_path);

// The program's own file name, in internal form.
Text ProgramPath();

// Asks the system for the program's place and applies the rules above.
Text DefaultTargetFolder();

}  // namespace qef
