# Installing the host program and packaging it for Debian.
#
# `cmake --install` puts the program and its resource library together in
# /usr/lib/pfmsetup/, with /usr/bin/pfmsetup a symbolic link to the
# program. The program looks for pfmres.dll first in its own folder, which
# it takes from /proc/self/exe, the link resolved: the library beside the
# real file is found whichever way the program is started, and no install
# location needs compiling in. The manual page goes to
# /usr/share/man/man1/pfmsetup.1.gz, the package's copyright and changelog
# to /usr/share/doc/pfmsetup/.
#
# `cpack` (in the build folder) makes pfmsetup_<version>_<arch>.deb: its
# library dependencies are computed from the binary (dpkg-shlibdeps, from
# dpkg-dev), and mtools, which the program runs for Windows disk images, is
# recommended. scripts/package-test.sh builds, checks (lintian), installs,
# runs and removes it.
include_guard(GLOBAL)

set(PFM_PACKAGE_VERSION ${PROJECT_VERSION})
set(PFM_INSTALL_LIBDIR lib/pfmsetup)

install(TARGETS pfmsetup RUNTIME DESTINATION ${PFM_INSTALL_LIBDIR})
install(FILES ${PFMRES_DLL} DESTINATION ${PFM_INSTALL_LIBDIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The link in bin/, made in the build folder and installed as a link.
set(_pfm_stage ${CMAKE_BINARY_DIR}/install-stage)
file(MAKE_DIRECTORY ${_pfm_stage})
file(CREATE_LINK ../${PFM_INSTALL_LIBDIR}/pfmsetup ${_pfm_stage}/pfmsetup SYMBOLIC)
install(FILES ${_pfm_stage}/pfmsetup DESTINATION bin)

# The manual page and the changelog, compressed as Debian keeps them
# (gzip -9n: no name or time stamp, so the same sources give the same bytes).
find_program(PFM_GZIP gzip REQUIRED)
set(_pfm_man ${_pfm_stage}/pfmsetup.1.gz)
set(_pfm_changelog ${_pfm_stage}/changelog.gz)
add_custom_command(
  OUTPUT ${_pfm_man} ${_pfm_changelog}
  COMMAND sh -c "'${PFM_GZIP}' -9n -c '${PROJECT_SOURCE_DIR}/man/pfmsetup.1' > '${_pfm_man}'"
  COMMAND sh -c "'${PFM_GZIP}' -9n -c '${PROJECT_SOURCE_DIR}/packaging/changelog' > '${_pfm_changelog}'"
  DEPENDS ${PROJECT_SOURCE_DIR}/man/pfmsetup.1 ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the manual page and the changelog"
  VERBATIM)
add_custom_target(pfm_package_docs ALL DEPENDS ${_pfm_man} ${_pfm_changelog})
install(FILES ${_pfm_man} DESTINATION share/man/man1)
install(FILES ${_pfm_changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/pfmsetup)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pfmsetup)
set(CPACK_PACKAGE_VERSION ${PFM_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "pfmsetup maintainers <maintainers@users.noreply.c-seed-df09be22.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "font setup of a PostScript printer kit for Windows 9x installations")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "pfmsetup registers the soft fonts of a PostScript printer kit, and the
kit's TrueType substitutions, in the system profile (win.ini) of an
offline Windows 95, 98 or Me installation kept in a Wine prefix or in a
folder that holds its boot drive. It asks once for confirmation, with a
dialog box on the terminal or a line on standard input, and reports the
outcome the same way.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Recommended, not required: the program runs on Wine prefixes and drive
# folders without it; only Windows disk images need it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS mtools)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
