#pragma once
// Windows only: UTF-16 that a system call answers, as an 8-bit text. One converter
// serves the file layer's names and the tool's console, command line and folders.
#include <windows.h>

#include "core/text.h"

namespace qef {

// `units` UTF-16 units into `out` in `code_page`; false when it cannot be had. A
// character the code page cannot hold becomes the code page's default character.
bool WideToText(const wchar_t* wide, int units, UINT code_page, Text& out);

}  // namespace qef
