#pragma once
// Windows only: DLLs that Windows does not keep among its protected (KnownDLLs) ones
// are loaded at run time from System32 by their full path, never through the search
// order, so that a DLL planted beside a program (a Downloads folder) is never loaded.
#include <windows.h>

namespace qef {

// Loads System32\<file_name>; the DLL's own dependencies are looked up in System32
// only where the system offers that. Null when the file is missing or refused.
HMODULE LoadSystemLibrary(const char* file_name);

// The named function of a loaded library as a typed pointer; null when it is missing.
template <typename Fn>
Fn SystemFunction(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace qef
