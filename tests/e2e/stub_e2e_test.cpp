// The stub end to end under Wine: self-decrypting programs made from the real stub
// are started, their dialogs are driven with window messages, and the outcome is
// checked on disk. The same cases run in English and, under a German locale, the
// ones that show texts run in German (the expected texts follow the UI language).
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/res/resource.h"
#include "container/engine.h"
#include "core/result.h"
#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/app/bitmap_fixture.h"
#include "tests/e2e/stub_driver.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef::test {
namespace {

struct Texts {
  const char* language;
  const char* title;
  const char* block_title;  // of the intro dialog with the author's parts
  const char* disclaimer;   // the author's, in the user's language
  const char* info;
  const char* success;
  const char* error_code;  // printf format with the code
  const char* wrong_password;
  const char* bad_target;
  const char* no_data;
  const char* other_spelling;  // printf format with the count
};

const Texts kEnglish = {
    "en",
    "Quillmar - Self decryption",
    "Quillmar Lockfold - Self decryption",
    "Licence for the spring release\n\n"
    "1. You may use, copy and pass on these files for your own work and within your organisation.\n\n"
    "2. You may not sell them, or offer them for download on a public server, without written leave.\n\n"
    "3. The files are provided as they are. The author gives no warranty of any kind and is not liable "
    "for any damage that comes from their use, as far as the law allows.\n\n"
    "4. Personal data in the sample records is made up; any likeness to real persons is chance.\n\n"
    "5. These terms follow the law of the place where the author lives.\n\n"
    "6. If one of these terms is void, the others stay in force.\n\n"
    "By pressing Accept you agree to these terms.",
    "The project files of the spring release: drawings, tables and the report.\n\n"
    "Decrypt them with the password you were given by mail.",
    "The files have been successfully decrypted.",
    "An error occured while decrypting.\n\nErrorcode: %i",
    "The entered password is not correct.",
    "The selected target folder is invalid.",
    "This program contains no encrypted data.",
    "Files replaced by a later file whose name differs only in case (Windows takes both names for one file): %i",
};

// In the ANSI code page of a German system (1252).
const Texts kGerman = {
    "de",
    "Quillmar - Selbstentschl\xFCsselung",
    "Quillmar Lockfold - Selbstentschl\xFCsselung",
    "Lizenz f\xFCr die Fr\xFChjahrsausgabe\n\n"
    "1. Sie d\xFCrfen diese Dateien f\xFCr Ihre eigene Arbeit und innerhalb Ihrer Organisation nutzen, "
    "kopieren und weitergeben.\n\n"
    "2. Sie d\xFCrfen sie ohne schriftliche Erlaubnis weder verkaufen noch auf einem \xF6"
    "ffentlichen Server "
    "zum Herunterladen anbieten.\n\n"
    "3. Die Dateien werden so geliefert, wie sie sind. Der Autor \xFC"
    "bernimmt keine Gew\xE4hr und haftet, "
    "soweit das Gesetz es erlaubt, f\xFCr keine Sch\xE4"
    "den aus ihrer Nutzung.\n\n"
    "4. Personendaten in den Beispieldatens\xE4tzen sind erfunden.\n\n"
    "5. Es gilt das Recht des Wohnorts des Autors.\n\n"
    "6. Ist eine dieser Bedingungen unwirksam, bleiben die \xFC"
    "brigen in Kraft.\n\n"
    "Mit Akzeptieren stimmen Sie diesen Bedingungen zu.",
    "Die Projektdateien der Fr\xFChjahrsausgabe: Zeichnungen, Tabellen und der Bericht.\n\n"
    "Entschl\xFCsseln Sie sie mit dem Passwort, das Sie per Post erhalten haben.",
    "Die Daten wurden erfolgreich entschl\xFCsselt.",
    "Es trat ein Fehler bei der Entschl\xFCsselung auf.\n\nFehlercode: %i",
    "Das eingegebene Passwort ist nicht korrekt.",
    "Der Angegebene Zielpfad ist ung\xFCltig.",
    "Dieses Programm enth\xE4lt keine verschl\xFCsselten Daten.",
    "Durch eine sp\xE4tere Datei ersetzte Dateien, deren Name sich nur in Gro\xDF- und Kleinschreibung unterscheidet "
    "(Windows h\xE4lt beide Namen f\xFCr eine Datei): %i",
};

const Texts& Expected() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? kGerman : kEnglish; }

