#include "app/decrypt_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include "app/job.h"
#include "app/messages.h"
#include "app/res/resource.h"
#include "app/target_folder.h"
#include "app/temp_files.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const UINT_PTR kPollTimer = 1;
const UINT kPollPeriodMs = 100;

// The controls that are locked while a run is going on; Cancel is never among them.
const int kRunControls[] = {IDC_DECRYPT, IDC_BROWSE, IDC_TARGET, IDC_PASSWORD};

void EnableRunControls(HWND window, BOOL enable) {
  for (int id : kRunControls) EnableWindow(GetDlgItem(window, id), enable);
}

void ShowProgressBar(HWND window, bool show) {
  ShowWindow(GetDlgItem(window, IDC_PROGRESS), show ? SW_SHOWNORMAL : SW_HIDE);
}

char* NewPasswordBuffer() {
  char* buffer = static_cast<char*>(HeapBlockAlloc(kPasswordBufferSize));
  if (buffer != nullptr) ZeroMemory(buffer, kPasswordBufferSize);
  return buffer;
}

void FreePasswordBuffer(char* buffer) {
  SecureWipe(buffer, kPasswordBufferSize);
  HeapBlockFree(buffer);
}

// Empties the password field: when a run takes the password, and when the dialog
// goes, since the control frees its storage with the window. The edit control does
// not wipe the storage it gives up: a filler as long as the whole text (in bytes, so
// never shorter in characters) is written over it first.
void ClearPasswordField(HWND window) {
  HWND field = GetDlgItem(window, IDC_PASSWORD);
  int32_t n = GetWindowTextLengthA(field);
  Text filler;
  char* stars = filler.GetBuffer(n);
  if (stars != nullptr) FillMemory(stars, n, '*');
  filler.ReleaseBuffer();
  SetWindowTextA(field, filler.Str());
  SetWindowTextA(field, "");
}

void ForgetContainerFile(AppState& app) {
  if (!app.container_file.IsEmpty()) RemoveFile(app.container_file);
  app.container_file = Text();
}

// Makes the container file under a fresh name and opens it for writing. The
// placeholder that reserved the name's number goes as soon as the file exists.
HANDLE CreateContainerFile(AppState& app) {
  Text placeholder = DrawTempName();
  app.container_file = ContainerFileNameFor(placeholder);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!app.container_file.IsEmpty())
    file = CreateFileA(app.container_file.Str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (!placeholder.IsEmpty()) RemoveFile(placeholder);
  if (file == INVALID_HANDLE_VALUE) app.container_file = Text();
  return file;
}

void OnDecrypt(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  if (app.worker != INVALID_HANDLE_VALUE) return;  // a run is going on

  char* password = NewPasswordBuffer();
  app.busy = 0;
  app.progress = 0;
  if (password == nullptr) {
    ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    return;
  }
  if (GetDlgItemTextA(window, IDC_PASSWORD, password, kPasswordBufferSize - 1) == 0) {
    ErrorBox(window, LoadText(IDS_WRONG_PASSWORD));
    FreePasswordBuffer(password);
    return;
  }
  if (GetDlgItemTextA(window, IDC_TARGET, app.target_folder, kTargetFolderSize - 1) == 0) {
    FreePasswordBuffer(password);
    ErrorBox(window, LoadText(IDS_BAD_TARGET));
    return;
  }

  ForgetContainerFile(app);
  HANDLE file = CreateContainerFile(app);
  if (file == INVALID_HANDLE_VALUE) {
    FreePasswordBuffer(password);
    ErrorBox(window, LoadText(IDS_TEMP_FILE_FAILED));
    return;
  }

  HWND bar = GetDlgItem(window, IDC_PROGRESS);
  ShowProgressBar(window, true);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(bar, PBM_SETPOS, 0, 0);
  EnableRunControls(window, FALSE);

  // A part written is as bad as nothing: the engine would read a truncated
  // container. The half-written file goes at once rather than at the next Decrypt,
  // which may never come. The controls stay locked, so that only Cancel is left.
  DWORD written = 0;
  BOOL ok = WriteFile(file, ContainerData(app), ContainerLength(app), &written, nullptr);
  CloseHandle(file);
  if (!ok || written == 0 || written != ContainerLength(app)) {
    ForgetContainerFile(app);
    ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    FreePasswordBuffer(password);
    return;
  }

  ClearPasswordField(window);

  // Busy before the thread exists: a Cancel that comes before the worker's first
  // step must stop the run, not close the dialog under it.
  {
    LockHolder hold(app);
    app.busy = 1;
  }
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WorkerThread, password, 0, &thread_id);
  if (thread == nullptr) {
    app.busy = 0;
    ForgetContainerFile(app);
    FreePasswordBuffer(password);
    ShowProgressBar(window, false);
    EnableRunControls(window, TRUE);
    ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    return;
  }
  app.worker = thread;
  SetTimer(window, kPollTimer, kPollPeriodMs, nullptr);
}

