#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/disclaimer_dialog.h"
#include "app/hyperlink.h"
#include "app/intro_dialog.h"
#include "app/messages.h"
#include "app/res/resource.h"
#include "app/target_folder.h"
#include "core/heap.h"
#include "core/result.h"
#include "core/system_library.h"
#include "fs/fs.h"
#include "sfx/pe_image.h"

namespace qef {

void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Systems without that call still let us drop the current folder from the search.
  auto set_dll_directory =
      reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (set_dll_directory != nullptr) set_dll_directory("");
}

void LoadCommonControls() {
  HMODULE controls = LoadSystemLibrary("comctl32.dll");
  if (controls == nullptr) return;
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = SystemFunction<InitFn>(controls, "InitCommonControlsEx");
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_PROGRESS_CLASS};
  if (init != nullptr) init(&classes);
}

int32_t ReadPayloadBlock(AppState& app) {
  const unsigned char* block = nullptr;
  uint32_t size = 0;
  int32_t r = FindSectionInMemory(reinterpret_cast<const unsigned char*>(app.instance), kPayloadRva, &block, &size);
  if (r != kOk) return kFailed;
  r = ParsePayloadBlock(block, size, app.payload);
  if (r != kOk) return r;
  app.block_present = app.payload.full_header ? 1 : 0;
  if (app.block_present) {
    app.intro_dialog = IDD_INTRO_BLOCK;
    RegisterHyperlinkClass(app.instance);
  }
  return kOk;
}

namespace {

// The disclaimer, when there is one, then the intro dialog. A declined disclaimer
// ends the program without any other dialog.
void ShowDialogs(AppState& app) {
  if (app.block_present && !app.payload.disclaimer.IsEmpty() && ShowDisclaimerDialog(app) != 1) return;
  ShowIntroDialog(app);
}

}  // namespace

int RunStub(AppState& app) {
  app.intro_dialog = IDD_INTRO;
  app.instance = GetModuleHandleA(nullptr);
  CoInitialize(nullptr);
  app.target_folder = static_cast<char*>(HeapBlockAlloc(kTargetFolderSize));
  if (app.target_folder != nullptr) {
    ZeroMemory(app.target_folder, kTargetFolderSize);
    lstrcpynA(app.target_folder, DefaultTargetFolder().Str(), kTargetFolderSize);
    app.proposed_target = Text(app.target_folder);

    int32_t r = ReadPayloadBlock(app);
    if (r == kFailed)
      ErrorBox(nullptr, LoadText(IDS_NO_DATA));
    else if (r != kOk)
      ErrorBox(nullptr, ErrorCodeText(r));
    else
      ShowDialogs(app);
  }

  // Container files that could not be removed when their run ended get one more try.
  if (!app.container_file.IsEmpty()) RemoveFile(app.container_file);
  for (const Text& stale : app.stale_files) RemoveFile(stale);
  HeapBlockFree(app.target_folder);
  app.target_folder = nullptr;
  if (app.picture != nullptr) DeleteObject(app.picture);
  app.picture = nullptr;
  CoUninitialize();
  return 0;
}

}  // namespace qef
