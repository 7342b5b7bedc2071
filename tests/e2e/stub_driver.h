#pragma once
// Drives the stub as a user would. Builds self-decrypting programs from the real stub,
// starts them with a private temporary folder, finds their dialogs and message boxes,
// and types and presses buttons with window messages. Every wait polls with a time
// limit; nothing sleeps longer than one polling step.
#include <windows.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace qef::test {

using Bytes = std::vector<unsigned char>;

// Packs a folder (internal form, ending in '/') into container bytes with AES and
// compression; stored chunks when `stored`. Empty text on success, else why not.
std::string PackFolder(const Text& source, const char* password, bool stored, Bytes& container);
// The same for several sources (files or folders), each an item of the top level.
std::string PackSources(const std::vector<Text>& sources, const char* password, bool stored, Bytes& container);

// What the author gives a program besides its container.
struct AuthorParts {
  Bytes picture;  // a BMP file image, or empty
  std::string info;
  std::string link;
  std::string disclaimer;
};

// Writes `exe`: the stub with a payload block carrying the container. The block has
// the full 44-byte header, or with `short_header` the 8-byte layout that holds only
// the container. Empty text on success.
std::string MakeProgram(const Bytes& container, const Text& exe, bool short_header = false);
// The same with the full header and the author's parts.
std::string MakeProgram(const Bytes& container, const Text& exe, const AuthorParts& parts);

// Lets Wine draw the title bars itself: without a window manager (Xvfb) the
// screenshots would show windows without them.
void UseUnmanagedWindows();

// Copies the bare stub, with nothing appended, to `exe`.
bool CopyBareStub(const Text& exe);

// The windows a stub shows: its four dialogs, message boxes and the shell's folder browser.
enum class WindowKind { kDisclaimer, kIntro, kDecrypt, kMessage, kFolderBrowser };

// One running stub. The destructor ends a program that is still running.
class StubRun {
 public:
  StubRun() = default;
  StubRun(const StubRun&) = delete;
  StubRun& operator=(const StubRun&) = delete;
  ~StubRun();

  // Starts the program with TMP and TEMP set to temp_folder and `current` as its
  // current folder (both internal form). The time of the start is kept.
  bool Start(const Text& exe, const Text& temp_folder, const Text& current);
  // The program's visible top-level window of that kind, or null at the time limit.
  HWND WaitForWindow(WindowKind kind, DWORD limit_ms = 60000);
  // True once no visible window of that kind is left.
  bool WaitUntilGone(WindowKind kind, DWORD limit_ms = 60000);
  // The exit code, or -1 when the program is still running at the time limit.
  long WaitForExit(DWORD limit_ms = 60000);
  DWORD ProcessId() const { return process_.dwProcessId; }
  HANDLE Process() const { return process_.hProcess; }
  DWORD StartTick() const { return start_tick_; }

 private:
  PROCESS_INFORMATION process_ = {};
  DWORD start_tick_ = 0;
};

// How a recipient's run of a program went.
struct RecipientReport {
  std::string failure;        // empty when the program showed a message and ended
  bool disclaimer = false;    // a disclaimer was shown, scrolled to its end and accepted
  int intro_dialog = 0;       // 101 or 105
  std::string message;        // the message box after Decrypt
  double first_dialog_s = 0;  // from the start to the first dialog
  double decrypt_s = 0;       // from pressing Decrypt to the message
  double total_s = 0;         // from the start to the program's exit
  double screenshot_s = 0;    // of which spent taking screenshots
};

// Runs a program as its recipient does: accepts the disclaimer once it has been
// scrolled to its end, opens the decrypt dialog from the intro, decrypts into
// `target` (internal form) with the password and answers the message. With a
// `screenshot_tag`, the disclaimer and the intro are saved as screenshots
// "<tag>_dialog111" and "<tag>_dialog105" (or 101).
RecipientReport RunAsRecipient(const Text& exe, const Text& temp_folder, const Text& target,
                               const std::string& password, const char* screenshot_tag = nullptr);

// Holds every thread of a process but one (its dialog thread) suspended while it
// lives, so that a test can act at a chosen point of a run however fast the run is.
class ThreadPause {
 public:
  ThreadPause(DWORD pid, DWORD running_thread);
  ThreadPause(const ThreadPause&) = delete;
  ThreadPause& operator=(const ThreadPause&) = delete;
  ~ThreadPause();

 private:
  std::vector<HANDLE> threads_;
};

