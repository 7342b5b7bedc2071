#include "tests/e2e/stub_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/res/resource.h"
#include "container/writer.h"
#include "core/hold.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef::test {

namespace {

// Message boxes keep their text in a static of this id, and their icon in another.
const int kMessageTextId = 0xFFFF;
const int kMessageIconId = 0x0440;
const UINT kMessageTimeoutMs = 5000;

std::string System(const Text& path) { return ToSystemForm(path).Str(); }

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The stub as built, given by CMake as a Unix path; Wine shows the Unix root as Z:.
std::string StubPath() {
  std::string path = QEF_STUB_PATH;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool IsClass(HWND window, const char* name) {
  char buffer[64] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return lstrcmpiA(buffer, name) == 0;
}

// The shell's folder browser is the one dialog of the program with a tree of folders.
bool HasTree(HWND window) { return FindWindowExA(window, nullptr, "SysTreeView32", nullptr) != nullptr; }

bool IsKind(HWND window, WindowKind kind) {
  if (!IsClass(window, "#32770") || !IsWindowVisible(window)) return false;
  switch (kind) {
    case WindowKind::kDisclaimer: return GetDlgItem(window, IDC_DISCLAIMER) != nullptr;
    case WindowKind::kIntro: return GetDlgItem(window, IDC_DECRYPT_NOW) != nullptr;
    case WindowKind::kDecrypt: return GetDlgItem(window, IDC_TARGET) != nullptr;
    case WindowKind::kMessage: return GetDlgItem(window, kMessageTextId) != nullptr && !HasTree(window);
    case WindowKind::kFolderBrowser: return HasTree(window);
  }
  return false;
}

struct WindowSearch {
  DWORD pid = 0;
  WindowKind kind = WindowKind::kIntro;
  HWND found = nullptr;
};

BOOL CALLBACK FindKind(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && IsKind(window, search->kind)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowOf(DWORD pid, WindowKind kind) {
  WindowSearch search;
  search.pid = pid;
  search.kind = kind;
  EnumWindows(FindKind, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct ForeignSearch {
  std::string title_part;
  DWORD except_pid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK FindForeign(HWND window, LPARAM param) {
  ForeignSearch* search = reinterpret_cast<ForeignSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->except_pid || pid == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (WindowText(window).find(search->title_part) != std::string::npos) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The current environment with TMP and TEMP replaced, as a block for CreateProcess.
std::string EnvironmentWithTemp(const std::string& temp) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* p = strings; *p != 0; p += lstrlenA(p) + 1) {
    if (_strnicmp(p, "TMP=", 4) == 0 || _strnicmp(p, "TEMP=", 5) == 0) continue;
    block += p;
    block += '\0';
  }
  FreeEnvironmentStringsA(strings);
  block += "TMP=" + temp + '\0';
  block += "TEMP=" + temp + '\0';
  block += '\0';
  return block;
}

std::string WriteProgram(const Bytes& block, const Text& exe) {
  Bytes image = ReadBytes(StubPath());
  if (image.empty()) return "cannot read the stub at " + StubPath();
  Text message;
  if (AppendPayloadSection(image, block, message) != 0) return std::string("AppendPayloadSection: ") + message.Str();
  return WriteBytes(System(exe), image) ? "" : "cannot write " + System(exe);
}

}  // namespace

std::string PackFolder(const Text& source, const char* password, bool stored, Bytes& container) {
  return PackSources({source}, password, stored, container);
}

std::string PackSources(const std::vector<Text>& sources, const char* password, bool stored, Bytes& container) {
  PropertyList content;
  int32_t r = CollectSources(sources, content, nullptr, nullptr);
  if (r != 0) return "CollectSources: " + std::to_string(r);
  Text file = Text::Concat(FolderOf(StripTrailingSeparator(sources.front())), "container.qef");
  PackOptions options;
  if (stored) options.compression = 0;
  r = WriteContainer(file, password, content, options);
  if (r != 0) return "WriteContainer: " + std::to_string(r);
  container = ReadBytes(System(file));
  RemoveFile(file);
  return container.empty() ? "no container written" : "";
}

std::string MakeProgram(const Bytes& container, const Text& exe, bool short_header) {
  if (!short_header) return MakeProgram(container, exe, AuthorParts());
  Bytes block(8, 0);
  block[0] = 8;
  uint32_t n = static_cast<uint32_t>(container.size());
  for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<unsigned char>(n >> (8 * i));
  block.insert(block.end(), container.begin(), container.end());
  return WriteProgram(block, exe);
}

std::string MakeProgram(const Bytes& container, const Text& exe, const AuthorParts& parts) {
  PayloadContent payload;
  payload.container = container;
  payload.picture = parts.picture;
  payload.info.assign(parts.info.begin(), parts.info.end());
  payload.link.assign(parts.link.begin(), parts.link.end());
  payload.disclaimer.assign(parts.disclaimer.begin(), parts.disclaimer.end());
  return WriteProgram(BuildPayloadBlock(payload), exe);
}

void UseUnmanagedWindows() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
}

bool CopyBareStub(const Text& exe) { return CopyFileA(StubPath().c_str(), System(exe).c_str(), FALSE) != 0; }

StubRun::~StubRun() {
  if (process_.hProcess == nullptr) return;
  if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool StubRun::Start(const Text& exe, const Text& temp_folder, const Text& current) {
  std::string program = System(exe);
  std::string command = "\"" + program + "\"";
  std::string environment = EnvironmentWithTemp(System(temp_folder));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  start_tick_ = GetTickCount();
  return CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, &environment[0],
                        System(current).c_str(), &startup, &process_) != 0;
}

HWND StubRun::WaitForWindow(WindowKind kind, DWORD limit_ms) {
  HWND found = nullptr;
  PollUntil([&] { return (found = FindWindowOf(process_.dwProcessId, kind)) != nullptr; }, limit_ms);
  return found;
}

bool StubRun::WaitUntilGone(WindowKind kind, DWORD limit_ms) {
  return PollUntil([&] { return FindWindowOf(process_.dwProcessId, kind) == nullptr; }, limit_ms);
}

long StubRun::WaitForExit(DWORD limit_ms) {
  if (process_.hProcess == nullptr || WaitForSingleObject(process_.hProcess, limit_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<long>(code);
}

RecipientReport RunAsRecipient(const Text& exe, const Text& temp_folder, const Text& target,
                               const std::string& password, const char* screenshot_tag) {
  RecipientReport report;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  auto seconds_since = [&](const LARGE_INTEGER& from) {
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
  };
  auto screenshot = [&](HWND window, const char* name) {
    if (screenshot_tag == nullptr) return;
    LARGE_INTEGER shot_start;
    QueryPerformanceCounter(&shot_start);
    Screenshot(window, std::string(screenshot_tag) + "_" + name);
    report.screenshot_s += seconds_since(shot_start);
  };

  StubRun run;
  QueryPerformanceCounter(&start);
  if (!run.Start(exe, temp_folder, FolderOf(exe))) {
    report.failure = "the program could not be started";
    return report;
  }
  HWND disclaimer = nullptr, intro = nullptr;
  PollUntil(
      [&] {
        disclaimer = FindWindowOf(run.ProcessId(), WindowKind::kDisclaimer);
        intro = FindWindowOf(run.ProcessId(), WindowKind::kIntro);
        return disclaimer != nullptr || intro != nullptr;
      },
      60000);
  report.first_dialog_s = seconds_since(start);
  if (disclaimer != nullptr) {
    report.disclaimer = true;
    screenshot(disclaimer, "dialog111");
    PostMessageA(GetDlgItem(disclaimer, IDC_DISCLAIMER), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    if (!PollUntil([&] { return IsControlEnabled(disclaimer, IDOK); }, 10000)) {
      report.failure = "Accept stayed disabled at the end of the disclaimer";
      return report;
    }
    Press(disclaimer, IDOK);
    intro = run.WaitForWindow(WindowKind::kIntro, 60000);
  }
  if (intro == nullptr) {
    report.failure = "no intro dialog";
    return report;
  }
  report.intro_dialog = GetDlgItem(intro, IDC_INFO) != nullptr ? IDD_INTRO_BLOCK : IDD_INTRO;
  screenshot(intro, report.intro_dialog == IDD_INTRO_BLOCK ? "dialog105" : "dialog101");

  Press(intro, IDC_DECRYPT_NOW);
  HWND dialog = run.WaitForWindow(WindowKind::kDecrypt, 60000);
  if (dialog == nullptr) {
    report.failure = "no decrypt dialog";
    return report;
  }
  SetControlText(dialog, IDC_TARGET, System(target));
  SetControlText(dialog, IDC_PASSWORD, password);
  LARGE_INTEGER decrypt_start;
  QueryPerformanceCounter(&decrypt_start);
  Press(dialog, IDC_DECRYPT);
  HWND box = run.WaitForWindow(WindowKind::kMessage, 3600000);
  report.decrypt_s = seconds_since(decrypt_start);
  if (box == nullptr) {
    report.failure = "no message after Decrypt";
    return report;
  }
  report.message = MessageText(box);
  Press(box, IDOK);
  if (run.WaitForExit(20000) != 0) {
    report.failure = "the program did not end after its message: " + report.message;
    return report;
  }
  report.total_s = seconds_since(start);
  return report;
}

RunHold::RunHold(const char* point) { SetEnvironmentVariableA(kHoldVariable, point); }

RunHold::~RunHold() {
  Release();
  SetEnvironmentVariableA(kHoldVariable, nullptr);
  if (reached_ != nullptr) CloseHandle(reached_);
  if (go_ != nullptr) CloseHandle(go_);
}

bool RunHold::WaitHeld(DWORD pid, DWORD limit_ms) {
  // The program started has its own copy of the variable; later ones are not held.
  SetEnvironmentVariableA(kHoldVariable, nullptr);
  char name[64];
  std::snprintf(name, sizeof name, "Local\\qef-hold-%lu-reached", static_cast<unsigned long>(pid));
  if (reached_ == nullptr) reached_ = CreateEventA(nullptr, TRUE, FALSE, name);
  std::snprintf(name, sizeof name, "Local\\qef-hold-%lu-go", static_cast<unsigned long>(pid));
  if (go_ == nullptr) go_ = CreateEventA(nullptr, TRUE, FALSE, name);
  return reached_ != nullptr && go_ != nullptr && WaitForSingleObject(reached_, limit_ms) == WAIT_OBJECT_0;
}

void RunHold::Release() {
  if (go_ != nullptr) SetEvent(go_);
}

ThreadPause::ThreadPause(DWORD pid, DWORD running_thread) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != pid || entry.th32ThreadID == running_thread) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
      CloseHandle(thread);
      continue;
    }
    threads_.push_back(thread);
  }
  CloseHandle(snapshot);
}

ThreadPause::~ThreadPause() {
  for (HANDLE thread : threads_) {
    ResumeThread(thread);
    CloseHandle(thread);
  }
}

namespace {

bool IsReadable(const MEMORY_BASIC_INFORMATION& region) {
  const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                         PAGE_EXECUTE_WRITECOPY;
  return region.State == MEM_COMMIT && (region.Protect & readable) != 0 &&
         (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

}  // namespace

std::vector<MemoryHit> FindInProcess(HANDLE process, const std::vector<Bytes>& needles) {
  std::vector<MemoryHit> hits;
  size_t longest = 1;
  bool first_byte[256] = {};
  for (const Bytes& needle : needles) {
    if (needle.size() > longest) longest = needle.size();
    if (!needle.empty()) first_byte[needle[0]] = true;
  }
  // Pieces overlap by the longest string less one byte, so that a copy across the
  // boundary of two pieces is found; where they overlap, only a copy that starts in
  // the first piece counts.
  const size_t kStep = 1 << 20;
  std::vector<unsigned char> buffer(kStep + longest - 1);
  MEMORY_BASIC_INFORMATION region;
  uintptr_t at = 0;
  while (VirtualQueryEx(process, reinterpret_cast<void*>(at), &region, sizeof region) == sizeof region) {
    uintptr_t base = reinterpret_cast<uintptr_t>(region.BaseAddress);
    uintptr_t end = base + region.RegionSize;
    if (end <= at) break;  // the top of the address space
    for (uintptr_t from = base; IsReadable(region) && from < end; from += kStep) {
      size_t length = static_cast<size_t>(end - from < buffer.size() ? end - from : buffer.size());
      SIZE_T got = 0;
      if (!ReadProcessMemory(process, reinterpret_cast<void*>(from), buffer.data(), length, &got)) got = 0;
      for (size_t i = 0; i < got && i < kStep; ++i) {
        if (!first_byte[buffer[i]]) continue;
        for (size_t k = 0; k < needles.size(); ++k) {
          const Bytes& needle = needles[k];
          if (!needle.empty() && i + needle.size() <= got && std::memcmp(&buffer[i], needle.data(), needle.size()) == 0)
            hits.push_back({k, from + i, region});
        }
      }
    }
    at = end;
  }
  return hits;
}

std::string WindowText(HWND window) {
  char buffer[4096] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      kMessageTimeoutMs, &result);
  return buffer;
}

std::string ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void SetControlText(HWND dialog, int id, const std::string& text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                      kMessageTimeoutMs, &result);
}

void TypeText(HWND dialog, int id, const std::string& text) {
  HWND control = GetDlgItem(dialog, id);
  for (char c : text) PostMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
}

int ControlTextLength(HWND dialog, int id) {
  DWORD_PTR length = 0;
  SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length);
  return static_cast<int>(length);
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool IsControlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

bool IsControlVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != 0; }

std::string MessageText(HWND box) { return ControlText(box, kMessageTextId); }

bool MessageHasIcon(HWND box) {
  DWORD_PTR icon = 0;
  SendMessageTimeoutA(GetDlgItem(box, kMessageIconId), STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon);
  return icon != 0;
}

void ClickAt(HWND control, int x, int y) {
  PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

namespace {

// Another program's window (an Explorer window closing) may still cover the point:
// the window's own top-level window comes to the top first.
void BringUnderPointer(HWND window, POINT at) {
  HWND root = GetAncestor(window, GA_ROOT);
  PollUntil(
      [&] {
        if (GetAncestor(WindowFromPoint(at), GA_ROOT) == root) return true;
        SetWindowPos(root, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return false;
      },
      5000);
}

void SendMouse(DWORD flags) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

}  // namespace

void MouseClick(HWND window, POINT client_point, int clicks) {
  POINT at = client_point;
  ClientToScreen(window, &at);
  BringUnderPointer(window, at);
  SetCursorPos(at.x, at.y);
  Sleep(50);  // the move is seen before the press
  for (int i = 0; i < clicks; ++i) {
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
  }
}

void ClickControl(HWND dialog, int id, int clicks) {
  HWND control = GetDlgItem(dialog, id);
  RECT r = {};
  GetClientRect(control, &r);
  MouseClick(control, POINT{r.right / 2, r.bottom / 2}, clicks);
}

bool ClickCloseBox(HWND window) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  // The close box is at the right end of the title bar: looked for from the top right
  // corner by asking the window what each point is.
  for (LONG y = r.top + 1; y < r.top + 60 && y < r.bottom; y += 2) {
    for (LONG x = r.right - 2; x > r.right - 80 && x > r.left; x -= 2) {
      DWORD_PTR hit = 0;
      SendMessageTimeoutA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, kMessageTimeoutMs, &hit);
      if (hit == HTCLOSE) {
        BringUnderPointer(window, POINT{x, y});
        SetCursorPos(x, y);
        Sleep(50);
        SendMouse(MOUSEEVENTF_LEFTDOWN);
        SendMouse(MOUSEEVENTF_LEFTUP);
        return true;
      }
    }
  }
  return false;
}

void PressKey(HWND window, UINT key) {
  // A message box that has just gone may still hold the focus for a moment.
  HWND target = nullptr;
  PollUntil(
      [&] {
        HWND focus = FocusOf(window);
        if (focus != window && !IsChild(window, focus)) return false;
        target = focus;
        return true;
      },
      5000);
  if (target == nullptr) target = window;
  UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
  PostMessageA(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageA(target, WM_KEYUP, key, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

int FocusedId(HWND dialog) {
  HWND focus = FocusOf(dialog);
  return focus != nullptr && GetParent(focus) == dialog ? GetDlgCtrlID(focus) : 0;
}

int ProgressPosition(HWND dialog, int id) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutA(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &position))
    return -1;
  return static_cast<int>(position);
}

POINT CentreOf(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

ThreadHold::ThreadHold(DWORD thread_id) {
  thread_ = OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread_id);
  if (thread_ != nullptr && SuspendThread(thread_) == static_cast<DWORD>(-1)) {
    CloseHandle(thread_);
    thread_ = nullptr;
  }
}

ThreadHold::~ThreadHold() {
  if (thread_ == nullptr) return;
  ResumeThread(thread_);
  CloseHandle(thread_);
}

bool ShownPictureBox(HWND control, RECT& box, SIZE& inside) {
  RECT client;
  POINT origin = {0, 0};
  if (!GetClientRect(control, &client) || !ClientToScreen(control, &origin)) return false;
  inside = SIZE{client.right, client.bottom};
  if (inside.cx <= 0 || inside.cy <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = inside.cx;
  info.bmiHeader.biHeight = -inside.cy;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = copy != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, copy);
    ok = BitBlt(memory, 0, 0, inside.cx, inside.cy, screen, origin.x, origin.y, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  box = RECT{inside.cx, inside.cy, 0, 0};
  if (ok) {
    const DWORD* pixel = static_cast<const DWORD*>(bits);
    DWORD background = pixel[0] & 0xFFFFFF;
    for (LONG y = 0; y < inside.cy; ++y)
      for (LONG x = 0; x < inside.cx; ++x)
        if ((pixel[y * inside.cx + x] & 0xFFFFFF) != background) {
          if (x < box.left) box.left = x;
          if (y < box.top) box.top = y;
          if (x + 1 > box.right) box.right = x + 1;
          if (y + 1 > box.bottom) box.bottom = y + 1;
        }
  }
  if (copy != nullptr) DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok && box.right > box.left;
}

HWND WaitForForeignWindow(const std::string& title_part, DWORD except_pid, DWORD limit_ms) {
  ForeignSearch search;
  search.title_part = title_part;
  search.except_pid = except_pid;
  PollUntil(
      [&] {
        EnumWindows(FindForeign, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      limit_ms);
  return search.found;
}

bool Screenshot(HWND window, const std::string& name) {
  // Everything painted and on the X server before the picture is taken: the paint
  // messages are sent now, and the server gets a moment to draw what Wine sent it.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &result);
  Sleep(200);

  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const LONG margin = 8;
  LONG left = r.left > margin ? r.left - margin : 0;
  LONG top = r.top > margin ? r.top - margin : 0;
  std::string geometry = std::to_string(r.right + margin - left) + "x" + std::to_string(r.bottom + margin - top) + "+" +
                         std::to_string(left) + "+" + std::to_string(top);
  const char* chosen = std::getenv("QEF_SCREENSHOT_DIR");
  std::string folder = chosen != nullptr && chosen[0] != 0 ? chosen : QEF_SCREENSHOT_DIR;
  CreateDirectoryA(("Z:" + folder).c_str(), nullptr);
  std::string file = folder + "/" + name + ".png";
  DeleteFileA(("Z:" + file).c_str());
  // Wine starts a Unix program like a Windows one but gives no handle to wait on, so
  // the picture is written under another name and renamed when complete.
  std::string command = "/bin/sh -c \"/usr/bin/import -window root -crop " + geometry + " +repage " + file +
                        ".part.png && mv " + file + ".part.png " + file + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return PollUntil([&] { return GetFileAttributesA(("Z:" + file).c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000);
}

std::vector<std::string> FilesMatching(const Text& folder, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE h = FindFirstFileA((System(folder) + pattern).c_str(), &entry);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(entry.cFileName);
  } while (FindNextFileA(h, &entry));
  FindClose(h);
  return names;
}

}  // namespace qef::test
