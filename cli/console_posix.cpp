// Terminal and environment on POSIX: the only file besides console_win32.cpp that
// touches them. The prompt talks to /dev/tty; echo is switched off with termios and
// switched back on even when a signal ends the wait.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/console.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
const int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// What a signal handler needs to put the terminal back; set only while echo is off.
volatile sig_atomic_t g_tty = -1;
struct termios g_saved;
struct sigaction g_old_actions[kSignalCount];

void RestoreAndRaise(int signal_number) {
  if (g_tty >= 0) tcsetattr(g_tty, TCSAFLUSH, &g_saved);
  for (int i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == signal_number) sigaction(signal_number, &g_old_actions[i], nullptr);
  raise(signal_number);
}

void Write(int fd, const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t w = write(fd, text, n);
    if (w <= 0) return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

}  // namespace

int32_t ReadHiddenLine(const char* prompt, Text& line, Text& message) {
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    message = "there is no terminal to ask for the password on";
    return kCannotOpen;
  }
  struct termios quiet;
  bool echo_off = tcgetattr(tty, &g_saved) == 0;
  if (echo_off) {
    quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;  // the user still sees the line end
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RestoreAndRaise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &g_old_actions[i]);
    g_tty = tty;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  Write(tty, prompt);

  char buffer[4096];
  size_t n = 0;
  int32_t r = kOk;
  for (;;) {
    char c = 0;
    ssize_t got = read(tty, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      r = kShortRead;
      message = "the terminal input ended before the password";
      break;
    }
    if (c == '\n') break;
    if (n + 1 >= sizeof buffer) {
      r = kBadArgument;
      message = "the password is too long (4096 bytes or more)";
      break;
    }
    buffer[n++] = c;
    c = 0;
  }
  if (r == kOk) {
    if (n > 0 && buffer[n - 1] == '\r') --n;
    buffer[n] = 0;
    if (!line.Assign(buffer)) r = kOutOfMemory;
  }
  SecureWipe(buffer, sizeof buffer);

  if (echo_off) {
    tcsetattr(tty, TCSAFLUSH, &g_saved);
    g_tty = -1;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_old_actions[i], nullptr);
  }
  close(tty);
  return r;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool ReadEnvironment(const char* name, Text& value) {
  const char* v = std::getenv(name);
  if (v == nullptr) return false;
  return value.Assign(v) != 0;
}

namespace {

volatile sig_atomic_t g_interrupted = 0;

void NoteInterrupt(int) { g_interrupted = 1; }

}  // namespace

// SA_RESETHAND puts the default action back on delivery, so the second signal ends
// the process.
void CatchInterrupt() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = NoteInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool WasInterrupted() { return g_interrupted != 0; }

Text TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return AddTrailingSeparator(Text(folder != nullptr && *folder != 0 ? folder : "/tmp"));
}

Text ExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  buffer[n > 0 ? n : 0] = 0;
  return Text(buffer);
}

uint32_t ProcessNumber() { return static_cast<uint32_t>(getpid()); }

uint32_t LocalCodePage() { return 65001; }

}  // namespace qef