const char kPassword[] = "open sesame";

std::string System(const Text& path) { return ToSystemForm(path).Str(); }

void SetWriteTime(const Text& path, int year) {
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = 2;
  st.wDay = 3;
  st.wHour = 4;
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  HANDLE h = CreateFileA(System(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
}

class StubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseUnmanagedWindows();
    // The target's name is the test folder's, so that the Explorer window of this
    // run cannot be mistaken for that of an earlier one.
    out_ = Text::Concat(dir_.Path(), Text::Concat(FileNameOf(StripTrailingSeparator(dir_.Path())), "-out/"));
    for (const Text& folder : {dir_.Sub("src/data/"), dir_.Sub("bin/"), dir_.Sub("tmp/"), out_})
      ASSERT_EQ(CreateFolder(folder), 0);
  }

  Text Data() const { return dir_.Sub("src/data/"); }
  Text Exe() const { return dir_.Sub("bin/setup.exe"); }
  Text Tmp() const { return dir_.Sub("tmp/"); }
  Text Out() const { return out_; }

  // A small tree with everything an item can carry: nested and empty folders, an
  // empty file, attributes and an old write time.
  void MakeSampleTree() {
    ASSERT_EQ(CreateFolder(Text::Concat(Data(), "docs/empty/")), 0);
    std::string report;
    for (int i = 0; i < 20000; ++i) report += "line " + std::to_string(i * 7919 % 1000) + "\n";
    ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "readme.txt"), "hello"));
    ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "empty.bin"), ""));
    ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "docs/report.txt"), report));
    ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "docs/locked.txt"), "read only"));
    ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "docs/hidden.txt"), "hidden"));
    SetWriteTime(Text::Concat(Data(), "docs/report.txt"), 2001);
    SetFileAttributesA(System(Text::Concat(Data(), "docs/locked.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(System(Text::Concat(Data(), "docs/hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  }

  void BuildProgram(bool short_header = false) {
    Bytes container;
    ASSERT_EQ(PackFolder(Data(), kPassword, false, container), "");
    ASSERT_EQ(MakeProgram(container, Exe(), short_header), "");
  }

  // As an author sends it: with a disclaimer, a picture, an info text and a link.
  void BuildAuthorsProgram() {
    Bytes container;
    ASSERT_EQ(PackFolder(Data(), kPassword, false, container), "");
    AuthorParts parts;
    parts.picture = MakeBitmapFile(400, 300);
    parts.info = Expected().info;
    parts.link = "https://example.com/releases?season=spring&year=2024";
    parts.disclaimer = Expected().disclaimer;
    ASSERT_EQ(MakeProgram(container, Exe(), parts), "");
  }

  void Start() { ASSERT_TRUE(run_.Start(Exe(), Tmp(), dir_.Path())); }

  // Intro dialog, then the decrypt dialog.
  HWND OpenDecryptDialog() {
    HWND intro = run_.WaitForWindow(WindowKind::kIntro);
    if (intro == nullptr) return nullptr;
    Press(intro, IDC_DECRYPT_NOW);
    return run_.WaitForWindow(WindowKind::kDecrypt);
  }

  // Presses Decrypt with the given fields and answers the message box that follows:
  // its text and whether it had an icon.
  std::string DecryptExpectingMessage(HWND dialog, const std::string& target, const std::string& password,
                                      bool* icon = nullptr) {
    SetControlText(dialog, IDC_TARGET, target);
    SetControlText(dialog, IDC_PASSWORD, password);
    Press(dialog, IDC_DECRYPT);
    HWND box = run_.WaitForWindow(WindowKind::kMessage, 60000);
    if (box == nullptr) return "<no message box>";
    std::string text = MessageText(box);
    if (icon != nullptr) *icon = MessageHasIcon(box);
    Press(box, IDOK);
    run_.WaitUntilGone(WindowKind::kMessage);
    return text;
  }

  // After success: Explorer shows the target folder; its window is closed again.
  void ExpectExplorerOn(const Text& folder) {
    std::string name = FileNameOf(StripTrailingSeparator(folder)).Str();
    HWND explorer = WaitForForeignWindow(name, run_.ProcessId(), 20000);
    EXPECT_NE(explorer, nullptr) << "no Explorer window on " << name;
    if (explorer != nullptr) PostMessageA(explorer, WM_CLOSE, 0, 0);
  }

  // Whatever the outcome, the stub's temporary folder is left as it was: no
  // container file and no placeholder of a drawn name.
  void ExpectNoTempLeftovers() {
    std::vector<std::string> left = FilesMatching(Tmp(), "*.*");
    std::string names;
    for (const std::string& n : left)
      if (n != "." && n != "..") names += n + " ";
    EXPECT_EQ(names, "") << "left in the temporary folder";
  }

  void ExpectRestored(const Text& extracted) {
    Snapshot want = TakeSnapshot(Data());
    Snapshot got = TakeSnapshot(extracted);
    EXPECT_EQ(Describe(got), Describe(want));
    EXPECT_TRUE(got == want);  // file times too
    DWORD hidden = GetFileAttributesA(System(Text::Concat(extracted, "docs/hidden.txt")).c_str());
    EXPECT_TRUE(hidden != INVALID_FILE_ATTRIBUTES && (hidden & FILE_ATTRIBUTE_HIDDEN) != 0);
  }

  TempDir dir_;
  Text out_;
  StubRun run_;
};

// The whole way, as a recipient goes it: disclaimer, intro with the author's parts,
// decrypt dialog, success, Explorer on the extracted files.
TEST_F(StubTest, SuccessRestoresTheTreeAndClosesBothDialogs) {
  MakeSampleTree();
  BuildAuthorsProgram();
  Start();
  HWND disclaimer = run_.WaitForWindow(WindowKind::kDisclaimer);
  ASSERT_NE(disclaimer, nullptr);
  std::printf("first dialog %lu ms after the start\n", GetTickCount() - run_.StartTick());
  EXPECT_FALSE(IsControlEnabled(disclaimer, IDOK));
  EXPECT_TRUE(Screenshot(disclaimer, std::string("dialog111_") + Expected().language));
  PostMessageA(GetDlgItem(disclaimer, IDC_DISCLAIMER), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
  EXPECT_TRUE(PollUntil([&] { return IsControlEnabled(disclaimer, IDOK); }, 60000)) << "Accept still disabled";
  Press(disclaimer, IDOK);

  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_EQ(WindowText(intro), Expected().block_title);
  EXPECT_TRUE(Screenshot(intro, std::string("dialog105_") + Expected().language));

  Press(intro, IDC_DECRYPT_NOW);
  HWND dialog = run_.WaitForWindow(WindowKind::kDecrypt);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(dialog), Expected().title);
  EXPECT_FALSE(IsControlVisible(dialog, IDC_PROGRESS));
  SetControlText(dialog, IDC_PASSWORD, kPassword);
  EXPECT_TRUE(Screenshot(dialog, std::string("dialog103_") + Expected().language));

  bool icon = true;
  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), kPassword, &icon), Expected().success);
  EXPECT_FALSE(icon);
  ExpectExplorerOn(Out());
  EXPECT_EQ(run_.WaitForExit(), 0) << "the dialogs did not close";
  ExpectRestored(Text::Concat(Out(), "data/"));
  ExpectNoTempLeftovers();
}

