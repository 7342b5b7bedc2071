// Console and environment on Windows: the only file besides console_posix.cpp that
// touches them. The prompt talks to the console itself (CONIN$, CONOUT$) with echo
// switched off through the console mode; it reads UTF-16 and hands back UTF-8, as
// does the environment, so that nothing depends on the console's code page.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <vector>

#include "cli/console.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/wide_text_win32.h"

namespace qef {

namespace {

const int kMaxLine = 4096;

// UTF-16 to UTF-8 into a Text; false when it cannot be had.
bool AssignUtf8(const wchar_t* wide, int units, Text& out) { return WideToText(wide, units, CP_UTF8, out); }

void WriteConsoleText(HANDLE out, const char* text) {
  DWORD written = 0;
  WriteConsoleA(out, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

}  // namespace

int32_t ReadHiddenLine(const char* prompt, Text& line, Text& message) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    message = "there is no console to ask for the password on";
    return kCannotOpen;
  }
  SetConsoleMode(in, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
  WriteConsoleText(out, prompt);

  wchar_t buffer[kMaxLine + 2];
  DWORD got = 0;
  int32_t r = kOk;
  // Ctrl-C ends the read with nothing; the tool's handler has noted it.
  if (!ReadConsoleW(in, buffer, kMaxLine + 2, &got, nullptr) || got == 0 || WasInterrupted()) {
    r = WasInterrupted() ? kCancelled : kShortRead;
    message = WasInterrupted() ? "cancelled at the password prompt" : "the console input ended before the password";
  } else {
    int units = static_cast<int>(got);
    bool ended = false;
    while (units > 0 && (buffer[units - 1] == L'\n' || buffer[units - 1] == L'\r')) {
      --units;
      ended = true;
    }
    if (!ended) {  // the line did not fit: drain the rest so it is not read as a command
      r = kBadArgument;
      message = "the password is too long (4096 characters or more)";
      FlushConsoleInputBuffer(in);
    } else if (!AssignUtf8(buffer, units, line)) {
      r = kOutOfMemory;
    }
  }
  SecureWipe(buffer, sizeof buffer);

  SetConsoleMode(in, mode);
  WriteConsoleText(out, "\r\n");
  CloseHandle(in);
  CloseHandle(out);
  return r;
}

bool StandardInputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int32_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool ReadEnvironment(const char* name, Text& value) {
  wchar_t wide_name[256];
  int n = MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, 256);
  if (n <= 0) return false;
  DWORD need = GetEnvironmentVariableW(wide_name, nullptr, 0);
  if (need == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND && value.Assign("") != 0;
  wchar_t* wide = static_cast<wchar_t*>(HeapBlockAlloc(need * sizeof(wchar_t)));
  if (wide == nullptr) return false;
  DWORD got = GetEnvironmentVariableW(wide_name, wide, need);
  bool ok = got < need && AssignUtf8(wide, static_cast<int>(got), value);
  SecureWipe(wide, need * sizeof(wchar_t));
  HeapBlockFree(wide);
  return ok;
}

namespace {

volatile LONG g_interrupted = 0;

// The first Ctrl-C or Ctrl-Break is taken; the second goes on to the default handler,
// which ends the process.
BOOL WINAPI NoteInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return InterlockedExchange(&g_interrupted, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

void CatchInterrupt() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool WasInterrupted() { return g_interrupted != 0; }

// Ctrl-C and Ctrl-Break both end the run as SIGINT would.
int InterruptedStatus() { return g_interrupted != 0 ? 128 + 2 : 0; }

namespace {

// A text a system call writes into a buffer of UTF-16 units, as UTF-8. The call
// answers the length it wrote, or the size it needs when the buffer is short; `fill`
// is called again with a buffer of that size, so that no length is cut short.
template <typename Fill>
Text WideResult(Fill fill) {
  Text out;
  DWORD size = 512;
  for (int tries = 0; tries < 4; ++tries) {
    wchar_t* buffer = static_cast<wchar_t*>(HeapBlockAlloc(size * sizeof(wchar_t)));
    if (buffer == nullptr) return out;
    DWORD n = fill(buffer, size);
    bool done = n > 0 && n < size;
    if (done && !AssignUtf8(buffer, static_cast<int>(n), out)) out = Text();
    HeapBlockFree(buffer);
    if (done || n == 0) return out;
    size = n > size ? n + 1 : size * 2;  // a module name answers only that it was cut
  }
  return out;
}

UINT g_console_output = 0;

void RestoreConsoleOutput() {
  if (g_console_output != 0) SetConsoleOutputCP(g_console_output);
}

}  // namespace

Text TemporaryFolder() {
  Text folder = WideResult([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); });
  if (folder.IsEmpty()) return Text("./");
  return AddTrailingSeparator(ToInternalForm(folder));
}

Text CurrentFolder() {
  Text folder = WideResult([](wchar_t* b, DWORD n) { return GetCurrentDirectoryW(n, b); });
  if (folder.IsEmpty()) return Text();
  return AddTrailingSeparator(ToInternalForm(folder));
}

Text ExecutablePath() {
  Text path = WideResult([](wchar_t* b, DWORD n) { return GetModuleFileNameW(nullptr, b, n); });
  return path.IsEmpty() ? Text() : ToInternalForm(path);
}

namespace {

// The tool's texts are UTF-8: the system takes them as UTF-16.
std::vector<wchar_t> Wide(const Text& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.Str(), -1, nullptr, 0);
  std::vector<wchar_t> wide(n > 0 ? static_cast<size_t>(n) : 1, 0);
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.Str(), -1, wide.data(), n);
  return wide;
}

}  // namespace

Text FindProgram(const char* name) {
  std::vector<wchar_t> wide_name = Wide(Text(name));
  Text found =
      WideResult([&](wchar_t* b, DWORD n) { return SearchPathW(nullptr, wide_name.data(), L".exe", n, b, nullptr); });
  return found.IsEmpty() ? Text() : ToInternalForm(found);
}

namespace {

// One argument quoted as the C runtime splits a command line: backslashes are literal
// except before a quote, where they and the quote are escaped.
void AppendQuoted(Text& line, const Text& argument) {
  line.Append("\"");
  int32_t backslashes = 0;
  for (int32_t i = 0; i < argument.GetLength(); ++i) {
    char c = argument.GetAt(i);
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"')
        for (int32_t k = 0; k <= backslashes; ++k) line.Append("\\");
      backslashes = 0;
    }
    line.AppendChar(c);
  }
  for (int32_t k = 0; k < backslashes; ++k) line.Append("\\");
  line.Append("\"");
}

}  // namespace

