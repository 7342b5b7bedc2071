#include "app/intro_dialog.h"

#include "app/decrypt_dialog.h"
#include "app/dialog_support.h"
#include "app/messages.h"
#include "app/picture.h"
#include "app/res/resource.h"

namespace qef {

namespace {

// Set on the intro dialog by a successful run, so that it closes behind the decrypt dialog.
const char kKillMe[] = "killme";

SIZE ClientSize(HWND control) {
  RECT r = {0, 0, 0, 0};
  if (control != nullptr) GetClientRect(control, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// The largest picture that shows whole: the frame's inside, and no more than the
// picture control's inside, which its sunken border makes a little smaller.
SIZE PictureLimit(HWND window) {
  SIZE frame = ClientSize(GetDlgItem(window, IDC_PICTURE_FRAME));
  SIZE control = ClientSize(GetDlgItem(window, IDC_PICTURE));
  return SIZE{frame.cx < control.cx ? frame.cx : control.cx, frame.cy < control.cy ? frame.cy : control.cy};
}

// Dialog 105: the payload block's picture, info text and link.
void ShowBlockContent(IntroDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  if (app.picture != nullptr) DeleteObject(app.picture);
  app.picture = LoadPicture(app.payload.picture, app.payload.picture_length, PictureLimit(window));
  ShowWindow(GetDlgItem(window, IDC_PICTURE_FRAME), SW_HIDE);
  HWND link = GetDlgItem(window, IDC_LINK);
  if (link != nullptr) {
    if (app.payload.link.IsEmpty())
      ShowWindow(link, SW_HIDE);
    else
      SetWindowTextA(link, app.payload.link.Str());
  }
  SetLongText(GetDlgItem(window, IDC_INFO), app.payload.info);
  HGDIOBJ old = reinterpret_cast<HGDIOBJ>(
      SendDlgItemMessageA(window, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(app.picture)));
  if (old != nullptr && old != app.picture) DeleteObject(old);
}

void OnInitDialog(IntroDialog& dialog) {
  AppState& app = *dialog.app;
  SetProgramIcon(dialog.window, app.instance);
  if (app.block_present) ShowBlockContent(dialog);
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
  return RunDialog(app.instance, app.intro_dialog, nullptr, IntroDialogProc, &dialog);
}

INT_PTR CALLBACK IntroDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    OnInitDialog(*BindDialogState<IntroDialog>(window, lparam));
    return TRUE;
  }
  IntroDialog* dialog = DialogState<IntroDialog>(window);
  if (dialog == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) != 0) return FALSE;
      return OnCommand(*dialog, LOWORD(wparam)) ? TRUE : FALSE;
    case WM_DESTROY: RemovePropA(window, kKillMe); return FALSE;
    default: return FALSE;
  }
}

}  // namespace qef
