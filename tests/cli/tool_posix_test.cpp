// POSIX only: runs of the real qef binary that need what only a POSIX test can set
// up: a look at its command line in /proc, a terminal (a pseudo-terminal), a signal,
// symbolic links and special files. At the terminal's prompt, Ctrl-C ends the run with
// the typing still hidden.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/password.h"
#include "core/hold.h"
#include "fs/fs.h"
#include "fs/temp_file.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

extern char** environ;

namespace qef {
namespace {

using test::TempDir;

const char kPassword[] = "correct horse battery staple";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string CommandLineOf(pid_t pid) {
  std::string line = test::ReadFileBytes(Text(("/proc/" + std::to_string(pid) + "/cmdline").c_str()));
  for (char& c : line)
    if (c == 0) c = ' ';
  return line;
}

// Starts qef with the given standard streams; 0 when it could not be started. With
// `hold`, the run stops itself at that hold point (see WaitForHold).
pid_t StartTool(const std::vector<std::string>& args, posix_spawn_file_actions_t* files, const char* hold = nullptr) {
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  std::vector<std::string> all = {tool};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::string hold_setting = std::string(kHoldVariable) + "=" + (hold != nullptr ? hold : "");
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, kHoldVariable, std::strlen(kHoldVariable)) != 0) env.push_back(*e);
  if (hold != nullptr) env.push_back(&hold_setting[0]);
  env.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, tool.c_str(), files, nullptr, argv.data(), env.data()) == 0 ? pid : 0;
}

// Waits until a run started with a hold point has stopped there: true, the run is
// stopped and waits for SIGCONT (or a signal that ends it); false when it ended first.
bool WaitForHold(pid_t pid) {
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid, &status, WUNTRACED)) < 0 && errno == EINTR) {
  }
  return r == pid && WIFSTOPPED(status);
}

// A pseudo-terminal `columns` wide, for a program's standard error; `other_end` is the
// side the program gets. -1 when none can be had.
int OpenTerminal(unsigned short columns, int& other_end) {
  other_end = -1;
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0) return -1;
  struct winsize size = {};
  size.ws_col = columns;
  size.ws_row = 24;
  if (grantpt(terminal) == 0 && unlockpt(terminal) == 0 && ioctl(terminal, TIOCSWINSZ, &size) == 0)
    other_end = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  if (other_end >= 0) return terminal;
  close(terminal);
  return -1;
}

// What the terminal shows: with `wait`, until the program has closed its end (reading
// all along, so that a full terminal never stalls it); without, what is there now.
std::string ReadTerminal(int terminal, bool wait) {
  std::string drawn;
  char buffer[4096];
  for (;;) {
    if (!wait) {
      struct pollfd ready = {terminal, POLLIN, 0};
      if (poll(&ready, 1, 0) <= 0) break;
    }
    ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    drawn.append(buffer, static_cast<size_t>(n));
  }
  return drawn;
}

// The exit status, or -1 when a signal ended the process.
int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ToolPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SetVariable(kPasswordVariable, nullptr);
    test::WriteFileBytes(dir_.Sub("pw.txt"), std::string(kPassword) + "\n");
  }

  std::string At(const char* relative) const { return dir_.Sub(relative).Str(); }

  TempDir dir_;
};

