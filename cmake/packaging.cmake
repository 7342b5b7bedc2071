# Installing qef and packaging it for Debian (CPack's DEB generator). The layout is
# Debian's: the tool in bin/, the Windows stubs it appends archives to in lib/qef/
# (they are data to the tool, never run here, so not in libexec/), the manual page,
# bash completion and documentation in share/. The tool finds its stubs from its own
# place (../lib/qef/), so an install under any prefix works.
#
# The stubs come from the win32 and win64 builds of the same source; a native build
# does not make them. QEF_STUB32 and QEF_STUB64 name them; by default the presets'
# build folders.
set(QEF_STUB32 "${CMAKE_SOURCE_DIR}/build/win32/app/stub.exe" CACHE FILEPATH "32-bit stub to install")
set(QEF_STUB64 "${CMAKE_SOURCE_DIR}/build/win64/app/stub.exe" CACHE FILEPATH "64-bit stub to install")

install(TARGETS qef RUNTIME DESTINATION bin)
# OPTIONAL: an install without the Windows builds still works; `qef pack` then asks for --stub.
install(FILES ${QEF_STUB32} DESTINATION lib/qef RENAME qef-stub.exe OPTIONAL)
install(FILES ${QEF_STUB64} DESTINATION lib/qef RENAME qef-stub64.exe OPTIONAL)

# Debian keeps manual pages and changelogs compressed; -n leaves the name and time out
# of the gzip header, so that the package is the same from build to build.
set(man_gz ${CMAKE_BINARY_DIR}/packaging/qef.1.gz)
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/docs/man/qef.1' > '${man_gz}'"
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/qef.1
  VERBATIM)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/docs/packaging/changelog' > '${changelog_gz}'"
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/packaging/changelog
  VERBATIM)
add_custom_target(qef_packaging_files ALL DEPENDS ${man_gz} ${changelog_gz})

install(FILES ${man_gz} DESTINATION share/man/man1)
install(FILES docs/completion/qef.bash DESTINATION share/bash-completion/completions RENAME qef)
install(FILES README.md docs/design.md docs/packaging/copyright DESTINATION share/doc/qef)
install(FILES ${changelog_gz} DESTINATION share/doc/qef)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qef)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "qef developers <qef@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-decrypting archives and self-extracting Windows programs")
# The long description: CPack puts the summary above it and indents its lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "qef packs files and folders into an encrypted container (AES-128 or Blowfish,
compressed with deflate) or into a self-extracting Windows program, and opens
both on Linux. The recipient of a program runs it on Windows, reads the
author's disclaimer, intro text and picture, chooses a folder, types the
password and gets the files back with their attributes and times.

The package holds the qef tool and the 32-bit and 64-bit Windows stubs it
makes programs from; with osslsigncode installed it also signs them.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS osslsigncode)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
