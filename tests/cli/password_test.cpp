#include "cli/password.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/result.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

// A terminal stand-in that answers with prepared lines and counts the prompts.
struct Script {
  std::vector<std::string> lines;
  size_t next = 0;
};
Script g_script;

int32_t FakeTerminal(const char* prompt, Text& line, Text& message) {
  if (g_script.next >= g_script.lines.size()) {
    message = "no terminal";
    return kCannotOpen;
  }
  line = g_script.lines[g_script.next++].c_str();
  return kOk;
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

const char* kTestVariable = "QEF_TEST_PASSWORD";

PasswordRequest Request(const char* file = nullptr, bool confirm = false) {
  PasswordRequest r;
  r.password_file = file;
  r.confirm = confirm;
  r.variable = kTestVariable;
  r.reader = FakeTerminal;
  return r;
}

TEST(Password, FirstLineOfFile) {
  struct Case {
    std::string content;
    int32_t result;
    const char* password;
  } cases[] = {
      {"secret\nsecond line\n", kOk, "secret"},
      {"secret\r\nsecond\r\n", kOk, "secret"},
      {"no line end", kOk, "no line end"},
      {"  spaced out  \n", kOk, "  spaced out  "},
      {"\xEF\xBB\xBFwith mark\n", kOk, "with mark"},
      {"p\xC3\xA4ss\n", kOk, "p\xC3\xA4ss"},
      {"", kBadArgument, ""},
      {"\nsecret\n", kBadArgument, ""},
      {"\xEF\xBB\xBF\n", kBadArgument, ""},
      {std::string("a\0b\n", 4), kBadArgument, ""},
      {std::string(4095, 'x'), kOk, nullptr},
      {std::string(4096, 'x'), kBadArgument, ""},
  };
  test::TempDir dir;
  Text path = dir.Sub("password.txt");
  for (const Case& c : cases) {
    ASSERT_TRUE(test::WriteFileBytes(path, c.content));
    g_script = Script{{"from terminal"}};
    Text password("stale"), message;
    EXPECT_EQ(ObtainPassword(Request(path.Str()), password, message), c.result) << c.content.size();
    if (c.password != nullptr) {
      EXPECT_STREQ(password.Str(), c.password) << c.content;
    }
    if (c.result != kOk) {
      EXPECT_FALSE(message.IsEmpty());
    }
    EXPECT_EQ(g_script.next, 0u) << "the terminal is not asked when a file is given";
  }
  Text password, message;
  EXPECT_EQ(ObtainPassword(Request(dir.Sub("missing.txt").Str()), password, message), kCannotOpen);
  EXPECT_NE(std::string(message.Str()).find("missing.txt"), std::string::npos) << message.Str();
}

TEST(Password, ReadsNoFurtherThanTheFirstLine) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("first\r\nrest of the input", f);
  std::rewind(f);
  Text line, message;
  ASSERT_EQ(ReadFirstLine(f, line, message), kOk);
  EXPECT_STREQ(line.Str(), "first");
  char rest[32] = {};
  ASSERT_NE(std::fgets(rest, sizeof rest, f), nullptr);
  EXPECT_STREQ(rest, "rest of the input");
  std::fclose(f);
}

TEST(Password, SourcesInOrder) {
  test::TempDir dir;
  Text path = dir.Sub("pw");
  ASSERT_TRUE(test::WriteFileBytes(path, "from file\n"));
  Text password, message;

  SetVariable(kTestVariable, "from variable");
  g_script = Script{{"from terminal"}};
  ASSERT_EQ(ObtainPassword(Request(path.Str()), password, message), kOk);
  EXPECT_STREQ(password.Str(), "from file");
  ASSERT_EQ(ObtainPassword(Request(), password, message), kOk);
  EXPECT_STREQ(password.Str(), "from variable");
  EXPECT_EQ(g_script.next, 0u);

  SetVariable(kTestVariable, nullptr);
  ASSERT_EQ(ObtainPassword(Request(), password, message), kOk);
  EXPECT_STREQ(password.Str(), "from terminal");
}

TEST(Password, TerminalAsksTwiceWhenPacking) {
  SetVariable(kTestVariable, nullptr);
  struct Case {
    std::vector<std::string> lines;
    int32_t result;
    const char* password;
    size_t asked;
  } cases[] = {
      {{"same", "same"}, kOk, "same", 2}, {{"same", "Same"}, kBadArgument, "", 2},
      {{"", ""}, kBadArgument, "", 2},    {{"only once"}, kCannotOpen, "", 2},
      {{}, kCannotOpen, "", 0},
  };
  for (const Case& c : cases) {
    g_script = Script{c.lines};
    Text password, message;
    EXPECT_EQ(ObtainPassword(Request(nullptr, true), password, message), c.result) << c.lines.size();
    EXPECT_STREQ(password.Str(), c.password);
    EXPECT_EQ(g_script.next, std::min(c.asked, c.lines.size()));
    if (c.result == kCannotOpen) {  // the user learns the other ways
      EXPECT_NE(std::string(message.Str()).find("--password-file"), std::string::npos) << message.Str();
    }
  }
  g_script = Script{{"once", "unused"}};
  Text password, message;
  ASSERT_EQ(ObtainPassword(Request(), password, message), kOk);
  EXPECT_STREQ(password.Str(), "once");
  EXPECT_EQ(g_script.next, 1u);
}

}  // namespace
}  // namespace qef
