#include "app/disclaimer_dialog.h"

#include "app/dialog_support.h"
#include "app/messages.h"
#include "app/res/resource.h"

namespace qef {

namespace {

// Enables Accept once the field's view has reached the end of the text. Accept is
// never disabled again. The view is measured in lines, the units of the field's
// scroll range, from the field itself: its scroll bar's position lags behind while
// the thumb is dragged, and may still be where a new text left it.
void CheckScrolled(DisclaimerDialog& dialog) {
  HWND field = GetDlgItem(dialog.window, IDC_DISCLAIMER);
  HWND accept = GetDlgItem(dialog.window, IDOK);
  if (!dialog.watching || dialog.checking || field == nullptr || accept == nullptr || IsWindowEnabled(accept)) return;
  dialog.checking = true;  // the questions below are messages to the watched field
  int first_line = static_cast<int>(SendMessageA(field, EM_GETFIRSTVISIBLELINE, 0, 0));
  int last_line = static_cast<int>(SendMessageA(field, EM_GETLINECOUNT, 0, 0)) - 1;
  SCROLLINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SIF_PAGE;
  if (!GetScrollInfo(field, SB_VERT, &info)) info.nPage = 0;
  if (IsScrolledToEnd(first_line, last_line, static_cast<int>(info.nPage))) EnableWindow(accept, TRUE);
  dialog.checking = false;
}

// The disclaimer field's procedure while Accept is disabled. The field moves its view
// on its own for the scroll bar, the wheel, the keyboard and selecting with the mouse,
// and tells its parent only about some of these (and before it has moved), so the
// dialog checks after every message the field has handled.
LRESULT CALLBACK ScrollWatchProc(HWND field, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND window = GetParent(field);
  DisclaimerDialog* dialog = DialogState<DisclaimerDialog>(window);
  if (dialog == nullptr || dialog->edit_proc == nullptr) return DefWindowProcA(field, message, wparam, lparam);
  WNDPROC edit_proc = dialog->edit_proc;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(edit_proc));
    dialog->edit_proc = nullptr;
    return CallWindowProcA(edit_proc, field, message, wparam, lparam);
  }
  LRESULT result = CallWindowProcA(edit_proc, field, message, wparam, lparam);
  // The dialog manager selects the whole text of a field that Tab brings the focus
  // to, which scrolls it to its end: coming back to the field is not reading it.
  if (message == WM_GETDLGCODE) result &= ~static_cast<LRESULT>(DLGC_HASSETSEL);
  if (message != WM_DESTROY && !IsWindowEnabled(GetDlgItem(window, IDOK)))
    SendMessageA(window, kScrollCheckMessage, 0, 0);
  return result;
}

void OnInitDialog(DisclaimerDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  SetProgramIcon(window, app.instance);
  EnableWindow(GetDlgItem(window, IDOK), FALSE);
  HWND field = GetDlgItem(window, IDC_DISCLAIMER);
  if (field != nullptr) {
    SetLongText(field, app.payload.disclaimer);
    // Shown from its top with nothing selected (the dialog manager would select it
    // all); a new text may leave the field's scroll bar at its end.
    SendMessageA(field, EM_SETSEL, 0, 0);
    SendMessageA(field, WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
    dialog.edit_proc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ScrollWatchProc)));
    SetFocus(field);
  }
  // Checked only from here: the field scrolls (and says so) while the text goes in.
  dialog.watching = true;
  CheckScrolled(dialog);
}

}  // namespace

INT_PTR ShowDisclaimerDialog(AppState& app) {
  DisclaimerDialog dialog;
  dialog.app = &app;
  return RunDialog(app.instance, IDD_DISCLAIMER, nullptr, DisclaimerDialogProc, &dialog);
}

INT_PTR CALLBACK DisclaimerDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    OnInitDialog(*BindDialogState<DisclaimerDialog>(window, lparam));
    return FALSE;  // the focus was put on the text
  }
  DisclaimerDialog* dialog = DialogState<DisclaimerDialog>(window);
  if (dialog == nullptr) return FALSE;
  switch (message) {
    case kScrollCheckMessage: CheckScrolled(*dialog); return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_DISCLAIMER) {
        if (HIWORD(wparam) == EN_VSCROLL) CheckScrolled(*dialog);
        return FALSE;
      }
      if (HIWORD(wparam) != 0) return FALSE;
      switch (LOWORD(wparam)) {
        // Enter or a stray command must not accept a disclaimer that was not read.
        case IDOK:
          if (IsWindowEnabled(GetDlgItem(window, IDOK))) EndDialog(window, 1);
          return TRUE;
        case IDCANCEL: EndDialog(window, 0); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

}  // namespace qef