// Holds the next program started at a hold point of its own (core/hold.h), so that a
// test acts at a known place of a run whatever the speed of the machine. Armed from
// construction until WaitHeld; the destructor lets a held run go on.
class RunHold {
 public:
  explicit RunHold(const char* point);
  RunHold(const RunHold&) = delete;
  RunHold& operator=(const RunHold&) = delete;
  ~RunHold();
  // Waits until the program `pid` has reached the point and waits there; false at the
  // time limit (the run never got there).
  bool WaitHeld(DWORD pid, DWORD limit_ms = 120000);
  // Lets the held run go on.
  void Release();

 private:
  HANDLE reached_ = nullptr;
  HANDLE go_ = nullptr;
};

// A place in another process where one of several byte strings was found.
struct MemoryHit {
  size_t needle = 0;  // index into the strings looked for
  uintptr_t address = 0;
  MEMORY_BASIC_INFORMATION region = {};  // the pages around it, as VirtualQueryEx has them
};

// Every place in the committed, readable pages of `process` where one of the byte
// strings occurs, in one pass over its memory. The pages are read into a buffer of the
// calling process, so the caller's own copies of the strings are never among the hits.
// Pages freed between the query and the read are skipped.
std::vector<MemoryHit> FindInProcess(HANDLE process, const std::vector<Bytes>& needles);

// Texts and buttons of another process's windows.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string& text);
// Types into a control as the keyboard does: one posted WM_CHAR per character, so that
// a press posted afterwards is handled after the last one.
void TypeText(HWND dialog, int id, const std::string& text);
// The length of a control's text. Wine answers it to another process by way of a copy
// of the text on the answering thread's stack: not to be asked of a field that holds
// a password under test.
int ControlTextLength(HWND dialog, int id);
// The control that has the keyboard focus in the thread of `window`, or null.
HWND FocusOf(HWND window);
// Posts a click, so that a handler that opens a message box does not block the caller.
void Press(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);
bool IsControlVisible(HWND dialog, int id);
// The text of a message box and whether it shows an icon.
std::string MessageText(HWND box);
bool MessageHasIcon(HWND box);

// Posts a press and a release of the left mouse button at a point of a control.
void ClickAt(HWND control, int x, int y);

// Real input. The mouse goes through SendInput: the pointer is moved to a point of the
// screen and the button pressed there, so the system picks the window under the
// pointer (passing over a disabled one), makes a double click of a quick second press
// and lets the title bar handle its own buttons. Keys are posted to the control that
// has the focus, as the keyboard delivers them, so the dialog's message loop handles
// Tab, Enter and Esc.
//
// Clicks `clicks` times (1 or 2) at a point given in the window's client coordinates.
void MouseClick(HWND window, POINT client_point, int clicks = 1);
// Clicks the middle of a control.
void ClickControl(HWND dialog, int id, int clicks = 1);
// Clicks the close box in the title bar of a top-level window; false when no point of
// its title bar answers as the close box.
bool ClickCloseBox(HWND window);
// Posts a key's press and release to the window's control that has the focus, once
// the focus is in the window (the window itself when it does not come there).
void PressKey(HWND window, UINT key);
// The dialog control id of the control with the focus, or 0.
int FocusedId(HWND dialog);
// The position of a progress bar, or -1 when it does not answer.
int ProgressPosition(HWND dialog, int id);
// The window's rectangle on the screen, and its centre.
POINT CentreOf(HWND window);

// Holds one thread of another process suspended while it lives.
class ThreadHold {
 public:
  explicit ThreadHold(DWORD thread_id);
  ThreadHold(const ThreadHold&) = delete;
  ThreadHold& operator=(const ThreadHold&) = delete;
  ~ThreadHold();
  bool Held() const { return thread_ != nullptr; }

 private:
  HANDLE thread_ = nullptr;
};

// Where a picture control shows its centred picture, found on the screen: the box,
// relative to the control's inside, of the pixels that differ from the inside's
// top-left one (the control fills the space around the picture with the colour of
// the picture's top-left pixel). False when the screen could not be read or nothing
// is shown.
bool ShownPictureBox(HWND control, RECT& box, SIZE& inside);

// Polls `done` every 10 ms until it is true or the time limit passes.
template <class Predicate>
bool PollUntil(Predicate done, DWORD limit_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(10);
  }
}

// A visible top-level window of another program (not `except_pid`) whose title
// contains `title_part`, or null at the time limit. For the Explorer window that a
// successful run opens.
HWND WaitForForeignWindow(const std::string& title_part, DWORD except_pid, DWORD limit_ms);

// Saves a picture of the screen around `window` as <screenshot folder>/<name>.png,
// taken with ImageMagick's import on the X display. The folder is the Unix path in
// QEF_SCREENSHOT_DIR when set, else the build's. False when it could not be made.
bool Screenshot(HWND window, const std::string& name);

// Names in the folder (internal form) that match a pattern such as "*.qef".
std::vector<std::string> FilesMatching(const Text& folder, const char* pattern);

}  // namespace qef::test
