# Cross build for 32-bit Windows with mingw-w64 (win32 thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(wine_kind win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