int32_t RunProgram(const std::vector<Text>& arguments, int32_t& status) {
  Text line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line.Append(" ");
    AppendQuoted(line, i == 0 ? ToSystemForm(arguments[i]) : arguments[i]);
  }
  HANDLE null =
      CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  SetHandleInformation(null, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = null;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  std::vector<wchar_t> program = Wide(ToSystemForm(arguments[0]));
  // CreateProcessW may write into the command line it is given.
  std::vector<wchar_t> command = Wide(line);
  BOOL started =
      CreateProcessW(program.data(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  if (null != INVALID_HANDLE_VALUE) CloseHandle(null);
  if (!started) return kCannotOpen;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  status = static_cast<int32_t>(code);
  return kOk;
}

uint32_t LocalCodePage() { return CP_UTF8; }

bool PrepareLocalText(int argc, char** argv, std::vector<std::string>& arguments) {
  SetNameCodePage(CP_UTF8);
  // The tool writes UTF-8; a console shows it as such while the tool runs.
  UINT output = GetConsoleOutputCP();
  if (output != 0 && output != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    g_console_output = output;
    std::atexit(RestoreConsoleOutput);
  }
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  arguments.clear();
  bool ok = wide != nullptr;
  for (int i = 0; ok && i < count; ++i) {
    Text utf8;
    ok = AssignUtf8(wide[i], lstrlenW(wide[i]), utf8);
    arguments.push_back(utf8.Str());
  }
  if (wide != nullptr) LocalFree(wide);
  if (!ok) {  // the arguments as the C library gave them, in the ANSI code page
    arguments.clear();
    for (int i = 0; i < argc; ++i) arguments.push_back(argv[i]);
  }
  return ok;
}

}  // namespace qef
