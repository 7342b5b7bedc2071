// Windows: the one place that loads a DLL by file name.
#include "core/system_library.h"

namespace qef {

HMODULE LoadSystemLibrary(const char* file_name) {
  char path[MAX_PATH + 32];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || lstrlenA(file_name) > 30) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, file_name);
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Systems without the search flags refuse it as an invalid parameter; the full path
  // still keeps the library itself in System32.
  if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) library = LoadLibraryA(path);
  return library;
}

}  // namespace qef
