// The stub driven with real input under Wine: the mouse through SendInput, keys as the
// keyboard delivers them to the focused control. So the dialogs' own handling is what
// is tested: enabled state, focus, tab order, default buttons, Enter, Esc, the close
// box, the link's mouse handling, and the progress bar a recipient watches.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/res/resource.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/app/bitmap_fixture.h"
#include "tests/e2e/stub_driver.h"
#include "tests/support/temp_dir.h"

namespace qef::test {
namespace {

const char kPassword[] = "open sesame";

std::string System(const Text& path) { return ToSystemForm(path).Str(); }

bool German() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN; }

struct TitleCount {
  std::string title_part;
  DWORD except_pid = 0;
  std::vector<HWND> found;
};

BOOL CALLBACK CountTitled(HWND window, LPARAM param) {
  TitleCount* count = reinterpret_cast<TitleCount*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != count->except_pid && pid != GetCurrentProcessId() && IsWindowVisible(window) &&
      WindowText(window).find(count->title_part) != std::string::npos)
    count->found.push_back(window);
  return TRUE;
}

// The visible windows of other programs whose title holds `title_part`.
std::vector<HWND> ForeignWindows(const std::string& title_part, DWORD except_pid) {
  TitleCount count;
  count.title_part = title_part;
  count.except_pid = except_pid;
  EnumWindows(CountTitled, reinterpret_cast<LPARAM>(&count));
  return count.found;
}

// The focus goes through the ids in turn with Tab, and comes back to the first.
std::string TabOrder(HWND dialog, int steps) {
  std::string order = std::to_string(FocusedId(dialog));
  for (int i = 0; i < steps; ++i) {
    int before = FocusedId(dialog);
    PressKey(dialog, VK_TAB);
    PollUntil([&] { return FocusedId(dialog) != before; }, 2000);
    order += " " + std::to_string(FocusedId(dialog));
  }
  return order;
}

// How far apart the centres of two windows are, in pixels either way.
LONG CentreDistance(HWND a, HWND b) {
  POINT p = CentreOf(a), q = CentreOf(b);
  return std::abs(p.x - q.x) + std::abs(p.y - q.y);
}

class StubInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseUnmanagedWindows();
    for (const char* folder : {"src/data/", "bin/", "tmp/"}) ASSERT_EQ(CreateFolder(dir_.Sub(folder)), 0);
    out_ = dir_.Sub((UniqueName() + "-out/").c_str());
  }

  std::string UniqueName() const { return FileNameOf(StripTrailingSeparator(dir_.Path())).Str(); }
  Text Exe() const { return dir_.Sub("bin/setup.exe"); }

  // A program of the small sample, or of `big_mb` MB of stored noise.
  void Build(const AuthorParts* parts, int big_mb = 0) {
    ASSERT_TRUE(WriteFileBytes(dir_.Sub("src/data/a.txt"), "a"));
    if (big_mb > 0) {
      std::string big(static_cast<size_t>(big_mb) << 20, '\0');
      uint32_t x = 4242;
      for (char& c : big) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
      }
      ASSERT_TRUE(WriteFileBytes(dir_.Sub("src/data/big.bin"), big));
    }
    Bytes container;
    ASSERT_EQ(PackFolder(dir_.Sub("src/data/"), kPassword, big_mb > 0, container), "");
    if (parts != nullptr)
      ASSERT_EQ(MakeProgram(container, Exe(), *parts), "");
    else
      ASSERT_EQ(MakeProgram(container, Exe(), /*short_header=*/true), "");
  }

  void Start(StubRun& run) { ASSERT_TRUE(run.Start(Exe(), dir_.Sub("tmp/"), dir_.Path())); }

  // The intro's Decrypt button pressed with Enter (it is the one with the focus).
  HWND OpenDecryptDialog(StubRun& run, HWND intro) {
    PollUntil([&] { return FocusedId(intro) == IDC_DECRYPT_NOW; }, 60000);
    PressKey(intro, VK_RETURN);
    return run.WaitForWindow(WindowKind::kDecrypt);
  }

  bool TempIsEmpty() {
    for (const std::string& name : FilesMatching(dir_.Sub("tmp/"), "*.*"))
      if (name != "." && name != "..") return false;
    return true;
  }

  TempDir dir_;
  Text out_;
};

