# `make windows-package`: an NSIS installer and a .zip of everything the
# Windows build installs (both programs, the Qt and MinGW-w64 DLLs and the
# Qt plugins they load), named veltra-utility-VERSION-win64.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME veltra-utility)
set(CPACK_PACKAGE_VENDOR "Veltra")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control panel for a Veltra shutter controller")
set(CPACK_PACKAGE_FILE_NAME veltra-utility-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Veltra Utility")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Veltra Utility")
set(CPACK_STRIP_FILES ON)

# The Start-menu shortcut "Veltra Utility" to the panel; an uninstaller that
# Windows lists under installed programs.
set(CPACK_PACKAGE_EXECUTABLES veltra-utility "Veltra Utility")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${CMAKE_INSTALL_BINDIR})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Veltra Utility")
set(CPACK_NSIS_PACKAGE_NAME "Veltra Utility")
set(CPACK_NSIS_INSTALLED_ICON_NAME "${CMAKE_INSTALL_BINDIR}\\\\veltra-utility.exe")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/veltra.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/veltra.ico)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_CONTACT "maintainers@veltra.example")
# A 64-bit installer for 64-bit programs (NSIS makes a 32-bit one unless
# told; Wine without its 32-bit part cannot run that).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The uninstaller also takes away the vendor's registry key once it is
# empty (CPack's own uninstaller leaves it). These lines run before CPack's
# uninstaller deletes the program's key, so they delete it first.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
  "DeleteRegKey SHCTX 'Software\\\\Veltra\\\\Veltra Utility'
  DeleteRegKey /ifempty SHCTX 'Software\\\\Veltra'")
include(CPack)
