// Entry point of the self-decrypting program.
#include <windows.h>

#include "app/app_state.h"
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  qef::RestrictDllSearch();
  qef::LoadCommonControls();
  return qef::RunStub(qef::App());
}