// Names that differ only in case are one file on Windows: the later file replaces the
// earlier one, and the message after success says how many were replaced so.
TEST_F(StubTest, SuccessCountsFilesReplacedUnderAnotherSpelling) {
  const char* names[][2] = {{"one/Index.html", "two/index.html"}, {"one/Notes.txt", "two/NOTES.txt"}};
  std::vector<Text> sources;
  for (const char* folder : {"one/", "two/"}) ASSERT_EQ(CreateFolder(Text::Concat(Data(), folder)), 0);
  for (const auto& pair : names) {
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), pair[i]), i == 0 ? "earlier" : "later"));
      sources.push_back(Text::Concat(Data(), pair[i]));
    }
  }
  Bytes container;
  ASSERT_EQ(PackSources(sources, kPassword, false, container), "");
  ASSERT_EQ(MakeProgram(container, Exe()), "");
  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);
  char count[400];
  std::snprintf(count, sizeof count, Expected().other_spelling, 2);
  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), kPassword),
            std::string(Expected().success) + "\n\n" + count);
  ExpectExplorerOn(Out());
  EXPECT_EQ(run_.WaitForExit(), 0);
  EXPECT_EQ(ReadFileBytes(Text::Concat(Out(), "index.html")), "later");
  EXPECT_EQ(ReadFileBytes(Text::Concat(Out(), "notes.txt")), "later");
  ExpectNoTempLeftovers();
}