// The generic intro (101) and the decrypt dialog (103) by keyboard and mouse: tab
// order, Enter on the default button, Esc and the close box; the decrypt dialog and
// its message boxes open centred over the window below them; after a wrong password
// the controls, Cancel among them, work again.
TEST_F(StubInputTest, IntroAndDecryptDialogByKeyboardAndMouse) {
  Build(nullptr);
  StubRun run;
  Start(run);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  ASSERT_TRUE(PollUntil([&] { return FocusedId(intro) == IDC_DECRYPT_NOW; }, 60000));
  EXPECT_EQ(TabOrder(intro, 3), "106 104 105 106");

  HWND dialog = OpenDecryptDialog(run, intro);
  ASSERT_NE(dialog, nullptr);
  EXPECT_LE(CentreDistance(dialog, intro), 2) << "the decrypt dialog is not centred over the intro";
  ASSERT_TRUE(PollUntil([&] { return FocusedId(dialog) == IDC_PASSWORD; }, 60000));
  EXPECT_EQ(TabOrder(dialog, 5), "108 110 2 107 109 108");

  // Enter in the password field presses Decrypt, the default button.
  SetControlText(dialog, IDC_TARGET, System(out_));
  TypeText(dialog, IDC_PASSWORD, "not the password");
  PressKey(dialog, VK_RETURN);
  HWND box = run.WaitForWindow(WindowKind::kMessage, 60000);
  ASSERT_NE(box, nullptr);
  EXPECT_LE(CentreDistance(box, dialog), 2) << "the message box is not centred over the decrypt dialog";
  PressKey(box, VK_RETURN);
  ASSERT_TRUE(run.WaitUntilGone(WindowKind::kMessage));
  EXPECT_TRUE(
      PollUntil([&] { return FocusedId(dialog) == IDC_PASSWORD && IsControlEnabled(dialog, IDCANCEL); }, 60000));

  // The fields take no more than is read from them: 260 characters of folder, 255 of
  // password. A longer text set around that limit is refused, not cut.
  SetControlText(dialog, IDC_TARGET, "");
  TypeText(dialog, IDC_TARGET, std::string(300, 'f'));
  TypeText(dialog, IDC_PASSWORD, std::string(300, 'p'));
  EXPECT_TRUE(PollUntil([&] { return ControlTextLength(dialog, IDC_TARGET) == 260; }, 60000));
  EXPECT_TRUE(PollUntil([&] { return ControlTextLength(dialog, IDC_PASSWORD) == 255; }, 60000));
  struct Case {
    std::string target, password, message;
  } cases[] = {
      {"C:\\" + std::string(300, 'f'), kPassword,
       German() ? "Der Angegebene Zielpfad ist ung\xFCltig." : "The selected target folder is invalid."},
      {System(out_), std::string(256, 'p'),
       German() ? "Das eingegebene Passwort ist nicht korrekt." : "The entered password is not correct."},
  };
  for (const Case& c : cases) {
    SetControlText(dialog, IDC_TARGET, c.target);
    SetControlText(dialog, IDC_PASSWORD, c.password);
    ClickControl(dialog, IDC_DECRYPT);
    box = run.WaitForWindow(WindowKind::kMessage, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), c.message);
    EXPECT_TRUE(ClickCloseBox(box));
    ASSERT_TRUE(run.WaitUntilGone(WindowKind::kMessage));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_DECRYPT)) << "a run was started";
  }

  // Esc closes the decrypt dialog, and so does its close box.
  PressKey(dialog, VK_ESCAPE);
  ASSERT_TRUE(run.WaitUntilGone(WindowKind::kDecrypt));
  dialog = OpenDecryptDialog(run, intro);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(ClickCloseBox(dialog));
  ASSERT_TRUE(run.WaitUntilGone(WindowKind::kDecrypt));

  // The intro's close box ends the program.
  ASSERT_NE(run.WaitForWindow(WindowKind::kIntro), nullptr);
  EXPECT_TRUE(ClickCloseBox(intro));
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_FALSE(FolderExists(Text::Concat(out_, "data/")));
  EXPECT_TRUE(TempIsEmpty());
}

