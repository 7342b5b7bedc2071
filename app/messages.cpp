#include "app/messages.h"

#include <shellapi.h>

#include "app/app_state.h"
#include "app/res/resource.h"

namespace qef {

namespace {

const int kStringSize = 32000;

void Box(HWND owner, const Text& text, UINT flags) {
  MessageBoxA(owner, text.Str(), LoadText(IDS_CAPTION).Str(), flags);
}

}  // namespace

Text LoadText(UINT id) {
  Text text;
  char* buffer = text.GetBuffer(kStringSize);
  if (buffer != nullptr) LoadStringA(App().instance, id, buffer, kStringSize);
  text.ReleaseBuffer();
  return text;
}

void ErrorBox(HWND owner, const Text& text) { Box(owner, text, MB_ICONERROR); }

void PlainBox(HWND owner, const Text& text) { Box(owner, text, MB_OK); }

Text ErrorCodeText(int32_t code) {
  Text text;
  text.Format(LoadText(IDS_ERROR_CODE).Str(), static_cast<int>(code));
  return text;
}

void OpenAddress(const Text& address) {
  ShellExecuteA(nullptr, "open", address.Str(), "", "", SW_SHOWNORMAL);
}

void OpenWebPage(UINT string_id) { OpenAddress(LoadText(string_id)); }

Text WithWindowsLineBreaks(const Text& text) {
  const char* from = text.Str();
  int32_t added = 0;
  for (int32_t i = 0; from[i] != 0; ++i)
    if (from[i] == '\n' && (i == 0 || from[i - 1] != '\r')) ++added;
  if (added == 0) return text;
  Text result;
  char* to = result.GetBuffer(text.GetLength() + added);
  if (to == nullptr) return text;
  for (int32_t i = 0; from[i] != 0; ++i) {
    if (from[i] == '\n' && (i == 0 || from[i - 1] != '\r')) *to++ = '\r';
    *to++ = from[i];
  }
  result.ReleaseBuffer();
  return result;
}

}  // namespace qef
