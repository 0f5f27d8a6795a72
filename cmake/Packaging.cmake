# Installation in the usual places (programs, man pages, bash completion,
# examples) and the Debian package built from it by CPack:
#   cmake --install build [--prefix DIR]
#   scripts/package                      (or: cpack --config build/CPackConfig.cmake)

include(GNUInstallDirs)

install(TARGETS lousa lousa-runner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages: the version is filled in, then compressed as Debian keeps them.
find_program(LOUSA_GZIP gzip REQUIRED)
set(LOUSA_MAN_PAGES)
foreach(page lousa lousa-runner)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND ${LOUSA_GZIP} -9nkf ${CMAKE_BINARY_DIR}/man/${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1
    COMMENT "Compressing the man page ${page}(1)")
  list(APPEND LOUSA_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man-pages ALL DEPENDS ${LOUSA_MAN_PAGES})
install(FILES ${LOUSA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${CMAKE_SOURCE_DIR}/scripts/completion/lousa.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lousa)
install(FILES ${CMAKE_SOURCE_DIR}/examples/demo.lst ${CMAKE_SOURCE_DIR}/examples/showcase.lst
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lousa)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lousa maintainers <lousa@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "runs compiled classroom Pascal programs on Linux")
set(CPACK_PACKAGE_DESCRIPTION
  "lousa-runner runs the programs of a classroom Pascal environment, packed as executables; lousa assembles, disassembles, packs, inspects and runs them, and turns a classroom .exe into a Linux executable in one step.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
# The library dependencies are read from the binaries where dpkg-shlibdeps
# (dpkg-dev) and file are there to do it; otherwise the C++ runtime is named.
find_program(LOUSA_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(LOUSA_FILE file)
if(LOUSA_DPKG_SHLIBDEPS AND LOUSA_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
include(CPack)