// Esc in the generic intro ends the program.
TEST_F(StubInputTest, EscInTheIntroEndsTheProgram) {
  Build(nullptr);
  StubRun run;
  Start(run);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  PressKey(intro, VK_ESCAPE);
  EXPECT_EQ(run.WaitForExit(), 0);
}

// The author's dialogs: the disclaimer's disabled Accept ignores clicks and Enter and
// is passed over by Tab until the text has been read; the intro with the link opens
// it once for a single and once for a double click.
TEST_F(StubInputTest, AuthorDialogsByKeyboardAndMouse) {
  Text linked = dir_.Sub((UniqueName() + "-link/").c_str());
  ASSERT_EQ(CreateFolder(linked), 0);
  AuthorParts parts;
  parts.picture = MakeBitmapFile(100, 50);
  parts.info = "Info";
  parts.link = System(StripTrailingSeparator(linked));
  for (int i = 1; i <= 80; ++i) parts.disclaimer += "Condition " + std::to_string(i) + " of the licence.\n";
  Build(&parts);
  StubRun run;
  Start(run);
  HWND disclaimer = run.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(disclaimer, nullptr);
  ASSERT_TRUE(PollUntil([&] { return FocusedId(disclaimer) == IDC_DISCLAIMER; }, 60000));
  EXPECT_EQ(TabOrder(disclaimer, 2), "1018 2 1018");
  EXPECT_FALSE(IsControlEnabled(disclaimer, IDOK)) << "coming back to the text with Tab counts as reading it";
  ClickControl(disclaimer, IDOK);
  PressKey(disclaimer, VK_RETURN);
  Sleep(500);
  EXPECT_TRUE(IsWindowVisible(disclaimer)) << "accepted unread";
  EXPECT_EQ(run.WaitForWindow(WindowKind::kIntro, 0), nullptr);

  // Page Down in the text to its end.
  for (int i = 0; i < 40 && !IsControlEnabled(disclaimer, IDOK); ++i) {
    PressKey(disclaimer, VK_NEXT);
    PollUntil([&] { return IsControlEnabled(disclaimer, IDOK); }, 100);
  }
  ASSERT_TRUE(IsControlEnabled(disclaimer, IDOK)) << "Accept still disabled at the end";
  ASSERT_TRUE(PollUntil([&] { return FocusedId(disclaimer) == IDC_DISCLAIMER; }, 60000));
  EXPECT_EQ(TabOrder(disclaimer, 3), "1018 2 1 1018");
  ClickControl(disclaimer, IDOK);

  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  ASSERT_TRUE(PollUntil([&] { return FocusedId(intro) != 0; }, 60000));
  EXPECT_EQ(TabOrder(intro, 4), "106 2 1017 1013 106");

  const std::string title = UniqueName() + "-link";
  for (int clicks : {1, 2}) {
    SCOPED_TRACE(clicks == 1 ? "single click" : "double click");
    MouseClick(GetDlgItem(intro, IDC_LINK), POINT{3, 3}, clicks);
    EXPECT_NE(WaitForForeignWindow(title, run.ProcessId(), 20000), nullptr) << "the link was not opened";
    Sleep(3000);  // time for a second window, were the link opened twice
    std::vector<HWND> opened = ForeignWindows(title, run.ProcessId());
    EXPECT_EQ(opened.size(), 1u);
    for (HWND window : opened) PostMessageA(window, WM_CLOSE, 0, 0);
    PollUntil([&] { return ForeignWindows(title, run.ProcessId()).empty(); }, 60000);
  }

  PressKey(intro, VK_ESCAPE);
  EXPECT_EQ(run.WaitForExit(), 0);
}

