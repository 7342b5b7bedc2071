#pragma once
// The disclaimer dialog (111): the payload block's disclaimer in a read-only field,
// Accept and Do not accept. Accept stays disabled until the text has been scrolled
// to its end, however it is scrolled: the scroll bar, the wheel, the keyboard.
#include <windows.h>

#include "app/app_state.h"

namespace qef {

// Sent by the disclaimer field to the dialog after anything that may have moved its view.
const UINT kScrollCheckMessage = WM_USER + 666;

struct DisclaimerDialog {
  AppState* app = nullptr;
  HWND window = nullptr;
  WNDPROC edit_proc = nullptr;  // the disclaimer field's own procedure, under the scroll watch
  bool watching = false;        // set once the text is in and shown from its top
  bool checking = false;        // a check is asking the field
};

// True when a view at `pos` of a scroll range ending at `max`, showing `page` units,
// counts as read to the end: within 15 units of the range's end, or at the last
// position the view can reach at all (which a tall view reaches first).
inline bool IsScrolledToEnd(int pos, int max, int page) {
  return pos >= max - 15 || (page > 0 && pos >= max - page + 1);
}

// Shows the dialog modally without an owner: 1 when the disclaimer was accepted,
// otherwise 0.
INT_PTR ShowDisclaimerDialog(AppState& app);

INT_PTR CALLBACK DisclaimerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace qef
