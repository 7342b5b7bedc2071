// The author's dialogs under Wine: the disclaimer that must be read to its end, the
// intro with picture, info text and link, and the folder browser of the decrypt
// dialog. Programs are made from the real stub and driven with window messages.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/res/resource.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/app/bitmap_fixture.h"
#include "tests/e2e/stub_driver.h"
#include "tests/support/temp_dir.h"

namespace qef::test {
namespace {

struct Texts {
  const char* intro_title;
  const char* disclaimer_title;
  const char* browse_title;
};

const Texts kEnglish = {"Quillmar Lockfold - Self decryption", "Quillmar Lockfold",
                        "Into which folder do you want to decrypt the files?"};
// In the ANSI code page of a German system (1252).
const Texts kGerman = {"Quillmar Lockfold - Selbstentschl\xFCsselung", "Quillmar Lockfold",
                       "In welchen Ordner sollen die Dateien entschl\xFCsselt werden?"};

const Texts& Expected() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? kGerman : kEnglish; }

std::string System(const Text& path) { return ToSystemForm(path).Str(); }

// A disclaimer of `lines` numbered lines, with Unix line ends as an author on another
// system would write them.
std::string NumberedLines(int lines) {
  std::string text;
  for (int i = 1; i <= lines; ++i) text += "Condition " + std::to_string(i) + " of the licence.\n";
  return text;
}

LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

// The picture's box once it is on the screen: two readings in a row that agree.
bool WaitForShownPicture(HWND control, RECT& box, SIZE& inside) {
  RECT last = {-1, -1, -1, -1};
  return PollUntil(
      [&] {
        if (!ShownPictureBox(control, box, inside)) return false;
        bool same = EqualRect(&box, &last) != 0;
        last = box;
        return same;
      },
      10000);
}

int FirstVisibleLine(HWND field) { return static_cast<int>(Send(field, EM_GETFIRSTVISIBLELINE, 0, 0)); }

class AuthorDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseUnmanagedWindows();
    for (const char* folder : {"src/data/", "bin/", "tmp/"}) ASSERT_EQ(CreateFolder(dir_.Sub(folder)), 0);
    ASSERT_TRUE(WriteFileBytes(dir_.Sub("src/data/a.txt"), "a"));
    ASSERT_EQ(PackFolder(dir_.Sub("src/data/"), "pw", false, container_), "");
  }

  // Builds bin/<name>.exe with the parts and starts it in `run`.
  void Start(const AuthorParts& parts, const std::string& name = "setup") { Start(run_, parts, name); }
  void Start(StubRun& run, const AuthorParts& parts, const std::string& name = "setup") {
    Build(parts, name);
    ASSERT_TRUE(run.Start(exe_, dir_.Sub("tmp/"), dir_.Path()));
  }
  void Build(const AuthorParts& parts, const std::string& name = "setup") {
    exe_ = dir_.Sub(("bin/" + name + ".exe").c_str());
    ASSERT_EQ(MakeProgram(container_, exe_, parts), "");
  }

  // This test's own name for things that outlive it or are found by name elsewhere
  // (a folder on the desktop, an Explorer window): the test folder's name.
  std::string UniqueName() const { return FileNameOf(StripTrailingSeparator(dir_.Path())).Str(); }

  TempDir dir_;
  Bytes container_;
  Text exe_;
  StubRun run_;
};

// Each way a user scrolls, one step at a time, sent as the system sends it to the
// field. The thumb is dragged without being let go: Accept must not wait for the release.
struct ScrollWay {
  const char* name;
  void (*step)(HWND field);
};

const ScrollWay kScrollWays[] = {
    {"dragging the thumb",
     [](HWND field) { Send(field, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, FirstVisibleLine(field) + 7), 0); }},
    {"clicking the arrow",
     [](HWND field) {
       Send(field, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
       Send(field, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
     }},
    {"page down key", [](HWND field) { Send(field, WM_KEYDOWN, VK_NEXT, 1); }},
    {"mouse wheel", [](HWND field) { Send(field, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), 0); }},
};

