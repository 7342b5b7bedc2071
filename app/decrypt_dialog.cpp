#include "app/decrypt_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include "app/dialog_support.h"
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
// The poll period once the worker has said that it ends: the next tick comes within a
// moment.
const UINT kEndingPollMs = USER_TIMER_MINIMUM;

// The controls that are locked while a run is going on; Cancel is never among them.
const int kRunControls[] = {IDC_DECRYPT, IDC_BROWSE, IDC_TARGET, IDC_PASSWORD};

void EnableRunControls(HWND window, BOOL enable) {
  for (int id : kRunControls) EnableWindow(GetDlgItem(window, id), enable);
}

void ShowProgressBar(HWND window, bool show) {
  ShowWindow(GetDlgItem(window, IDC_PROGRESS), show ? SW_SHOWNORMAL : SW_HIDE);
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

// Removes the last run's container file. One that cannot go yet keeps its name for
// the retry at shutdown.
void ForgetContainerFile(AppState& app) {
  if (app.container_file.IsEmpty()) return;
  if (RemoveFile(app.container_file) != kOk && FileExists(app.container_file))
    app.stale_files.push_back(app.container_file);
  app.container_file = Text();
}

// Makes the container file under a fresh name and opens it for writing. The
// placeholder that reserved the name's number goes as soon as the file exists.
HANDLE CreateContainerFile(AppState& app) {
  Text placeholder = DrawTempName();
  app.container_file = ContainerFileNameFor(placeholder);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (!app.container_file.IsEmpty()) file = reinterpret_cast<HANDLE>(CreateScratchFile(app.container_file));
  if (!placeholder.IsEmpty()) RemoveFile(placeholder);
  if (file == INVALID_HANDLE_VALUE) app.container_file = Text();
  return file;
}

// The fields are limited to what is read from them, but a text can be set around the
// limit: one that does not fit whole is refused, never cut.
bool ReadField(HWND window, int id, char* buffer, int size) {
  return ReadWindowText(GetDlgItem(window, id), buffer, size);
}

void FocusControl(HWND window, int id) {
  SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, id)), TRUE);
}

// Back to the state before Decrypt, for another try.
void EndRun(HWND window) {
  EnableRunControls(window, TRUE);
  EnableWindow(GetDlgItem(window, IDCANCEL), TRUE);
  ShowProgressBar(window, false);
  // The run emptied the field; the user types the password again.
  FocusControl(window, IDC_PASSWORD);
}

void OnDecrypt(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  if (app.worker != INVALID_HANDLE_VALUE) return;  // a run is going on

  SecretBlock password(kPasswordBufferSize);
  app.busy = 0;
  app.cancel = 0;
  app.progress = 0;
  if (password.Data() == nullptr) {
    ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    return;
  }
  // No program is made with a longer password than the field takes: a longer one is
  // not the password.
  if (!ReadField(window, IDC_PASSWORD, password.Data(), kPasswordBufferSize)) {
    ErrorBox(window, LoadText(IDS_WRONG_PASSWORD));
    return;
  }
  if (!ReadField(window, IDC_TARGET, app.target_folder, kTargetFolderSize)) {
    ErrorBox(window, LoadText(IDS_BAD_TARGET));
    return;
  }

  ForgetContainerFile(app);
  HANDLE file = CreateContainerFile(app);
  if (file == INVALID_HANDLE_VALUE) {
    ErrorBox(window, LoadText(IDS_TEMP_FILE_FAILED));
    return;
  }

  HWND bar = GetDlgItem(window, IDC_PROGRESS);
  ShowProgressBar(window, true);
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(bar, PBM_SETPOS, 0, 0);
  // The focus goes to Cancel before the control that has it is disabled: a disabled
  // control keeps the focus, and Esc would reach nothing for the whole run.
  FocusControl(window, IDCANCEL);
  EnableRunControls(window, FALSE);
  ClearPasswordField(window);

  // Busy before the thread exists: a Cancel that comes before the worker's first
  // step must stop the run, not close the dialog under it.
  {
    LockHolder hold(app);
    app.busy = 1;
  }
  app.container_out = file;
  app.container_write = kOk;
  ++app.run;
  app.worker_done_window = window;
  DWORD thread_id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WorkerThread, password.Data(), 0, &thread_id);
  if (thread == nullptr) {
    app.busy = 0;
    CloseHandle(app.container_out);
    app.container_out = INVALID_HANDLE_VALUE;
    ForgetContainerFile(app);
    EndRun(window);
    ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    return;
  }
  password.Release();  // the worker wipes and frees it
  app.worker = thread;
  SetTimer(window, kPollTimer, kPollPeriodMs, nullptr);
}

