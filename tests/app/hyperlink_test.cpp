#include "app/hyperlink.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/res/resource.h"

namespace qef {
namespace {

// The commands the test window received: first and second parameter.
std::vector<std::pair<WPARAM, LPARAM>> g_commands;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND) g_commands.emplace_back(wparam, lparam);
  return DefWindowProcA(window, message, wparam, lparam);
}

// A link control, created with id 77 and the text "abcdefgh", in a window of its own.
class HyperlinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(RegisterHyperlinkClass(instance));
    WNDCLASSA parent = {};
    parent.lpfnWndProc = ParentProc;
    parent.hInstance = instance;
    parent.lpszClassName = "qef-link-test";
    ASSERT_NE(RegisterClassA(&parent), 0);
  }

  void SetUp() override {
    g_commands.clear();
    parent_ = CreateWindowExA(0, "qef-link-test", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 100, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    link_ = CreateWindowExA(0, QEF_LINK_CLASS, "abcdefgh", WS_CHILD | WS_VISIBLE, 10, 10, 200, 20, parent_,
                            reinterpret_cast<HMENU>(77), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(link_, nullptr);
  }
  void TearDown() override { DestroyWindow(parent_); }

  std::string Text(WPARAM limit = 100) {
    char buffer[100];
    lstrcpyA(buffer, "untouched");
    LRESULT n = SendMessageA(link_, WM_GETTEXT, limit, reinterpret_cast<LPARAM>(buffer));
    EXPECT_EQ(n, lstrlenA(buffer));
    return buffer;
  }

  HWND parent_ = nullptr;
  HWND link_ = nullptr;
};

TEST_F(HyperlinkTest, KeepsItsTextAndStateInWindowProperties) {
  EXPECT_EQ(Text(), "abcdefgh");
  EXPECT_EQ(Text(5), "abcd");
  EXPECT_STREQ(static_cast<const char*>(GetPropA(link_, "wndtxt")), "abcdefgh");
  EXPECT_NE(GetPropA(link_, "font"), nullptr);
  EXPECT_EQ(GetPropA(link_, "hover"), nullptr);

  SendMessageA(link_, WM_MOUSEHOVER, 0, 0);
  EXPECT_EQ(GetPropA(link_, "hover"), reinterpret_cast<HANDLE>(1));
  SendMessageA(link_, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(GetPropA(link_, "hover"), nullptr);

  // Its own font stays whatever the dialog sets.
  HANDLE font = GetPropA(link_, "font");
  SendMessageA(link_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
  EXPECT_EQ(GetPropA(link_, "font"), font);
}

TEST_F(HyperlinkTest, NewTextReplacesTheCopyAndAnEmptyOneLeavesNone) {
  EXPECT_EQ(SendMessageA(link_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("https://example.com/?a=1&b=2")), TRUE);
  EXPECT_EQ(Text(), "https://example.com/?a=1&b=2");
  EXPECT_EQ(GetWindowTextLengthA(link_), 28);

  SendMessageA(link_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  EXPECT_EQ(Text(), "");
  EXPECT_EQ(GetPropA(link_, "wndtxt"), nullptr);
  EXPECT_EQ(GetWindowTextLengthA(link_), 0);
  EXPECT_EQ(SendMessageA(link_, WM_GETTEXT, 0, 0), 0);
}

// A click is a press and a release on the control; the parent hears of it as command
// 1009 from the control, whatever id the control has.
TEST_F(HyperlinkTest, ClickIsReportedToTheParentAs1009) {
  const LPARAM kInside = MAKELPARAM(5, 5);
  const LPARAM kOutside = MAKELPARAM(500, 5);
  struct Step {
    UINT message;
    LPARAM where;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    size_t clicks;
  } cases[] = {
      {"press and release", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kInside}}, 1},
      {"release without a press", {{WM_LBUTTONUP, kInside}}, 0},
      {"press, then release elsewhere", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kOutside}}, 0},
      {"a later release alone", {{WM_LBUTTONDOWN, kInside}, {WM_LBUTTONUP, kOutside}, {WM_LBUTTONUP, kInside}}, 0},
      {"two clicks",
       {{WM_LBUTTONDOWN, kInside},
        {WM_LBUTTONUP, kInside},
        {WM_LBUTTONUP, kInside},
        {WM_LBUTTONDOWN, kInside},
        {WM_LBUTTONUP, kInside}},
       2},
  };
  for (const Case& c : cases) {
    g_commands.clear();
    for (const Step& step : c.steps) SendMessageA(link_, step.message, 0, step.where);
    EXPECT_EQ(g_commands.size(), c.clicks) << c.name;
    for (const auto& [wparam, lparam] : g_commands) {
      EXPECT_EQ(wparam, static_cast<WPARAM>(IDC_LINK)) << c.name;
      EXPECT_EQ(lparam, reinterpret_cast<LPARAM>(link_)) << c.name;
    }
    EXPECT_EQ(GetCapture(), nullptr) << c.name << ": the mouse is still held";
  }
}

}  // namespace
}  // namespace qef
