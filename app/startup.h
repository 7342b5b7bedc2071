#pragma once
// Start-up and shutdown of the stub: the DLL search order, the payload block, the
// default target folder and the sequence of dialogs.
#include <cstdint>

#include "app/app_state.h"

namespace qef {

// Limits the DLL search to System32, so that a DLL planted beside the program (a
// Downloads folder) is never loaded. Must run before anything loads a DLL; the
// program imports at load time only DLLs that Windows itself protects.
void RestrictDllSearch();

// Loads the common controls from System32 and registers the progress bar class.
void LoadCommonControls();

// Finds the payload block at the program's own module base + kPayloadRva. 0; kFailed
// when the image has no section there (a stub with nothing appended); otherwise the
// block parser's code for a block that points outside itself.
int32_t ReadPayloadBlock(AppState& app);

// Start-up, dialogs and shutdown. Always 0: the program has no failure exit.
int RunStub(AppState& app);

}  // namespace qef
