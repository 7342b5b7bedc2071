#include "app/target_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/fs.h"
#include "fs/path.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(TargetFolder, FallbackWhenRunFromTheTemporaryFolderOrACdRom) {
  struct Case {
    const char* temp;
    const char* short_program_folder;
    UINT drive;
    bool fallback;
  } cases[] = {
      {"C:\\TEMP\\", "D:\\DATA\\", DRIVE_FIXED, false},
      {"C:\\TEMP\\", "C:\\TEMP\\", DRIVE_FIXED, true},
      {"C:\\TEMP\\", "C:\\TEMP\\RAR$EX~1\\", DRIVE_FIXED, true},
      {"C:\\TEMP\\", "C:\\temp\\RAR$EX~1\\", DRIVE_FIXED, false},  // exact, case-sensitive
      {"C:\\DOKUME~1\\X\\LOKALE~1\\Temp\\", "C:\\DOKUME~1\\X\\LOKALE~1\\Temp\\A\\", DRIVE_FIXED, true},
      {"C:\\TEMP\\", "", DRIVE_FIXED, false},  // no short form
      {"", "D:\\DATA\\", DRIVE_FIXED, false},
      {"C:\\TEMP\\", "D:\\", DRIVE_CDROM, true},
      {"C:\\TEMP\\", "D:\\", DRIVE_REMOVABLE, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NeedsFallbackFolder(c.temp, c.short_program_folder, c.drive), c.fallback)
        << c.temp << " in " << c.short_program_folder << ", drive " << c.drive;
}

TEST(TargetFolder, FallbackIsTheDesktopThenTheStartMenuFolder) {
  test::TempDir dir;
  Text desktop = dir.Sub("Desktop/");
  Text start_menu = dir.Sub("Start Menu/");
  ASSERT_EQ(CreateFolder(start_menu), 0);
  // Either form comes in; the answer is internal with a trailing '/'.
  Text start_menu_system = ToSystemForm(StripTrailingSeparator(start_menu));
  EXPECT_EQ(std::string(FirstExistingFolder(desktop, start_menu_system).Str()), start_menu.Str());
  ASSERT_EQ(CreateFolder(desktop), 0);
  EXPECT_EQ(std::string(FirstExistingFolder(desktop, start_menu_system).Str()), desktop.Str());
  EXPECT_EQ(std::string(FirstExistingFolder(dir.Sub("none/"), "").Str()), "");
}

TEST(TargetFolder, ProposalIsNamedAfterTheProgramAndUnique) {
  test::TempDir dir;
  Text base = ToSystemForm(dir.Path());  // as the system gives the program folder
  auto proposal = [&](const char* program) {
    return std::string(ProposeTargetFolder(base, Text::Concat(dir.Path(), program)).Str());
  };
  std::string expected = ToSystemForm(dir.Path()).Str();
  EXPECT_EQ(proposal("setup.exe"), expected + "setup\\");
  EXPECT_EQ(proposal("a.b.exe"), expected + "a.b\\");
  ASSERT_EQ(CreateFolder(dir.Sub("setup/")), 0);
  EXPECT_EQ(proposal("setup.exe"), expected + "setup (1)\\");
  ASSERT_EQ(CreateFolder(dir.Sub("setup (1)/")), 0);
  EXPECT_EQ(proposal("setup.exe"), expected + "setup (2)\\");
}

TEST(TargetFolder, TooLongAProposalIsEmptyRatherThanCut) {
  std::string base = "C:\\" + std::string(246, 'x') + "\\";  // 250 characters
  EXPECT_EQ(std::string(ProposeTargetFolder(base.c_str(), "C:/p/abcdefg.exe").Str()), base + "abcdefg\\");      // 258
  EXPECT_EQ(std::string(ProposeTargetFolder(base.c_str(), "C:/p/abcdefghi.exe").Str()), base + "abcdefghi\\");  // 260
  EXPECT_EQ(std::string(ProposeTargetFolder(base.c_str(), "C:/p/abcdefghij.exe").Str()), "");                   // 261
}

}  // namespace
}  // namespace qef