void OnTimer(DecryptDialog& dialog) {
  AppState& app = *dialog.app;
  HWND window = dialog.window;
  if (app.worker == INVALID_HANDLE_VALUE) return;

  DWORD wait = WaitForSingleObject(app.worker, 0);
  LONG progress = 0;
  {
    LockHolder hold(app);
    progress = app.progress;
  }
  SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progress), 0);
  if (wait != WAIT_OBJECT_0) return;

  KillTimer(window, kPollTimer);
  // Success only when the worker is known to have said so.
  DWORD code = kFailed;
  if (!GetExitCodeThread(app.worker, &code)) code = kFailed;
  CloseHandle(app.worker);
  app.worker = INVALID_HANDLE_VALUE;
  bool cancel_asked = app.cancel != 0;
  app.cancel = 0;

  int32_t result = static_cast<int32_t>(code);
  // The engine looks at the cancel only between its steps: a run may end with another
  // code (a wrong password, say) after the user asked it to stop. The user asked.
  if (result != kOk && cancel_asked) result = kCancelled;
  if (result == kOk) {
    PlainBox(window, SuccessText(app.other_spelling));
    OpenFolderInExplorer(ToInternalForm(Text(app.target_folder)));
    SetPropA(GetParent(window), "killme", reinterpret_cast<HANDLE>(1));
    EndDialog(window, 0);
  } else if (result == kCancelled) {
    EndDialog(window, kCancelled);
  } else if (result == kWrongPassword || app.container_write != kOk) {
    if (result == kWrongPassword)
      PlainBox(window, LoadText(IDS_WRONG_PASSWORD));
    else
      ErrorBox(window, LoadText(IDS_PREPARE_FAILED));
    EndRun(window);
    app.busy = 0;
  } else {
    ErrorBox(window, FailureText(result, app.failure));
    EndDialog(window, result);
  }
}

// The worker of the current run is ending: the tick that reports its end is brought
// forward instead of waited for. The outcome is still shown by a tick, not here: a
// timer message comes only when no input waits, so a Cancel the user gave before the
// outcome showed is still handled first, as it always was.
void OnWorkerEnded(DecryptDialog& dialog, LONG run) {
  AppState& app = *dialog.app;
  if (run == app.run && app.worker != INVALID_HANDLE_VALUE) SetTimer(dialog.window, kPollTimer, kEndingPollMs, nullptr);
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
  CentreOver(window, GetWindow(window, GW_OWNER));
  // The fields take no more than is read from them.
  SendDlgItemMessageA(window, IDC_TARGET, EM_LIMITTEXT, kTargetFolderSize - 1, 0);
  SendDlgItemMessageA(window, IDC_PASSWORD, EM_LIMITTEXT, kPasswordBufferSize - 1, 0);
  // The password field's storage is grown to the whole limit before anything is typed:
  // an edit control grows its storage as text is typed and frees the smaller block,
  // with the start of the password in it, unwiped; grown once, it keeps its block.
  char filler[kPasswordBufferSize];
  FillMemory(filler, kPasswordBufferSize - 1, '*');
  filler[kPasswordBufferSize - 1] = 0;
  SetDlgItemTextA(window, IDC_PASSWORD, filler);
  SetDlgItemTextA(window, IDC_PASSWORD, "");
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
  INT_PTR result = RunDialog(app.instance, IDD_DECRYPT, owner, DecryptDialogProc, &dialog);
  if (dialog.browse_bitmap != nullptr) DeleteObject(dialog.browse_bitmap);
  return result;
}

INT_PTR CALLBACK DecryptDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    OnInitDialog(*BindDialogState<DecryptDialog>(window, lparam));
    return FALSE;  // the focus stays on the password field
  }
  DecryptDialog* dialog = DialogState<DecryptDialog>(window);
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
    case WM_TIMER: OnTimer(*dialog); return TRUE;
    case kWorkerEnded: OnWorkerEnded(*dialog, static_cast<LONG>(wparam)); return TRUE;
    case WM_DESTROY:
      ClearPasswordField(window);  // the controls still exist
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace qef
