#include "app/temp_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(TempFiles, ContainerFileIsNamedAfterTheDrawnName) {
  EXPECT_STREQ(ContainerFileNameFor("D:\\TEMP\\QMLX1A2B.TMP").Str(), "D:/TEMP/QMLX1A2B.qef");
  EXPECT_STREQ(ContainerFileNameFor("C:\\Users\\a.b\\Temp\\QMLX1.tmp").Str(), "C:/Users/a.b/Temp/QMLX1.qef");
  EXPECT_STREQ(ContainerFileNameFor("").Str(), "");  // never ".qef" in the current folder
}

TEST(TempFiles, DrawnNameIsReservedByAPlaceholder) {
  Text name = DrawTempName();
  ASSERT_FALSE(name.IsEmpty());
  Text internal = ToInternalForm(name);
  EXPECT_EQ(FileNameOf(internal).Left(3).CompareNoCase("QML"), 0) << name.Str();  // the system keeps 3 letters
  EXPECT_TRUE(FileExists(internal));
  EXPECT_NE(std::string(DrawTempName().Str()), name.Str());
  RemoveFile(internal);
}

Text SystemFolder() {
  char buffer[MAX_PATH] = {};
  GetSystemDirectoryA(buffer, MAX_PATH);
  return AddTrailingSeparator(ToInternalForm(Text(buffer)));
}

TEST(TempFiles, LauncherStartsOnlyExistingProgramFiles) {
  test::TempDir dir;
  LaunchRequest request;
  request.program = dir.Sub("missing.exe");
  EXPECT_EQ(LaunchProgram(request), kLaunchNotFound);
  request.program = dir.Path();  // a folder is no program
  EXPECT_EQ(LaunchProgram(request), kLaunchNotFound);
  request.program = "cmd.exe";  // a bare name is looked for in the current folder only
  EXPECT_EQ(LaunchProgram(request), kLaunchNotFound);
}

TEST(TempFiles, LauncherPassesArgumentsUnquotedAndReportsTheExitCode) {
  uint32_t code = 99;
  LaunchRequest request;
  request.program = Text::Concat(SystemFolder(), "cmd.exe");
  request.arguments = "/c exit 7";  // three words: quoted as one, cmd would refuse it
  request.wait = true;
  request.hide = true;
  request.exit_code = &code;
  EXPECT_EQ(LaunchProgram(request), kLaunchStarted);
  EXPECT_EQ(code, 7u);
}

TEST(TempFiles, LauncherRunsInTheWorkingFolder) {
  test::TempDir dir;
  uint32_t code = 99;
  LaunchRequest request;
  request.program = Text::Concat(SystemFolder(), "cmd.exe");
  request.arguments = "/c if exist marker.txt (exit 3) else (exit 4)";
  request.wait = true;
  request.hide = true;
  request.working_folder = dir.Path();
  request.exit_code = &code;
  ASSERT_TRUE(test::WriteFileBytes(dir.Sub("marker.txt"), "x"));
  EXPECT_EQ(LaunchProgram(request), kLaunchStarted);
  EXPECT_EQ(code, 3u);
}

TEST(TempFiles, ExplorerOpensOnlyExistingFolders) {
  test::TempDir dir;
  EXPECT_EQ(OpenFolderInExplorer(dir.Sub("missing/")), kTargetMissing);
  EXPECT_EQ(OpenFolderInExplorer(dir.Sub("file.txt")), kTargetMissing);
}

}  // namespace
}  // namespace qef