// The 8-byte block layout carries only the container; it is read from its own offset,
// and the generic intro dialog is shown.
TEST_F(StubTest, WrongPasswordKeepsTheDialogForAnotherTry) {
  MakeSampleTree();
  BuildProgram(/*short_header=*/true);
  Start();
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_EQ(WindowText(intro), Expected().title);
  EXPECT_TRUE(Screenshot(intro, std::string("dialog101_") + Expected().language));
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);

  bool icon = true;
  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), "not the password", &icon), Expected().wrong_password);
  EXPECT_FALSE(icon);
  // The controls come back once the message box is answered.
  auto ready_again = [&] {
    for (int id : {IDC_DECRYPT, IDC_BROWSE, IDC_TARGET, IDC_PASSWORD, IDCANCEL})
      if (!IsControlEnabled(dialog, id)) return false;
    return !IsControlVisible(dialog, IDC_PROGRESS);
  };
  EXPECT_TRUE(PollUntil(ready_again, 20000)) << "run controls locked or progress bar shown";
  // The run took the password out of its field: the user types it again.
  EXPECT_EQ(ControlTextLength(dialog, IDC_PASSWORD), 0);
  EXPECT_TRUE(PollUntil([&] { return FocusOf(dialog) == GetDlgItem(dialog, IDC_PASSWORD); }, 60000))
      << "the empty password field does not have the focus";
  EXPECT_FALSE(FolderExists(Text::Concat(Out(), "data/")));
  ExpectNoTempLeftovers();

  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), kPassword), Expected().success);
  ExpectExplorerOn(Out());
  EXPECT_EQ(run_.WaitForExit(), 0);
  ExpectRestored(Text::Concat(Out(), "data/"));
  ExpectNoTempLeftovers();
}

TEST_F(StubTest, EmptyFieldsAreRefusedBeforeAnythingIsWritten) {
  MakeSampleTree();
  BuildProgram();
  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);

  bool icon = false;
  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), "", &icon), Expected().wrong_password);
  EXPECT_TRUE(icon);
  ExpectNoTempLeftovers();
  icon = false;
  EXPECT_EQ(DecryptExpectingMessage(dialog, "", kPassword, &icon), Expected().bad_target);
  EXPECT_TRUE(icon);
  ExpectNoTempLeftovers();

  // Cancel without a run closes the decrypt dialog only.
  Press(dialog, IDCANCEL);
  EXPECT_TRUE(run_.WaitUntilGone(WindowKind::kDecrypt));
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
  EXPECT_EQ(TakeSnapshot(Out()).size(), 0u);
}

