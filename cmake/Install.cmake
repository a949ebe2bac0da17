# make install: the launcher as the "tarvikon" command, the emulator itself in
# libexec (the launcher starts it), the manual page and the desktop entry.
include(GNUInstallDirs)

set(TARVIKON_PROGRAM_DIR "${CMAKE_INSTALL_LIBEXECDIR}/tarvikon")
install(TARGETS tarvikon RUNTIME DESTINATION "${TARVIKON_PROGRAM_DIR}")

# The installed launcher finds the binary relative to its own directory, so the
# tree can be staged with DESTDIR or moved as a whole.
file(RELATIVE_PATH TARVIKON_INSTALLED_BIN
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBEXECDIR}/tarvikon/tarvikon")
configure_file(scripts/tarvikon "${CMAKE_BINARY_DIR}/install/tarvikon" @ONLY)
install(PROGRAMS "${CMAKE_BINARY_DIR}/install/tarvikon" DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES doc/tarvikon.6 DESTINATION "${CMAKE_INSTALL_MANDIR}/man6")
install(FILES doc/tarvikon.desktop DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
