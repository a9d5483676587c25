# `make package`: a Debian package of everything `cmake --install` installs,
# laid out and described as Debian's policy asks (lintian-clean).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltra-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A Debian revision: the package is made from the upstream release, and its
# changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(VELTRA_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a Veltra shutter controller")
set(CPACK_PACKAGE_DESCRIPTION "Veltra Utility drives a Veltra shutter controller over an RS-232 line:
shutter, mode, trigger and sync, timed cycles, downloading the whole panel
into the controller, and .cfg files. Includes veltractl for scripts, the
veltra Python module, and veltra-sim, a simulated controller on a
pseudo-terminal. The Tango device server is the package veltra-tango.
.
License: MIT (SPDX-License-Identifier: MIT)")
set(CPACK_PACKAGE_CONTACT "Veltra Utility maintainers <maintainers@veltra.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared-library dependencies come from dpkg-shlibdeps; Qt's platform plugins
# are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
if(VELTRA_PYTHON_VERSION)
  # The native module is built for one Python (its file name says which),
  # as dh_python3 would write it.
  string(REPLACE "." ";" pyv ${VELTRA_PYTHON_VERSION})
  list(GET pyv 0 pymajor)
  list(GET pyv 1 pyminor)
  math(EXPR pynext "${pyminor} + 1")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", python3 (>= ${VELTRA_PYTHON_VERSION}~), python3 (<< ${pymajor}.${pynext})")
  # Byte-code compiled on install, removed on removal (py3compile, py3clean).
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
# The Tango device server, a package of its own built from the same tree.
if(VELTRA_TANGO_SERVER)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "veltra-tango")
endif()
set(CPACK_STRIP_FILES ON)

# The copyright file and changelog.Debian.gz, and the Python package moved
# where Debian's Python looks for it, are added to the staged tree.
execute_process(COMMAND date -u -R -d "${VELTRA_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE VELTRA_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
               ${PROJECT_BINARY_DIR}/packaging/debian/changelog @ONLY)
set(CPACK_VELTRA_DEBIAN_DIR ${PROJECT_BINARY_DIR}/packaging/debian)
set(CPACK_VELTRA_COPYRIGHT ${PROJECT_SOURCE_DIR}/packaging/debian/copyright)
set(CPACK_VELTRA_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb-stage.cmake)
include(CPack)
# libveltra's own two packages, from the same build (cpack --config ...-libveltra.cmake).
configure_file(${PROJECT_SOURCE_DIR}/packaging/cpack-libveltra.cmake.in ${PROJECT_BINARY_DIR}/CPackConfig-libveltra.cmake @ONLY)
# The Tango device server's package (cpack --config ...-tango.cmake).
if(VELTRA_TANGO_SERVER)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/cpack-tango.cmake.in ${PROJECT_BINARY_DIR}/CPackConfig-tango.cmake @ONLY)
endif()
