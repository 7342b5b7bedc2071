#pragma once
// The hyperlink control of dialog 105: one underlined line of text, blue, red while
// the pointer rests on it, that reports a click to its parent as WM_COMMAND with id
// IDC_LINK (1009), whatever its own id. Its state lives in window properties:
//   "wndtxt"  owned copy of the text (length + 1 bytes), or none
//   "font"    the underlined font it paints with
//   "hover"   1 while the pointer is over it
//   "ddd"     1 between a press of the left button on it and the release
#include <windows.h>

namespace qef {

// Registers the window class QEF_LINK_CLASS for the program's module. False when the
// system refuses it; a dialog that uses the control then cannot be created.
bool RegisterHyperlinkClass(HINSTANCE instance);

LRESULT CALLBACK HyperlinkProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace qef
