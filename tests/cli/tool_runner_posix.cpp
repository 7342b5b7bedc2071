// Starting programs on POSIX: the only file of the tool tests besides
// tool_runner_win32.cpp that calls the process functions.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qef::test {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input) {
  TempDir io;
  WriteFileBytes(io.Sub("in"), input);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, io.Sub("in").Str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, io.Sub("out").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, 2, io.Sub("err").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);  // no controlling terminal
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  RunResult result;
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  result.out = ReadFileBytes(io.Sub("out"));
  result.err = ReadFileBytes(io.Sub("err"));
  return result;
}

std::string BuiltPath(const char* path) { return path; }

void SetVariable(const char* name, const char* value) {
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

}  // namespace qef::test