TEST_F(AuthorDialogTest, DisclaimerAcceptIsEnabledAtTheEndOfTheText) {
  const int kLines = 120;
  for (const ScrollWay& way : kScrollWays) {
    SCOPED_TRACE(way.name);
    StubRun run;
    AuthorParts parts;
    parts.disclaimer = NumberedLines(kLines);
    Start(run, parts);
    HWND dialog = run.WaitForWindow(WindowKind::kDisclaimer);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), Expected().disclaimer_title);
    HWND field = GetDlgItem(dialog, IDC_DISCLAIMER);
    // Each '\n' shows as a line break; an empty line follows the last one.
    const int last_line = static_cast<int>(Send(field, EM_GETLINECOUNT, 0, 0)) - 1;
    EXPECT_EQ(last_line, kLines);
    EXPECT_FALSE(IsControlEnabled(dialog, IDOK));

    // Enter, or anything else that sends the Accept command, cannot accept yet.
    Send(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "accepted before the text was read";

    int enabled_at = -1;
    int last_disabled = 0;
    for (int step = 0; step < 300 && enabled_at < 0; ++step) {
      way.step(field);
      int first = FirstVisibleLine(field);
      if (IsControlEnabled(dialog, IDOK))
        enabled_at = first;
      else
        last_disabled = first;
    }
    // Accept comes when the top line of the view is within 15 lines of the last line
    // (a view of 16 lines is then at its end); a line earlier for a taller view.
    EXPECT_GE(enabled_at, last_line - 16) << "Accept enabled too early";
    EXPECT_LT(last_disabled, last_line - 15) << "Accept still disabled at the end";
    EXPECT_GT(last_disabled, kLines / 2) << "the steps never went through the text";

    Press(dialog, IDOK);
    HWND intro = run.WaitForWindow(WindowKind::kIntro);
    ASSERT_NE(intro, nullptr) << "no intro after accepting";
    Press(intro, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0);
  }
}