// Esc and the close box decline the disclaimer; the close box ends the intro 105.
TEST_F(StubInputTest, EscAndCloseBoxInTheAuthorDialogs) {
  AuthorParts parts;
  parts.disclaimer = "Use at your own risk.";
  parts.info = "Info";
  Build(&parts);
  for (bool esc : {true, false}) {
    SCOPED_TRACE(esc ? "Esc" : "close box");
    StubRun run;
    Start(run);
    HWND disclaimer = run.WaitForWindow(WindowKind::kDisclaimer);
    ASSERT_NE(disclaimer, nullptr);
    if (esc)
      PressKey(disclaimer, VK_ESCAPE);
    else
      EXPECT_TRUE(ClickCloseBox(disclaimer));
    EXPECT_EQ(run.WaitForExit(), 0);
  }
  StubRun run;
  Start(run);
  HWND disclaimer = run.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(disclaimer, nullptr);
  PressKey(disclaimer, VK_RETURN);  // a short text is read at once: Enter accepts
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_TRUE(ClickCloseBox(intro));
  EXPECT_EQ(run.WaitForExit(), 0);
}

// During a run Cancel has the focus, so Esc reaches it; the disabled Decrypt ignores a
// click; the bar only grows and stands at 100 when the success is shown.
TEST_F(StubInputTest, ProgressOnlyGrowsToTheEndWithTheFocusOnCancel) {
  Build(nullptr, 8);
  RunHold hold("container-file");
  StubRun run;
  Start(run);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  HWND dialog = OpenDecryptDialog(run, intro);
  ASSERT_NE(dialog, nullptr);
  SetControlText(dialog, IDC_TARGET, System(out_));
  TypeText(dialog, IDC_PASSWORD, kPassword);
  // Enter, not a click: a window of another program left over the dialog (an Explorer
  // window that came late) would take a click.
  PressKey(dialog, VK_RETURN);

  // While the worker is held with the container file partly written: the bar has
  // moved, no target folder exists yet, Cancel has the focus and a click on the
  // disabled Decrypt does nothing.
  ASSERT_TRUE(hold.WaitHeld(run.ProcessId())) << "the run never wrote its container file";
  std::vector<int> positions;
  int held_at = -1;
  EXPECT_TRUE(PollUntil([&] { return (held_at = ProgressPosition(dialog, IDC_PROGRESS)) > 0; }, 60000))
      << "waited 60 s for the bar to move while the container file was written";
  if (held_at > 0) positions.push_back(held_at);
  EXPECT_FALSE(FolderExists(out_)) << "the target was made before the container file was complete";
  EXPECT_TRUE(PollUntil([&] { return FocusedId(dialog) == IDCANCEL; }, 60000))
      << "waited 60 s for Cancel to have the focus during the run";
  EXPECT_FALSE(IsControlEnabled(dialog, IDC_DECRYPT));
  ClickControl(dialog, IDC_DECRYPT);
  hold.Release();

  HWND box = nullptr;
  PollUntil(
      [&] {
        box = run.WaitForWindow(WindowKind::kMessage, 0);
        int position = ProgressPosition(dialog, IDC_PROGRESS);
        if (position >= 0 && (positions.empty() || position != positions.back())) positions.push_back(position);
        return box != nullptr;
      },
      120000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), German() ? "Die Daten wurden erfolgreich entschl\xFCsselt."
                                       : "The files have been successfully decrypted.");
  std::string seen;
  for (int p : positions) seen += std::to_string(p) + " ";
  std::printf("progress seen: %s\n", seen.c_str());
  for (size_t i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]) << seen;
  EXPECT_GE(positions.size(), 2u) << seen;
  EXPECT_EQ(ProgressPosition(dialog, IDC_PROGRESS), 100) << seen;
  PressKey(box, VK_RETURN);
  HWND explorer = WaitForForeignWindow(UniqueName() + "-out", run.ProcessId(), 20000);
  if (explorer != nullptr) PostMessageA(explorer, WM_CLOSE, 0, 0);
  EXPECT_EQ(run.WaitForExit(), 0);
  EXPECT_EQ(FileSize(Text::Concat(out_, "data/big.bin")), int64_t{8} << 20);
  EXPECT_TRUE(TempIsEmpty());
}