TEST_F(StubTest, CancelDuringALargeFileEndsSilentlyAndCleansUp) {
  // Stored and incompressible, and longer than one piece of data, so that the run is
  // held inside it with the file partly written.
  std::string big(4u << 20, '\0');
  uint32_t x = 12345;
  for (char& c : big) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "big.bin"), big));
  Bytes container;
  ASSERT_EQ(PackFolder(Data(), kPassword, /*stored=*/true, container), "");
  ASSERT_EQ(MakeProgram(container, Exe()), "");
  RunHold hold("file-data");
  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);

  SetControlText(dialog, IDC_TARGET, System(Out()));
  SetControlText(dialog, IDC_PASSWORD, kPassword);
  Press(dialog, IDC_DECRYPT);
  // Cancel is pressed while the worker waits after the first piece of the file, and the
  // worker goes on only once the dialog has taken the cancel.
  ASSERT_TRUE(hold.WaitHeld(run_.ProcessId())) << "the run never reached the large file's data";
  Press(dialog, IDCANCEL);
  EXPECT_TRUE(PollUntil([&] { return !IsControlEnabled(dialog, IDCANCEL); }, 60000))
      << "waited 60 s for the dialog to take the cancel";
  hold.Release();

  EXPECT_TRUE(run_.WaitUntilGone(WindowKind::kDecrypt, 60000));
  EXPECT_EQ(run_.WaitForWindow(WindowKind::kMessage, 0), nullptr) << "a cancelled run shows no message";
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_FALSE(FolderExists(Text::Concat(Out(), "data/"))) << "the cancelled run left its files";
  ExpectNoTempLeftovers();
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// A distinctive password of 32 letters, built at run time so that no literal holds
// it. Passwords of different steps share no two letters in a row.
std::string MakePassword(int step, int start) {
  std::string password;
  for (int i = 0; i < 32; ++i) password += static_cast<char>(((i & 1) ? 'a' : 'A') + (i * step + start) % 26);
  return password;
}

// The forms in which a password could be left in the stub: its bytes as typed (every
// text the stub makes is of the system code page), the UTF-16 text that the password
// field keeps, and the AES key derived from it, as it is and with each 32-bit word
// reversed, as a key schedule may hold it. The texts are looked for in halves: a heap
// that keeps its free list in the first bytes of a freed block breaks a match of the
// whole, not of its second half.
struct Copies {
  int typed = 0;
  int wide = 0;
  int key = 0;
  std::string where;  // form and address of each match, for the failure messages
};

Copies FindPassword(const StubRun& run, const std::string& password) {
  enum Form { kTyped, kWide, kKey };
  std::vector<Bytes> needles;
  std::vector<Form> forms;
  size_t half = password.size() / 2;
  for (size_t from : {size_t(0), half}) {
    needles.emplace_back(password.begin() + from, password.begin() + from + half);
    Bytes wide;
    for (size_t i = from; i < from + half; ++i) wide.insert(wide.end(), {static_cast<unsigned char>(password[i]), 0});
    needles.push_back(wide);
    forms.insert(forms.end(), {kTyped, kWide});
  }
  CipherKey key;
  EXPECT_EQ(DeriveCipherKey(Text(password.c_str()), kAesCipher, key), kOk);
  needles.emplace_back(key.bytes, key.bytes + kCipherKeySize);
  Bytes words(kCipherKeySize);
  for (size_t i = 0; i < kCipherKeySize; ++i) words[i] = key.bytes[(i & ~size_t(3)) + 3 - (i & 3)];
  needles.push_back(words);
  forms.insert(forms.end(), {kKey, kKey});

  Copies copies;
  for (const MemoryHit& hit : FindInProcess(run.Process(), needles)) {
    Form form = forms[hit.needle];
    (form == kTyped ? copies.typed : form == kWide ? copies.wide : copies.key)++;
    char line[128];
    std::snprintf(line, sizeof line, "%s at 0x%08lx (allocation at 0x%08lx, type 0x%lx)\n",
                  form == kTyped  ? "typed"
                  : form == kWide ? "UTF-16"
                                  : "key",
                  static_cast<unsigned long>(hit.address),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hit.region.AllocationBase)),
                  static_cast<unsigned long>(hit.region.Type));
    copies.where += line;
  }
  return copies;
}

