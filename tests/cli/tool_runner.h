#pragma once
// Runs the real qef binary, as a separate process, the way a user's shell would:
// arguments, standard input from given bytes, standard output and error caught.
// tool_runner_posix.cpp and tool_runner_win32.cpp hold the process calls.
#include <string>
#include <vector>

namespace qef::test {

struct RunResult {
  int status = -1;  // the exit status; -1 when the program could not be run or was killed
  std::string out;
  std::string err;
};

// Runs the program with `input` as its standard input. The program gets no terminal
// or console, so that nothing it might ask can wait for a person. Output goes to
// files, so no pipe can fill up and stall it.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input = "");

// A path of the build tree as CMake gave it, as this test program can use it.
std::string BuiltPath(const char* path);

// Sets (or with null removes) an environment variable that started programs inherit.
void SetVariable(const char* name, const char* value);

}  // namespace qef::test
