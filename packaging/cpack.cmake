# `make package`: a Debian package of everything `cmake --install` installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltra-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a Veltra shutter controller")
set(CPACK_PACKAGE_DESCRIPTION "Veltra Utility drives a Veltra shutter controller over an RS-232 line:
shutter, mode, trigger and sync, timed cycles, downloading the whole panel
into the controller, and .cfg files. Includes veltra-sim, a simulated
controller on a pseudo-terminal.")
set(CPACK_PACKAGE_CONTACT "Veltra Utility maintainers <maintainers@veltra.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Shared-library dependencies come from dpkg-shlibdeps; Qt's platform plugins
# are loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