// Esc while the container file is being written stops the writing: the dialog closes
// without a message, no target folder is made and no file is left.
TEST_F(StubInputTest, EscWhileTheContainerIsWrittenStopsTheRun) {
  Build(nullptr, 4);
  RunHold hold("container-file");
  StubRun run;
  Start(run);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  HWND dialog = OpenDecryptDialog(run, intro);
  ASSERT_NE(dialog, nullptr);
  SetControlText(dialog, IDC_TARGET, System(out_));
  TypeText(dialog, IDC_PASSWORD, kPassword);
  PressKey(dialog, VK_RETURN);

  // The worker is held while the file is only partly written, and goes on once the
  // dialog has taken the Esc.
  ASSERT_TRUE(hold.WaitHeld(run.ProcessId())) << "the run never wrote its container file";
  ASSERT_TRUE(PollUntil([&] { return FocusedId(dialog) == IDCANCEL; }, 60000))
      << "waited 60 s for Cancel to have the focus during the run";
  PressKey(dialog, VK_ESCAPE);
  EXPECT_TRUE(PollUntil([&] { return !IsControlEnabled(dialog, IDCANCEL); }, 60000)) << "Esc did not cancel";
  hold.Release();
  EXPECT_TRUE(run.WaitUntilGone(WindowKind::kDecrypt, 60000));
  EXPECT_EQ(run.WaitForWindow(WindowKind::kMessage, 0), nullptr) << "a cancelled run shows no message";
  EXPECT_FALSE(FolderExists(out_)) << "the run went on to extract";
  EXPECT_TRUE(PollUntil([&] { return TempIsEmpty(); }, 60000));
  PressKey(intro, VK_ESCAPE);
  EXPECT_EQ(run.WaitForExit(), 0);
}

// A Cancel that reaches the dialog after the worker has found the password wrong, but
// before the dialog has seen the result (a click queued while the dialog was busy),
// counts: the dialog closes silently, as for any cancelled run, and is not left
// without a working Cancel.
TEST_F(StubInputTest, CancelDuringAWrongPasswordCheckEndsTheRun) {
  Build(nullptr);
  RunHold hold("run-end");
  StubRun run;
  Start(run);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  HWND dialog = OpenDecryptDialog(run, intro);
  ASSERT_NE(dialog, nullptr);
  SetControlText(dialog, IDC_TARGET, System(out_));
  TypeText(dialog, IDC_PASSWORD, "not the password");
  PressKey(dialog, VK_RETURN);
  // The worker is held once it has found the password wrong and removed its container
  // file, before it tells the dialog; the Esc is taken while the run still counts as
  // going on, and the worker's end comes after it.
  ASSERT_TRUE(hold.WaitHeld(run.ProcessId())) << "the run never ended";
  EXPECT_TRUE(TempIsEmpty());
  ASSERT_TRUE(PollUntil([&] { return FocusedId(dialog) == IDCANCEL; }, 60000))
      << "waited 60 s for Cancel to have the focus during the run";
  PressKey(dialog, VK_ESCAPE);
  EXPECT_TRUE(PollUntil([&] { return !IsControlEnabled(dialog, IDCANCEL); }, 60000)) << "Esc did not cancel";
  EXPECT_EQ(run.WaitForWindow(WindowKind::kMessage, 0), nullptr) << "the result was shown before the worker ended";
  hold.Release();
  EXPECT_TRUE(run.WaitUntilGone(WindowKind::kDecrypt, 60000)) << "the cancelled run left the dialog open";
  EXPECT_EQ(run.WaitForWindow(WindowKind::kMessage, 1000), nullptr) << "a cancelled run shows no message";
  PressKey(intro, VK_ESCAPE);
  EXPECT_EQ(run.WaitForExit(), 0);
}

