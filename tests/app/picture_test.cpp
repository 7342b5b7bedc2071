#include "app/picture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fs/fs.h"
#include "fs/path.h"
#include "tests/app/bitmap_fixture.h"
#include "tests/support/temp_dir.h"

namespace qef {
namespace {

TEST(Picture, KeepsItsSizeOrShrinksToFitKeepingItsProportions) {
  struct Case {
    SIZE natural, limit, shown;
  } cases[] = {
      {{100, 50}, {300, 200}, {100, 50}},  // fits: its own size
      {{300, 200}, {300, 200}, {300, 200}},
      {{400, 300}, {300, 200}, {267, 200}},  // taller than the frame's shape: the height sets the scale
      {{600, 200}, {300, 200}, {300, 100}},  // wider: the width does
      {{1000, 100}, {300, 200}, {300, 30}},
      {{301, 10}, {300, 200}, {300, 10}},  // one side larger is enough
      {{10, 2000}, {300, 200}, {1, 200}},
      {{3000, 1}, {300, 200}, {300, 1}},  // never below one pixel
      {{400, 300}, {0, 0}, {0, 0}},       // no frame: nothing to show
      {{0, 300}, {300, 200}, {0, 0}},
  };
  for (const Case& c : cases) {
    SIZE shown = FitPicture(c.natural, c.limit);
    EXPECT_EQ(shown.cx, c.shown.cx) << c.natural.cx << "x" << c.natural.cy << " in " << c.limit.cx << "x" << c.limit.cy;
    EXPECT_EQ(shown.cy, c.shown.cy) << c.natural.cx << "x" << c.natural.cy << " in " << c.limit.cx << "x" << c.limit.cy;
  }
}

// Loading goes through a temporary file, which is gone afterwards whatever the bytes.
class PictureLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetEnvironmentVariableA("TMP", saved_tmp_, sizeof saved_tmp_);
    SetEnvironmentVariableA("TMP", ToSystemForm(dir_.Path()).Str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("TMP", saved_tmp_[0] != 0 ? saved_tmp_ : nullptr);
    FolderSearch search;
    std::string left;
    Text name;
    bool is_folder = false, is_link = false;
    if (search.Open(dir_.Path()))
      while (search.Next(name, is_folder, is_link)) left += std::string(name.Str()) + " ";
    EXPECT_EQ(left, "") << "left in the temporary folder";
  }

  SIZE Loaded(const std::vector<unsigned char>& bytes, SIZE limit) {
    HBITMAP bitmap = LoadPicture(bytes.data(), static_cast<uint32_t>(bytes.size()), limit);
    if (bitmap == nullptr) return SIZE{-1, -1};
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    DeleteObject(bitmap);
    return SIZE{info.bmWidth, info.bmHeight};
  }

  test::TempDir dir_;
  char saved_tmp_[MAX_PATH] = {};
};

TEST_F(PictureLoadTest, LargerPictureIsLoadedAtTheFittingSize) {
  SIZE shown = Loaded(test::MakeBitmapFile(400, 300), SIZE{300, 200});
  EXPECT_EQ(shown.cx, 267);
  EXPECT_EQ(shown.cy, 200);
  shown = Loaded(test::MakeBitmapFile(100, 50), SIZE{300, 200});
  EXPECT_EQ(shown.cx, 100);
  EXPECT_EQ(shown.cy, 50);
}

TEST_F(PictureLoadTest, NoPictureOrOneThatIsNotABitmapGivesNone) {
  std::vector<unsigned char> bmp = test::MakeBitmapFile(100, 50);
  EXPECT_EQ(LoadPicture(nullptr, 0, SIZE{300, 200}), nullptr);
  EXPECT_EQ(LoadPicture(bmp.data(), 0, SIZE{300, 200}), nullptr);
  std::vector<unsigned char> text(bmp.size(), 'x');
  EXPECT_EQ(LoadPicture(text.data(), static_cast<uint32_t>(text.size()), SIZE{300, 200}), nullptr);
}

}  // namespace
}  // namespace qef
