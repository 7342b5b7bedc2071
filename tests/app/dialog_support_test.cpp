#include "app/dialog_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace qef {
namespace {

// A multi-line edit field in a window of its own.
class DialogSupportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    field_ = CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW | ES_MULTILINE, 0, 0, 300, 200, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(field_, nullptr);
  }
  void TearDown() override { DestroyWindow(field_); }

  HWND field_ = nullptr;
};

// A text is read only when it fits whole with its terminating zero: one byte too long
// would come back cut, and an empty field holds nothing to use.
TEST_F(DialogSupportTest, ReadsAWindowTextOnlyWhenItFitsWhole) {
  char buffer[6];
  SetWindowTextA(field_, "");
  EXPECT_FALSE(ReadWindowText(field_, buffer, sizeof buffer));
  SetWindowTextA(field_, "fiver");
  ASSERT_TRUE(ReadWindowText(field_, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "fiver");
  SetWindowTextA(field_, "sixsix");
  EXPECT_FALSE(ReadWindowText(field_, buffer, sizeof buffer));
  EXPECT_FALSE(ReadWindowText(nullptr, buffer, sizeof buffer));
}

// A text beyond the field's default limit (32 KB) goes in whole, each line end as CRLF.
TEST_F(DialogSupportTest, LongTextsGoInWholeWithWindowsLineEnds) {
  std::string text;
  for (int i = 0; i < 8000; ++i) text += "line\n";
  SetLongText(field_, Text(text.c_str()));
  EXPECT_EQ(GetWindowTextLengthA(field_), 8000 * 6);
  EXPECT_EQ(SendMessageA(field_, EM_GETLINECOUNT, 0, 0), 8001);
}

}  // namespace
}  // namespace qef