TEST_F(AuthorDialogTest, ShortDisclaimerCanBeAcceptedAtOnce) {
  AuthorParts parts;
  parts.disclaimer = "Use at your own risk.";
  Start(parts);
  HWND dialog = run_.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(IsControlEnabled(dialog, IDOK));
  EXPECT_EQ(ControlText(dialog, IDC_DISCLAIMER), parts.disclaimer);
  Press(dialog, IDOK);
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// The program ends by itself: had any other dialog opened, it would wait for the user.
TEST_F(AuthorDialogTest, DecliningTheDisclaimerEndsTheProgram) {
  AuthorParts parts;
  parts.disclaimer = NumberedLines(100);
  Start(parts);
  HWND dialog = run_.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(dialog, nullptr);
  Press(dialog, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// A picture that fits is shown at its own size, centred; the link opens with the
// shell when clicked (here a folder, which Explorer shows).
TEST_F(AuthorDialogTest, IntroShowsPictureInfoTextAndLink) {
  Text linked = dir_.Sub((UniqueName() + "-link/").c_str());
  ASSERT_EQ(CreateFolder(linked), 0);
  AuthorParts parts;
  parts.picture = MakeBitmapFile(100, 50);
  parts.info = "First line\nSecond line\r\nThird & last";
  parts.link = System(StripTrailingSeparator(linked));
  Start(parts);
  EXPECT_EQ(run_.WaitForWindow(WindowKind::kDisclaimer, 0), nullptr) << "no disclaimer, no disclaimer dialog";
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);

  EXPECT_EQ(WindowText(intro), Expected().intro_title);
  EXPECT_EQ(ControlText(intro, IDC_INFO), "First line\r\nSecond line\r\nThird & last");
  EXPECT_EQ(ControlText(intro, IDC_LINK), parts.link);
  EXPECT_TRUE(IsControlVisible(intro, IDC_LINK));
  EXPECT_FALSE(IsControlVisible(intro, IDC_PICTURE_FRAME));

  RECT box;
  SIZE inside;
  ASSERT_TRUE(WaitForShownPicture(GetDlgItem(intro, IDC_PICTURE), box, inside));
  EXPECT_EQ(box.right - box.left, 100);
  EXPECT_EQ(box.bottom - box.top, 50);
  EXPECT_LE(std::abs((box.left) - (inside.cx - box.right)), 1) << "not centred across";
  EXPECT_LE(std::abs((box.top) - (inside.cy - box.bottom)), 1) << "not centred down";

  ClickAt(GetDlgItem(intro, IDC_LINK), 3, 3);
  HWND explorer = WaitForForeignWindow(UniqueName() + "-link", run_.ProcessId(), 20000);
  EXPECT_NE(explorer, nullptr) << "the link was not opened";
  if (explorer != nullptr) PostMessageA(explorer, WM_CLOSE, 0, 0);

  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// A picture larger than the frame is shrunk to fit, keeping its proportions, and
// centred; an empty link hides the link control.
TEST_F(AuthorDialogTest, LargePictureIsScaledIntoTheFrame) {
  AuthorParts parts;
  parts.picture = MakeBitmapFile(400, 300);
  parts.info = "Info";
  Start(parts);
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_FALSE(IsControlVisible(intro, IDC_LINK));

  RECT box;
  SIZE inside;
  ASSERT_TRUE(WaitForShownPicture(GetDlgItem(intro, IDC_PICTURE), box, inside));
  LONG width = box.right - box.left, height = box.bottom - box.top;
  std::printf("400x300 shown at %ldx%ld in %ldx%ld\n", width, height, inside.cx, inside.cy);
  EXPECT_TRUE(width == inside.cx || height == inside.cy) << "not as large as fits";
  EXPECT_LE(width, inside.cx);
  EXPECT_LE(height, inside.cy);
  EXPECT_LE(std::abs(width * 300 - height * 400), 400) << "proportions lost";
  EXPECT_LE(std::abs((box.left) - (inside.cx - box.right)), 1) << "not centred across";
  EXPECT_LE(std::abs((box.top) - (inside.cy - box.bottom)), 1) << "not centred down";

  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// The folder browser's choice becomes a new folder in it named after the program,
// made unique; a cancelled browser changes nothing.
TEST_F(AuthorDialogTest, BrowseProposesAFolderNamedAfterTheProgram) {
  char desktop_path[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop_path), S_OK);
  Text desktop = AddTrailingSeparator(ToInternalForm(Text(desktop_path)));
  std::string name = UniqueName();
  Text taken = Text::Concat(desktop, (name + "/").c_str());

  Start(AuthorParts(), name);
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  Press(intro, IDC_DECRYPT_NOW);
  HWND dialog = run_.WaitForWindow(WindowKind::kDecrypt);
  ASSERT_NE(dialog, nullptr);
  std::string proposal = ControlText(dialog, IDC_TARGET);

  auto browse = [&](int button) {
    Press(dialog, IDC_BROWSE);
    HWND browser = run_.WaitForWindow(WindowKind::kFolderBrowser);
    if (browser == nullptr) return std::string("<no folder browser>");
    EXPECT_NE(FindWindowExA(browser, nullptr, "Static", Expected().browse_title), nullptr) << "no title";
    Press(browser, button);
    run_.WaitUntilGone(WindowKind::kFolderBrowser);
    return ControlText(dialog, IDC_TARGET);
  };
  EXPECT_EQ(browse(IDCANCEL), proposal);
  // The browser opens on the desktop, which OK chooses as it is.
  EXPECT_EQ(browse(IDOK), System(taken));
  ASSERT_EQ(CreateFolder(taken), 0);
  EXPECT_EQ(browse(IDOK), System(Text::Concat(desktop, (name + " (1)/").c_str())));
  RemoveFolder(taken);

  Press(dialog, IDCANCEL);
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// The demo's recipient goes the whole way through an author's program.
TEST_F(AuthorDialogTest, RecipientRunGoesFromTheDisclaimerToTheFiles) {
  AuthorParts parts;
  parts.picture = MakeBitmapFile(100, 50);
  parts.info = "Info";
  parts.link = "https://example.com/";
  parts.disclaimer = NumberedLines(60);
  Build(parts);
  Text out = dir_.Sub((UniqueName() + "-out/").c_str());
  RecipientReport report = RunAsRecipient(exe_, dir_.Sub("tmp/"), out, "pw");
  EXPECT_EQ(report.failure, "");
  EXPECT_TRUE(report.disclaimer);
  EXPECT_EQ(report.intro_dialog, IDD_INTRO_BLOCK);
  EXPECT_GT(report.total_s, report.decrypt_s);
  EXPECT_EQ(ReadFileBytes(Text::Concat(out, "data/a.txt")), "a");
  HWND explorer = WaitForForeignWindow(UniqueName() + "-out", run_.ProcessId(), 20000);
  if (explorer != nullptr) PostMessageA(explorer, WM_CLOSE, 0, 0);
}

}  // namespace
}  // namespace qef::test