// After a run, wrong or right, the stub holds no copy of the password nor of the key
// derived from it: the password buffer, the job's texts and the key material are
// wiped, and the password field was emptied when the run took the password (after a
// wrong one the user types it again). Each scan is made while the message box after
// the run is shown and the decrypt dialog is still open. A scan in the middle of the
// run shows that the scan does see the stub's copies while the run needs them.
//
// The password is typed, and the driver never asks the field for its text or length
// while the field holds it: Wine, answering such a question from another process,
// leaves the text in UTF-16 in a dead frame of the dialog thread's stack, memory of
// USER32 that the stub neither owns nor can wipe.
TEST_F(StubTest, NoCopyOfThePasswordOutlivesARun) {
  const std::string password = MakePassword(11, 3);
  const std::string wrong = MakePassword(7, 5);
  // Stored and longer than one piece of data, so that the run is held in the middle.
  std::string big(4u << 20, '\0');
  uint32_t x = 777;
  for (char& c : big) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "big.bin"), big));
  Bytes container;
  ASSERT_EQ(PackFolder(Data(), password.c_str(), /*stored=*/true, container), "");
  ASSERT_EQ(MakeProgram(container, Exe()), "");
  // The wrong password's run never reaches file data; the right one is held there.
  RunHold hold("file-data");
  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);
  SetControlText(dialog, IDC_TARGET, System(Out()));

  TypeText(dialog, IDC_PASSWORD, wrong);
  Press(dialog, IDC_DECRYPT);
  HWND box = run_.WaitForWindow(WindowKind::kMessage, 60000);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(MessageText(box), Expected().wrong_password);
  Copies after_wrong = FindPassword(run_, wrong);
  EXPECT_EQ(after_wrong.typed + after_wrong.wide, 0) << after_wrong.where;
  Press(box, IDOK);
  ASSERT_TRUE(run_.WaitUntilGone(WindowKind::kMessage));

  TypeText(dialog, IDC_PASSWORD, password);
  Press(dialog, IDC_DECRYPT);
  Text big_file = Text::Concat(Out(), "data/big.bin");
  ASSERT_TRUE(hold.WaitHeld(run_.ProcessId())) << "the run never reached the large file's data";
  {
    // The read-ahead thread is paused too, so that no copy moves during the scan.
    ThreadPause pause(run_.ProcessId(), GetWindowThreadProcessId(dialog, nullptr));
    Copies during = FindPassword(run_, password);
    EXPECT_GE(during.typed, 1) << "the scan does not see the password the run holds";
    EXPECT_GE(during.key, 1) << "the scan does not see the key the run holds";
    EXPECT_EQ(during.wide, 0) << "the field kept the password for the run\n" << during.where;
  }
  hold.Release();

  box = run_.WaitForWindow(WindowKind::kMessage, 60000);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(MessageText(box), Expected().success);
  Copies after = FindPassword(run_, password);
  EXPECT_EQ(after.typed + after.wide + after.key, 0) << after.where;
  Press(box, IDOK);
  ExpectExplorerOn(Out());
  EXPECT_EQ(run_.WaitForExit(), 0);
  EXPECT_EQ(FileSize(big_file), static_cast<int64_t>(big.size()));
  ExpectNoTempLeftovers();
}