// At 144 DPI the dialogs, the picture and the link are drawn at that scale (the
// program declares itself aware of the system's DPI; Wine draws an undeclared one at
// that scale too, so the image test checks the declaration). Screenshots of each
// dialog and a message box in the build's screenshots folder.
class HighDpiTest : public StubInputTest {
 protected:
  void SetUp() override {
    StubInputTest::SetUp();
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    DWORD size = sizeof saved_;
    had_value_ =
        RegQueryValueExA(key, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved_), &size) == ERROR_SUCCESS;
    DWORD dpi = 144;
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    RegCloseKey(key);
    // This thread measures and clicks in the screen's pixels, not scaled to its own DPI.
    using SetContextFn = HANDLE(WINAPI*)(HANDLE);
    set_context_ = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
    if (set_context_ != nullptr) saved_context_ = set_context_(reinterpret_cast<HANDLE>(-3));  // per monitor
  }
  void TearDown() override {
    if (set_context_ != nullptr && saved_context_ != nullptr) set_context_(saved_context_);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    if (had_value_)
      RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&saved_), sizeof saved_);
    else
      RegDeleteValueA(key, "LogPixels");
    RegCloseKey(key);
  }

  DWORD saved_ = 96;
  bool had_value_ = false;
  HANDLE(WINAPI* set_context_)(HANDLE) = nullptr;
  HANDLE saved_context_ = nullptr;
};

TEST_F(HighDpiTest, DialogsAt144Dpi) {
  AuthorParts parts;
  parts.picture = MakeBitmapFile(400, 300);
  parts.info = "Info";
  parts.link = "https://example.com/releases?season=spring&year=2024";
  parts.disclaimer = "Use at your own risk.";
  Build(&parts);
  const std::string language = German() ? "de" : "en";
  StubRun run;
  Start(run);
  HWND disclaimer = run.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(disclaimer, nullptr);
  EXPECT_TRUE(Screenshot(disclaimer, "dpi144_dialog111_" + language));
  PressKey(disclaimer, VK_RETURN);
  HWND intro = run.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  RECT box;
  SIZE inside;
  EXPECT_TRUE(PollUntil([&] { return ShownPictureBox(GetDlgItem(intro, IDC_PICTURE), box, inside); }, 60000));
  EXPECT_TRUE(Screenshot(intro, "dpi144_dialog105_" + language));
  // 270 dialog units across: about 405 pixels at 96 DPI with the dialogs' font, half
  // as much again at 144.
  RECT client;
  GetClientRect(intro, &client);
  std::printf("dialog 105 at 144 DPI: %ldx%ld, picture %ldx%ld in %ldx%ld\n", client.right, client.bottom,
              box.right - box.left, box.bottom - box.top, inside.cx, inside.cy);
  EXPECT_GT(client.right, 540) << "not drawn at 144 DPI";
  ClickControl(intro, IDC_DECRYPT_NOW);
  HWND dialog = run.WaitForWindow(WindowKind::kDecrypt);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(Screenshot(dialog, "dpi144_dialog103_" + language));
  SetControlText(dialog, IDC_TARGET, "");
  ClickControl(dialog, IDC_DECRYPT);
  HWND message = run.WaitForWindow(WindowKind::kMessage);
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(Screenshot(message, "dpi144_message_" + language));
  PressKey(message, VK_RETURN);
  ASSERT_TRUE(run.WaitUntilGone(WindowKind::kMessage));
  PressKey(dialog, VK_ESCAPE);
  ASSERT_TRUE(run.WaitUntilGone(WindowKind::kDecrypt));
  PressKey(intro, VK_ESCAPE);
  EXPECT_EQ(run.WaitForExit(), 0);
}

}  // namespace
}  // namespace qef::test
