#pragma once
// Texts from the string table, message boxes and web pages. Every text the user sees
// comes from the resources, in the language the system's resource loader picks.
#include <windows.h>

#include "core/error.h"
#include "core/text.h"

namespace qef {

// A string of the program's table; the empty text for a missing id.
Text LoadText(UINT id);
// Moves a top-level window so that it is centred over `over`, kept inside the work
// area of the monitor `over` is on. Nothing happens without `over`.
void CentreOver(HWND window, HWND over);
// The message boxes open centred over their owner, the dialog that shows them.
// A message box with the caption string and the error icon.
void ErrorBox(HWND owner, const Text& text);
// A message box with the caption string, an OK button and no icon.
void PlainBox(HWND owner, const Text& text);
// String IDS_SUCCESS; when later files replaced files of the run under another
// spelling of their names, IDS_OTHER_SPELLING follows with their number.
Text SuccessText(uint32_t other_spelling);
// String IDS_ERROR_CODE with the code in place of its %i.
Text ErrorCodeText(int32_t code);
// The same, followed by the item the failure was about and, where the system gave them,
// its own words (in the system's language, as the texts are): "data\report.pdf: Access
// denied". The item's path is relative to the target folder.
Text FailureText(int32_t code, const ErrorInfo& failure);
// Opens an address with the shell; a missing browser or network is not our concern.
void OpenAddress(const Text& address);
void OpenWebPage(UINT string_id);

}  // namespace qef
