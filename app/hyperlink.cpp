#include "app/hyperlink.h"

#include <windowsx.h>

#include "app/res/resource.h"
#include "core/heap.h"

namespace qef {

namespace {

const char kTextProp[] = "wndtxt";
const char kFontProp[] = "font";
const char kHoverProp[] = "hover";
const char kPressedProp[] = "ddd";

// How long the pointer must rest on the link before it turns red.
const DWORD kHoverDelayMs = 1;

const char* TextOf(HWND window) { return static_cast<const char*>(GetPropA(window, kTextProp)); }

bool Flag(HWND window, const char* name) { return GetPropA(window, name) != nullptr; }

void SetFlag(HWND window, const char* name, bool on) {
  SetPropA(window, name, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(on ? 1 : 0)));
}

// Takes ownership of `copy` (a heap block, or null for no text).
void StoreText(HWND window, char* copy) {
  HeapBlockFree(const_cast<char*>(TextOf(window)));
  if (copy != nullptr && copy[0] != 0) {
    SetPropA(window, kTextProp, copy);
  } else {
    HeapBlockFree(copy);
    RemovePropA(window, kTextProp);
  }
}

// The text comes from the dialog template through the system's own copy, which
// DefWindowProc made on WM_NCCREATE.
LRESULT OnCreate(HWND window, UINT, WPARAM, LPARAM) {
  LOGFONTA logfont;
  ZeroMemory(&logfont, sizeof logfont);
  GetObjectA(GetStockObject(SYSTEM_FONT), sizeof logfont, &logfont);
  logfont.lfUnderline = TRUE;
  SetPropA(window, kFontProp, CreateFontIndirectA(&logfont));

  LRESULT length = DefWindowProcA(window, WM_GETTEXTLENGTH, 0, 0);
  char* text = length > 0 ? static_cast<char*>(HeapBlockAlloc(static_cast<size_t>(length) + 1)) : nullptr;
  if (text != nullptr) {
    ZeroMemory(text, static_cast<size_t>(length) + 1);
    DefWindowProcA(window, WM_GETTEXT, static_cast<WPARAM>(length) + 1, reinterpret_cast<LPARAM>(text));
  }
  StoreText(window, text);
  SetFlag(window, kHoverProp, false);
  return 0;
}

// A link may hold '&' (query strings do): it is drawn as it is, never as a mnemonic.
LRESULT OnPaint(HWND window, UINT, WPARAM, LPARAM) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  const char* text = TextOf(window);
  if (dc != nullptr && text != nullptr) {
    SetTextColor(dc, Flag(window, kHoverProp) ? RGB(255, 0, 0) : RGB(0, 0, 255));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ font = GetPropA(window, kFontProp);
    HGDIOBJ old_font = font != nullptr ? SelectObject(dc, font) : nullptr;
    RECT client;
    GetClientRect(window, &client);
    DrawTextA(dc, text, -1, &client, DT_VCENTER | DT_NOPREFIX);
    if (old_font != nullptr) SelectObject(dc, old_font);
  }
  EndPaint(window, &paint);
  return 0;
}

// The system sends hover and leave messages only to a window that asks for them.
LRESULT OnMouseMove(HWND window, UINT, WPARAM, LPARAM) {
  if (!Flag(window, kHoverProp)) {
    TRACKMOUSEEVENT track = {sizeof track, TME_HOVER | TME_LEAVE, window, kHoverDelayMs};
    TrackMouseEvent(&track);
  }
  return 0;
}

