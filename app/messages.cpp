#include "app/messages.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/res/resource.h"
#include "fs/path.h"

namespace qef {

namespace {

const int kStringSize = 32000;

// The owner of the message box being opened on the dialog thread. The system places a
// box by itself; a hook on the thread sees the box before it is shown and moves it.
HWND g_box_owner = nullptr;
HHOOK g_box_hook = nullptr;

LRESULT CALLBACK BoxHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && g_box_owner != nullptr) {
    CentreOver(reinterpret_cast<HWND>(wparam), g_box_owner);
    g_box_owner = nullptr;  // the box only: the windows it may open are its own business
  }
  return CallNextHookEx(g_box_hook, code, wparam, lparam);
}

void Box(HWND owner, const Text& text, UINT flags) {
  g_box_owner = owner;
  g_box_hook = owner != nullptr ? SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId()) : nullptr;
  MessageBoxA(owner, text.Str(), LoadText(IDS_CAPTION).Str(), flags);
  if (g_box_hook != nullptr) UnhookWindowsHookEx(g_box_hook);
  g_box_hook = nullptr;
  g_box_owner = nullptr;
}

}  // namespace

Text LoadText(UINT id) {
  Text text;
  char* buffer = text.GetBuffer(kStringSize);
  if (buffer != nullptr) LoadStringA(App().instance, id, buffer, kStringSize);
  text.ReleaseBuffer();
  return text;
}

void CentreOver(HWND window, HWND over) {
  RECT frame, own;
  if (over == nullptr || !GetWindowRect(window, &frame) || !GetWindowRect(over, &own)) return;
  LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
  LONG x = own.left + (own.right - own.left - width) / 2;
  LONG y = own.top + (own.bottom - own.top - height) / 2;
  MONITORINFO monitor;
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoA(MonitorFromWindow(over, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
  }
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ErrorBox(HWND owner, const Text& text) { Box(owner, text, MB_ICONERROR); }

void PlainBox(HWND owner, const Text& text) { Box(owner, text, MB_OK); }

Text SuccessText(uint32_t other_spelling) {
  Text text = LoadText(IDS_SUCCESS);
  if (other_spelling == 0) return text;
  Text more;
  more.Format(LoadText(IDS_OTHER_SPELLING).Str(), static_cast<int>(other_spelling));
  text.Append("\n\n");
  text.Append(more);
  return text;
}

Text ErrorCodeText(int32_t code) {
  Text text;
  text.Format(LoadText(IDS_ERROR_CODE).Str(), static_cast<int>(code));
  return text;
}

Text FailureText(int32_t code, const ErrorInfo& failure) {
  Text text = ErrorCodeText(code);
  if (failure.code != code || failure.path.IsEmpty()) return text;
  text.Append("\n\n");
  text.Append(ToSystemForm(failure.path));
  if (!failure.reason.IsEmpty()) {
    text.Append(": ");
    text.Append(failure.reason);
  }
  return text;
}

void OpenAddress(const Text& address) { ShellExecuteA(nullptr, "open", address.Str(), "", "", SW_SHOWNORMAL); }

void OpenWebPage(UINT string_id) { OpenAddress(LoadText(string_id)); }

}  // namespace qef
