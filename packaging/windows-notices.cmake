# What the Windows installer and zip carry beside the programs: the README
# (with its screenshot), the MIT licence, and in licenses\ the notices of what
# is shipped with them. Qt is LGPL-3.0: its notice and the LGPL's and GPL's
# texts go with its DLLs. The cross build takes the DLLs' copyright files
# from the Debian packages it builds with: Qt's sources were Debian's (see
# windows/Qt.txt), CLI11 (inside veltractl.exe) and the MinGW-w64 runtime
# DLLs are Debian's own.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/panel.png DESTINATION docs)
install(FILES windows/Qt.txt windows/LGPL-3.0.txt windows/GPL-3.0.txt windows/build-qt-mingw.sh DESTINATION licenses)

set(debian_notices
  "libqt6core6|Qt-copyright.txt"
  "libqt6serialport6|QtSerialPort-copyright.txt")
if(CMAKE_CROSSCOMPILING)
  list(APPEND debian_notices
    "libcli11-dev|CLI11-copyright.txt"
    "gcc-mingw-w64-x86-64-posix-runtime|MinGW-w64-GCC-runtime-copyright.txt"
    "mingw-w64-x86-64-dev|MinGW-w64-winpthreads-copyright.txt")
endif()
foreach(entry IN LISTS debian_notices)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 package)
  list(GET entry 1 name)
  set(source /usr/share/doc/${package}/copyright)
  if(EXISTS ${source})
    install(FILES ${source} DESTINATION licenses RENAME ${name})
  else()
    message(WARNING "${source} is missing (Debian package ${package}): the Windows packages will lack licenses/${name}")
  endif()
endforeach()
