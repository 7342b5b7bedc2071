#pragma once
// The intro dialog: the generic one (101), or the one that shows the payload block's
// picture, info text and link (105). It opens the decrypt dialog on request and
// closes itself after a successful run.
#include <windows.h>

#include "app/app_state.h"

namespace qef {

struct IntroDialog {
  AppState* app = nullptr;
  HWND window = nullptr;
};

// Shows app.intro_dialog modally without an owner; answers the dialog's end value.
INT_PTR ShowIntroDialog(AppState& app);

INT_PTR CALLBACK IntroDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace qef
