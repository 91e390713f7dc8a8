# Installation of the manual page and the Debian package of the program.
# `cmake --install` puts bin/tilvane, bin/tilvane-census and their pages under
# share/man/man1 below the prefix; `cpack` (run in the build folder) makes tilvane_<version>_amd64.deb
# from the same installation.
include(GNUInstallDirs)

# The manual pages are installed compressed, as Debian keeps manual pages; a
# small script written here compresses each whenever it changes. The census
# explorer and its page belong to the full build only.
set(tilvane_manual_pages tilvane)
if(NOT TILVANE_REDUCED)
  list(APPEND tilvane_manual_pages tilvane-census)
endif()
set(tilvane_gzip_script ${PROJECT_BINARY_DIR}/gzip_manual.cmake)
file(WRITE ${tilvane_gzip_script}
     "file(ARCHIVE_CREATE OUTPUT \"\${OUTPUT}\" PATHS \"\${INPUT}\" FORMAT raw COMPRESSION GZip)\n")
set(tilvane_manuals_gz "")
foreach(page IN LISTS tilvane_manual_pages)
  set(manual ${PROJECT_SOURCE_DIR}/docs/${page}.1)
  set(manual_gz ${PROJECT_BINARY_DIR}/${page}.1.gz)
  add_custom_command(
    OUTPUT ${manual_gz}
    COMMAND ${CMAKE_COMMAND} "-DINPUT=${manual}" "-DOUTPUT=${manual_gz}" -P ${tilvane_gzip_script}
    DEPENDS ${manual}
    COMMENT "Compressing the manual page ${page}.1"
    VERBATIM)
  list(APPEND tilvane_manuals_gz ${manual_gz})
endforeach()
add_custom_target(tilvane_manual ALL DEPENDS ${tilvane_manuals_gz})
install(FILES ${tilvane_manuals_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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
  "into the program. tilvane-census explores census spaces of any size and bound with a "
  "faster decision search, writes the irreducible covering sets it finds with certificates "
  "that tilvane checks, and resumes long runs from checkpoints.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tilvane)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME tilvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tilvane developers")
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The programs link the C and C++ runtime libraries, and tilvane-census
# Open MPI's when built with TILVANE_MPI; dpkg-shlibdeps names their
# packages and versions when it is present.
find_program(TILVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TILVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  if(TILVANE_MPI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libopenmpi3")
  endif()
endif()

include(CPack)
