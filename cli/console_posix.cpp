// Terminal and environment on POSIX: the only file besides console_win32.cpp that
// touches them. The prompt talks to /dev/tty; echo is switched off with termios while
// the line is read, and a signal at the prompt ends the reading: echo comes back on
// only once the reading has stopped, then the signal takes its course.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// What the prompt's signal handler needs; set only while echo is off.
volatile sig_atomic_t g_tty = -1;
volatile sig_atomic_t g_signal = 0;  // the signal that ended the prompt
struct termios g_saved;
struct termios g_quiet;
struct sigaction g_old_actions[kSignalCount];

void NoteSignal(int signal_number);

void InstallPromptHandler(int signal_number, struct sigaction* old) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = NoteSignal;  // no SA_RESTART: the read returns with EINTR
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, old);
}

// Ctrl-Z stops the process with the terminal as it found it and hides the typing
// again when the process goes on. Every other signal is noted; the reading loop ends
// and raises it again once echo is back on.
void NoteSignal(int signal_number) {
  if (signal_number != SIGTSTP) {
    if (g_signal == 0) g_signal = signal_number;
    return;
  }
  int saved_errno = errno;
  if (g_tty >= 0) tcsetattr(g_tty, TCSANOW, &g_saved);
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
  InstallPromptHandler(SIGTSTP, nullptr);
  if (g_tty >= 0) tcsetattr(g_tty, TCSANOW, &g_quiet);
  errno = saved_errno;
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
  bool echo_off = tcgetattr(tty, &g_saved) == 0;
  g_signal = 0;
  if (echo_off) {
    g_quiet = g_saved;
    g_quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    g_quiet.c_lflag |= ECHONL;  // the user still sees the line end
    for (int i = 0; i < kSignalCount; ++i) InstallPromptHandler(kSignals[i], &g_old_actions[i]);
    g_tty = tty;
    tcsetattr(tty, TCSAFLUSH, &g_quiet);
  }
  Write(tty, prompt);

  char buffer[4096];
  size_t n = 0;
  int32_t r = kOk;
  for (;;) {
    char c = 0;
    ssize_t got = g_signal != 0 ? -1 : read(tty, &c, 1);
    if (g_signal != 0) {
      r = kCancelled;
      message = "cancelled at the password prompt";
      break;
    }
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
  if (g_signal != 0) Write(tty, "\n");  // the typing ends on its own line
  close(tty);
  // The signal goes to what was in place before the prompt: the tool's own Ctrl-C
  // handler notes it (the run then ends through its clean-up), the default ends the
  // process.
  if (g_signal != 0) raise(g_signal);
  return r;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int32_t TerminalColumns() {
  struct winsize size;
  std::memset(&size, 0, sizeof size);
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool ReadEnvironment(const char* name, Text& value) {
  const char* v = std::getenv(name);
  if (v == nullptr) return false;
  return value.Assign(v) != 0;
}

namespace {

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_interrupted = 0;  // the first ending signal

// The first signal puts the default action back for all of them, so that the second,
// whichever it is, ends the process.
void NoteInterrupt(int signal_number) {
  if (g_interrupted == 0) g_interrupted = signal_number;
  for (int s : kEndingSignals) signal(s, SIG_DFL);
}

}  // namespace

void CatchInterrupt() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = NoteInterrupt;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) sigaddset(&action.sa_mask, s);
  for (int s : kEndingSignals) sigaction(s, &action, nullptr);
}

bool WasInterrupted() { return g_interrupted != 0; }

int InterruptedStatus() { return g_interrupted != 0 ? 128 + g_interrupted : 0; }

Text TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return AddTrailingSeparator(Text(folder != nullptr && *folder != 0 ? folder : "/tmp"));
}

Text CurrentFolder() {
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr) return Text();
  return AddTrailingSeparator(Text(buffer));
}

Text ExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  buffer[n > 0 ? n : 0] = 0;
  return Text(buffer);
}

Text FindProgram(const char* name) {
  const char* path = std::getenv("PATH");
  Text folders(path != nullptr ? path : "/usr/bin:/bin");
  for (int32_t start = 0; start <= folders.GetLength();) {
    int32_t end = folders.Find(':', start);
    if (end < 0) end = folders.GetLength();
    Text folder = end > start ? folders.Mid(start, end - start) : Text(".");
    Text file = Text::Concat(AddTrailingSeparator(folder), name);
    struct stat facts;
    if (stat(file.Str(), &facts) == 0 && S_ISREG(facts.st_mode) && access(file.Str(), X_OK) == 0) return file;
    start = end + 1;
  }
  return Text();
}

int32_t RunProgram(const std::vector<Text>& arguments, int32_t& status) {
  std::vector<char*> argv;
  for (const Text& a : arguments) argv.push_back(const_cast<char*>(a.Str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) return kCannotOpen;
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int raw = 0;
  while (waitpid(child, &raw, 0) < 0) {
    if (errno != EINTR) return kCannotOpen;
  }
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 127) return kCannotOpen;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return kOk;
}

uint32_t LocalCodePage() { return 65001; }

bool PrepareLocalText(int argc, char** argv, std::vector<std::string>& arguments) {
  arguments.assign(argv, argv + argc);
  return true;
}

}  // namespace qef
