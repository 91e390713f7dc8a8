# Installation of the manual page and the Debian package of the program.
# `cmake --install` puts bin/tilvane and share/man/man1/tilvane.1.gz under the
# prefix; `cpack` (run in the build folder) makes tilvane_<version>_amd64.deb
# from the same installation.
include(GNUInstallDirs)

# The manual page is installed compressed, as Debian keeps manual pages; a
# small script written here compresses it whenever it changes.
set(tilvane_manual ${PROJECT_SOURCE_DIR}/docs/tilvane.1)
set(tilvane_manual_gz ${PROJECT_BINARY_DIR}/tilvane.1.gz)
set(tilvane_gzip_script ${PROJECT_BINARY_DIR}/gzip_manual.cmake)
file(WRITE ${tilvane_gzip_script}
     "file(ARCHIVE_CREATE OUTPUT \"\${OUTPUT}\" PATHS \"\${INPUT}\" FORMAT raw COMPRESSION GZip)\n")
add_custom_command(
  OUTPUT ${tilvane_manual_gz}
  COMMAND ${CMAKE_COMMAND} "-DINPUT=${tilvane_manual}" "-DOUTPUT=${tilvane_manual_gz}"
          -P ${tilvane_gzip_script}
  DEPENDS ${tilvane_manual}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(tilvane_manual ALL DEPENDS ${tilvane_manual_gz})
install(FILES ${tilvane_manual_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tilvane)
set(CPACK_PACKAGE_VENDOR "tilvane developers")
set(CPACK_PACKAGE_CONTACT "tilvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "verifier for covering systems of congruences with distinct moduli")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "tilvane checks that a file of congruences is an irreducible covering system: the "
  "displayed classes cover every integer, and no one-modulus deletion admits a covering "
  "choice of residues, decided by exhaustive bounded search. It also recomputes censuses "
  "of irreducible covering systems for small sizes and compares them with lists compiled "
  "into the program.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tilvane)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME tilvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tilvane developers")
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The program links only the C and C++ runtime libraries; dpkg-shlibdeps
# names their packages and versions when it is present.
find_program(TILVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TILVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

include(CPack)
