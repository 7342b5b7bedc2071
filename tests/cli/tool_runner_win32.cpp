// Starting programs on Windows: the only file of the tool tests besides
// tool_runner_posix.cpp that calls the process functions.
#include <windows.h>

#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"

namespace qef::test {

namespace {

HANDLE OpenInherited(const Text& path, bool write) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  std::string system = path.Str();
  for (char& c : system)
    if (c == '/') c = '\\';
  return CreateFileA(system.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One argument as the C runtime's command-line parser reads it back.
std::string Quoted(const std::string& arg) {
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, '\\');
  return q + "\"";
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& input) {
  TempDir io;
  WriteFileBytes(io.Sub("in"), input);
  HANDLE in = OpenInherited(io.Sub("in"), false);
  HANDLE out = OpenInherited(io.Sub("out"), true);
  HANDLE err = OpenInherited(io.Sub("err"), true);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  std::string command = Quoted(program);
  for (const std::string& a : args) command += " " + Quoted(a);
  PROCESS_INFORMATION pi = {};
  RunResult result;
  // No console: a program that asked on the console would find none instead of waiting.
  if (CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &si,
                     &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) result.status = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  result.out = ReadFileBytes(io.Sub("out"));
  result.err = ReadFileBytes(io.Sub("err"));
  return result;
}

// CMake gives the Unix path of the build; Wine shows the Unix root as drive Z:.
std::string BuiltPath(const char* built) {
  std::string path = built;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

void SetVariable(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

}  // namespace qef::test