TEST_F(ToolPosix, PasswordNeverOnTheCommandLine) {
  test::WriteFileBytes(dir_.Sub("a.txt"), "a");
  ASSERT_EQ(test::RunProgram(test::BuiltPath(QEF_TOOL_PATH),
                             {"pack", At("a.txt"), "-o", At("a.qef"), "--password-file", At("pw.txt")})
                .status,
            0);

  int input[2];
  ASSERT_EQ(pipe(input), 0);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, input[0], 0);
  posix_spawn_file_actions_addclose(&files, input[1]);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = StartTool({"test", At("a.qef"), "--password-file", "-"}, &files);
  posix_spawn_file_actions_destroy(&files);
  close(input[0]);
  ASSERT_NE(pid, 0);

  // qef is waiting for the line; its command line is complete by now.
  std::string seen;
  for (int i = 0; i < 6000 && seen.find("--password-file") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    seen = CommandLineOf(pid);
  }
  EXPECT_NE(seen.find(" test "), std::string::npos) << seen;
  EXPECT_EQ(seen.find(kPassword), std::string::npos) << seen;
  EXPECT_EQ(seen.find("correct"), std::string::npos) << seen;

  std::string line = std::string(kPassword) + "\n";
  ASSERT_EQ(write(input[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
  close(input[1]);
  EXPECT_EQ(WaitFor(pid), 0);
}

// Without -C, the names the items take beside the archive are never followed when
// they are links: a link planted under the name of the folder qef would make, or of the
// one item it would put there, while the password is asked for is left as it is, the
// items take a numbered name, and the victim's files stay as they were. The password
// comes through a FIFO that the test feeds only once the link is in place, so that the
// run is held at that point, not raced.
TEST_F(ToolPosix, TheNamesItChoosesAreNeverFollowed) {
  ASSERT_EQ(CreateFolder(dir_.Sub("share/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("victim/")), 0);
  test::WriteFileBytes(dir_.Sub("authorized_keys"), "the archive's");
  test::WriteFileBytes(dir_.Sub("other"), "more");
  test::WriteFileBytes(dir_.Sub("victim/authorized_keys"), "the victim's own");
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  struct Case {
    std::vector<std::string> sources;
    const char* link;    // below share/
    const char* target;  // what it points to
    const char* placed;  // where the archive's authorized_keys goes
  } cases[] = {
      {{At("authorized_keys"), At("other")}, "foo", "../victim", "share/foo (1)/authorized_keys"},
      {{At("authorized_keys")}, "authorized_keys", "../victim/authorized_keys", "share/authorized_keys (1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::vector<std::string> pack = {"pack"};
    pack.insert(pack.end(), c.sources.begin(), c.sources.end());
    pack.insert(pack.end(), {"-o", At("share/foo.qef"), "--password-file", At("pw.txt")});
    ASSERT_EQ(test::RunProgram(tool, pack).status, 0);
    test::Snapshot victim = test::TakeSnapshot(dir_.Sub("victim/"));
    unlink(At("fifo").c_str());
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0600), 0);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, At("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = StartTool({"extract", At("share/foo.qef"), "--password-file", At("fifo")}, &files);
    posix_spawn_file_actions_destroy(&files);
    ASSERT_NE(pid, 0);
    // The open returns once qef has opened the FIFO to read the password: it has
    // chosen its folder by then.
    int fifo = open(At("fifo").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    std::string link = std::string("share/") + c.link;
    ASSERT_EQ(symlink(c.target, At(link.c_str()).c_str()), 0);
    std::string line = std::string(kPassword) + "\n";
    ASSERT_EQ(write(fifo, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fifo);
    EXPECT_EQ(WaitFor(pid), 0);
    std::string err = test::ReadFileBytes(dir_.Sub("err.txt"));
    EXPECT_TRUE(Contains(err, At(link.c_str()) + " exists, so the items went to ")) << err;
    EXPECT_EQ(test::ReadFileBytes(dir_.Sub(c.placed)), "the archive's");
    EXPECT_EQ(test::TakeSnapshot(dir_.Sub("victim/")), victim);
    struct stat st;
    EXPECT_TRUE(lstat(At(link.c_str()).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << "not the run's to touch";
  }
}

// The bar is drawn only on a terminal, and -q keeps it and the summary away.
TEST_F(ToolPosix, ProgressBarOnATerminalUnlessQuiet) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  test::WriteFileBytes(dir_.Sub("src/a.txt"), std::string(100000, 'a'));
  std::string pw = At("pw.txt");
  struct Case {
    std::vector<std::string> args;
    bool drawn;
    unsigned short columns;  // 0: the terminal's width is not known
  } cases[] = {
      {{"pack", At("src"), "-o", At("a.qef"), "--password-file", pw}, true, 0},
      {{"pack", At("src"), "-o", At("q.qef"), "--password-file", pw, "-q"}, false, 0},
      {{"test", At("a.qef"), "--password-file", pw}, true, 0},
      {{"test", At("a.qef"), "--password-file", pw}, true, 40},
      {{"extract", At("a.qef"), "-C", At("t"), "--password-file", pw, "--quiet"}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.drawn ? "" : " quietly") + " in " + std::to_string(c.columns) + " columns");
    int other_end = -1;
    int terminal = OpenTerminal(c.columns, other_end);
    ASSERT_GE(terminal, 0);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, dir_.Sub("out").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, other_end, 2);
    pid_t pid = StartTool(c.args, &files);
    posix_spawn_file_actions_destroy(&files);
    close(other_end);
    ASSERT_NE(pid, 0);
    std::string drawn = ReadTerminal(terminal, true);
    close(terminal);
    EXPECT_EQ(WaitFor(pid), 0) << drawn;
    std::string out = test::ReadFileBytes(dir_.Sub("out"));
    if (c.drawn && c.columns != 0) {
      // Every drawing stays within the width, so the terminal never starts a new line.
      size_t start = 0;
      for (size_t end; (end = drawn.find_first_of("\r\n", start + 1)) != std::string::npos; start = end)
        EXPECT_LT(end - start - 1, c.columns) << drawn.substr(start, end - start);
      EXPECT_TRUE(Contains(drawn, "\r100% ")) << drawn;
    } else if (c.drawn) {
      EXPECT_TRUE(Contains(drawn, "\r100% [####################]")) << drawn;
      EXPECT_NE(out, "");
    } else {
      EXPECT_EQ(drawn, "");
      EXPECT_EQ(out, "");
    }
  }
}

// The bar follows the terminal's width as it changes: a run held in the middle of a
// file has its terminal made narrower, as a user drags the window (the size set on the
// terminal, and SIGWINCH, which a terminal sends its foreground job); every line it
// draws from then on fits the new width.
TEST_F(ToolPosix, ProgressBarFollowsAResizedTerminal) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  test::WriteFileBytes(dir_.Sub("src/big.bin"), std::string(3u << 20, 'b'));
  std::string pw = At("pw.txt");
  ASSERT_EQ(test::RunProgram(test::BuiltPath(QEF_TOOL_PATH),
                             {"pack", At("src"), "-o", At("a.qef"), "--compression", "store", "--password-file", pw})
                .status,
            0);
  const unsigned short kWide = 120, kNarrow = 30;
  int other_end = -1;
  int terminal = OpenTerminal(kWide, other_end);
  ASSERT_GE(terminal, 0);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&files, other_end, 2);
  pid_t pid = StartTool({"extract", At("a.qef"), "-C", At("t"), "--password-file", pw}, &files, "file-data");
  posix_spawn_file_actions_destroy(&files);
  close(other_end);
  ASSERT_NE(pid, 0);
  ASSERT_TRUE(WaitForHold(pid)) << "the run ended before it reached a file's data";

  std::string before = ReadTerminal(terminal, false);  // what it drew before it stopped
  struct winsize size = {};
  size.ws_col = kNarrow;
  size.ws_row = 24;
  ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &size), 0);
  kill(pid, SIGWINCH);
  kill(pid, SIGCONT);
  std::string after = ReadTerminal(terminal, true);
  close(terminal);
  EXPECT_EQ(WaitFor(pid), 0) << before << after;

  size_t widest = 0, start = 0;
  for (size_t end; (end = before.find_first_of("\r\n", start + 1)) != std::string::npos; start = end)
    widest = std::max(widest, end - start - 1);
  widest = std::max(widest, before.size() - start - 1);
  EXPECT_GE(widest, kNarrow) << "drawn wide before the resize: " << before;
  EXPECT_TRUE(Contains(after, "\r100% ")) << after;
  start = 0;
  for (size_t end; (end = after.find_first_of("\r\n", start + 1)) != std::string::npos; start = end)
    EXPECT_LT(end - start - 1, kNarrow) << after.substr(start, end - start);
}

// Output that cannot be written fails the run, with a message, also when the work
// itself was done.
TEST_F(ToolPosix, StandardOutputThatCannotBeWrittenFailsTheRun) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  test::WriteFileBytes(dir_.Sub("src/a.txt"), "a");
  std::string pw = At("pw.txt");
  ASSERT_EQ(
      test::RunProgram(test::BuiltPath(QEF_TOOL_PATH), {"pack", At("src"), "-o", At("a.qef"), "--password-file", pw})
          .status,
      0);
  std::vector<std::vector<std::string>> runs = {
      {"list", At("a.qef"), "--password-file", pw},
      {"list", At("a.qef"), "--json", "--password-file", pw},
      {"test", At("a.qef"), "--password-file", pw},
      {"extract", At("a.qef"), "-C", At("t"), "--password-file", pw},
      {"pack", At("src"), "-o", At("b.qef"), "--password-file", pw},
      {"--help"},
  };
  for (const std::vector<std::string>& args : runs) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/full", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, dir_.Sub("err").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = StartTool(args, &files);
    posix_spawn_file_actions_destroy(&files);
    ASSERT_NE(pid, 0);
    std::string err;
    int status = WaitFor(pid);
    err = test::ReadFileBytes(dir_.Sub("err"));
    EXPECT_EQ(status, 1) << args[0] << ": " << err;
    EXPECT_TRUE(Contains(err, "qef: cannot write to standard output: ")) << args[0] << ": " << err;
  }
}

