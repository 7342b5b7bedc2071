#pragma once
// What the stub's dialogs share: running one modally with the small struct it works
// on, finding that struct again in its procedure, the program's icon, long texts in
// multi-line fields and reading a field's text into a buffer.
#include <windows.h>

#include "core/text.h"

namespace qef {

// Runs the dialog resource `id` modally; `state` reaches the procedure's
// WM_INITDIALOG as its lparam. Answers the dialog's end value.
INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, void* state);

// In WM_INITDIALOG: keeps the dialog's struct (the lparam) with the window, sets the
// struct's `window` and answers it.
template <class State>
State* BindDialogState(HWND window, LPARAM lparam) {
  State* state = reinterpret_cast<State*>(lparam);
  SetWindowLongPtrA(window, DWLP_USER, lparam);
  state->window = window;
  return state;
}

// The struct BindDialogState kept; null for messages before WM_INITDIALOG.
template <class State>
State* DialogState(HWND window) {
  return reinterpret_cast<State*>(GetWindowLongPtrA(window, DWLP_USER));
}

// The program's icon on the dialog's title bar and task bar button.
void SetProgramIcon(HWND window, HINSTANCE instance);

// Puts a text of any length into a multi-line edit field (whose default limit would
// cut a long one), every line end as "\r\n".
void SetLongText(HWND field, const Text& text);

// The window's text into `buffer` of `size` bytes, terminating zero included: true
// when it fits whole; false for an empty text and for one that holds more, which a
// cut read would silently shorten.
bool ReadWindowText(HWND window, char* buffer, int size);

}  // namespace qef