LRESULT OnHoverOn(HWND window, UINT, WPARAM, LPARAM) {
  SetFlag(window, kHoverProp, true);
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

LRESULT OnHoverOff(HWND window, UINT, WPARAM, LPARAM) {
  SetFlag(window, kHoverProp, false);
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

// The control holds the mouse from the press to the release, so that it sees the
// release wherever it happens.
LRESULT OnPress(HWND window, UINT, WPARAM, LPARAM) {
  SetFlag(window, kPressedProp, true);
  SetCapture(window);
  return 0;
}

// A click is a press and a release both on the control: a drag that starts elsewhere
// or ends elsewhere opens nothing.
LRESULT OnRelease(HWND window, UINT, WPARAM, LPARAM lparam) {
  if (!Flag(window, kPressedProp)) return 0;
  SetFlag(window, kPressedProp, false);
  if (GetCapture() == window) ReleaseCapture();
  POINT point = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  RECT client;
  GetClientRect(window, &client);
  if (PtInRect(&client, point)) SendMessageA(GetParent(window), WM_COMMAND, IDC_LINK, reinterpret_cast<LPARAM>(window));
  return 0;
}

LRESULT Ignore(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Another window took the mouse between press and release: that press is void.
LRESULT OnCaptureChanged(HWND window, UINT, WPARAM, LPARAM lparam) {
  if (reinterpret_cast<HWND>(lparam) != window) SetFlag(window, kPressedProp, false);
  return 0;
}

LRESULT OnDestroy(HWND window, UINT, WPARAM, LPARAM) {
  HGDIOBJ font = GetPropA(window, kFontProp);
  if (font != nullptr) DeleteObject(font);
  StoreText(window, nullptr);
  RemovePropA(window, kFontProp);
  RemovePropA(window, kHoverProp);
  RemovePropA(window, kPressedProp);
  return 0;
}

// The system's copy is kept in step too, so that WM_GETTEXTLENGTH and readers that
// do not send WM_GETTEXT see the same text.
LRESULT OnSetText(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const char* text = reinterpret_cast<const char*>(lparam);
  StoreText(window, text != nullptr && text[0] != 0 ? HeapCopyText(text) : nullptr);
  DefWindowProcA(window, message, wparam, lparam);
  InvalidateRect(window, nullptr, TRUE);
  return TRUE;
}

// Copies at most limit - 1 characters and a zero; the answer is the length copied.
LRESULT OnGetText(HWND window, UINT, WPARAM limit, LPARAM lparam) {
  char* buffer = reinterpret_cast<char*>(lparam);
  if (buffer == nullptr || limit == 0) return 0;
  const char* text = TextOf(window);
  if (text == nullptr) {
    buffer[0] = 0;
    return 0;
  }
  int size = limit > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(limit);
  if (lstrcpynA(buffer, text, size) == nullptr) return 0;
  return lstrlenA(buffer);
}

using Handler = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct Entry {
  UINT message;
  Handler handler;
};

// Searched in order; a message not listed goes to DefWindowProcA (WM_ERASEBKGND
// paints the class brush, the button face).
const Entry kMessageTable[] = {
    {WM_CREATE, OnCreate},      {WM_PAINT, OnPaint},
    {WM_MOUSEHOVER, OnHoverOn}, {WM_MOUSELEAVE, OnHoverOff},
    {WM_LBUTTONDOWN, OnPress},  {WM_LBUTTONUP, OnRelease},
    {WM_SETFONT, Ignore},  // the control keeps its own font
    {WM_DESTROY, OnDestroy},    {WM_CAPTURECHANGED, OnCaptureChanged},
    {WM_SETFOCUS, Ignore},  // it takes no focus
    {WM_KILLFOCUS, Ignore},     {WM_SETTEXT, OnSetText},
    {WM_GETTEXT, OnGetText},    {WM_MOUSEMOVE, OnMouseMove},
};

}  // namespace

LRESULT CALLBACK HyperlinkProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  for (const Entry& entry : kMessageTable)
    if (entry.message == message && entry.handler != nullptr) return entry.handler(window, message, wparam, lparam);
  return DefWindowProcA(window, message, wparam, lparam);
}

bool RegisterHyperlinkClass(HINSTANCE instance) {
  WNDCLASSEXA window_class;
  ZeroMemory(&window_class, sizeof window_class);
  window_class.cbSize = sizeof window_class;
  // A double click's second press comes as WM_LBUTTONDBLCLK, which is no click: the
  // link opens once.
  window_class.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  window_class.lpfnWndProc = HyperlinkProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(instance, MAKEINTRESOURCEA(IDC_LINK_CURSOR));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = QEF_LINK_CLASS;
  return RegisterClassExA(&window_class) != 0;
}

}  // namespace qef
