// POSIX only: while qef waits for its password on standard input, its command line,
// which every user of the machine can read in /proc, holds no password; at the
// terminal's prompt, Ctrl-C ends the run with the typing still hidden.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qef {
namespace {

using test::TempDir;

const char kPassword[] = "correct horse battery staple";

std::string CommandLineOf(pid_t pid) {
  std::string line = test::ReadFileBytes(Text(("/proc/" + std::to_string(pid) + "/cmdline").c_str()));
  for (char& c : line)
    if (c == 0) c = ' ';
  return line;
}

TEST(ToolPassword, NeverOnTheCommandLine) {
  TempDir dir;
  test::WriteFileBytes(dir.Sub("a.txt"), "a");
  test::WriteFileBytes(dir.Sub("pw.txt"), std::string(kPassword) + "\n");
  std::string tool = test::BuiltPath(QEF_TOOL_PATH);
  ASSERT_EQ(test::RunProgram(tool, {"pack", dir.Sub("a.txt").Str(), "-o", dir.Sub("a.qef").Str(), "--password-file",
                                    dir.Sub("pw.txt").Str()})
                .status,
            0);

  int input[2];
  ASSERT_EQ(pipe(input), 0);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, input[0], 0);
  posix_spawn_file_actions_addclose(&files, input[1]);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {tool, "test", dir.Sub("a.qef").Str(), "--password-file", "-"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  close(input[0]);

  // qef is waiting for the line; its command line is complete by now.
  std::string seen;
  for (int i = 0; i < 200 && seen.find("--password-file") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    seen = CommandLineOf(pid);
  }
  EXPECT_NE(seen.find(" test "), std::string::npos) << seen;
  EXPECT_EQ(seen.find(kPassword), std::string::npos) << seen;
  EXPECT_EQ(seen.find("correct"), std::string::npos) << seen;

  std::string line = std::string(kPassword) + "\n";
  ASSERT_EQ(write(input[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
  close(input[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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
TEST(ToolPassword, CtrlCAtThePromptEndsTheRun) {
  TempDir dir;
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
  std::string seen;
  for (int i = 0; i < 100 && seen.find("Password: ") == std::string::npos; ++i) seen += Drain(master, 50);
  ASSERT_NE(seen.find("Password: "), std::string::npos) << seen;
  ASSERT_EQ(write(master, "typed\x03", 6), 6);

  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 100 && ended == 0; ++i) {
    seen += Drain(master, 50);
    ended = waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {  // still reading: what is typed now shows, which is the fault
    ASSERT_EQ(write(master, "visible\n", 8), 8);
    seen += Drain(master, 500);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  EXPECT_EQ(ended, pid) << "the prompt went on reading after Ctrl-C: " << seen;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
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
