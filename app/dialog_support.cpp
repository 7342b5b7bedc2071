#include "app/dialog_support.h"

#include "app/res/resource.h"

namespace qef {

INT_PTR RunDialog(HINSTANCE instance, int id, HWND owner, DLGPROC procedure, void* state) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, procedure, reinterpret_cast<LPARAM>(state));
}

void SetProgramIcon(HWND window, HINSTANCE instance) {
  SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM))));
}

void SetLongText(HWND field, const Text& text) {
  if (field == nullptr) return;
  SendMessageA(field, EM_SETLIMITTEXT, 0, 0);
  SetWindowTextA(field, ToCrlf(text).Str());
}

bool ReadWindowText(HWND window, char* buffer, int size) {
  if (window == nullptr || size <= 0 || GetWindowTextLengthA(window) >= size) return false;
  return GetWindowTextA(window, buffer, size) > 0;
}

}  // namespace qef
