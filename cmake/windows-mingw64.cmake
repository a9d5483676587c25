# Cross toolchain for the Windows build (`cmake --preset windows`): Debian's
# MinGW-w64 g++ with posix threads for x86_64 Windows, Qt 6 for Windows under
# VELTRA_QT_WINDOWS (unpacked by scripts/windows-qt), Debian's own Qt host
# tools (moc, rcc, uic) and Wine to run what is built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VELTRA_QT_WINDOWS /opt/qt6-mingw-6.4.2 CACHE PATH "Qt 6 built for x86_64 Windows with MinGW-w64")

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR /usr/bin/x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB /usr/bin/x86_64-w64-mingw32-ranlib)

# Libraries, headers and packages for the target only; programs (help2man,
# wine, makensis) and Qt's host tools from the building machine.
set(CMAKE_FIND_ROOT_PATH ${VELTRA_QT_WINDOWS} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(PREPEND CMAKE_PREFIX_PATH ${VELTRA_QT_WINDOWS}/lib/cmake)
set(QT_HOST_PATH /usr CACHE PATH "Where Qt's host tools (moc, rcc, uic) are")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Their CMake packages")

# CTest runs the Windows programs under Wine, in the build folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine)