// A password typed and never used goes with the dialog: the field frees its storage
// with the window, so it is emptied first.
TEST_F(StubTest, NoCopyOfATypedPasswordOutlivesTheDialog) {
  const std::string password = MakePassword(11, 3);
  ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "a.txt"), "a"));
  Bytes container;
  ASSERT_EQ(PackFolder(Data(), password.c_str(), false, container), "");
  ASSERT_EQ(MakeProgram(container, Exe()), "");
  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);
  TypeText(dialog, IDC_PASSWORD, password);
  Press(dialog, IDCANCEL);
  ASSERT_TRUE(run_.WaitUntilGone(WindowKind::kDecrypt));
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  Copies left = FindPassword(run_, password);
  EXPECT_EQ(left.typed + left.wide + left.key, 0) << left.where;
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// A byte flipped in the middle of the container: in deflated data zlib finds it; in
// stored data the item's checksum does (610), and the message names the item. Either
// way the run is undone.
TEST_F(StubTest, DamagedContainerShowsTheEngineCode) {
  MakeSampleTree();
  for (bool stored : {false, true}) {
    SCOPED_TRACE(stored);
    Bytes container;
    ASSERT_EQ(PackFolder(Data(), kPassword, stored, container), "");
    container[container.size() / 2] ^= 0x5A;
    ASSERT_EQ(MakeProgram(container, Exe()), "");

    // The code the engine gives for exactly these bytes.
    Text damaged = dir_.Sub("damaged.qef");
    ASSERT_TRUE(WriteFileBytes(damaged, std::string(container.begin(), container.end())));
    ExtractEngine engine;
    int32_t code = ExtractContainer(engine, damaged, kPassword, dir_.Sub("scratch/"), nullptr);
    ASSERT_NE(code, kOk);
    ASSERT_NE(code, kCancelled);
    ASSERT_NE(code, kWrongPassword);
    if (stored) {
      EXPECT_EQ(code, kBadChecksum);
    }

    Start();
    HWND dialog = OpenDecryptDialog();
    ASSERT_NE(dialog, nullptr);
    char expected[256];
    std::snprintf(expected, sizeof expected, Expected().error_code, static_cast<int>(code));
    bool icon = false;
    std::string message = DecryptExpectingMessage(dialog, System(Out()), kPassword, &icon);
    EXPECT_EQ(message.rfind(expected, 0), 0u) << message;
    if (stored) {
      EXPECT_NE(message.find("\n\ndata\\docs\\report.txt"), std::string::npos) << message;
    }
    EXPECT_TRUE(icon);
    EXPECT_TRUE(run_.WaitUntilGone(WindowKind::kDecrypt));
    HWND intro = run_.WaitForWindow(WindowKind::kIntro);
    ASSERT_NE(intro, nullptr);
    EXPECT_FALSE(FolderExists(Text::Concat(Out(), "data/")));
    ExpectNoTempLeftovers();
    Press(intro, IDCANCEL);
    EXPECT_EQ(run_.WaitForExit(), 0);
  }
}

// A failure about one item names it below the code, relative to the target folder.
TEST_F(StubTest, FailureNamesTheItem) {
  MakeSampleTree();
  BuildProgram();
  ASSERT_EQ(CreateFolder(Text::Concat(Out(), "data/readme.txt/")), 0);  // in the way of the file

  Start();
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);
  char expected[256];
  std::snprintf(expected, sizeof expected, Expected().error_code, static_cast<int>(kCannotOpen));
  std::string message = DecryptExpectingMessage(dialog, System(Out()), kPassword);
  EXPECT_EQ(message.rfind(std::string(expected) + "\n\ndata\\readme.txt", 0), 0u) << message;
  EXPECT_TRUE(run_.WaitUntilGone(WindowKind::kDecrypt));
  HWND intro = run_.WaitForWindow(WindowKind::kIntro);
  ASSERT_NE(intro, nullptr);
  EXPECT_FALSE(FileExists(Text::Concat(Out(), "data/docs/report.txt")));  // the run was undone
  ExpectNoTempLeftovers();
  Press(intro, IDCANCEL);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

// Writes a file through the file layer, with a fixed modification time.
void WriteDeep(const Text& path, const std::string& bytes) {
  FileInfo info;
  info.has_written = true;
  info.written = 126887187060000000ull;  // 2003-02-03 04:05:06 UTC
  test::WriteDeep(path, bytes, info);
}

// Trees far below MAX_PATH (1000 characters deep, 60 folders, names of 255
// characters, non-ASCII names), extracted by the program whole, with its temporary
// folder itself deeper than MAX_PATH; nothing is left in that folder.
TEST_F(StubTest, DeepTreesWithADeepTemporaryFolder) {
  std::string deep = Chain(10, 99, "level");
  WriteDeep(Text::Concat(Data(), (deep + "deep.txt").c_str()), std::string(70000, 'd'));
  WriteDeep(Text::Concat(Data(), (Chain(60, 3, "d") + "sixty.txt").c_str()), "sixty");
  WriteDeep(Text::Concat(Data(), (std::string(255, 'n') + "/" + std::string(251, 'f') + ".txt").c_str()), "long");
  std::string umlauts =
      "Gr\xFC\xDF"
      "e";  // the ANSI code page here is 1252
  WriteDeep(Text::Concat(Data(), (Chain(5, 60, umlauts) + umlauts + ".txt").c_str()), "umlauts");
  Text tmp = Text::Concat(Tmp(), deep.c_str());
  ASSERT_EQ(CreateFolder(tmp), 0);
  BuildProgram();

  ASSERT_TRUE(run_.Start(Exe(), tmp, dir_.Path()));
  HWND dialog = OpenDecryptDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(DecryptExpectingMessage(dialog, System(Out()), kPassword), Expected().success);
  ExpectExplorerOn(Out());
  EXPECT_EQ(run_.WaitForExit(), 0) << "the dialogs did not close";
  Snapshot want = TakeSnapshot(Data());
  EXPECT_EQ(want.size(), 80u) << Describe(want);
  EXPECT_TRUE(TakeSnapshot(Text::Concat(Out(), "data/")) == want);
  EXPECT_EQ(Describe(TakeSnapshot(tmp)), "");
}

