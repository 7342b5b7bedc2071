#include "app/intro_dialog.h"

#include "app/decrypt_dialog.h"
#include "app/messages.h"
#include "app/res/resource.h"

namespace qef {

namespace {

// Set on the intro dialog by a successful run, so that it closes behind the decrypt dialog.
const char kKillMe[] = "killme";

void OnInitDialog(IntroDialog& dialog) {
  AppState& app = *dialog.app;
  SetClassLongPtrA(dialog.window, GCLP_HICON,
                   reinterpret_cast<LONG_PTR>(LoadIconA(app.instance, MAKEINTRESOURCEA(IDI_PROGRAM))));
}

// Answers false for a command the dialog does not handle.
bool OnCommand(IntroDialog& dialog, int id) {
  AppState& app = *dialog.app;
  switch (id) {
    case IDC_DOWNLOAD: OpenWebPage(IDS_URL_SUITE); break;
    case IDC_ORDER: OpenWebPage(IDS_URL_SUITE_SHOP); break;
    case IDC_PRODUCT: OpenWebPage(IDS_URL_PRODUCT); break;
    case IDC_LINK: OpenAddress(app.payload.link); break;
    case IDC_DECRYPT_NOW:
      ShowDecryptDialog(app, dialog.window);
      if (GetPropA(dialog.window, kKillMe) != nullptr) EndDialog(dialog.window, 0);
      break;
    case IDCANCEL: EndDialog(dialog.window, 0); break;
    default: return false;
  }
  return true;
}

}  // namespace

INT_PTR ShowIntroDialog(AppState& app) {
  IntroDialog dialog;
  dialog.app = &app;
  return DialogBoxParamA(app.instance, MAKEINTRESOURCEA(app.intro_dialog), nullptr, IntroDialogProc,
                         reinterpret_cast<LPARAM>(&dialog));
}

INT_PTR CALLBACK IntroDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    IntroDialog* dialog = reinterpret_cast<IntroDialog*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    dialog->window = window;
    OnInitDialog(*dialog);
    return TRUE;
  }
  IntroDialog* dialog = reinterpret_cast<IntroDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) != 0) return FALSE;
      return OnCommand(*dialog, LOWORD(wparam)) ? TRUE : FALSE;
    case WM_DESTROY:
      RemovePropA(window, kKillMe);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace qef
