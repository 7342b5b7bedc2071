# Packs a file into a program with qef.exe (under Wine) and the minimal stub, then
# checks with objdump that the payload section starts at 0x35000 past the image base
# (0x400000 for a 32-bit program, 0x140000000 for a 64-bit one).
# Run with -DQEF=... -DSTUB=... -DOBJDUMP=... -DRUN=<wine runner> -DRUN_KIND=--win32|--win64 -DWORK=<folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/file.txt "a file\n")
file(WRITE ${WORK}/password.txt "correct horse battery staple\n")
execute_process(COMMAND ${RUN} ${RUN_KIND} ${QEF} pack file.txt -o program.exe --stub ${STUB} --password-file password.txt -q
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE r ERROR_VARIABLE err)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "qef pack failed (${r}): ${err}")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${WORK}/program.exe OUTPUT_VARIABLE sections RESULT_VARIABLE r)
if(NOT r EQUAL 0 OR NOT sections MATCHES "\\.payload +[0-9a-f]+ +(00435000 +00435000|0000000140035000 +0000000140035000)")
  message(FATAL_ERROR "no payload section at 0x35000 past the image base:\n${sections}")
endif()
string(REGEX MATCH "[^\n]*\\.payload[^\n]*" line "${sections}")
message(STATUS "${line}")
