# GoogleTest for a cross build: Debian's libgtest-dev holds Linux libraries
# only, so GoogleTest and GoogleMock are built for the target from Debian's
# sources in /usr/src/googletest.
set(VELTRA_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
if(NOT EXISTS ${VELTRA_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${VELTRA_GOOGLETEST_SOURCE} (Debian: googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# Its own build defines the GTest:: names.
add_subdirectory(${VELTRA_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
