#pragma once
// The tool's terminal and environment: console_posix.cpp and console_win32.cpp are
// the only files of the tool that touch them. Texts come back as UTF-8 on every
// platform, so that the code page conversion that follows is the same everywhere.
#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"

namespace qef {

// Writes the prompt to the terminal and reads one line from it with echo off; the
// line end is not kept. The terminal is used even when standard input and output are
// redirected. 0; kCannotOpen when there is no terminal (message says so); kShortRead
// when the input ends before a line does; kBadArgument for a line of 4096 bytes or more.
int32_t ReadHiddenLine(const char* prompt, Text& line, Text& message);

// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();
// True when standard input is a terminal (a console on Windows).
bool StandardInputIsTerminal();
// The width of the terminal standard error writes to, in columns, asked afresh on each
// call so that a resized window is followed; 0 when it cannot be known.
int32_t TerminalColumns();

// The value of an environment variable; false when it is not set.
bool ReadEnvironment(const char* name, Text& value);

// From now on the first Ctrl-C (SIGINT, or SIGTERM, SIGHUP, SIGQUIT: a closed terminal,
// a dropped session, a system going down) only sets a flag, which long runs poll so
// that they end through their own clean-up (partial output removed, replaced files put
// back, temporary files deleted); a second one ends the process at once.
void CatchInterrupt();
bool WasInterrupted();
// The exit status of a run the signal ended: 128 + its number, as shells report one
// that killed a process (130 for Ctrl-C); 0 when none came.
int InterruptedStatus();

// The system's folder for temporary files, internal form, ending in '/'.
Text TemporaryFolder();
// The current folder, internal form, ending in '/'; empty when it cannot be found.
Text CurrentFolder();
// The running program's file, internal form; empty when it cannot be found.
Text ExecutablePath();

// The file of a program found on PATH by its name (".exe" added on Windows), internal
// form; empty when PATH holds none.
Text FindProgram(const char* name);
// Runs a program (arguments[0], a file from FindProgram, internal form) with the other
// arguments passed unchanged, its standard output discarded and its standard error
// the tool's own, and waits for it. 0 with its exit status; kCannotOpen when it could
// not be started.
int32_t RunProgram(const std::vector<Text>& arguments, int32_t& status);

// The code page of the names the file system hands out and of command-line texts:
// UTF-8 (65001) everywhere. On Windows the file layer converts names from it to
// UTF-16, so a name of any stored code page reaches the disk exactly, whatever the
// system's ANSI code page.
uint32_t LocalCodePage();

// Called first: the command line as UTF-8 texts, the program's name first. On Windows
// also sets the file layer's names and the console's output to UTF-8 for the run.
// False when the system's UTF-16 command line could not be had (the arguments are then
// the C library's own).
bool PrepareLocalText(int argc, char** argv, std::vector<std::string>& arguments);

}  // namespace qef
