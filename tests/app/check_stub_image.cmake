# Checks the built stub: its image ends at or before the payload address, it carries
# the one-byte "_qmlx_" section holding 1, its manifest declares DPI awareness, and it
# imports at load time only DLLs that Windows protects from planting (KnownDLLs).
# Run with -DSTUB=... -DOBJDUMP=...
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${STUB} OUTPUT_VARIABLE headers RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "objdump cannot read ${STUB}")
endif()

string(REGEX MATCH "SizeOfImage[ \t]+([0-9a-fA-F]+)" _ "${headers}")
math(EXPR image_size "0x${CMAKE_MATCH_1}")
math(EXPR limit "0x35000")
if(image_size GREATER limit)
  math(EXPR over "${image_size} - ${limit}")
  message(FATAL_ERROR "the stub's image is ${image_size} bytes, ${over} past the payload address 0x35000")
endif()

set(known advapi32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 shell32 shlwapi user32)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
foreach(entry ${imports})
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL].*" "\\1" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST known)
    message(FATAL_ERROR "the stub imports ${dll}.dll at load time, which is not a KnownDLL")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -h -s -j _qmlx_ ${STUB} OUTPUT_VARIABLE marker)
if(NOT marker MATCHES "_qmlx_ +00000001 " OR NOT marker MATCHES "Contents of section _qmlx_:\n [0-9a-f]+ 01 ")
  message(FATAL_ERROR "no one-byte \"_qmlx_\" section holding 1:\n${marker}")
endif()
# Declared aware of the system's DPI, so that Windows draws the dialogs sharp above
# 100 % rather than stretching them.
file(READ ${STUB} image HEX)
string(HEX "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>" declared)
string(FIND "${image}" "${declared}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the stub's manifest does not declare system DPI awareness")
endif()
message(STATUS "stub image ${image_size} bytes (limit ${limit}); imports: ${imports}")