// Names the code page cannot hold are all named in one run; names that differ only in
// case are warned of, as Windows would extract one over the other.
TEST_F(ToolPosix, EveryUnstorableNameAndEveryCaseCollisionIsTold) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/\xCE\xA9-folder/")), 0);
  test::WriteFileBytes(dir_.Sub("src/\xCE\xA9-folder/inside.txt"), "a");
  test::WriteFileBytes(dir_.Sub("src/\xCE\xB1.txt"), "a");
  test::WriteFileBytes(dir_.Sub("src/fine.txt"), "a");
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  test::RunResult r = test::RunProgram(tool, {"pack", At("src"), "-o", At("a.qef"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "warning: the name \"src/\xCE\xA9-folder\" cannot be stored") &&
              Contains(r.err, "warning: the name \"src/\xCE\xB1.txt\" cannot be stored") &&
              Contains(r.err, "qef: 2 names cannot be stored (named above) (code 30)"))
      << r.err;
  EXPECT_FALSE(FileExists(dir_.Sub("a.qef")));

  ASSERT_EQ(CreateFolder(dir_.Sub("cases/")), 0);
  test::WriteFileBytes(dir_.Sub("cases/Readme"), "a");
  test::WriteFileBytes(dir_.Sub("cases/README"), "b");
  r = test::RunProgram(tool, {"pack", At("cases"), "-o", At("b.qef"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "qef: warning: cases/README and cases/Readme differ only in case")) << r.err;
}

// "--password-file -" on a terminal is typed at a prompt, without echo.
TEST_F(ToolPosix, PasswordFileDashOnATerminalIsAskedWithoutEcho) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  test::WriteFileBytes(dir_.Sub("src/a.txt"), "a");
  ASSERT_EQ(test::RunProgram(test::BuiltPath(QEF_TOOL_PATH),
                             {"pack", At("src"), "-o", At("a.qef"), "--password-file", At("pw.txt")})
                .status,
            0);
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_TRUE(grantpt(terminal) == 0 && unlockpt(terminal) == 0);
  std::string name = ptsname(terminal);
  // The child takes the terminal as its controlling one, as a shell's job would.
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int t = open(name.c_str(), O_RDWR);
    int out = open(dir_.Sub("out").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (t < 0 || out < 0 || dup2(t, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(120);
    std::string tool = test::BuiltPath(QEF_TOOL_PATH);
    std::string archive = At("a.qef");
    char test_word[] = "test", option[] = "--password-file", dash[] = "-";
    char* argv[] = {&tool[0], test_word, &archive[0], option, dash, nullptr};
    execv(tool.c_str(), argv);
    _exit(122);
  }
  ASSERT_GT(pid, 0);
  std::string seen;
  char buffer[256];
  while (!Contains(seen, "Password: ")) {
    ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << seen;
    seen.append(buffer, static_cast<size_t>(n));
  }
  std::string typed = std::string(kPassword) + "\n";
  ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  for (;;) {
    ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    seen.append(buffer, static_cast<size_t>(n));
  }
  close(terminal);
  EXPECT_EQ(WaitFor(pid), 0) << test::ReadFileBytes(dir_.Sub("out"));
  EXPECT_FALSE(Contains(seen, kPassword)) << seen;
}

// Ctrl-C, and every other signal that ends a run cleanly (a closed terminal, a dropped
// session, kill), ends it through its own clean-up: code 40, the status a shell gives
// a process the signal ended, the files it had extracted so far gone again and
// nothing written aside left; packing leaves neither an output nor its temporary file.
TEST_F(ToolPosix, EndingSignalsRollARunBackWith128PlusTheSignal) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  for (int i = 0; i < 50; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "src/%04d.txt", i);
    test::WriteFileBytes(dir_.Sub(name), std::string(static_cast<size_t>(i % 300), 'x'));
  }
  ASSERT_EQ(test::RunProgram(test::BuiltPath(QEF_TOOL_PATH), {"pack", At("src"), "-o", At("a.qef"), "--compression",
                                                              "store", "--password-file", At("pw.txt")})
                .status,
            0);
  ASSERT_EQ(CreateFolder(dir_.Sub("big/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("out/")), 0);
  test::WriteFileBytes(dir_.Sub("big/text.txt"), std::string(1u << 20, 't'));

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal_number);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, dir_.Sub("err").Str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The signal comes while the run is held inside its first file with data; it is
    // handled as soon as the run goes on.
    pid_t pid =
        StartTool({"extract", At("a.qef"), "-C", At("t"), "--password-file", At("pw.txt")}, &files, "file-data");
    ASSERT_NE(pid, 0);
    ASSERT_TRUE(WaitForHold(pid)) << "the run ended before it reached a file's data";
    kill(pid, signal_number);
    kill(pid, SIGCONT);
    EXPECT_EQ(WaitFor(pid), 128 + signal_number);
    std::string err = test::ReadFileBytes(dir_.Sub("err"));
    EXPECT_TRUE(Contains(err, "(code 40)\n")) << err;
    EXPECT_TRUE(Contains(err, "cancelled; removing ")) << err;
    EXPECT_FALSE(FolderExists(dir_.Sub("t/"))) << "the rolled-back run leaves no target";

    pid = StartTool({"pack", At("big"), "-o", At("out/big.qef"), "--password-file", At("pw.txt")}, &files, "pack-data");
    posix_spawn_file_actions_destroy(&files);
    ASSERT_NE(pid, 0);
    ASSERT_TRUE(WaitForHold(pid)) << "the packing ended before it wrote data";
    EXPECT_FALSE(FindTemporaryFiles(dir_.Sub("out/")).empty());
    kill(pid, signal_number);
    kill(pid, SIGCONT);
    EXPECT_EQ(WaitFor(pid), 128 + signal_number);
    EXPECT_TRUE(FindTemporaryFiles(dir_.Sub("out/")).empty());
    EXPECT_FALSE(FileExists(dir_.Sub("out/big.qef")));
  }
}

// Packing goes on without what it cannot keep (links and special files inside the
// sources, a few named for each reason and the rest counted) and warns of a short
// password. A link named as a source is packed as what it points to, under its name.
TEST_F(ToolPosix, WarnsOfAShortPasswordAndSkipsLinksAndSpecialFiles) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  test::WriteFileBytes(dir_.Sub("src/a.txt"), "a");
  for (int i = 0; i < 8; ++i) ASSERT_EQ(symlink("a.txt", dir_.Sub(("src/link" + std::to_string(i)).c_str()).Str()), 0);
  ASSERT_EQ(mkfifo(dir_.Sub("src/pipe").Str(), 0600), 0);
  ASSERT_EQ(symlink("src/a.txt", dir_.Sub("alias").Str()), 0);
  ASSERT_EQ(symlink("src", dir_.Sub("folder-link").Str()), 0);
  test::WriteFileBytes(dir_.Sub("short.txt"), "123456789\n");

  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  test::RunResult r = test::RunProgram(tool, {"pack", At("src"), At("alias"), At("folder-link/"), "-o", At("a.qef"),
                                              "--password-file", At("short.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const std::string& warning :
       {"qef: warning: " + At("src/pipe") + " skipped: not a regular file\n",
        std::string("qef: warning: 11 more skipped: symbolic link (--dereference packs what links inside"),
        std::string("qef: warning: the password is shorter than 10 characters")}) {
    EXPECT_TRUE(Contains(r.err, warning)) << warning << " in\n" << r.err;
  }
  size_t named = 0;
  for (size_t at = 0; (at = r.err.find("skipped: symbolic link\n", at)) != std::string::npos; ++at) ++named;
  EXPECT_EQ(named, 5u) << r.err;
  r = test::RunProgram(tool, {"list", At("a.qef"), "--password-file", At("short.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "src/a.txt") && Contains(r.out, " alias\n") && Contains(r.out, "folder-link/a.txt"))
      << r.out;
  EXPECT_FALSE(Contains(r.out, "link0") || Contains(r.out, "pipe")) << r.out;

  // With --dereference the links inside are packed as what they point to; a few links
  // skipped without it end with the option's name.
  r = test::RunProgram(tool, {"pack", At("src"), "--dereference", "-o", At("d.qef"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.err, "symbolic link")) << r.err;
  r = test::RunProgram(tool, {"list", At("d.qef"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(Contains(r.out, "src/link7\n")) << r.out;
  ASSERT_EQ(unlink(At("src/link7").c_str()), 0);
  for (int i = 0; i < 7; ++i) ASSERT_EQ(unlink(At(("src/link" + std::to_string(i)).c_str()).c_str()), 0);
  ASSERT_EQ(symlink("a.txt", At("src/link").c_str()), 0);
  r = test::RunProgram(tool, {"pack", At("src"), "-o", At("e.qef"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(Contains(r.err, "/src/link skipped: symbolic link\n") &&
              Contains(r.err, "qef: warning: --dereference packs what links inside the sources point to\n"))
      << r.err;

  // A file that has more to read than its size said changed as it was read (a /proc
  // file reads as more than the nothing it claims): the run fails and leaves nothing.
  r = test::RunProgram(tool, {"pack", "/proc/version", "-o", At("changed.qef"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "changed as it was read") && Contains(r.err, "(code 208)")) << r.err;
  EXPECT_FALSE(FileExists(dir_.Sub("changed.qef")));

  // Sources that all are left out pack nothing, and the run says so and fails.
  r = test::RunProgram(tool,
                       {"pack", At("src"), "--exclude", "src", "-o", At("none.qef"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "nothing to pack") && Contains(r.err, "(code 30)")) << r.err;
  EXPECT_FALSE(FileExists(dir_.Sub("none.qef")));
}

// --dereference packs what links inside the sources point to, files and folders, under
// the links' names; a link to a folder the walk is inside, directly or through another
// link, is skipped with a warning rather than followed forever, as is a link that
// leads nowhere.
TEST_F(ToolPosix, DereferencePacksWhatLinksPointToAndStopsAtLoops) {
  ASSERT_EQ(CreateFolder(dir_.Sub("a/inner/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("b/")), 0);
  test::WriteFileBytes(dir_.Sub("a/inner/x.txt"), "x");
  test::WriteFileBytes(dir_.Sub("b/y.txt"), "y");
  test::WriteFileBytes(dir_.Sub("elsewhere.txt"), "far");
  ASSERT_EQ(symlink("../b", At("a/to-b").c_str()), 0);    // b/ holds a link back to a/
  ASSERT_EQ(symlink("../a", At("b/to-a").c_str()), 0);    // a loop through b
  ASSERT_EQ(symlink("..", At("a/inner/up").c_str()), 0);  // a loop of its own
  ASSERT_EQ(symlink("../elsewhere.txt", At("a/file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", At("a/dangling").c_str()), 0);
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  test::RunResult r =
      test::RunProgram(tool, {"pack", At("a"), "--dereference", "-o", At("a.qef"), "--password-file", At("pw.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& warning : {At("b/to-a") + " skipped: symbolic link to a folder it is inside",
                                     At("a/inner/up") + " skipped: symbolic link to a folder it is inside",
                                     At("a/dangling") + " skipped: symbolic link that leads nowhere"})
    EXPECT_TRUE(Contains(r.err, "qef: warning: " + warning)) << r.err;
  r = test::RunProgram(tool, {"extract", At("a.qef"), "-C", At("t"), "--password-file", At("pw.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  test::Snapshot got = test::TakeSnapshot(dir_.Sub("t/"));
  std::string tree = test::Describe(got);
  for (const char* folder : {"a/", "a/inner/", "a/to-b/"})
    EXPECT_TRUE(got.count(folder) != 0) << folder << ": " << tree;
  EXPECT_EQ(got.size(), 6u) << tree;
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/a/to-b/y.txt")), "y");
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/a/file")), "far");
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/a/inner/x.txt")), "x");
}

// Runs qef as a user whom permissions refuse: the test's own user, or, for root, whom
// they never refuse, the user "nobody".
test::RunResult RunUnprivileged(const std::vector<std::string>& args, const TempDir& io) {
  if (geteuid() != 0) return test::RunProgram(test::BuiltPath(QEF_TOOL_PATH), args);
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  std::vector<char*> argv{&tool[0]};
  std::vector<std::string> copies(args);
  for (std::string& a : copies) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int out = open(io.Sub("out").Str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int err = open(io.Sub("err").Str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(120);
    if (setsid() < 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(121);
    execv(tool.c_str(), argv.data());
    _exit(122);
  }
  close(out);
  close(err);
  test::RunResult r;
  r.status = pid > 0 ? WaitFor(pid) : -1;
  r.out = test::ReadFileBytes(io.Sub("out"));
  r.err = test::ReadFileBytes(io.Sub("err"));
  return r;
}

// What packing cannot read is named with the system's reason, before anything is
// written: an unreadable file, a folder that cannot be listed (also beside a link that
// is skipped, and given alone), and an output where no file can be made.
TEST_F(ToolPosix, PackNamesWhatItCannotReadAndWhy) {
  TempDir io;
  ASSERT_EQ(CreateFolder(dir_.Sub("m1/sub/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("m2/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("m3/bell\x07/")), 0);  // shown escaped, never sent to the terminal
  ASSERT_EQ(CreateFolder(dir_.Sub("locked/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("ro/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("out/")), 0);
  test::WriteFileBytes(dir_.Sub("m1/a.txt"), "a");
  test::WriteFileBytes(dir_.Sub("m2/secret.txt"), "s");
  test::WriteFileBytes(dir_.Sub("m2/a.txt"), "a");
  ASSERT_EQ(symlink("a.txt", dir_.Sub("m1/link").Str()), 0);
  ASSERT_EQ(chmod(dir_.Sub("m1/sub").Str(), 0), 0);
  ASSERT_EQ(chmod(dir_.Sub("m2/secret.txt").Str(), 0), 0);
  ASSERT_EQ(chmod(dir_.Sub("m3/bell\x07").Str(), 0), 0);
  ASSERT_EQ(chmod(dir_.Sub("locked").Str(), 0), 0);
  ASSERT_EQ(chmod(dir_.Sub("ro").Str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.Sub("out").Str(), 0777), 0);
  ASSERT_EQ(chmod(dir_.Path().Str(), 0755), 0);
  struct Case {
    const char* source;
    const char* output;
    const char* said;
  } cases[] = {
      {"m2", "out/o.qef", "m2/secret.txt: cannot open the file: Permission denied (code 204)\n"},
      {"m3", "out/o.qef", "m3/bell\\x07: cannot read the folder: Permission denied (code 221)\n"},
      {"m1", "out/o.qef", "m1/sub: cannot read the folder: Permission denied (code 221)\n"},
      {"locked", "out/o.qef", "locked: cannot read the folder: Permission denied (code 221)\n"},
      {"m1/a.txt", "ro/o.qef", "ro/o.qef: cannot create the file: Permission denied (code 204)\n"},
  };
  for (const Case& c : cases) {
    test::RunResult r =
        RunUnprivileged({"pack", At(c.source), "-o", At(c.output), "--password-file", At("pw.txt")}, io);
    EXPECT_EQ(r.status, 1) << c.source;
    EXPECT_TRUE(Contains(r.err, "qef: " + At(c.said))) << r.err;
    EXPECT_FALSE(Contains(r.err, "link:")) << r.err;
    EXPECT_TRUE(FindTemporaryFiles(dir_.Sub("out/")).empty() && !FileExists(dir_.Sub(c.output))) << c.source;
  }
  for (const char* path : {"m1/sub", "m3/bell\x07", "locked", "ro"}) chmod(dir_.Sub(path).Str(), 0755);
}

// Starts a run and kills it outright (SIGKILL) while it is held at `hold`; false when
// the run ended before it got there.
bool KillWhenHeld(const std::vector<std::string>& args, const char* hold) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = StartTool(args, &files, hold);
  posix_spawn_file_actions_destroy(&files);
  if (pid == 0) return false;
  bool held = WaitForHold(pid);
  kill(pid, SIGKILL);
  WaitFor(pid);
  return held;
}

// A run killed outright cannot remove what it wrote aside. The next run into that
// folder (packing beside an output, extracting into a folder) names those files and
// says how to clear them, but removes none: another run may still be using them.
TEST_F(ToolPosix, FilesLeftByAKilledRunAreNamedByTheNext) {
  // More than one piece of data, so that a run held after its first piece has a file
  // only partly written.
  std::string data(2u << 20, ' ');
  uint32_t x = 7;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>('a' + (x >> 16) % 20);
  }
  ASSERT_EQ(CreateFolder(dir_.Sub("src/big/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("small/big/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("out/")), 0);
  test::WriteFileBytes(dir_.Sub("src/big/data.bin"), data);
  test::WriteFileBytes(dir_.Sub("small/big/x.txt"), "x");
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  std::string pw = At("pw.txt");

  // Packing is held once file data is on its way to the output written aside.
  ASSERT_TRUE(KillWhenHeld({"pack", At("src/big"), "-o", At("out/big.qef"), "--password-file", pw}, "pack-data"))
      << "the run ended before it reached the file's data";
  std::vector<Text> left = FindTemporaryFiles(dir_.Sub("out/"));
  ASSERT_FALSE(left.empty());
  test::RunResult r = test::RunProgram(tool, {"pack", At("small/big"), "-o", At("out/s.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const Text& name : left)
    EXPECT_TRUE(Contains(r.err, At("out/") + name.Str() + " was left by a qef run")) << r.err;
  EXPECT_TRUE(Contains(r.err, "delete them")) << r.err;
  EXPECT_EQ(FindTemporaryFiles(dir_.Sub("out/")).size(), left.size());

  // Every file an extraction makes is written aside and takes its name only once it is
  // complete: a run killed outright leaves no file cut short under a real name.
  ASSERT_EQ(test::RunProgram(
                tool, {"pack", At("src/big"), "-o", At("big.qef"), "--compression", "store", "--password-file", pw})
                .status,
            0);
  ASSERT_TRUE(KillWhenHeld({"extract", At("big.qef"), "-C", At("t"), "--password-file", pw}, "file-data"))
      << "the run ended before it reached the file's data";
  EXPECT_FALSE(FindTemporaryFiles(dir_.Sub("t/big/")).empty());
  EXPECT_FALSE(FileExists(dir_.Sub("t/big/data.bin")));
  test::RemoveTree(dir_.Sub("t/"));
  // One that replaces a file leaves the old one whole under its name.
  ASSERT_EQ(test::RunProgram(tool, {"extract", At("big.qef"), "-C", At("t"), "--password-file", pw}).status, 0);
  ASSERT_TRUE(KillWhenHeld({"extract", At("big.qef"), "-C", At("t"), "--password-file", pw}, "file-data"))
      << "the run ended before it reached the file's data";
  left = FindTemporaryFiles(dir_.Sub("t/big/"));
  ASSERT_FALSE(left.empty());
  EXPECT_TRUE(test::ReadFileBytes(dir_.Sub("t/big/data.bin")) == data);
  r = test::RunProgram(tool, {"extract", At("out/s.qef"), "-C", At("t"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const Text& name : left)
    EXPECT_TRUE(Contains(r.err, At("t/big/") + name.Str() + " was left by a qef run")) << r.err;
  EXPECT_EQ(FindTemporaryFiles(dir_.Sub("t/big/")).size(), left.size());
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/big/x.txt")), "x");

  // Without -C the run writes into a folder of a temporary name beside the archive;
  // killed, it leaves that folder, which the next run there names and leaves alone.
  ASSERT_TRUE(KillWhenHeld({"extract", At("big.qef"), "--password-file", pw}, "file-data"))
      << "the run ended before it reached the file's data";
  std::vector<Text> folders;
  FindTemporaryFiles(dir_.Path(), &folders);
  ASSERT_EQ(folders.size(), 1u);
  ASSERT_EQ(CreateFolder(dir_.Sub("next/")), 0);
  ASSERT_EQ(test::RunProgram(tool, {"pack", At("small/big"), "-o", At("next/s.qef"), "--password-file", pw}).status, 0);
  r = test::RunProgram(tool, {"extract", At("next/s.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.err, "was left by a qef")) << "another folder's leftovers: " << r.err;
  ASSERT_EQ(test::RunProgram(tool, {"pack", At("small/big"), "-o", At("s.qef"), "--password-file", pw}).status, 0);
  r = test::RunProgram(tool, {"extract", At("s.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, At(folders[0].Str()) + "/ was left by a qef extraction")) << r.err;
  std::vector<Text> still;
  FindTemporaryFiles(dir_.Path(), &still);
  EXPECT_EQ(still.size(), 1u);
}

// Everything the terminal shows within `ms` milliseconds.
std::string Drain(int master, int ms) {
  std::string seen;
  struct pollfd p = {master, POLLIN, 0};
  char buffer[256];
  while (poll(&p, 1, ms) > 0) {
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<size_t>(n));
  }
  return seen;
}

// qef runs with a terminal of its own (a pseudo-terminal, whose other end this test
// holds); Ctrl-C at its prompt must end the run, not turn echo back on for the rest
// of the typing.
TEST_F(ToolPosix, CtrlCAtThePromptEndsTheRun) {
  TempDir& dir = dir_;
  test::WriteFileBytes(dir.Sub("a.txt"), "a");
  test::WriteFileBytes(dir.Sub("pw.txt"), std::string(kPassword) + "\n");
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  ASSERT_EQ(test::RunProgram(tool, {"pack", dir.Sub("a.txt").Str(), "-o", dir.Sub("a.qef").Str(), "--password-file",
                                    dir.Sub("pw.txt").Str()})
                .status,
            0);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string terminal = ptsname(master);
  int watch = open(terminal.c_str(), O_RDWR | O_NOCTTY);  // to see the settings after the run
  ASSERT_GE(watch, 0);
  std::string archive = dir.Sub("a.qef").Str();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A new session whose first terminal opened becomes its controlling terminal.
    setsid();
    int slave = open(terminal.c_str(), O_RDWR);
    if (slave < 0) _exit(120);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    unsetenv("QEF_PASSWORD");
    execl(tool.c_str(), tool.c_str(), "test", archive.c_str(), static_cast<char*>(nullptr));
    _exit(121);
  }
  // Generous bounds: a loaded machine may take seconds to start the program or to
  // end it, and a bound reached only means the wait was long, not a guess at timing.
  std::string seen;
  for (int i = 0; i < 1200 && seen.find("Password: ") == std::string::npos; ++i) seen += Drain(master, 50);
  ASSERT_NE(seen.find("Password: "), std::string::npos) << "waited 60 s for the prompt; the terminal showed: " << seen;
  ASSERT_EQ(write(master, "typed\x03", 6), 6);

  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 1200 && ended == 0; ++i) {
    seen += Drain(master, 50);
    ended = waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {  // still reading: what is typed now shows, which is the fault
    ASSERT_EQ(write(master, "visible\n", 8), 8);
    seen += Drain(master, 500);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  EXPECT_EQ(ended, pid) << "the prompt went on reading after Ctrl-C: " << seen;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
  EXPECT_NE(seen.find("code 40"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("typed"), std::string::npos) << seen;
  struct termios after;
  ASSERT_EQ(tcgetattr(watch, &after), 0);
  EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo stays off after the run";
  close(watch);
  close(master);
}

}  // namespace
}  // namespace qef
