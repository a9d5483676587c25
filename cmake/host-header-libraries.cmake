# CLI11 is header-only: a cross build uses the building machine's copy
# (Debian's libcli11-dev). Its own package would put the host's whole
# /usr/include on the target compiler's path, so CLI11::CLI11 is made here
# from a folder that holds only CLI11's headers.
find_path(VELTRA_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT VELTRA_CLI11_INCLUDE)
  message(FATAL_ERROR "CLI11's headers (CLI/CLI.hpp) not found on the building machine (Debian: libcli11-dev)")
endif()
set(dir ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${dir}/include ${dir}/cmake)
file(CREATE_LINK ${VELTRA_CLI11_INCLUDE}/CLI ${dir}/include/CLI SYMBOLIC)
file(WRITE ${dir}/cmake/CLI11Config.cmake "\
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${dir}/include\")
endif()
set(CLI11_FOUND TRUE)
")
set(CLI11_DIR ${dir}/cmake CACHE PATH "CLI11 for the cross build" FORCE)
unset(dir)