// The proposal in the target folder field, read as the decrypt dialog opens.
class ProposalTest : public StubTest {
 protected:
  std::string ProposalOf(const Text& exe, const Text& temp_folder) {
    EXPECT_TRUE(run_.Start(exe, temp_folder, dir_.Path()));
    HWND dialog = OpenDecryptDialog();
    if (dialog == nullptr) return "<no decrypt dialog>";
    std::string proposal = ControlText(dialog, IDC_TARGET);
    Press(dialog, IDCANCEL);
    HWND intro = run_.WaitForWindow(WindowKind::kIntro);
    if (intro != nullptr) Press(intro, IDCANCEL);
    EXPECT_EQ(run_.WaitForExit(), 0);
    return proposal;
  }
};

TEST_F(ProposalTest, FolderNamedAfterTheProgramBesideIt) {
  ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "a.txt"), "a"));
  BuildProgram();
  EXPECT_EQ(ProposalOf(Exe(), Tmp()), System(dir_.Sub("bin/setup/")));
  ASSERT_EQ(CreateFolder(dir_.Sub("bin/setup/")), 0);
  EXPECT_EQ(ProposalOf(Exe(), Tmp()), System(dir_.Sub("bin/setup (1)/")));
  ASSERT_EQ(CreateFolder(dir_.Sub("bin/setup (1)/")), 0);
  EXPECT_EQ(ProposalOf(Exe(), Tmp()), System(dir_.Sub("bin/setup (2)/")));
}

// Run from inside the temporary folder (as when opened straight out of an archive),
// the program proposes the desktop. Windows gives the temporary path in short form.
TEST_F(ProposalTest, DesktopWhenRunFromTheTemporaryFolder) {
  ASSERT_TRUE(WriteFileBytes(Text::Concat(Data(), "a.txt"), "a"));
  ASSERT_EQ(CreateFolder(dir_.Sub("tmp/sub/")), 0);
  Text exe = dir_.Sub("tmp/sub/setup.exe");
  Bytes container;
  ASSERT_EQ(PackFolder(Data(), kPassword, false, container), "");
  ASSERT_EQ(MakeProgram(container, exe), "");
  char short_tmp[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameA(System(Tmp()).c_str(), short_tmp, MAX_PATH), 0u);
  char desktop[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop), S_OK);

  std::string proposal = ProposalOf(exe, Text(short_tmp));
  Text expected = UniqueFolderName(Text::Concat(AddTrailingSeparator(ToInternalForm(Text(desktop))), "setup/"));
  EXPECT_EQ(proposal, System(expected));
  RemoveFile(exe);
}

TEST_F(StubTest, NoPayloadSaysSoAndEnds) {
  ASSERT_TRUE(CopyBareStub(Exe()));
  Start();
  HWND box = run_.WaitForWindow(WindowKind::kMessage);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageText(box), Expected().no_data);
  EXPECT_TRUE(MessageHasIcon(box));
  EXPECT_EQ(run_.WaitForWindow(WindowKind::kIntro, 0), nullptr);
  Press(box, IDOK);
  EXPECT_EQ(run_.WaitForExit(), 0);
}

}  // namespace
}  // namespace qef::test
