// POSIX only: while qef waits for its password on standard input, its command line,
// which every user of the machine can read in /proc, holds no password.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace qef
