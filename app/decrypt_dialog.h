#pragma once
// The decrypt dialog (103): target folder, password, progress bar. Decrypt opens the
// container file, takes the password out of its field and starts the worker thread,
// which fills the file and extracts; a 100 ms timer polls the worker and shows the
// outcome; Cancel asks a running worker to stop, or closes the dialog. The dialog
// opens centred over its owner.
#include <windows.h>

#include "app/app_state.h"

namespace qef {

struct DecryptDialog {
  AppState* app = nullptr;
  HWND window = nullptr;
  HBITMAP browse_bitmap = nullptr;  // the browse button's picture, freed with the dialog
};

// Shows the dialog modally, owned by `owner`. Ends with 0 after a success or a plain
// Cancel, 40 after a cancelled run, or the engine's error code.
INT_PTR ShowDecryptDialog(AppState& app, HWND owner);

INT_PTR CALLBACK DecryptDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace qef