void OnTimer(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  if (app.worker == INVALID_HANDLE_VALUE) return;

  DWORD wait = WaitForSingleObject(app.worker, 0);
  {
    LockHolder hold(app);
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(app.progress), 0);
  }
  if (wait != WAIT_OBJECT_0) return;

  KillTimer(window, kPollTimer);
  DWORD code = 0;
  GetExitCodeThread(app.worker, &code);
  CloseHandle(app.worker);
  app.worker = INVALID_HANDLE_VALUE;
  app.cancel = 0;

  int32_t result = static_cast<int32_t>(code);
  if (result == kOk) {
    PlainBox(window, LoadText(IDS_SUCCESS));
    OpenFolderInExplorer(ToInternalForm(Text(app.target_folder)));
    SetPropA(GetParent(window), "killme", reinterpret_cast<HANDLE>(1));
    EndDialog(window, 0);
  } else if (result == kCancelled) {
    EndDialog(window, kCancelled);
  } else if (result == kWrongPassword) {
    PlainBox(window, LoadText(IDS_WRONG_PASSWORD));
    EnableRunControls(window, TRUE);
    ShowProgressBar(window, false);
    // The run emptied the field; the user types the password again.
    SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_PASSWORD)), TRUE);
    app.busy = 0;
  } else {
    ErrorBox(window, ErrorCodeText(result));
    EndDialog(window, result);
  }
}

// The shell's folder browser. A chosen folder fills the target field with a new
// folder in it named after the program; anything else leaves the field as it was.
void OnBrowse(DecryptDialog& dialog) {
  Text title = LoadText(IDS_BROWSE_TITLE);
  char display_name[MAX_PATH] = {};
  BROWSEINFOA browse;
  ZeroMemory(&browse, sizeof browse);
  browse.hwndOwner = dialog.window;
  browse.pszDisplayName = display_name;
  browse.lpszTitle = title.Str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST items = SHBrowseForFolderA(&browse);
  if (items == nullptr) return;
  Text chosen;
  char* buffer = chosen.GetBuffer(MAX_PATH);
  if (buffer != nullptr && !SHGetPathFromIDListA(items, buffer)) buffer[0] = 0;
  chosen.ReleaseBuffer();
  CoTaskMemFree(items);

  if (chosen.IsEmpty()) return;
  Text folder = AddTrailingSeparator(ToInternalForm(chosen));
  if (!FolderExists(folder)) return;
  Text proposal = ProposeTargetFolder(folder, ProgramPath());
  if (!proposal.IsEmpty()) SetDlgItemTextA(dialog.window, IDC_TARGET, proposal.Str());
}

void OnCancel(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  if (app.busy == 0) {
    EndDialog(dialog.window, 0);
    return;
  }
  {
    LockHolder hold(app);
    app.cancel = 1;
  }
  EnableWindow(GetDlgItem(dialog.window, IDCANCEL), FALSE);
}

void OnInitDialog(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  app.busy = 0;
  SetDlgItemTextA(window, IDC_TARGET, app.target_folder);
  SendDlgItemMessageA(window, IDC_TARGET, EM_SETSEL, 0, -1);
  SetFocus(GetDlgItem(window, IDC_PASSWORD));
  ShowProgressBar(window, false);
  dialog.browse_bitmap = static_cast<HBITMAP>(
      LoadImageA(app.instance, MAKEINTRESOURCEA(IDB_BROWSE), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  HGDIOBJ old = reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(window, IDC_BROWSE, BM_SETIMAGE, IMAGE_BITMAP,
                                                             reinterpret_cast<LPARAM>(dialog.browse_bitmap)));
  if (old != nullptr) DeleteObject(old);
}

}  // namespace

INT_PTR ShowDecryptDialog(AppState& app, HWND owner) {
  DecryptDialog dialog;
  dialog.app = &app;
  INT_PTR result = DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_DECRYPT), owner, DecryptDialogProc,
                                   reinterpret_cast<LPARAM>(&dialog));
  if (dialog.browse_bitmap != nullptr) DeleteObject(dialog.browse_bitmap);
  return result;
}

INT_PTR CALLBACK DecryptDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    DecryptDialog* dialog = reinterpret_cast<DecryptDialog*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    dialog->window = window;
    OnInitDialog(*dialog);
    return FALSE;  // the focus stays on the password field
  }
  DecryptDialog* dialog = reinterpret_cast<DecryptDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) != 0) return FALSE;
      switch (LOWORD(wparam)) {
        case IDCANCEL: OnCancel(*dialog); break;
        case IDC_DECRYPT: OnDecrypt(*dialog); break;
        case IDC_BROWSE: OnBrowse(*dialog); break;
        default: return FALSE;
      }
      return TRUE;
    case WM_TIMER:
      OnTimer(*dialog);
      return TRUE;
    case WM_DESTROY:
      ClearPasswordField(window);  // the controls still exist
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace qef
